// USB transport driver. The user-space path runs over the USB seam
// (common/usb_backend.h), so the same logic serves the real bus and the
// simulated ones; the kernel path reads and writes the kernel driver's
// device node.
#include "common/wfusb_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "common/aDebug.h"
#include "common/aFile.h"

struct wfusb_driver {
  int mode = WFUSB_MODE_KERNEL;
  char serial[256] = {};
  int descriptor = 0;  // kernel path: the open node, 0 when closed
  wfusb_handle* handle = nullptr;  // user-space path
  // State and error count are touched by the reading and the writing thread.
  std::atomic<int> state{WFUSB_STATE_CREATED};
  uint8_t interfaceNumber = 0;
  uint8_t outEndpoint = 0;
  uint8_t inEndpoint = 0;
  uint8_t readBuffer[WFUSB_READ_BUFFER_SIZE] = {};
  size_t available = 0;
  const uint8_t* readPosition = readBuffer;
  std::atomic<uint8_t> errorCount{0};
  uint16_t inPacketSize = 0;
  uint16_t outPacketSize = 0;
  const wfusb_backend* backend = nullptr;
};

namespace {

constexpr uint8_t kVendorClass = 0xFF;
constexpr uint8_t kVendorSubClass = 0x88;
constexpr uint8_t kVendorProtocol = 0x10;
constexpr int kWriteAttempts = 10;  // failed bulk OUT transfers before a write gives up
constexpr uint8_t kToleratedErrors = 4;  // consecutive I/O errors that pass unnoticed
constexpr int kKernelWriteCalls = 1000;
// The kernel node is waited on, never spun on: a silent module costs one
// wake-up per interval, and the link's input thread can still stop.
constexpr int kKernelReadWaitMs = 100;
constexpr int kKernelWriteWaitMs = 10;

bool _is_serial_text(const char* serial) {
  if (serial == nullptr || strlen(serial) != 8) return false;
  return std::all_of(serial, serial + 8, [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The node directory is "/dev" unless a test moves it.
std::string _node_path(const char* serial) {
  const char* dir = getenv("WRENFIELD_USB_NODE_DIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/dev";
  return path + "/wrenfield." + serial;
}

aErr _check_state(const wfusb_driver* driver, const char* what) {
  int state = driver->state.load();
  if (state == WFUSB_STATE_CLOSED) return aErrConnection;
  if (state == WFUSB_STATE_CREATED || state == WFUSB_STATE_OPENING) return aErrNotReady;
  if (state != WFUSB_STATE_OPEN) {
    aDebug_Print(aDEBUG_USB, "libusb %s error dev state: %d\n", what, state);
    return aErrIO;
  }
  return aErrNone;
}

// Up to four consecutive I/O errors pass (a write as success, a read as
// "no byte yet"); the fifth marks the device failed for good.
aErr _handleErrorTolerance(wfusb_driver* driver, aErr result, bool reading) {
  if (result != aErrIO) {
    driver->errorCount.store(0);
    return result;
  }
  if (driver->state.load() == WFUSB_STATE_FAILED) return aErrIO;
  // Saturates, so a failed device never wraps back into tolerance.
  uint8_t count = driver->errorCount.load();
  while (count <= kToleratedErrors && !driver->errorCount.compare_exchange_weak(count, count + 1)) {
  }
  if (count + 1 > kToleratedErrors) {
    driver->state.store(WFUSB_STATE_FAILED);
    return aErrIO;
  }
  return reading ? aErrNotReady : aErrNone;
}

aErr _map_claim_error(int rc) {
  switch (rc) {
    case WFUSB_ERROR_BUSY:
    case WFUSB_ERROR_NO_DEVICE:
      return aErrBusy;
    case WFUSB_ERROR_ACCESS:
      return aErrPermission;
    default:
      return aErrUnknown;
  }
}

bool _serial_matches(const wfusb_backend* backend, wfusb_device* device, wfusb_handle* handle, const char* serial) {
  wfusb_device_descriptor descriptor;
  if (backend->get_device_descriptor(device, &descriptor) != WFUSB_SUCCESS) return false;
  unsigned char text[256] = {};
  // One byte stays zero, so the text is terminated whatever the backend wrote.
  int length = backend->get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, sizeof text - 1);
  if (length < 0) return false;
  return strcmp(reinterpret_cast<const char*>(text), serial) == 0;
}

// Claims the vendor interface of the opened device; the driver owns the handle.
aErr _claim_vendor_interface(wfusb_driver* driver, wfusb_device* device) {
  wfusb_endpoints endpoints;
  if (!find_usb_endpoints(driver->backend, device, &endpoints)) return aErrConfiguration;
  driver->interfaceNumber = endpoints.interfaceNumber;
  driver->inEndpoint = endpoints.inEndpoint;
  driver->outEndpoint = endpoints.outEndpoint;
  driver->inPacketSize = endpoints.inPacketSize;
  driver->outPacketSize = endpoints.outPacketSize;
  int rc = driver->backend->claim_interface(driver->handle, driver->interfaceNumber);
  if (rc != WFUSB_SUCCESS) {
    aDebug_Print(aDEBUG_USB, "libusb claim interface error: %d\n", rc);
    return _map_claim_error(rc);
  }
  return aErrNone;
}

void _forget_endpoints(wfusb_driver* driver) {
  driver->interfaceNumber = 0;
  driver->inEndpoint = 0;
  driver->outEndpoint = 0;
  driver->inPacketSize = 0;
  driver->outPacketSize = 0;
}

}  // namespace

bool is_wrenfield_device(const wfusb_backend* backend, wfusb_device* device) {
  wfusb_device_descriptor descriptor;
  if (backend == nullptr || backend->get_device_descriptor(device, &descriptor) != WFUSB_SUCCESS) return false;
  return descriptor.idVendor == WFUSB_VENDOR_ID && (descriptor.idProduct & 0x8000) == 0;
}

bool find_usb_endpoints(const wfusb_backend* backend, wfusb_device* device, wfusb_endpoints* out) {
  if (backend == nullptr || out == nullptr) return false;
  wfusb_device_descriptor descriptor;
  if (backend->get_device_descriptor(device, &descriptor) != WFUSB_SUCCESS) return false;
  wfusb_config_descriptor config;
  if (backend->get_config_descriptor(device, 0, &config) != WFUSB_SUCCESS) return false;
  bool haveIn = false;
  bool haveOut = false;
  for (const wfusb_interface_descriptor& setting : config.settings) {
    if (setting.bInterfaceClass != kVendorClass || setting.bInterfaceSubClass != kVendorSubClass ||
        setting.bInterfaceProtocol != kVendorProtocol) {
      continue;
    }
    out->interfaceNumber = setting.bInterfaceNumber;
    for (const wfusb_endpoint_descriptor& endpoint : setting.endpoints) {
      // Bit 1 of the attributes marks bulk (and interrupt) endpoints. An
      // endpoint that cannot carry a byte per packet is of no use.
      if ((endpoint.bmAttributes & 0x02) == 0 || endpoint.wMaxPacketSize == 0) continue;
      if ((endpoint.bEndpointAddress & 0x80) != 0) {
        out->inEndpoint = endpoint.bEndpointAddress;
        out->inPacketSize = endpoint.wMaxPacketSize;
        haveIn = true;
        aDebug_Print(aDEBUG_USB, "In Endpoint Max packet: %d\n", endpoint.wMaxPacketSize);
      } else {
        out->outEndpoint = endpoint.bEndpointAddress;
        out->outPacketSize = endpoint.wMaxPacketSize;
        haveOut = true;
        aDebug_Print(aDEBUG_USB, "Out Endpoint Max packet: %d\n", endpoint.wMaxPacketSize);
      }
    }
  }
  return haveIn && haveOut;
}

bool wfusb_is_kernel_driver_installed(uint32_t serialNumber) {
  char serial[16];
  snprintf(serial, sizeof serial, "%08X", serialNumber);
  return aFile_Exists(_node_path(serial).c_str());
}

wfusb_driver* wfusb_create_usb(int mode) {
  if (mode != WFUSB_MODE_KERNEL && mode != WFUSB_MODE_USBLIB) return nullptr;
  auto* driver = new (std::nothrow) wfusb_driver;
  if (driver == nullptr) return nullptr;
  driver->mode = mode;
  driver->backend = wfusb_backend_current();
  if (mode == WFUSB_MODE_USBLIB && driver->backend == &wfusb_libusb_backend) Wrenfield_libusb_context();
  return driver;
}

aErr wfusb_destroy(wfusb_driver** driver) {
  if (driver == nullptr || *driver == nullptr) return aErrParam;
  wfusb_driver* doomed = *driver;
  *driver = nullptr;
  if (doomed->mode == WFUSB_MODE_USBLIB && doomed->handle != nullptr) wfusb_close_wrenfield_USBlib_device(doomed);
  if (doomed->mode == WFUSB_MODE_KERNEL && doomed->descriptor != 0) wfusb_close_wrenfield_kernel_device(doomed);
  delete doomed;
  return aErrNone;
}

int wfusb_get_mode(const wfusb_driver* driver) { return driver != nullptr ? driver->mode : -1; }
int wfusb_get_state(const wfusb_driver* driver) { return driver != nullptr ? driver->state.load() : 0; }

aErr wfusb_open_wrenfield_device(wfusb_driver* driver, const char* serial) {
  if (driver == nullptr) return aErrParam;
  return driver->mode == WFUSB_MODE_USBLIB ? wfusb_open_wrenfield_USBlib_device(driver, serial)
                                           : wfusb_open_wrenfield_kernel_device(driver, serial);
}

aErr wfusb_write_to_device(wfusb_driver* driver, const uint8_t* data, size_t length) {
  if (driver == nullptr) return aErrParam;
  return driver->mode == WFUSB_MODE_USBLIB ? wfusb_write_to_USBlib_device(driver, data, length)
                                           : wfusb_write_to_kernel_device(driver, data, length);
}

aErr wfusb_get_from_device(wfusb_driver* driver, uint8_t* byte) {
  if (driver == nullptr) return aErrParam;
  return driver->mode == WFUSB_MODE_USBLIB ? wfusb_get_from_USBlib_device(driver, byte)
                                           : wfusb_get_from_kernel_device(driver, byte);
}

aErr wfusb_close_wrenfield_device(wfusb_driver* driver) {
  if (driver == nullptr) return aErrParam;
  return driver->mode == WFUSB_MODE_USBLIB ? wfusb_close_wrenfield_USBlib_device(driver)
                                           : wfusb_close_wrenfield_kernel_device(driver);
}

// ---- user-space path ----

aErr wfusb_open_wrenfield_USBlib_device(wfusb_driver* driver, const char* serial) {
  if (driver == nullptr || serial == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_USBLIB) return aErrMode;
  if (strlen(serial) >= sizeof driver->serial) return aErrParam;
  if (driver->handle != nullptr) return aErrBusy;  // already open
  const wfusb_backend* backend = driver->backend;
  wfusb_device** list = nullptr;
  ssize_t count = backend->get_device_list(&list);
  if (count < 0 || list == nullptr) {
    aDebug_Print(aDEBUG_USB, "libusb device list error: %d\n", static_cast<int>(count));
    return aErrNotFound;
  }
  aErr result = aErrNotFound;
  for (ssize_t i = 0; i < count && list[i] != nullptr; ++i) {
    wfusb_device* device = list[i];
    if (!is_wrenfield_device(backend, device)) continue;
    wfusb_handle* handle = nullptr;
    if (backend->open(device, &handle) != WFUSB_SUCCESS || handle == nullptr) continue;
    if (!_serial_matches(backend, device, handle, serial)) {
      backend->close(handle);
      continue;
    }
    driver->handle = handle;
    snprintf(driver->serial, sizeof driver->serial, "%s", serial);
    driver->state.store(WFUSB_STATE_OPENING);
    result = _claim_vendor_interface(driver, device);
    if (result == aErrNone) {
      driver->errorCount.store(0);
      driver->available = 0;
      driver->readPosition = driver->readBuffer;
      driver->state.store(WFUSB_STATE_OPEN);
    } else {
      backend->close(driver->handle);
      driver->handle = nullptr;
      _forget_endpoints(driver);
      driver->state.store(WFUSB_STATE_CLOSED);
    }
    break;
  }
  backend->free_device_list(list);
  return result;
}

aErr wfusb_write_to_USBlib_device(wfusb_driver* driver, const uint8_t* data, size_t length) {
  if (driver == nullptr || (data == nullptr && length > 0)) return aErrParam;
  if (driver->mode != WFUSB_MODE_USBLIB) return aErrMode;
  aErr result = _check_state(driver, "WRITE");
  if (result == aErrNone) {
    const uint8_t* next = data;
    size_t left = length;
    int failures = 0;
    while (left > 0 && failures < kWriteAttempts) {
      size_t chunk = std::min<size_t>(driver->outPacketSize, left);
      // A full 512-byte chunk goes out as 511: the module's side of the link
      // would otherwise wait for a zero-length packet to end the transfer.
      if (chunk == 512) chunk = 511;
      int sent = 0;
      int rc = driver->backend->bulk_transfer(driver->handle, driver->outEndpoint, const_cast<uint8_t*>(next),
                                              static_cast<int>(chunk), &sent, WFUSB_WRITE_TIMEOUT_MS);
      sent = std::clamp(sent, 0, static_cast<int>(chunk));
      aDebug_Print(aDEBUG_USB, "libusb lenSent: %d - nSize: %d\n", sent, static_cast<int>(chunk));
      aDebug_Print(aDEBUG_USB, "libusb error: %d\n", rc);
      next += sent;
      left -= static_cast<size_t>(sent);
      // A transfer that moved nothing counts as failed even when the backend
      // calls it a success; otherwise the loop would never end.
      if (rc != WFUSB_SUCCESS || sent == 0) ++failures;
      if (rc == WFUSB_ERROR_PIPE) {
        int cleared = driver->backend->clear_halt(driver->handle, driver->outEndpoint);
        if (cleared != WFUSB_SUCCESS) {
          aDebug_Print(aDEBUG_USB, "libusb WRITE error clearing halt: %d\n", cleared);
          result = aErrIO;
          break;
        }
      }
    }
    if (result == aErrNone && left > 0) result = aErrWrite;
  }
  return _handleErrorTolerance(driver, result, false);
}

namespace {

// One bulk IN transfer into the read buffer.
aErr _fill_read_buffer(wfusb_driver* driver) {
  int received = 0;
  int rc = driver->backend->bulk_transfer(driver->handle, driver->inEndpoint, driver->readBuffer,
                                          static_cast<int>(sizeof driver->readBuffer), &received,
                                          WFUSB_READ_TIMEOUT_MS);
  received = std::clamp(received, 0, static_cast<int>(sizeof driver->readBuffer));
  switch (rc) {
    case WFUSB_SUCCESS:
      break;
    case WFUSB_ERROR_PIPE:
      driver->backend->clear_halt(driver->handle, driver->inEndpoint);
      return aErrNotReady;
    case WFUSB_ERROR_TIMEOUT:
      if (received == 0) return aErrNotReady;
      break;
    default:
      aDebug_Print(aDEBUG_USB, "libusb READ error bulk transfer: %d\n", rc);
      return aErrIO;
  }
  driver->available = static_cast<size_t>(received);
  driver->readPosition = driver->readBuffer;
  return received > 0 ? aErrNone : aErrNotReady;
}

}  // namespace

aErr wfusb_get_from_USBlib_device(wfusb_driver* driver, uint8_t* byte) {
  if (driver == nullptr || byte == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_USBLIB) return aErrMode;
  aErr result = aErrNone;
  if (driver->available == 0) {
    result = _check_state(driver, "READ");
    if (result == aErrNone) result = _fill_read_buffer(driver);
  }
  if (result == aErrNone) {
    *byte = *driver->readPosition++;
    --driver->available;
  }
  return _handleErrorTolerance(driver, result, true);
}

aErr wfusb_close_wrenfield_USBlib_device(wfusb_driver* driver) {
  if (driver == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_USBLIB) return aErrMode;
  // Nothing open (never opened, or the open failed): nothing to close, so the
  // owner can always go on to destroy the object.
  if (driver->handle == nullptr) return aErrNone;
  driver->backend->release_interface(driver->handle, driver->interfaceNumber);
  driver->backend->close(driver->handle);
  driver->handle = nullptr;
  driver->available = 0;
  driver->readPosition = driver->readBuffer;
  _forget_endpoints(driver);
  driver->state.store(WFUSB_STATE_CLOSED);
  return aErrNone;
}

// ---- kernel-driver path ----

aErr wfusb_open_wrenfield_kernel_device(wfusb_driver* driver, const char* serial) {
  if (driver == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_KERNEL) return aErrMode;
  // The text becomes part of a path: only a serial number may get there.
  if (!_is_serial_text(serial)) return aErrParam;
  if (driver->descriptor != 0) return aErrBusy;  // already open
  snprintf(driver->serial, sizeof driver->serial, "%s", serial);
  // Non-blocking, so that neither a silent module nor a full node can hold a
  // link thread beyond its bounded waits.
  int fd = open(_node_path(serial).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    aDebug_Print(aDEBUG_USB, "kernel driver open error: %d\n", error);
    driver->state.store(WFUSB_STATE_CLOSED);
    return error == EBUSY ? aErrBusy : aErrIO;
  }
  if (fd == 0) {
    // 0 marks a closed node: move off it when standard input was closed.
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    close(fd);
    if (moved < 0) return aErrIO;
    fd = moved;
  }
  driver->descriptor = fd;
  driver->state.store(WFUSB_STATE_OPEN);
  return aErrNone;
}

aErr wfusb_write_to_kernel_device(wfusb_driver* driver, const uint8_t* data, size_t length) {
  if (driver == nullptr || (data == nullptr && length > 0)) return aErrParam;
  if (driver->mode != WFUSB_MODE_KERNEL || driver->descriptor == 0) return aErrMode;
  size_t written = 0;
  for (int call = 0; call < kKernelWriteCalls && written < length; ++call) {
    ssize_t n = write(driver->descriptor, data + written, length - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd ready{driver->descriptor, POLLOUT, 0};
      poll(&ready, 1, kKernelWriteWaitMs);
    } else {
      aDebug_Print(aDEBUG_USB, "kernel driver write error: %d\n", n < 0 ? errno : 0);
      return aErrIO;
    }
  }
  return written == length ? aErrNone : aErrIO;
}

aErr wfusb_get_from_kernel_device(wfusb_driver* driver, uint8_t* byte) {
  if (driver == nullptr || byte == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_KERNEL || driver->descriptor == 0) return aErrMode;
  pollfd ready{driver->descriptor, POLLIN, 0};
  int events = poll(&ready, 1, kKernelReadWaitMs);
  if (events == 0 || (events < 0 && errno == EINTR)) return aErrNotReady;
  if (events < 0) return aErrIO;
  if ((ready.revents & POLLIN) == 0) return aErrIO;  // hung up or failed: the module is gone
  ssize_t n = read(driver->descriptor, byte, 1);
  if (n == 1) return aErrNone;
  int error = n < 0 ? errno : 0;
  // A node that reports readable but yields nothing after a hang-up stays that
  // way; calling it "not ready" would have the reader spin on it.
  if ((ready.revents & (POLLHUP | POLLERR)) != 0) return aErrIO;
  if (n == 0 || error == EAGAIN || error == EINTR || error == EFAULT) return aErrNotReady;
  return aErrIO;
}

aErr wfusb_close_wrenfield_kernel_device(wfusb_driver* driver) {
  if (driver == nullptr) return aErrParam;
  if (driver->mode != WFUSB_MODE_KERNEL) return aErrMode;
  if (driver->descriptor == 0) return aErrNone;
  int fd = driver->descriptor;
  driver->descriptor = 0;
  driver->state.store(WFUSB_STATE_CLOSED);
  return close(fd) == 0 ? aErrNone : aErrCancel;
}
