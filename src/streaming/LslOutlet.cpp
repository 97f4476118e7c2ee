#include "streaming/LslOutlet.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "streaming/LslClock.h"
#include "streaming/LslSampleRing.h"
#include "streaming/LslTcpServer.h"
#include "streaming/LslUdpResponder.h"

namespace tamix {
namespace {

std::string RandomUid() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<uint64_t>(device()) << 32) ^ device() ^
                              static_cast<uint64_t>(LslClock() * 1e9));
    const uint64_t high = (generator() & ~0xF000ULL) | 0x4000ULL;       // version 4
    const uint64_t low = (generator() & ~(3ULL << 62)) | (2ULL << 62);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(high >> 32), static_cast<unsigned>((high >> 16) & 0xFFFF),
                  static_cast<unsigned>(high & 0xFFFF), static_cast<unsigned>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

// The longest start of `text` of at most `bytes` bytes that ends on a UTF-8 character boundary.
std::string_view CutAtCharacter(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

struct LslOutlet::State {
    LslStreamDescription description;
    LslNetwork network = LslNetwork::LoopbackOnly;
    LslStreamIdentity identity;
    std::string fullInfo;
    std::unique_ptr<LslSampleRing> ring;
    LslServerCounters counters;
    LslUdpResponder udp;
    LslTcpServer tcp;
    double period = 0;
    std::size_t textBytes = 0;
};

LslOutlet::LslOutlet() = default;

LslOutlet::~LslOutlet() {
    Close();
}

bool LslOutlet::Open(const LslStreamDescription& description, const LslOutletOptions& options,
                     std::string& error) {
    Close();
    if (!CheckDescription(description, error)) return false;
    auto s = std::make_unique<State>();
    s->description = description;
    s->network = EffectiveNetwork(options.network);
    const auto fail = [&](const std::string& reason) {
        error = "LSL stream \"" + description.name + "\": " + reason;
        return false;
    };
    std::string reason;
    if (!s->tcp.Bind(s->network, reason) || !s->udp.Bind(s->network, reason)) return fail(reason);

    const bool regular = description.nominalRate > 0;
    s->period = regular ? 1.0 / description.nominalRate : 0;
    std::size_t samples = options.irregularBufferSamples;
    if (regular)
        samples = static_cast<std::size_t>(options.bufferSeconds * description.nominalRate);
    samples = std::max<std::size_t>(samples, 64);
    std::size_t payloadWords = (static_cast<std::size_t>(description.channelCount) + 1) / 2;
    if (description.format == LslFormat::String) {
        payloadWords = (options.maxMarkerBytes + 7) / 8;
        s->textBytes = payloadWords * 8;
    }
    // One sample more than a receiver may lag, so that its oldest is whole.
    s->ring = std::make_unique<LslSampleRing>(samples + 1, 2 + payloadWords);

    s->identity.uid = RandomUid();
    s->identity.sessionId = options.sessionId;
    s->identity.hostname = HostName();
    s->identity.createdAt = LslClock();
    s->identity.v4DataPort = s->tcp.dataPort();
    s->identity.v4ServicePort = s->udp.servicePort();
    s->fullInfo = LslInfoXml(description, s->identity, true);

    LslTcpServer::Stream stream;
    stream.description = description;
    stream.fields = LslInfoFields(description, s->identity);
    stream.uid = s->identity.uid;
    stream.shortInfo = LslInfoXml(description, s->identity, false);
    stream.fullInfo = s->fullInfo;
    stream.maxBuffered = samples;
    const std::map<std::string, std::string> fields = stream.fields;
    const std::string shortInfo = stream.shortInfo;
    if (!s->tcp.Start(std::move(stream), s->ring.get(), &s->counters, reason) ||
        !s->udp.Start(fields, shortInfo, reason)) {
        return fail(reason);
    }
    state_ = std::move(s);
    return true;
}

void LslOutlet::Close() {
    if (!state_) return;
    state_->udp.Stop();
    state_->tcp.Stop();
    state_.reset();
}

bool LslOutlet::isOpen() const {
    return state_ != nullptr;
}

bool LslOutlet::Push(const float* values, std::size_t valueCount, std::size_t scans,
                     double lastStamp, bool deduce) {
    if (!state_ || state_->description.format != LslFormat::Float32 || scans == 0) return false;
    const auto channels = static_cast<std::size_t>(state_->description.channelCount);
    if (valueCount != scans * channels) return false;
    LslSampleRing& ring = *state_->ring;
    const bool deducible = deduce && state_->period > 0;
    const uint64_t first = ring.Claim(scans);
    for (std::size_t i = 0; i < scans; ++i) {
        const uint64_t sample = first + i;
        const double stamp = lastStamp - static_cast<double>(scans - 1 - i) * state_->period;
        ring.Put(sample, 0, std::bit_cast<uint64_t>(stamp));
        ring.Put(sample, 1, deducible && i > 0 ? kLslRingDeduced : 0);
        const float* scan = values + i * channels;
        for (std::size_t k = 0; k < channels; k += 2) {
            float pair[2] = {scan[k], k + 1 < channels ? scan[k + 1] : 0.0f};
            uint64_t word = 0;
            std::memcpy(&word, pair, sizeof word);
            ring.Put(sample, 2 + k / 2, word);
        }
    }
    ring.Publish(first + scans);
    return true;
}

bool LslOutlet::PushMarker(std::string_view text, double stamp) {
    if (!state_ || state_->description.format != LslFormat::String) return false;
    const std::string_view kept = CutAtCharacter(text, state_->textBytes);
    LslSampleRing& ring = *state_->ring;
    const uint64_t sample = ring.Claim(1);
    ring.Put(sample, 0, std::bit_cast<uint64_t>(stamp));
    ring.Put(sample, 1, static_cast<uint64_t>(kept.size()) << 32);
    for (std::size_t at = 0; at < kept.size(); at += 8) {
        uint64_t word = 0;
        std::memcpy(&word, kept.data() + at, std::min<std::size_t>(8, kept.size() - at));
        ring.Put(sample, 2 + at / 8, word);
    }
    ring.Publish(sample + 1);
    return true;
}

LslReceivers LslOutlet::Receivers() const {
    if (!state_) return {};
    return {state_->counters.served.load(), state_->counters.now.load()};
}

uint64_t LslOutlet::Dropped() const {
    return state_ ? state_->counters.dropped.load() : 0;
}

LslNetwork LslOutlet::network() const {
    return state_ ? state_->network : LslNetwork::LoopbackOnly;
}

uint16_t LslOutlet::dataPort() const {
    return state_ ? state_->identity.v4DataPort : 0;
}

uint16_t LslOutlet::servicePort() const {
    return state_ ? state_->identity.v4ServicePort : 0;
}

std::string LslOutlet::uid() const {
    return state_ ? state_->identity.uid : std::string();
}

std::string LslOutlet::fullInfo() const {
    return state_ ? state_->fullInfo : std::string();
}

}  // namespace tamix
