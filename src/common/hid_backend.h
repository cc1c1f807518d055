// The HID seam: the few hidapi calls the i.MX boot ROM transport needs, as one
// table of functions per backend: the real devices through hidapi, or the
// virtual bus served by wfsim. The transport above it is the same code on both.
#pragma once

#include <cstddef>
#include <cstdint>

struct wfhid_device;  // an opened device; each backend gives it its own meaning

struct wfhid_backend {
  const char* name;
  // 0 on success, -1 on failure, as hidapi's.
  int (*init)();
  int (*exit)();
  // The first attached device with these IDs, opened; null when none opens.
  wfhid_device* (*open)(uint16_t vendor, uint16_t product);
  // Sends one report, its number first; the bytes taken or -1.
  int (*write)(wfhid_device* device, const unsigned char* data, size_t length);
  // One input report (number first) into data, waiting at most `milliseconds`
  // (a negative wait is hidapi's "until one comes"); its length, 0 when none
  // came, -1 on failure.
  int (*read_timeout)(wfhid_device* device, unsigned char* data, size_t length, int milliseconds);
  void (*close)(wfhid_device* device);
};

extern const wfhid_backend wfhid_hidapi_backend;
// The simulated devices served on the socket named by WRENFIELD_VIRTUAL_BUS.
extern const wfhid_backend wfhid_vbus_backend;

// The backend in use: the one installed, else the virtual bus when
// WRENFIELD_VIRTUAL_BUS is set, else hidapi.
const wfhid_backend* wfhid_backend_current();
// Puts a backend in place of the automatic choice (null restores it); for
// in-process fakes in tests. Returns the previous override.
const wfhid_backend* wfhid_backend_install(const wfhid_backend* backend);
