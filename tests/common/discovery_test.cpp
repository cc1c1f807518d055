// Network discovery against small responders inside the test: the legacy
// multicast request, the local aShare multicast and the aShare beacons.
#include <arpa/inet.h>
#include <czmq.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "common/aMulticast.h"
#include "common/discover.h"
#include "common/zBeaconInterface.h"
#include "support/netns.h"

namespace {

uint32_t ipv4(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address.s_addr;
}

struct Collected {
  std::vector<linkSpec> specs;
  size_t stopAfter = 1000;
};

bool collect(const linkSpec* spec, bool* counted, void* reference) {
  auto* collected = static_cast<Collected*>(reference);
  collected->specs.push_back(*spec);
  *counted = true;
  return collected->specs.size() < collected->stopAfter;
}

linkSpec shareSpec(uint32_t serial, const char* address, uint32_t port) {
  linkSpec spec{};
  spec.type = ASHARE;
  spec.serialNumber = serial;
  spec.model = 4;
  spec.ipAddress = ipv4(address);
  spec.ipPort = port;
  return spec;
}

// A UDP socket that closes itself.
struct Udp {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ~Udp() { close(fd); }
};

}  // namespace

TEST(LinkSpec, WireLayoutIsFixed) {
  linkSpec tcp = shareSpec(0x40F5849A, "127.0.0.1", 8000);
  tcp.type = TCPIP;
  tcp.moduleAddress = 6;
  tcp.routerAddress = 2;
  tcp.routerSerialNumber = 0xD272031D;
  uint8_t wire[aLINKSPEC_WIRE_SIZE];
  aLinkSpec_ToWire(&tcp, wire);
  const uint8_t head[32] = {2, 0, 0, 0, 0x9A, 0x84, 0xF5, 0x40, 6, 0, 0, 0, 2, 0, 0, 0,
                            0x1D, 0x03, 0x72, 0xD2, 4, 0, 0, 0, 127, 0, 0, 1, 0x40, 0x1F, 0, 0};
  EXPECT_EQ(memcmp(wire, head, sizeof head), 0);
  for (size_t i = 32; i < aLINKSPEC_WIRE_SIZE; ++i) ASSERT_EQ(wire[i], 0) << i;
  linkSpec back{};
  aLinkSpec_FromWire(wire, &back);
  EXPECT_EQ(memcmp(&back, &tcp, sizeof tcp), 0);

  linkSpec serial{};
  serial.type = SERIAL;
  serial.baudRate = 115200;
  strcpy(serial.portName, "/dev/ttyUSB0");
  aLinkSpec_ToWire(&serial, wire);
  EXPECT_EQ(wire[24] | wire[25] << 8 | wire[26] << 16, 115200);
  EXPECT_STREQ(reinterpret_cast<const char*>(wire + 28), "/dev/ttyUSB0");

  linkSpec* made = aLinkSpec_Create(USB);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->type, USB);
  EXPECT_EQ(made->serialNumber, 0u);
  linkSpec* copy = aLinkSpec_Copy(&tcp);
  EXPECT_EQ(memcmp(copy, &tcp, sizeof tcp), 0);
  EXPECT_EQ(aLinkSpec_Destroy(&made), 0u);
  EXPECT_EQ(made, nullptr);
  EXPECT_NE(aLinkSpec_Destroy(&made), 0u);
  aLinkSpec_Destroy(&copy);
}

TEST(LegacyDiscovery, ReplyDecoding) {
  const uint8_t reply[16] = {0, 0x06, 0x1F, 0x90, 0x9A, 0x84, 0xF5, 0x40, 0, 0, 0, 0, 14, 0, 0, 0};
  linkSpec spec{};
  ASSERT_TRUE(aDiscovery_DecodeLegacyReply(reply, 16, ipv4("198.51.100.2"), &spec));
  EXPECT_EQ(spec.type, TCPIP);
  EXPECT_EQ(spec.moduleAddress, 6u);
  EXPECT_EQ(spec.routerAddress, 6u);
  EXPECT_EQ(spec.ipPort, 0x901Fu);
  EXPECT_EQ(spec.serialNumber, 0x40F5849Au);
  EXPECT_EQ(spec.routerSerialNumber, 0x40F5849Au);
  EXPECT_EQ(spec.model, 14u);
  EXPECT_EQ(spec.ipAddress, ipv4("198.51.100.2"));
  // Too short for the model: 0xFF; too short for the serial number: refused.
  ASSERT_TRUE(aDiscovery_DecodeLegacyReply(reply, 12, 0, &spec));
  EXPECT_EQ(spec.model, 0xFFu);
  EXPECT_FALSE(aDiscovery_DecodeLegacyReply(reply, 7, 0, &spec));
}

