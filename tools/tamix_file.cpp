// tamix-file: looks into recordings, gives statistics of their spans, exports
// them to CSV, EDF+ or the other recording format, and repairs recordings that
// a crash cut short.
#include <unistd.h>  // isatty, which MinGW provides as well

#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CommandLine.h"
#include "InfoJson.h"
#include "StandardOutput.h"
#include "StatsJson.h"
#include "StreamExport.h"
#include "base/ChannelLabel.h"
#include "recording/CsvExport.h"
#include "recording/EdfExport.h"
#include "recording/ExportChecks.h"
#include "recording/ExportFormat.h"
#include "recording/ExportSelection.h"
#include "recording/MinMaxPyramid.h"
#include "recording/OpenRecording.h"
#include "recording/RecordingExport.h"
#include "recording/RecordingRepair.h"
#include "recording/SpanStatistics.h"

namespace tamix {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;

// Reads one file of a chain alone.
constexpr std::string_view kOnlyThisFile = "--only-this-file";

constexpr const char* kInfoHelp =
    "  info FILE [--json] [--only-this-file]\n"
    "      Channels with their labels (input and name, or place and name where\n"
    "      the file does not tell the inputs), units and calibration, rate, scans,\n"
    "      duration, start time, markers, and anything odd about the file, such\n"
    "      as that it is still being recorded. With --json the same as one JSON\n"
    "      object; a number that is not finite (a broken calibration) is given as\n"
    "      null, and a note says so. For a chain of files it lists the files\n"
    "      (in the JSON as \"chain\").\n";

constexpr const char* kExportHelp =
    "  export FILE OUT [--format csv|edf|dat|wdq] [--from SECONDS]\n"
    "                  [--to-time SECONDS] [--channels LIST] [--only-this-file]\n"
    "      Writes the recording (or the part from --from up to --to-time) as CSV\n"
    "      (OUT and OUT_markers.csv), EDF+, a text recording (.dat with its\n"
    "      _info.txt) or a WinDaq file (.wdq). The format comes from OUT's\n"
    "      extension unless --format (or its older name --to) names it. LIST\n"
    "      holds channel numbers from 1, channel names, or input labels (A to D)\n"
    "      where the recording tells its inputs, separated by commas.\n"
    "      OUT '-' is standard output, and --format is needed then. To standard\n"
    "      output, a pipe or a device (a FIFO, /dev/stdout) only the data\n"
    "      are written: CSV without its markers file, a text recording without\n"
    "      its info file. CSV and text stream as they are made; WinDaq and EDF+,\n"
    "      whose headers are completed last, are made in the temporary folder\n"
    "      ($TMPDIR) first and then copied.\n";

constexpr const char* kStatsHelp =
    "  stats FILE [--from SECONDS] [--to-time SECONDS] [--channels LIST] [--json]\n"
    "             [--only-this-file]\n"
    "      Statistics of every scan of the recording (or the part from --from up\n"
    "      to --to-time) per channel, as a tab-separated table: name, unit, scans,\n"
    "      min, max, p-p, mean, rms, sd (the population standard deviation) and\n"
    "      the frequency in Hz of a periodic signal (rising crossings of the\n"
    "      mean, at least two whole periods that agree within 10 %), or a dash.\n"
    "      The frequency is estimated from the first 262144 scans at most, and\n"
    "      a note on the standard error says so. LIST as for export. With\n"
    "      --json the same as one JSON object, null where a channel is not\n"
    "      periodic.\n";

constexpr const char* kRepairHelp =
    "  repair FILE\n"
    "      Makes a recording cut short by a crash whole again: a WinDaq file gets\n"
    "      its data size and a trailer, a text file loses its partial last line and\n"
    "      gets a missing info file. The markers and channel names of the\n"
    "      recorder's markers journal FILE.markers go into the trailer or the info\n"
    "      file, and the journal is removed. The original is kept as FILE.bak.\n"
    "      Running it again finds nothing to repair. A file that is still being\n"
    "      recorded is left alone. A file of a chain is repaired alone.\n";

constexpr const char* kExitHelp =
    "Exit status:\n"
    "  0  done (for repair also: nothing to repair)\n"
    "  1  a file could not be read, written or repaired (the message names it)\n"
    "  2  wrong command line\n"
    "  3  standard output could not be written (a full disk, a closed pipe)\n";

// The whole help, or one command's.
std::string Help(const char* command) {
    std::string text = "Usage: tamix-file COMMAND ...\n\n";
    if (command != nullptr) {
        // The command's own lines, after the program's name.
        text = "Usage: tamix-file";
        text += std::string_view(command).substr(1);
    } else {
        text += "Commands:\n";
        text += kInfoHelp;
        text += kExportHelp;
        text += kStatsHelp;
        text += kRepairHelp;
        text +=
            "\n"
            "Options of every command: --opt VALUE and --opt=VALUE are the same; --help\n"
            "after a command gives its help; --version prints the version.\n";
    }
    text += "\nFILE is a WinDaq (.wdq) or text (.dat) recording.\n";
    text +=
        "A run split into several files (run.wdq, run-0002.wdq, ...) is a chain:\n"
        "any of its files stands for the whole chain, read as one recording with\n"
        "its time running on across the files; --only-this-file reads the file\n"
        "named alone.\n\n";
    text += kExitHelp;
    return text;
}

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
    if (info.chainFiles.size() > 1) {
        std::printf("Chain:     %zu files\n", info.chainFiles.size());
        for (std::size_t k = 0; k < info.chainFiles.size(); ++k) {
            std::printf("  %zu  %s\n", k + 1, info.chainFiles[k].c_str());
        }
    }
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

int Info(const std::vector<std::string>& args) {
    std::string file;
    bool json = false;
    RecordingScope scope = RecordingScope::WholeChain;
    bool optionsEnded = false;
    std::string error;
    for (const std::string& a : args) {
        const cli::Option opt = cli::SplitOption(a);
        if (!optionsEnded && opt.name == "--json") {
            if (!cli::NoValue(opt, error)) return Usage("info: " + error);
            json = true;
        } else if (!optionsEnded && opt.name == kOnlyThisFile) {
            if (!cli::NoValue(opt, error)) return Usage("info: " + error);
            scope = RecordingScope::ThisFile;
        } else if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if ((!optionsEnded && a.starts_with("-") && a != "-") || !file.empty()) {
            return Usage("info: unexpected argument '" + a + "'");
        } else {
            file = a;
        }
    }
    if (file.empty()) return Usage("info: no FILE given");
    const auto reader = OpenRecording(file, error, scope);
    if (!reader) return Failure(error);
    if (json) {
        cli::Print(cli::InfoJson(reader->Info()));
    } else {
        PrintInfo(reader->Info());
    }
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

// The file names leave out what a stream cannot hold beside it.
const char* CompanionOf(const std::string& format) {
    if (format == "csv") return "the markers file";
    if (format == "dat") return "the info file";
    return nullptr;
}

int Export(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string format;
    std::string channels;
    std::optional<double> from;
    std::optional<double> to;
    RecordingScope scope = RecordingScope::WholeChain;
    bool optionsEnded = false;
    std::string error;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || !a.starts_with("-") || a == "-") {
            files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const cli::Option opt = cli::SplitOption(a);
        if (opt.name == kOnlyThisFile) {
            if (!cli::NoValue(opt, error)) return Usage("export: " + error);
            scope = RecordingScope::ThisFile;
            continue;
        }
        const bool known = opt.name == "--format" || opt.name == "--to" || opt.name == "--from" ||
                           opt.name == "--to-time" || opt.name == "--channels";
        if (!known) return Usage("export: unknown option '" + a + "'");
        std::string value;
        if (!cli::TakeValue(opt, args, i, value, error)) return Usage("export: " + error);
        bool ok = true;
        if (opt.name == "--format" || opt.name == "--to") {
            format = value;
        } else if (opt.name == "--from") {
            from = Seconds(value, ok);
        } else if (opt.name == "--to-time") {
            to = Seconds(value, ok);
        } else {
            channels = value;
        }
        if (!ok) return Usage("export: '" + value + "' is not a number of seconds");
    }
    if (files.size() != 2) return Usage("export: give FILE and OUT");
    const std::string& out = files[1];
    const bool stream = cli::IsStreamTarget(out);
    if (format.empty() && out == "-") {
        return Usage("export: name the format with --format csv|edf|dat|wdq when OUT is -");
    }
    if (format.empty()) format = Extension(out);
    const std::optional<ExportFormat> chosen = ExportFormatNamed(format);
    if (!chosen) return Usage("export: choose the format with --format csv|edf|dat|wdq");
    for (char& c : format) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto reader = OpenRecording(files[0], error, scope);
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
    const cli::ExportRun run = [&](FileOpener& opener, const std::string& path,
                                   std::string& failure) {
        if (format == "csv") return ExportCsv(*reader, selection, path, opener, progress, failure);
        if (format == "edf") return ExportEdf(*reader, selection, path, progress, note, failure);
        if (format == "dat") return ExportText(*reader, selection, path, opener, progress, failure);
        return ExportWdq(*reader, selection, path, opener, progress, failure);
    };
    const std::string shownName = out == "-" ? std::string(cli::kStandardOutput) : out;
    if (stream) {
        cli::StreamReport report;
        const bool spool = format == "wdq" || format == "edf";
        switch (cli::ExportToStream(out, spool, format, run, report)) {
            case cli::StreamOutcome::Done:
                break;
            case cli::StreamOutcome::Failed:
                return Failure(report.error);
            case cli::StreamOutcome::OutputFailed:
                std::fprintf(stderr, "tamix-file: %s\n", report.error.c_str());
                return kExitOutput;
        }
        if (report.companionsLeftOut && CompanionOf(format) != nullptr) {
            std::fprintf(stderr, "tamix-file: %s: %s was left out (a stream holds the data only)\n",
                         shownName.c_str(), CompanionOf(format));
        }
    } else if (!ExportRecording(*reader, selection, *chosen, out, DefaultFileOpener(), progress,
                                note, error)) {
        // A file is written as a replacement that takes its target's place
        // only once complete; a stream cannot be, and is written as it comes.
        return Failure(error);
    }
    if (!note.empty())
        std::fprintf(stderr, "tamix-file: %s: %s\n", shownName.c_str(), note.c_str());
    if (info.format == RecordingFormat::Text && (format == "wdq" || format == "edf")) {
        std::fprintf(stderr,
                     "tamix-file: %s: text values are stored as 16-bit samples of a calibration "
                     "fitted to their range\n",
                     shownName.c_str());
    }
    return kExitOk;
}

int Stats(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    std::string channels;
    std::optional<double> from;
    std::optional<double> to;
    bool json = false;
    RecordingScope scope = RecordingScope::WholeChain;
    bool optionsEnded = false;
    std::string error;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || !a.starts_with("-") || a == "-") {
            files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const cli::Option opt = cli::SplitOption(a);
        if (opt.name == "--json") {
            if (!cli::NoValue(opt, error)) return Usage("stats: " + error);
            json = true;
            continue;
        }
        if (opt.name == kOnlyThisFile) {
            if (!cli::NoValue(opt, error)) return Usage("stats: " + error);
            scope = RecordingScope::ThisFile;
            continue;
        }
        if (opt.name != "--from" && opt.name != "--to-time" && opt.name != "--channels") {
            return Usage("stats: unknown option '" + a + "'");
        }
        std::string value;
        if (!cli::TakeValue(opt, args, i, value, error)) return Usage("stats: " + error);
        bool ok = true;
        if (opt.name == "--from") {
            from = Seconds(value, ok);
        } else if (opt.name == "--to-time") {
            to = Seconds(value, ok);
        } else {
            channels = value;
        }
        if (!ok) return Usage("stats: '" + value + "' is not a number of seconds");
    }
    if (files.size() != 1) return Usage("stats: give one FILE");
    const auto reader = OpenRecording(files[0], error, scope);
    if (!reader) return Failure(error);
    const RecordingInfo& info = reader->Info();
    ExportSelection selection;
    if (!SelectExport(info, from, to, channels, selection, error)) return Usage("stats: " + error);
    MinMaxPyramid overview;
    if (!overview.Build(*reader, ProgressBar("summarising"), error)) return Failure(error);
    const std::vector<std::size_t> chosen(selection.channels.begin(), selection.channels.end());
    SpanStatistics stats;
    if (!ComputeSpanStatistics(*reader, overview, selection.firstScan, selection.endScan, chosen,
                               stats, error)) {
        return Failure(error);
    }
    if (json) {
        cli::Print(cli::StatsJson(info, stats));
        return kExitOk;
    }
    cli::Print(StatisticsTable(stats));
    for (const std::string& note : stats.notes) {
        std::fprintf(stderr, "tamix-file: %s: %s\n", files[0].c_str(), note.c_str());
    }
    return kExitOk;
}

