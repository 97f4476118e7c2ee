// The outlet on the loopback interface, read by the inlet side: resolving,
// info, samples and markers complete with their stamps, time probes, several
// receivers, one that stops reading, and requests that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "AllocationCounter.h"
#include "LslLoopback.h"
#include "streaming/LslClock.h"
#include "streaming/LslInlet.h"
#include "streaming/LslOutlet.h"

namespace tamix {
namespace {

using test::RawConnection;
using test::WaitFor;

class LslOutletTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::KeepToLoopback(); }

    void OpenOutlet(const LslStreamDescription& d,
                    const LslOutletOptions& options = test::LoopbackOptions()) {
        ASSERT_EQ(options.network, LslNetwork::LoopbackOnly);
        std::string error;
        ASSERT_TRUE(outlet.Open(d, options, error)) << error;
        ASSERT_EQ(outlet.network(), LslNetwork::LoopbackOnly);
    }

    LslFoundStream Find(const std::string& query) {
        std::vector<LslFoundStream> found;
        std::string error;
        EXPECT_TRUE(LslResolve(query, LslNetwork::LoopbackOnly, 20, 1, found, error)) << error;
        return found.empty() ? LslFoundStream{} : found.front();
    }

    void OpenFeed(LslFeed& feed, const LslFoundStream& stream, const LslFeedOptions& options = {}) {
        std::string error;
        ASSERT_TRUE(feed.Open(stream, options, error)) << error;
    }

    LslOutlet outlet;
};

