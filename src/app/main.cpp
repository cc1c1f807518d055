// Parses the command line, prepares the store's directory and runs the
// commands asked for, in their fixed order.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Banner.h"
#include "app/BuildListing.h"
#include "app/CLI_Display.h"
#include "app/CommandLine.h"
#include "app/DeviceListing.h"
#include "app/Log.h"
#include "app/Usage.h"
#include "common/aDirectory.h"
#include "common/path.h"
#include "updater/Updater.h"

namespace {

constexpr unsigned kStorageMode = 0755;

// A command whose flow this build does not have yet.
int _command_unavailable(UpdaterDisplayInterface& display, const char* option) {
  display.message(UpdaterDisplayInterface::error, "The %s command is not available in this build", option);
  return 1;
}

// The directory that holds the store: -i DIR/updater, or ~/.quorvant/updater.
bool _storage_directory(UpdaterDisplayInterface& display, const Parameters& params, std::string& directory) {
  std::string base = params.updaterDirectory;
  if (base.empty()) {
    char home[2048];
    const aErr err = aDirectory_GetHomeDirectory(home, sizeof home);
    if (err != aErrNone) {
      Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", static_cast<int>(err));
      return false;
    }
    base = BuildPath(home, ".quorvant", nullptr);
  }
  directory = BuildPath(base.c_str(), "updater", nullptr);
  if (aDirectory_Ensure(directory.c_str(), kStorageMode) != aErrNone) {
    display.message(UpdaterDisplayInterface::error, "Could not find updater directory at %s", directory.c_str());
    return false;
  }
  return true;
}

// -G: downloads the device's build into the store. On success the build
// stored becomes the one a following -U installs.
int _get_build(UpdaterDisplayInterface& display, Updater& updater, Parameters& params) {
  display.message(UpdaterDisplayInterface::info, "Retrieving firmware for device with serial number %08X",
                  params.serialNumber);
  if (params.buildNumber.empty()) {
    display.message(UpdaterDisplayInterface::info, "No build specified");
    display.message(UpdaterDisplayInterface::info, "Using Latest build");
  } else {
    display.message(UpdaterDisplayInterface::info, "Retrieving firmware build %s", params.buildNumber.c_str());
  }
  const unsigned int stored =
      updater.Download_Firmware(params.serialNumber, params.buildNumber, params.overrideChecks, false);
  if (stored == 0) return 1;
  params.buildNumber = std::to_string(stored);
  return 0;
}

// -D: the modules on one transport (USB unless -t names another), or those
// behind a router.
void _discover(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params) {
  const auto type =
      static_cast<linkType>(params.transportGiven && params.transport != RECOVER_TRANSPORT ? params.transport : 0);
  if (params.routerSerial != 0) {
    display.message(UpdaterDisplayInterface::info, "Searching for Wrenfield Network devices connected to %08X",
                    params.routerSerial);
    _display_device_list(display, updater.Discover_WFNetwork_Devices(params.routerSerial, type), type);
    return;
  }
  display.message(UpdaterDisplayInterface::info, "Searching for Wrenfield devices");
  const linkType used = type == INVALID ? USB : type;
  _display_device_list(display, updater.Discover_Devices(used), used);
}

// -B, -L and -J need a device; without one the run ends with the usage.
bool _device_given(UpdaterDisplayInterface& display, const Parameters& params, const char* command) {
  if (params.serialNumber != 0) return true;
  display.message(UpdaterDisplayInterface::error, "Error must supply a serial number for the %s command", command);
  _display_usage(false, false);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Parameters params;
  CLI_Display display;
  Log::SetOutput(stderr);

  if (_get_params(display, argc, argv, &params) != 0) {
    _display_app_version(display);
    _display_notice(display);
    _display_usage(false, false);
    _release_params(&params);
    return 1;
  }
  _display_app_version(display);

  if (params.commands.IsSet(COMMAND_HELP) || !params.commands.IsSet(COMMANDS_ANY)) {
    _display_notice(display);
    _display_usage(params.logMaskGiven, params.helpRequested);
    _release_params(&params);
    return 0;
  }

  std::string directory;
  if (!_storage_directory(display, params, directory)) return 1;
  Updater updater(params.serverUrl.c_str(), directory.c_str(), display);

  int result = 0;
  if (params.commands.IsSet(COMMAND_FINGERPRINT)) return _command_unavailable(display, "-N");
  if (params.commands.IsSet(COMMAND_GET_BUILD)) {
    if (params.serialNumber == 0) {
      display.message(UpdaterDisplayInterface::error, "-G must specify a specific device via -d");
      display.message(UpdaterDisplayInterface::error, "--help for usage information");
      return 1;
    }
    result = _get_build(display, updater, params);
  }

  if (params.commands.IsSet(COMMAND_DISCOVER)) {
    _discover(display, updater, params);
    return 0;
  }
  if (params.commands.IsSet(COMMAND_UPDATE)) {
    updater.Set_UEIBytes_Load(params.useUEIBytes);
    return _command_unavailable(display, params.transport == RECOVER_TRANSPORT ? "-U -t RECOVER" : "-U");
  }
  if (params.commands.IsSet(COMMAND_LIST_BUILDS)) {
    if (!_device_given(display, params, "List Builds")) return 1;
    _display_builds(display, updater.Get_BuildList(params.serialNumber), params.serialNumber);
    return 0;
  }
  if (params.commands.IsSet(COMMAND_LIST_LOCAL_BUILDS)) {
    if (!_device_given(display, params, "List Local Builds")) return 1;
    _display_builds(display, updater.Get_BuildListLocal(params.serialNumber), params.serialNumber);
    return 0;
  }
  if (params.commands.IsSet(COMMAND_GET_JWT)) {
    if (!_device_given(display, params, "Get JWT")) return 1;
    _display_jwt(display, updater.Get_JWT(params.serialNumber));
    return 0;
  }

  _release_params(&params);
  return result;
}
