#include "streaming/LslSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "streaming/LslNetwork.h"

namespace tamix {

LslFd& LslFd::operator=(LslFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

LslFd::~LslFd() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SystemReason() {
    return std::strerror(errno);
}

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

uint32_t LoopbackAddress() {
    return INADDR_LOOPBACK;
}

uint32_t AnyAddress() {
    return INADDR_ANY;
}

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

std::vector<uint32_t> MulticastInterfaces() {
    std::vector<uint32_t> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return addresses;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        const unsigned flags = i->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_MULTICAST) == 0 || (flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        sockaddr_in a{};
        std::memcpy(&a, i->ifa_addr, sizeof a);
        addresses.push_back(ntohl(a.sin_addr.s_addr));
    }
    ::freeifaddrs(list);
    return addresses;
}

bool MakeNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

LslFd BindInRange(int type, uint32_t address, uint16_t& port, std::string& error) {
    LslFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = "cannot open a socket: " + SystemReason();
        return {};
    }
    if (type == SOCK_STREAM) {
        // A port left in TIME_WAIT by the last run is free for a new outlet.
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    bool bound = false;
    for (int k = 0; k <= kLslPortRange && !bound; ++k) {
        // The range first; k == kLslPortRange asks the system for any port.
        const auto wanted = static_cast<uint16_t>(k < kLslPortRange ? kLslBasePort + k : 0);
        const sockaddr_in a = Ipv4(address, wanted);
        bound = ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    if (!bound) {
        error = "cannot bind a socket: " + SystemReason();
        return {};
    }
    if (type == SOCK_STREAM && ::listen(fd.get(), 16) != 0) {
        error = "cannot listen on a socket: " + SystemReason();
        return {};
    }
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    if (!MakeNonBlocking(fd.get())) {
        error = "cannot set up a socket: " + SystemReason();
        return {};
    }
    return fd;
}

LslWakeup::LslWakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void LslWakeup::Signal() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd_.get(), &one, sizeof one);
}

}  // namespace tamix
