// The user-space driver logic over an in-process fake of the USB seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/wfusb_driver.h"

namespace {

struct FakeDevice {
  wfusb_device_descriptor descriptor{WFUSB_VENDOR_ID, 0x0007, 3};
  std::string serial;
  wfusb_config_descriptor config;
  int claimResult = WFUSB_SUCCESS;
  int openCount = 0;  // handles currently open
  bool claimed = false;
};

// One scripted answer of a bulk transfer. `moved` < 0 moves the whole request.
struct Transfer {
  int result = WFUSB_SUCCESS;
  int moved = -1;
};

struct FakeBus {
  std::deque<FakeDevice> devices;
  std::deque<Transfer> outAnswers;  // default when empty: everything sent
  std::deque<Transfer> inAnswers;  // default when empty: time-out, nothing
  std::vector<int> outRequests;  // requested length of every OUT transfer
  std::vector<uint8_t> outBytes;  // what reached the device
  std::vector<uint8_t> inData;  // what the device has to send
  std::vector<uint8_t> halted;  // endpoints whose halt was cleared
  int clearHaltResult = WFUSB_SUCCESS;
  std::vector<unsigned> timeouts;
  std::mutex lock;  // the reading and the writing thread share the bus
};

FakeBus* gBus = nullptr;

FakeDevice* _device(wfusb_device* device) { return reinterpret_cast<FakeDevice*>(device); }
FakeDevice* _device(wfusb_handle* handle) { return reinterpret_cast<FakeDevice*>(handle); }

const wfusb_backend kFakeBackend = {
    "fake",
    [](wfusb_device*** list) -> ssize_t {
      auto* entries = new wfusb_device*[gBus->devices.size() + 1];
      size_t n = 0;
      for (FakeDevice& device : gBus->devices) entries[n++] = reinterpret_cast<wfusb_device*>(&device);
      entries[n] = nullptr;
      *list = entries;
      return static_cast<ssize_t>(n);
    },
    [](wfusb_device** list) { delete[] list; },
    [](wfusb_device* device, wfusb_device_descriptor* out) {
      *out = _device(device)->descriptor;
      return static_cast<int>(WFUSB_SUCCESS);
    },
    [](wfusb_device* device, uint8_t index, wfusb_config_descriptor* out) {
      if (index != 0) return static_cast<int>(WFUSB_ERROR_NOT_FOUND);
      *out = _device(device)->config;
      return static_cast<int>(WFUSB_SUCCESS);
    },
    [](wfusb_device* device, wfusb_handle** handle) {
      ++_device(device)->openCount;
      *handle = reinterpret_cast<wfusb_handle*>(device);
      return static_cast<int>(WFUSB_SUCCESS);
    },
    [](wfusb_handle* handle) { --_device(handle)->openCount; },
    [](wfusb_handle* handle, uint8_t, unsigned char* data, int length) {
      const std::string& serial = _device(handle)->serial;
      int n = std::min<int>(static_cast<int>(serial.size()), length);
      memcpy(data, serial.data(), static_cast<size_t>(n));
      if (n < length) data[n] = 0;
      return n;
    },
    [](wfusb_handle* handle, int) {
      FakeDevice* device = _device(handle);
      device->claimed = device->claimResult == WFUSB_SUCCESS;
      return device->claimResult;
    },
    [](wfusb_handle* handle, int) {
      _device(handle)->claimed = false;
      return static_cast<int>(WFUSB_SUCCESS);
    },
    [](wfusb_handle*, uint8_t endpoint, unsigned char* data, int length, int* transferred, unsigned timeout) {
      std::lock_guard<std::mutex> guard(gBus->lock);
      gBus->timeouts.push_back(timeout);
      bool in = (endpoint & 0x80) != 0;
      std::deque<Transfer>& answers = in ? gBus->inAnswers : gBus->outAnswers;
      Transfer answer = in ? Transfer{WFUSB_ERROR_TIMEOUT, 0} : Transfer{};
      if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
      }
      if (in) {
        int n = std::min<int>({length, static_cast<int>(gBus->inData.size()),
                               answer.moved < 0 ? length : answer.moved});
        if (n > 0) memcpy(data, gBus->inData.data(), static_cast<size_t>(n));
        gBus->inData.erase(gBus->inData.begin(), gBus->inData.begin() + n);
        *transferred = n;
      } else {
        gBus->outRequests.push_back(length);
        int n = answer.moved < 0 ? length : std::min(answer.moved, length);
        gBus->outBytes.insert(gBus->outBytes.end(), data, data + n);
        *transferred = n;
      }
      return answer.result;
    },
    [](wfusb_handle*, uint8_t endpoint) {
      std::lock_guard<std::mutex> guard(gBus->lock);
      gBus->halted.push_back(endpoint);
      return gBus->clearHaltResult;
    },
};

