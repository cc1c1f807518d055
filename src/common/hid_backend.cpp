// Which HID backend the process uses.
#include "common/hid_backend.h"

#include <atomic>

#include "common/vbus_client.h"

namespace {
std::atomic<const wfhid_backend*> gInstalledBackend{nullptr};
}  // namespace

const wfhid_backend* wfhid_backend_current() {
  const wfhid_backend* installed = gInstalledBackend.load();
  if (installed != nullptr) return installed;
  return vbus::socketPath() ? &wfhid_vbus_backend : &wfhid_hidapi_backend;
}

const wfhid_backend* wfhid_backend_install(const wfhid_backend* backend) { return gInstalledBackend.exchange(backend); }
