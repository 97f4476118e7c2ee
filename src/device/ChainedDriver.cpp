#include "device/ChainedDriver.h"

#include <vector>

namespace tamix {
namespace {

// Handles of the second driver carry this bit; both drivers give small handles.
constexpr FtHandle kSecondBit = FtHandle{1} << (sizeof(FtHandle) * 8 - 2);

}  // namespace

ChainedDriver::ChainedDriver(std::unique_ptr<D2xxDriver> first, std::unique_ptr<D2xxDriver> second)
    : first_(std::move(first)), second_(std::move(second)) {}

D2xxDriver& ChainedDriver::Route(FtHandle& handle) {
    if (handle & kSecondBit) {
        handle &= ~kSecondBit;
        return *second_;
    }
    return *first_;
}

FtStatus ChainedDriver::CreateDeviceInfoList(uint32_t* numDevices) {
    uint32_t a = 0, b = 0;
    if (first_->CreateDeviceInfoList(&a) != FT_OK) a = 0;
    if (second_->CreateDeviceInfoList(&b) != FT_OK) b = 0;
    firstCount_ = a;
    *numDevices = a + b;
    return FT_OK;
}

FtStatus ChainedDriver::GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) {
    uint32_t room = *numDevices;
    uint32_t a = std::min(room, firstCount_);
    if (first_->GetDeviceInfoList(dest, &a) != FT_OK) a = 0;
    uint32_t b = room - a;
    if (b > 0 && second_->GetDeviceInfoList(dest + a, &b) != FT_OK) b = 0;
    *numDevices = a + b;
    return FT_OK;
}

FtStatus ChainedDriver::GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type,
                                            uint32_t* id, uint32_t* locId, char* serial16,
                                            char* description64, FtHandle* handle) {
    if (index < firstCount_) {
        return first_->GetDeviceInfoDetail(index, flags, type, id, locId, serial16, description64,
                                           handle);
    }
    return second_->GetDeviceInfoDetail(index - firstCount_, flags, type, id, locId, serial16,
                                        description64, handle);
}

FtStatus ChainedDriver::Open(int index, FtHandle* handle) {
    lastOpenSecond_ = index >= static_cast<int>(firstCount_);
    if (!lastOpenSecond_) return first_->Open(index, handle);
    const FtStatus status = second_->Open(index - static_cast<int>(firstCount_), handle);
    if (status == FT_OK) *handle |= kSecondBit;
    return status;
}

FtStatus ChainedDriver::Close(FtHandle h) {
    return Route(h).Close(h);
}
FtStatus ChainedDriver::Read(FtHandle h, void* buffer, uint32_t count, uint32_t* received) {
    return Route(h).Read(h, buffer, count, received);
}
FtStatus ChainedDriver::Write(FtHandle h, const void* buffer, uint32_t count, uint32_t* sent) {
    return Route(h).Write(h, buffer, count, sent);
}
FtStatus ChainedDriver::SetBaudRate(FtHandle h, uint32_t rate) {
    return Route(h).SetBaudRate(h, rate);
}
FtStatus ChainedDriver::SetDataCharacteristics(FtHandle h, uint8_t w, uint8_t s, uint8_t p) {
    return Route(h).SetDataCharacteristics(h, w, s, p);
}
FtStatus ChainedDriver::SetFlowControl(FtHandle h, uint16_t mode, uint8_t xon, uint8_t xoff) {
    return Route(h).SetFlowControl(h, mode, xon, xoff);
}
FtStatus ChainedDriver::Purge(FtHandle h, uint32_t mask) {
    return Route(h).Purge(h, mask);
}
FtStatus ChainedDriver::SetTimeouts(FtHandle h, uint32_t r, uint32_t w) {
    return Route(h).SetTimeouts(h, r, w);
}
FtStatus ChainedDriver::SetLatencyTimer(FtHandle h, uint8_t ms) {
    return Route(h).SetLatencyTimer(h, ms);
}
FtStatus ChainedDriver::SetUSBParameters(FtHandle h, uint32_t in, uint32_t out) {
    return Route(h).SetUSBParameters(h, in, out);
}
std::string ChainedDriver::LastOpenError() const {
    return lastOpenSecond_ ? second_->LastOpenError() : first_->LastOpenError();
}

}  // namespace tamix
