// The driver seam: the calls of the USB-serial bridge's driver library that the
// program uses, with the same statuses and semantics. Simulated units and real
// bridges are drivers behind it.
#pragma once

#include <cstdint>
#include <string>

namespace tamix {

using FtStatus = uint32_t;
using FtHandle = uintptr_t;

inline constexpr FtStatus FT_OK = 0;
inline constexpr FtStatus FT_INVALID_HANDLE = 1;
inline constexpr FtStatus FT_DEVICE_NOT_FOUND = 2;
inline constexpr FtStatus FT_DEVICE_NOT_OPENED = 3;
inline constexpr FtStatus FT_IO_ERROR = 4;
inline constexpr FtStatus FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FtStatus FT_INVALID_PARAMETER = 6;
inline constexpr FtStatus FT_NOT_SUPPORTED = 17;

inline constexpr uint32_t FT_PURGE_RX = 1;
inline constexpr uint32_t FT_PURGE_TX = 2;
inline constexpr uint16_t FT_FLOW_NONE = 0x0000;
inline constexpr uint16_t FT_FLOW_RTS_CTS = 0x0100;

// One listed device, 100 bytes, as the driver returns it.
struct DeviceInfoNode {
    uint32_t flags;
    uint32_t type;
    uint32_t id;
    uint32_t locId;
    char serialNumber[16];
    char description[64];
    uint32_t handle;
};
static_assert(sizeof(DeviceInfoNode) == 100);

// All calls return FT_OK (0) on success. Thread rules: one thread at a time
// uses a driver object (the acquisition worker during a run).
class D2xxDriver {
  public:
    virtual ~D2xxDriver() = default;

    virtual FtStatus CreateDeviceInfoList(uint32_t* numDevices) = 0;
    // `numDevices` is in/out: room in `dest` on entry, entries stored on return.
    virtual FtStatus GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) = 0;
    virtual FtStatus GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type,
                                         uint32_t* id, uint32_t* locId, char* serial16,
                                         char* description64, FtHandle* handle) = 0;
    virtual FtStatus Open(int index, FtHandle* handle) = 0;
    virtual FtStatus Close(FtHandle handle) = 0;
    // Returns when `count` bytes arrived or the read timeout has passed; stores
    // only the bytes received and reports their number in `received`.
    virtual FtStatus Read(FtHandle handle, void* buffer, uint32_t count, uint32_t* received) = 0;
    virtual FtStatus Write(FtHandle handle, const void* buffer, uint32_t count, uint32_t* sent) = 0;
    virtual FtStatus SetBaudRate(FtHandle handle, uint32_t rate) = 0;
    virtual FtStatus SetDataCharacteristics(FtHandle handle, uint8_t wordLength, uint8_t stopBits,
                                            uint8_t parity) = 0;
    virtual FtStatus SetFlowControl(FtHandle handle, uint16_t mode, uint8_t xon, uint8_t xoff) = 0;
    virtual FtStatus Purge(FtHandle handle, uint32_t mask) = 0;
    virtual FtStatus SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) = 0;
    virtual FtStatus SetLatencyTimer(FtHandle handle, uint8_t ms) = 0;
    virtual FtStatus SetUSBParameters(FtHandle handle, uint32_t inSize, uint32_t outSize) = 0;
    // The number of received bytes a read would return at once. Drivers that
    // cannot tell answer FT_NOT_SUPPORTED, and the link then waits in its reads.
    virtual FtStatus GetQueueStatus(FtHandle /*handle*/, uint32_t* rxBytes) {
        *rxBytes = 0;
        return FT_NOT_SUPPORTED;
    }

    // Why the last open failed, in words for the operator; empty when unknown.
    virtual std::string LastOpenError() const { return {}; }
};

// A driver that lists no devices; the default when no instrument source is chosen.
class NullDriver final : public D2xxDriver {
  public:
    FtStatus CreateDeviceInfoList(uint32_t* n) override {
        *n = 0;
        return FT_OK;
    }
    FtStatus GetDeviceInfoList(DeviceInfoNode*, uint32_t* n) override {
        *n = 0;
        return FT_OK;
    }
    FtStatus GetDeviceInfoDetail(uint32_t, uint32_t*, uint32_t*, uint32_t*, uint32_t*, char*, char*,
                                 FtHandle*) override {
        return FT_DEVICE_NOT_FOUND;
    }
    FtStatus Open(int, FtHandle*) override { return FT_DEVICE_NOT_FOUND; }
    FtStatus Close(FtHandle) override { return FT_INVALID_HANDLE; }
    FtStatus Read(FtHandle, void*, uint32_t, uint32_t* r) override {
        *r = 0;
        return FT_INVALID_HANDLE;
    }
    FtStatus Write(FtHandle, const void*, uint32_t, uint32_t* s) override {
        *s = 0;
        return FT_INVALID_HANDLE;
    }
    FtStatus SetBaudRate(FtHandle, uint32_t) override { return FT_INVALID_HANDLE; }
    FtStatus SetDataCharacteristics(FtHandle, uint8_t, uint8_t, uint8_t) override {
        return FT_INVALID_HANDLE;
    }
    FtStatus SetFlowControl(FtHandle, uint16_t, uint8_t, uint8_t) override {
        return FT_INVALID_HANDLE;
    }
    FtStatus Purge(FtHandle, uint32_t) override { return FT_INVALID_HANDLE; }
    FtStatus SetTimeouts(FtHandle, uint32_t, uint32_t) override { return FT_INVALID_HANDLE; }
    FtStatus SetLatencyTimer(FtHandle, uint8_t) override { return FT_INVALID_HANDLE; }
    FtStatus SetUSBParameters(FtHandle, uint32_t, uint32_t) override { return FT_INVALID_HANDLE; }
};

}  // namespace tamix
