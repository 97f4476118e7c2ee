#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "../support/ChildProcess.h"
#include "../support/TempDir.h"
#include "../support/WdqReader.h"
#include "acquisition/MeasurementSetup.h"
#include "device/InstrumentProtocol.h"
#include "device/InstrumentSource.h"
#include "device/LinuxSerialDriver.h"
#include "device/PtyUnit.h"
#include "device/SignalGenerator.h"
#include "recording/WdqWriter.h"

namespace tamix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
}

// A sysfs tree as the kernel shows USB-serial ports: class/tty/<name>/device
// links to the port, whose driver link names ftdi_sio, below its USB device.
class FakeSysfs {
  public:
    void AddPort(const std::string& tty, const std::string& driver, const std::string& serial,
                 bool withUsbParent = true) {
        const fs::path usb = dir.path() / "devices/pci0/usb1" / ("1-" + tty);
        const fs::path port =
            withUsbParent ? usb / "1-1:1.0" / tty : dir.path() / "devices/platform" / tty;
        fs::create_directories(port);
        if (withUsbParent) {
            Write(usb / "idVendor", "0403");
            if (!serial.empty()) Write(usb / "serial", serial);
            Write(usb / "product", "FT232R USB UART");
        }
        const fs::path drivers = dir.path() / "bus/usb-serial/drivers" / driver;
        fs::create_directories(drivers);
        fs::create_directory_symlink(drivers, port / "driver");
        Write(port / "latency_timer", "16");
        fs::create_directories(dir.path() / "class/tty" / tty);
        fs::create_directory_symlink(port, dir.path() / "class/tty" / tty / "device");
    }
    void AddVirtual(const std::string& tty) {
        fs::create_directories(dir.path() / "class/tty" / tty);
    }
    std::string root() const { return dir.path().string(); }
    test::TempDir dir;
};

TEST(FtdiPortListTest, ListsFtdiTtysInNaturalOrderWithTheirSerials) {
    FakeSysfs sys;
    sys.AddPort("ttyUSB10", "ftdi_sio", "A4001lsz");
    sys.AddPort("ttyUSB2", "ftdi_sio", "A30008SN");
    sys.AddPort("ttyUSB3", "ftdi_sio", "");  // no serial attribute
    sys.AddPort("ttyACM0", "cdc_acm", "XYZ");
    sys.AddPort("ttyUSB4", "ftdi_sio", "", false);  // no USB parent
    sys.AddVirtual("tty1");
    const auto ports = ListFtdiPorts(sys.root(), "/dev");
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].name, "ttyUSB2");
    EXPECT_EQ(ports[0].serial, "A30008SN");
    EXPECT_EQ(ports[0].path, "/dev/ttyUSB2");
    EXPECT_EQ(ports[0].description, "FT232R USB UART");
    EXPECT_NE(ports[0].latencyTimer.find("ttyUSB2/latency_timer"), std::string::npos);
    EXPECT_EQ(ports[1].name, "ttyUSB3");
    EXPECT_EQ(ports[1].serial, "");
    EXPECT_EQ(ports[2].name, "ttyUSB4");
    EXPECT_EQ(ports[3].name, "ttyUSB10");
    EXPECT_TRUE(ListFtdiPorts(sys.root() + "/missing", "/dev").empty());
}

TEST(FtdiPortListTest, PortSpecsNameAPathAndItsSerial) {
    SerialPortInfo port;
    EXPECT_TRUE(ParsePortSpec("/dev/pts/3=A30008SN", port));
    EXPECT_EQ(port.path, "/dev/pts/3");
    EXPECT_EQ(port.serial, "A30008SN");
    EXPECT_FALSE(ParsePortSpec("/dev/pts/3", port));
    EXPECT_FALSE(ParsePortSpec("=A30008SN", port));
}

