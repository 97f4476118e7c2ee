#include "device/LinuxSerialDriver.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tamix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr FtHandle kHandle = 1;

std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string value;
    std::getline(in, value);
    while (!value.empty() &&
           (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    return value;
}

// ttyUSB2 < ttyUSB10: digits compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            const std::string na = a.substr(i, ie - i), nb = b.substr(j, je - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

speed_t SpeedOf(uint32_t rate) {
    switch (rate) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        case 1500000:
            return B1500000;
        case 3000000:
            return B3000000;
        default:
            return B0;
    }
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

}  // namespace

std::vector<SerialPortInfo> ListFtdiPorts(const std::string& sysfsRoot,
                                          const std::string& devRoot) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    const fs::path ttyClass = fs::path(sysfsRoot) / "class" / "tty";
    for (const auto& entry : fs::directory_iterator(ttyClass, ec)) {
        const fs::path device = entry.path() / "device";
        // Most ttys (virtual consoles, pseudo-terminals) have no device link:
        // one lstat each instead of resolving every part of the path.
        if (!fs::is_symlink(device, ec)) {
            ec.clear();
            continue;
        }
        const fs::path portDir = fs::canonical(device, ec);
        if (ec) {
            ec.clear();
            continue;  // a tty without a device (virtual consoles, pseudo-terminals)
        }
        const fs::path driver = fs::canonical(portDir / "driver", ec);
        if (ec || driver.filename() != "ftdi_sio") {
            ec.clear();
            continue;
        }
        SerialPortInfo info;
        info.name = entry.path().filename().string();
        info.path = (fs::path(devRoot) / info.name).string();
        if (fs::exists(portDir / "latency_timer", ec))
            info.latencyTimer = (portDir / "latency_timer").string();
        // The USB device (with its serial string) is an ancestor of the port.
        for (fs::path dir = portDir.parent_path(); !dir.empty() && dir != dir.root_path();
             dir = dir.parent_path()) {
            if (fs::exists(dir / "idVendor", ec)) {
                info.serial = ReadAttribute(dir / "serial");
                info.description = ReadAttribute(dir / "product");
                break;
            }
        }
        ports.push_back(std::move(info));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return NaturalLess(a.name, b.name);
    });
    return ports;
}

LinuxSerialDriver::LinuxSerialDriver(std::vector<SerialPortInfo> explicitPorts,
                                     std::string sysfsRoot, std::string devRoot)
    : explicit_(std::move(explicitPorts)),
      sysfsRoot_(std::move(sysfsRoot)),
      devRoot_(std::move(devRoot)) {}

LinuxSerialDriver::~LinuxSerialDriver() {
    if (port_.fd >= 0) ::close(port_.fd);
}

LinuxSerialDriver::Port* LinuxSerialDriver::Find(FtHandle handle) {
    return handle == kHandle && port_.fd >= 0 ? &port_ : nullptr;
}

FtStatus LinuxSerialDriver::CreateDeviceInfoList(uint32_t* numDevices) {
    listed_ = explicit_;
    for (auto& p : ListFtdiPorts(sysfsRoot_, devRoot_)) listed_.push_back(std::move(p));
    *numDevices = static_cast<uint32_t>(listed_.size());
    return FT_OK;
}

FtStatus LinuxSerialDriver::GetDeviceInfoList(DeviceInfoNode* dest, uint32_t* numDevices) {
    const uint32_t n = std::min<uint32_t>(*numDevices, static_cast<uint32_t>(listed_.size()));
    for (uint32_t i = 0; i < n; ++i) {
        DeviceInfoNode node{};
        node.type = 5;
        node.id = 0x04036001;
        node.locId = i;
        std::strncpy(node.serialNumber, listed_[i].serial.c_str(), sizeof node.serialNumber - 1);
        std::strncpy(node.description, listed_[i].description.c_str(), sizeof node.description - 1);
        node.flags = (port_.fd >= 0 && port_.info.path == listed_[i].path) ? 1 : 0;
        dest[i] = node;
    }
    *numDevices = n;
    return FT_OK;
}