TEST_F(LslOutletTest, IsFoundByNameTypeSourceIdAndTheEmptyQueryOnly) {
    const std::string name = test::UniqueName("resolve");
    LslStreamDescription d = test::AnalogueStream(name, 2, 100);
    d.type = name + "-type";  // no other stream on the host has it
    OpenOutlet(d);
    const struct {
        std::string query;
        bool found;
    } cases[] = {
        {"name='" + name + "'", true},
        {"type='" + d.type + "'", true},
        {"source_id='" + d.sourceId + "'", true},
        {"session_id='default' and name='" + name + "'", true},
        {"", true},
        {"name='" + name + "-wrong'", false},
        {"name='" + name + "' and type='EEG'", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        std::vector<LslFoundStream> found;
        std::string error;
        // The empty query may find other streams of the host too: wait for all.
        const double wait = c.found && !c.query.empty() ? 20 : 1.5;
        ASSERT_TRUE(LslResolve(c.query, LslNetwork::LoopbackOnly, wait, c.query.empty() ? 1000 : 1,
                               found, error))
            << error;
        const LslFoundStream* ours = nullptr;
        for (const LslFoundStream& f : found) {
            if (f.info.Field("uid") == outlet.uid()) ours = &f;
        }
        ASSERT_EQ(ours != nullptr, c.found);
        if (ours == nullptr) continue;
        EXPECT_EQ(ours->address, "127.0.0.1");
        EXPECT_EQ(ours->info.Field("name"), name);
        EXPECT_EQ(ours->info.v4DataPort, outlet.dataPort());
        EXPECT_EQ(ours->info.v4ServicePort, outlet.servicePort());
        EXPECT_TRUE(ours->info.channels.empty()) << "shortinfo has no <desc> contents";
    }
}

TEST_F(LslOutletTest, FullInfoHasTheChannelsAndTheInstrument) {
    const std::string name = test::UniqueName("info");
    OpenOutlet(test::AnalogueStream(name, 3, 500));
    const LslFoundStream stream = Find("name='" + name + "'");
    std::string xml;
    std::string error;
    ASSERT_TRUE(LslFetchFullInfo(stream, xml, error)) << error;
    LslParsedInfo info;
    ASSERT_TRUE(ParseLslInfo(xml, info)) << xml;
    EXPECT_EQ(info.Field("type"), "Analog");
    EXPECT_EQ(info.Field("channel_format"), "float32");
    EXPECT_EQ(info.nominalRate, 500);
    ASSERT_EQ(info.channels.size(), 3u);
    EXPECT_EQ(info.channels[0].label, "In1");
    EXPECT_EQ(info.channels[0].unit, "V");
    EXPECT_EQ(info.channels[1].label, "In2");
    EXPECT_EQ(info.channels[1].unit, "kPa");
    EXPECT_EQ(info.model, "NORV40");
}

// Scan s holds s * channels + k in channel k: exact in float32 up to 2^24.
std::vector<float> Scans(int64_t first, int count, int channels) {
    std::vector<float> v;
    for (int64_t s = first; s < first + count; ++s) {
        for (int k = 0; k < channels; ++k) v.push_back(static_cast<float>(s * channels + k));
    }
    return v;
}

TEST_F(LslOutletTest, TwoReceiversGetTenSecondsCompleteWithTheirStamps) {
    const std::string name = test::UniqueName("feed");
    constexpr int kChannels = 4;
    constexpr double kRate = 1000;
    constexpr int kScans = 10000;
    constexpr int kChunk = 10;
    OpenOutlet(test::AnalogueStream(name, kChannels, kRate));
    const LslFoundStream stream = Find("name='" + name + "'");
    LslFeed feeds[2];
    OpenFeed(feeds[0], stream);
    LslFeedOptions bigEndian;
    bigEndian.byteOrder = 4321;  // the outlet converts for this one
    OpenFeed(feeds[1], stream, bigEndian);
    EXPECT_EQ(feeds[1].byteOrder(), 4321);
    ASSERT_TRUE(WaitFor([&] { return outlet.Receivers().now == 2; }));

    const double t0 = 5000.25;
    for (int first = 0; first < kScans; first += kChunk) {
        const std::vector<float> v = Scans(first, kChunk, kChannels);
        ASSERT_TRUE(
            outlet.Push(v.data(), v.size(), kChunk, t0 + (first + kChunk - 1) / kRate, true));
    }
    // Five more, each with its own stamp.
    const std::vector<float> tail = Scans(kScans, 5, kChannels);
    ASSERT_TRUE(outlet.Push(tail.data(), tail.size(), 5, t0 + (kScans + 4) / kRate, false));

    for (LslFeed& feed : feeds) {
        LslReceivedSample s;
        std::string error;
        for (int i = 0; i < kScans + 5; ++i) {
            ASSERT_TRUE(feed.Next(s, 20, error)) << "sample " << i << ": " << error;
            ASSERT_EQ(s.values, Scans(i, 1, kChannels)) << "sample " << i;
            // Pushed stamps exactly; deduced ones within the sum of a few periods' rounding.
            EXPECT_NEAR(s.stamp, t0 + i / kRate, 1e-9) << "sample " << i;
            EXPECT_EQ(s.deduced, i < kScans && i % kChunk != 0) << "sample " << i;
        }
        EXPECT_FALSE(feed.Next(s, 0.2, error));
        EXPECT_EQ(error, "");
    }
    EXPECT_EQ(outlet.Dropped(), 0u);
    EXPECT_EQ(outlet.Receivers().served, 2u);
}

TEST_F(LslOutletTest, MarkersArriveWithTheirStamps) {
    const std::string name = test::UniqueName("markers");
    LslStreamDescription d;
    d.name = name;
    d.type = kLslMarkerType;
    d.sourceId = name;
    d.format = LslFormat::String;
    d.channelCount = 1;
    LslOutletOptions options = test::LoopbackOptions();
    options.maxMarkerBytes = 400;
    OpenOutlet(d, options);
    const LslFoundStream stream = Find("type='Markers' and name='" + name + "'");
    LslFeed feed;
    OpenFeed(feed, stream);
    ASSERT_TRUE(WaitFor([&] { return outlet.Receivers().now == 1; }));
    const std::string longText = std::string(299, 'x') + "\xC3\xA9";  // 301 bytes, 4-byte length
    const std::vector<std::pair<std::string, double>> markers = {{"Start", 10.5},
                                                                 {"Pause time", 12.25},
                                                                 {"", 13},
                                                                 {"Druck \xC3\xBC"
                                                                  "ber 5 kPa",
                                                                  14},
                                                                 {longText, 20}};
    for (const auto& [text, stamp] : markers) ASSERT_TRUE(outlet.PushMarker(text, stamp));
    EXPECT_FALSE(outlet.Push(nullptr, 0, 1, 1.0, false)) << "no numbers on a marker stream";
    for (const auto& [text, stamp] : markers) {
        LslReceivedSample s;
        std::string error;
        ASSERT_TRUE(feed.Next(s, 20, error)) << error;
        EXPECT_EQ(s.text, text);
        EXPECT_EQ(s.stamp, stamp);
        EXPECT_FALSE(s.deduced);
    }
}

TEST_F(LslOutletTest, TimeProbesAreAnsweredWithOffsetsNearZero) {
    const std::string name = test::UniqueName("clock");
    OpenOutlet(test::AnalogueStream(name, 1, 10));
    const LslFoundStream stream = Find("name='" + name + "'");
    std::vector<LslClockProbe> probes;
    std::string error;
    ASSERT_TRUE(LslProbeClock(stream, 8, probes, error)) << error;
    ASSERT_GE(probes.size(), 6u) << "a probe may be late on a loaded machine, not most";
    for (const LslClockProbe& p : probes) {
        // One host, one clock: the offset is within half the round trip of 0.
        EXPECT_GE(p.roundTrip, 0);
        EXPECT_LT(p.roundTrip, 1);
        EXPECT_LE(std::abs(p.offset), p.roundTrip / 2 + 1e-6);
    }
    // The probe with the shortest round trip, as receivers take it.
    const auto best =
        std::min_element(probes.begin(), probes.end(),
                         [](const auto& a, const auto& b) { return a.roundTrip < b.roundTrip; });
    EXPECT_LT(std::abs(best->offset), 0.05);
}

TEST_F(LslOutletTest, AReceiverThatStopsReadingSlowsNothingAndItsDropsAreCounted) {
    const std::string name = test::UniqueName("stalled");
    constexpr int kChannels = 4;
    constexpr double kRate = 1000;
    constexpr int kPushes = 100000;
    constexpr int kScansPerPush = 2;  // the second one's stamp deduced
    constexpr int kScans = kPushes * kScansPerPush;
    // Odd, so that the feed resumes after a gap at a scan whose stamp was deducible.
    constexpr int kStalledBuffer = 1001;
    LslOutletOptions options = test::LoopbackOptions();
    options.bufferSeconds = 240;  // the reading receiver must not fall behind the ring
    OpenOutlet(test::AnalogueStream(name, kChannels, kRate), options);
    const LslFoundStream stream = Find("name='" + name + "'");
    LslFeed stalled;
    LslFeedOptions small;
    small.maxBufferSamples = kStalledBuffer;
    small.receiveBufferBytes = 4096;
    OpenFeed(stalled, stream, small);
    LslFeed reading;
    OpenFeed(reading, stream);
    ASSERT_TRUE(WaitFor([&] { return outlet.Receivers().now == 2; }));

    std::atomic<int> received{0};
    std::atomic<bool> allEqual{true};
    std::thread reader([&] {
        LslReceivedSample s;
        std::string error;
        for (int i = 0; i < kScans && reading.Next(s, 60, error); ++i) {
            if (s.values != Scans(i, 1, kChannels)) allEqual = false;
            received = i + 1;
        }
    });
    const double t0 = 100;
    std::vector<std::vector<float>> pushes;
    pushes.reserve(kPushes);
    for (int i = 0; i < kPushes; ++i) {
        pushes.push_back(Scans(int64_t{i} * kScansPerPush, kScansPerPush, kChannels));
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPushes; ++i) {
        const double last = t0 + (i * kScansPerPush + kScansPerPush - 1) / kRate;
        outlet.Push(pushes[i].data(), pushes[i].size(), kScansPerPush, last, true);
    }
    const double pushSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Loose: 100000 pushes take milliseconds, whoever reads or not.
    EXPECT_LT(pushSeconds, 5.0);
    reader.join();
    EXPECT_EQ(received.load(), kScans);
    EXPECT_TRUE(allEqual.load());

    // The stalled one holds at most its buffer, the socket's and the feed's bytes.
    ASSERT_TRUE(WaitFor([&] { return outlet.Dropped() > kScans / 2; }));
    EXPECT_LE(outlet.Dropped(), static_cast<uint64_t>(kScans - kStalledBuffer));
    // When it reads again, what it gets after the gap carries its own stamp.
    LslReceivedSample s;
    std::string error;
    int got = 0;
    int gaps = 0;
    int64_t last = -1;
    while (stalled.Next(s, 1, error)) {
        const auto scan = static_cast<int64_t>(s.values[0]) / kChannels;
        ASSERT_GT(scan, last);
        if (scan != last + 1) {
            ++gaps;
            EXPECT_FALSE(s.deduced);
        }
        EXPECT_NEAR(s.stamp, t0 + scan / kRate, 1e-9) << "scan " << scan;
        last = scan;
        ++got;
    }
    EXPECT_EQ(last, kScans - 1);
    EXPECT_GE(gaps, 1);
    EXPECT_EQ(static_cast<uint64_t>(got) + outlet.Dropped(), static_cast<uint64_t>(kScans));
}

TEST_F(LslOutletTest, PushingAllocatesNothing) {
    if (!test::AllocationCountingAvailable()) GTEST_SKIP() << "sanitizer build";
    const std::string name = test::UniqueName("alloc");
    OpenOutlet(test::AnalogueStream(name, 8, 1000));
    const std::vector<float> v = Scans(0, 8, 8);
    std::atomic<bool> go{false};
    std::atomic<bool> done{false};
    std::thread pusher([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 20000; ++i) outlet.Push(v.data(), v.size(), 8, i * 0.008, true);
        done = true;
    });
    test::StartCountingAllocations();
    go = true;
    while (!done) std::this_thread::yield();
    const long allocations = test::StopCountingAllocations();
    pusher.join();
    EXPECT_EQ(allocations, 0);
}

