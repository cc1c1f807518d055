#include "VirtualBus.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "ImxRom.h"
#include "UsbTransport.h"

namespace wfsim {

using vbus::Reader;
using vbus::Type;
using vbus::Writer;

namespace {

constexpr unsigned kDefaultRestartMs = 300;
constexpr uint16_t kImxVendor = 0x1FC9;
constexpr uint16_t kImxProduct = 0x0130;
constexpr uint8_t kSerialStringIndex = 3;
constexpr size_t kMaxRecordedTransfers = 1000;
// Replies a host leaves unread; beyond this the host is dropped.
constexpr size_t kMaxPendingOutput = 1024 * 1024;

const char* const kHelp[] = {
    "usb list                    the devices on the bus",
    "usb detach NAME             unplug the device",
    "usb attach NAME [SERIAL]    plug it in again, optionally presenting another serial string",
    "usb loader NAME [deaddead]  restart into the loader: unplug, back under its serial or DEADDEAD",
    "usb reboot NAME             unplug, back under its own serial after the restart delay",
    "usb busy NAME on|off        refuse claims as busy (another program holds it)",
    "usb stall NAME in|out       halt that endpoint until a host clears it",
    "usb transfers NAME          the sizes of the OUT transfers since it was attached",
};

std::string _ids(const BusIdentity& identity) {
  char text[16];
  snprintf(text, sizeof text, "%04X:%04X", identity.vendor, identity.product);
  return text;
}

const BusEndpoint* _endpoint(const BusIdentity& identity, uint8_t address) {
  for (const BusSetting& setting : identity.settings) {
    for (const BusEndpoint& endpoint : setting.endpoints) {
      if (endpoint.address == address) return &endpoint;
    }
  }
  return nullptr;
}

bool _hasInterface(const BusIdentity& identity, uint8_t number) {
  return std::any_of(identity.settings.begin(), identity.settings.end(),
                     [number](const BusSetting& setting) { return setting.interfaceNumber == number; });
}

uint32_t _cappedWait(uint32_t ms) {
  // As libusb has it, 0 waits without limit; here the protocol's longest wait bounds it.
  return ms == 0 ? vbus::kLongestWaitMs : std::min(ms, vbus::kLongestWaitMs);
}

}  // namespace

struct VirtualBus::Slot {
  BusDevice* device = nullptr;
  std::unique_ptr<BusDevice> owned;
  uint32_t id = 0;  // 0 while detached; a fresh one at every attach
  std::string serial;  // the serial string presented while attached
  uint64_t claimer = 0;  // session key holding the interface
  uint32_t token = 0;  // of the current claim
  uint64_t hidHolder = 0;  // session key that opened the HID device
  bool refuseClaims = false;
  bool haltIn = false;
  bool haltOut = false;
  std::optional<uint64_t> reattachAt;
  std::string reattachSerial;
  std::vector<uint32_t> outTransfers;
};

struct VirtualBus::Session {
  uint64_t key = 0;
  int fd = -1;
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;
  uint32_t device = 0;  // the device id it opened or is bound to
  uint32_t boundToken = 0;  // the claim whose bulk data it moves
  bool closing = false;  // ends once its output is out
  // A request waiting for data: a bulk IN transfer or a HID read.
  struct Waiting {
    uint8_t type = 0;
    uint32_t room = 0;
    uint64_t deadline = 0;
  };
  std::optional<Waiting> waiting;
};

std::unique_ptr<VirtualBus> VirtualBus::create(const SimConfig& config,
                                               const std::vector<std::unique_ptr<ModuleLink>>& links,
                                               PacketLog& log) {
  const nlohmann::json section = config.raw.contains("virtual_bus") ? config.raw["virtual_bus"] : nlohmann::json();
  if (!section.is_null() && !section.is_object()) throw ConfigError("virtual_bus: expected an object");
  std::vector<UsbTransport*> ports;
  for (const std::unique_ptr<ModuleLink>& link : links) {
    for (const std::unique_ptr<Transport>& transport : link->transports()) {
      if (auto* port = dynamic_cast<UsbTransport*>(transport.get())) ports.push_back(port);
    }
  }
  std::string socket = config.virtualBusSocket;
  if (socket.empty() && section.contains("socket")) {
    if (!section["socket"].is_string()) throw ConfigError("virtual_bus.socket: expected a path");
    socket = section["socket"].get<std::string>();
  }
  const bool wanted = !section.is_null() || !ports.empty() || !config.virtualBusSocket.empty();
  if (!wanted) return nullptr;
  if (socket.empty()) throw ConfigError("virtual_bus.socket: the virtual bus needs a socket path (or --virtual-bus)");
  unsigned restartMs = kDefaultRestartMs;
  if (section.contains("restart_ms")) {
    const nlohmann::json& value = section["restart_ms"];
    if (!value.is_number_unsigned() || value.get<uint64_t>() > 60000) {
      throw ConfigError("virtual_bus.restart_ms: expected an integer from 0 to 60000");
    }
    restartMs = value.get<unsigned>();
  }
  auto bus = std::make_unique<VirtualBus>(socket, restartMs, log);
  for (UsbTransport* port : ports) {
    bus->plug(*port);
    VirtualBus* self = bus.get();
    const std::string name = port->name();
    const std::string serial = port->identity().serial;
    port->onDisconnect = [self, name, serial] { self->restart(name, serial); };
  }
  if (section.contains("devices")) {
    if (!section["devices"].is_array()) throw ConfigError("virtual_bus.devices: expected a list");
    size_t index = 0;
    for (const nlohmann::json& entry : section["devices"]) {
      const std::string field = "virtual_bus.devices[" + std::to_string(index++) + "]";
      if (!entry.is_object() || entry.value("type", "") != "imx-rom") {
        throw ConfigError(field + ".type: expected \"imx-rom\"");
      }
      std::string name = "imx" + std::to_string(index - 1);
      if (entry.contains("name")) {
        if (!entry["name"].is_string() || entry["name"].get<std::string>().empty()) {
          throw ConfigError(field + ".name: expected a text");
        }
        name = entry["name"].get<std::string>();
      }
      if (bus->slotByName(name) != nullptr) throw ConfigError(field + ".name: used twice on the bus");
      bus->plug(std::make_unique<ImxRom>(name, kImxVendor, kImxProduct));
    }
  }
  return bus;
}

VirtualBus::VirtualBus(const std::string& socketPath, unsigned restartMs, PacketLog& log)
    : path_(socketPath), restartMs_(restartMs), log_(log) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) throw std::runtime_error("virtual bus: socket path too long: " + path_);
  memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  // Only a socket (ours, from an earlier run) is replaced.
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) throw std::runtime_error("virtual bus: " + path_ + " exists and is not a socket");
    unlink(path_.c_str());
  }
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(std::string("virtual bus: socket: ") + strerror(errno));
  if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(listener_, 16) != 0) {
    const std::string reason = strerror(errno);
    close(listener_);
    throw std::runtime_error("virtual bus: cannot serve " + path_ + ": " + reason);
  }
}

