#include "streaming/LslTcpServer.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>

#include "streaming/LslClock.h"
#include "streaming/LslQuery.h"
#include "streaming/LslSampleFormat.h"

namespace tamix {
namespace {

// Bytes queued for one feed before its socket takes them; with the small
// kernel buffer below, a receiver that stops reading soon leaves its feed
// behind the ring instead of piling samples up in memory.
constexpr std::size_t kFeedBytes = 64 * 1024;
constexpr int kFeedSocketBuffer = 128 * 1024;
constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr double kRequestSeconds = 10;
constexpr std::size_t kMaxConnections = 64;
// How often a busy feed looks for new samples: the writer never signals, so
// that pushing a sample stays free of system calls.
constexpr int kFeedPollMs = 5;

std::string_view Trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int IntOf(std::string_view text, int fallback) {
    int value = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() ? value : fallback;
}

bool BoolOf(std::string_view text, bool fallback) {
    if (text == "1" || text == "true") return true;
    if (text == "0" || text == "false") return false;
    return fallback;
}

}  // namespace

struct LslTcpServer::Connection {
    enum class State { Request, Reply, Feed, Closed };
    LslFd fd;
    State state = State::Request;
    double since = 0;
    std::string request;
    std::vector<char> out;
    std::size_t outStart = 0;
    std::size_t outEnd = 0;
    // Feeds only.
    uint64_t cursor = 0;
    std::size_t cap = 0;
    bool swap = false;
    bool contiguous = false;  // the last sample sent was cursor - 1
    std::vector<uint64_t> words;
    std::vector<float> values;
};

LslTcpServer::LslTcpServer() = default;

LslTcpServer::~LslTcpServer() {
    Stop();
}

bool LslTcpServer::Bind(LslNetwork network, std::string& error) {
    if (!wakeup_.valid()) {
        error = "cannot make a wake-up descriptor: " + SystemReason();
        return false;
    }
    listen_ =
        BindInRange(SOCK_STREAM, network == LslNetwork::Full ? AnyAddress() : LoopbackAddress(),
                    dataPort_, error);
    return listen_.valid();
}

bool LslTcpServer::Start(Stream stream, const LslSampleRing* ring, LslServerCounters* counters,
                         std::string& error) {
    stream_ = std::move(stream);
    ring_ = ring;
    counters_ = counters;
    // The loop then allocates only when a receiver connects.
    fds_.reserve(kMaxConnections + 2);
    connections_.reserve(kMaxConnections);
    try {
        thread_ = std::thread([this] { Serve(); });
    } catch (const std::system_error& e) {
        error = std::string("cannot start the TCP server: ") + e.what();
        return false;
    }
    return true;
}

void LslTcpServer::Stop() {
    if (!thread_.joinable()) return;
    wakeup_.Signal();
    thread_.join();
}

void LslTcpServer::Serve() {
    std::vector<pollfd>& fds = fds_;
    for (;;) {
        fds.clear();
        fds.push_back({wakeup_.fd(), POLLIN, 0});
        fds.push_back({listen_.get(), POLLIN, 0});
        bool feeding = false;
        for (const auto& c : connections_) {
            short events = POLLIN;
            if (c->outStart < c->outEnd) events |= POLLOUT;
            fds.push_back({c->fd.get(), events, 0});
            feeding = feeding || c->state == Connection::State::Feed;
        }
        if (::poll(fds.data(), fds.size(), feeding ? kFeedPollMs : 1000) < 0 && errno != EINTR) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) break;
        const std::size_t polled = connections_.size();
        for (std::size_t i = 0; i < polled; ++i) {
            Connection& c = *connections_[i];
            const short revents = fds[i + 2].revents;
            if ((revents & (POLLERR | POLLNVAL)) != 0) {
                CloseConnection(c);
                continue;
            }
            if ((revents & (POLLIN | POLLHUP)) == 0) continue;
            if (c.state == Connection::State::Request) {
                ReadRequest(c);
            } else {
                // A receiver says nothing after its request: anything is the end.
                char discard[512];
                const ssize_t n = ::recv(c.fd.get(), discard, sizeof discard, MSG_DONTWAIT);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    CloseConnection(c);
                }
            }
        }
        if ((fds[1].revents & POLLIN) != 0) Accept();
        const double now = LslClock();
        for (const auto& c : connections_) {
            if (c->state == Connection::State::Feed) Fill(*c);
            if (c->state == Connection::State::Feed || c->state == Connection::State::Reply) {
                Flush(*c);
            }
            if (c->state == Connection::State::Request && now - c->since > kRequestSeconds) {
                CloseConnection(*c);
            }
        }
        std::erase_if(connections_,
                      [](const auto& c) { return c->state == Connection::State::Closed; });
    }
    for (const auto& c : connections_) CloseConnection(*c);
    connections_.clear();
}

