#include "app/DeviceListing.h"

#include "updater/UpdaterDisplayInterface.h"

namespace {

constexpr const char* kHeader = "    Device    Module   Router  Model          Firmware Version (Build)";

const char* transportName(uint32_t linkType) {
  switch (linkType) {
    case USB: return "USB";
    case TCPIP: return "TCPIP";
    default: return "Unknown";
  }
}

}  // namespace

void _display_device_list(UpdaterDisplayInterface& display, const std::vector<DeviceInfo>& devices,
                          uint32_t linkType) {
  display.message(UpdaterDisplayInterface::info, "Discovered Devices: (%s)", transportName(linkType));
  if (devices.empty()) {
    display.message(UpdaterDisplayInterface::info, "    No devices found.");
    return;
  }
  display.message(UpdaterDisplayInterface::info, "%s%s", kHeader, linkType == USB ? "" : "   [IP address]");
  for (const DeviceInfo& device : devices) {
    const linkSpec& spec = device.spec;
    const char* model = device.modelName.c_str();
    if (spec.type == TCPIP) {
      // The address bytes in memory order: the first byte is the first octet.
      const auto* ip = reinterpret_cast<const uint8_t*>(&spec.ipAddress);
      display.message(UpdaterDisplayInterface::info, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u) [%d.%d.%d.%d]",
                      spec.serialNumber, spec.moduleAddress, spec.routerAddress, model, device.major, device.minor,
                      device.patch, device.build, ip[0], ip[1], ip[2], ip[3]);
    } else if (device.error != aErrNone) {
      display.message(UpdaterDisplayInterface::info, "    %08X  [Error (%d): Is someone else connected to this device?]",
                      spec.serialNumber, static_cast<int>(device.error));
    } else {
      display.message(UpdaterDisplayInterface::info, "    %08X  %02X       %02X      %-12s %3d.%d.%d (%u)",
                      spec.serialNumber, spec.moduleAddress, spec.routerAddress, model, device.major, device.minor,
                      device.patch, device.build);
    }
  }
}
