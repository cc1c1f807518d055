// The tool's operations. Holds only the server URL, the store's root, the
// display and two flags; every operation builds what it needs and drops it.
#pragma once

#include <cstdint>
#include <string>

#include "updater/UpdaterDisplayInterface.h"

class Updater {
 public:
  Updater(const char* serverUrl, const char* updaterDirectory, UpdaterDisplayInterface& display);
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  void Set_UEIBytes_Load(bool enable) { ueiBytesLoad = enable; }

  const std::string& Server_Url() const { return serverUrl; }
  const std::string& Updater_Directory() const { return updaterDirectory; }

 private:
  std::string serverUrl;
  std::string updaterDirectory;
  UpdaterDisplayInterface& display;
  uint8_t processorType = 0;  // 1 i.MX, 2 LPC: meaningful only after Get_Fingerprint
  bool ueiBytesLoad = false;
};