void LslTcpServer::Accept() {
    for (;;) {
        LslFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) return;
        if (connections_.size() >= kMaxConnections) continue;  // closed at once
        auto c = std::make_unique<Connection>();
        c->fd = std::move(fd);
        c->since = LslClock();
        connections_.push_back(std::move(c));
    }
}

void LslTcpServer::ReadRequest(Connection& c) {
    char buffer[4096];
    const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (n <= 0 || c.request.size() + static_cast<std::size_t>(n) > kMaxRequestBytes) {
        CloseConnection(c);
        return;
    }
    c.request.append(buffer, static_cast<std::size_t>(n));
    HandleRequest(c);
}

void LslTcpServer::HandleRequest(Connection& c) {
    const std::string_view request = c.request;
    const std::size_t eol = request.find('\n');
    if (eol == std::string_view::npos) return;
    const std::string_view method = Trim(request.substr(0, eol));
    const std::size_t eol2 = request.find('\n', eol + 1);
    const auto reply = [&c](std::string_view text) {
        c.out.assign(text.begin(), text.end());
        c.outStart = 0;
        c.outEnd = c.out.size();
        c.state = Connection::State::Reply;
    };
    if (method == "LSL:fullinfo") {
        reply(stream_.fullInfo);
    } else if (method == "LSL:shortinfo") {
        if (eol2 == std::string_view::npos) return;
        if (LslQueryMatches(Trim(request.substr(eol + 1, eol2 - eol - 1)), stream_.fields)) {
            reply(stream_.shortInfo);
        } else {
            CloseConnection(c);
        }
    } else if (method == "LSL:streamfeed") {
        // Protocol 1.00 (a portable binary archive) is not spoken here.
        if (eol2 == std::string_view::npos) return;
        reply("LSL/110 505 Version not supported\r\n");
    } else if (method.starts_with("LSL:streamfeed/")) {
        if (request.find("\r\n\r\n") == std::string_view::npos &&
            request.find("\n\n") == std::string_view::npos) {
            return;
        }
        BeginFeed(c, request);
    } else {
        CloseConnection(c);
    }
}