// The simulated unit on a pseudo-terminal, driven through the Linux driver.
class PtyDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pty.Open(error)) << error;
        pty.Start();
        SerialPortInfo port;
        ASSERT_TRUE(ParsePortSpec(pty.path() + "=A30008SN", port));
        driver = std::make_unique<LinuxSerialDriver>(std::vector<SerialPortInfo>{port}, sys.root(),
                                                     "/dev");
        setup->link.SetDriver(driver.get());
        setup->channelCount = 3;
        setup->channels[0].inputNumber = 0;
        setup->channels[1].inputNumber = 2;
        setup->channels[2].inputNumber = 5;
    }
    void TearDown() override { setup->link.Close(); }

    FakeSysfs sys;
    PtyUnit pty{[] {
        SimulatedUnitOptions o;
        o.serial = "A30008SN";
        return o;
    }()};
    std::unique_ptr<LinuxSerialDriver> driver;
    std::unique_ptr<MeasurementSetup> setup = std::make_unique<MeasurementSetup>();
};

TEST_F(PtyDriverTest, SetsUpAndStreamsPacedBatchesOfTheProgrammedInputs) {
    ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()), SetupResult::Ok);
    EXPECT_EQ(setup->profile.ModelName(), "KPR-T310");
    StartStreaming(setup->link);
    std::array<uint8_t, 48> batch{};
    const auto t0 = Clock::now();
    for (int b = 0; b < 40; ++b) {  // 320 scans: 0.64 s at 2 ms
        ASSERT_TRUE(ReadBatch(setup->link, 3, batch).Complete(3)) << "batch " << b;
        for (int j = 0; j < 8; ++j) {
            const double t = (b * 8 + j) * 0.002;
            for (int k = 0; k < 3; ++k) {
                const int w = j * 3 + k;
                ASSERT_EQ(ConvertSample(batch[2 * w], batch[2 * w + 1], 1,
                                        setup->channels[k].inputNumber),
                          SignalGenerator::IntendedSample(setup->channels[k].inputNumber, t, 1));
            }
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 1.5);
    EXPECT_EQ(pty.lostScans(), 0);
}

TEST_F(PtyDriverTest, AReadReturnsWhatArrivedWhenItsTimeoutHasPassed) {
    ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()), SetupResult::Ok);
    setup->link.SetTimeouts(200, 200);
    std::array<uint8_t, 16> block{};
    block.fill(0xAB);
    uint32_t got = 99;
    const auto t0 = Clock::now();
    EXPECT_EQ(setup->link.ReadBlock(block, &got), FT_OK);
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    EXPECT_EQ(got, 0u) << "not streaming: nothing arrives";
    EXPECT_EQ(block[0], 0xAB);
    EXPECT_GE(seconds, 0.19);
    EXPECT_LT(seconds, 0.6);
}

TEST_F(PtyDriverTest, OpenIsExclusiveUntilClosed) {
    ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()), SetupResult::Ok);
    LinuxSerialDriver other({{"pts", pty.path(), "A30008SN", "", ""}}, sys.root(), "/dev");
    CUsbLink second;
    second.SetDriver(&other);
    EXPECT_EQ(second.OpenByIndex(0, 115200), 2);
    EXPECT_NE(other.LastOpenError().find("in use"), std::string::npos);
    setup->link.Close();
    EXPECT_EQ(second.OpenByIndex(0, 115200), 0);
    second.Close();
}

TEST_F(PtyDriverTest, AVanishedPortFailsTheReadWithinItsTimeout) {
    ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()), SetupResult::Ok);
    StartStreaming(setup->link);
    std::array<uint8_t, 48> batch{};
    ASSERT_TRUE(ReadBatch(setup->link, 3, batch).Complete(3));
    pty.Close();
    const auto t0 = Clock::now();
    BatchResult result;
    for (int i = 0; i < 20 && result.status == FT_OK; ++i)
        result = ReadBatch(setup->link, 3, batch);
    EXPECT_NE(result.status, FT_OK);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 3.0);
}

// Checks a batch of the unit's first scans, as a fresh unit sends them.
void ExpectFirstScans(const std::array<uint8_t, 48>& batch, const MeasurementSetup& setup) {
    for (int j = 0; j < 8; ++j) {
        for (int k = 0; k < 3; ++k) {
            const int w = j * 3 + k;
            const int input = setup.channels[k].inputNumber;
            ASSERT_EQ(ConvertSample(batch[2 * w], batch[2 * w + 1], 1, input),
                      SignalGenerator::IntendedSample(input, j * 0.002, 1))
                << "scan " << j << " input " << input;
        }
    }
}

