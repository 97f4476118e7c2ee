#include "device/CUsbLink.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace tamix {
namespace {

constexpr double kLatencyMargin = 0.004;
constexpr double kGoldenFraction = 0.6180339887498949;
constexpr double kDitherSpan = 0.016;

}  // namespace

int CUsbLink::OpenByIndex(int index, int lineRate) {
    opened_ = 0;
    streamRate_ = 0.0;
    if (driver_ == nullptr || index < 0) return 1;
    uint32_t count = 0;
    driver_->CreateDeviceInfoList(&count);
    uint32_t flags = 0, type = 0, id = 0, loc = 0;
    char serial[16] = {};
    char description[64] = {};
    FtHandle scratch = 0;
    if (driver_->GetDeviceInfoDetail(static_cast<uint32_t>(index), &flags, &type, &id, &loc, serial,
                                     description, &scratch) != FT_OK) {
        return 1;
    }
    if (driver_->Open(index, &handle_) != FT_OK) return 2;
    // Small, prompt transfers: the unit's blocks are 16 bytes.
    driver_->SetUSBParameters(handle_, 16384, 16384);
    driver_->SetLatencyTimer(handle_, 1);
    driver_->SetDataCharacteristics(handle_, 8, 0, 0);
    driver_->SetTimeouts(handle_, 2000, 2000);
    driver_->SetFlowControl(handle_, FT_FLOW_NONE, 0, 0);
    driver_->SetBaudRate(handle_, static_cast<uint32_t>(lineRate));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    driver_->Purge(handle_, FT_PURGE_RX | FT_PURGE_TX);
    opened_ = 1;
    return 0;
}

void CUsbLink::Close() {
    if (opened_ != 1) return;
    driver_->Close(handle_);
    opened_ = 0;
}

FtStatus CUsbLink::SetTimeouts(uint32_t readMs, uint32_t writeMs) {
    if (opened_ != 1) return FT_INVALID_HANDLE;
    return driver_->SetTimeouts(handle_, readMs, writeMs);
}

FtStatus CUsbLink::SetFlowRtsCts() {
    if (opened_ != 1) return FT_INVALID_HANDLE;
    return driver_->SetFlowControl(handle_, FT_FLOW_RTS_CTS, 0, 0);
}

FtStatus CUsbLink::WriteByte(uint8_t byte, uint8_t* reply) {
    if (opened_ != 1) return FT_OK;
    uint32_t sent = 0;
    const FtStatus status = driver_->Write(handle_, &byte, 1, &sent);
    if (reply != nullptr) {
        uint32_t received = 0;
        driver_->Read(handle_, reply, 1, &received);
    }
    return status;
}

FtStatus CUsbLink::WriteBytes(std::span<const uint8_t> bytes) {
    if (opened_ != 1) return FT_OK;
    uint32_t sent = 0;
    return driver_->Write(handle_, bytes.data(), static_cast<uint32_t>(bytes.size()), &sent);
}

int CUsbLink::ReadByte() {
    uint8_t value = 255;
    if (opened_ == 1) {
        uint32_t received = 0;
        driver_->Read(handle_, &value, 1, &received);
    }
    return value;
}

FtStatus CUsbLink::ReadBlock(std::span<uint8_t> buffer, uint32_t* received) {
    uint32_t got = 0;
    FtStatus status = FT_OK;
    if (opened_ == 1) {
        status = driver_->Read(handle_, buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
    }
    if (received != nullptr) *received = got;
    return status;
}

int64_t CUsbLink::AwaitQueued(uint32_t count, std::chrono::steady_clock::time_point* queuedAt) {
    if (opened_ != 1) return -1;
    uint32_t queued = 0;
    if (driver_->GetQueueStatus(handle_, &queued) != FT_OK) return -1;
    // Bytes that arrive after the count and before this moment only make the
    // stream look later than it is, never earlier.
    if (queuedAt != nullptr) *queuedAt = std::chrono::steady_clock::now();
    if (queued >= count || !(streamRate_ > 0.0)) return queued;
    // Waking for less than a wake interval's bytes costs more wake-ups than the
    // view or a stop can tell apart; the reads after the wait take what came.
    const double wanted = std::max(static_cast<double>(count), streamRate_ * wakeInterval_);
    // The bridge hands bytes on after its latency (1 ms), a busy machine adds
    // some; waking before the bytes are there costs a second wake-up.
    // Each wake-up falls a little later, by a share of a delivery that runs
    // through all its phases: the bridge hands bytes on in bursts, and the
    // gap detection's lowest shortfall of a second is then taken right after
    // a burst, not at whatever phase the wake-ups happened to lock onto.
    phase_ += kGoldenFraction;
    if (phase_ >= 1.0) phase_ -= 1.0;
    const double dither = phase_ * std::min(kDitherSpan, wakeInterval_);
    const std::chrono::duration<double> wait((wanted - queued) / streamRate_ + kLatencyMargin +
                                             dither);
    std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                  std::chrono::duration_cast<std::chrono::nanoseconds>(wait));
    return queued;
}

}  // namespace tamix
