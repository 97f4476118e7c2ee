#include "device/WindowsD2xxDriver.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/WindowsText.h"

namespace tamix {
namespace {

// The library's own list entry: its handle is a pointer, so the entry is
// larger than the driver interface's on 64-bit Windows.
struct NativeNode {
    ULONG flags;
    ULONG type;
    ULONG id;
    DWORD locId;
    char serialNumber[16];
    char description[64];
    void* handle;
};

using CreateDeviceInfoListFn = ULONG(WINAPI*)(DWORD*);
using GetDeviceInfoListFn = ULONG(WINAPI*)(NativeNode*, DWORD*);
using GetDeviceInfoDetailFn = ULONG(WINAPI*)(DWORD, DWORD*, DWORD*, DWORD*, DWORD*, char*, char*,
                                             void**);
using OpenFn = ULONG(WINAPI*)(int, void**);
using CloseFn = ULONG(WINAPI*)(void*);
using ReadFn = ULONG(WINAPI*)(void*, void*, DWORD, DWORD*);
using WriteFn = ULONG(WINAPI*)(void*, void*, DWORD, DWORD*);
using SetBaudRateFn = ULONG(WINAPI*)(void*, ULONG);
using SetDataCharacteristicsFn = ULONG(WINAPI*)(void*, UCHAR, UCHAR, UCHAR);
using SetFlowControlFn = ULONG(WINAPI*)(void*, USHORT, UCHAR, UCHAR);
using PurgeFn = ULONG(WINAPI*)(void*, ULONG);
using SetTimeoutsFn = ULONG(WINAPI*)(void*, ULONG, ULONG);
using SetLatencyTimerFn = ULONG(WINAPI*)(void*, UCHAR);
using SetUSBParametersFn = ULONG(WINAPI*)(void*, ULONG, ULONG);

// The explicit ports' entries mirror what the bridge reports for itself.
constexpr uint32_t kBridgeType = 5;
constexpr uint32_t kBridgeId = 0x04036001;

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn, std::string& missing) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    if (fn == nullptr && missing.empty()) missing = name;
    return fn != nullptr;
}

}  // namespace

struct WindowsD2xxDriver::Api {
    HMODULE module = nullptr;
    CreateDeviceInfoListFn createDeviceInfoList = nullptr;
    GetDeviceInfoListFn getDeviceInfoList = nullptr;
    GetDeviceInfoDetailFn getDeviceInfoDetail = nullptr;
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    ReadFn read = nullptr;
    WriteFn write = nullptr;
    SetBaudRateFn setBaudRate = nullptr;
    SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    SetFlowControlFn setFlowControl = nullptr;
    PurgeFn purge = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    SetLatencyTimerFn setLatencyTimer = nullptr;
    SetUSBParametersFn setUSBParameters = nullptr;

    ~Api() {
        if (module != nullptr) ::FreeLibrary(module);
    }
};

WindowsD2xxDriver::WindowsD2xxDriver(std::vector<SerialPortInfo> explicitPorts, std::string library)
    : explicit_(std::move(explicitPorts)), library_(std::move(library)) {}

WindowsD2xxDriver::~WindowsD2xxDriver() {
    if (open_ == Kind::Library && api_) api_->close(ftHandle_);
}

