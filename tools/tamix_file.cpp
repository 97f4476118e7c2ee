// tamix-file: looks into recordings, exports them to CSV, EDF+ or the other
// recording format, and repairs recordings that a crash cut short.
#include <unistd.h>  // isatty, which MinGW provides as well

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ChannelLabel.h"
#include "recording/ExportChecks.h"
#include "recording/ExportFormat.h"
#include "recording/ExportSelection.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingRepair.h"

namespace tamix {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kHelp =
    "Usage: tamix-file COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  info FILE [--json]\n"
    "      Channels with their labels (input and name, or place and name where\n"
    "      the file does not tell the inputs), units and calibration, rate, scans,\n"
    "      duration, start time, markers, and anything odd about the file, such\n"
    "      as that it is still being recorded.\n"
    "  export FILE OUT [--to csv|edf|dat|wdq] [--from SECONDS] [--to-time SECONDS]\n"
    "                  [--channels LIST]\n"
    "      Writes the recording (or the part from --from up to --to-time) as CSV\n"
    "      (OUT and OUT_markers.csv), EDF+, a text recording (.dat with its\n"
    "      _info.txt) or a WinDaq file (.wdq). The format comes from OUT's\n"
    "      extension unless --to names it. LIST holds channel numbers from 1,\n"
    "      channel names, or input labels (A to D) where the recording tells its\n"
    "      inputs, separated by commas.\n"
    "  repair FILE\n"
    "      Makes a recording cut short by a crash whole again: a WinDaq file gets\n"
    "      its data size and a trailer, a text file loses its partial last line and\n"
    "      gets a missing info file. The original is kept as FILE.bak. Running it\n"
    "      again finds nothing to repair. A file that is still being recorded is\n"
    "      left alone.\n"
    "\n"
    "FILE is a WinDaq (.wdq) or text (.dat) recording.\n"
    "\n"
    "Exit status:\n"
    "  0  done (for repair also: nothing to repair)\n"
    "  1  a file could not be read, written or repaired (the message names it)\n"
    "  2  wrong command line\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "tamix-file: %s\nTry 'tamix-file --help'.\n", message.c_str());
    return kExitUsage;
}

int Failure(const std::string& message) {
    std::fprintf(stderr, "tamix-file: %s\n", message.c_str());
    return kExitFailed;
}

std::string Number(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, r.ptr};
}