VirtualBus::~VirtualBus() {
  for (const std::unique_ptr<Session>& session : sessions_) close(session->fd);
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (auto* port = dynamic_cast<UsbTransport*>(slot->device)) port->onDisconnect = nullptr;
  }
  close(listener_);
  unlink(path_.c_str());
}

void VirtualBus::plug(BusDevice& device) {
  auto slot = std::make_unique<Slot>();
  slot->device = &device;
  slots_.push_back(std::move(slot));
  attach(*slots_.back(), device.identity().serial);
}

void VirtualBus::plug(std::unique_ptr<BusDevice> owned) {
  BusDevice& device = *owned;
  plug(device);
  slots_.back()->owned = std::move(owned);
}

std::string VirtualBus::readyLine() const { return "vbus " + path_; }

void VirtualBus::note(const Slot& slot, const std::string& text) { log_.note(slot.device->name(), "vbus", text); }

void VirtualBus::attach(Slot& slot, const std::string& serial) {
  slot.id = nextId_++;
  slot.serial = serial;
  slot.reattachAt.reset();
  slot.outTransfers.clear();
  note(slot, "attached " + _ids(slot.device->identity()) + " serial " + serial);
}

void VirtualBus::detach(Slot& slot) {
  // Sessions that held the device keep their old id, which no longer
  // matches: every request of theirs, waiting ones too, finds no device.
  slot.id = 0;
  slot.claimer = 0;
  slot.token = 0;
  slot.hidHolder = 0;
  slot.haltIn = slot.haltOut = false;
  slot.device->detached();
  note(slot, "detached");
}

VirtualBus::Slot* VirtualBus::slotById(uint32_t id) {
  if (id == 0) return nullptr;
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->id == id) return slot.get();
  }
  return nullptr;
}