bool WindowsD2xxDriver::LoadLibraryOnce() {
    if (loadTried_) return api_ != nullptr;
    loadTried_ = true;
    const HMODULE module = ::LoadLibraryW(WideFromUtf8(library_).c_str());
    const std::string hint =
        ": install the FTDI D2XX driver, or name the bridge's COM port "
        "(tamix-record --port COM3=SERIAL)";
    if (module == nullptr) {
        lastError_ =
            library_ + " could not be loaded (" + WindowsErrorText(::GetLastError()) + ")" + hint;
        return false;
    }
    auto api = std::make_unique<Api>();
    api->module = module;
    std::string missing;
    Resolve(module, "FT_CreateDeviceInfoList", api->createDeviceInfoList, missing);
    Resolve(module, "FT_GetDeviceInfoList", api->getDeviceInfoList, missing);
    Resolve(module, "FT_GetDeviceInfoDetail", api->getDeviceInfoDetail, missing);
    Resolve(module, "FT_Open", api->open, missing);
    Resolve(module, "FT_Close", api->close, missing);
    Resolve(module, "FT_Read", api->read, missing);
    Resolve(module, "FT_Write", api->write, missing);
    Resolve(module, "FT_SetBaudRate", api->setBaudRate, missing);
    Resolve(module, "FT_SetDataCharacteristics", api->setDataCharacteristics, missing);
    Resolve(module, "FT_SetFlowControl", api->setFlowControl, missing);
    Resolve(module, "FT_Purge", api->purge, missing);
    Resolve(module, "FT_SetTimeouts", api->setTimeouts, missing);
    Resolve(module, "FT_SetLatencyTimer", api->setLatencyTimer, missing);
    Resolve(module, "FT_SetUSBParameters", api->setUSBParameters, missing);
    if (!missing.empty()) {
        lastError_ = library_ + " lacks " + missing + " (too old a version)" + hint;
        return false;  // the Api's destructor unloads it again
    }
    api_ = std::move(api);
    return true;
}

FtStatus WindowsD2xxDriver::CreateDeviceInfoList(uint32_t* numDevices) {
    listed_.clear();
    for (std::size_t i = 0; i < explicit_.size(); ++i) {
        DeviceInfoNode node{};
        node.type = kBridgeType;
        node.id = kBridgeId;
        node.locId = static_cast<uint32_t>(i);
        std::strncpy(node.serialNumber, explicit_[i].serial.c_str(), sizeof node.serialNumber - 1);
        std::strncpy(node.description, explicit_[i].description.c_str(),
                     sizeof node.description - 1);
        node.flags = open_ == Kind::ComPort && openPort_ == i ? 1 : 0;
        listed_.push_back(node);
    }
    if (LoadLibraryOnce()) {
        DWORD n = 0;
        if (api_->createDeviceInfoList(&n) == FT_OK && n > 0) {
            std::vector<NativeNode> nodes(n);
            if (api_->getDeviceInfoList(nodes.data(), &n) == FT_OK) {
                for (DWORD i = 0; i < n && i < nodes.size(); ++i) {
                    DeviceInfoNode node{};
                    node.flags = nodes[i].flags;
                    node.type = nodes[i].type;
                    node.id = nodes[i].id;
                    node.locId = nodes[i].locId;
                    std::memcpy(node.serialNumber, nodes[i].serialNumber, 15);
                    std::memcpy(node.description, nodes[i].description, 63);
                    listed_.push_back(node);
                }
            }
        }
    }
    *numDevices = static_cast<uint32_t>(listed_.size());
    return FT_OK;
}

FtStatus WindowsD2xxDriver::GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) {
    const uint32_t n = std::min<uint32_t>(*numDevices, static_cast<uint32_t>(listed_.size()));
    for (uint32_t i = 0; i < n; ++i) dest[i] = listed_[i];
    *numDevices = n;
    return FT_OK;
}

FtStatus WindowsD2xxDriver::GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type,
                                                uint32_t* id, uint32_t* locId, char* serial16,
                                                char* description64, FtHandle* handle) {
    if (index >= listed_.size()) return FT_DEVICE_NOT_FOUND;
    const DeviceInfoNode& node = listed_[index];
    *flags = node.flags;
    *type = node.type;
    *id = node.id;
    *locId = node.locId;
    std::memcpy(serial16, node.serialNumber, 16);
    std::memcpy(description64, node.description, 64);
    *handle = 0;
    return FT_OK;
}

