#include "streaming/LslUdpResponder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>
#include <vector>

#include "streaming/LslClock.h"
#include "streaming/LslQuery.h"

namespace tamix {
namespace {

std::string_view Trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

// The next line of `text` from `pos` (without its line end); pos moves past it.
std::string_view NextLine(std::string_view text, std::size_t& pos) {
    if (pos >= text.size()) return {};
    const std::size_t end = text.find('\n', pos);
    const std::string_view line =
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() : end + 1;
    return Trim(line);
}

std::string_view NextWord(std::string_view text, std::size_t& pos) {
    while (pos < text.size() &&
           (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n')) {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\r' &&
           text[pos] != '\n') {
        ++pos;
    }
    return text.substr(start, pos - start);
}

void AppendNumber(std::string& out, double value) {
    // 16 significant digits, as liblsl's own answers.
    char buffer[40];
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 16);
    out.append(buffer, r.ptr);
}

}  // namespace

bool LslUdpResponder::Bind(LslNetwork network, std::string& error) {
    const bool full = network == LslNetwork::Full;
    if (!wakeup_.valid()) {
        error = "cannot make a wake-up descriptor: " + SystemReason();
        return false;
    }
    service_ =
        BindInRange(SOCK_DGRAM, full ? AnyAddress() : LoopbackAddress(), servicePort_, error);
    if (!service_.valid()) return false;
    // The multicast port is shared by every outlet on the host (address reuse).
    // On loopback it still lets programs on this host that query
    // 127.0.0.1:16571 find the stream, without joining any group.
    LslFd shared(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    const sockaddr_in a = Ipv4(full ? AnyAddress() : LoopbackAddress(), kLslMulticastPort);
    if (shared.valid() &&
        ::setsockopt(shared.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
        ::bind(shared.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
        MakeNonBlocking(shared.get())) {
        if (full) {
            // On every interface, as queries may come in on any; a host
            // without one still answers broadcast and unicast queries.
            std::vector<uint32_t> interfaces = MulticastInterfaces();
            if (interfaces.empty()) interfaces.push_back(AnyAddress());
            for (const uint32_t local : interfaces) {
                for (const char* group : kLslMulticastGroups) {
                    ip_mreq request{};
                    ::inet_pton(AF_INET, group, &request.imr_multiaddr);
                    request.imr_interface.s_addr = htonl(local);
                    ::setsockopt(shared.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request,
                                 sizeof request);
                }
            }
        }
        multicast_ = std::move(shared);
    }
    return true;
}

bool LslUdpResponder::Start(std::map<std::string, std::string> fields, std::string shortInfo,
                            std::string& error) {
    fields_ = std::move(fields);
    shortInfo_ = std::move(shortInfo);
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the UDP responder: ") + e.what();
        return false;
    }
    return true;
}

void LslUdpResponder::Stop() {
    if (!thread_.joinable()) return;
    wakeup_.Signal();
    thread_.join();
}

void LslUdpResponder::Serve() {
    pollfd fds[3] = {
        {wakeup_.fd(), POLLIN, 0}, {service_.get(), POLLIN, 0}, {multicast_.get(), POLLIN, 0}};
    const nfds_t count = multicast_.valid() ? 3 : 2;
    for (;;) {
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) return;
        if ((fds[1].revents & POLLIN) != 0) Answer(service_.get(), true);
        if (count == 3 && (fds[2].revents & POLLIN) != 0) Answer(multicast_.get(), false);
    }
}

void LslUdpResponder::Answer(int fd, bool timeServices) {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd, datagram_.data(), datagram_.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    const double t1 = LslClock();
    if (n <= 0 || fromLength != sizeof from || from.sin_family != AF_INET) return;
    const std::string_view text(datagram_.data(), static_cast<std::size_t>(n));
    std::size_t pos = 0;
    const std::string_view method = NextLine(text, pos);
    if (method == "LSL:shortinfo") {
        const std::string_view query = NextLine(text, pos);
        const std::string_view portText = NextWord(text, pos);
        const std::string_view queryId = NextWord(text, pos);
        int port = 0;
        const auto r = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (r.ec != std::errc() || port < 1 || port > 65535 || queryId.empty()) return;
        if (!LslQueryMatches(query, fields_)) return;
        std::string reply(queryId);
        reply += "\r\n";
        reply += shortInfo_;
        sockaddr_in to = from;
        to.sin_port = htons(static_cast<uint16_t>(port));
        ::sendto(fd, reply.data(), reply.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    } else if (timeServices && method == "LSL:timedata") {
        const std::string_view waveText = NextWord(text, pos);
        const std::string_view t0Text = NextWord(text, pos);
        int wave = 0;
        double t0 = 0;
        if (std::from_chars(waveText.data(), waveText.data() + waveText.size(), wave).ec !=
                std::errc() ||
            std::from_chars(t0Text.data(), t0Text.data() + t0Text.size(), t0).ec != std::errc()) {
            return;
        }
        std::string reply = " " + std::to_string(wave) + " ";
        AppendNumber(reply, t0);
        reply += ' ';
        AppendNumber(reply, t1);
        reply += ' ';
        AppendNumber(reply, LslClock());
        ::sendto(fd, reply.data(), reply.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from),
                 sizeof from);
    }
}

}  // namespace tamix
