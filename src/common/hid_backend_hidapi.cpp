// The real HID devices, through hidapi (hidraw).
#include <hidapi/hidapi.h>

#include "common/hid_backend.h"

namespace {

hid_device* _dev(wfhid_device* device) { return reinterpret_cast<hid_device*>(device); }

wfhid_device* _open(uint16_t vendor, uint16_t product) {
  return reinterpret_cast<wfhid_device*>(hid_open(vendor, product, nullptr));
}

int _write(wfhid_device* device, const unsigned char* data, size_t length) {
  return hid_write(_dev(device), data, length);
}

int _read_timeout(wfhid_device* device, unsigned char* data, size_t length, int milliseconds) {
  return hid_read_timeout(_dev(device), data, length, milliseconds);
}

void _close(wfhid_device* device) { hid_close(_dev(device)); }

}  // namespace

const wfhid_backend wfhid_hidapi_backend = {
    "hidapi", hid_init, hid_exit, _open, _write, _read_timeout, _close,
};
