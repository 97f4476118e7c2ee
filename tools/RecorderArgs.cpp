#include "RecorderArgs.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>

#include "acquisition/MeasurementSetup.h"
#include "base/IniFile.h"
#include "base/ProfileKeys.h"
#include "base/TextLimits.h"
#include "base/Utf8Text.h"
#include "device/DeviceProfile.h"
#include "device/InstrumentSource.h"
#include "dialogs/OptionChecks.h"

namespace tamix {

const char* const kRecorderHelp =
    R"(Usage: tamix-record [options] FILE

Records the instrument's inputs into FILE without the desktop program: a WinDaq
binary file (.wdq) or a text file (.dat) with its FILE_info.txt. The measurement
choices (inputs, names, units, calibration, time, file type) come from the same
profile the desktop program uses; the options below override them for this run
without changing the profile. An existing FILE is overwritten. ".wdq" or ".dat"
is appended when the name does not contain it; a name ending in one of them
chooses that file type unless --format says otherwise.

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
  --profile PATH       profile to read instead of ~/.config/tamix.INI
                       ($XDG_CONFIG_HOME/tamix.INI when that is set)
  --quiet              no progress display (it is shown only on a terminal)
  --help               this text
  --                   ends the options: a FILE that begins with '-' follows

Values the desktop program would repair in the profile (a time out of range,
an index out of its list, a calibration that is not finite or reads 1 V as
0 V) make tamix-record refuse to start, unless an option replaces them; so
does a profile path that is not a regular file or is larger than 1 MiB.

While recording, each line typed on standard input adds a marker with that
line as its comment at the current scan. Ctrl-C, SIGTERM or SIGHUP (a closed
terminal) stops the run at the end of its current cycle of scans and
completes the file. Until then the file on disk is kept readable: a crash or
kill -9 loses at most about the last second (tamix-file repair completes it).

Exit status: 0 completed; 1 no usable instrument found; 2 bad arguments or
settings; 3 the output file cannot be created, or another recording holds it;
4 the run ended early or incompletely (the instrument was lost, the file could
not be written, a WinDaq file was full, the info file could not be written);
5 completed, but scans were lost before they reached the computer (gaps are
marked in the file).
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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const auto value = [&](std::string& v) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            v = args[++i];
            return true;
        };
        std::string v;
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!out.outputFile.empty()) {
                error = "only one output file can be given";
                return false;
            }
            if (a.empty()) {
                error = "the output file name is empty";
                return false;
            }
            out.outputFile = a;
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--simulate") {
            // The value is optional: taken when it names a known unit.
            out.simulate = "A30008SN";
            if (i + 1 < args.size() && FindKnownUnit(args[i + 1]) != nullptr)
                out.simulate = args[++i];
        } else if (a.rfind("--simulate=", 0) == 0) {
            out.simulate = a.substr(11);
        } else if (a == "--port") {
            if (!value(v)) return false;
            SerialPortInfo port;
            if (!ParsePortSpec(v, port)) {
                error = "--port takes PATH=SERIAL, e.g. /dev/pts/3=A30008SN";
                return false;
            }
            out.ports.push_back(port);
        } else if (a == "--unpaced") {
            out.unpaced = true;
        } else if (a == "--quiet") {
            out.quiet = true;
        } else if (a == "--profile") {
            if (!value(out.profilePath)) return false;
            if (out.profilePath.empty()) {
                error = "--profile takes a path";
                return false;
            }
        } else if (a == "--inputs") {
            if (!value(v)) return false;
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
        } else if (a == "--name" || a == "--unit") {
            if (!value(v)) return false;
            int input = -1;
            std::string text;
            if (!SplitAssignment(v, input, text)) {
                error = a + " takes INPUT=TEXT, e.g. A=ECG";
                return false;
            }
            const std::size_t limit = a == "--name" ? kNameChars : kUnitChars;
            const std::size_t chars = Utf8Length(text);
            if (chars > limit) {
                error = a;
                error += ' ';
                error += v;
                error += ": " + std::to_string(chars);
                error += " characters, at most " + std::to_string(limit) + " are possible";
                return false;
            }
            (a == "--name" ? out.names : out.units).emplace_back(input, text);
        } else if (a == "--cal") {
            if (!value(v)) return false;
            int input = -1;
            std::string text;
            double v1 = 0, v0 = 0;
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
            out.calibrations.push_back({input, {v1, v0}});
        } else if (a == "--time") {
            if (!value(v)) return false;
            double seconds = 0;
            if (!ParseDuration(v, seconds)) {
                error = "--time takes a positive duration up to 6000 h, e.g. 90, 1.5min, 2h";
                return false;
            }
            out.seconds = seconds;
        } else if (a == "--format") {
            if (!value(v)) return false;
            if (v != "wdq" && v != "text") {
                error = "--format takes wdq or text";
                return false;
            }
            out.fileType = v == "text" ? 1 : 0;
        } else {
            error = "unknown option " + a + " (a FILE beginning with '-' goes after --)";
            return false;
        }
    }
    if (!out.help && out.outputFile.empty()) {
        error = "no output file given";
        return false;
    }
    return true;
}

