// tamix-lsl: finds an LSL stream on this host or the network, prints its full
// info and what it sends, and measures the clock offset to it, so that users
// can check their network before a recording with several programs.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "StandardOutput.h"
#include "streaming/LslClock.h"
#include "streaming/LslInlet.h"
#include "streaming/LslNetwork.h"

namespace {

constexpr const char* kHelp = R"(Usage: tamix-lsl [options]

Finds a Lab Streaming Layer stream by name, type or source id, prints its full
info (XML), and then the samples it sends, one line each: the time stamp in
seconds, then the values separated by tabs (a marker stream: its text).

Options:
  --name NAME       the stream's name
  --type TYPE       the stream's type (e.g. Analog, Markers)
  --source-id ID    the stream's source id
                    (none of these: the first stream that answers)
  --loopback        look on this host only (127.0.0.1); otherwise the query
                    also goes to LSL's multicast groups and broadcast port
  --wait S          how long to look for the stream; default 5 seconds
  --count N         print N samples, then end
  --seconds S       print the samples of S seconds, then end
                    (neither: the info only)
  --time-probes K   send K time probes first and print the offset of the
                    stream's clock to this host's (and each round trip)
  --help            this text
  --version         the version

An option's value may also follow an equals sign: --name=Tamix.
Setting TAMIX_LSL_LOOPBACK=1 keeps every query on this host.

Exit status: 0 done; 1 no stream answered, or it could not be read; 2 bad
arguments; 3 standard output could not be written.
)";

constexpr int kExitStream = 1;
constexpr int kExitUsage = 2;
constexpr int kExitOutput = 3;

int Usage(const std::string& message) {
    std::cerr << "tamix-lsl: " << message << "\nTry 'tamix-lsl --help'.\n";
    return kExitUsage;
}

int FlushedStatus() {
    std::string reason;
    if (tamix::cli::FinishStandardOutput(reason)) return 0;
    std::cerr << "tamix-lsl: " << tamix::cli::kStandardOutput << ": " << reason << "\n";
    return kExitOutput;
}

bool PositiveNumber(const std::string& text, double& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(value) &&
           value > 0;
}

std::string Number(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    namespace cli = tamix::cli;
    cli::PrepareStandardOutput();
    std::string name;
    std::string type;
    std::string sourceId;
    tamix::LslNetwork network = tamix::LslNetwork::Full;
    double wait = 5;
    double seconds = 0;
    double count = 0;
    double probes = 0;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const cli::Option opt = cli::SplitOption(args[i]);
        std::string error;
        std::string value;
        if (opt.name == "--help" || opt.name == "-h" || opt.name == "--version") {
            if (!cli::NoValue(opt, error)) return Usage(error);
            cli::Print(opt.name == "--version" ? cli::VersionLine("tamix-lsl") : kHelp);
            return FlushedStatus();
        }
        if (opt.name == "--loopback") {
            if (!cli::NoValue(opt, error)) return Usage(error);
            network = tamix::LslNetwork::LoopbackOnly;
            continue;
        }
        if (opt.name != "--name" && opt.name != "--type" && opt.name != "--source-id" &&
            opt.name != "--wait" && opt.name != "--count" && opt.name != "--seconds" &&
            opt.name != "--time-probes") {
            return Usage("unknown argument " + args[i]);
        }
        if (!cli::TakeValue(opt, args, i, value, error)) return Usage(error);
        if (opt.name == "--name") {
            name = value;
        } else if (opt.name == "--type") {
            type = value;
        } else if (opt.name == "--source-id") {
            sourceId = value;
        } else {
            double number = 0;
            const bool whole = opt.name == "--count" || opt.name == "--time-probes";
            if (!PositiveNumber(value, number) || (whole && number != std::floor(number)) ||
                number > 1e9) {
                return Usage(opt.name + ": \"" + value + "\" is not " +
                             (whole ? "a whole number above 0" : "a number of seconds above 0"));
            }
            (opt.name == "--wait"      ? wait
             : opt.name == "--count"   ? count
             : opt.name == "--seconds" ? seconds
                                       : probes) = number;
        }
    }

    const std::string query = tamix::LslQueryFor(name, type, sourceId);
    const std::string what = query.empty() ? std::string("any stream") : query;
    std::vector<tamix::LslFoundStream> found;
    std::string error;
    if (!tamix::LslResolve(query, network, wait, 1, found, error)) {
        std::cerr << "tamix-lsl: " << error << "\n";
        return kExitStream;
    }
    if (found.empty()) {
        std::cerr << "tamix-lsl: no stream answered the query for " << what << " within "
                  << Number("%g", wait) << " s"
                  << (tamix::EffectiveNetwork(network) == tamix::LslNetwork::LoopbackOnly
                          ? " on this host"
                          : "")
                  << "\n";
        return kExitStream;
    }
    const tamix::LslFoundStream& stream = found.front();
    const std::string streamName =
        "stream \"" + stream.info.Field("name") + "\" at " + stream.address;
    std::string xml;
    if (!tamix::LslFetchFullInfo(stream, xml, error)) {
        std::cerr << "tamix-lsl: " << streamName << ": " << error << "\n";
        return kExitStream;
    }
    cli::Print(xml);

    if (probes > 0) {
        std::vector<tamix::LslClockProbe> answers;
        if (!tamix::LslProbeClock(stream, static_cast<int>(probes), answers, error) ||
            answers.empty()) {
            std::cerr << "tamix-lsl: " << streamName << ": "
                      << (error.empty() ? "no time probe was answered" : error) << "\n";
            return kExitStream;
        }
        for (const tamix::LslClockProbe& p : answers) {
            cli::Print("probe: offset " + Number("%+.6f", p.offset) + " s, round trip " +
                       Number("%.6f", p.roundTrip) + " s\n");
        }
        // As LSL receivers do: the probe with the shortest round trip.
        const auto best = std::min_element(
            answers.begin(), answers.end(),
            [](const auto& a, const auto& b) { return a.roundTrip < b.roundTrip; });
        cli::Print("clock offset: " + Number("%+.6f", best->offset) + " s (" +
                   std::to_string(answers.size()) + " of " +
                   std::to_string(static_cast<int>(probes)) + " probes answered)\n");
    }

    if (count > 0 || seconds > 0) {
        tamix::LslFeed feed;
        if (!feed.Open(stream, tamix::LslFeedOptions{}, error)) {
            std::cerr << "tamix-lsl: " << streamName << ": " << error << "\n";
            return kExitStream;
        }
        const double end = seconds > 0 ? tamix::LslClock() + seconds : 0;
        double received = 0;
        tamix::LslReceivedSample sample;
        while ((count == 0 || received < count) && (end == 0 || tamix::LslClock() < end)) {
            const double left = end == 0 ? 5 : std::max(0.0, end - tamix::LslClock());
            if (!feed.Next(sample, left, error)) {
                if (error.empty() && end != 0) break;
                std::cerr << "tamix-lsl: " << streamName << ": "
                          << (error.empty() ? "no sample within 5 s" : error) << "\n";
                return kExitStream;
            }
            std::string line = Number("%.6f", sample.stamp);
            if (sample.values.empty()) {
                line += '\t' + sample.text;
            }
            for (const float v : sample.values) line += '\t' + Number("%.9g", v);
            line += '\n';
            cli::Print(line);
            ++received;
        }
    }
    return FlushedStatus();
}
