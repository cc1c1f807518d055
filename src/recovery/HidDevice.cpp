#include "recovery/HidDevice.h"

#include <climits>

namespace {
// Room for the largest report the boot ROMs send: the number and 64 bytes.
constexpr size_t kReportRoom = 65;
}  // namespace

std::unique_ptr<HidDevice> HidDevice::open(uint16_t vendor, uint16_t product) {
  const wfhid_backend* backend = wfhid_backend_current();
  if (backend->init() != 0) return nullptr;
  wfhid_device* device = backend->open(vendor, product);
  if (device == nullptr) {
    backend->exit();
    return nullptr;
  }
  return std::unique_ptr<HidDevice>(new HidDevice(backend, device));
}

HidDevice::~HidDevice() {
  backend_->close(device_);
  backend_->exit();
}

long HidDevice::write(const std::vector<unsigned char>& report) {
  if (report.empty()) return -1;
  return backend_->write(device_, report.data(), report.size());
}

long HidDevice::read(std::vector<unsigned char>& reports, unsigned timeoutMs) {
  unsigned char buffer[kReportRoom] = {};
  const int wait = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  const int count = backend_->read_timeout(device_, buffer, sizeof buffer, wait);
  if (count < 0) return -1;
  const size_t taken = static_cast<size_t>(count) > sizeof buffer ? sizeof buffer : static_cast<size_t>(count);
  reports.insert(reports.end(), buffer, buffer + taken);
  return static_cast<long>(taken);
}
