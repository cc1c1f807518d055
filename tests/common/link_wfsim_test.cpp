// The link engine against the module simulator, over each transport: TCP, a
// pseudo-terminal as serial line, a pseudo-terminal standing in for the USB
// kernel driver's device node, and the virtual USB bus.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "common/aLink.h"
#include "support/process.h"
#include "wfsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kSerial = 0x40F5849A;
constexpr uint8_t kAddress = 0x06;
constexpr uint8_t kEcho = 0x7E;

std::string config(const std::string& transport, const wftest::TempDir& dir) {
  return R"({"virtual_bus": {"socket": ")" + (dir / "vbus.sock") +
         R"("}, "modules": [{"serial": "40F5849A", "model": "HubFour", "address": 6, "version": "2.11.2",
             "build": 1234, "echo_command": 126, "transports": [)" +
         transport + "]}]}";
}

uint8_t echoWithTag(const aPacket* packet, const void* reference) {
  return packet->length == 3 && packet->data[0] == kEcho && packet->data[1] == *static_cast<const uint8_t*>(reference);
}

// One echo through the module: a request out, its reply back. The odd bytes in
// it make a wrongly framed reply fail quickly instead of passing for a packet.
bool echoes(aLinkRef link, uint8_t tag, unsigned long timeoutMs = 20000) {
  const uint8_t data[] = {kEcho, tag, 0x13};
  aPacket* request = aPacket_CreateWithData(kAddress, sizeof data, data);
  const aErr put = aLink_PutPacket(link, request);
  aPacket_Destroy(&request);
  if (put != aErrNone) return false;
  aPacket* reply = aLink_AwaitFirst(link, echoWithTag, &tag, timeoutMs);
  const bool ok = reply != nullptr && reply->address == kAddress && reply->data[2] == 0x13;
  aPacket_Destroy(&reply);
  return ok;
}

bool awaitRunning(aLinkRef link) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (aLink_GetStatus(link) != LINK_RUNNING) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Polls a control command until its answer contains `wanted` (bounded).
bool awaitAnswer(wftest::Wfsim& sim, const std::string& command, const std::string& wanted) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (sim.command(command).find(wanted) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// After a fault, the link finds its step again: some echo soon comes back whole.
bool recovers(aLinkRef link, uint8_t firstTag) {
  for (uint8_t tag = firstTag; tag < firstTag + 20; ++tag) {
    if (awaitRunning(link) && echoes(link, tag, 2000)) return true;
  }
  return false;
}

struct Transport {
  const char* name;
  std::string (*json)(const wftest::TempDir& dir);
  aLinkRef (*open)(wftest::Wfsim& sim, const wftest::TempDir& dir);
};

aLinkRef openTcp(wftest::Wfsim& sim, const wftest::TempDir&) {
  const std::string where = sim.endpoint("tcp");
  const size_t colon = where.rfind(':');
  const aLinkRef link = aLink_CreateTCPIP(inet_addr(where.substr(0, colon).c_str()),
                                          static_cast<uint16_t>(std::stoi(where.substr(colon + 1))));
  return link != 0 && aLink_Sync(link) == aErrNone ? link : 0;
}

aLinkRef openSerial(wftest::Wfsim& sim, const wftest::TempDir&) {
  const aLinkRef link = aLink_CreateSerial(kSerial, sim.endpoint("pty").c_str(), 115200);
  return link != 0 && aLink_Sync(link) == aErrNone ? link : 0;
}

// The USB link synchronises by itself.
aLinkRef openUsbNode(wftest::Wfsim&, const wftest::TempDir& dir) {
  setenv("WRENFIELD_USB_NODE_DIR", dir.path().c_str(), 1);
  const aLinkRef link = aLink_CreateUSB(kSerial);
  unsetenv("WRENFIELD_USB_NODE_DIR");
  return link;
}

// The user-space path through the virtual bus: bulk transfers on the module's
// vendor interface, which wfsim carries to the same module.
aLinkRef openUsbBus(wftest::Wfsim&, const wftest::TempDir& dir) {
  setenv("WRENFIELD_VIRTUAL_BUS", (dir / "vbus.sock").c_str(), 1);
  const aLinkRef link = aLink_CreateUSB(kSerial);
  unsetenv("WRENFIELD_VIRTUAL_BUS");
  return link;
}

const Transport kTransports[] = {
    {"tcp", [](const wftest::TempDir&) { return std::string(R"({"type": "tcp", "address": "127.0.0.1"})"); },
     openTcp},
    {"serial", [](const wftest::TempDir&) { return std::string(R"({"type": "serial"})"); }, openSerial},
    {"usbnode",
     [](const wftest::TempDir& dir) {
       return R"({"type": "usb-node", "link": ")" + (dir / "wrenfield.40F5849A") + "\"}";
     },
     openUsbNode},
    {"usbbus", [](const wftest::TempDir&) { return std::string(R"({"type": "usb"})"); }, openUsbBus},
};

class LinkToSimulator : public ::testing::TestWithParam<Transport> {};

TEST_P(LinkToSimulator, RunsSurvivesFaultsAndStopsWithRouteOff) {
  wftest::TempDir dir;
  wftest::Wfsim sim(config(GetParam().json(dir), dir), dir);
  aLinkRef link = GetParam().open(sim, dir);
  ASSERT_NE(link, 0u);
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING);

  // Heartbeats are answered with s + 2 and never reach callers.
  ASSERT_EQ(sim.command("heartbeat 0"), "ok");
  ASSERT_EQ(sim.command("heartbeat 1"), "ok");
  EXPECT_TRUE(awaitAnswer(sim, "heartbeats", "answers=02,03"));
  EXPECT_TRUE(echoes(link, 1));
  EXPECT_EQ(aLink_GetPacket(link), nullptr);

  // Garbage before a reply, and a reply framed out of step: both cost a
  // handshake, after which packets flow again.
  ASSERT_EQ(sim.command("garbage 4"), "ok");
  EXPECT_FALSE(echoes(link, 2, 1000));
  EXPECT_TRUE(recovers(link, 10));
  ASSERT_EQ(sim.command("outofstep 1"), "ok");
  echoes(link, 3, 1000);
  EXPECT_TRUE(recovers(link, 40));

  ASSERT_EQ(aLink_Destroy(&link), aErrNone);
  // The route-off packet went out before the link's output ended.
  EXPECT_TRUE(awaitAnswer(sim, "stats", ",00\n"));
}

INSTANTIATE_TEST_SUITE_P(Transports, LinkToSimulator, ::testing::ValuesIn(kTransports),
                         [](const ::testing::TestParamInfo<Transport>& param) { return std::string(param.param.name); });

}  // namespace
