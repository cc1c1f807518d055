#include "ModuleLink.h"

#include <algorithm>
#include <cstdio>

#include "PtyTransport.h"
#include "TcpTransport.h"
#include "UsbTransport.h"

namespace wfsim {

namespace {
constexpr uint8_t kGarbageByte = 0xFF;  // odd: no host takes it for a packet's start

std::string _hex(uint8_t value) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", value);
  return text;
}
}  // namespace

ModuleLink::ModuleLink(const ModuleConfig& config, PacketLog& log) : log_(log) {
  modules_.push_back(std::make_unique<SimModule>(config));
  for (const ModuleConfig& sub : config.submodules) modules_.push_back(std::make_unique<SimModule>(sub));
  for (const TransportConfig& transport : config.transports) {
    if (transport.kind == TransportConfig::Kind::Tcp) {
      auto tcp = std::make_unique<TcpTransport>(transport, module().serialText(), *this);
      if (DiscoveryResponder::wanted(transport)) {
        responders_.push_back(std::make_unique<DiscoveryResponder>(transport, tcp->port(), config, log));
      }
      transports_.push_back(std::move(tcp));
    } else if (transport.kind == TransportConfig::Kind::Usb) {
      transports_.push_back(std::make_unique<UsbTransport>(transport, config, *this));
    } else {
      transports_.push_back(std::make_unique<PtyTransport>(transport, module().serialText(), *this));
    }
  }
  nextHeartbeatMs_ = nowMs() + config.heartbeat.intervalMs;
}

ModuleLink::~ModuleLink() = default;

std::vector<std::string> ModuleLink::readyLines() const {
  std::vector<std::string> lines;
  for (const std::unique_ptr<Transport>& transport : transports_) lines.push_back(transport->readyLine());
  return lines;
}

void ModuleLink::watch(Poller& poller) {
  for (const std::unique_ptr<Transport>& transport : transports_) {
    transport->watch(poller);
    if (Connection* connection = transport->connection()) {
      if (std::optional<uint64_t> due = connection->nextDue()) poller.wakeAt(*due);
    }
  }
  for (const std::unique_ptr<DiscoveryResponder>& responder : responders_) responder->watch(poller);
  if (module().config().heartbeat.intervalMs > 0) poller.wakeAt(nextHeartbeatMs_);
}

void ModuleLink::tick(uint64_t now) {
  unsigned interval = module().config().heartbeat.intervalMs;
  if (interval > 0 && now >= nextHeartbeatMs_) {
    const std::vector<uint8_t>& values = module().config().heartbeat.values;
    if (heartbeat(values[nextHeartbeatValue_ % values.size()])) ++nextHeartbeatValue_;
    // A late loop does not make up for lost time with a burst.
    nextHeartbeatMs_ = std::max(nextHeartbeatMs_ + interval, now + 1);
  }
  for (const std::unique_ptr<Transport>& transport : transports_) {
    if (Connection* connection = transport->connection()) {
      if (!connection->flush(now)) note(*transport, "write failed: host gone");
    }
  }
}

bool ModuleLink::sendHeartbeat(std::optional<uint8_t> value) {
  if (value) return heartbeat(*value);
  const std::vector<uint8_t>& values = module().config().heartbeat.values;
  if (!heartbeat(values[nextHeartbeatValue_ % values.size()])) return false;
  ++nextHeartbeatValue_;
  return true;
}

bool ModuleLink::heartbeat(uint8_t value) {
  Packet packet{module().address(), {kCmdHeartbeat, value}};
  bool sent = false;
  for (const std::unique_ptr<Transport>& transport : transports_) {
    Connection* connection = transport->connection();
    if (connection == nullptr || !connection->live) continue;
    log_.packet(module().serialText(), transport->kind(), PacketLog::Direction::Sent, packet);
    ++stats_.packetsOut;
    send(*transport, *connection, packet.wire(), nowMs());
    sent = true;
  }
  if (sent) stats_.heartbeatsSent.push_back(value);
  return sent;
}

