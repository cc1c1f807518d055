#include "ImxRom.h"

namespace wfsim {

namespace {

constexpr uint8_t kCommandReport = 1;
constexpr uint8_t kDataReport = 2;
constexpr uint8_t kSecurityReport = 3;
constexpr uint8_t kStatusReport = 4;
constexpr size_t kCommandReportSize = 17;  // number and the 16-byte command
constexpr size_t kDataReportMax = 1025;  // number and up to 1024 bytes
constexpr size_t kStatusPayload = 64;
constexpr uint16_t kErrorStatus = 0x0505;
// Security state "open" (development part), sent least significant byte first.
constexpr uint32_t kSecurityOpen = 0x56787856;
constexpr uint32_t kStatusAcknowledged = 0xF0F0F0F0;

std::vector<uint8_t> _wordReport(uint8_t number, uint32_t word, size_t payload) {
  std::vector<uint8_t> report(1 + payload, 0);
  report[0] = number;
  for (size_t i = 0; i < 4; ++i) report[1 + i] = static_cast<uint8_t>(word >> (8 * i));
  return report;
}

}  // namespace

ImxRom::ImxRom(std::string name, uint16_t vendor, uint16_t product) : name_(std::move(name)) {
  identity_.kind = vbus::DeviceKind::Hid;
  identity_.vendor = vendor;
  identity_.product = product;
  // A HID interface with its interrupt IN and OUT endpoints.
  identity_.settings.push_back({0, 0, 0x03, 0x00, 0x00, {{0x81, 0x03, 64}, {0x01, 0x03, 64}}});
}

int ImxRom::hidWrite(const uint8_t* data, size_t length) {
  if (length == 0) return WFUSB_ERROR_INVALID_PARAM;
  if (data[0] == kCommandReport) {
    if (length != kCommandReportSize) return WFUSB_ERROR_INVALID_PARAM;
    const uint16_t command = static_cast<uint16_t>(data[1] << 8 | data[2]);
    if (command == kErrorStatus) {
      reports_.push_back(_wordReport(kSecurityReport, kSecurityOpen, 4));
      reports_.push_back(_wordReport(kStatusReport, kStatusAcknowledged, kStatusPayload));
    }
    return static_cast<int>(length);
  }
  if (data[0] == kDataReport && length <= kDataReportMax) return static_cast<int>(length);
  return WFUSB_ERROR_PIPE;  // a report this device does not have
}

std::optional<std::vector<uint8_t>> ImxRom::hidRead() {
  if (reports_.empty()) return std::nullopt;
  std::vector<uint8_t> report = std::move(reports_.front());
  reports_.pop_front();
  return report;
}

}  // namespace wfsim
