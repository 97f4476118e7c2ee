#include <gtest/gtest.h>

#include <array>

#include "../support/FakeD2xxDriver.h"
#include "device/CUsbDeviceList.h"
#include "device/CUsbLink.h"

namespace tamix {
namespace {

using test::FakeD2xxDriver;

class UsbLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        driver.devices = {{"A30008SN"}, {"A3000B6u", true}};
        link.SetDriver(&driver);
    }
    FakeD2xxDriver driver;
    CUsbLink link;
};

TEST_F(UsbLinkTest, OpenConfiguresTheBridgeInOrder) {
    ASSERT_EQ(link.OpenByIndex(0, 115200), 0);
    EXPECT_TRUE(link.IsOpen());
    const std::vector<std::string> expected = {"CreateDeviceInfoList",
                                               "GetDeviceInfoDetail 0",
                                               "Open 0",
                                               "SetUSBParameters 16384 16384",
                                               "SetLatencyTimer 1",
                                               "SetDataCharacteristics 8 0 0",
                                               "SetTimeouts 2000 2000",
                                               "SetFlowControl 0",
                                               "SetBaudRate 115200",
                                               "Purge 3"};
    EXPECT_EQ(driver.calls, expected);
}

TEST_F(UsbLinkTest, OpenFailuresLeaveTheLinkClosed) {
    EXPECT_EQ(link.OpenByIndex(2, 115200), 1) << "index beyond the list";
    EXPECT_FALSE(link.IsOpen());
    EXPECT_EQ(link.OpenByIndex(1, 115200), 2) << "held by another process";
    EXPECT_FALSE(link.IsOpen());
    ASSERT_EQ(link.OpenByIndex(0, 57600), 0);
    EXPECT_EQ(link.OpenByIndex(7, 57600), 1) << "a new attempt starts closed";
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(UsbLinkTest, EveryOperationIsHarmlessOnAClosedLink) {
    uint8_t reply = 0x42;
    link.WriteByte('$', &reply);
    EXPECT_EQ(reply, 0x42);
    EXPECT_EQ(link.ReadByte(), 255);
    std::array<uint8_t, 16> block;
    block.fill(0xAB);
    uint32_t got = 99;
    EXPECT_EQ(link.ReadBlock(block, &got), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(block[0], 0xAB);
    link.Close();
    link.Close();
    EXPECT_TRUE(driver.written.empty());
    EXPECT_TRUE(driver.calls.empty());
}

TEST_F(UsbLinkTest, MissingBytesKeepTheBufferAndReadAs255) {
    ASSERT_EQ(link.OpenByIndex(0, 115200), 0);
    driver.incoming = {1, 2, 3};
    std::array<uint8_t, 16> block;
    block.fill(0xEE);
    uint32_t got = 0;
    EXPECT_EQ(link.ReadBlock(block, &got), FT_OK);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(block[2], 3);
    EXPECT_EQ(block[3], 0xEE);
    EXPECT_EQ(link.ReadByte(), 255) << "silent device";
    uint8_t reply = 7;
    link.WriteByte('C', &reply);
    EXPECT_EQ(reply, 7);
    driver.incoming = {0x24};
    link.WriteByte('$', &reply);
    EXPECT_EQ(reply, 0x24);
    EXPECT_EQ(driver.written, (std::vector<uint8_t>{'C', '$'}));
}

TEST_F(UsbLinkTest, CloseReleasesTheHandleOnce) {
    ASSERT_EQ(link.OpenByIndex(0, 115200), 0);
    driver.calls.clear();
    link.Close();
    link.Close();
    EXPECT_EQ(driver.calls, std::vector<std::string>{"Close"});
    EXPECT_FALSE(link.IsOpen());
}

TEST(UsbDeviceListTest, ListsSerialsAndLeavesPlacesAloneBeyondTheCount) {
    FakeD2xxDriver driver;
    driver.devices = {{"A30008SN"}, {"A60089Rz"}};
    CUsbDeviceList list(driver, true);
    EXPECT_EQ(list.count(), 2u);
    std::array<char, 256> serial{};
    std::array<char, 64> description{};
    uint32_t id = 0;
    EXPECT_EQ(list.GetEntry(1, &id, serial, description), 0);
    EXPECT_STREQ(serial.data(), "A60089Rz");
    EXPECT_EQ(id, 0x04036001u);
    serial = {'x', '\0'};
    EXPECT_EQ(list.GetEntry(2, &id, serial, description), 0);
    EXPECT_STREQ(serial.data(), "x");
}

TEST(UsbDeviceListTest, MoreThan256DevicesGiveAnEmptyListOf256) {
    FakeD2xxDriver driver;
    driver.devices = {{"A30008SN"}};
    driver.reportedCount = 300;
    CUsbDeviceList list(driver, true);
    EXPECT_EQ(list.count(), 256u);
    EXPECT_EQ(driver.fetchCalls, 0);
    std::array<char, 256> serial{};
    list.GetEntry(0, nullptr, serial, {});
    EXPECT_STREQ(serial.data(), "");
}

TEST(UsbDeviceListTest, NoDevicesAndDriverFailure) {
    FakeD2xxDriver driver;
    CUsbDeviceList none(driver, true);
    EXPECT_EQ(none.count(), 0u);
    std::array<char, 256> serial{'k', '\0'};
    none.GetEntry(0, nullptr, serial, {});
    EXPECT_STREQ(serial.data(), "k");

    driver.listFails = true;
    CUsbDeviceList failing(driver, false);
    EXPECT_EQ(failing.Refresh(), -1);
    EXPECT_NE(failing.status(), 0);
}

}  // namespace
}  // namespace tamix
