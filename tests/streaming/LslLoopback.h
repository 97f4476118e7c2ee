// What the outlet tests share: loopback-only outlets with names of their own, and raw TCP requests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "streaming/LslClock.h"
#include "streaming/LslInfoXml.h"
#include "streaming/LslNetwork.h"
#include "streaming/LslOutlet.h"

namespace tamix::test {

// Every stream and query of the tests stays on 127.0.0.1: the options say so,
// and the environment says so once more for anything they start.
inline void KeepToLoopback() {
    ::setenv(kLslLoopbackVariable, "1", 1);
}

// A name no other test (or other process on this host) uses.
inline std::string UniqueName(const std::string& what) {
    static int counter = 0;
    return "TamixTest-" + what + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

inline LslOutletOptions LoopbackOptions() {
    LslOutletOptions options(LslNetwork::LoopbackOnly);
    return options;
}

inline LslStreamDescription AnalogueStream(const std::string& name, int channels, double rate) {
    LslStreamDescription d;
    d.name = name;
    d.type = kLslAnalogueType;
    d.sourceId = name + "-source";
    d.channelCount = channels;
    d.nominalRate = rate;
    for (int k = 0; k < channels; ++k) {
        d.channels.push_back(
            {"In" + std::to_string(k + 1), k % 2 == 0 ? "V" : "kPa", "Analog", {}});
    }
    d.manufacturer = "Norvale";
    d.model = "NORV40";
    return d;
}

// Waits (polling, up to `seconds`) until `condition` holds.
inline bool WaitFor(const std::function<bool()>& condition, double seconds = 20) {
    const double end = LslClock() + seconds;
    while (!condition()) {
        if (LslClock() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A TCP connection to 127.0.0.1:port (closed when it goes), for requests by hand.
class RawConnection {
  public:
    explicit RawConnection(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;
    ~RawConnection() { ::close(fd_); }
    bool connected() const { return connected_; }

    bool Send(const std::string& text) {
        return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // Reads until `bytes` are there, the peer closes, or `seconds` pass.
    std::string Read(std::size_t bytes, double seconds = 10) {
        std::string got;
        const double end = LslClock() + seconds;
        char buffer[4096];
        while (got.size() < bytes && LslClock() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) continue;
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, bytes - got.size()), 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    bool closed() const { return closed_; }

  private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
};

}  // namespace tamix::test
