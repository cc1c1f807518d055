// USB enumeration and the USB driver on the virtual bus that wfsim serves:
// the same driver logic as on the real bus, against simulated modules.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/aLink.h"
#include "common/discover.h"
#include "common/hid_backend.h"
#include "common/vbus_protocol.h"
#include "common/wfusb_driver.h"
#include "support/process.h"
#include "wfsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Two modules, three devices the family match must skip, and an i.MX boot ROM.
std::string busConfig(const wftest::TempDir& dir) {
  return R"({"virtual_bus": {"socket": ")" + (dir / "vbus.sock") + R"(", "restart_ms": 100,
               "devices": [{"type": "imx-rom"}]},
  "modules": [
    {"serial": "40F5849A", "model": "HubFour", "address": 6, "echo_command": 126,
     "transports": [{"type": "usb", "packet_size": 512}]},
    {"serial": "40F5849B", "model": 7, "address": 8, "transports": [{"type": "usb", "packet_size": 64}]},
    {"serial": "11111111", "model": 4, "address": 2, "transports": [{"type": "usb", "vendor": 4660}]},
    {"serial": "22222222", "model": 4, "address": 2, "transports": [{"type": "usb", "product": 32775}]},
    {"serial": "33333333", "model": 4, "address": 2, "transports": [{"type": "usb", "serial_string": "3333333"}]}
  ]})";
}

class VirtualBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<wftest::Wfsim>(busConfig(dir), dir);
    setenv("WRENFIELD_VIRTUAL_BUS", (dir / "vbus.sock").c_str(), 1);
  }
  void TearDown() override {
    for (wfusb_driver*& driver : drivers) wfusb_destroy(&driver);
    unsetenv("WRENFIELD_VIRTUAL_BUS");
  }

  wfusb_driver* open(const char* serial, aErr expected = aErrNone) {
    wfusb_driver* driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
    drivers.push_back(driver);
    EXPECT_EQ(wfusb_open_wrenfield_device(driver, serial), expected) << serial;
    return driver;
  }

  std::map<uint32_t, uint32_t> enumerate() {  // serial number -> model
    std::map<uint32_t, uint32_t> found;
    aDiscovery_EnumerateModules(
        USB,
        [](const linkSpec* spec, bool* counted, void* reference) {
          (*static_cast<std::map<uint32_t, uint32_t>*>(reference))[spec->serialNumber] = spec->model;
          *counted = true;
          return true;
        },
        &found, 0);
    return found;
  }

  // Polls for a module on the bus until it is there (bounded).
  bool awaitModule(uint32_t serial) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
      linkSpec* spec = aDiscovery_FindModule(USB, serial, 0);
      const bool found = spec != nullptr && spec->serialNumber == serial && spec->type == USB;
      if (spec != nullptr) aLinkSpec_Destroy(&spec);
      if (found) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  wftest::TempDir dir;
  std::unique_ptr<wftest::Wfsim> sim;
  std::vector<wfusb_driver*> drivers;
};

TEST_F(VirtualBusTest, EnumerationFindsTheModulesAndSkipsWhatIsNotOne) {
  ASSERT_EQ(wfusb_backend_current(), &wfusb_vbus_backend);
  // Another vendor, product bit 15, a seven-character serial, a HID ROM: skipped.
  const std::map<uint32_t, uint32_t> expected{{0x40F5849A, 4}, {0x40F5849B, 7}};
  EXPECT_EQ(enumerate(), expected);
  linkSpec* spec = aDiscovery_FindModule(USB, 0x40F5849B, 0);
  ASSERT_NE(spec, nullptr);
  EXPECT_EQ(spec->usbId, 0x40F5849Bu);
  EXPECT_EQ(spec->model, 7u);
  aLinkSpec_Destroy(&spec);
  EXPECT_EQ(aDiscovery_FindModule(USB, 0x11111111, 0), nullptr);
  EXPECT_EQ(aDiscovery_FindModule(USB, 0x40F5849C, 0), nullptr);
}

TEST_F(VirtualBusTest, OpeningMatchesTheFamilyAndTheWholeSerial) {
  open("40F5849A");
  open("40F5849C", aErrNotFound);
  open("11111111", aErrNotFound);  // another vendor
  open("22222222", aErrNotFound);  // product bit 15
  const std::string devices = sim->command("usb list");
  EXPECT_NE(devices.find("usb 40F5849A 24FF:0004 attached serial=40F5849A claimed\n"), std::string::npos) << devices;
  EXPECT_NE(devices.find("usb 40F5849B 24FF:0007 attached serial=40F5849B\n"), std::string::npos) << devices;
}

