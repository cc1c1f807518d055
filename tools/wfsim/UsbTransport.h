// A module on the virtual USB bus: the module's USB port. Toward the module
// it is a transport like the others (the same link side answers the same
// packet byte stream); toward the bus it is a device with the module's USB
// identity and its vendor interface, whose bulk OUT endpoint feeds the module
// and whose bulk IN endpoint carries the module's bytes back. A socket pair
// joins the two sides, so the module side needs nothing of its own.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "BusDevice.h"
#include "Config.h"
#include "Transport.h"

namespace wfsim {

class UsbTransport : public Transport, public BusDevice {
 public:
  // Throws ConfigError for a bad description, std::runtime_error when the
  // socket pair cannot be made.
  UsbTransport(const TransportConfig& config, const ModuleConfig& module, LinkSide& link);
  ~UsbTransport() override;

  // Transport
  std::string readyLine() const override;
  const char* kind() const override { return "usb"; }
  void watch(Poller& poller) override;
  Connection* connection() override { return connection_.get(); }
  // Unplugs the module and plugs it in again (through the bus, when one serves it).
  void disconnect() override;

  // BusDevice
  const std::string& name() const override { return name_; }
  const BusIdentity& identity() const override { return identity_; }
  size_t bulkOut(const uint8_t* data, size_t length) override;
  std::vector<uint8_t> bulkIn(size_t room) override;
  bool hasBulkIn() const override;
  void claimed(bool byHost) override;
  void detached() override;

  // Set by the bus: what `disconnect` does there.
  std::function<void()> onDisconnect;

 private:
  void open();
  void moduleReadable(short revents);
  void pull() const;  // moves what the module wrote into the IN queue

  LinkSide& link_;
  std::string name_;
  BusIdentity identity_;
  std::unique_ptr<Connection> connection_;  // the module's end of the pair
  int busEnd_ = -1;
  mutable std::deque<uint8_t> inQueue_;
};

}  // namespace wfsim
