#include "recording/ExportChecks.h"

#include <charconv>
#include <cmath>
#include <filesystem>

#include "recording/EngineeringValue.h"
#include "recording/TextWriter.h"

namespace tamix {
namespace {

std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, r.ptr};
}

const char* FormatTitle(ExportFormat format) {
    switch (format) {
        case ExportFormat::Csv:
            return "CSV";
        case ExportFormat::Edf:
            return "EDF+";
        case ExportFormat::Text:
            return "text recording";
        case ExportFormat::WinDaq:
            return "WinDaq";
    }
    return "";
}

// The outputs after the first are companions; says whose.
std::string OutputTitle(ExportFormat format, const std::vector<std::string>& outputs,
                        std::size_t k) {
    if (k == 0) return outputs[0];
    const char* kind = format == ExportFormat::Csv ? "markers file" : "info file";
    return outputs[k] + " (the " + kind + " of " + outputs[0] + ")";
}

struct Limits {
    double minPeriod;
    double maxPeriod;
    const char* why;          // the reason for the limit that is not the common one
    bool statesPeriod;        // the output stores a rate, even for one scan
    std::size_t maxChannels;  // 0: as many as the recording has
};

Limits LimitsOf(ExportFormat format) {
    switch (format) {
        case ExportFormat::Csv:
            return {kMinPeriod, kMaxPeriod, "", false, 0};
        case ExportFormat::Edf:
            return {kMinPeriod, kMaxEdfPeriod, "an EDF+ data record lasts at most 60 s", true, 0};
        case ExportFormat::Text:
            return {kMinTextPeriod, kMaxPeriod, "a text recording's times have three decimals",
                    false, kMaxChannels};
        case ExportFormat::WinDaq:
            return {kMinPeriod, kMaxPeriod, "", true, kMaxChannels};
    }
    return {kMinPeriod, kMaxPeriod, "", true, 0};
}

}  // namespace

std::vector<std::string> RecordingFiles(const RecordingInfo& info) {
    std::vector<std::string> files;
    const std::vector<std::string> data =
        info.chainFiles.empty() ? std::vector<std::string>{info.fileName} : info.chainFiles;
    for (const std::string& file : data) {
        files.push_back(file);
        if (info.format == RecordingFormat::Text) files.push_back(InfoFileName(file));
    }
    return files;
}

bool CheckOutputsApart(const RecordingInfo& info, ExportFormat format, const std::string& path,
                       std::string& error) {
    const std::vector<std::string> outputs = ExportOutputs(format, path);
    const std::vector<std::string> inputs = RecordingFiles(info);
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            // By device and inode: the same file under any name. A file that
            // does not exist is none of them.
            std::error_code ec;
            if (!std::filesystem::equivalent(outputs[k], inputs[i], ec) || ec) continue;
            const bool infoFile = info.format == RecordingFormat::Text && i % 2 == 1;
            const std::string what =
                infoFile ? "the info file of the recording being exported (" + inputs[i] + ")"
                         : "the recording being exported (" + inputs[i] + ")";
            error = OutputTitle(format, outputs, k) + ": this is " + what +
                    "; the export would overwrite what it reads. Choose another name.";
            return false;
        }
    }
    return true;
}

