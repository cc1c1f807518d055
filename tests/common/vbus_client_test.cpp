// The virtual bus client against an in-test server that misbehaves on
// purpose: silent, out of protocol, malformed. Every wait ends, and nothing
// malformed is taken for a device.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/usb_backend.h"
#include "common/vbus_client.h"
#include "support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Accepts one connection at a time and answers each request frame through
// `answer` (the bytes to send back, possibly none).
class FakeServer {
 public:
  using Answer = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;
  FakeServer(const std::string& path, Answer answer) : answer_(std::move(answer)) {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 4) != 0) {
      ADD_FAILURE() << "cannot serve " << path;
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeServer() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }

 private:
  void serve() {
    while (!stop_) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      uint8_t buffer[4096];
      ssize_t n;
      while (!stop_ && (n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        const std::vector<uint8_t> reply = answer_(std::vector<uint8_t>(buffer, buffer + n));
        if (!reply.empty() && send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
      }
      close(fd);
    }
  }

  Answer answer_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::vector<uint8_t> listReply(const std::vector<uint8_t>& devices) {
  vbus::Writer payload;
  payload.i32(0).bytes(devices.data(), devices.size());
  return vbus::frame(static_cast<uint8_t>(vbus::Type::List) | vbus::kReplyBit, payload.data());
}

// One family device, id 7, with the vendor interface and its two endpoints.
std::vector<uint8_t> oneModule() {
  vbus::Writer device;
  device.u16(1).u32(7).u8(1).u16(0x24FF).u16(0x0004).u8(3).u8(1);
  device.u8(0).u8(0).u8(0xFF).u8(0x88).u8(0x10).u8(2);
  device.u8(0x81).u8(0x02).u16(512).u8(0x02).u8(0x02).u16(512);
  return device.data();
}

class VbusClientTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv(vbus::kEnvironmentVariable, path.c_str(), 1); }
  void TearDown() override { unsetenv(vbus::kEnvironmentVariable); }

  size_t listedDevices() {
    wfusb_device** list = nullptr;
    const ssize_t count = wfusb_vbus_backend.get_device_list(&list);
    EXPECT_NE(list, nullptr);
    size_t entries = 0;
    while (list != nullptr && list[entries] != nullptr) ++entries;
    EXPECT_EQ(static_cast<size_t>(count), entries);
    wfusb_vbus_backend.free_device_list(list);
    return entries;
  }

  wftest::TempDir dir;
  const std::string path = dir / "bus.sock";
};

TEST_F(VbusClientTest, AWellFormedListIsRead) {
  FakeServer server(path, [](const std::vector<uint8_t>&) { return listReply(oneModule()); });
  wfusb_device** list = nullptr;
  ASSERT_EQ(wfusb_vbus_backend.get_device_list(&list), 1);
  wfusb_device_descriptor descriptor;
  ASSERT_EQ(wfusb_vbus_backend.get_device_descriptor(list[0], &descriptor), WFUSB_SUCCESS);
  EXPECT_EQ(descriptor.idVendor, 0x24FF);
  EXPECT_EQ(descriptor.idProduct, 0x0004);
  wfusb_config_descriptor config;
  ASSERT_EQ(wfusb_vbus_backend.get_config_descriptor(list[0], 0, &config), WFUSB_SUCCESS);
  ASSERT_EQ(config.settings.size(), 1u);
  EXPECT_EQ(config.settings[0].endpoints.size(), 2u);
  EXPECT_EQ(config.settings[0].endpoints[1].wMaxPacketSize, 512);
  wfusb_vbus_backend.free_device_list(list);
}

TEST_F(VbusClientTest, MalformedAnswersAreAnEmptyBus) {
  const std::vector<uint8_t> module = oneModule();
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
  } cases[] = {
      {"truncated device", listReply(std::vector<uint8_t>(module.begin(), module.end() - 3))},
      {"bytes after the list", listReply([&] {
         std::vector<uint8_t> longer = module;
         longer.push_back(0);
         return longer;
       }())},
      {"count beyond the devices", listReply({5, 0})},
      {"another version", [&] {
         std::vector<uint8_t> reply = listReply(module);
         reply[2] = vbus::kVersion + 1;
         return reply;
       }()},
      {"a payload over the limit", [] {
         std::vector<uint8_t> reply = listReply({0, 0});
         reply[4] = reply[5] = reply[6] = reply[7] = 0xFF;
         return reply;
       }()},
      {"the reply of another request", [&] {
         std::vector<uint8_t> reply = listReply(module);
         reply[3] = static_cast<uint8_t>(vbus::Type::Open) | vbus::kReplyBit;
         return reply;
       }()},
      {"no status", vbus::frame(static_cast<uint8_t>(vbus::Type::List) | vbus::kReplyBit, {0, 0})},
  };
  for (const Case& c : cases) {
    FakeServer server(path, [&](const std::vector<uint8_t>&) { return c.reply; });
    EXPECT_EQ(listedDevices(), 0u) << c.name;
    unlink(path.c_str());
  }
}

TEST_F(VbusClientTest, ASilentServerEndsTheWaitAndTheSession) {
  FakeServer server(path, [](const std::vector<uint8_t>&) { return std::vector<uint8_t>(); });
  vbus::Session session;
  ASSERT_TRUE(session.connect(path));
  const auto start = Clock::now();
  EXPECT_FALSE(session.request(vbus::Type::List, {}, 200).has_value());
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(10));
  // The session is closed: no second wait on a server that went quiet.
  const auto again = Clock::now();
  EXPECT_FALSE(session.request(vbus::Type::List, {}, 5000).has_value());
  EXPECT_LT(Clock::now() - again, std::chrono::milliseconds(1000));
}

TEST_F(VbusClientTest, NoServerIsAnEmptyBus) {
  EXPECT_EQ(listedDevices(), 0u);
  vbus::Session session;
  EXPECT_FALSE(session.connect(path));
  EXPECT_FALSE(session.request(vbus::Type::List, {}).has_value());
}

TEST(VbusProtocol, ReadsNeverPassTheEnd) {
  const std::vector<uint8_t> bytes{1, 2, 3};
  vbus::Reader reader(bytes);
  uint16_t value16 = 0;
  uint32_t value32 = 0;
  ASSERT_TRUE(reader.u16(value16));
  EXPECT_EQ(value16, 0x0201);
  EXPECT_FALSE(reader.u32(value32));
  EXPECT_TRUE(reader.failed());
  uint8_t value8 = 0;
  EXPECT_FALSE(reader.u8(value8));  // a failed reader stays failed
  EXPECT_EQ(reader.left(), 0u);
  const uint8_t* out = nullptr;
  vbus::Reader huge(bytes);
  EXPECT_FALSE(huge.bytes(SIZE_MAX, out));
}

}  // namespace
