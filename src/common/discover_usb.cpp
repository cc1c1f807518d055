// USB enumeration: every family device on the bus whose serial-number string
// is eight hexadecimal digits. Nothing is claimed.
#include <cstring>

#include "common/discover.h"
#include "common/discovery_run.h"
#include "common/usb_backend.h"
#include "common/wfusb_driver.h"

namespace {

constexpr int kSerialBufferSize = 32;
constexpr size_t kSerialDigits = 8;

bool parseSerial(const unsigned char* text, int length, uint32_t* serial) {
  if (length != static_cast<int>(kSerialDigits)) return false;
  uint32_t value = 0;
  for (size_t i = 0; i < kSerialDigits; ++i) {
    const char c = static_cast<char>(text[i]);
    uint32_t digit = 0;
    if (c >= '0' && c <= '9')
      digit = static_cast<uint32_t>(c - '0');
    else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
      digit = static_cast<uint32_t>((c | 0x20) - 'a' + 10);
    else
      return false;
    value = value << 4 | digit;
  }
  *serial = value;
  return true;
}

// The module's specifier, when the device opens and its serial string fits.
bool describe(const wfusb_backend* backend, wfusb_device* device, linkSpec* spec) {
  wfusb_device_descriptor descriptor;
  if (backend->get_device_descriptor(device, &descriptor) != WFUSB_SUCCESS) return false;
  wfusb_handle* handle = nullptr;
  if (backend->open(device, &handle) != WFUSB_SUCCESS || handle == nullptr) return false;
  unsigned char text[kSerialBufferSize] = {};
  const int length = descriptor.iSerialNumber == 0 ? -1
                                                   : backend->get_string_descriptor_ascii(
                                                         handle, descriptor.iSerialNumber, text, sizeof text - 1);
  backend->close(handle);
  uint32_t serial = 0;
  if (!parseSerial(text, length, &serial)) return false;
  *spec = linkSpec{};
  spec->type = USB;
  spec->serialNumber = serial;
  spec->usbId = serial;
  spec->model = descriptor.idProduct & 0xFF;
  return true;
}

}  // namespace

uint8_t aDiscovery_EnumerateUSB(aDiscoveryCallback callback, void* reference) {
  const wfusb_backend* backend = wfusb_backend_current();
  wfusb_device** list = nullptr;
  if (backend->get_device_list(&list) < 0 || list == nullptr) return 0;
  DiscoveryRun run(callback, reference);
  for (wfusb_device** device = list; *device != nullptr && !run.stopped(); ++device) {
    if (!is_wrenfield_device(backend, *device)) continue;
    linkSpec spec;
    if (describe(backend, *device, &spec) && !run.seen(spec.serialNumber)) run.offer(spec);
  }
  backend->free_device_list(list);
  return run.count();
}
