// Which USB backend the process uses.
#include <atomic>

#include "common/usb_backend.h"
#include "common/vbus_client.h"

namespace {
std::atomic<const wfusb_backend*> gInstalledBackend{nullptr};
}  // namespace

const wfusb_backend* wfusb_backend_current() {
  const wfusb_backend* installed = gInstalledBackend.load();
  if (installed != nullptr) return installed;
  return vbus::socketPath() ? &wfusb_vbus_backend : &wfusb_libusb_backend;
}

const wfusb_backend* wfusb_backend_install(const wfusb_backend* backend) { return gInstalledBackend.exchange(backend); }