std::string Fixed3(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    return {buf, r.ptr};
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

std::string UtcText(int64_t seconds) {
    if (seconds <= 0) return "unknown";
    // Calendar arithmetic of its own: gmtime_r is POSIX, and Windows has no such call.
    namespace chrono = std::chrono;
    const chrono::sys_seconds t{chrono::seconds{seconds}};
    const auto day = chrono::floor<chrono::days>(t);
    const chrono::year_month_day date{day};
    const chrono::hh_mm_ss time{t - day};
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02lld:%02lld:%02lld UTC",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long long>(time.hours().count()),
                  static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return buf;
}

std::string FormatName(const RecordingInfo& info) {
    if (info.format == RecordingFormat::Text) return "text";
    return info.hiRes ? "WinDaq (HiRes)" : "WinDaq";
}

void PrintInfo(const RecordingInfo& info) {
    std::printf("File:      %s\n", info.fileName.c_str());
    std::printf("Format:    %s\n", FormatName(info).c_str());
    std::printf("Channels:  %zu\n", info.channels.size());
    for (std::size_t k = 0; k < info.channels.size(); ++k) {
        const ChannelInfo& ch = info.channels[k];
        if (info.format == RecordingFormat::Text) {
            // The lines hold engineering values; unit and calibration were not kept.
            std::printf("  %zu  %s  values as recorded (no unit or calibration stored)\n", k + 1,
                        ChannelLabel(ch, k).c_str());
            continue;
        }
        std::printf("  %zu  %s  [%s]  1V = %s  0V = %s\n", k + 1, ChannelLabel(ch, k).c_str(),
                    std::string(ch.Unit()).c_str(), Number(ch.valueAt1V).c_str(),
                    Number(ch.valueAt0V).c_str());
    }
    if (info.period > 0) {
        std::printf("Rate:      %s Hz (%s s between scans)\n", Number(1.0 / info.period).c_str(),
                    Number(info.period).c_str());
    } else {
        std::printf("Rate:      unknown\n");
    }
    std::printf("Scans:     %lld\n", static_cast<long long>(info.scanCount));
    std::printf("Duration:  %s s\n",
                Fixed3(static_cast<double>(info.scanCount) * info.period).c_str());
    std::printf(
        "Start:     %s%s\n", UtcText(info.startTime).c_str(),
        info.startTimeEstimated ? " (estimated: the file's last change less its duration)" : "");
    std::printf("Markers:   %zu\n", info.markers.size());
    for (std::size_t m = 0; m < info.markers.size(); ++m) {
        const RecordingMarker& mk = info.markers[m];
        std::printf("  #%zu  scan %lld  %s s  %s\n", m, static_cast<long long>(mk.scan),
                    Fixed3(static_cast<double>(mk.scan) * info.period).c_str(), mk.comment.c_str());
    }
    if (info.beingRecorded) {
        std::printf("Being recorded: %lld scans so far\n", static_cast<long long>(info.scanCount));
    } else if (info.incomplete) {
        std::printf("Incomplete: the recording was cut short.\n");
    }
    for (const std::string& note : info.notes) std::printf("Note:      %s\n", note.c_str());
}

void PrintJson(const RecordingInfo& info) {
    std::string j = "{\n";
    j += "  \"file\": " + Json(info.fileName) + ",\n";
    j += "  \"format\": " + Json(info.format == RecordingFormat::Text ? "text" : "wdq") + ",\n";
    j += std::string("  \"hiRes\": ") + (info.hiRes ? "true" : "false") + ",\n";
    j += "  \"channels\": [";
    for (std::size_t k = 0; k < info.channels.size(); ++k) {
        const ChannelInfo& ch = info.channels[k];
        const bool input = ch.inputNumber >= 0 && ch.inputNumber < kMaxChannels;
        j += std::string(k ? ",\n" : "\n") + "    {\"name\": " + Json(ch.Name()) + ", \"input\": " +
             (input ? Json(kInputLabels[static_cast<std::size_t>(ch.inputNumber)]) : "null") +
             ", \"label\": " + Json(ChannelLabel(ch, k)) + ", \"unit\": " + Json(ch.Unit()) +
             ", \"valueAt1V\": " + Number(ch.valueAt1V) +
             ", \"valueAt0V\": " + Number(ch.valueAt0V) + "}";
    }
    j += "\n  ],\n";
    j += "  \"period_s\": " + Number(info.period) + ",\n";
    j += "  \"rate_hz\": " + (info.period > 0 ? Number(1.0 / info.period) : "null") + ",\n";
    j += "  \"scans\": " + std::to_string(info.scanCount) + ",\n";
    j += "  \"duration_s\": " + Number(static_cast<double>(info.scanCount) * info.period) + ",\n";
    j += "  \"startTime\": " + (info.startTime > 0 ? std::to_string(info.startTime) : "null") +
         ",\n";
    j += std::string("  \"startTimeEstimated\": ") + (info.startTimeEstimated ? "true" : "false") +
         ",\n";
    j += "  \"markers\": [";
    for (std::size_t m = 0; m < info.markers.size(); ++m) {
        const RecordingMarker& mk = info.markers[m];
        j += std::string(m ? ",\n" : "\n") + "    {\"scan\": " + std::to_string(mk.scan) +
             ", \"time_s\": " + Number(static_cast<double>(mk.scan) * info.period) +
             ", \"timeStamp\": " + (mk.timeStamp ? std::to_string(*mk.timeStamp) : "null") +
             ", \"comment\": " + Json(mk.comment) + "}";
    }
    j += "\n  ],\n";
    j += std::string("  \"incomplete\": ") + (info.incomplete ? "true" : "false") + ",\n";
    j += std::string("  \"beingRecorded\": ") + (info.beingRecorded ? "true" : "false") + ",\n";
    j += "  \"notes\": [";
    for (std::size_t i = 0; i < info.notes.size(); ++i) {
        j += (i ? ", " : "") + Json(info.notes[i]);
    }
    j += "]\n}\n";
    std::fputs(j.c_str(), stdout);
}

int Info(const std::vector<std::string>& args) {
    std::string file;
    bool json = false;
    for (const std::string& a : args) {
        if (a == "--json") {
            json = true;
        } else if (a.starts_with("--") || !file.empty()) {
            return Usage("info: unexpected argument '" + a + "'");
        } else {
            file = a;
        }
    }
    if (file.empty()) return Usage("info: no FILE given");
    std::string error;
    const auto reader = OpenRecording(file, error);
    if (!reader) return Failure(error);
    json ? PrintJson(reader->Info()) : PrintInfo(reader->Info());
    return kExitOk;
}

// A bar on stderr, only when someone watches it.
ProgressCallback ProgressBar(const std::string& label) {
    if (::isatty(STDERR_FILENO) == 0) return {};
    return [label, last = -1](int64_t done, int64_t total) mutable {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent != last) {
            last = percent;
            const int bars = percent / 4;
            std::fprintf(stderr, "\r%s [%-25.*s] %3d%%", label.c_str(), bars,
                         "#########################", percent);
            if (percent == 100) std::fputc('\n', stderr);
        }
        return true;
    };
}

