#include "device/CUsbDeviceList.h"

#include <cstring>
#include <string_view>

#include "base/Utf8Text.h"

namespace tamix {

CUsbDeviceList::CUsbDeviceList(D2xxDriver& driver, bool refresh) : driver_(driver) {
    if (refresh) Refresh();
}

int CUsbDeviceList::Refresh() {
    uint32_t n = 0;
    const FtStatus status = driver_.CreateDeviceInfoList(&n);
    if (status != FT_OK) {
        status_ = static_cast<int32_t>(status);
        return -1;
    }
    count_ = n;
    if (count_ > kMaxEntries) {
        count_ = kMaxEntries;
        return 0;
    }
    uint32_t fetched = count_;
    status_ = static_cast<int32_t>(driver_.GetDeviceInfoList(entries_.data(), &fetched));
    return 0;
}

int CUsbDeviceList::GetEntry(uint32_t index, uint32_t* id, std::span<char> serial,
                             std::span<char> description) const {
    if (index >= count_) return 0;
    const DeviceInfoNode& e = entries_[index];
    if (id != nullptr) *id = e.id;
    // The driver's texts are NUL-terminated within their fields; never trust that blindly.
    if (!serial.empty()) {
        CopyText(serial, FieldText(std::span<const char>(e.serialNumber)), sizeof e.serialNumber);
    }
    if (!description.empty()) {
        CopyText(description, FieldText(std::span<const char>(e.description)),
                 sizeof e.description);
    }
    return 0;
}

}  // namespace tamix
