#include "recording/PowerDensityExport.h"

#include <charconv>
#include <memory>

#include "base/ChannelLabel.h"
#include "recording/CsvExport.h"

namespace tamix {
namespace {

void AppendShortest(std::string& out, double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

}  // namespace

std::string PowerDensityColumnTitle(const ChannelInfo& channel, std::size_t position) {
    std::string_view unit = channel.Unit();
    while (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
    while (!unit.empty() && unit.back() == ' ') unit.remove_suffix(1);
    const std::string label = ChannelLabel(channel, position);
    return unit.empty() ? label + " [1/Hz]" : label + " [" + std::string(unit) + "^2/Hz]";
}

bool ExportPowerDensityCsv(const PowerDensity& psd, const RecordingInfo& info,
                           std::span<const std::size_t> shown, const std::string& path,
                           FileOpener& opener, std::string& error) {
    for (const std::size_t j : shown) {
        if (j >= psd.channels.size() || psd.channels[j].channel >= info.channels.size()) {
            error = path + ": the power density has no channel " + std::to_string(j + 1);
            return false;
        }
    }
    std::unique_ptr<ReplacementFile> file = opener.CreateReplacement(path, error);
    if (!file) {
        error = path + ": " + error;
        return false;
    }
    std::string text = "frequency_hz";
    for (const std::size_t j : shown) {
        const std::size_t c = psd.channels[j].channel;
        text += "," + CsvField(PowerDensityColumnTitle(info.channels[c], c));
    }
    text += "\n";
    const std::size_t bins = psd.Bins();
    for (std::size_t k = 0; k < bins; ++k) {
        AppendShortest(text, psd.Frequency(k));
        for (const std::size_t j : shown) {
            text.push_back(',');
            AppendShortest(text, psd.channels[j].density[k]);
        }
        text.push_back('\n');
    }
    if (!file->Write(text.data(), text.size()) || !file->Close() || !file->Commit()) {
        error = path + ": " + file->Error();
        return false;
    }
    return true;
}

}  // namespace tamix
