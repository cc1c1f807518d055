#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>
#include <vector>

#include "app/DeviceListing.h"
#include "support/recording_display.h"

namespace {

DeviceInfo device(linkType type, uint32_t serial, aErr error = aErrNone) {
  DeviceInfo info;
  info.spec.type = type;
  info.spec.serialNumber = serial;
  info.spec.moduleAddress = 6;
  info.spec.routerAddress = 0x12;
  info.modelName = "HubFour";
  info.major = 2;
  info.minor = 11;
  info.patch = 2;
  info.build = 4242;
  info.error = error;
  return info;
}

std::vector<std::string> listing(const std::vector<DeviceInfo>& devices, uint32_t type) {
  wftest::RecordingDisplay display;
  _display_device_list(display, devices, type);
  EXPECT_TRUE(display.errors.empty());
  return display.infos;
}

const std::string kHeader = "    Device    Module   Router  Model          Firmware Version (Build)";

}  // namespace

TEST(DeviceListing, EmptyListsShowOnlyTheHeading) {
  EXPECT_EQ(listing({}, USB), (std::vector<std::string>{"Discovered Devices: (USB)", "    No devices found."}));
  EXPECT_EQ(listing({}, TCPIP), (std::vector<std::string>{"Discovered Devices: (TCPIP)", "    No devices found."}));
  EXPECT_EQ(listing({}, 0), (std::vector<std::string>{"Discovered Devices: (Unknown)", "    No devices found."}));
}

TEST(DeviceListing, LinesByTransportAndError) {
  DeviceInfo tcp = device(TCPIP, 0x40F5849A, aErrTimeout);  // TCP/IP lines never show the error
  inet_pton(AF_INET, "198.51.100.2", &tcp.spec.ipAddress);
  const std::vector<std::string> expected = {
      "Discovered Devices: (TCPIP)",
      kHeader + "   [IP address]",
      "    40F5849A  06       12      HubFour        2.11.2 (4242) [198.51.100.2]",
      "    0000ABCD  [Error (5): Is someone else connected to this device?]",
      "    00000001  06       12      HubFour        2.11.2 (4242)",
  };
  EXPECT_EQ(listing({tcp, device(USB, 0xABCD, aErrBusy), device(USB, 1)}, TCPIP), expected);

  const auto usb = listing({device(USB, 0x2181F0EE)}, USB);
  ASSERT_EQ(usb.size(), 3u);
  EXPECT_EQ(usb[1], kHeader);
  EXPECT_EQ(usb[2], "    2181F0EE  06       12      HubFour        2.11.2 (4242)");
}
