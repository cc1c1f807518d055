// The link side of a module that has its own link to the host: it
// answers the host's address queries, takes force-route packets, sends
// heartbeats and records the host's answers, hands every other packet to the
// module addressed (itself or a sub-module behind it), and carries the fault
// switches that make the link misbehave on purpose.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DiscoveryResponder.h"
#include "PacketLog.h"
#include "SimModule.h"
#include "Transport.h"

namespace wfsim {

// Switches that spoil the module's replies (answers to the host's packets).
struct FaultSwitches {
  size_t garbage = 0;  // bytes 0xFF to send before the next reply
  size_t outOfStep = 0;  // copies of the module address to send before the next reply
  unsigned drop = 0;  // replies still to be swallowed
  unsigned delayMs = 0;  // every reply leaves this late
};

struct LinkStats {
  unsigned packetsIn = 0;
  unsigned packetsOut = 0;
  unsigned addressQueries = 0;  // answered or dropped
  unsigned answered = 0;  // requests a personality answered
  unsigned unhandled = 0;
  unsigned dropped = 0;
  unsigned discardedBytes = 0;  // host bytes outside any packet
  std::vector<uint8_t> forceRoutes;  // the x of every 0xAF 0x01 x, in order
  std::vector<uint8_t> heartbeatsSent;  // s of every heartbeat sent
  std::vector<uint8_t> heartbeatAnswers;  // data byte 1 of every answer received
};

class ModuleLink : public LinkSide {
 public:
  ModuleLink(const ModuleConfig& config, PacketLog& log);  // throws when a transport cannot be made
  ~ModuleLink() override;

  SimModule& module() { return *modules_.front(); }
  // The link's own module first, then its sub-modules.
  const std::vector<std::unique_ptr<SimModule>>& modules() const { return modules_; }
  std::vector<std::string> readyLines() const;
  const std::vector<std::unique_ptr<Transport>>& transports() const { return transports_; }

  // Registers the transports' descriptors and the next heartbeat time.
  void watch(Poller& poller);
  // Sends what is due: heartbeats, delayed replies.
  void tick(uint64_t now);

  // Control. Each returns false when there is no connection to a host.
  bool sendHeartbeat(std::optional<uint8_t> value);
  bool inject(const std::vector<uint8_t>& bytes);
  bool disconnect();
  FaultSwitches& faults() { return faults_; }
  const LinkStats& stats() const { return stats_; }

  // LinkSide
  void received(Transport& transport, Connection& connection, const uint8_t* bytes, size_t length) override;
  void note(Transport& transport, const std::string& text) override;

 private:
  void handle(Transport& transport, Connection& connection, const Packet& packet);
  void reply(Transport& transport, Connection& connection, const Packet& packet);
  void send(Transport& transport, Connection& connection, const std::vector<uint8_t>& bytes, uint64_t due);
  SimModule* moduleAt(uint8_t address);
  bool heartbeat(uint8_t value);  // false when no host listens

  PacketLog& log_;
  std::vector<std::unique_ptr<SimModule>> modules_;  // the link's own module first, then its sub-modules
  std::vector<std::unique_ptr<Transport>> transports_;
  std::vector<std::unique_ptr<DiscoveryResponder>> responders_;  // one per TCP transport that answers discovery
  FaultSwitches faults_;
  LinkStats stats_;
  size_t nextHeartbeatValue_ = 0;
  uint64_t nextHeartbeatMs_ = 0;
};

}  // namespace wfsim
