// The receiving side, as far as tamix-lsl and the tests need it: resolve, info, feed, time probes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "streaming/LslInfoXml.h"
#include "streaming/LslNetwork.h"
#include "streaming/LslSockets.h"

namespace tamix {

// A stream that answered a resolve query.
struct LslFoundStream {
    std::string shortInfo;  // its XML
    LslParsedInfo info;
    std::string address;  // where the answer came from (dotted IPv4)
};

// Sends `query` (empty: every stream) until `minimum` distinct streams (by
// uid) answered or `seconds` passed, and returns those that did. Loopback
// queries go to the unicast ports of 127.0.0.1 only; Full also queries the
// multicast groups and the broadcast address. False with `error` only when
// the query cannot be sent at all.
bool LslResolve(std::string_view query, LslNetwork network, double seconds, std::size_t minimum,
                std::vector<LslFoundStream>& found, std::string& error);

// The query for a stream with this name, type or source id (an empty one is left out).
std::string LslQueryFor(std::string_view name, std::string_view type, std::string_view sourceId);

// The stream's full info (its XML with <desc>), over TCP.
bool LslFetchFullInfo(const LslFoundStream& stream, std::string& xml, std::string& error);

struct LslReceivedSample {
    double stamp = 0;
    bool deduced = false;       // the stamp was filled in at the nominal rate
    std::vector<float> values;  // a float32 stream
    std::string text;           // a string stream's first value
};

struct LslFeedOptions {
    int maxBufferSamples = 360000;  // what the outlet may hold back for this receiver
    int byteOrder = 0;              // 1234 or 4321 to ask for; 0: this machine's
    int receiveBufferBytes = 0;     // the socket's receive buffer; 0: the system's
};

// A subscription to a stream's samples (protocol 1.10), with the test
// patterns checked as liblsl checks them.
class LslFeed {
  public:
    bool Open(const LslFoundStream& stream, const LslFeedOptions& options, std::string& error);
    // The next sample, waiting up to `seconds`; false at the end of the feed
    // (`error` says why) or when none came in time (`error` empty).
    bool Next(LslReceivedSample& sample, double seconds, std::string& error);
    int byteOrder() const { return byteOrder_; }

  private:
    bool Fill(std::size_t bytes, double deadline, std::string& error);
    bool ReadSample(LslReceivedSample& sample, double deadline, std::string& error);

    LslFd fd_;
    std::string buffer_;
    std::size_t at_ = 0;
    bool isFloat_ = true;
    int channels_ = 0;
    double period_ = 0;
    double lastStamp_ = 0;
    bool swap_ = false;
    int byteOrder_ = 0;
};

struct LslClockProbe {
    double offset = 0;     // the outlet's clock minus ours, seconds
    double roundTrip = 0;  // seconds, less the outlet's own time
};
// Sends `count` time probes to the stream's service port and returns the
// answers that came within a second each.
bool LslProbeClock(const LslFoundStream& stream, int count, std::vector<LslClockProbe>& probes,
                   std::string& error);

}  // namespace tamix
