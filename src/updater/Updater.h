// The tool's operations. Holds only the server URL, the store's root, the
// display and two flags; every operation builds what it needs and drops it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/discover.h"
#include "updater/DeviceInfo.h"

#include "updater/UpdaterDisplayInterface.h"

class Updater {
 public:
  Updater(const char* serverUrl, const char* updaterDirectory, UpdaterDisplayInterface& display);
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  void Set_UEIBytes_Load(bool enable) { ueiBytesLoad = enable; }

  // Downloads a build (decimal text; empty for the server's latest) into the
  // device's store directory. The build number stored, or 0 on failure.
  // `flag` is passed to the server as its no-calibration switch.
  unsigned int Download_Firmware(unsigned int serial, std::string build, bool override, bool flag);
  // Build number text to version text, as the server lists them; empty on failure.
  std::map<std::string, std::string> Get_BuildList(unsigned int serial);
  // The same for the bird files in the device's store directory.
  std::map<std::string, std::string> Get_BuildListLocal(unsigned int serial);
  // The device's feature token; empty on failure.
  std::string Get_JWT(unsigned int serial);

  // Every module on the transport (INVALID: USB, then TCP/IP), connected and
  // queried one after another.
  std::vector<DeviceInfo> Discover_Devices(linkType type);
  // The modules behind a router on its I2C network (the router not included).
  // INVALID: find out which transport the router answers on.
  std::vector<DeviceInfo> Discover_WFNetwork_Devices(unsigned int routerSerial, linkType type);

 private:
  // Whether the server's build list for the device holds `build`.
  bool _valid_build(unsigned int serial, unsigned int build, const char* url);

  std::string serverUrl;
  std::string updaterDirectory;
  UpdaterDisplayInterface& display;
  uint8_t processorType = 0;  // 1 i.MX, 2 LPC: meaningful only after Get_Fingerprint
  bool ueiBytesLoad = false;
};