void LslTcpServer::BeginFeed(Connection& c, std::string_view request) {
    std::size_t pos = request.find('\n');
    const std::string_view line = Trim(request.substr(0, pos));
    const std::size_t space = line.find_first_of(" \t");
    const std::string_view method = line.substr(0, space);
    const std::string_view uid =
        space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
    const int version = IntOf(method.substr(method.find('/') + 1), 0);
    const auto refuse = [&c](std::string_view status) {
        const std::string text = "LSL/110 " + std::string(status) + "\r\n";
        c.out.assign(text.begin(), text.end());
        c.outStart = 0;
        c.outEnd = c.out.size();
        c.state = Connection::State::Reply;
    };
    if (version / 100 > 1 || version < 110) return refuse("505 Version not supported");
    if (!uid.empty() && uid != stream_.uid) return refuse("404 Not found");

    const bool isFloat = stream_.description.format == LslFormat::Float32;
    int byteOrder = LslNativeByteOrder();
    bool ieee754 = true;
    bool subnormals = true;
    int valueSize = isFloat ? 4 : 0;
    int maxBuffer = 0;
    while (pos != std::string_view::npos && pos + 1 < request.size()) {
        const std::size_t next = request.find('\n', pos + 1);
        std::string_view header = Trim(request.substr(pos + 1, next - pos - 1));
        pos = next;
        if (header.empty()) break;
        const std::size_t colon = header.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string key = Lower(Trim(header.substr(0, colon)));
        std::string value = Lower(Trim(header.substr(colon + 1)));
        value = std::string(Trim(value.substr(0, value.find(';'))));
        if (key == "native-byte-order") byteOrder = IntOf(value, byteOrder);
        if (key == "has-ieee754-floats") ieee754 = BoolOf(value, ieee754);
        if (key == "supports-subnormals") subnormals = BoolOf(value, subnormals);
        if (key == "value-size") valueSize = IntOf(value, valueSize);
        if (key == "max-buffer-length") maxBuffer = IntOf(value, 0);
    }
    // liblsl falls back to protocol 1.00 for these; this outlet refuses them
    // as it refuses 1.00 itself. (A string's value size is the receiver's own
    // string object, which does not matter on the wire.)
    if (!ieee754 || (isFloat && valueSize != 4)) return refuse("505 Version not supported");
    if (byteOrder != kLslLittleEndian && byteOrder != kLslBigEndian) {
        byteOrder = LslNativeByteOrder();
    }
    c.swap = byteOrder != LslNativeByteOrder();
    c.cap = stream_.maxBuffered;
    if (maxBuffer > 0) c.cap = std::min(c.cap, static_cast<std::size_t>(maxBuffer));

    std::string head = "LSL/110 200 OK\r\nUID: " + stream_.uid +
                       "\r\nByte-Order: " + std::to_string(byteOrder) +
                       "\r\nSuppress-Subnormals: " + (isFloat && !subnormals ? "1" : "0") +
                       "\r\nData-Protocol-Version: 110\r\n\r\n";
    c.out.assign(kFeedBytes + head.size(), 0);
    std::memcpy(c.out.data(), head.data(), head.size());
    c.outStart = 0;
    c.outEnd = head.size();
    const int channels = stream_.description.channelCount;
    for (const int offset : {4, 2}) {
        char* at = c.out.data() + c.outEnd;
        if (isFloat) {
            const std::vector<float> pattern = LslFloatTestPattern(channels, offset);
            c.outEnd +=
                EncodeFloatSample(at, true, kLslTestPatternStamp, pattern.data(), channels, c.swap);
        } else {
            const std::vector<std::string> pattern = LslStringTestPattern(channels);
            const std::vector<std::string_view> views(pattern.begin(), pattern.end());
            c.outEnd +=
                EncodeStringSample(at, true, kLslTestPatternStamp, views.data(), channels, c.swap);
        }
    }
    c.words.assign(ring_->wordsPerSample(), 0);
    c.values.assign(static_cast<std::size_t>(channels), 0.0f);
    c.cursor = ring_->Written();
    c.contiguous = false;
    c.state = Connection::State::Feed;
    const int on = 1;
    ::setsockopt(c.fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(c.fd.get(), SOL_SOCKET, SO_SNDBUF, &kFeedSocketBuffer, sizeof kFeedSocketBuffer);
    counters_->served.fetch_add(1, std::memory_order_relaxed);
    counters_->now.fetch_add(1, std::memory_order_relaxed);
}

void LslTcpServer::Fill(Connection& c) {
    const bool isFloat = stream_.description.format == LslFormat::Float32;
    const int channels = stream_.description.channelCount;
    const std::size_t textBytes = (ring_->wordsPerSample() - 2) * 8;
    const std::size_t largest =
        isFloat ? LslFloatSampleBytes(channels, true) : LslStringSampleBytes(textBytes);
    if (c.outStart == c.outEnd) {
        c.outStart = c.outEnd = 0;
    } else if (c.out.size() - c.outEnd < largest && c.outStart > 0) {
        std::memmove(c.out.data(), c.out.data() + c.outStart, c.outEnd - c.outStart);
        c.outEnd -= c.outStart;
        c.outStart = 0;
    }
    const uint64_t written = ring_->Written();
    while (c.cursor < written) {
        if (written - c.cursor > c.cap) {
            // The receiver fell behind: its oldest samples go, as with liblsl.
            const uint64_t skip = written - c.cap - c.cursor;
            counters_->dropped.fetch_add(skip, std::memory_order_relaxed);
            c.cursor += skip;
            c.contiguous = false;
            continue;
        }
        if (c.out.size() - c.outEnd < largest) break;
        if (!ring_->Copy(c.cursor, c.words.data())) {
            counters_->dropped.fetch_add(1, std::memory_order_relaxed);
            ++c.cursor;
            c.contiguous = false;
            continue;
        }
        const double stamp = std::bit_cast<double>(c.words[0]);
        // After a gap the receiver cannot deduce the stamp: it is sent.
        const bool stamped = (c.words[1] & kLslRingDeduced) == 0 || !c.contiguous;
        char* at = c.out.data() + c.outEnd;
        if (isFloat) {
            std::memcpy(c.values.data(), &c.words[2], 4 * static_cast<std::size_t>(channels));
            c.outEnd += EncodeFloatSample(at, stamped, stamp, c.values.data(), channels, c.swap);
        } else {
            const std::size_t length = std::min<std::size_t>(c.words[1] >> 32, textBytes);
            const std::string_view text(reinterpret_cast<const char*>(&c.words[2]), length);
            c.outEnd += EncodeStringSample(at, stamped, stamp, &text, 1, c.swap);
        }
        ++c.cursor;
        c.contiguous = true;
    }
}

void LslTcpServer::Flush(Connection& c) {
    while (c.outStart < c.outEnd) {
        const ssize_t n = ::send(c.fd.get(), c.out.data() + c.outStart, c.outEnd - c.outStart,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.outStart += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        CloseConnection(c);
        return;
    }
    if (c.state == Connection::State::Reply) CloseConnection(c);
}

void LslTcpServer::CloseConnection(Connection& c) {
    if (c.state == Connection::State::Closed) return;
    if (c.state == Connection::State::Feed) counters_->now.fetch_sub(1, std::memory_order_relaxed);
    c.state = Connection::State::Closed;
    c.fd = LslFd();
}

}  // namespace tamix