TEST_F(VirtualBusTest, AClaimIsExclusiveAcrossProcessesAndEndsWithItsHolder) {
  wfusb_driver* holder = open("40F5849A");
  // Another process on the same bus finds the interface claimed.
  auto claimInChild = [] {
    const pid_t child = fork();
    if (child == 0) {
      wfusb_driver* driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
      const aErr result = wfusb_open_wrenfield_device(driver, "40F5849A");
      // Exits without closing: whatever it holds is dropped with the process.
      _exit(static_cast<int>(result));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<aErr>(WEXITSTATUS(status)) : aErrUnknown;
  };
  EXPECT_EQ(claimInChild(), aErrBusy);
  open("40F5849A", aErrBusy);  // a second object in this process too

  ASSERT_EQ(wfusb_close_wrenfield_device(holder), aErrNone);
  EXPECT_EQ(claimInChild(), aErrNone);  // and its claim died with it
  open("40F5849A");

  // The simulator can refuse a claim as a device held elsewhere would.
  ASSERT_EQ(sim->command("usb busy 40F5849B on"), "ok");
  open("40F5849B", aErrBusy);
  ASSERT_EQ(sim->command("usb busy 40F5849B off"), "ok");
  open("40F5849B");
}

TEST_F(VirtualBusTest, WritesAreChunkedByTheEndpointsPacketSize) {
  struct Case {
    const char* serial;
    size_t length;
    const char* transfers;
  } cases[] = {{"40F5849A", 1024, "out=511,511,2"}, {"40F5849B", 150, "out=64,64,22"}};
  for (const Case& c : cases) {
    wfusb_driver* driver = open(c.serial);
    const std::vector<uint8_t> data(c.length, 0x00);  // bytes the module drops
    EXPECT_EQ(wfusb_write_to_device(driver, data.data(), data.size()), aErrNone);
    EXPECT_EQ(sim->command(std::string("usb transfers ") + c.serial),
              std::string("usb ") + c.serial + " " + c.transfers + "\nok");
  }
}

TEST_F(VirtualBusTest, BulkTransfersCarryThePacketStreamAndSurviveAStall) {
  wfusb_driver* driver = open("40F5849A");
  auto query = [&](const char* what) {
    const uint8_t request[] = {0xAD, 0x00};
    EXPECT_EQ(wfusb_write_to_device(driver, request, sizeof request), aErrNone) << what;
    uint8_t reply[2] = {};
    for (uint8_t& byte : reply) {
      aErr result = aErrNotReady;
      for (int attempt = 0; attempt < 10 && result == aErrNotReady; ++attempt) {
        result = wfusb_get_from_device(driver, &byte);
      }
      EXPECT_EQ(result, aErrNone) << what;
    }
    EXPECT_EQ(reply[0], 0x06) << what;
    EXPECT_EQ(reply[1], 0x00) << what;
  };
  query("plain");
  // A halted endpoint is cleared by the driver and the data goes through.
  ASSERT_EQ(sim->command("usb stall 40F5849A out"), "ok");
  query("OUT stalled once");
  ASSERT_EQ(sim->command("usb stall 40F5849A in"), "ok");
  query("IN stalled once");
}

TEST_F(VirtualBusTest, AnUnpluggedModulesReadsFailAsTheDriverSays) {
  wfusb_driver* driver = open("40F5849A");
  ASSERT_EQ(sim->command("usb detach 40F5849A"), "ok");
  uint8_t byte = 0;
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady) << "error " << i;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrIO);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_FAILED);
  EXPECT_EQ(enumerate().count(0x40F5849A), 0u);
  open("40F5849A", aErrNotFound);
}

TEST_F(VirtualBusTest, AnUnpluggedModulesLinkStopsRunning) {
  aLinkRef link = aLink_CreateUSB(0x40F5849A);
  ASSERT_NE(link, 0u);
  auto awaitStatus = [&](bool running) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while ((aLink_GetStatus(link) == LINK_RUNNING) != running && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return (aLink_GetStatus(link) == LINK_RUNNING) == running;
  };
  EXPECT_TRUE(awaitStatus(true));
  ASSERT_EQ(sim->command("usb detach 40F5849A"), "ok");
  EXPECT_TRUE(awaitStatus(false));
  EXPECT_EQ(aLink_Destroy(&link), aErrNone);
}

