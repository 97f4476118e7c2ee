// A stream's description and its info XML (shortinfo, fullinfo), written and read back.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tamix {

// The instrument's inputs go out as "Analog": LSL's content types name a
// body signal (EEG, ECG, ...), but an input here carries whatever its sensor
// measures, in the units its calibration gives, so a type that claims one
// kind of signal would mislead programs that pick streams by type.
inline constexpr const char* kLslAnalogueType = "Analog";
// The type LSL programs (and the importers of their recordings) give events.
inline constexpr const char* kLslMarkerType = "Markers";

enum class LslFormat { Float32, String };
// The channel_format text of the info.
const char* LslFormatName(LslFormat format);

// An element of free meta data: <name>value</name>. Names must be XML names.
struct LslField {
    std::string name;
    std::string value;
};

struct LslChannel {
    std::string label;
    std::string unit;
    std::string type;
    std::vector<LslField> extra;  // e.g. the input and its calibration
};

// What the code that opens an outlet says about its stream.
struct LslStreamDescription {
    std::string name;
    std::string type;
    std::string sourceId;  // stable across runs, so a recorder can reconnect
    LslFormat format = LslFormat::Float32;
    int channelCount = 0;
    double nominalRate = 0;            // scans per second; 0 for an irregular stream
    std::vector<LslChannel> channels;  // empty, or one per channel
    std::string manufacturer;
    std::string model;
    std::vector<LslField> extra;  // further children of <desc>
};

// What the outlet adds once its sockets are bound.
struct LslStreamIdentity {
    std::string uid;
    std::string sessionId = "default";
    std::string hostname;
    double createdAt = 0;
    uint16_t v4DataPort = 0;
    uint16_t v4ServicePort = 0;
};

// False with `error` when the description cannot be served (no name, a
// channel count that does not fit the format, a field name that is no XML name).
bool CheckDescription(const LslStreamDescription& description, std::string& error);

// The info document; `full` with <desc>, else with an empty <desc /> (shortinfo).
std::string LslInfoXml(const LslStreamDescription& description, const LslStreamIdentity& identity,
                       bool full);

// The top-level fields of the info as its XML gives them (name -> text),
// which queries are matched against.
std::map<std::string, std::string> LslInfoFields(const LslStreamDescription& description,
                                                 const LslStreamIdentity& identity);

// An info read back from its XML (by the inlet).
struct LslParsedInfo {
    std::map<std::string, std::string> fields;  // top-level children of <info>
    std::vector<LslChannel> channels;           // from <desc><channels>
    std::string manufacturer;
    std::string model;
    // Fields read as numbers; 0 when missing or not a number.
    int channelCount = 0;
    double nominalRate = 0;
    uint16_t v4DataPort = 0;
    uint16_t v4ServicePort = 0;
    std::string Field(const std::string& name) const;
};
// False when the text holds no <info> element.
bool ParseLslInfo(std::string_view xml, LslParsedInfo& info);

// Text as XML character data (&, <, > escaped; control characters left out).
std::string XmlEscaped(std::string_view text);

// A number as the info writes it: the shortest text that reads back the same,
// whatever the locale.
std::string LslNumberText(double value);

}  // namespace tamix