// Answers legacy requests on 232.2.2.2:9888 (joined on wf1) with one reply
// per listed serial number, the first one twice.
class LegacyResponder {
 public:
  explicit LegacyResponder(std::vector<uint32_t> serials) : serials_(std::move(serials)) {
    const int reuse = 1;
    setsockopt(socket_.fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(9888);
    bind(socket_.fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = ipv4("232.2.2.2");
    membership.imr_interface.s_addr = ipv4("198.51.100.2");
    setsockopt(socket_.fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership);
    thread_ = std::thread([this] { serve(); });
  }
  ~LegacyResponder() {
    stop_ = true;
    thread_.join();
  }
  int requests() const { return requests_.load(); }

 private:
  void serve() {
    while (!stop_) {
      pollfd p{socket_.fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      uint8_t request[16];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      if (recvfrom(socket_.fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &length) != 16 ||
          request[0] != 1)
        continue;
      if (requests_.fetch_add(1) > 0) continue;  // answer the first request only
      from.sin_port = htons(9889);
      for (size_t i = 0; i <= serials_.size(); ++i) {
        const uint32_t serial = serials_[i == serials_.size() ? 0 : i];
        uint8_t reply[16] = {0, static_cast<uint8_t>(2 + 2 * i), 0x40, 0x1F};
        memcpy(reply + 4, &serial, 4);
        reply[12] = 3;
        sendto(socket_.fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), sizeof from);
      }
    }
  }

  std::vector<uint32_t> serials_;
  Udp socket_;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

TEST(LegacyDiscovery, FindsEachModuleOnceAndStopsWhenAsked) {
  WF_REQUIRE_PRIVATE_NAMESPACE();
  {
    LegacyResponder responder({0x11111111, 0x22222222});
    Collected collected;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &collected, 0), 2);
    ASSERT_EQ(collected.specs.size(), 2u);
    EXPECT_EQ(collected.specs[0].serialNumber, 0x11111111u);
    EXPECT_EQ(collected.specs[1].moduleAddress, 4u);
    EXPECT_EQ(collected.specs[1].ipPort, 8000u);
    EXPECT_EQ(collected.specs[1].model, 3u);
    EXPECT_GE(responder.requests(), 1);
  }
  {
    LegacyResponder responder({0x11111111, 0x22222222});
    Collected collected;
    collected.stopAfter = 1;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &collected, 0), 1);
  }
  {
    LegacyResponder responder({0x33333333});
    linkSpec* found = aDiscovery_FindModule(TCPIP, 0x33333333, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->serialNumber, 0x33333333u);
    aLinkSpec_Destroy(&found);
  }
}

// Holds aShare request port 9850 + n the way a link sharing server does and
// answers the magic with the given specifiers on 9950 + n.
class ShareResponder {
 public:
  ShareResponder(int n, std::vector<linkSpec> replies) : n_(n), replies_(std::move(replies)) {
    request_ = aMulticast_Create(0, ipv4("224.0.0.7"), static_cast<uint16_t>(9850 + n), false);
    reply_ = aMulticast_Create(0, ipv4("224.0.0.7"), static_cast<uint16_t>(9950 + n), true);
    thread_ = std::thread([this] { serve(); });
  }
  ~ShareResponder() {
    stop_ = true;
    thread_.join();
    aMulticast_Destroy(&request_);
    aMulticast_Destroy(&reply_);
  }
  int requests() const { return requests_.load(); }
  bool holding() const { return request_ != nullptr && reply_ != nullptr; }

 private:
  void serve() {
    while (!stop_) {
      uint8_t magic[8];
      if (aMulticast_Receive(request_, magic, sizeof magic) != 4) continue;  // 1 s time-out
      if (magic[0] != 0xBA || magic[1] != 0xDC || magic[2] != 0xCD || magic[3] != 0xAB) continue;
      const linkSpec& spec = replies_[static_cast<size_t>(requests_.fetch_add(1)) % replies_.size()];
      uint8_t wire[aLINKSPEC_WIRE_SIZE];
      aLinkSpec_ToWire(&spec, wire);
      aMulticast_Send(reply_, wire, sizeof wire);
    }
  }

  int n_;
  std::vector<linkSpec> replies_;
  aMulticastRef request_ = nullptr;
  aMulticastRef reply_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread thread_;
};

