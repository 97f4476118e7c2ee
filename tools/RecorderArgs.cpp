#include "RecorderArgs.h"

#include <cctype>
#include <cmath>
#include <sstream>

#include "acquisition/MeasurementSetup.h"
#include "base/IniFile.h"
#include "device/DeviceProfile.h"
#include "device/InstrumentSource.h"

namespace tamix {

const char* const kRecorderHelp =
    R"(Usage: tamix-record [options] FILE

Records the instrument's inputs into FILE without the desktop program: a WinDaq
binary file (.wdq) or a text file (.dat) with its FILE_info.txt. The measurement
choices (inputs, names, units, calibration, time, file type) come from the same
profile the desktop program uses; the options below override them for this run
without changing the profile. An existing FILE is overwritten. ".wdq" or ".dat"
is appended when the name does not contain it.

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
  --cal INPUT=V1,V0    engineering values at 1 V and at 0 V of an input
  --time DURATION      total recording time: seconds, or with a suffix s, min, h
                       (e.g. 90, 1.5min, 2h); at most 6000 h
  --format wdq|text    output type
  --profile PATH       profile to read instead of ~/.config/tamix.INI
                       ($XDG_CONFIG_HOME/tamix.INI when that is set)
  --quiet              no progress display (it is shown only on a terminal)
  --help               this text

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

bool ParseDuration(const std::string& text, double& seconds) {
    bool found = false;
    std::size_t numberEnd = 0;
    while (numberEnd < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[numberEnd])) || text[numberEnd] == '.' ||
            text[numberEnd] == 'e' || text[numberEnd] == '+' || text[numberEnd] == '-')) {
        ++numberEnd;
    }
    const double value = LeadingNumber(text.substr(0, numberEnd), &found);
    const std::string suffix = text.substr(numberEnd);
    double scale = 0;
    if (suffix.empty() || suffix == "s") scale = 1;
    if (suffix == "min" || suffix == "m") scale = 60;
    if (suffix == "h" || suffix == "hour") scale = 3600;
    seconds = value * scale;
    return found && scale > 0 && seconds > 0 && seconds <= 6000 * 3600.0 && std::isfinite(seconds);
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
        if (a == "--help" || a == "-h") {
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
        } else if (a == "--inputs") {
            if (!value(v)) return false;
            std::vector<int> inputs;
            std::stringstream list(v);
            std::string label;
            while (std::getline(list, label, ',')) {
                const int input = InputOfLabel(label);
                if (input < 0) {
                    error = "unknown input \"" + label + "\" (use 1 2 3 4 A B C D)";
                    return false;
                }
                inputs.push_back(input);
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
            (a == "--name" ? out.names : out.units).emplace_back(input, text);
        } else if (a == "--cal") {
            if (!value(v)) return false;
            int input = -1;
            std::string text;
            const std::size_t comma = v.find(',');
            bool ok1 = false, ok0 = false;
            if (SplitAssignment(v, input, text) && comma != std::string::npos) {
                const double v1 = LeadingNumber(text.substr(0, text.find(',')), &ok1);
                const double v0 = LeadingNumber(text.substr(text.find(',') + 1), &ok0);
                if (ok1 && ok0) out.calibrations.push_back({input, {v1, v0}});
            }
            if (!ok1 || !ok0) {
                error = "--cal takes INPUT=V1,V0, e.g. B=100,0";
                return false;
            }
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
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (out.outputFile.empty()) {
            out.outputFile = a;
        } else {
            error = "only one output file can be given";
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
    if (args.fileType) o.m_nFileType = *args.fileType;
    o.m_nSaveMode = 1;
    o.m_strFileName = args.outputFile;
}

}  // namespace tamix
