// A device on the virtual USB bus as the bus server sees it: its identity
// and descriptors, and the data paths the host reaches (bulk endpoints of a
// module, reports of a HID device). Attach state, claims, halts and the host
// sessions belong to the bus (VirtualBus).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/usb_backend.h"
#include "common/vbus_protocol.h"

namespace wfsim {

struct BusEndpoint {
  uint8_t address = 0;  // bit 7 set: IN
  uint8_t attributes = 0x02;  // bulk
  uint16_t maxPacketSize = 512;
};

struct BusSetting {
  uint8_t interfaceNumber = 0;
  uint8_t alternate = 0;
  uint8_t interfaceClass = 0;
  uint8_t subClass = 0;
  uint8_t protocol = 0;
  std::vector<BusEndpoint> endpoints;
};

struct BusIdentity {
  vbus::DeviceKind kind = vbus::DeviceKind::Usb;
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string serial;  // the serial-number string it presents when attached
  std::vector<BusSetting> settings;  // configuration 0
};

class BusDevice {
 public:
  virtual ~BusDevice() = default;
  // How control commands name it: a module's serial text, a ROM's name.
  virtual const std::string& name() const = 0;
  virtual const BusIdentity& identity() const = 0;

  // Bulk endpoints (USB devices). The host's OUT bytes; returns how many
  // were taken. IN: what the device has for the host, at most `room` bytes.
  virtual size_t bulkOut(const uint8_t*, size_t) { return 0; }
  virtual std::vector<uint8_t> bulkIn(size_t) { return {}; }
  virtual bool hasBulkIn() const { return false; }
  // A host claimed (true) or released (false) the interface.
  virtual void claimed(bool) {}

  // Reports (HID devices): one output report, number first; the bytes
  // taken or a negative wfusb_result. The next input report, if any.
  virtual int hidWrite(const uint8_t*, size_t) { return WFUSB_ERROR_NOT_SUPPORTED; }
  virtual std::optional<std::vector<uint8_t>> hidRead() { return std::nullopt; }

  // The device left the bus: whatever the host had sent or was to receive is gone.
  virtual void detached() {}
};

}  // namespace wfsim