void ApplyRecorderArgs(const RecorderArgs& args, MeasurementOptions& o) {
    if (args.inputs) {
        o.m_bChannel.fill(0);
        for (const int input : *args.inputs) o.m_bChannel[input] = 1;
    }
    for (const auto& [input, name] : args.names) o.m_strNames[input] = name;
    for (const auto& [input, unit] : args.units) o.m_strUnits[input] = unit;
    for (const auto& [input, cal] : args.calibrations) {
        o.m_dValues1V[input] = cal.first;
        o.m_dValues0V[input] = cal.second;
    }
    if (args.seconds) {
        o.m_dTotalTime = *args.seconds / 60.0;
        o.m_nTimeUnit = 0;
    }
    if (args.fileType) {
        o.m_nFileType = *args.fileType;
    } else if (const std::optional<int> named = FileTypeNamed(args.outputFile)) {
        // The profile's type gives way to the one the file's name says.
        o.m_nFileType = *named;
    }
    o.m_nSaveMode = 1;
    o.m_strFileName = args.outputFile;
    // The shown fields follow the arrays, so the checks on OK see the overrides.
    o.ShowChannel();
}

std::string CheckRecorderChoices(const RecorderArgs& args, const IniFile& profile,
                                 const MeasurementOptions& o) {
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
            case Field::Calibration:
                return o.m_bChannel[r.input] == 0 ||
                       std::any_of(args.calibrations.begin(), args.calibrations.end(),
                                   [&](const auto& c) { return c.first == r.input; });
        }
        return false;
    };
    for (const SettingRepair& r : o.Repairs()) {
        if (!replaced(r)) return where + ": " + r.found + ": " + r.reason;
    }
    // The options' names and units were checked when parsed: a long one here
    // is the profile's, which the desktop dialog would not accept either.
    const auto tooLong = [&](const std::string& key, const std::string& text, std::size_t limit) {
        const std::size_t chars = Utf8Length(text);
        if (chars <= limit) return std::string();
        return where + ": [" + std::string(profile::kChannelInfo) + "] " + key + ": " +
               std::to_string(chars) + " characters, at most " + std::to_string(limit) +
               " are possible";
    };
    for (int i = 0; i < kMaxChannels; ++i) {
        if (o.m_bChannel[i] == 0) continue;
        std::string problem = tooLong(profile::Name(i), o.m_strNames[i], kNameChars);
        if (problem.empty()) problem = tooLong(profile::Unit(i), o.m_strUnits[i], kUnitChars);
        if (!problem.empty()) return problem;
    }
    return o.CheckForOk();
}

}  // namespace tamix
