#include "device/WindowsComPort.h"

#include <windows.h>

#include "base/WindowsText.h"

namespace tamix {

WindowsComPort::~WindowsComPort() {
    Close();
}

bool WindowsComPort::Open(const std::string& name, std::string& error) {
    Close();
    // COM10 and above are reachable only through the device namespace.
    const std::string path = name.starts_with("\\\\") ? name : "\\\\.\\" + name;
    const HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) {
            error = name + " is in use by another program";
        } else if (err == ERROR_FILE_NOT_FOUND) {
            error = name + " does not exist (is the unit plugged in?)";
        } else {
            error = name + ": " + WindowsErrorText(err);
        }
        return false;
    }
    handle_ = h;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(h, &dcb)) {
        // Raw bytes: no software flow control, no error replacement, no aborts.
        dcb.fBinary = TRUE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        ::SetCommState(h, &dcb);
    }
    return true;
}

void WindowsComPort::Close() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = nullptr;
}

FtStatus WindowsComPort::Read(void* buffer, uint32_t count, uint32_t* received) {
    *received = 0;
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DWORD n = 0;
    // The total read deadline of SetTimeouts makes one call wait for all bytes.
    if (!::ReadFile(handle_, buffer, count, &n, nullptr)) return FT_IO_ERROR;
    *received = n;
    return FT_OK;
}

FtStatus WindowsComPort::Write(const void* buffer, uint32_t count, uint32_t* sent) {
    *sent = 0;
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DWORD n = 0;
    if (!::WriteFile(handle_, buffer, count, &n, nullptr)) return FT_IO_ERROR;
    *sent = n;
    return FT_OK;
}

FtStatus WindowsComPort::SetBaudRate(uint32_t rate) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return FT_IO_ERROR;
    dcb.BaudRate = rate;
    return ::SetCommState(handle_, &dcb) ? FT_OK : FT_IO_ERROR;
}

FtStatus WindowsComPort::SetDataCharacteristics(uint8_t wordLength, uint8_t stopBits,
                                                uint8_t parity) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return FT_IO_ERROR;
    // The bridge library's codes for stop bits (0 one, 2 two) and parity (0
    // none to 4 space) are the communications API's own.
    dcb.ByteSize = wordLength;
    dcb.StopBits = stopBits;
    dcb.Parity = parity;
    dcb.fParity = parity != NOPARITY ? TRUE : FALSE;
    return ::SetCommState(handle_, &dcb) ? FT_OK : FT_INVALID_PARAMETER;
}

FtStatus WindowsComPort::SetFlowControl(uint16_t mode) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle_, &dcb)) return FT_IO_ERROR;
    const bool rtsCts = mode == FT_FLOW_RTS_CTS;
    dcb.fOutxCtsFlow = rtsCts ? TRUE : FALSE;
    dcb.fRtsControl = rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    return ::SetCommState(handle_, &dcb) ? FT_OK : FT_IO_ERROR;
}

FtStatus WindowsComPort::Purge(uint32_t mask) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    DWORD flags = 0;
    if ((mask & FT_PURGE_RX) != 0) flags |= PURGE_RXCLEAR | PURGE_RXABORT;
    if ((mask & FT_PURGE_TX) != 0) flags |= PURGE_TXCLEAR | PURGE_TXABORT;
    return ::PurgeComm(handle_, flags) ? FT_OK : FT_IO_ERROR;
}

FtStatus WindowsComPort::SetTimeouts(uint32_t readMs, uint32_t writeMs) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    // No interval timeout: a read ends only when all bytes came or the total
    // deadline passed, as the bridge library's read does.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = readMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = writeMs;
    return ::SetCommTimeouts(handle_, &t) ? FT_OK : FT_IO_ERROR;
}

FtStatus WindowsComPort::SetBufferSizes(uint32_t inSize, uint32_t outSize) {
    if (handle_ == nullptr) return FT_INVALID_HANDLE;
    return ::SetupComm(handle_, inSize, outSize) ? FT_OK : FT_IO_ERROR;
}

}  // namespace tamix
