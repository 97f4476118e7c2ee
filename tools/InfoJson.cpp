#include "InfoJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "base/ChannelLabel.h"

namespace tamix::cli {
namespace {

using Json = nlohmann::ordered_json;

// The number, or null and a note naming what it is: JSON has no NaN or infinity.
class Numbers {
  public:
    Json Of(double value, const std::string& what) {
        if (std::isfinite(value)) return value;
        notes_.push_back(what + " is not a finite number (" +
                         std::string(std::isnan(value) ? "NaN"
                                     : value > 0       ? "+inf"
                                                       : "-inf") +
                         "); given as null");
        return nullptr;
    }
    const std::vector<std::string>& notes() const { return notes_; }

  private:
    std::vector<std::string> notes_;
};

}  // namespace

std::string InfoJson(const RecordingInfo& info) {
    Numbers numbers;
    Json j;
    j["file"] = info.fileName;
    // Only a recording of several files has one: the key's absence is a single file.
    if (info.chainFiles.size() > 1) j["chain"] = info.chainFiles;
    j["format"] = info.format == RecordingFormat::Text ? "text" : "wdq";
    j["hiRes"] = info.hiRes;
    Json channels = Json::array();
    for (std::size_t k = 0; k < info.channels.size(); ++k) {
        const ChannelInfo& ch = info.channels[k];
        const std::string which = "Channel " + std::to_string(k + 1);
        const bool input = ch.inputNumber >= 0 && ch.inputNumber < kMaxChannels;
        channels.push_back(
            {{"name", std::string(ch.Name())},
             {"input",
              input ? Json(kInputLabels[static_cast<std::size_t>(ch.inputNumber)]) : Json(nullptr)},
             {"label", ChannelLabel(ch, k)},
             {"unit", std::string(ch.Unit())},
             {"valueAt1V", numbers.Of(ch.valueAt1V, which + "'s value at 1 V")},
             {"valueAt0V", numbers.Of(ch.valueAt0V, which + "'s value at 0 V")}});
    }
    j["channels"] = std::move(channels);
    j["period_s"] = numbers.Of(info.period, "The sample period");
    j["rate_hz"] = info.period > 0 && std::isfinite(1.0 / info.period) ? Json(1.0 / info.period)
                                                                       : Json(nullptr);
    j["scans"] = info.scanCount;
    j["duration_s"] = numbers.Of(static_cast<double>(info.scanCount) * info.period, "The duration");
    j["startTime"] = info.startTime > 0 ? Json(info.startTime) : Json(nullptr);
    j["startTimeEstimated"] = info.startTimeEstimated;
    Json markers = Json::array();
    for (std::size_t m = 0; m < info.markers.size(); ++m) {
        const RecordingMarker& mk = info.markers[m];
        markers.push_back({{"scan", mk.scan},
                           {"time_s", numbers.Of(static_cast<double>(mk.scan) * info.period,
                                                 "Marker " + std::to_string(m) + "'s time")},
                           {"timeStamp", mk.timeStamp ? Json(*mk.timeStamp) : Json(nullptr)},
                           {"comment", mk.comment}});
    }
    j["markers"] = std::move(markers);
    j["incomplete"] = info.incomplete;
    j["beingRecorded"] = info.beingRecorded;
    j["markerJournal"] = info.markerJournal.empty() ? Json(nullptr) : Json(info.markerJournal);
    Json notes = Json::array();
    for (const std::string& note : info.notes) notes.push_back(note);
    for (const std::string& note : numbers.notes()) notes.push_back(note);
    j["notes"] = std::move(notes);
    // Names and comments come from files others wrote: bytes that are not
    // UTF-8 become U+FFFD instead of ending the program.
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tamix::cli
