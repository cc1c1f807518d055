// Link: connecting a specifier, the configuration and specifier rules,
// waiting for the link, the USB / aShare fallback and the packet log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "../common/wfsim_process.h"
#include "common/aDebug.h"
#include "peer_module.h"
#include "support/process.h"

namespace {

using Quorvant::Wrenfield::aShareConfig;
using Quorvant::Wrenfield::Link;
using Quorvant::Wrenfield::Module;
using wftest::framed;
using wftest::kPeerAddress;
using Clock = std::chrono::steady_clock;

class LinkConnect : public wftest::PeerModuleTest {};

TEST_F(LinkConnect, ConfigurationAndSpecifierChangeOnlyWhileDisconnected) {
  aShareConfig config;
  ASSERT_EQ(link().getConfig(&config), aErrNone);
  EXPECT_EQ(config.enabled, 1);
  EXPECT_EQ(config.fallback, 1);
  EXPECT_EQ(config.localOnly, 1);
  EXPECT_EQ(config.port, 0);
  const uint8_t loopback[4] = {0x7F, 0x00, 0x00, 0x01};
  EXPECT_EQ(memcmp(&config.networkInterface, loopback, 4), 0);
  EXPECT_EQ(link().getConfig(nullptr), aErrParam);

  config.enabled = 0;
  EXPECT_EQ(link().setConfig(config), aErrMode);
  EXPECT_EQ(link().setLinkSpecifier(wftest::tcpSpec(port)), aErrBusy);
  EXPECT_EQ(link().connect(), aErrConnection) << "a link ID is held already";
  EXPECT_STREQ(link().getName(), "Link");

  ASSERT_EQ(link().disconnect(), aErrNone);
  EXPECT_EQ(link().getStatus(), LINK_PACKET_ERROR);
  EXPECT_EQ(link().setConfig(config), aErrNone);
  linkSpec stored{};
  ASSERT_EQ(link().getLinkSpecifier(&stored), aErrNone);
  EXPECT_EQ(stored.ipPort, port);
  EXPECT_EQ(link().connect(), aErrNone);
  EXPECT_TRUE(link().isConnected());
}

TEST(LinkConnectRules, SpecifiersThatCannotConnect) {
  Link link("Link");
  EXPECT_EQ(link.connect(), aErrConfiguration) << "no specifier";
  linkSpec spec{};
  EXPECT_EQ(link.getLinkSpecifier(&spec), aErrNotFound);

  // Client links to a sharing server do not exist yet, shared or not.
  spec.type = ASHARE;
  for (const uint8_t enabled : {uint8_t{0}, uint8_t{1}}) {
    aShareConfig config;
    config.enabled = enabled;
    ASSERT_EQ(link.setConfig(config), aErrNone);
    ASSERT_EQ(link.setLinkSpecifier(spec), aErrNone);
    EXPECT_EQ(link.connect(), aErrConfiguration);
  }
  spec.type = static_cast<linkType>(9);
  ASSERT_EQ(link.setLinkSpecifier(spec), aErrNone);
  EXPECT_EQ(link.connect(), aErrMode);

  // Nobody listens on the port: the engine link is not created.
  uint16_t port = 0;
  close(wftest::ModulePeer::listenLoopback(&port));
  ASSERT_EQ(link.setLinkSpecifier(wftest::tcpSpec(port)), aErrNone);
  EXPECT_EQ(link.connect(), aErrConnection);
  EXPECT_EQ(link.getStatus(), LINK_PACKET_ERROR);
  EXPECT_EQ(link.enablePacketLog("/dev/null"), aErrConfiguration);
  uint8_t address = 0xFF;
  EXPECT_EQ(link.getModuleAddress(&address), aErrNotReady);
  EXPECT_EQ(address, 0);
}

TEST_F(LinkConnect, WaitForLinkFollowsTheLinkStatus) {
  EXPECT_EQ(link().waitForLink(1), aErrNone);
  // The module goes away for good: the engine gives the link up.
  peer->dropConnection(true);
  const auto deadline = Clock::now() + std::chrono::seconds(30);
  while (link().getStatus() == LINK_RUNNING && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(link().waitForLink(200), aErrConnection);
  EXPECT_FALSE(link().isConnected());
  ASSERT_EQ(link().disconnect(), aErrNone);
  EXPECT_EQ(link().waitForLink(200), aErrConnection) << "no link at all";
}

// Runs a discovery connect with the link's debug lines captured.
std::string discoverCaptured(Link& link, linkType transport, aErr* result) {
  aWrenfieldDebuggingLevel = aDEBUG_LINK;
  aWrenfieldDebuggingEnable = true;
  ::testing::internal::CaptureStdout();
  *result = link.discoverAndConnect(transport, 0x0BADF00D, 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  aWrenfieldDebuggingEnable = false;
  aWrenfieldDebuggingLevel = 0;
  return out;
}

TEST(LinkFallback, OnlyBetweenUSBAndAShareAndOnlyWhenAllowed) {
  struct Case {
    linkType transport;
    uint8_t fallback;
    const char* line;  // nullptr: no fallback
  } const cases[] = {
      {USB, 1, "Executing Fallback: aShare\n"},
      {ASHARE, 1, "Executing Fallback: USB\n"},
      {USB, 0, nullptr},
      {TCPIP, 1, nullptr},
  };
  for (const Case& c : cases) {
    Link link("Link");
    aShareConfig config;
    config.enabled = 0;
    config.fallback = c.fallback;
    ASSERT_EQ(link.setConfig(config), aErrNone);
    aErr result = aErrNone;
    const std::string out = discoverCaptured(link, c.transport, &result);
    EXPECT_EQ(result, aErrNotFound) << c.transport;
    if (c.line == nullptr)
      EXPECT_EQ(out.find("Executing Fallback"), std::string::npos) << c.transport << ": " << out;
    else
      EXPECT_NE(out.find(c.line), std::string::npos) << c.transport << ": " << out;
  }
}

// A USB module seen through the kernel driver's node, which the simulator provides.
class UsbNode : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<wftest::Wfsim>(
        R"({"modules": [{"serial": "40F5849A", "model": "HubFour", "address": 6, "transports": [)"
        R"({"type": "usb-node", "link": ")" +
            (dir / "wrenfield.40F5849A") + "\"}]}]}",
        dir);
    setenv("WRENFIELD_USB_NODE_DIR", dir.path().c_str(), 1);
    spec.type = USB;
    spec.serialNumber = 0x40F5849A;
    spec.usbId = 0x40F5849A;
  }
  void TearDown() override { unsetenv("WRENFIELD_USB_NODE_DIR"); }
  // Two modules on one USB module: both connect, the engine link is shared,
  // and the first one's leaving does not cut the second one off.
  void connectTwice(uint8_t enabled) {
    Module first(0x02), second(0x02);
    aShareConfig config;
    config.enabled = enabled;
    config.fallback = 0;
    ASSERT_EQ(first.setConfig(config), aErrNone);
    ASSERT_EQ(second.setConfig(config), aErrNone);
    ASSERT_EQ(first.connectFromSpec(spec), aErrNone);
    EXPECT_EQ(first.getModuleAddress(), 6);
    ASSERT_EQ(second.connectFromSpec(spec), aErrNone);
    ASSERT_EQ(first.disconnect(), aErrNone);
    EXPECT_TRUE(second.isConnected());
    uint8_t address = 0;
    EXPECT_EQ(second.getLink()->getModuleAddress(&address), aErrNone);
    EXPECT_EQ(address, 6);
  }
  wftest::TempDir dir;
  std::unique_ptr<wftest::Wfsim> sim;
  linkSpec spec{};
};