bool CheckExportLimits(const RecordingInfo& info, const ExportSelection& selection,
                       ExportFormat format, std::string& error) {
    const Limits limits = LimitsOf(format);
    const std::string& file = info.fileName;
    const int64_t scans = selection.endScan - selection.firstScan;
    const double period = info.period;
    const bool known = std::isfinite(period) && period > 0;
    if (!known && (limits.statesPeriod || scans > 1)) {
        error = file + ": the time between its scans is unknown" +
                (info.format == RecordingFormat::Text
                     ? std::string(" (a text recording tells it from two lines or more)")
                     : std::string()) +
                ", and a " + FormatTitle(format) + " export " +
                (limits.statesPeriod ? "states it" : "needs it for the times of its scans");
        return false;
    }
    // A tolerance of a few rounding steps, so that 1 ms counts as 1 ms.
    if (known && (period < limits.minPeriod * (1 - 1e-9) || period > limits.maxPeriod)) {
        const bool textTooFast = format == ExportFormat::Text && period < limits.minPeriod;
        const bool edfTooSlow = format == ExportFormat::Edf && period > limits.maxPeriod;
        error = file + ": its scans are " + Number(period) + " s apart, outside the " +
                Number(limits.minPeriod) + " to " + Number(limits.maxPeriod) + " s that a " +
                FormatTitle(format) + " export takes (" +
                (textTooFast || edfTooSlow
                     ? std::string(limits.why)
                     : std::string("the header is taken as damaged: the recorder's units scan "
                                   "every 1 or 2 ms")) +
                ")";
        return false;
    }
    // A text recording of no line is an empty file, which no reader takes as one.
    if (format == ExportFormat::Text && scans <= 0) {
        error = file + ": " +
                (info.scanCount <= 0 ? std::string("it holds no whole scan")
                                     : std::string("the chosen range holds no scan")) +
                ", and a text recording needs one line at least";
        return false;
    }
    if (limits.maxChannels != 0 && selection.channels.size() > limits.maxChannels) {
        error = file + ": a " + std::string(FormatTitle(format)) + " export holds at most " +
                std::to_string(limits.maxChannels) + " channels, and " +
                std::to_string(selection.channels.size()) +
                " are chosen; choose them with --channels";
        return false;
    }
    if (info.format != RecordingFormat::WinDaq) return true;
    for (const int k : selection.channels) {
        const ChannelInfo& ch = info.channels[static_cast<std::size_t>(k)];
        // Values are linear in the sample: finite at both ends, finite throughout.
        if (!WritableValue(EngineeringValue(-32768, ch), format) ||
            !WritableValue(EngineeringValue(32767, ch), format)) {
            error = file + ": channel " + std::to_string(k + 1) +
                    " has no finite calibration (1 V = " + Number(ch.valueAt1V) +
                    ", 0 V = " + Number(ch.valueAt0V) + "), so its values cannot be exported";
            return false;
        }
    }
    return true;
}

bool CheckExport(const RecordingInfo& info, const ExportSelection& selection, ExportFormat format,
                 const std::string& path, std::string& error) {
    return CheckOutputsApart(info, format, path, error) &&
           CheckExportLimits(info, selection, format, error);
}

bool WritableValue(double value, ExportFormat format) {
    // A text recording's four digits round the largest doubles up past the
    // largest one, to a number that no reader can take back.
    constexpr double kLargestText = 1.7975e308;
    return std::isfinite(value) &&
           (format != ExportFormat::Text || std::fabs(value) < kLargestText);
}

bool CheckFiniteValues(const RecordingInfo& info, std::span<const double> values, int64_t firstScan,
                       std::span<const int> exported, std::string& error, ExportFormat format) {
    const std::size_t n = info.channels.size();
    if (n == 0) return true;
    for (std::size_t at = 0; at + n <= values.size(); at += n) {
        for (const int k : exported) {
            const double v = values[at + static_cast<std::size_t>(k)];
            if (WritableValue(v, format)) continue;
            const int64_t scan = firstScan + static_cast<int64_t>(at / n);
            const std::string where = info.format == RecordingFormat::Text
                                          ? "line " + std::to_string(scan + 1)
                                          : "scan " + std::to_string(scan);
            error = info.fileName + ": " + where + " holds a value that " +
                    (std::isfinite(v) ? "a text recording's four digits cannot state ("
                                      : "is not a finite number (") +
                    Number(v) + ") in channel " + std::to_string(k + 1) +
                    ", so it cannot be exported";
            return false;
        }
    }
    return true;
}

}  // namespace tamix
