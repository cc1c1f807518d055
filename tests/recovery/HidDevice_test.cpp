// The HID transport against a simulated i.MX boot ROM on wfsim's virtual bus:
// the status exchange the recovery loader begins with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/wfsim_process.h"
#include "recovery/HidDevice.h"
#include "support/process.h"

namespace {

constexpr uint16_t kImxVendor = 0x1FC9;
constexpr uint16_t kImxProduct = 0x0130;

class HidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WRENFIELD_VIRTUAL_BUS", (dir / "vbus.sock").c_str(), 1); }
  void TearDown() override { unsetenv("WRENFIELD_VIRTUAL_BUS"); }

  std::string config() const {
    return R"({"virtual_bus": {"socket": ")" + (dir / "vbus.sock") + R"(", "devices": [{"type": "imx-rom", "name": "rom"}]},
      "modules": [{"serial": "40F5849A", "address": 6, "transports": [{"type": "tcp"}]}]})";
  }

  wftest::TempDir dir;
};

// The error-status command: report 1, command type 0x0505, the rest zero.
const std::vector<unsigned char> kStatusPacket = {0x01, 0x05, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Every report that arrives, until one read brings none.
std::vector<unsigned char> collect(HidDevice& device) {
  std::vector<unsigned char> reply;
  for (int reports = 0; reports < 10 && device.read(reply, 100) > 0; ++reports) {
  }
  return reply;
}

TEST_F(HidDeviceTest, TheRomAnswersTheStatusRequest) {
  wftest::Wfsim sim(config(), dir);
  std::unique_ptr<HidDevice> device = HidDevice::open(kImxVendor, kImxProduct);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->write(kStatusPacket), 17);
  const std::vector<unsigned char> reply = collect(*device);
  // Report 3 with the security state, report 4 with the status word.
  ASSERT_EQ(reply.size(), 5u + 65u);
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(reply[5], 4);
  EXPECT_EQ(std::vector<unsigned char>(reply.begin() + 6, reply.begin() + 10),
            (std::vector<unsigned char>{0xF0, 0xF0, 0xF0, 0xF0}));
  // Nothing more without a request.
  std::vector<unsigned char> more;
  EXPECT_EQ(device->read(more, 50), 0);
  // One host at a time talks to the ROM.
  EXPECT_EQ(HidDevice::open(kImxVendor, kImxProduct), nullptr);
}

TEST_F(HidDeviceTest, AnUnpluggedOrAbsentRomIsNotThere) {
  wftest::Wfsim sim(config(), dir);
  EXPECT_EQ(HidDevice::open(kImxVendor, 0x0131), nullptr);
  std::unique_ptr<HidDevice> device = HidDevice::open(kImxVendor, kImxProduct);
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(sim.command("usb detach rom"), "ok");
  EXPECT_EQ(device->write(kStatusPacket), -1);
  std::vector<unsigned char> reply;
  EXPECT_EQ(device->read(reply, 100), -1);
  EXPECT_EQ(HidDevice::open(kImxVendor, kImxProduct), nullptr);
  ASSERT_EQ(sim.command("usb attach rom"), "ok");
  EXPECT_NE(HidDevice::open(kImxVendor, kImxProduct), nullptr);
}

TEST(HidDeviceRealBus, NoRomIsAttachedHere) {
  unsetenv("WRENFIELD_VIRTUAL_BUS");
  EXPECT_EQ(HidDevice::open(kImxVendor, kImxProduct), nullptr);
}

}  // namespace
