// The LSL protocol's pieces without a network: queries, the info XML, the
// bytes of samples and test patterns, and the loopback switch.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "streaming/LslInfoXml.h"
#include "streaming/LslNetwork.h"
#include "streaming/LslQuery.h"
#include "streaming/LslSampleFormat.h"
#include "streaming/LslSampleRing.h"

namespace tamix {
namespace {

LslStreamDescription Description() {
    LslStreamDescription d;
    d.name = "Tamix KPR-T310";
    d.type = kLslAnalogueType;
    d.sourceId = "A30008SN";
    d.channelCount = 2;
    d.nominalRate = 250;
    d.channels = {{"Pressure", "kPa", "Analog", {{"input", "1"}, {"calibration", "2.5 0.1"}}},
                  {"R&D <x>", "V", "Analog", {}}};
    d.manufacturer = "Norvale";
    d.model = "KPR-T310";
    d.extra = {{"software", "Tamix"}};
    return d;
}

LslStreamIdentity Identity() {
    LslStreamIdentity id;
    id.uid = "0d8f6f4e-1b2c-4d5e-8f90-123456789abc";
    id.hostname = "bench";
    id.createdAt = 1234.5;
    id.v4DataPort = 16572;
    id.v4ServicePort = 16573;
    return id;
}

TEST(LslQueryTest, MatchesAsLiblslPredicates) {
    const auto fields = LslInfoFields(Description(), Identity());
    const struct {
        const char* query;
        bool matches;
    } cases[] = {
        {"", true},
        {"   ", true},
        {"name='Tamix KPR-T310'", true},
        {"name=\"Tamix KPR-T310\"", true},
        {"name='Tamix'", false},
        {"type='Analog'", true},
        {"type='EEG'", false},
        {"source_id='A30008SN'", true},
        {"source_id='A30008SG'", false},
        {"session_id='default' and name='Tamix KPR-T310'", true},
        {"session_id='default' and (type='Analog')", true},
        {"session_id='other' and type='Analog'", false},
        {"type='EEG' or type='Analog'", true},
        {"not(type='EEG')", true},
        {"type!='Analog'", false},
        {"channel_count=2", true},
        {"channel_count=3", false},
        {"nominal_srate=250", true},
        {"missing='x'", false},
        {"name=", false},
        {"name='unterminated", false},
        {"(type='Analog'", false},
        {"type='Analog' trailing", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LslQueryMatches(c.query, fields), c.matches) << c.query;
    }
}

TEST(LslInfoXmlTest, ShortAndFullInfoCarryTheFieldsAndTheDescription) {
    const std::string shortInfo = LslInfoXml(Description(), Identity(), false);
    const std::string fullInfo = LslInfoXml(Description(), Identity(), true);
    EXPECT_EQ(
        shortInfo.rfind("<?xml version=\"1.0\"?>\n<info>\n\t<name>Tamix KPR-T310</name>\n", 0), 0u)
        << shortInfo;
    EXPECT_NE(shortInfo.find("\t<channel_format>float32</channel_format>\n"), std::string::npos);
    EXPECT_NE(shortInfo.find("\t<nominal_srate>250</nominal_srate>\n"), std::string::npos);
    EXPECT_NE(shortInfo.find("\t<v4data_port>16572</v4data_port>\n"), std::string::npos);
    EXPECT_NE(shortInfo.find("\t<desc />\n</info>"), std::string::npos);
    EXPECT_EQ(shortInfo.find("Pressure"), std::string::npos);
    EXPECT_NE(fullInfo.find("<label>R&amp;D &lt;x&gt;</label>"), std::string::npos) << fullInfo;

    LslParsedInfo parsed;
    ASSERT_TRUE(ParseLslInfo(fullInfo, parsed));
    EXPECT_EQ(parsed.Field("name"), "Tamix KPR-T310");
    EXPECT_EQ(parsed.Field("uid"), Identity().uid);
    EXPECT_EQ(parsed.Field("version"), "1.1000000000000001");
    EXPECT_EQ(parsed.channelCount, 2);
    EXPECT_EQ(parsed.nominalRate, 250);
    EXPECT_EQ(parsed.v4ServicePort, 16573);
    ASSERT_EQ(parsed.channels.size(), 2u);
    EXPECT_EQ(parsed.channels[0].label, "Pressure");
    EXPECT_EQ(parsed.channels[0].unit, "kPa");
    ASSERT_EQ(parsed.channels[0].extra.size(), 2u);
    EXPECT_EQ(parsed.channels[0].extra[1].name, "calibration");
    EXPECT_EQ(parsed.channels[0].extra[1].value, "2.5 0.1");
    EXPECT_EQ(parsed.channels[1].label, "R&D <x>");
    EXPECT_EQ(parsed.manufacturer, "Norvale");
    EXPECT_EQ(parsed.model, "KPR-T310");
}

TEST(LslInfoXmlTest, DescriptionsThatCannotBeServedAreRefused) {
    std::string error;
    EXPECT_TRUE(CheckDescription(Description(), error)) << error;
    LslStreamDescription d = Description();
    d.name.clear();
    EXPECT_FALSE(CheckDescription(d, error));
    d = Description();
    d.channelCount = 3;
    EXPECT_FALSE(CheckDescription(d, error));
    EXPECT_NE(error.find("2 channel descriptions for 3 channels"), std::string::npos) << error;
    d = Description();
    d.extra = {{"1st", "x"}};
    EXPECT_FALSE(CheckDescription(d, error));
    d = Description();
    d.format = LslFormat::String;
    EXPECT_FALSE(CheckDescription(d, error));
}

// The bytes of a value, little or big end first, written out by hand.
void AppendBytes(std::vector<unsigned char>& out, const void* value, std::size_t size, bool big) {
    unsigned char b[8];
    std::memcpy(b, value, size);
    for (std::size_t i = 0; i < size; ++i) out.push_back(b[big ? size - 1 - i : i]);
}

TEST(LslSampleFormatTest, SamplesAreTagThenStampThenValuesInTheAgreedOrder) {
    const float values[3] = {1.5f, -2.0f, 1e-3f};
    for (const bool big : {false, true}) {
        for (const bool stamped : {false, true}) {
            SCOPED_TRACE(std::to_string(big) + std::to_string(stamped));
            std::vector<unsigned char> expected{static_cast<unsigned char>(stamped ? 2 : 1)};
            const double stamp = 98765.4321;
            if (stamped) AppendBytes(expected, &stamp, 8, big);
            for (const float v : values) AppendBytes(expected, &v, 4, big);
            char out[64];
            const std::size_t n = EncodeFloatSample(out, stamped, stamp, values, 3, big);
            ASSERT_EQ(n, expected.size());
            ASSERT_EQ(n, LslFloatSampleBytes(3, stamped));
            EXPECT_EQ(std::memcmp(out, expected.data(), n), 0);
        }
    }
    // A string: the length as a one-byte count of one byte, or four bytes.
    const std::string longText(300, 'x');
    const std::string_view texts[2] = {"Start", longText};
    char out[400];
    const std::size_t n = EncodeStringSample(out, true, 2.0, texts, 2, false);
    std::vector<unsigned char> expected{2};
    const double two = 2.0;
    AppendBytes(expected, &two, 8, false);
    expected.insert(expected.end(), {1, 5, 'S', 't', 'a', 'r', 't', 4, 0x2C, 0x01, 0, 0});
    expected.insert(expected.end(), longText.begin(), longText.end());
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(std::memcmp(out, expected.data(), n), 0);
}

TEST(LslSampleFormatTest, TestPatternsFollowTheirDefinition) {
    // Channel k holds k + offset, negated on odd channels; strings (k + 10).
    EXPECT_EQ(LslFloatTestPattern(5, 4), (std::vector<float>{4, -5, 6, -7, 8}));
    EXPECT_EQ(LslFloatTestPattern(3, 2), (std::vector<float>{2, -3, 4}));
    EXPECT_EQ(LslStringTestPattern(3), (std::vector<std::string>{"10", "-11", "12"}));
    EXPECT_EQ(kLslTestPatternStamp, 123456.789);
}

TEST(LslNetworkTest, TheEnvironmentCanOnlyNarrowToLoopback) {
    const struct {
        LslNetwork requested;
        const char* variable;
        LslNetwork effective;
    } cases[] = {
        {LslNetwork::Full, nullptr, LslNetwork::Full},
        {LslNetwork::Full, "", LslNetwork::Full},
        {LslNetwork::Full, "0", LslNetwork::Full},
        {LslNetwork::Full, "1", LslNetwork::LoopbackOnly},
        {LslNetwork::Full, "yes", LslNetwork::LoopbackOnly},
        {LslNetwork::LoopbackOnly, nullptr, LslNetwork::LoopbackOnly},
        {LslNetwork::LoopbackOnly, "0", LslNetwork::LoopbackOnly},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NarrowedNetwork(c.requested, c.variable), c.effective)
            << (c.variable ? c.variable : "(unset)");
    }
}

TEST(LslSampleRingTest, ReadersOvertakenByTheWriterLearnSo) {
    LslSampleRing ring(5, 1);  // rounded up to 8
    ASSERT_EQ(ring.capacity(), 8u);
    for (uint64_t i = 0; i < 20; ++i) {
        const uint64_t at = ring.Claim(1);
        ASSERT_EQ(at, i);
        ring.Put(at, 0, 100 + i);
        ring.Publish(at + 1);
    }
    uint64_t word = 0;
    EXPECT_EQ(ring.Written(), 20u);
    EXPECT_TRUE(ring.Copy(12, &word));
    EXPECT_EQ(word, 112u);
    EXPECT_TRUE(ring.Copy(19, &word));
    EXPECT_EQ(word, 119u);
    // Sample 11's slot now holds 19: overwritten.
    EXPECT_FALSE(ring.Copy(11, &word));
    // A claim in progress overwrites the slot of 12 before it is published.
    ring.Claim(1);
    EXPECT_FALSE(ring.Copy(12, &word));
    EXPECT_TRUE(ring.Copy(13, &word));
}

}  // namespace
}  // namespace tamix