wfusb_interface_descriptor vendorInterface(uint8_t number, std::vector<wfusb_endpoint_descriptor> endpoints) {
  wfusb_interface_descriptor setting;
  setting.bInterfaceNumber = number;
  setting.bInterfaceClass = 0xFF;
  setting.bInterfaceSubClass = 0x88;
  setting.bInterfaceProtocol = 0x10;
  setting.endpoints = std::move(endpoints);
  return setting;
}

constexpr wfusb_endpoint_descriptor kBulkIn{0x81, 0x02, 512};
constexpr wfusb_endpoint_descriptor kBulkOut{0x02, 0x02, 512};

class UsbDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gBus = &bus;
    previous = wfusb_backend_install(&kFakeBackend);
  }
  void TearDown() override {
    if (driver != nullptr) wfusb_destroy(&driver);
    wfusb_backend_install(previous);
    gBus = nullptr;
  }

  FakeDevice& addModule(const std::string& serial, uint16_t outPacketSize = 512) {
    FakeDevice& device = bus.devices.emplace_back();
    device.serial = serial;
    device.config.settings.push_back(vendorInterface(0, {kBulkIn, {0x02, 0x02, outPacketSize}}));
    return device;
  }

  // A module 40F5849A, opened.
  FakeDevice& openModule(uint16_t outPacketSize = 512) {
    FakeDevice& device = addModule("40F5849A", outPacketSize);
    driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
    EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNone);
    EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_OPEN);
    return device;
  }

  FakeBus bus;
  const wfusb_backend* previous = nullptr;
  wfusb_driver* driver = nullptr;
};

TEST_F(UsbDriverTest, MatchesTheFamilyByVendorAndProductBit15) {
  struct Case {
    uint16_t vendor, product;
    bool matched;
  } cases[] = {{0x24FF, 0x0007, true}, {0x24FF, 0x0011, true}, {0x24FF, 0x8007, false}, {0x1FC9, 0x0007, false}};
  for (const Case& c : cases) {
    FakeDevice device;
    device.descriptor.idVendor = c.vendor;
    device.descriptor.idProduct = c.product;
    EXPECT_EQ(is_wrenfield_device(&kFakeBackend, reinterpret_cast<wfusb_device*>(&device)), c.matched)
        << std::hex << c.vendor << ":" << c.product;
  }
}

TEST_F(UsbDriverTest, OpensTheModuleWithTheExactSerialAndClosesTheOthers) {
  FakeDevice& other = addModule("40F5849B");
  FakeDevice& foreign = addModule("40F5849A");
  foreign.descriptor.idProduct = 0x8007;  // not of the family: never opened
  FakeDevice& wanted = addModule("40F5849A");
  driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  ASSERT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNone);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_OPEN);
  EXPECT_EQ(other.openCount, 0);
  EXPECT_EQ(foreign.openCount, 0);
  EXPECT_EQ(wanted.openCount, 1);
  EXPECT_TRUE(wanted.claimed);

  EXPECT_EQ(wfusb_close_wrenfield_device(driver), aErrNone);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_CLOSED);
  EXPECT_EQ(wanted.openCount, 0);
  EXPECT_FALSE(wanted.claimed);
}

TEST_F(UsbDriverTest, AnAbsentSerialIsNotFoundAndLeavesNothingOpen) {
  FakeDevice& other = addModule("40F5849B");
  driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNotFound);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849"), aErrNotFound);  // a prefix is not a match
  EXPECT_EQ(other.openCount, 0);
}

TEST_F(UsbDriverTest, ClaimErrorsMapToTheirCodesAndCloseTheDevice) {
  struct Case {
    int claim;
    aErr expected;
  } cases[] = {{WFUSB_ERROR_BUSY, aErrBusy},
               {WFUSB_ERROR_NO_DEVICE, aErrBusy},
               {WFUSB_ERROR_ACCESS, aErrPermission},
               {WFUSB_ERROR_IO, aErrUnknown},
               {WFUSB_ERROR_OTHER, aErrUnknown}};
  for (const Case& c : cases) {
    bus.devices.clear();
    FakeDevice& device = addModule("40F5849A");
    device.claimResult = c.claim;
    wfusb_driver* attempt = wfusb_create_usb(WFUSB_MODE_USBLIB);
    EXPECT_EQ(wfusb_open_wrenfield_device(attempt, "40F5849A"), c.expected) << "claim result " << c.claim;
    EXPECT_EQ(wfusb_get_state(attempt), WFUSB_STATE_CLOSED);
    EXPECT_EQ(device.openCount, 0);
    // A failed open leaves nothing to close; the object can be destroyed.
    EXPECT_EQ(wfusb_close_wrenfield_device(attempt), aErrNone);
    EXPECT_EQ(wfusb_destroy(&attempt), aErrNone);
    EXPECT_EQ(attempt, nullptr);
  }
}

