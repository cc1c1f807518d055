// The USB stream kind: one USB driver object per stream, on the kernel
// driver's device node when one serves the module, else through libusb. The
// driver's get waits for input itself, so this kind needs no wait operation.
#include <cstdio>
#include <new>

#include "common/aStream.h"
#include "common/wfusb_driver.h"

namespace {

constexpr uint16_t kUsbTag = 0xDEAD;

struct UsbReference {
  uint32_t serialNumber;
  wfusb_driver* driver;
  uint16_t tag;
};

bool _isValid(const UsbReference* self) { return self != nullptr && self->tag == kUsbTag; }

aErr sUsbGet(uint8_t* byte, void* reference) {
  auto* self = static_cast<UsbReference*>(reference);
  return _isValid(self) ? wfusb_get_from_device(self->driver, byte) : aErrParam;
}

aErr sUsbWrite(const uint8_t* data, size_t length, void* reference) {
  auto* self = static_cast<UsbReference*>(reference);
  return _isValid(self) ? wfusb_write_to_device(self->driver, data, length) : aErrParam;
}

aErr sUsbPut(uint8_t byte, void* reference) { return sUsbWrite(&byte, 1, reference); }

// A failed close is reported, but the driver object and the reference are
// released all the same: the stream is gone either way.
aErr sUsbDelete(void* reference) {
  auto* self = static_cast<UsbReference*>(reference);
  if (!_isValid(self)) return aErrParam;
  const aErr result = wfusb_close_wrenfield_device(self->driver);
  wfusb_destroy(&self->driver);
  self->tag = 0;
  delete self;
  return result;
}

}  // namespace

aErr aStream_CreateUSB(uint32_t serialNumber, aStreamRef* stream) {
  if (stream != nullptr) *stream = nullptr;
  if (stream == nullptr || serialNumber == 0) return aErrParam;
  auto* self = new (std::nothrow) UsbReference{serialNumber, nullptr, kUsbTag};
  if (self == nullptr) return aErrMemory;
  const bool kernel = wfusb_is_kernel_driver_installed(serialNumber);
  self->driver = wfusb_create_usb(kernel ? WFUSB_MODE_KERNEL : WFUSB_MODE_USBLIB);
  if (self->driver == nullptr) {
    delete self;
    return aErrResource;
  }
  char serial[9];
  snprintf(serial, sizeof serial, "%08X", serialNumber);
  const aErr err = wfusb_open_wrenfield_device(self->driver, serial);
  if (err != aErrNone) {
    wfusb_destroy(&self->driver);
    delete self;
    return err;
  }
  *stream = aStream_Create(sUsbGet, sUsbPut, sUsbWrite, sUsbDelete, self);
  if (*stream == nullptr) {
    sUsbDelete(self);
    return aErrMemory;
  }
  return aErrNone;
}