VirtualBus::Slot* VirtualBus::slotByName(const std::string& name) {
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->device->name() == name) return slot.get();
  }
  return nullptr;
}

bool VirtualBus::restart(const std::string& name, const std::string& serial) {
  Slot* slot = slotByName(name);
  if (slot == nullptr) return false;
  if (slot->id != 0) detach(*slot);
  slot->reattachAt = nowMs() + restartMs_;
  slot->reattachSerial = serial;
  return true;
}

void VirtualBus::watch(Poller& poller) {
  poller.add(listener_, POLLIN, [this](short) { accept(); });
  for (const std::unique_ptr<Session>& session : sessions_) {
    Session* self = session.get();
    short events = POLLIN;
    if (!self->output.empty()) events |= POLLOUT;
    poller.add(self->fd, events, [this, self](short revents) {
      if ((revents & POLLOUT) != 0) flush(*self);
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) readable(*self);
    });
    if (self->waiting) poller.wakeAt(self->waiting->deadline);
  }
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->reattachAt) poller.wakeAt(*slot->reattachAt);
  }
}

void VirtualBus::tick(uint64_t now) {
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->reattachAt && now >= *slot->reattachAt) attach(*slot, slot->reattachSerial);
  }
  for (const std::unique_ptr<Session>& session : sessions_) {
    if (session->waiting && complete(*session, now)) serve(*session);
  }
  // Sessions that ended are dropped here, outside every handler.
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    Session& session = **it;
    if (session.fd < 0) {
      it = sessions_.erase(it);
    } else {
      ++it;
    }
  }
}

void VirtualBus::accept() {
  const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  auto session = std::make_unique<Session>();
  session->key = nextSessionKey_++;
  session->fd = fd;
  sessions_.push_back(std::move(session));
}

void VirtualBus::readable(Session& session) {
  if (session.fd < 0) return;
  uint8_t buffer[8192];
  const ssize_t n = read(session.fd, buffer, sizeof buffer);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    endSession(session);
    return;
  }
  if (n < 0) return;
  session.input.insert(session.input.end(), buffer, buffer + n);
  serve(session);
}

void VirtualBus::serve(Session& session) {
  while (session.fd >= 0 && !session.closing && !session.waiting && session.input.size() >= vbus::kHeaderSize) {
    const std::optional<vbus::Header> header = vbus::parseHeader(session.input.data());
    if (!header || !vbus::isRequest(header->type)) {
      // Not this protocol or version: say so and end the session.
      reply(session, static_cast<uint8_t>(session.input[3] & 0x7F), WFUSB_ERROR_NOT_SUPPORTED);
      session.closing = true;
      session.input.clear();
      flush(session);
      return;
    }
    if (session.input.size() < vbus::kHeaderSize + header->length) return;  // the rest is still coming
    std::vector<uint8_t> payload(session.input.begin() + vbus::kHeaderSize,
                                 session.input.begin() + static_cast<std::ptrdiff_t>(vbus::kHeaderSize + header->length));
    session.input.erase(session.input.begin(),
                        session.input.begin() + static_cast<std::ptrdiff_t>(vbus::kHeaderSize + header->length));
    Reader request(payload);
    handle(session, header->type, request);
  }
}

void VirtualBus::reply(Session& session, uint8_t type, int32_t status, const std::vector<uint8_t>& data) {
  Writer payload;
  payload.i32(status).bytes(data.data(), data.size());
  const std::vector<uint8_t> bytes = vbus::frame(static_cast<uint8_t>(type | vbus::kReplyBit), payload.data());
  session.output.insert(session.output.end(), bytes.begin(), bytes.end());
  if (session.output.size() > kMaxPendingOutput) {
    endSession(session);
    return;
  }
  flush(session);
}

void VirtualBus::flush(Session& session) {
  while (session.fd >= 0 && !session.output.empty()) {
    const ssize_t n = send(session.fd, session.output.data(), session.output.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    if (n <= 0) {
      endSession(session);
      return;
    }
    session.output.erase(session.output.begin(), session.output.begin() + n);
  }
  if (session.closing && session.output.empty()) endSession(session);
}

void VirtualBus::endSession(Session& session) {
  if (session.fd < 0) return;
  close(session.fd);
  session.fd = -1;
  session.waiting.reset();
  // What the host held goes with it, as the kernel releases a dead process's claims.
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->claimer == session.key) {
      slot->claimer = 0;
      slot->token = 0;
      slot->device->claimed(false);
    }
    if (slot->hidHolder == session.key) slot->hidHolder = 0;
  }
}