TEST_F(UsbDriverTest, EndpointSearch) {
  auto other = vendorInterface(1, {kBulkIn, kBulkOut});
  other.bInterfaceSubClass = 0x87;  // not the vendor interface
  struct Case {
    const char* name;
    std::vector<wfusb_interface_descriptor> settings;
    bool found;
    wfusb_endpoints expected;
  } cases[] = {
      {"vendor interface", {vendorInterface(2, {kBulkIn, kBulkOut})}, true, {2, 0x81, 0x02, 512, 512}},
      {"last match wins",
       {vendorInterface(0, {{0x83, 0x02, 64}, {0x04, 0x02, 64}}), other, vendorInterface(3, {{0x85, 0x02, 32}})},
       true,
       {3, 0x85, 0x04, 32, 64}},
      {"no IN endpoint", {vendorInterface(0, {kBulkOut})}, false, {}},
      {"no OUT endpoint", {vendorInterface(0, {kBulkIn})}, false, {}},
      {"only on another interface", {other}, false, {}},
      {"control and isochronous are skipped", {vendorInterface(0, {{0x81, 0x00, 64}, {0x02, 0x01, 64}})}, false, {}},
      {"interrupt endpoints count (attribute bit 1)", {vendorInterface(0, {{0x81, 0x03, 8}, kBulkOut})}, true,
       {0, 0x81, 0x02, 8, 512}},
  };
  for (const Case& c : cases) {
    FakeDevice device;
    device.config.settings = c.settings;
    wfusb_endpoints found;
    ASSERT_EQ(find_usb_endpoints(&kFakeBackend, reinterpret_cast<wfusb_device*>(&device), &found), c.found) << c.name;
    if (c.found) {
      EXPECT_EQ(found.interfaceNumber, c.expected.interfaceNumber) << c.name;
      EXPECT_EQ(found.inEndpoint, c.expected.inEndpoint) << c.name;
      EXPECT_EQ(found.outEndpoint, c.expected.outEndpoint) << c.name;
      EXPECT_EQ(found.inPacketSize, c.expected.inPacketSize) << c.name;
      EXPECT_EQ(found.outPacketSize, c.expected.outPacketSize) << c.name;
    }
  }
}

TEST_F(UsbDriverTest, AModuleWithoutTheEndpointsIsAConfigurationError) {
  FakeDevice& device = addModule("40F5849A");
  device.config.settings = {vendorInterface(0, {kBulkIn})};
  driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrConfiguration);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_CLOSED);
  EXPECT_EQ(device.openCount, 0);
}

TEST_F(UsbDriverTest, WritesAreChunkedByThePacketSizeAvoidingFull512ByteChunks) {
  struct Case {
    uint16_t packetSize;
    size_t length;
    std::vector<int> chunks;
  } cases[] = {
      {512, 1024, {511, 511, 2}},
      {512, 512, {511, 1}},
      {512, 30, {30}},
      {64, 150, {64, 64, 22}},
      {1024, 1024, {1024}},
  };
  for (const Case& c : cases) {
    bus.devices.clear();
    bus.outRequests.clear();
    bus.outBytes.clear();
    bus.timeouts.clear();
    openModule(c.packetSize);
    std::vector<uint8_t> data(c.length);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(wfusb_write_to_device(driver, data.data(), data.size()), aErrNone);
    EXPECT_EQ(bus.outRequests, c.chunks) << c.packetSize << "/" << c.length;
    EXPECT_EQ(bus.outBytes, data);
    EXPECT_TRUE(std::all_of(bus.timeouts.begin(), bus.timeouts.end(), [](unsigned t) { return t == 50; }));
    wfusb_destroy(&driver);
  }
}

TEST_F(UsbDriverTest, PartialAndFailedTransfersResumeWhereTheyStopped) {
  openModule(64);
  bus.outAnswers = {{WFUSB_SUCCESS, 10}, {WFUSB_ERROR_TIMEOUT, 20}, {WFUSB_ERROR_PIPE, 0}};
  std::vector<uint8_t> data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(wfusb_write_to_device(driver, data.data(), data.size()), aErrNone);
  EXPECT_EQ(bus.outRequests, (std::vector<int>{64, 64, 64, 64, 6}));
  EXPECT_EQ(bus.outBytes, data);
  EXPECT_EQ(bus.halted, (std::vector<uint8_t>{0x02}));
}