bool ModuleLink::inject(const std::vector<uint8_t>& bytes) {
  bool sent = false;
  for (const std::unique_ptr<Transport>& transport : transports_) {
    Connection* connection = transport->connection();
    if (connection == nullptr || !connection->live) continue;
    log_.note(module().serialText(), transport->kind(), "injecting");
    log_.raw(module().serialText(), transport->kind(), PacketLog::Direction::Sent, bytes);
    send(*transport, *connection, bytes, nowMs());
    sent = true;
  }
  return sent;
}

bool ModuleLink::disconnect() {
  bool any = false;
  for (const std::unique_ptr<Transport>& transport : transports_) {
    any = any || transport->connection() != nullptr;
    transport->disconnect();
  }
  return any;
}

void ModuleLink::received(Transport& transport, Connection& connection, const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    PacketAssembler::Result result = connection.assembler.add(bytes[i]);
    if (!result.discarded.empty()) {
      stats_.discardedBytes += static_cast<unsigned>(result.discarded.size());
      log_.raw(module().serialText(), transport.kind(), PacketLog::Direction::Received, result.discarded);
    }
    if (result.packet) {
      ++stats_.packetsIn;
      log_.packet(module().serialText(), transport.kind(), PacketLog::Direction::Received, *result.packet);
      handle(transport, connection, *result.packet);
    }
  }
}

void ModuleLink::note(Transport& transport, const std::string& text) {
  log_.note(module().serialText(), transport.kind(), text);
}

SimModule* ModuleLink::moduleAt(uint8_t address) {
  for (const std::unique_ptr<SimModule>& module : modules_) {
    if (module->address() == address) return module.get();
  }
  return nullptr;
}

void ModuleLink::handle(Transport& transport, Connection& connection, const Packet& packet) {
  if (packet.address == kAddressQuery) {
    ++stats_.addressQueries;
    reply(transport, connection, Packet{module().address(), {}});
    return;
  }
  if (packet.address == kForceRoute && packet.data.size() == 1) {
    stats_.forceRoutes.push_back(packet.data[0]);
    note(transport, "force-route " + std::to_string(packet.data[0]));
    return;
  }
  SimModule* target = moduleAt(packet.address);
  if (target == nullptr) {
    ++stats_.unhandled;
    note(transport, "no module at address " + _hex(packet.address));
    return;
  }
  if (packet.data.size() == 2 && packet.data[0] == kCmdHeartbeat) {
    stats_.heartbeatAnswers.push_back(packet.data[1]);
    return;
  }
  std::vector<Packet> replies;
  const bool taken = target->handle(packet, replies);
  for (const std::string& text : target->journal().notes) log_.note(target->serialText(), transport.kind(), text);
  target->journal().notes.clear();
  if (!taken) {
    ++stats_.unhandled;
    note(transport, "unhandled packet for " + target->serialText());
    return;
  }
  ++stats_.answered;
  for (const Packet& answer : replies) reply(transport, connection, answer);
}

void ModuleLink::reply(Transport& transport, Connection& connection, const Packet& packet) {
  const std::string& who = module().serialText();
  if (faults_.drop > 0) {
    --faults_.drop;
    ++stats_.dropped;
    log_.note(who, transport.kind(), "reply dropped");
    return;
  }
  uint64_t due = nowMs() + faults_.delayMs;
  if (faults_.delayMs > 0) log_.note(who, transport.kind(), "reply delayed " + std::to_string(faults_.delayMs) + " ms");
  std::vector<uint8_t> spoil(faults_.garbage, kGarbageByte);
  spoil.insert(spoil.end(), faults_.outOfStep, module().address());
  faults_.garbage = 0;
  faults_.outOfStep = 0;
  if (!spoil.empty()) {
    log_.raw(who, transport.kind(), PacketLog::Direction::Sent, spoil);
    send(transport, connection, spoil, due);
  }
  log_.packet(who, transport.kind(), PacketLog::Direction::Sent, packet);
  ++stats_.packetsOut;
  send(transport, connection, packet.wire(), due);
}

void ModuleLink::send(Transport& transport, Connection& connection, const std::vector<uint8_t>& bytes, uint64_t due) {
  connection.send(bytes, due);
  if (!connection.flush(nowMs())) note(transport, "write failed: host gone");
}

}  // namespace wfsim
