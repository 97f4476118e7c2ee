#include "device/SimulatedDriver.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tamix {
namespace {

using Clock = SimulatedUnit::Clock;

// The time a unit works at. An unpaced unit makes its scans when they are
// read, whatever the clock says, so it is spared the clock read, which is the
// dearest step of an unpaced exchange.
Clock::time_point UnitTime(const SimulatedUnit& unit) {
    return unit.options().paced ? Clock::now() : Clock::time_point{};
}

}  // namespace

SimulatedDriver::SimulatedDriver(std::vector<SimulatedUnitOptions> units, double timeoutScale)
    : timeoutScale_(timeoutScale) {
    for (auto& options : units) {
        Slot slot;
        slot.unit = std::make_unique<SimulatedUnit>(std::move(options));
        slot.flowModes.reserve(8);
        slots_.push_back(std::move(slot));
    }
}

SimulatedDriver::Slot* SimulatedDriver::Find(FtHandle handle) {
    if (handle == 0 || handle > slots_.size()) return nullptr;
    Slot& slot = slots_[handle - 1];
    return slot.open ? &slot : nullptr;
}

int64_t SimulatedDriver::LostScans(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).unit->lostScans();
}

int64_t SimulatedDriver::ProducedScans(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).unit->producedScans();
}

std::vector<uint8_t> SimulatedDriver::ReceivedBytes(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).unit->received();
}

std::vector<uint32_t> SimulatedDriver::FlowControlModes(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).flowModes;
}

uint32_t SimulatedDriver::LineRate(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).lineRate;
}

bool SimulatedDriver::IsOpen(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).open;
}

int64_t SimulatedDriver::ReadWaits(int index) const {
    std::lock_guard lock(mutex_);
    return slots_.at(index).readWaits;
}

FtStatus SimulatedDriver::CreateDeviceInfoList(uint32_t* numDevices) {
    std::lock_guard lock(mutex_);
    *numDevices = static_cast<uint32_t>(slots_.size());
    return FT_OK;
}

FtStatus SimulatedDriver::GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) {
    std::lock_guard lock(mutex_);
    const uint32_t n = std::min<uint32_t>(*numDevices, static_cast<uint32_t>(slots_.size()));
    for (uint32_t i = 0; i < n; ++i) {
        DeviceInfoNode node{};
        const SimulatedUnit& unit = *slots_[i].unit;
        node.flags = slots_[i].open ? 1 : 0;
        node.type = 5;
        node.id = 0x04036001;
        node.locId = 0x100 + i;
        std::strncpy(node.serialNumber, unit.options().serial.c_str(),
                     sizeof node.serialNumber - 1);
        std::snprintf(node.description, sizeof node.description, "Simulated %s",
                      unit.model() ? unit.model()->modelName.data() : "instrument");
        dest[i] = node;
    }
    *numDevices = n;
    return FT_OK;
}

FtStatus SimulatedDriver::GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type,
                                              uint32_t* id, uint32_t* locId, char* serial16,
                                              char* description64, FtHandle* handle) {
    std::lock_guard lock(mutex_);
    if (index >= slots_.size()) return FT_DEVICE_NOT_FOUND;
    const Slot& slot = slots_[index];
    *flags = slot.open ? 1 : 0;
    *type = 5;
    *id = 0x04036001;
    *locId = 0x100 + index;
    std::memset(serial16, 0, 16);
    std::strncpy(serial16, slot.unit->options().serial.c_str(), 15);
    std::memset(description64, 0, 64);
    std::strncpy(description64, "Simulated instrument", 63);
    *handle = 0;
    return FT_OK;
}

FtStatus SimulatedDriver::Open(int index, FtHandle* handle) {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= slots_.size()) return FT_DEVICE_NOT_FOUND;
    Slot& slot = slots_[index];
    if (slot.open || slot.unit->options().heldByOther) return FT_DEVICE_NOT_OPENED;
    if (slot.unit->unplugged()) return FT_DEVICE_NOT_FOUND;
    slot.open = true;
    slot.readTimeoutMs = 300;
    slot.flowModes.clear();
    slot.readWaits = 0;
    slot.unit->Reset();
    *handle = static_cast<FtHandle>(index) + 1;
    return FT_OK;
}