TEST_F(LslOutletTest, RefusesFeedsItDoesNotSpeakAndStreamsItDoesNotServe) {
    const std::string name = test::UniqueName("refuse");
    OpenOutlet(test::AnalogueStream(name, 2, 100));
    const struct {
        std::string request;
        std::string answer;
    } cases[] = {
        {"LSL:streamfeed\r\n360000 0\r\n", "LSL/110 505 Version not supported\r\n"},
        {"LSL:streamfeed/200 " + outlet.uid() + "\r\n\r\n",
         "LSL/110 505 Version not supported\r\n"},
        {"LSL:streamfeed/100 " + outlet.uid() + "\r\n\r\n",
         "LSL/110 505 Version not supported\r\n"},
        {"LSL:streamfeed/110 not-this-uid\r\n\r\n", "LSL/110 404 Not found\r\n"},
        {"LSL:streamfeed/110 " + outlet.uid() + "\r\nValue-Size: 8\r\n\r\n",
         "LSL/110 505 Version not supported\r\n"},
        {"LSL:shortinfo\r\nname='" + name + "-other'\r\n", ""},
        {"HELLO\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        RawConnection raw(outlet.dataPort());
        ASSERT_TRUE(raw.connected());
        ASSERT_TRUE(raw.Send(c.request));
        EXPECT_EQ(raw.Read(4096), c.answer);
        EXPECT_TRUE(raw.closed());
    }
    EXPECT_EQ(outlet.Receivers().served, 0u);
}

TEST_F(LslOutletTest, HostileRequestsLeaveItServing) {
    const std::string name = test::UniqueName("hostile");
    OpenOutlet(test::AnalogueStream(name, 2, 100));
    // Datagrams to the service port that are no query or probe it can answer.
    const std::string datagrams[] = {
        "",
        "LSL:shortinfo",
        "LSL:shortinfo\r\n\r\n",
        "LSL:shortinfo\r\nname='x'\r\nnot-a-port 1\r\n",
        "LSL:shortinfo\r\n\r\n99999 1\r\n",
        "LSL:shortinfo\r\n((((((((\r\n1 1\r\n",
        "LSL:timedata\r\n",
        "LSL:timedata\r\nwave t0\r\n",
        std::string(60000, 'L'),
        std::string("LSL:timedata\r\n\0\0\0", 17),
    };
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(outlet.servicePort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string& d : datagrams) {
        ::sendto(udp, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ::close(udp);
    // Connections that say nothing, too much, or nonsense.
    RawConnection silent(outlet.dataPort());
    RawConnection endless(outlet.dataPort());
    ASSERT_TRUE(endless.Send(std::string(20000, 'x')));
    EXPECT_EQ(endless.Read(1, 5), "");  // closed at once, long before the 10 s for a request
    EXPECT_TRUE(endless.closed());
    for (const char* request :
         {"\r\n", "LSL:streamfeed/\r\n\r\n", "LSL:streamfeed/abc d e\r\n\r\n",
          "LSL:streamfeed/110\r\nMax-Buffer-Length: -5\r\nValue-Size: x\r\n\r\n"}) {
        RawConnection raw(outlet.dataPort());
        ASSERT_TRUE(raw.Send(request));
        raw.Read(100000, 2);
        EXPECT_TRUE(raw.closed() || std::string(request).find("Max-Buffer") != std::string::npos)
            << request;
    }
    // Still found, still feeding, still probed.
    const LslFoundStream stream = Find("name='" + name + "'");
    LslFeed feed;
    OpenFeed(feed, stream);
    ASSERT_TRUE(WaitFor([&] { return outlet.Receivers().now >= 1; }));
    const std::vector<float> v = Scans(0, 3, 2);
    ASSERT_TRUE(outlet.Push(v.data(), v.size(), 3, 7.0, true));
    LslReceivedSample s;
    std::string error;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(feed.Next(s, 20, error)) << error;
        EXPECT_EQ(s.values, Scans(i, 1, 2));
    }
    std::vector<LslClockProbe> probes;
    ASSERT_TRUE(LslProbeClock(stream, 2, probes, error)) << error;
    EXPECT_FALSE(probes.empty());
}

// The bytes of `value` with the most significant first when `big`.
template <typename T>
std::string Bytes(T value, bool big) {
    char b[sizeof(T)];
    std::memcpy(b, &value, sizeof(T));
    std::string out(b, sizeof(T));
    if (big) std::reverse(out.begin(), out.end());
    return out;
}

TEST_F(LslOutletTest, FeedsOpenWithTheTestPatternsInTheAgreedByteOrder) {
    const std::string name = test::UniqueName("pattern");
    constexpr int kChannels = 3;
    OpenOutlet(test::AnalogueStream(name, kChannels, 100));
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian receiver" : "little-endian receiver");
        RawConnection raw(outlet.dataPort());
        ASSERT_TRUE(raw.Send("LSL:streamfeed/110 " + outlet.uid() + "\r\nNative-Byte-Order: " +
                             (big ? "4321" : "1234") + "\r\nValue-Size: 4\r\n\r\n"));
        const std::string head = "LSL/110 200 OK\r\nUID: " + outlet.uid() +
                                 "\r\nByte-Order: " + (big ? "4321" : "1234") +
                                 "\r\nSuppress-Subnormals: 0\r\nData-Protocol-Version: 110\r\n\r\n";
        // liblsl's patterns: 123456.789, then channel k = k + offset, negated when k is odd.
        std::string patterns;
        for (const int offset : {4, 2}) {
            patterns += '\x02';
            patterns += Bytes(123456.789, big);
            for (int k = 0; k < kChannels; ++k) {
                const float magnitude = static_cast<float>(k + offset);
                patterns += Bytes(k % 2 == 0 ? magnitude : -magnitude, big);
            }
        }
        EXPECT_EQ(raw.Read(head.size() + patterns.size()), head + patterns);
    }
    // A marker stream's pattern: the text "10" (channel 0 of liblsl's string pattern).
    LslOutlet markers;
    LslStreamDescription d;
    d.name = test::UniqueName("pattern-markers");
    d.type = kLslMarkerType;
    d.format = LslFormat::String;
    d.channelCount = 1;
    std::string error;
    ASSERT_TRUE(markers.Open(d, test::LoopbackOptions(), error)) << error;
    RawConnection raw(markers.dataPort());
    ASSERT_TRUE(raw.Send("LSL:streamfeed/110\r\nValue-Size: 32\r\n\r\n"));
    const std::string head = "LSL/110 200 OK\r\nUID: " + markers.uid() +
                             "\r\nByte-Order: 1234\r\nSuppress-Subnormals: 0\r\n"
                             "Data-Protocol-Version: 110\r\n\r\n";
    const std::string one = "\x02" + Bytes(123456.789, false) +
                            std::string(
                                "\x01\x02"
                                "10");
    EXPECT_EQ(raw.Read(head.size() + 2 * one.size()), head + one + one);
}

}  // namespace
}  // namespace tamix
