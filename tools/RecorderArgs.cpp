#include "RecorderArgs.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "base/ChannelInfo.h"
#include "base/ProfileKeys.h"
#include "base/TextLimits.h"
#include "device/DeviceProfile.h"
#include "device/InstrumentSource.h"
#include "dialogs/OptionChecks.h"
#include "dialogs/SplitEvery.h"

namespace tamix {

const char* const kRecorderHelp =
    R"(Usage: tamix-record [options] FILE

Records the instrument's inputs into FILE without the desktop program: a WinDaq
binary file (.wdq) or a text file (.dat) with its FILE_info.txt. The measurement
choices (inputs, names, units, calibration, time, file type) come from the same
profile the desktop program uses; the options below override them for this run
without changing the profile. An existing FILE is replaced once the new
recording's first second is on disk; a stop before leaves it as it was. ".wdq"
or ".dat" is appended when the name does not contain it; a name ending in one
of them chooses that file type unless --format says otherwise. A pipe, device
or socket as FILE is refused.

Options:
  --simulate [KEY]     attach a simulated instrument as the first device; KEY is
                       a serial (A30008SN, A3000B6G, A3000B6H, A30008SG,
                       A3000B6u, A60089Rz, A4001lsz) or a model name (KPR-T310,
                       HLX-7, NORV40, TIRQEL, KPR-44B); default A30008SN.
                       Without it only real devices are listed: on Linux,
                       every USB-serial bridge of the ftdi_sio driver, found
                       by the serial string of its USB device.
  --port PATH=SERIAL   list the serial port PATH first, as a unit whose bridge
                       has the serial string SERIAL (a pseudo-terminal from
                       tamix-sim, or a port sysfs does not describe)
  --unpaced            a simulated instrument delivers scans as fast as they are
                       read instead of at its own sample period
  --inputs LIST        inputs to record, e.g. 1,2,A (labels 1 2 3 4 A B C D)
  --name INPUT=TEXT    signal name of an input (at most 30 characters)
  --unit INPUT=TEXT    engineering unit of an input (at most 4 characters)
  --cal INPUT=V1,V0    engineering values at 1 V and at 0 V of an input (finite
                       numbers; V1 must not be 0)
  --time DURATION      total recording time: seconds, or with a suffix s, min, h
                       (e.g. 90, 1.5min, 2h); at most 6000 h
  --format wdq|text    output type
  --split DURATION     a new file every DURATION (a number with s, m, h or d,
                       e.g. 30s, 10m, 1h, 1d; plain seconds; 1 s at least):
                       FILE, then FILE-0002, FILE-0003, ... before the
                       extension, without a scan lost or repeated between them.
                       A WinDaq file that is full goes on in the next file in
                       any case.
  --profile PATH       profile to read instead of ~/.config/tamix.INI
                       ($XDG_CONFIG_HOME/tamix.INI when that is set)
  --quiet              no progress display (it is shown only on a terminal)
  --help               this text
  --version            the version
  --                   ends the options: a FILE that begins with '-' follows

A value may also follow its option after an equals sign: --time=90,
--cal=B=100,0, --simulate=NORV40. The word after --simulate is its KEY when it
names a unit, else FILE; one that looks like a mistyped KEY (or leaves two
FILEs) is refused with the list of known units.

Values the desktop program would repair in the profile (a time out of range,
an index out of its list, a calibration that is not finite or reads 1 V as
0 V) make tamix-record refuse to start, unless an option replaces them; so
does a profile path that is not a regular file or is larger than 1 MiB. A
--profile that does not exist is said, and the defaults are used.

While recording, each line typed on standard input adds a marker with that
line as its comment at the current scan. Ctrl-C, SIGTERM or SIGHUP (a closed
terminal) stops the run at the end of its current cycle of scans and
completes the file. Until then the file on disk is kept readable: a crash or
kill -9 loses at most about the last second, of the scans and of the markers,
which wait in FILE.markers (tamix-file repair completes the file with them).

Exit status: 0 completed; 1 no usable instrument found (none, or it did not
answer with its first scans); 2 bad arguments or settings; 3 the output file
or its info file cannot be created or replaced, is no regular file, or another
recording holds it; 4 the run ended early or incompletely (the instrument was
lost, the file could not be written, the info file could not be written); 5 completed, but scans were lost before they reached
the computer (gaps are marked in the file); 6 standard output could not be
written (a full disk, a closed pipe); 7 stopped before the first second was on
disk: nothing was recorded, an existing FILE was left as it was.
)";

namespace {

// The whole text as a number in the C locale: no blanks, no trailing characters.
bool WholeNumber(std::string_view text, double& value) {
    if (text.starts_with('+')) text.remove_prefix(1);
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value, std::chars_format::general);
    return r.ec == std::errc() && r.ptr == end;
}

