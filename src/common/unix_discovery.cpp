// Discovery over the local network: the legacy multicast request that
// networked modules answer, and the machine's IPv4 interfaces.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "common/aDebug.h"
#include "common/discover.h"
#include "common/discovery_run.h"

namespace {

constexpr uint32_t kLoopback = 0x0100007F;
constexpr uint16_t kRequestPort = 9888;
constexpr uint16_t kReplyPort = 9889;
constexpr const char* kRequestGroup = "232.2.2.2";
constexpr size_t kMessageSize = 16;
constexpr size_t kModelOffset = 12;

// A descriptor that closes itself.
class Socket {
 public:
  Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {
    const int reuse = 1;
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

bool openListener(Socket& listener) {
  if (!listener.valid()) return false;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(kReplyPort);
  const timeval timeout{2, 0};
  return bind(listener.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
         setsockopt(listener.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool sendRequest(uint32_t interfaceAddress) {
  Socket sender;
  if (!sender.valid()) return false;
  in_addr outgoing{};
  outgoing.s_addr = interfaceAddress;
  if (setsockopt(sender.fd(), IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) != 0) return false;
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kRequestPort);
  inet_pton(AF_INET, kRequestGroup, &group.sin_addr);
  uint8_t request[kMessageSize] = {1};
  return sendto(sender.fd(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&group), sizeof group) ==
         static_cast<ssize_t>(sizeof request);
}

// Sends one request from every usable interface; false when none went out.
bool sendRequests() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return sendRequest(0);
  bool sent = false;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const uint32_t address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
    if (address == 0 || address == kLoopback) continue;
    if (sendRequest(address)) sent = true;
  }
  freeifaddrs(list);
  return sent;
}

}  // namespace

bool aDiscovery_DecodeLegacyReply(const uint8_t* reply, size_t length, uint32_t sender, linkSpec* spec) {
  if (reply == nullptr || spec == nullptr || length < 8) return false;
  *spec = linkSpec{};
  spec->type = TCPIP;
  spec->moduleAddress = reply[1];
  spec->routerAddress = reply[1];
  spec->ipPort = static_cast<uint32_t>(reply[2]) | static_cast<uint32_t>(reply[3]) << 8;
  spec->serialNumber = readLE32(reply + 4);
  spec->routerSerialNumber = spec->serialNumber;
  spec->model = length > kModelOffset ? reply[kModelOffset] : 0xFF;
  spec->ipAddress = sender;
  return true;
}

uint8_t aDiscovery_EnumerateLegacyTCPIP(aDiscoveryCallback callback, void* reference) {
  DiscoveryRun run(callback, reference);
  Socket listener;
  if (!openListener(listener) || !sendRequests()) return 0;
  while (!run.stopped()) {
    uint8_t reply[kMessageSize];
    reply[kModelOffset] = 0xFF;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got =
        recvfrom(listener.fd(), reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) break;  // the time-out after the last reply
    linkSpec spec{};
    if (!aDiscovery_DecodeLegacyReply(reply, static_cast<size_t>(got), from.sin_addr.s_addr, &spec)) continue;
    if (run.seen(spec.serialNumber)) continue;
    run.offer(spec);
  }
  return run.count();
}

size_t aDiscovery_GetIPv4Interfaces(uint32_t* addresses, size_t capacity) {
  if (addresses == nullptr || capacity == 0) return 0;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return 0;
  size_t count = 0;
  for (const ifaddrs* entry = list; entry != nullptr && count < capacity; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    addresses[count++] = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
    char text[16];
    aDiscovery_ConvertIPv4Interface(addresses[count - 1], text, sizeof text);
    aDebug_Print(aDEBUG_DISCOVERY, "New Interface: %s\n", text);
  }
  freeifaddrs(list);
  aDebug_Print(aDEBUG_DISCOVERY, "aDiscovery_GetIPv4Interfaces count: %d\n", static_cast<int>(count));
  return count;
}

size_t aDiscovery_ConvertIPv4Interface(uint32_t address, char* buffer, size_t size) {
  if (buffer == nullptr || size < INET_ADDRSTRLEN) return 0;
  memset(buffer, 0, size);
  in_addr value{};
  value.s_addr = address;
  if (inet_ntop(AF_INET, &value, buffer, static_cast<socklen_t>(size)) == nullptr) return 0;
  return strlen(buffer);
}