int Repair(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (const std::string& a : args) {
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && a.starts_with("-") && a != "-") {
            return Usage("repair: unexpected argument '" + a + "'");
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 1) return Usage("repair: give one FILE");
    const std::string& file = files[0];
    const RepairReport report = RepairRecording(file);
    switch (report.outcome) {
        case RepairOutcome::NothingToRepair:
            std::printf("%s: nothing to repair\n", file.c_str());
            return kExitOk;
        case RepairOutcome::Repaired:
            for (const std::string& action : report.actions) {
                std::printf("%s: %s\n", file.c_str(), action.c_str());
            }
            return kExitOk;
        case RepairOutcome::Failed:
            break;
    }
    return Failure(report.error);
}

// Whether `args` asks for help (before any "--"), which then needs nothing else.
bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

int Run(const std::string& command, const std::vector<std::string>& args) {
    if (command == "--help" || command == "-h" || command == "help") {
        cli::Print(Help(nullptr));
        return kExitOk;
    }
    if (command == "--version") {
        cli::Print(cli::VersionLine("tamix-file"));
        return kExitOk;
    }
    const struct {
        const char* name;
        int (*run)(const std::vector<std::string>&);
        const char* help;
    } kCommands[] = {{"info", Info, kInfoHelp},
                     {"export", Export, kExportHelp},
                     {"stats", Stats, kStatsHelp},
                     {"repair", Repair, kRepairHelp}};
    for (const auto& c : kCommands) {
        if (command != c.name) continue;
        if (AsksForHelp(args)) {
            cli::Print(Help(c.help));
            return kExitOk;
        }
        return c.run(args);
    }
    return Usage("unknown command '" + command + "'");
}

}  // namespace
}  // namespace tamix

int main(int argc, char** argv) {
    using namespace tamix;
    cli::PrepareStandardOutput();
    if (argc < 2) return Usage("no command given");
    const int status = Run(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    std::string reason;
    if (!cli::FinishStandardOutput(reason)) {
        std::fprintf(stderr, "tamix-file: %s: %s\n", std::string(cli::kStandardOutput).c_str(),
                     reason.c_str());
        return status == kExitOk ? kExitOutput : status;
    }
    return status;
}