bool ParseDuration(std::string_view text, double& seconds) {
    static constexpr std::pair<std::string_view, double> kSuffixes[] = {
        {"min", 60}, {"hour", 3600}, {"h", 3600}, {"s", 1}, {"m", 60}};
    double scale = 1;
    for (const auto& [suffix, factor] : kSuffixes) {
        if (text.ends_with(suffix)) {
            text.remove_suffix(suffix.size());
            scale = factor;
            break;
        }
    }
    double value = 0;
    if (!WholeNumber(text, value)) return false;
    seconds = value * scale;
    // NaN fails both comparisons.
    return seconds > 0 && seconds <= kMaxTotalTime * 3600.0;
}

// Edits between two texts, ignoring case (a few characters at most).
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

// A word that was meant as a unit's key rather than a file: no folder or
// extension, and at most two edits from a serial or a model name.
bool LooksLikeUnitKey(std::string_view text) {
    if (text.find_first_of("./\\") != std::string_view::npos) return false;
    return std::any_of(KnownUnits().begin(), KnownUnits().end(), [text](const KnownUnit& u) {
        return EditDistance(text, u.serial) <= 2 || EditDistance(text, u.modelName) <= 2;
    });
}

std::string UnknownUnit(std::string_view key) {
    return "--simulate: unknown unit \"" + std::string(key) + "\"; known are " + KnownUnitKeys() +
           " (a FILE of such a name goes after --)";
}

// "A=text" into input and text.
bool SplitAssignment(const std::string& text, int& input, std::string& value) {
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    input = InputOfLabel(text.substr(0, eq));
    value = text.substr(eq + 1);
    return input >= 0;
}

}  // namespace

bool ParseRecorderArgs(const std::vector<std::string>& args, RecorderArgs& out,
                       std::string& error) {
    bool optionsEnded = false;
    // Where the argument after a --simulate without a key stands: a second
    // FILE there means that it was a key no unit has.
    std::size_t afterBareSimulate = args.size();
    std::size_t outputAt = args.size();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!out.outputFile.empty()) {
                error = outputAt == afterBareSimulate ? UnknownUnit(out.outputFile)
                        : i == afterBareSimulate      ? UnknownUnit(a)
                                                      : "only one output file can be given";
                return false;
            }
            if (a.empty()) {
                error = "the output file name is empty";
                return false;
            }
            out.outputFile = a;
            outputAt = i;
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const cli::Option opt = cli::SplitOption(a);
        const std::string& name = opt.name;
        std::string v;
        const auto value = [&] { return cli::TakeValue(opt, args, i, v, error); };
        const auto flag = [&](bool& set) {
            if (!cli::NoValue(opt, error)) return false;
            set = true;
            return true;
        };
        if (name == "--help" || name == "-h") {
            if (!flag(out.help)) return false;
        } else if (name == "--version") {
            if (!flag(out.version)) return false;
        } else if (name == "--simulate") {
            // The value is optional: taken when it names a known unit.
            out.simulate = "A30008SN";
            if (opt.value) {
                if (FindKnownUnit(*opt.value) == nullptr) {
                    error = UnknownUnit(*opt.value);
                    return false;
                }
                out.simulate = *opt.value;
            } else if (i + 1 < args.size() && FindKnownUnit(args[i + 1]) != nullptr) {
                out.simulate = args[++i];
            } else if (i + 1 < args.size() && LooksLikeUnitKey(args[i + 1])) {
                error = UnknownUnit(args[i + 1]);
                return false;
            } else {
                afterBareSimulate = i + 1;
            }
        } else if (name == "--port") {
            if (!value()) return false;
            SerialPortInfo port;
            if (!ParsePortSpec(v, port)) {
                error = "--port takes PATH=SERIAL, e.g. /dev/pts/3=A30008SN";
                return false;
            }
            out.ports.push_back(port);
        } else if (name == "--unpaced") {
            if (!flag(out.unpaced)) return false;
        } else if (name == "--quiet") {
            if (!flag(out.quiet)) return false;
        } else if (name == "--profile") {
            if (!value()) return false;
            out.profilePath = v;
            if (out.profilePath.empty()) {
                error = "--profile takes a path";
                return false;
            }
        } else if (name == "--inputs") {
            if (!value()) return false;
            std::vector<int> inputs;
            std::string_view rest = v;
            while (true) {
                const std::size_t comma = rest.find(',');
                const std::string_view label = rest.substr(0, comma);
                const int input = InputOfLabel(label);
                if (input < 0) {
                    error = "unknown input \"" + std::string(label) + "\" (use 1 2 3 4 A B C D)";
                    return false;
                }
                inputs.push_back(input);
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 1);
            }
            out.inputs = inputs;
        } else if (name == "--name" || name == "--unit") {
            if (!value()) return false;
            int input = -1;
            std::string text;
            if (!SplitAssignment(v, input, text)) {
                error = name + " takes INPUT=TEXT, e.g. A=ECG";
                return false;
            }
            const bool isName = name == "--name";
            const std::string fault = TextLengthFault(text, isName ? kNameChars : kUnitChars);
            if (!fault.empty()) {
                error = name;
                error += ' ';
                error += v;
                error += ": ";
                error += fault;
                return false;
            }
            InputOptions& in = out.perInput[static_cast<std::size_t>(input)];
            (isName ? in.name : in.unit) = text;
        } else if (name == "--cal") {
            if (!value()) return false;
            int input = -1;
            std::string text;
            double v1 = 0;
            double v0 = 0;
            const bool assigned = SplitAssignment(v, input, text);
            const std::size_t comma = text.find(',');
            if (!assigned || comma == std::string::npos ||
                !WholeNumber(std::string_view(text).substr(0, comma), v1) ||
                !WholeNumber(std::string_view(text).substr(comma + 1), v0)) {
                error = "--cal takes INPUT=V1,V0 with two numbers, e.g. B=100,0";
                return false;
            }
            const CalibrationFault fault = CheckCalibration(v1, v0);
            if (fault != CalibrationFault::None) {
                error = "--cal " + v + ": " + std::string(Describe(fault));
                return false;
            }
            out.perInput[static_cast<std::size_t>(input)].calibration =
                Calibration{.valueAt1V = v1, .valueAt0V = v0};
        } else if (name == "--time") {
            if (!value()) return false;
            double seconds = 0;
            if (!ParseDuration(v, seconds)) {
                error = "--time takes a positive duration up to 6000 h, e.g. 90, 1.5min, 2h";
                return false;
            }
            out.seconds = seconds;
        } else if (name == "--split") {
            if (!value()) return false;
            if (!ParseSplitEvery(v)) {
                error =
                    "--split takes a time of 1 s to 6000 h between files: a number with s, "
                    "m, h or d, e.g. 30s, 10m, 1h, 1d (a plain number is seconds)";
                return false;
            }
            out.splitEvery = v;
        } else if (name == "--format") {
            if (!value()) return false;
            if (v != "wdq" && v != "text") {
                error = "--format takes wdq or text";
                return false;
            }
            out.fileType = v == "text" ? FileType::Text : FileType::WinDaq;
        } else {
            error = "unknown option " + a + " (a FILE beginning with '-' goes after --)";
            return false;
        }
    }
    if (!out.help && !out.version && out.outputFile.empty()) {
        error = "no output file given";
        return false;
    }
    return true;
}

