// tamix-sim: plays a simulated instrument on a pseudo-terminal and prints the
// terminal's path, so that the programs can drive it as a real serial port
// (--port PATH=SERIAL).
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "StandardOutput.h"
#include "base/ChannelInfo.h"
#include "device/DeviceProfile.h"
#include "device/PtyUnit.h"
#include "device/SimulatedDriver.h"

namespace {

std::atomic<bool> gStop{false};
tamix::PtyUnit* gPty = nullptr;
extern "C" void OnSignal(int) {
    gStop.store(true);
    if (gPty != nullptr) gPty->Interrupt();
}

constexpr const char* kHelp = R"(Usage: tamix-sim [options]

Plays a simulated instrument on a pseudo-terminal until interrupted (Ctrl-C).
The first line printed is the terminal's path and the serial to assume for it,
in the form the programs take:

    tamix-record --port /dev/pts/3=A30008SN --time 10 out.wdq

Options:
  --unit KEY        serial (A30008SN, A3000B6G, A3000B6H, A30008SG, A3000B6u,
                    A60089Rz, A4001lsz) or model name (KPR-T310, HLX-7, NORV40,
                    TIRQEL, KPR-44B) of the unit to play; default A30008SN
  --inputs LIST     inputs a TIRQEL streams (it has no channel programming),
                    e.g. 1,2,A; default 1,2,3,4
  --buffer BYTES    the unit's FIFO; while the host takes nothing it keeps the
                    oldest scans and drops those that do not fit; default 4096
  --drop AT:COUNT   drop COUNT scans from scan AT on, as an overflowing FIFO
                    would (for tests); repeatable, e.g. --drop 3000:20
  --help            this text
  --version         the version

An option's value may also follow an equals sign: --unit=NORV40.

When it ends, the number of scans the unit dropped (its own loss counter) is
printed on the standard error: "tamix-sim: N scans were lost".

Exit status: 0 after an interrupt; 1 no pseudo-terminal could be opened;
2 bad arguments; 3 standard output could not be written (a full disk, a
closed pipe), so nobody could learn the terminal's path.
)";

constexpr int kExitOutput = 3;

int Usage(const std::string& message) {
    std::cerr << "tamix-sim: " << message << "\nTry 'tamix-sim --help'.\n";
    return 2;
}

// 0, or the exit status for a standard output that could not be written.
int FlushedStatus() {
    std::string reason;
    if (tamix::cli::FinishStandardOutput(reason)) return 0;
    std::cerr << "tamix-sim: " << tamix::cli::kStandardOutput << ": " << reason << "\n";
    return kExitOutput;
}

}  // namespace

int main(int argc, char** argv) {
    namespace cli = tamix::cli;
    cli::PrepareStandardOutput();
    tamix::SimulatedUnitOptions unit;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const cli::Option opt = cli::SplitOption(args[i]);
        std::string error;
        std::string value;
        if (opt.name == "--help" || opt.name == "-h" || opt.name == "--version") {
            if (!cli::NoValue(opt, error)) return Usage(error);
            cli::Print(opt.name == "--version" ? cli::VersionLine("tamix-sim") : kHelp);
            return FlushedStatus();
        }
        if (opt.name == "--unit") {
            if (!cli::TakeValue(opt, args, i, value, error)) return Usage(error);
            // A foreign serial would only play a unit no program recognises.
            if (tamix::FindKnownUnit(value) == nullptr || !tamix::SimulatedUnitFor(value, unit)) {
                return Usage("--unit: unknown unit \"" + value + "\"; known are " +
                             tamix::KnownUnitKeys());
            }
        } else if (opt.name == "--inputs") {
            if (!cli::TakeValue(opt, args, i, value, error)) return Usage(error);
            unit.fixedInputs.clear();
            for (const char c : value) {
                const int input = tamix::InputOfLabel(std::string_view(&c, 1));
                if (input >= 0) unit.fixedInputs.push_back(input);
            }
        } else if (opt.name == "--buffer") {
            if (!cli::TakeValue(opt, args, i, value, error)) return Usage(error);
            char* end = nullptr;
            const unsigned long long bytes = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || bytes < 16 || bytes > (1u << 24)) {
                return Usage("--buffer: \"" + value +
                             "\" is not a number of bytes from 16 to 16777216");
            }
            unit.bufferBytes = static_cast<std::size_t>(bytes);
        } else if (opt.name == "--drop") {
            if (!cli::TakeValue(opt, args, i, value, error)) return Usage(error);
            tamix::SimulatedUnitOptions::Drop drop;
            char* end = nullptr;
            drop.at = std::strtoll(value.c_str(), &end, 10);
            const bool colon = end != value.c_str() && *end == ':';
            if (colon) drop.count = std::strtoll(end + 1, &end, 10);
            const int64_t previousEnd =
                unit.drops.empty() ? 0 : unit.drops.back().at + unit.drops.back().count;
            if (!colon || *end != '\0' || drop.at < previousEnd || drop.count < 1) {
                return Usage("--drop: \"" + value +
                             "\" is not AT:COUNT with COUNT >= 1, after the previous drop");
            }
            unit.drops.push_back(drop);
        } else {
            return Usage("unknown argument " + args[i]);
        }
    }
    tamix::PtyUnit pty(unit);
    std::string error;
    if (!pty.Open(error)) {
        std::cerr << "tamix-sim: " << error << "\n";
        return 1;
    }
    // Before the path is printed: whoever reads it may interrupt at once.
    gPty = &pty;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    cli::Print(pty.path() + "=" + unit.serial + "\n");
    if (const int status = FlushedStatus(); status != 0) return status;
    pty.Serve(gStop);
    std::cerr << "tamix-sim: " << pty.lostScans() << " scans were lost\n";
    return 0;
}
