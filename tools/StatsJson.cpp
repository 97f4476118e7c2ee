#include "StatsJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace tamix::cli {
namespace {

using Json = nlohmann::ordered_json;

Json Finite(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

}  // namespace

std::string StatsJson(const RecordingInfo& info, const SpanStatistics& stats) {
    Json j;
    j["file"] = info.fileName;
    j["first_scan"] = stats.first;
    j["last_scan"] = stats.last;
    j["from"] = Finite(static_cast<double>(stats.first) * info.period);
    j["to"] = Finite(static_cast<double>(stats.last) * info.period);
    j["duration"] = Finite(stats.duration);
    Json channels = Json::array();
    for (const ChannelStatistics& c : stats.channels) {
        channels.push_back({{"name", c.name},
                            {"unit", c.unit},
                            {"scans", c.scans},
                            {"min", Finite(c.min)},
                            {"max", Finite(c.max)},
                            {"pp", Finite(c.pp)},
                            {"mean", Finite(c.mean)},
                            {"rms", Finite(c.rms)},
                            {"sd", Finite(c.sd)},
                            {"freq_hz", c.frequencyHz ? Finite(*c.frequencyHz) : Json(nullptr)}});
    }
    j["channels"] = std::move(channels);
    Json notes = Json::array();
    for (const std::string& note : stats.notes) notes.push_back(note);
    j["notes"] = std::move(notes);
    // Names come from files others wrote: bytes that are not UTF-8 become U+FFFD.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tamix::cli
