// The USB seam: the few bus operations the driver and discovery need, as one
// table of functions per backend. The driver logic above it (matching, claim
// errors, chunking, time-outs, error tolerance) is written once and runs the
// same over every backend: the real bus through libusb, a simulated bus, or a
// fake inside a unit test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

// Result codes of the seam. They carry libusb's own values, so the libusb
// backend passes its results through unchanged and other backends report
// the same conditions the same way.
enum wfusb_result : int {
  WFUSB_SUCCESS = 0,
  WFUSB_ERROR_IO = -1,
  WFUSB_ERROR_INVALID_PARAM = -2,
  WFUSB_ERROR_ACCESS = -3,
  WFUSB_ERROR_NO_DEVICE = -4,
  WFUSB_ERROR_NOT_FOUND = -5,
  WFUSB_ERROR_BUSY = -6,
  WFUSB_ERROR_TIMEOUT = -7,
  WFUSB_ERROR_OVERFLOW = -8,
  WFUSB_ERROR_PIPE = -9,
  WFUSB_ERROR_INTERRUPTED = -10,
  WFUSB_ERROR_NO_MEM = -11,
  WFUSB_ERROR_NOT_SUPPORTED = -12,
  WFUSB_ERROR_OTHER = -99,
};

// Opaque to the driver; each backend gives them its own meaning.
struct wfusb_device;  // one entry of a device list
struct wfusb_handle;  // an opened device

struct wfusb_device_descriptor {
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint8_t iSerialNumber = 0;  // string descriptor index, 0 = none
};

struct wfusb_endpoint_descriptor {
  uint8_t bEndpointAddress = 0;  // bit 7 set: IN
  uint8_t bmAttributes = 0;  // bits 0-1: transfer type (2 = bulk)
  uint16_t wMaxPacketSize = 0;
};

// One alternate setting of one interface.
struct wfusb_interface_descriptor {
  uint8_t bInterfaceNumber = 0;
  uint8_t bAlternateSetting = 0;
  uint8_t bInterfaceClass = 0;
  uint8_t bInterfaceSubClass = 0;
  uint8_t bInterfaceProtocol = 0;
  std::vector<wfusb_endpoint_descriptor> endpoints;
};

// A configuration flattened to its alternate settings, in descriptor order.
struct wfusb_config_descriptor {
  std::vector<wfusb_interface_descriptor> settings;
};

struct wfusb_backend {
  const char* name;
  // Fills *list with a null-terminated array of the attached devices; returns
  // their number or a negative wfusb_result. free_device_list releases it.
  ssize_t (*get_device_list)(wfusb_device*** list);
  void (*free_device_list)(wfusb_device** list);
  int (*get_device_descriptor)(wfusb_device* device, wfusb_device_descriptor* out);
  int (*get_config_descriptor)(wfusb_device* device, uint8_t index, wfusb_config_descriptor* out);
  int (*open)(wfusb_device* device, wfusb_handle** handle);
  void (*close)(wfusb_handle* handle);
  // Returns the string's length or a negative wfusb_result; the text is
  // written as ASCII, terminated when it fits.
  int (*get_string_descriptor_ascii)(wfusb_handle* handle, uint8_t index, unsigned char* data, int length);
  int (*claim_interface)(wfusb_handle* handle, int interfaceNumber);
  int (*release_interface)(wfusb_handle* handle, int interfaceNumber);
  // One bulk transfer in the endpoint's direction; *transferred receives the
  // bytes moved, also when the transfer ends with an error or time-out.
  int (*bulk_transfer)(wfusb_handle* handle, uint8_t endpoint, unsigned char* data, int length, int* transferred,
                       unsigned int timeoutMs);
  int (*clear_halt)(wfusb_handle* handle, uint8_t endpoint);
};

// The real bus, through libusb and the process-wide context.
extern const wfusb_backend wfusb_libusb_backend;
// The simulated bus served by wfsim on the Unix-domain socket named by the
// environment variable WRENFIELD_VIRTUAL_BUS (see vbus_protocol.h).
extern const wfusb_backend wfusb_vbus_backend;

// The backend every driver object and discovery use from now on: the one
// installed with wfusb_backend_install, else the virtual bus when
// WRENFIELD_VIRTUAL_BUS is set, else the real bus.
const wfusb_backend* wfusb_backend_current();
// Puts a backend in place of the automatic choice (null restores it); used
// by in-process tests that fake the bus. Returns the previous override.
const wfusb_backend* wfusb_backend_install(const wfusb_backend* backend);