TEST_F(UsbDriverTest, AWriteGivesUpAfterTenFailedTransfers) {
  openModule();
  // Nine failures with success in between still deliver everything...
  for (int i = 0; i < 9; ++i) bus.outAnswers.push_back({WFUSB_ERROR_TIMEOUT, 0});
  uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(wfusb_write_to_device(driver, data, sizeof data), aErrNone);
  EXPECT_EQ(bus.outRequests.size(), 10u);
  // ...ten leave bytes unsent.
  bus.outRequests.clear();
  for (int i = 0; i < 10; ++i) bus.outAnswers.push_back({WFUSB_ERROR_TIMEOUT, 0});
  EXPECT_EQ(wfusb_write_to_device(driver, data, sizeof data), aErrWrite);
  EXPECT_EQ(bus.outRequests.size(), 10u);
  // A transfer that claims success but moves nothing counts as failed too.
  bus.outRequests.clear();
  for (int i = 0; i < 12; ++i) bus.outAnswers.push_back({WFUSB_SUCCESS, 0});
  EXPECT_EQ(wfusb_write_to_device(driver, data, sizeof data), aErrWrite);
  EXPECT_EQ(bus.outRequests.size(), 10u);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_OPEN);  // aErrWrite is not an I/O error
}

TEST_F(UsbDriverTest, AHaltThatCannotBeClearedIsAnIOErrorUnderTheTolerance) {
  openModule();
  bus.clearHaltResult = WFUSB_ERROR_NO_DEVICE;
  uint8_t data[1] = {0x55};
  for (int i = 1; i <= 4; ++i) {
    bus.outAnswers.push_back({WFUSB_ERROR_PIPE, 0});
    EXPECT_EQ(wfusb_write_to_device(driver, data, 1), aErrNone) << "error " << i << " is tolerated";
  }
  bus.outAnswers.push_back({WFUSB_ERROR_PIPE, 0});
  EXPECT_EQ(wfusb_write_to_device(driver, data, 1), aErrIO);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_FAILED);
  EXPECT_EQ(bus.halted.size(), 5u);
}

TEST_F(UsbDriverTest, ReadsBufferOneTransferAndHandItOutByteByByte) {
  openModule();
  for (int i = 0; i < 1500; ++i) bus.inData.push_back(static_cast<uint8_t>(i));
  bus.inAnswers = {{WFUSB_SUCCESS, -1}, {WFUSB_ERROR_TIMEOUT, -1}};
  std::vector<uint8_t> got;
  uint8_t byte = 0;
  while (wfusb_get_from_device(driver, &byte) == aErrNone) got.push_back(byte);
  ASSERT_EQ(got.size(), 1500u);  // 1024 from the first transfer, 476 that came before a time-out
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<uint8_t>(i));
  EXPECT_EQ(bus.timeouts, (std::vector<unsigned>{1000, 1000, 1000}));  // the third found nothing
}

TEST_F(UsbDriverTest, ASilentModuleOrAStalledEndpointIsNotReady) {
  openModule();
  uint8_t byte = 0;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady);  // time-out, nothing
  bus.inAnswers = {{WFUSB_ERROR_PIPE, 0}};
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady);
  EXPECT_EQ(bus.halted, (std::vector<uint8_t>{0x81}));
  bus.inData = {0x06};
  bus.inAnswers = {{WFUSB_SUCCESS, -1}};
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNone);
  EXPECT_EQ(byte, 0x06);
}

TEST_F(UsbDriverTest, TheFifthConsecutiveIOErrorFailsTheDeviceForGood) {
  openModule();
  uint8_t byte = 0;
  // A success between errors starts the count again.
  for (int i = 0; i < 4; ++i) bus.inAnswers.push_back({WFUSB_ERROR_IO, 0});
  bus.inData = {0x06};
  bus.inAnswers.push_back({WFUSB_SUCCESS, -1});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady);
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNone);

  for (int i = 0; i < 5; ++i) bus.inAnswers.push_back({WFUSB_ERROR_NO_DEVICE, 0});
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady) << "error " << i;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrIO);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_FAILED);

  // From now on every read and write fails, without touching the bus, however
  // many calls follow.
  size_t transfers = bus.timeouts.size();
  uint8_t data[1] = {0};
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(wfusb_get_from_device(driver, &byte), aErrIO);
    ASSERT_EQ(wfusb_write_to_device(driver, data, 1), aErrIO);
  }
  EXPECT_EQ(bus.timeouts.size(), transfers);
}