void ApplyRecorderArgs(const RecorderArgs& args, MeasurementChoices& c) {
    if (args.inputs) {
        for (InputChoice& in : c.inputs) in.recorded = false;
        for (const int input : *args.inputs)
            c.inputs[static_cast<std::size_t>(input)].recorded = true;
    }
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
        const InputOptions& given = args.perInput[i];
        InputChoice& in = c.inputs[i];
        if (given.name) in.name = *given.name;
        if (given.unit) in.unit = *given.unit;
        if (given.calibration) in.calibration = *given.calibration;
    }
    if (args.seconds) c.duration = Duration::InSeconds(*args.seconds);
    if (args.splitEvery) c.splitEvery = *args.splitEvery;
    if (args.fileType) {
        c.fileType = *args.fileType;
    } else if (const std::optional<int> named = FileTypeNamed(args.outputFile)) {
        // The profile's type gives way to the one the file's name says.
        c.fileType = FileTypeOf(*named);
    }
    c.save = SaveMode::ToFile;
    c.fileName = args.outputFile;
}

std::string CheckRecorderChoices(const RecorderArgs& args, const IniFile& profile,
                                 const std::vector<SettingRepair>& repairs,
                                 const MeasurementChoices& c) {
    const std::string where = "profile " + profile.path();
    if (!profile.LoadError().empty()) return where + " not read: " + profile.LoadError();
    using Field = SettingRepair::Field;
    const auto replaced = [&](const SettingRepair& r) {
        switch (r.field) {
            case Field::ChannelTicked:
                return args.inputs.has_value();
            case Field::FreqIndex:
                return false;
            case Field::FileType:
                return args.fileType.has_value();
            case Field::TotalTime:
            case Field::TimeUnit:
                return args.seconds.has_value();
            case Field::Calibration: {
                const auto at = static_cast<std::size_t>(r.input);
                return !c.inputs[at].recorded || args.perInput[at].calibration.has_value();
            }
        }
        return false;
    };
    for (const SettingRepair& r : repairs) {
        if (!replaced(r)) return where + ": " + r.found + ": " + r.reason;
    }
    // The options' names and units were checked when parsed: a long one here
    // is the profile's, which the desktop dialog would shorten.
    if (const std::optional<TextOverLimit> longText = FirstTextOverLimit(c)) {
        const int i = longText->input;
        return where + ": [" + std::string(profile::kChannelInfo) + "] " +
               (longText->isUnit ? profile::Unit(i) : profile::Name(i)) + ": " + longText->fault;
    }
    return CheckChoices(c);
}

}  // namespace tamix
