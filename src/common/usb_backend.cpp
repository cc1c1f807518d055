// Which USB backend the process uses.
#include <atomic>

#include "common/usb_backend.h"

namespace {
std::atomic<const wfusb_backend*> gInstalledBackend{nullptr};
}  // namespace

const wfusb_backend* wfusb_backend_current() {
  const wfusb_backend* installed = gInstalledBackend.load();
  return installed != nullptr ? installed : &wfusb_libusb_backend;
}

const wfusb_backend* wfusb_backend_install(const wfusb_backend* backend) { return gInstalledBackend.exchange(backend); }
