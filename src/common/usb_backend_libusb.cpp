// The real USB bus: the seam's table over libusb and the process-wide context.
#include <libusb.h>

#include <mutex>

#include "common/usb_backend.h"
#include "common/wfusb_driver.h"

constexpr bool _same(wfusb_result seam, libusb_error libusb) { return static_cast<int>(seam) == static_cast<int>(libusb); }
static_assert(_same(WFUSB_ERROR_IO, LIBUSB_ERROR_IO) && _same(WFUSB_ERROR_ACCESS, LIBUSB_ERROR_ACCESS) &&
                  _same(WFUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_NO_DEVICE) && _same(WFUSB_ERROR_BUSY, LIBUSB_ERROR_BUSY) &&
                  _same(WFUSB_ERROR_TIMEOUT, LIBUSB_ERROR_TIMEOUT) && _same(WFUSB_ERROR_PIPE, LIBUSB_ERROR_PIPE) &&
                  _same(WFUSB_ERROR_NO_MEM, LIBUSB_ERROR_NO_MEM) && _same(WFUSB_ERROR_OTHER, LIBUSB_ERROR_OTHER),
              "the seam's result codes carry libusb's values");

namespace {

std::mutex _libusbContextLock;
libusb_context* _libusbContext = nullptr;

libusb_device* _dev(wfusb_device* device) { return reinterpret_cast<libusb_device*>(device); }
libusb_device_handle* _handle(wfusb_handle* handle) { return reinterpret_cast<libusb_device_handle*>(handle); }

ssize_t _get_device_list(wfusb_device*** list) {
  *list = nullptr;
  libusb_context* context = Wrenfield_libusb_context();
  if (context == nullptr) return LIBUSB_ERROR_OTHER;
  libusb_device** devices = nullptr;
  ssize_t count = libusb_get_device_list(context, &devices);
  *list = reinterpret_cast<wfusb_device**>(devices);
  return count;
}

void _free_device_list(wfusb_device** list) {
  if (list != nullptr) libusb_free_device_list(reinterpret_cast<libusb_device**>(list), 1);
}

int _get_device_descriptor(wfusb_device* device, wfusb_device_descriptor* out) {
  libusb_device_descriptor descriptor{};
  int rc = libusb_get_device_descriptor(_dev(device), &descriptor);
  if (rc != LIBUSB_SUCCESS) return rc;
  out->idVendor = descriptor.idVendor;
  out->idProduct = descriptor.idProduct;
  out->iSerialNumber = descriptor.iSerialNumber;
  return LIBUSB_SUCCESS;
}

int _get_config_descriptor(wfusb_device* device, uint8_t index, wfusb_config_descriptor* out) {
  libusb_config_descriptor* config = nullptr;
  int rc = libusb_get_config_descriptor(_dev(device), index, &config);
  if (rc != LIBUSB_SUCCESS) return rc;
  out->settings.clear();
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& interface = config->interface[i];
    for (int a = 0; a < interface.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = interface.altsetting[a];
      wfusb_interface_descriptor flat;
      flat.bInterfaceNumber = setting.bInterfaceNumber;
      flat.bAlternateSetting = setting.bAlternateSetting;
      flat.bInterfaceClass = setting.bInterfaceClass;
      flat.bInterfaceSubClass = setting.bInterfaceSubClass;
      flat.bInterfaceProtocol = setting.bInterfaceProtocol;
      for (int e = 0; e < setting.bNumEndpoints; ++e) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
        flat.endpoints.push_back({endpoint.bEndpointAddress, endpoint.bmAttributes, endpoint.wMaxPacketSize});
      }
      out->settings.push_back(std::move(flat));
    }
  }
  libusb_free_config_descriptor(config);
  return LIBUSB_SUCCESS;
}

int _open(wfusb_device* device, wfusb_handle** handle) {
  libusb_device_handle* opened = nullptr;
  int rc = libusb_open(_dev(device), &opened);
  *handle = reinterpret_cast<wfusb_handle*>(opened);
  return rc;
}

void _close(wfusb_handle* handle) { libusb_close(_handle(handle)); }

int _get_string_descriptor_ascii(wfusb_handle* handle, uint8_t index, unsigned char* data, int length) {
  return libusb_get_string_descriptor_ascii(_handle(handle), index, data, length);
}

int _claim_interface(wfusb_handle* handle, int interfaceNumber) {
  return libusb_claim_interface(_handle(handle), interfaceNumber);
}

int _release_interface(wfusb_handle* handle, int interfaceNumber) {
  return libusb_release_interface(_handle(handle), interfaceNumber);
}

int _bulk_transfer(wfusb_handle* handle, uint8_t endpoint, unsigned char* data, int length, int* transferred,
                   unsigned int timeoutMs) {
  return libusb_bulk_transfer(_handle(handle), endpoint, data, length, transferred, timeoutMs);
}

int _clear_halt(wfusb_handle* handle, uint8_t endpoint) { return libusb_clear_halt(_handle(handle), endpoint); }

}  // namespace

const wfusb_backend wfusb_libusb_backend = {
    "libusb",
    _get_device_list,
    _free_device_list,
    _get_device_descriptor,
    _get_config_descriptor,
    _open,
    _close,
    _get_string_descriptor_ascii,
    _claim_interface,
    _release_interface,
    _bulk_transfer,
    _clear_halt,
};

libusb_context* Wrenfield_libusb_context() {
  std::lock_guard<std::mutex> guard(_libusbContextLock);
  // A failed init leaves the context null and is tried again on the next use;
  // a null context is never handed to libusb, which would take it for its
  // default context.
  if (_libusbContext == nullptr && libusb_init(&_libusbContext) != LIBUSB_SUCCESS) _libusbContext = nullptr;
  return _libusbContext;
}

libusb_context* Wrenfield_libusb_init() { return Wrenfield_libusb_context(); }

void Wrenfield_libusb_exit() {
  std::lock_guard<std::mutex> guard(_libusbContextLock);
  if (_libusbContext != nullptr) libusb_exit(_libusbContext);
  _libusbContext = nullptr;
}
