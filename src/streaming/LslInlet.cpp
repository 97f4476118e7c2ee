#include "streaming/LslInlet.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>

#include "streaming/LslClock.h"
#include "streaming/LslSampleFormat.h"

namespace tamix {
namespace {

int RemainingMs(double deadline) {
    const double left = deadline - LslClock();
    return left <= 0 ? 0 : static_cast<int>(std::ceil(left * 1000));
}

bool AddressOf(const std::string& text, uint16_t port, sockaddr_in& address) {
    address = Ipv4(0, port);
    return ::inet_pton(AF_INET, text.c_str(), &address.sin_addr) == 1;
}

std::string NumberText(double value) {
    char buffer[40];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

LslFd ConnectTcp(const LslFoundStream& stream, double seconds, std::string& error) {
    sockaddr_in to{};
    if (!AddressOf(stream.address, stream.info.v4DataPort, to) || stream.info.v4DataPort == 0) {
        error = "stream \"" + stream.info.Field("name") + "\" gives no IPv4 data port";
        return {};
    }
    LslFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        error = "cannot open a socket: " + SystemReason();
        return {};
    }
    const std::string where = stream.address + ":" + std::to_string(stream.info.v4DataPort);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
        errno != EINPROGRESS) {
        error = where + ": " + SystemReason();
        return {};
    }
    pollfd p{fd.get(), POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(seconds * 1000)) != 1) {
        error = where + ": no connection within " + NumberText(seconds) + " s";
        return {};
    }
    int status = 0;
    socklen_t length = sizeof status;
    ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length);
    if (status != 0) {
        error = where + ": " + std::strerror(status);
        return {};
    }
    const int on = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

bool SendAll(int fd, std::string_view text, std::string& error) {
    while (!text.empty()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 5000) != 1) {
            error = "the stream's host takes no request";
            return false;
        }
        const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            error = "cannot send the request: " + SystemReason();
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

uint64_t Get(const char* p, std::size_t bytes, bool swap) {
    uint64_t v = 0;
    if (bytes == 1) return static_cast<unsigned char>(*p);
    if (bytes == 2) {
        uint16_t x = 0;
        std::memcpy(&x, p, 2);
        return swap ? __builtin_bswap16(x) : x;
    }
    if (bytes == 4) {
        uint32_t x = 0;
        std::memcpy(&x, p, 4);
        return swap ? __builtin_bswap32(x) : x;
    }
    std::memcpy(&v, p, 8);
    return swap ? __builtin_bswap64(v) : v;
}

}  // namespace

std::string LslQueryFor(std::string_view name, std::string_view type, std::string_view sourceId) {
    std::string query;
    const auto term = [&query](std::string_view field, std::string_view value) {
        if (value.empty()) return;
        if (!query.empty()) query += " and ";
        query += std::string(field) + "='" + std::string(value) + "'";
    };
    term("name", name);
    term("type", type);
    term("source_id", sourceId);
    return query;
}

