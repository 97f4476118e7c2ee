// The Windows driver without the bridge maker's library or a real port: what
// the operator is told, and the explicitly named COM ports in the list.
#include <gtest/gtest.h>

#include "device/InstrumentSource.h"
#include "device/WindowsD2xxDriver.h"

namespace tamix {
namespace {

TEST(WindowsDriver, AMissingLibraryListsNothingAndSaysWhatToInstall) {
    WindowsD2xxDriver driver({}, "tamix-no-such-d2xx.dll");
    uint32_t n = 99;
    ASSERT_EQ(driver.CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(n, 0u);
    FtHandle handle = 0;
    EXPECT_EQ(driver.Open(0, &handle), FT_DEVICE_NOT_FOUND);
    const std::string why = driver.LastOpenError();
    EXPECT_NE(why.find("tamix-no-such-d2xx.dll could not be loaded"), std::string::npos) << why;
    EXPECT_NE(why.find("--port COM3=SERIAL"), std::string::npos) << why;
}

TEST(WindowsDriver, NamedComPortsComeFirstWithTheSerialGiven) {
    SerialPortInfo port;
    ASSERT_TRUE(ParsePortSpec("COM250=AB12CD", port));
    EXPECT_EQ(port.name, "COM250");
    WindowsD2xxDriver driver({port}, "tamix-no-such-d2xx.dll");
    uint32_t n = 0;
    ASSERT_EQ(driver.CreateDeviceInfoList(&n), FT_OK);
    ASSERT_EQ(n, 1u);
    DeviceInfoNode node{};
    ASSERT_EQ(driver.GetDeviceInfoList(&node, &n), FT_OK);
    EXPECT_STREQ(node.serialNumber, "AB12CD");
    EXPECT_EQ(node.flags, 0u);

    // No such port here: refused with its name, and no handle works.
    FtHandle handle = 0;
    EXPECT_EQ(driver.Open(0, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_NE(driver.LastOpenError().find("COM250"), std::string::npos) << driver.LastOpenError();
    uint32_t got = 7;
    char buf[4];
    EXPECT_EQ(driver.Read(handle, buf, sizeof buf, &got), FT_INVALID_HANDLE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(driver.Close(handle), FT_INVALID_HANDLE);
}

TEST(WindowsDriver, SimulatedUnitsComeBeforeTheSystemDriver) {
    InstrumentSource source;
    source.simulate = "DI-149";
    std::string error;
    auto driver = MakeDriver(source, error);
    ASSERT_TRUE(driver) << error;
    uint32_t n = 0;
    ASSERT_EQ(driver->CreateDeviceInfoList(&n), FT_OK);
    EXPECT_GE(n, 1u);
}

}  // namespace
}  // namespace tamix