TEST_F(UsbDriverTest, ReaderAndWriterThreadsShareTheErrorCountAndState) {
  openModule();
  // Every transfer fails, from both sides at once: together they fail the
  // device, and neither side is left working on a failed one.
  bus.clearHaltResult = WFUSB_ERROR_NO_DEVICE;  // a stalled OUT endpoint is an I/O error
  for (int i = 0; i < 50; ++i) {
    bus.inAnswers.push_back({WFUSB_ERROR_IO, 0});
    bus.outAnswers.push_back({WFUSB_ERROR_PIPE, 0});
  }
  std::thread reader([this] {
    uint8_t byte = 0;
    for (int i = 0; i < 50; ++i) wfusb_get_from_device(driver, &byte);
  });
  std::thread writer([this] {
    uint8_t data[4] = {1, 2, 3, 4};
    for (int i = 0; i < 50; ++i) wfusb_write_to_device(driver, data, sizeof data);
  });
  reader.join();
  writer.join();
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_FAILED);
  uint8_t byte = 0;
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrIO);
}

TEST_F(UsbDriverTest, StateAndModeChecks) {
  uint8_t byte = 0;
  uint8_t data[1] = {0};
  driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  EXPECT_EQ(wfusb_get_state(driver), WFUSB_STATE_CREATED);
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrNotReady);
  EXPECT_EQ(wfusb_write_to_device(driver, data, 1), aErrNotReady);
  // The kernel forms refuse a user-space object and the other way round.
  EXPECT_EQ(wfusb_open_wrenfield_kernel_device(driver, "40F5849A"), aErrMode);
  EXPECT_EQ(wfusb_write_to_kernel_device(driver, data, 1), aErrMode);
  EXPECT_EQ(wfusb_get_from_kernel_device(driver, &byte), aErrMode);
  EXPECT_EQ(wfusb_close_wrenfield_kernel_device(driver), aErrMode);
  wfusb_driver* kernel = wfusb_create_usb(WFUSB_MODE_KERNEL);
  EXPECT_EQ(wfusb_open_wrenfield_USBlib_device(kernel, "40F5849A"), aErrMode);
  EXPECT_EQ(wfusb_write_to_USBlib_device(kernel, data, 1), aErrMode);
  EXPECT_EQ(wfusb_get_from_USBlib_device(kernel, &byte), aErrMode);
  EXPECT_EQ(wfusb_close_wrenfield_USBlib_device(kernel), aErrMode);
  EXPECT_EQ(wfusb_destroy(&kernel), aErrNone);
  EXPECT_EQ(wfusb_create_usb(7), nullptr);

  wfusb_destroy(&driver);
  openModule();
  EXPECT_EQ(wfusb_close_wrenfield_device(driver), aErrNone);
  EXPECT_EQ(wfusb_get_from_device(driver, &byte), aErrConnection);
  EXPECT_EQ(wfusb_write_to_device(driver, data, 1), aErrConnection);

  EXPECT_EQ(wfusb_destroy(nullptr), aErrParam);
  wfusb_driver* none = nullptr;
  EXPECT_EQ(wfusb_destroy(&none), aErrParam);
}

TEST_F(UsbDriverTest, DestroyReleasesAStillOpenDevice) {
  FakeDevice& device = openModule();
  EXPECT_EQ(wfusb_destroy(&driver), aErrNone);
  EXPECT_EQ(driver, nullptr);
  EXPECT_EQ(device.openCount, 0);
  EXPECT_FALSE(device.claimed);
}

}  // namespace

namespace {

// The real bus through libusb: no module of the family is attached to a test
// machine, so a serial number is not found, whatever libusb finds or lacks.
TEST(UsbDriverRealBus, AnAbsentModuleIsNotFound) {
  ASSERT_EQ(wfusb_backend_current(), &wfusb_libusb_backend);
  wfusb_driver* driver = wfusb_create_usb(WFUSB_MODE_USBLIB);
  ASSERT_NE(driver, nullptr);
  EXPECT_EQ(wfusb_open_wrenfield_device(driver, "40F5849A"), aErrNotFound);
  EXPECT_EQ(wfusb_destroy(&driver), aErrNone);
  // The shared context can be given up and made again.
  Wrenfield_libusb_exit();
  EXPECT_EQ(Wrenfield_libusb_context(), Wrenfield_libusb_init());
}

}  // namespace
