#include "app/BuildListing.h"

#include "server/UpdateServerRequest.h"
#include "updater/UpdaterDisplayInterface.h"

namespace {
constexpr const char* kColumns = "%-15.15s\t%-15.15s";
}

void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     unsigned int serial) {
  if (builds.empty()) {
    display.message(UpdaterDisplayInterface::info, "No builds found for device [%08X]", serial);
    return;
  }
  display.message(UpdaterDisplayInterface::info, "Build List for device [%08X]:\n", serial);
  display.message(UpdaterDisplayInterface::info, kColumns, "Build", "Version");
  for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds))
    display.message(UpdaterDisplayInterface::info, kColumns, build.c_str(), version.c_str());
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token) {
  display.message(UpdaterDisplayInterface::info, "%s", token.c_str());
}
