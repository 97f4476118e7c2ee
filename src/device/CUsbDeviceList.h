// A snapshot of the devices the driver lists, from which the set-up reads the
// serial string of the first one.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "device/D2xxDriver.h"

namespace tamix {

class CUsbDeviceList {
  public:
    static constexpr uint32_t kMaxEntries = 256;

    CUsbDeviceList(D2xxDriver& driver, bool refresh);

    // 0, or -1 when the driver cannot build its list. More than 256 devices
    // leave `count` at 256 and the entries empty.
    int Refresh();
    // Copies entry `index` when it exists; leaves the places untouched otherwise.
    // Returns 0 either way. `serial` and `description` are NUL-terminated.
    int GetEntry(uint32_t index, uint32_t* id, std::span<char> serial,
                 std::span<char> description) const;

    uint32_t count() const { return count_; }
    int32_t status() const { return status_; }

  private:
    D2xxDriver& driver_;
    int32_t status_ = 0;
    uint32_t count_ = 0;
    std::array<DeviceInfoNode, kMaxEntries> entries_{};
};

}  // namespace tamix