FtStatus WindowsD2xxDriver::Open(int index, FtHandle* handle) {
    const std::string libraryProblem = api_ ? std::string() : lastError_;
    lastError_.clear();
    if (index < 0 || static_cast<std::size_t>(index) >= listed_.size()) {
        lastError_ = libraryProblem;
        return FT_DEVICE_NOT_FOUND;
    }
    if (open_ != Kind::None) return FT_DEVICE_NOT_OPENED;
    const auto i = static_cast<std::size_t>(index);
    if (i < explicit_.size()) {
        if (!com_.Open(explicit_[i].path, lastError_)) return FT_DEVICE_NOT_OPENED;
        open_ = Kind::ComPort;
        openPort_ = i;
    } else {
        void* h = nullptr;
        const FtStatus status = api_->open(static_cast<int>(i - explicit_.size()), &h);
        if (status != FT_OK) {
            lastError_ = std::string(listed_[i].serialNumber) +
                         (status == FT_DEVICE_NOT_FOUND ? ": the unit was unplugged"
                                                        : ": in use by another program");
            return status;
        }
        ftHandle_ = h;
        open_ = Kind::Library;
    }
    *handle = reinterpret_cast<FtHandle>(this);
    return FT_OK;
}

bool WindowsD2xxDriver::IsOpen(FtHandle handle) const {
    return open_ != Kind::None && handle == reinterpret_cast<FtHandle>(this);
}

FtStatus WindowsD2xxDriver::Close(FtHandle handle) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    FtStatus status = FT_OK;
    if (open_ == Kind::Library) {
        status = api_->close(ftHandle_);
        ftHandle_ = nullptr;
    } else {
        com_.Close();
    }
    open_ = Kind::None;
    return status;
}

FtStatus WindowsD2xxDriver::Read(FtHandle handle, void* buffer, uint32_t count,
                                 uint32_t* received) {
    *received = 0;
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.Read(buffer, count, received);
    DWORD n = 0;
    const FtStatus status = api_->read(ftHandle_, buffer, count, &n);
    *received = n;
    return status;
}

FtStatus WindowsD2xxDriver::Write(FtHandle handle, const void* buffer, uint32_t count,
                                  uint32_t* sent) {
    *sent = 0;
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.Write(buffer, count, sent);
    DWORD n = 0;
    // The library's prototype takes a non-const buffer it only reads.
    const FtStatus status = api_->write(ftHandle_, const_cast<void*>(buffer), count, &n);
    *sent = n;
    return status;
}

FtStatus WindowsD2xxDriver::SetBaudRate(FtHandle handle, uint32_t rate) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.SetBaudRate(rate);
    return api_->setBaudRate(ftHandle_, rate);
}

FtStatus WindowsD2xxDriver::SetDataCharacteristics(FtHandle handle, uint8_t wordLength,
                                                   uint8_t stopBits, uint8_t parity) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.SetDataCharacteristics(wordLength, stopBits, parity);
    return api_->setDataCharacteristics(ftHandle_, wordLength, stopBits, parity);
}

FtStatus WindowsD2xxDriver::SetFlowControl(FtHandle handle, uint16_t mode, uint8_t xon,
                                           uint8_t xoff) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.SetFlowControl(mode);
    return api_->setFlowControl(ftHandle_, mode, xon, xoff);
}

FtStatus WindowsD2xxDriver::Purge(FtHandle handle, uint32_t mask) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.Purge(mask);
    return api_->purge(ftHandle_, mask);
}

FtStatus WindowsD2xxDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.SetTimeouts(readMs, writeMs);
    return api_->setTimeouts(ftHandle_, readMs, writeMs);
}

FtStatus WindowsD2xxDriver::SetLatencyTimer(FtHandle handle, uint8_t ms) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    // The COM port driver's latency timer is a setting of the port (Device
    // Manager, Advanced); the program cannot change it from here.
    if (open_ == Kind::ComPort) return FT_OK;
    return api_->setLatencyTimer(ftHandle_, ms);
}

FtStatus WindowsD2xxDriver::SetUSBParameters(FtHandle handle, uint32_t inSize, uint32_t outSize) {
    if (!IsOpen(handle)) return FT_INVALID_HANDLE;
    if (open_ == Kind::ComPort) return com_.SetBufferSizes(inSize, outSize);
    return api_->setUSBParameters(ftHandle_, inSize, outSize);
}

}  // namespace tamix