TEST_F(PtyDriverTest, AHostThatLeftMidStreamLeavesAUnitThatStartsOver) {
    std::array<uint8_t, 48> batch{};
    for (int host = 0; host < 3; ++host) {
        SCOPED_TRACE(host);
        const auto t0 = Clock::now();
        ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()),
                  SetupResult::Ok);
        StartStreaming(setup->link);
        ASSERT_TRUE(ReadBatch(setup->link, 3, batch).Complete(3));
        // Every reply came: no read waited for its timeout.
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 0.9);
        ExpectFirstScans(batch, *setup);
        ASSERT_TRUE(ReadBatch(setup->link, 3, batch).Complete(3));
        // Gone without the stop byte, and the next host opens at once.
        setup->link.Close();
    }
}

TEST_F(PtyDriverTest, TheUnitWakesAboutOncePerBatchWhileStreaming) {
    ASSERT_EQ(SetupDevice(setup->link, setup->profile, setup->SelectedChannels()), SetupResult::Ok);
    StartStreaming(setup->link);
    std::array<uint8_t, 48> batch{};
    const int64_t before = pty.wakeUps();
    for (int b = 0; b < 50; ++b) ASSERT_TRUE(ReadBatch(setup->link, 3, batch).Complete(3));
    // 50 batches of 8 scans at 2 ms: about 50 wake-ups. Waking for the host's
    // request bytes as well makes it about 125, for every scan 400.
    EXPECT_LT(pty.wakeUps() - before, 80);
    EXPECT_EQ(pty.lostScans(), 0);
}

TEST(PtyDriverErrorsTest, MissingNodesAndUnknownIndexesGiveTheOpenFailures) {
    LinuxSerialDriver driver({{"ttyUSB99", "/dev/nonexistent-tty", "A30008SN", "", ""}},
                             "/nonexistent", "/dev");
    CUsbLink link;
    link.SetDriver(&driver);
    EXPECT_EQ(link.OpenByIndex(1, 115200), 1);
    EXPECT_EQ(link.OpenByIndex(0, 115200), 2);
    EXPECT_NE(driver.LastOpenError().find("unplugged"), std::string::npos);
}

// tamix-record through the Linux driver, from tamix-sim on a pseudo-terminal.
TEST(RecorderOverPtyTest, RecordsTheSimulatedSignals) {
    test::TempDir dir;
    test::ChildProcess sim({TAMIX_SIM_PATH, "--unit", "NORV40"});
    ASSERT_TRUE(sim.Started());
    const std::string port = sim.ReadLine();
    ASSERT_FALSE(port.empty());
    const std::string wdq = dir.File("pty.wdq");
    test::ChildProcess record({TAMIX_RECORD_PATH, "--quiet", "--profile", dir.File("p.INI"),
                               "--port", port, "--inputs", "1,3,B", "--time", "1", wdq});
    const int rc = record.ExitCode();
    EXPECT_EQ(sim.StopWith(SIGINT), 0);
    ASSERT_EQ(rc, 0) << port;
    std::string error;
    const auto f = test::ReadWdq(test::ReadBytes(wdq), error);
    ASSERT_TRUE(f) << error;
    DeviceProfile norv;
    IdentifyDevice("A3000B6u", norv);
    EXPECT_EQ(f->ScanCount(), 8 * (static_cast<int64_t>(1 / norv.samplePeriod) / 8 + 1));
    const int inputs[] = {0, 2, 5};
    for (int64_t scan = 0; scan < f->ScanCount(); ++scan) {
        for (int k = 0; k < 3; ++k) {
            const int16_t want =
                SignalGenerator::IntendedSample(inputs[k], scan * norv.samplePeriod, 3);
            ASSERT_EQ(f->samples[scan * 3 + k], RoundWdqSample(want)) << scan;
        }
    }
}

}  // namespace
}  // namespace tamix