bool LslResolve(std::string_view query, LslNetwork network, double seconds, std::size_t minimum,
                std::vector<LslFoundStream>& found, std::string& error) {
    found.clear();
    network = EffectiveNetwork(network);
    const bool full = network == LslNetwork::Full;
    LslFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in local = Ipv4(full ? AnyAddress() : LoopbackAddress(), 0);
    if (!fd.valid() ||
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "cannot open a socket for the query: " + SystemReason();
        return false;
    }
    if (full) {
        const int on = 1;
        const int ttl = 24;  // liblsl's "site" scope
        ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    const std::string id = std::to_string(std::hash<std::string_view>()(query));
    const std::string message = "LSL:shortinfo\r\n" + std::string(query) + "\r\n" +
                                std::to_string(ntohs(bound.sin_port)) + " " + id + "\r\n";
    std::vector<sockaddr_in> targets;
    targets.push_back(Ipv4(LoopbackAddress(), kLslMulticastPort));
    for (int k = 0; k < kLslPortRange; ++k) {
        targets.push_back(Ipv4(LoopbackAddress(), static_cast<uint16_t>(kLslBasePort + k)));
    }
    std::vector<sockaddr_in> groups;
    std::vector<uint32_t> interfaces;
    if (full) {
        targets.push_back(Ipv4(INADDR_BROADCAST, kLslMulticastPort));
        for (const char* group : kLslMulticastGroups) {
            sockaddr_in a{};
            AddressOf(group, kLslMulticastPort, a);
            groups.push_back(a);
            targets.push_back(a);
        }
        interfaces = MulticastInterfaces();
        if (!interfaces.empty()) {
            in_addr out{};
            out.s_addr = htonl(interfaces[0]);
            ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
        }
    }
    std::set<std::string> uids;
    std::vector<char> datagram(65536);
    const double deadline = LslClock() + seconds;
    double nextWave = LslClock();
    while (LslClock() < deadline && found.size() < minimum) {
        if (LslClock() >= nextWave) {
            for (const sockaddr_in& to : targets) {
                ::sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
            // The groups once more out of each further interface.
            for (std::size_t k = 1; full && k < interfaces.size(); ++k) {
                in_addr out{};
                out.s_addr = htonl(interfaces[k]);
                ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
                for (const sockaddr_in& to : groups) {
                    ::sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
                }
            }
            if (full && interfaces.size() > 1) {
                in_addr out{};
                out.s_addr = htonl(interfaces[0]);
                ::setsockopt(fd.get(), IPPROTO_IP, IP_MULTICAST_IF, &out, sizeof out);
            }
            nextWave = LslClock() + 0.5;
        }
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, std::min(RemainingMs(deadline), RemainingMs(nextWave)) + 1) != 1)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd.get(), datagram.data(), datagram.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n <= 0) continue;
        const std::string_view text(datagram.data(), static_cast<std::size_t>(n));
        const std::size_t eol = text.find('\n');
        if (eol == std::string_view::npos) continue;
        std::string_view returned = text.substr(0, eol);
        if (!returned.empty() && returned.back() == '\r') returned.remove_suffix(1);
        if (returned != id) continue;
        LslFoundStream stream;
        stream.shortInfo = std::string(text.substr(eol + 1));
        if (!ParseLslInfo(stream.shortInfo, stream.info)) continue;
        if (!uids.insert(stream.info.Field("uid")).second) continue;
        stream.address = stream.info.Field("v4address");
        if (stream.address.empty()) stream.address = AddressText(from);
        found.push_back(std::move(stream));
    }
    return true;
}

bool LslFetchFullInfo(const LslFoundStream& stream, std::string& xml, std::string& error) {
    LslFd fd = ConnectTcp(stream, 5, error);
    if (!fd.valid() || !SendAll(fd.get(), "LSL:fullinfo\r\n", error)) return false;
    xml.clear();
    const double deadline = LslClock() + 5;
    char buffer[4096];
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) != 1) {
            error = "no full info within 5 s";
            return false;
        }
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n < 0) {
            error = "cannot read the full info: " + SystemReason();
            return false;
        }
        if (n == 0) break;
        xml.append(buffer, static_cast<std::size_t>(n));
    }
    return !xml.empty() || (error = "the stream sent no full info", false);
}