FtStatus SimulatedDriver::Close(FtHandle handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    slot->open = false;
    wake_.notify_all();
    return FT_OK;
}

FtStatus SimulatedDriver::Read(FtHandle handle, void* buffer, uint32_t count, uint32_t* received) {
    *received = 0;
    std::unique_lock lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    SimulatedUnit& unit = *slot->unit;
    const auto timeout = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(slot->readTimeoutMs * timeoutScale_));
    // Counted from the first time the read finds too little: a read that is
    // answered at once needs no clock.
    std::optional<Clock::time_point> deadline;
    auto* out = static_cast<uint8_t*>(buffer);
    for (;;) {
        unit.Advance(UnitTime(unit), count - *received);
        *received += static_cast<uint32_t>(unit.Take(out + *received, count - *received));
        if (*received == count) return FT_OK;
        if (unit.unplugged()) return FT_IO_ERROR;
        const auto t = Clock::now();
        if (!deadline) deadline = t + timeout;
        if (t >= *deadline) return FT_OK;
        const auto ready = unit.WhenBuffered(count - *received);
        ++slot->readWaits;
        wake_.wait_until(lock, std::min(ready, *deadline));
        slot = Find(handle);
        if (slot == nullptr) return FT_INVALID_HANDLE;
    }
}

FtStatus SimulatedDriver::Write(FtHandle handle, const void* buffer, uint32_t count,
                                uint32_t* sent) {
    *sent = 0;
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    if (slot->unit->unplugged()) return FT_IO_ERROR;
    const auto now = UnitTime(*slot->unit);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    for (uint32_t i = 0; i < count; ++i) {
        slot->unit->Advance(now, 0);
        slot->unit->HostWrite(bytes[i], now);
    }
    *sent = count;
    return FT_OK;
}

FtStatus SimulatedDriver::SetBaudRate(FtHandle handle, uint32_t rate) {
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    slot->lineRate = rate;
    return FT_OK;
}

FtStatus SimulatedDriver::SetDataCharacteristics(FtHandle handle, uint8_t, uint8_t, uint8_t) {
    std::lock_guard lock(mutex_);
    return Find(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FtStatus SimulatedDriver::SetFlowControl(FtHandle handle, uint16_t mode, uint8_t, uint8_t) {
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    slot->flowModes.push_back(mode);
    return FT_OK;
}

FtStatus SimulatedDriver::Purge(FtHandle handle, uint32_t mask) {
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    if (mask & FT_PURGE_RX) slot->unit->Purge();
    return FT_OK;
}

FtStatus SimulatedDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t) {
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    slot->readTimeoutMs = readMs;
    return FT_OK;
}

FtStatus SimulatedDriver::SetLatencyTimer(FtHandle handle, uint8_t) {
    std::lock_guard lock(mutex_);
    return Find(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FtStatus SimulatedDriver::SetUSBParameters(FtHandle handle, uint32_t, uint32_t) {
    std::lock_guard lock(mutex_);
    return Find(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FtStatus SimulatedDriver::GetQueueStatus(FtHandle handle, uint32_t* rxBytes) {
    *rxBytes = 0;
    std::lock_guard lock(mutex_);
    Slot* slot = Find(handle);
    if (slot == nullptr) return FT_INVALID_HANDLE;
    if (slot->unit->unplugged()) return FT_IO_ERROR;
    *rxBytes = static_cast<uint32_t>(slot->unit->Ready(UnitTime(*slot->unit)));
    return FT_OK;
}

bool SimulatedUnitFor(std::string_view key, SimulatedUnitOptions& options) {
    const KnownUnit* unit = FindKnownUnit(key);
    if (unit != nullptr) {
        options.serial = std::string(unit->serial);
        return true;
    }
    // An unknown serial is allowed: it shows how the program treats a foreign unit.
    if (key.empty()) return false;
    options.serial = std::string(key);
    return true;
}

}  // namespace tamix