void VirtualBus::list(Session& session) {
  Writer out;
  std::vector<const Slot*> attached;
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->id != 0) attached.push_back(slot.get());
  }
  out.u16(static_cast<uint16_t>(attached.size()));
  for (const Slot* slot : attached) {
    const BusIdentity& identity = slot->device->identity();
    out.u32(slot->id).u8(static_cast<uint8_t>(identity.kind)).u16(identity.vendor).u16(identity.product);
    out.u8(identity.kind == vbus::DeviceKind::Usb ? kSerialStringIndex : 0);
    out.u8(static_cast<uint8_t>(identity.settings.size()));
    for (const BusSetting& setting : identity.settings) {
      out.u8(setting.interfaceNumber).u8(setting.alternate).u8(setting.interfaceClass).u8(setting.subClass);
      out.u8(setting.protocol).u8(static_cast<uint8_t>(setting.endpoints.size()));
      for (const BusEndpoint& endpoint : setting.endpoints) {
        out.u8(endpoint.address).u8(endpoint.attributes).u16(endpoint.maxPacketSize);
      }
    }
  }
  reply(session, static_cast<uint8_t>(Type::List), 0, out.data());
}

void VirtualBus::handle(Session& session, uint8_t type, Reader& request) {
  auto answer = [&](int32_t status, const std::vector<uint8_t>& data = {}) { reply(session, type, status, data); };
  Slot* slot = slotById(session.device);
  switch (static_cast<Type>(type)) {
    case Type::List:
      list(session);
      return;
    case Type::Open: {
      uint32_t id = 0;
      if (!request.u32(id)) return answer(WFUSB_ERROR_INVALID_PARAM);
      Slot* target = slotById(id);
      if (target == nullptr || target->device->identity().kind != vbus::DeviceKind::Usb) {
        return answer(WFUSB_ERROR_NO_DEVICE);
      }
      session.device = id;
      return answer(WFUSB_SUCCESS);
    }
    case Type::String: {
      uint8_t index = 0;
      if (!request.u8(index)) return answer(WFUSB_ERROR_INVALID_PARAM);
      if (slot == nullptr) return answer(WFUSB_ERROR_NO_DEVICE);
      // A device stalls a request for a string it does not have.
      if (index != kSerialStringIndex) return answer(WFUSB_ERROR_PIPE);
      const std::vector<uint8_t> text(slot->serial.begin(), slot->serial.end());
      return answer(static_cast<int32_t>(text.size()), text);
    }
    case Type::Claim: {
      uint8_t number = 0;
      if (!request.u8(number)) return answer(WFUSB_ERROR_INVALID_PARAM);
      if (slot == nullptr) return answer(WFUSB_ERROR_NO_DEVICE);
      if (!_hasInterface(slot->device->identity(), number)) return answer(WFUSB_ERROR_NOT_FOUND);
      if (slot->claimer == session.key) return answer(WFUSB_SUCCESS, Writer().u32(slot->token).data());
      if (slot->refuseClaims || slot->claimer != 0) {
        note(*slot, "claim refused: busy");
        return answer(WFUSB_ERROR_BUSY);
      }
      slot->claimer = session.key;
      slot->token = nextToken_++;
      slot->device->claimed(true);
      return answer(WFUSB_SUCCESS, Writer().u32(slot->token).data());
    }
    case Type::Release: {
      uint8_t number = 0;
      if (!request.u8(number)) return answer(WFUSB_ERROR_INVALID_PARAM);
      if (slot == nullptr) return answer(WFUSB_ERROR_NO_DEVICE);
      if (slot->claimer != session.key) return answer(WFUSB_ERROR_NOT_FOUND);
      slot->claimer = 0;
      slot->token = 0;
      slot->device->claimed(false);
      return answer(WFUSB_SUCCESS);
    }
    case Type::Bind: {
      uint32_t id = 0;
      uint32_t token = 0;
      if (!request.u32(id) || !request.u32(token)) return answer(WFUSB_ERROR_INVALID_PARAM);
      Slot* target = slotById(id);
      if (target == nullptr) return answer(WFUSB_ERROR_NO_DEVICE);
      if (token == 0 || target->token != token) return answer(WFUSB_ERROR_ACCESS);
      session.device = id;
      session.boundToken = token;
      return answer(WFUSB_SUCCESS);
    }
    case Type::Bulk:
      bulk(session, request);
      return;
    case Type::ClearHalt: {
      uint8_t endpoint = 0;
      if (!request.u8(endpoint)) return answer(WFUSB_ERROR_INVALID_PARAM);
      if (slot == nullptr) return answer(WFUSB_ERROR_NO_DEVICE);
      if (_endpoint(slot->device->identity(), endpoint) == nullptr) return answer(WFUSB_ERROR_INVALID_PARAM);
      ((endpoint & 0x80) != 0 ? slot->haltIn : slot->haltOut) = false;
      return answer(WFUSB_SUCCESS);
    }
    case Type::HidOpen: {
      uint16_t vendor = 0;
      uint16_t product = 0;
      if (!request.u16(vendor) || !request.u16(product)) return answer(WFUSB_ERROR_INVALID_PARAM);
      for (const std::unique_ptr<Slot>& candidate : slots_) {
        const BusIdentity& identity = candidate->device->identity();
        if (candidate->id == 0 || identity.kind != vbus::DeviceKind::Hid || identity.vendor != vendor ||
            identity.product != product) {
          continue;
        }
        // One host at a time talks to a boot ROM.
        if (candidate->hidHolder != 0 && candidate->hidHolder != session.key) return answer(WFUSB_ERROR_BUSY);
        candidate->hidHolder = session.key;
        session.device = candidate->id;
        return answer(WFUSB_SUCCESS);
      }
      return answer(WFUSB_ERROR_NO_DEVICE);
    }
    case Type::HidWrite: {
      if (slot == nullptr || slot->hidHolder != session.key) return answer(WFUSB_ERROR_NO_DEVICE);
      const uint8_t* report = nullptr;
      const size_t length = request.left();
      if (length == 0 || !request.bytes(length, report)) return answer(WFUSB_ERROR_INVALID_PARAM);
      return answer(slot->device->hidWrite(report, length));
    }
    case Type::HidRead: {
      uint16_t room = 0;
      uint32_t waitMs = 0;
      if (!request.u16(room) || !request.u32(waitMs)) return answer(WFUSB_ERROR_INVALID_PARAM);
      if (slot == nullptr || slot->hidHolder != session.key) return answer(WFUSB_ERROR_NO_DEVICE);
      session.waiting = Session::Waiting{type, room, nowMs() + std::min(waitMs, vbus::kLongestWaitMs)};
      complete(session, nowMs());
      return;
    }
  }
  answer(WFUSB_ERROR_NOT_SUPPORTED);
}