TEST_F(VirtualBusTest, AModuleRestartingIntoItsLoaderComesBackUnderDeadDead) {
  ASSERT_EQ(sim->command("usb loader 40F5849A deaddead"), "ok");
  EXPECT_TRUE(awaitModule(0xDEADDEAD));
  EXPECT_EQ(enumerate().count(0x40F5849A), 0u);
  // The same module answers under its loader's serial number.
  open("DEADDEAD");
  for (wfusb_driver*& driver : drivers) wfusb_destroy(&driver);
  drivers.clear();
  ASSERT_EQ(sim->command("usb reboot 40F5849A"), "ok");
  EXPECT_TRUE(awaitModule(0x40F5849A));
  EXPECT_EQ(enumerate().count(0xDEADDEAD), 0u);
}

TEST_F(VirtualBusTest, ADeadServerIsAnEmptyBusAndAnUnpluggedDevice) {
  wfusb_driver* driver = open("40F5849A");
  sim.reset();  // wfsim ends; its socket goes with it
  const auto start = Clock::now();
  EXPECT_TRUE(enumerate().empty());
  uint8_t byte = 0;
  aErr result = aErrNone;
  for (int i = 0; i < 5; ++i) result = wfusb_get_from_device(driver, &byte);
  EXPECT_EQ(result, aErrIO);
  open("40F5849A", aErrNotFound);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));  // nothing waited for an answer that never comes
}

// Raw frames to wfsim's socket: whatever is not of the protocol is refused
// without harm to the bus.
TEST_F(VirtualBusTest, TheServerRefusesWhatIsNotItsProtocol) {
  auto exchange = [&](const std::vector<uint8_t>& bytes, std::vector<uint8_t>& reply) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir / "vbus.sock";
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    bool closed = false;
    for (;;) {  // everything until the server ends the session or goes quiet
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 2000) <= 0) break;
      uint8_t chunk[256];
      const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) {
        closed = true;
        break;
      }
      reply.insert(reply.end(), chunk, chunk + n);
    }
    close(fd);
    return closed;
  };
  auto status = [](const std::vector<uint8_t>& reply) {
    vbus::Reader reader(reply);
    uint32_t header = 0, length = 0;
    int32_t value = 0;
    return reader.u32(header) && reader.u32(length) && reader.i32(value) ? value : 1;
  };
  std::vector<uint8_t> reply;
  std::vector<uint8_t> otherVersion = vbus::frame(static_cast<uint8_t>(vbus::Type::List), {});
  otherVersion[2] = vbus::kVersion + 1;
  EXPECT_TRUE(exchange(otherVersion, reply));
  EXPECT_EQ(status(reply), WFUSB_ERROR_NOT_SUPPORTED);

  reply.clear();
  std::vector<uint8_t> overLong = vbus::frame(static_cast<uint8_t>(vbus::Type::HidWrite), {});
  overLong[4] = overLong[5] = overLong[6] = overLong[7] = 0xFF;
  EXPECT_TRUE(exchange(overLong, reply));
  EXPECT_EQ(status(reply), WFUSB_ERROR_NOT_SUPPORTED);

  reply.clear();
  EXPECT_TRUE(exchange(vbus::frame(0x7F, {}), reply));  // no such request
  EXPECT_EQ(status(reply), WFUSB_ERROR_NOT_SUPPORTED);

  // A short payload is a refused request; the session goes on.
  reply.clear();
  EXPECT_FALSE(exchange(vbus::frame(static_cast<uint8_t>(vbus::Type::Open), {1, 0}), reply));
  EXPECT_EQ(status(reply), WFUSB_ERROR_INVALID_PARAM);
  reply.clear();
  EXPECT_FALSE(exchange(vbus::frame(static_cast<uint8_t>(vbus::Type::Bulk), {0x81}), reply));
  EXPECT_EQ(status(reply), WFUSB_ERROR_INVALID_PARAM);

  EXPECT_EQ(enumerate().size(), 2u);  // the bus serves on
}

TEST(VirtualBusSelection, WithoutTheVariableTheRealBackendsRun) {
  unsetenv("WRENFIELD_VIRTUAL_BUS");
  EXPECT_EQ(wfusb_backend_current(), &wfusb_libusb_backend);
  EXPECT_EQ(wfhid_backend_current(), &wfhid_hidapi_backend);
  setenv("WRENFIELD_VIRTUAL_BUS", "/nonexistent/vbus.sock", 1);
  EXPECT_EQ(wfusb_backend_current(), &wfusb_vbus_backend);
  EXPECT_EQ(wfhid_backend_current(), &wfhid_vbus_backend);
  // Nobody serves that path: an empty bus.
  EXPECT_EQ(aDiscovery_FindFirstModule(USB, 0), nullptr);
  wfusb_driver* driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNotFound);
  wfusb_destroy(&driver);
  unsetenv("WRENFIELD_VIRTUAL_BUS");
}

}  // namespace
