// tamix-sim: plays a simulated instrument on a pseudo-terminal and prints the
// terminal's path, so that the programs can drive it as a real serial port
// (--port PATH=SERIAL).
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "base/ChannelInfo.h"
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
  --help            this text
)";

}  // namespace

int main(int argc, char** argv) {
    tamix::SimulatedUnitOptions unit;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (a == "--unit" && i + 1 < argc) {
            if (!tamix::SimulatedUnitFor(argv[++i], unit)) {
                std::cerr << "tamix-sim: --unit needs a serial or a model name\n";
                return 2;
            }
        } else if (a == "--inputs" && i + 1 < argc) {
            unit.fixedInputs.clear();
            for (const char* p = argv[++i]; *p != '\0'; ++p) {
                const int input = tamix::InputOfLabel(std::string_view(p, 1));
                if (input >= 0) unit.fixedInputs.push_back(input);
            }
        } else {
            std::cerr << "tamix-sim: unknown argument " << a << "\nTry 'tamix-sim --help'.\n";
            return 2;
        }
    }
    tamix::PtyUnit pty(unit);
    std::string error;
    if (!pty.Open(error)) {
        std::cerr << "tamix-sim: " << error << "\n";
        return 1;
    }
    std::cout << pty.path() << "=" << unit.serial << std::endl;
    gPty = &pty;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    pty.Serve(gStop);
    if (pty.lostScans() > 0) std::cerr << "tamix-sim: " << pty.lostScans() << " scans were lost\n";
    return 0;
}
