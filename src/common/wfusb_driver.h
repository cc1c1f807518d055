// USB transport driver: one object per USB module link, carrying the packet
// byte stream either through libusb (bulk transfers on the module's vendor
// interface) or through the device node of the maker's kernel driver.
//
// Test-only: the environment variable WRENFIELD_USB_NODE_DIR moves the
// directory of the kernel driver's device nodes ("/dev" when unset), so a test
// can put a pseudo-terminal named "wrenfield.SERIAL" in its place. Nothing
// outside the tests sets it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aError.h"
#include "common/usb_backend.h"

struct libusb_context;

// Driver modes.
enum : int {
  WFUSB_MODE_KERNEL = 0,  // kernel driver's device node
  WFUSB_MODE_USBLIB = 1,  // user space, through the USB backend
};

// Device states.
enum : int {
  WFUSB_STATE_CREATED = 1,
  WFUSB_STATE_CLOSED = 2,
  WFUSB_STATE_OPENING = 3,
  WFUSB_STATE_OPEN = 4,
  WFUSB_STATE_FAILED = 5,
};

constexpr uint16_t WFUSB_VENDOR_ID = 0x24FF;
constexpr size_t WFUSB_READ_BUFFER_SIZE = 1024;
constexpr unsigned WFUSB_READ_TIMEOUT_MS = 1000;
constexpr unsigned WFUSB_WRITE_TIMEOUT_MS = 50;

struct wfusb_driver;

// The process-wide libusb context, made on first use; discovery shares it.
libusb_context* Wrenfield_libusb_context();
libusb_context* Wrenfield_libusb_init();
void Wrenfield_libusb_exit();

// A family device: its descriptor reads, vendor 0x24FF, product bit 15 clear.
bool is_wrenfield_device(const wfusb_backend* backend, wfusb_device* device);

// Vendor interface search (class 0xFF, subclass 0x88, protocol 0x10 in
// configuration index 0; the last match wins) with its bulk IN and OUT
// endpoints. True when both endpoints were found.
struct wfusb_endpoints {
  uint8_t interfaceNumber = 0;
  uint8_t inEndpoint = 0;
  uint8_t outEndpoint = 0;
  uint16_t inPacketSize = 0;
  uint16_t outPacketSize = 0;
};
bool find_usb_endpoints(const wfusb_backend* backend, wfusb_device* device, wfusb_endpoints* out);

// True when the kernel driver's device node for the serial number exists.
bool wfusb_is_kernel_driver_installed(uint32_t serialNumber);

// A new driver object in the given mode (state created), or null.
wfusb_driver* wfusb_create_usb(int mode);
// Closes a still open device, frees the object and nulls the pointer.
aErr wfusb_destroy(wfusb_driver** driver);

int wfusb_get_mode(const wfusb_driver* driver);
int wfusb_get_state(const wfusb_driver* driver);

// Dispatch by the object's mode. The serial text is the module's serial
// number as eight upper-case hexadecimal digits.
aErr wfusb_open_wrenfield_device(wfusb_driver* driver, const char* serial);
aErr wfusb_write_to_device(wfusb_driver* driver, const uint8_t* data, size_t length);
aErr wfusb_get_from_device(wfusb_driver* driver, uint8_t* byte);
aErr wfusb_close_wrenfield_device(wfusb_driver* driver);

// The per-mode forms; a form of the other mode gives aErrMode.
aErr wfusb_open_wrenfield_USBlib_device(wfusb_driver* driver, const char* serial);
aErr wfusb_write_to_USBlib_device(wfusb_driver* driver, const uint8_t* data, size_t length);
aErr wfusb_get_from_USBlib_device(wfusb_driver* driver, uint8_t* byte);
aErr wfusb_close_wrenfield_USBlib_device(wfusb_driver* driver);

aErr wfusb_open_wrenfield_kernel_device(wfusb_driver* driver, const char* serial);
aErr wfusb_write_to_kernel_device(wfusb_driver* driver, const uint8_t* data, size_t length);
aErr wfusb_get_from_kernel_device(wfusb_driver* driver, uint8_t* byte);
aErr wfusb_close_wrenfield_kernel_device(wfusb_driver* driver);