std::optional<double> Seconds(const std::string& text, bool& ok) {
    double v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    ok = r.ec == std::errc() && r.ptr == text.data() + text.size() && v >= 0;
    return v;
}

std::string Extension(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

int Export(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string format;
    std::string channels;
    std::optional<double> from;
    std::optional<double> to;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (a == "--to" && hasValue) {
            format = args[++i];
        } else if (a == "--from" && hasValue) {
            from = Seconds(args[++i], ok);
        } else if (a == "--to-time" && hasValue) {
            to = Seconds(args[++i], ok);
        } else if (a == "--channels" && hasValue) {
            channels = args[++i];
        } else if (a.starts_with("--")) {
            return Usage("export: unknown or incomplete option '" + a + "'");
        } else {
            files.push_back(a);
        }
        if (!ok) return Usage("export: '" + args[i] + "' is not a number of seconds");
    }
    if (files.size() != 2) return Usage("export: give FILE and OUT");
    if (format.empty()) format = Extension(files[1]);
    const std::optional<ExportFormat> chosen = ExportFormatNamed(format);
    if (!chosen) return Usage("export: choose the format with --to csv|edf|dat|wdq");
    std::string error;
    const auto reader = OpenRecording(files[0], error);
    if (!reader) return Failure(error);
    const RecordingInfo& info = reader->Info();
    ExportSelection selection;
    if (!SelectExport(info, from, to, channels, selection, error)) {
        return Usage("export: " + error);
    }
    // Refused before a word about what would be exported.
    if (!CheckExport(info, selection, *chosen, files[1], error)) return Failure(error);
    if (info.beingRecorded) {
        std::fprintf(stderr, "tamix-file: %s is being recorded; exporting its %lld scans so far\n",
                     files[0].c_str(), static_cast<long long>(info.scanCount));
    } else if (info.incomplete) {
        std::fprintf(stderr, "tamix-file: %s was cut short; exporting its %lld whole scans\n",
                     files[0].c_str(), static_cast<long long>(info.scanCount));
    }
    const ProgressCallback progress = ProgressBar("exporting");
    std::string note;
    if (!ExportRecording(*reader, selection, *chosen, files[1], DefaultFileOpener(), progress, note,
                         error)) {
        return Failure(error);
    }
    if (!note.empty()) std::fprintf(stderr, "tamix-file: %s: %s\n", files[1].c_str(), note.c_str());
    if (info.format == RecordingFormat::Text &&
        (*chosen == ExportFormat::WinDaq || *chosen == ExportFormat::Edf)) {
        std::fprintf(stderr,
                     "tamix-file: %s: text values are stored as 16-bit samples of a calibration "
                     "fitted to their range\n",
                     files[1].c_str());
    }
    return kExitOk;
}

int Repair(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].starts_with("--")) return Usage("repair: give one FILE");
    const RepairReport report = RepairRecording(args[0]);
    switch (report.outcome) {
        case RepairOutcome::NothingToRepair:
            std::printf("%s: nothing to repair\n", args[0].c_str());
            return kExitOk;
        case RepairOutcome::Repaired:
            for (const std::string& action : report.actions) {
                std::printf("%s: %s\n", args[0].c_str(), action.c_str());
            }
            return kExitOk;
        case RepairOutcome::Failed:
            break;
    }
    return Failure(report.error);
}

}  // namespace
}  // namespace tamix

int main(int argc, char** argv) {
    using namespace tamix;
    if (argc < 2) return Usage("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, stdout);
        return kExitOk;
    }
    if (command == "info") return Info(args);
    if (command == "export") return Export(args);
    if (command == "repair") return Repair(args);
    return Usage("unknown command '" + command + "'");
}