FtStatus LinuxSerialDriver::GetDeviceInfoDetail(uint32_t index, uint32_t* flags, uint32_t* type,
                                                uint32_t* id, uint32_t* locId, char* serial16,
                                                char* description64, FtHandle* handle) {
    if (index >= listed_.size()) return FT_DEVICE_NOT_FOUND;
    const SerialPortInfo& p = listed_[index];
    *flags = 0;
    *type = 5;
    *id = 0x04036001;
    *locId = index;
    std::memset(serial16, 0, 16);
    std::strncpy(serial16, p.serial.c_str(), 15);
    std::memset(description64, 0, 64);
    std::strncpy(description64, p.description.c_str(), 63);
    *handle = 0;
    return FT_OK;
}

FtStatus LinuxSerialDriver::Open(int index, FtHandle* handle) {
    lastError_.clear();
    if (index < 0 || static_cast<std::size_t>(index) >= listed_.size()) return FT_DEVICE_NOT_FOUND;
    if (port_.fd >= 0) return FT_DEVICE_NOT_OPENED;
    const SerialPortInfo& info = listed_[index];
    const int fd = ::open(info.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM) {
            lastError_ =
                "permission denied: add your user to the dialout group (" + info.path + ")";
        } else if (err == ENOENT || err == ENODEV || err == ENXIO) {
            lastError_ = "the unit was unplugged (" + info.path + ")";
            return FT_DEVICE_NOT_FOUND;
        } else {
            lastError_ = info.path + ": " + std::strerror(err);
        }
        return FT_DEVICE_NOT_OPENED;
    }
    // Exclusive: a unit another process holds is not opened twice. The lock
    // goes with the descriptor, so closing releases it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError_ = info.path + " is in use by another program";
        ::close(fd);
        return FT_DEVICE_NOT_OPENED;
    }
    ::ioctl(fd, TIOCEXCL);
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    port_ = Port{fd, info, 2000, 2000};
    *handle = kHandle;
    return FT_OK;
}

FtStatus LinuxSerialDriver::Close(FtHandle handle) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    ::ioctl(p->fd, TIOCNXCL);
    ::close(p->fd);
    p->fd = -1;
    return FT_OK;
}

