#include "UsbTransport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace wfsim {

namespace {

constexpr uint16_t kVendor = 0x24FF;
constexpr uint8_t kVendorClass = 0xFF;
constexpr uint8_t kVendorSubClass = 0x88;
constexpr uint8_t kVendorProtocol = 0x10;
constexpr uint8_t kInEndpoint = 0x81;
constexpr uint8_t kOutEndpoint = 0x02;
// What a module holds for a host that does not read; the module waits beyond it.
constexpr size_t kMaxInQueue = 64 * 1024;

uint16_t _u16(const nlohmann::json& value, const std::string& field, uint16_t low) {
  if (!value.is_number_integer() || value.get<int64_t>() < low || value.get<int64_t>() > 0xFFFF) {
    throw ConfigError(field + ": expected an integer from " + std::to_string(low) + " to 65535");
  }
  return static_cast<uint16_t>(value.get<int64_t>());
}

}  // namespace

UsbTransport::UsbTransport(const TransportConfig& config, const ModuleConfig& module, LinkSide& link)
    : link_(link), name_(module.serialText()) {
  const nlohmann::json& raw = config.raw;
  const std::string field = "usb transport of " + name_;
  identity_.kind = vbus::DeviceKind::Usb;
  identity_.vendor = raw.contains("vendor") ? _u16(raw["vendor"], field + ".vendor", 0) : kVendor;
  // A module's model is the low byte of its product ID.
  identity_.product = raw.contains("product") ? _u16(raw["product"], field + ".product", 0)
                                              : static_cast<uint16_t>(module.model & 0xFF);
  identity_.serial = name_;
  if (raw.contains("serial_string")) {
    if (!raw["serial_string"].is_string() || raw["serial_string"].get<std::string>().size() > 126) {
      throw ConfigError(field + ".serial_string: expected a text of up to 126 characters");
    }
    identity_.serial = raw["serial_string"].get<std::string>();
  }
  uint16_t packetSize = raw.contains("packet_size") ? _u16(raw["packet_size"], field + ".packet_size", 1) : 512;
  BusSetting vendorInterface{0, 0, kVendorClass, kVendorSubClass, kVendorProtocol, {}};
  vendorInterface.endpoints.push_back({kInEndpoint, 0x02, packetSize});
  vendorInterface.endpoints.push_back({kOutEndpoint, 0x02, packetSize});
  identity_.settings.push_back(vendorInterface);
  open();
}

UsbTransport::~UsbTransport() {
  connection_.reset();
  if (busEnd_ >= 0) close(busEnd_);
}

void UsbTransport::open() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) {
    throw std::runtime_error(std::string("usb: socketpair: ") + strerror(errno));
  }
  connection_ = std::make_unique<Connection>(pair[0]);
  if (busEnd_ >= 0) close(busEnd_);
  busEnd_ = pair[1];
  inQueue_.clear();
}

std::string UsbTransport::readyLine() const {
  char ids[16];
  snprintf(ids, sizeof ids, "%04X:%04X", identity_.vendor, identity_.product);
  return "usb " + name_ + " " + ids;
}

void UsbTransport::watch(Poller& poller) {
  short events = POLLIN;
  if (connection_->blocked()) events |= POLLOUT;
  poller.add(connection_->fd(), events, [this](short revents) { moduleReadable(revents); });
  // The bus end is read when the bus asks for IN data; only wake up for it.
  if (inQueue_.size() < kMaxInQueue) poller.add(busEnd_, POLLIN, [this](short) { pull(); });
}

void UsbTransport::moduleReadable(short revents) {
  if ((revents & POLLIN) == 0) return;
  uint8_t buffer[4096];
  ssize_t n = connection_->receive(buffer, sizeof buffer);
  if (n > 0) link_.received(*this, *connection_, buffer, static_cast<size_t>(n));
}

void UsbTransport::pull() const {
  uint8_t buffer[4096];
  while (inQueue_.size() < kMaxInQueue) {
    ssize_t n = read(busEnd_, buffer, std::min(sizeof buffer, kMaxInQueue - inQueue_.size()));
    if (n <= 0) return;
    inQueue_.insert(inQueue_.end(), buffer, buffer + n);
  }
}

size_t UsbTransport::bulkOut(const uint8_t* data, size_t length) {
  ssize_t n = write(busEnd_, data, length);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::vector<uint8_t> UsbTransport::bulkIn(size_t room) {
  pull();
  size_t count = std::min(room, inQueue_.size());
  std::vector<uint8_t> bytes(inQueue_.begin(), inQueue_.begin() + static_cast<std::ptrdiff_t>(count));
  inQueue_.erase(inQueue_.begin(), inQueue_.begin() + static_cast<std::ptrdiff_t>(count));
  return bytes;
}

bool UsbTransport::hasBulkIn() const {
  pull();
  return !inQueue_.empty();
}

void UsbTransport::claimed(bool byHost) {
  // A new host starts with a clean pipe; heartbeats go only to a host that holds the interface.
  if (byHost) {
    pull();
    inQueue_.clear();
  }
  connection_->live = byHost;
  link_.note(*this, byHost ? "interface claimed" : "interface released");
}

void UsbTransport::detached() {
  link_.note(*this, "detached from the bus");
  open();
}

void UsbTransport::disconnect() {
  if (onDisconnect) {
    onDisconnect();
  } else {
    detached();
  }
}

}  // namespace wfsim