void VirtualBus::bulk(Session& session, Reader& request) {
  const uint8_t type = static_cast<uint8_t>(Type::Bulk);
  uint8_t endpoint = 0;
  uint32_t length = 0;
  uint32_t waitMs = 0;
  if (!request.u8(endpoint) || !request.u32(length) || !request.u32(waitMs) || length > vbus::kMaxPayload) {
    return reply(session, type, WFUSB_ERROR_INVALID_PARAM, Writer().u32(0).data());
  }
  Slot* slot = slotById(session.device);
  if (slot == nullptr) return reply(session, type, WFUSB_ERROR_NO_DEVICE, Writer().u32(0).data());
  const bool holder = slot->claimer == session.key || (session.boundToken != 0 && session.boundToken == slot->token);
  const BusEndpoint* described = _endpoint(slot->device->identity(), endpoint);
  if (!holder || described == nullptr) return reply(session, type, WFUSB_ERROR_INVALID_PARAM, Writer().u32(0).data());
  const bool in = (endpoint & 0x80) != 0;
  if (in ? slot->haltIn : slot->haltOut) return reply(session, type, WFUSB_ERROR_PIPE, Writer().u32(0).data());
  if (in) {
    session.waiting = Session::Waiting{type, length, nowMs() + _cappedWait(waitMs)};
    complete(session, nowMs());
    return;
  }
  const uint8_t* data = nullptr;
  if (request.left() != length || !request.bytes(length, data)) {
    return reply(session, type, WFUSB_ERROR_INVALID_PARAM, Writer().u32(0).data());
  }
  if (slot->outTransfers.size() >= kMaxRecordedTransfers) slot->outTransfers.erase(slot->outTransfers.begin());
  slot->outTransfers.push_back(length);
  const size_t taken = length == 0 ? 0 : slot->device->bulkOut(data, length);
  // A module that takes no more makes the transfer time out with what went.
  reply(session, type, taken == length ? WFUSB_SUCCESS : WFUSB_ERROR_TIMEOUT,
        Writer().u32(static_cast<uint32_t>(taken)).data());
}