FtStatus LinuxSerialDriver::Read(FtHandle handle, void* buffer, uint32_t count,
                                 uint32_t* received) {
    *received = 0;
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    auto* out = static_cast<uint8_t*>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(p->readTimeoutMs);
    bool readable = false;
    while (*received < count) {
        const ssize_t n = ::read(p->fd, out + *received, count - *received);
        if (n > 0) {
            *received += static_cast<uint32_t>(n);
            readable = false;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FT_IO_ERROR;
        // Readable (per poll) yet nothing to read: the line hung up.
        if (n == 0 && readable) return FT_IO_ERROR;
        const int wait = RemainingMs(deadline);
        if (wait == 0) break;
        pollfd fd{p->fd, POLLIN, 0};
        const int r = ::poll(&fd, 1, wait);
        if (r < 0 && errno != EINTR) return FT_IO_ERROR;
        // The port vanished (unplugged, or the far end of a pseudo-terminal closed).
        if (r > 0 && (fd.revents & (POLLERR | POLLNVAL))) return FT_IO_ERROR;
        if (r > 0 && (fd.revents & POLLHUP) && !(fd.revents & POLLIN)) return FT_IO_ERROR;
        readable = r > 0 && (fd.revents & POLLIN);
    }
    return FT_OK;
}

FtStatus LinuxSerialDriver::Write(FtHandle handle, const void* buffer, uint32_t count,
                                  uint32_t* sent) {
    *sent = 0;
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    const auto* in = static_cast<const uint8_t*>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(p->writeTimeoutMs);
    while (*sent < count) {
        const ssize_t n = ::write(p->fd, in + *sent, count - *sent);
        if (n > 0) {
            *sent += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return FT_IO_ERROR;
        const int wait = RemainingMs(deadline);
        if (wait == 0) return FT_IO_ERROR;
        pollfd fd{p->fd, POLLOUT, 0};
        if (::poll(&fd, 1, wait) < 0 && errno != EINTR) return FT_IO_ERROR;
        if (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) return FT_IO_ERROR;
    }
    return FT_OK;
}

FtStatus LinuxSerialDriver::SetBaudRate(FtHandle handle, uint32_t rate) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    const speed_t speed = SpeedOf(rate);
    termios tio{};
    if (speed == B0 || ::tcgetattr(p->fd, &tio) != 0) return FT_INVALID_PARAMETER;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    return ::tcsetattr(p->fd, TCSANOW, &tio) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus LinuxSerialDriver::SetDataCharacteristics(FtHandle handle, uint8_t wordLength,
                                                   uint8_t stopBits, uint8_t parity) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    termios tio{};
    if (::tcgetattr(p->fd, &tio) != 0) return FT_IO_ERROR;
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
    tio.c_cflag |= wordLength == 7 ? CS7 : CS8;
    if (stopBits != 0) tio.c_cflag |= CSTOPB;  // 0 is one stop bit
    if (parity == 1) tio.c_cflag |= PARENB | PARODD;
    if (parity == 2) tio.c_cflag |= PARENB;
    return ::tcsetattr(p->fd, TCSANOW, &tio) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus LinuxSerialDriver::SetFlowControl(FtHandle handle, uint16_t mode, uint8_t, uint8_t) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    termios tio{};
    if (::tcgetattr(p->fd, &tio) != 0) return FT_IO_ERROR;
    if (mode == FT_FLOW_RTS_CTS) {
        tio.c_cflag |= CRTSCTS;
    } else {
        tio.c_cflag &= ~CRTSCTS;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    return ::tcsetattr(p->fd, TCSANOW, &tio) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus LinuxSerialDriver::Purge(FtHandle handle, uint32_t mask) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    const int which = (mask & FT_PURGE_RX) && (mask & FT_PURGE_TX) ? TCIOFLUSH
                      : (mask & FT_PURGE_RX)                       ? TCIFLUSH
                                                                   : TCOFLUSH;
    return ::tcflush(p->fd, which) == 0 ? FT_OK : FT_IO_ERROR;
}

FtStatus LinuxSerialDriver::SetTimeouts(FtHandle handle, uint32_t readMs, uint32_t writeMs) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    p->readTimeoutMs = readMs;
    p->writeTimeoutMs = writeMs;
    return FT_OK;
}

FtStatus LinuxSerialDriver::SetLatencyTimer(FtHandle handle, uint8_t ms) {
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    if (!p->info.latencyTimer.empty()) {
        std::ofstream timer(p->info.latencyTimer);
        timer << static_cast<int>(ms) << "\n";
        timer.flush();
        if (timer.good()) return FT_OK;
    }
    // Without write access to sysfs the driver's low-latency flag does the same.
    serial_struct serial{};
    if (::ioctl(p->fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(p->fd, TIOCSSERIAL, &serial) == 0) return FT_OK;
    }
    return FT_IO_ERROR;
}

FtStatus LinuxSerialDriver::SetUSBParameters(FtHandle handle, uint32_t, uint32_t) {
    return Find(handle) ? FT_OK : FT_INVALID_HANDLE;
}

FtStatus LinuxSerialDriver::GetQueueStatus(FtHandle handle, uint32_t* rxBytes) {
    *rxBytes = 0;
    Port* p = Find(handle);
    if (p == nullptr) return FT_INVALID_HANDLE;
    int queued = 0;
    if (::ioctl(p->fd, TIOCINQ, &queued) != 0) return FT_IO_ERROR;
    *rxBytes = static_cast<uint32_t>(std::max(queued, 0));
    return FT_OK;
}

}  // namespace tamix
