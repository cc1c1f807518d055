#include "DiscoveryResponder.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace wfsim {

namespace {

constexpr uint16_t kRequestPort = 9888;
constexpr uint16_t kReplyPort = 9889;
constexpr const char* kGroup = "232.2.2.2";
constexpr size_t kMessageSize = 16;
constexpr uint8_t kRequestMarker = 1;

std::runtime_error _failure(const std::string& what) {
  return std::runtime_error("discovery: " + what + ": " + strerror(errno));
}

in_addr _address(const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
    throw std::runtime_error("discovery: not an IPv4 address: " + text);
  }
  return address;
}

std::string _text(in_addr address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool _loopback(in_addr address) { return (ntohl(address.s_addr) >> 24) == IN_LOOPBACKNET; }

// The interfaces on which the request is heard.
std::vector<in_addr> _interfaces(const TransportConfig& transport) {
  if (!transport.discoveryInterface.empty()) return {_address(transport.discoveryInterface)};
  const in_addr listen = _address(transport.address);
  if (listen.s_addr != htonl(INADDR_ANY)) return {listen};
  std::vector<in_addr> found;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) throw _failure("cannot list the interfaces");
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
    if (!_loopback(address)) found.push_back(address);
  }
  freeifaddrs(list);
  return found;
}

int _udpSocket() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) throw _failure("socket");
  return fd;
}

}  // namespace

bool DiscoveryResponder::wanted(const TransportConfig& transport) {
  return transport.discovery && (!transport.discoveryInterface.empty() || !_loopback(_address(transport.address)));
}

DiscoveryResponder::DiscoveryResponder(const TransportConfig& transport, uint16_t tcpPort, const ModuleConfig& module,
                                       PacketLog& log)
    : log_(log), serialText_(module.serialText()), listenAddress_(transport.address) {
  reply_[1] = module.address;
  reply_[2] = static_cast<uint8_t>(tcpPort);
  reply_[3] = static_cast<uint8_t>(tcpPort >> 8);
  for (size_t i = 0; i < 4; ++i) reply_[4 + i] = static_cast<uint8_t>(module.serial >> (8 * i));
  reply_[12] = static_cast<uint8_t>(module.model);

  const std::vector<in_addr> interfaces = _interfaces(transport);
  try {
    socket_ = _udpSocket();
    // Every simulated module on the machine listens on the same request port.
    const int on = 1;
    const int off = 0;
    setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Hear the group only on the interfaces joined here, not wherever another socket joined it.
    setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kRequestPort);
    local.sin_addr = _address(kGroup);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) throw _failure("bind to port 9888");
    std::string joined;
    for (const in_addr& interface : interfaces) {
      ip_mreq membership{};
      membership.imr_multiaddr = local.sin_addr;
      membership.imr_interface = interface;
      if (setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        throw _failure("cannot join " + std::string(kGroup) + " on " + _text(interface));
      }
      joined += (joined.empty() ? "" : ",") + _text(interface);
    }
    // Answers leave from the listen address, which the host takes as the module's.
    sender_ = _udpSocket();
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr = _address(transport.address);
    if (bind(sender_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      throw _failure("bind to " + transport.address);
    }
    note("discovery on " + (joined.empty() ? std::string("no interface") : joined));
  } catch (...) {
    if (socket_ >= 0) close(socket_);
    if (sender_ >= 0) close(sender_);
    throw;
  }
}

DiscoveryResponder::~DiscoveryResponder() {
  close(socket_);
  close(sender_);
}

void DiscoveryResponder::watch(Poller& poller) {
  poller.add(socket_, POLLIN, [this](short) { readable(); });
}

void DiscoveryResponder::readable() {
  // Several requests may wait; take them all (the socket does not block).
  for (;;) {
    uint8_t request[kMessageSize + 1];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t got = recvfrom(socket_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 0) return;
    const std::string requester = _text(from.sin_addr);
    if (static_cast<size_t>(got) != kMessageSize || request[0] != kRequestMarker) {
      note("discovery: ignored " + std::to_string(got) + " bytes from " + requester);
      continue;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kReplyPort);
    to.sin_addr = from.sin_addr;
    const bool sent = sendto(sender_, reply_, sizeof reply_, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
                      static_cast<ssize_t>(sizeof reply_);
    note("discovery request from " + requester + (sent ? " answered from " + listenAddress_
                                                        : " not answered: " + std::string(strerror(errno))));
  }
}

void DiscoveryResponder::note(const std::string& text) { log_.note(serialText_, "udp", text); }

}  // namespace wfsim