TEST_F(UsbNode, PlainLinkWithSharingOff) {
  connectTwice(0);
}

// Sharing through a server is not offered yet: a shared configuration connects directly.
TEST_F(UsbNode, PlainLinkWithSharingOn) {
  connectTwice(1);
}

TEST_F(LinkConnect, PacketLogWritesOneLinePerPacket) {
  wftest::TempDir dir;
  const std::string path = dir / "packets.log";
  ASSERT_EQ(link().enablePacketLog(path.c_str()), aErrNone);
  const uint8_t data[] = {0x01, 0xA0};
  ASSERT_EQ(link().sendPacket(kPeerAddress, 0x17, 2, data), aErrNone);
  peer->inject(framed(kPeerAddress, {0x17, 0x01, 0xA0}));
  const std::string start = std::string("6 < START") + '\0' + "\r\n";
  const std::string out = "5 > 0x6 0x3 0x17 0x1 0xA0 \r\n";
  const std::string in = "5 < 0x6 0x3 0x17 0x1 0xA0 \r\n";
  std::string text;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    text = wftest::readFile(path);
    if (text.find(out) != std::string::npos && text.find(in) != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(text.rfind(start, 0), 0u) << text;
  EXPECT_NE(text.find(out), std::string::npos) << text;
  EXPECT_NE(text.find(in), std::string::npos) << text;
  EXPECT_EQ(link().disablePacketLog(), aErrNone);
}

}  // namespace