bool LslFeed::Open(const LslFoundStream& stream, const LslFeedOptions& options,
                   std::string& error) {
    fd_ = ConnectTcp(stream, 5, error);
    if (!fd_.valid()) return false;
    if (options.receiveBufferBytes > 0) {
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &options.receiveBufferBytes,
                     sizeof options.receiveBufferBytes);
    }
    isFloat_ = stream.info.Field("channel_format") != "string";
    if (stream.info.Field("channel_format") != "float32" && isFloat_) {
        error = "channel format \"" + stream.info.Field("channel_format") + "\" is not read here";
        return false;
    }
    channels_ = stream.info.channelCount;
    period_ = stream.info.nominalRate > 0 ? 1.0 / stream.info.nominalRate : 0;
    const int order = options.byteOrder != 0 ? options.byteOrder : LslNativeByteOrder();
    const std::string request = "LSL:streamfeed/110 " + stream.info.Field("uid") +
                                "\r\nNative-Byte-Order: " + std::to_string(order) +
                                "\r\nEndian-Performance: 0\r\nHas-IEEE754-Floats: 1\r\n" +
                                "Supports-Subnormals: 1\r\nValue-Size: " + (isFloat_ ? "4" : "32") +
                                "\r\nData-Protocol-Version: 110\r\nMax-Buffer-Length: " +
                                std::to_string(options.maxBufferSamples) +
                                "\r\nMax-Chunk-Length: 0\r\n\r\n";
    if (!SendAll(fd_.get(), request, error)) return false;
    const double deadline = LslClock() + 5;
    std::size_t end = std::string::npos;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill(buffer_.size() + 1, deadline, error)) {
            if (error.empty()) error = "no answer to the feed request within 5 s";
            if (!buffer_.empty())
                error = "the outlet answered: " + buffer_.substr(0, buffer_.find('\r'));
            return false;
        }
    }
    const std::string head = buffer_.substr(0, end);
    if (!head.starts_with("LSL/110 200")) {
        error = "the outlet answered: " + head.substr(0, head.find('\r'));
        return false;
    }
    byteOrder_ = LslNativeByteOrder();
    const std::size_t orderAt = head.find("Byte-Order: ");
    if (orderAt != std::string::npos) byteOrder_ = std::atoi(head.c_str() + orderAt + 12);
    swap_ = byteOrder_ != LslNativeByteOrder();
    at_ = end + 4;
    // Both test patterns, byte for byte as they must be.
    for (const int offset : {4, 2}) {
        std::string expected(LslStringSampleBytes(64) * static_cast<std::size_t>(channels_) + 64,
                             '\0');
        std::size_t size = 0;
        if (isFloat_) {
            const std::vector<float> pattern = LslFloatTestPattern(channels_, offset);
            size = EncodeFloatSample(expected.data(), true, kLslTestPatternStamp, pattern.data(),
                                     channels_, swap_);
        } else {
            const std::vector<std::string> pattern = LslStringTestPattern(channels_);
            const std::vector<std::string_view> views(pattern.begin(), pattern.end());
            size = EncodeStringSample(expected.data(), true, kLslTestPatternStamp, views.data(),
                                      channels_, swap_);
        }
        if (!Fill(at_ + size, deadline, error)) {
            if (error.empty()) error = "no test pattern within 5 s";
            return false;
        }
        if (buffer_.compare(at_, size, expected, 0, size) != 0) {
            error =
                "the test pattern " + std::to_string(offset) + " differs: the formats do not agree";
            return false;
        }
        at_ += size;
    }
    return true;
}

