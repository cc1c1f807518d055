// The legacy TCP/IP discovery as a networked module answers it: a 16-byte
// request (byte 0 = 1) to the multicast group 232.2.2.2 port 9888 is
// answered with a 16-byte datagram to the requester's port 9889 carrying
// the module address, the TCP port and the serial number (little-endian)
// and the model code.
//
// Where it listens: the transport's "discovery.interface" when given, else
// the interface of its listen address, or for the any-address every
// non-loopback IPv4 interface. Hosts never send the request through the
// loopback interface, so a module listening on loopback answers only when
// given an interface; this also keeps the many loopback modules of
// unrelated tests out of each other's discoveries. The answer leaves from
// the listen address, which the host then connects to.
#pragma once

#include <cstdint>
#include <string>

#include "Config.h"
#include "PacketLog.h"
#include "Transport.h"

namespace wfsim {

class DiscoveryResponder {
 public:
  // Throws std::runtime_error when the request port or an interface cannot be used.
  DiscoveryResponder(const TransportConfig& transport, uint16_t tcpPort, const ModuleConfig& module, PacketLog& log);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

  void watch(Poller& poller);
  // Whether the transport answers discovery at all.
  static bool wanted(const TransportConfig& transport);

 private:
  void readable();
  void note(const std::string& text);

  PacketLog& log_;
  std::string serialText_;
  std::string listenAddress_;
  uint8_t reply_[16] = {};
  int socket_ = -1;
  int sender_ = -1;
};

}  // namespace wfsim