TEST(ShareDiscovery, LocalMulticastFindsLocalServersOnly) {
  WF_REQUIRE_PRIVATE_NAMESPACE();
  {
    Collected nothing;
    EXPECT_EQ(aDiscovery_Enumerate_aShareModules(collect, &nothing, 0), 0);
    EXPECT_TRUE(nothing.specs.empty());
  }
  ShareResponder local(2, {shareSpec(0xAAAA0001, "127.0.0.1", 9000)});
  ShareResponder remote(5, {shareSpec(0xAAAA0002, "198.51.100.2", 9001)});
  ShareResponder duplicate(7, {shareSpec(0xAAAA0001, "127.0.0.1", 9000)});
  ASSERT_TRUE(local.holding() && remote.holding() && duplicate.holding());
  Collected collected;
  EXPECT_EQ(aDiscovery_EnumerateModules(ASHARE, collect, &collected, ipv4("127.0.0.1")), 1);
  ASSERT_EQ(collected.specs.size(), 1u);
  EXPECT_EQ(collected.specs[0].serialNumber, 0xAAAA0001u);
  EXPECT_EQ(collected.specs[0].ipPort, 9000u);
  EXPECT_EQ(local.requests(), 1);
  EXPECT_EQ(remote.requests(), 1);
}

TEST(BeaconInterface, ValidSettingsLockAndRestore) {
  for (const char* invalid : {"256.1.1.1", "1.2.3", "abc", "1.2.3.4.5"}) EXPECT_FALSE(zBeaconInterface_setAndLock(invalid));
  // Nothing was locked by the refusals: another thread can take the setting.
  std::thread([] {
    EXPECT_TRUE(zBeaconInterface_setAndLock("*"));
    zBeaconInterface_unlock();
  }).join();
  ASSERT_TRUE(zBeaconInterface_setAndLock(""));
  zBeaconInterface_unlock();
  const std::string before = zBeaconInterface_get();
  ASSERT_TRUE(zBeaconInterface_backupSetAndLock("198.51.100.1"));
  EXPECT_EQ(zBeaconInterface_get(), "198.51.100.1");
  EXPECT_EQ(zBeaconInterface_getBackup(), before);

  // While the setting is in force a second setter waits.
  std::atomic<bool> second{false};
  std::thread waiter([&] {
    EXPECT_TRUE(zBeaconInterface_setAndLock("*"));
    second = true;
    zBeaconInterface_unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(second.load());
  zBeaconInterface_restoreAndUnlock();
  waiter.join();
  EXPECT_TRUE(second.load());
  EXPECT_EQ(zBeaconInterface_get(), "*");
}

TEST(ShareDiscovery, BeaconsOnTheNamespaceInterface) {
  WF_REQUIRE_PRIVATE_NAMESPACE();
  // Publishers on wf1's address: a 128-byte specifier, the same one again
  // from a second publisher, and a 20-byte beacon that is not a specifier.
  ASSERT_TRUE(zBeaconInterface_setAndLock("198.51.100.2"));
  std::vector<zactor_t*> publishers;
  const linkSpec spec = shareSpec(0xBEAC0001, "198.51.100.2", 9100);
  uint8_t wire[aLINKSPEC_WIRE_SIZE];
  aLinkSpec_ToWire(&spec, wire);
  for (int i = 0; i < 3; ++i) {
    zactor_t* publisher = zactor_new(zbeacon, nullptr);
    zsock_send(publisher, "si", "CONFIGURE", 8585);
    char* host = zstr_recv(publisher);
    EXPECT_STREQ(host, "198.51.100.2");
    zstr_free(&host);
    if (i < 2)
      zsock_send(publisher, "sbi", "PUBLISH", wire, sizeof wire, 100);
    else
      zsock_send(publisher, "sbi", "PUBLISH", "Twenty-byte-beacon!!", static_cast<size_t>(20), 100);
    publishers.push_back(publisher);
  }
  zBeaconInterface_unlock();

  Collected collected;
  EXPECT_EQ(aDiscovery_EnumerateModules(ASHARE, collect, &collected, ipv4("198.51.100.1")), 1);
  ASSERT_EQ(collected.specs.size(), 1u);
  EXPECT_EQ(collected.specs[0].serialNumber, 0xBEAC0001u);
  EXPECT_EQ(collected.specs[0].ipPort, 9100u);
  for (zactor_t* publisher : publishers) zactor_destroy(&publisher);
}