bool LslFeed::Fill(std::size_t bytes, double deadline, std::string& error) {
    char chunk[65536];
    while (buffer_.size() < bytes) {
        pollfd p{fd_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, RemainingMs(deadline));
        if (ready == 0) return false;
        if (ready < 0) {
            if (errno == EINTR) continue;
            error = "cannot wait for the feed: " + SystemReason();
            return false;
        }
        const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            error = n == 0 ? "the outlet closed the feed" : "the feed broke: " + SystemReason();
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

bool LslFeed::Next(LslReceivedSample& sample, double seconds, std::string& error) {
    error.clear();
    if (at_ > 65536) {
        buffer_.erase(0, at_);
        at_ = 0;
    }
    return ReadSample(sample, LslClock() + seconds, error);
}

bool LslFeed::ReadSample(LslReceivedSample& sample, double deadline, std::string& error) {
    std::size_t p = at_;
    if (!Fill(p + 1, deadline, error)) return false;
    const auto tag = static_cast<uint8_t>(buffer_[p++]);
    if (tag != kLslTagDeduced && tag != kLslTagStamped) {
        error = "the feed holds a sample tag of " + std::to_string(tag);
        return false;
    }
    double stamp = lastStamp_ + period_;
    if (tag == kLslTagStamped) {
        if (!Fill(p + 8, deadline, error)) return false;
        stamp = std::bit_cast<double>(Get(buffer_.data() + p, 8, swap_));
        p += 8;
    }
    if (isFloat_) {
        const std::size_t bytes = 4 * static_cast<std::size_t>(channels_);
        if (!Fill(p + bytes, deadline, error)) return false;
        sample.values.resize(static_cast<std::size_t>(channels_));
        for (int k = 0; k < channels_; ++k) {
            const auto bits = static_cast<uint32_t>(Get(buffer_.data() + p + 4 * k, 4, swap_));
            sample.values[static_cast<std::size_t>(k)] = std::bit_cast<float>(bits);
        }
        p += bytes;
    } else {
        sample.text.clear();
        for (int k = 0; k < channels_; ++k) {
            if (!Fill(p + 1, deadline, error)) return false;
            const std::size_t lengthBytes = static_cast<unsigned char>(buffer_[p++]);
            if (lengthBytes != 1 && lengthBytes != 2 && lengthBytes != 4 && lengthBytes != 8) {
                error =
                    "the feed holds a string length of " + std::to_string(lengthBytes) + " bytes";
                return false;
            }
            if (!Fill(p + lengthBytes, deadline, error)) return false;
            const uint64_t length = Get(buffer_.data() + p, lengthBytes, swap_);
            p += lengthBytes;
            if (length > (1u << 24)) {
                error = "the feed holds a string of " + std::to_string(length) + " bytes";
                return false;
            }
            if (!Fill(p + length, deadline, error)) return false;
            if (k == 0) sample.text.assign(buffer_, p, length);
            p += length;
        }
    }
    sample.stamp = stamp;
    sample.deduced = tag == kLslTagDeduced;
    lastStamp_ = stamp;
    at_ = p;
    return true;
}

bool LslProbeClock(const LslFoundStream& stream, int count, std::vector<LslClockProbe>& probes,
                   std::string& error) {
    probes.clear();
    sockaddr_in to{};
    if (!AddressOf(stream.address, stream.info.v4ServicePort, to) ||
        stream.info.v4ServicePort == 0) {
        error = "stream \"" + stream.info.Field("name") + "\" gives no IPv4 service port";
        return false;
    }
    LslFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = "cannot open a socket for time probes: " + SystemReason();
        return false;
    }
    char reply[512];
    for (int wave = 1; wave <= count; ++wave) {
        const double t0 = LslClock();
        const std::string message =
            "LSL:timedata\r\n" + std::to_string(wave) + " " + NumberText(t0) + "\r\n";
        ::sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
        const double deadline = t0 + 1;
        while (LslClock() < deadline) {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, RemainingMs(deadline)) != 1) break;
            const ssize_t n = ::recv(fd.get(), reply, sizeof reply - 1, 0);
            const double t3 = LslClock();
            if (n <= 0) continue;
            reply[n] = '\0';
            int gotWave = 0;
            double echoed = 0;
            double t1 = 0;
            double t2 = 0;
            const char* q = reply;
            const char* end = reply + n;
            const auto skip = [&q, end] {
                while (q < end && *q == ' ') ++q;
            };
            skip();
            auto r = std::from_chars(q, end, gotWave);
            q = r.ptr;
            skip();
            auto r0 = std::from_chars(q, end, echoed);
            q = r0.ptr;
            skip();
            auto r1 = std::from_chars(q, end, t1);
            q = r1.ptr;
            skip();
            auto r2 = std::from_chars(q, end, t2);
            if (r.ec != std::errc() || r0.ec != std::errc() || r1.ec != std::errc() ||
                r2.ec != std::errc() || gotWave != wave) {
                continue;
            }
            probes.push_back({((t1 - echoed) + (t2 - t3)) / 2, (t3 - echoed) - (t2 - t1)});
            break;
        }
    }
    return true;
}

}  // namespace tamix
