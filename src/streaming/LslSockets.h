// The few POSIX socket pieces the outlet and the inlet share: owned descriptors, binding in LSL's
// port range.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tamix {

// An owned file descriptor, closed when it goes.
class LslFd {
  public:
    LslFd() = default;
    explicit LslFd(int fd) : fd_(fd) {}
    LslFd(LslFd&& other) noexcept : fd_(other.Release()) {}
    LslFd& operator=(LslFd&& other) noexcept;
    LslFd(const LslFd&) = delete;
    LslFd& operator=(const LslFd&) = delete;
    ~LslFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_ = -1;
};

// The system's reason for the last failed call (errno).
std::string SystemReason();

// An IPv4 address and port; `address` in host order.
sockaddr_in Ipv4(uint32_t address, uint16_t port);
// 127.0.0.1, or any address of this host.
uint32_t LoopbackAddress();
uint32_t AnyAddress();
// Dotted text of an address in network order, e.g. "127.0.0.1".
std::string AddressText(const sockaddr_in& address);

// A socket (SOCK_STREAM or SOCK_DGRAM) bound to the first free port of LSL's
// range on `address`, else to one the system picks (as liblsl allows); TCP
// sockets also listen. Invalid with `error` when neither works.
LslFd BindInRange(int type, uint32_t address, uint16_t& port, std::string& error);

// The IPv4 addresses (host order) of the interfaces that are up, can
// multicast and are not the loopback: where LSL's groups are joined and its
// multicast queries sent, as liblsl does on every such interface.
std::vector<uint32_t> MulticastInterfaces();

// Non-blocking and closed on exec.
bool MakeNonBlocking(int fd);

// A descriptor that becomes readable when Signal() is called: it wakes a
// thread waiting in poll() to stop.
class LslWakeup {
  public:
    LslWakeup();
    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    void Signal();

  private:
    LslFd fd_;
};

}  // namespace tamix
