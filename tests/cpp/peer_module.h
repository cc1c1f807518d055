// A Module connected over loopback TCP to an in-test module peer, for tests
// that check the exact packets of an exchange and script the module's replies.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../common/module_peer.h"
#include "cpp/Module.h"

namespace wftest {

constexpr uint8_t kPeerAddress = 0x06;

// A packet as it travels: address, data length, data.
inline Bytes framed(uint8_t address, const Bytes& data) {
  Bytes packet{address, static_cast<uint8_t>(data.size())};
  packet.insert(packet.end(), data.begin(), data.end());
  return packet;
}

inline linkSpec tcpSpec(uint16_t port) {
  linkSpec spec{};
  spec.type = TCPIP;
  spec.ipAddress = htonl(INADDR_LOOPBACK);
  spec.ipPort = port;
  return spec;
}

// What the host sent besides the link's own address queries and force routes.
inline std::vector<Bytes> hostPackets(ModulePeer& peer) {
  std::vector<Bytes> packets;
  for (const Bytes& packet : peer.packets()) {
    if (packet[0] != 0xAD && packet[0] != 0xAF) packets.push_back(packet);
  }
  return packets;
}

class PeerModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer = std::make_unique<ModulePeer>(ModulePeer::listenLoopback(&port), true, kPeerAddress);
    ASSERT_EQ(module.connectFromSpec(tcpSpec(port)), aErrNone);
  }
  Quorvant::Wrenfield::Link& link() { return *module.getLink(); }
  // Sends a marker and waits until the peer has it, so every packet sent
  // before it has arrived too.
  void flush() {
    const uint8_t marker[] = {0xEE};
    const size_t markers = peer->count(framed(kPeerAddress, {0x7E, 0xEE}));
    ASSERT_EQ(link().sendPacket(kPeerAddress, 0x7E, 1, marker), aErrNone);
    ASSERT_TRUE(peer->awaitPacket(framed(kPeerAddress, {0x7E, 0xEE}), markers + 1));
  }
  // The packets the host sent, without the flush markers.
  std::vector<Bytes> sent() {
    std::vector<Bytes> packets = hostPackets(*peer);
    std::erase(packets, framed(kPeerAddress, {0x7E, 0xEE}));
    return packets;
  }

  uint16_t port = 0;
  std::unique_ptr<ModulePeer> peer;
  Quorvant::Wrenfield::Module module{kPeerAddress};
};

}  // namespace wftest