bool VirtualBus::complete(Session& session, uint64_t now) {
  if (!session.waiting || session.fd < 0) return false;
  const Session::Waiting waiting = *session.waiting;
  Slot* slot = slotById(session.device);
  if (slot == nullptr) {
    session.waiting.reset();
    reply(session, waiting.type, WFUSB_ERROR_NO_DEVICE, Writer().u32(0).data());
    return true;
  }
  if (waiting.type == static_cast<uint8_t>(Type::Bulk)) {
    if (slot->haltIn) {
      session.waiting.reset();
      reply(session, waiting.type, WFUSB_ERROR_PIPE, Writer().u32(0).data());
      return true;
    }
    if (slot->device->hasBulkIn()) {
      const std::vector<uint8_t> bytes = slot->device->bulkIn(waiting.room);
      session.waiting.reset();
      reply(session, waiting.type, WFUSB_SUCCESS,
            Writer().u32(static_cast<uint32_t>(bytes.size())).bytes(bytes.data(), bytes.size()).data());
      return true;
    }
    if (now < waiting.deadline) return false;
    session.waiting.reset();
    reply(session, waiting.type, WFUSB_ERROR_TIMEOUT, Writer().u32(0).data());
    return true;
  }
  std::optional<std::vector<uint8_t>> report = slot->device->hidRead();
  if (!report && now < waiting.deadline) return false;
  session.waiting.reset();
  std::vector<uint8_t> bytes = report ? std::move(*report) : std::vector<uint8_t>();
  if (bytes.size() > waiting.room) bytes.resize(waiting.room);  // as a short read buffer cuts a report
  reply(session, waiting.type, static_cast<int32_t>(bytes.size()), bytes);
  return true;
}

bool VirtualBus::isCommand(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  return word == "usb";
}

std::vector<std::string> VirtualBus::execute(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  std::string command;
  in >> word >> command;
  std::vector<std::string> args;
  for (std::string arg; in >> arg;) args.push_back(arg);
  using Lines = std::vector<std::string>;
  if (command == "help" || command.empty()) {
    Lines lines(std::begin(kHelp), std::end(kHelp));
    lines.push_back("ok");
    return lines;
  }
  if (command == "list") {
    Lines lines;
    for (const std::unique_ptr<Slot>& slot : slots_) {
      std::string text = "usb " + slot->device->name() + " " + _ids(slot->device->identity());
      text += slot->id != 0 ? " attached serial=" + slot->serial : " detached";
      if (slot->claimer != 0) text += " claimed";
      if (slot->refuseClaims) text += " busy";
      lines.push_back(text);
    }
    lines.push_back("ok");
    return lines;
  }
  Slot* slot = args.empty() ? nullptr : slotByName(args[0]);
  if (slot == nullptr) return {"error: expected the name of a device on the bus (usb list)"};
  const std::string option = args.size() > 1 ? args[1] : "";
  if (command == "detach") {
    if (slot->id == 0) return {"error: not attached"};
    slot->reattachAt.reset();
    detach(*slot);
    return {"ok"};
  }
  if (command == "attach") {
    if (slot->id != 0) return {"error: already attached"};
    attach(*slot, option.empty() ? slot->device->identity().serial : option);
    return {"ok"};
  }
  if (command == "loader" || command == "reboot") {
    if (command == "loader" && !option.empty() && option != "deaddead") return {"error: expected deaddead or nothing"};
    restart(slot->device->name(), option == "deaddead" ? "DEADDEAD" : slot->device->identity().serial);
    return {"ok"};
  }
  if (command == "busy") {
    if (option != "on" && option != "off") return {"error: expected on or off"};
    slot->refuseClaims = option == "on";
    return {"ok"};
  }
  if (command == "stall") {
    if (option != "in" && option != "out") return {"error: expected in or out"};
    (option == "in" ? slot->haltIn : slot->haltOut) = true;
    note(*slot, "endpoint " + option + " halted");
    return {"ok"};
  }
  if (command == "transfers") {
    std::string sizes;
    for (uint32_t size : slot->outTransfers) sizes += (sizes.empty() ? "" : ",") + std::to_string(size);
    return {"usb " + slot->device->name() + " out=" + (sizes.empty() ? "-" : sizes), "ok"};
  }
  return {"error: unknown usb command \"" + command + "\" (try usb help)"};
}

}  // namespace wfsim
