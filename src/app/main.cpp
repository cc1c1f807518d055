// Parses the command line, prepares the store's directory and runs the
// commands asked for, in their fixed order.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Banner.h"
#include "app/CLI_Display.h"
#include "app/CommandLine.h"
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
  if (params.commands.IsSet(COMMAND_GET_BUILD)) return _command_unavailable(display, "-G");

  if (params.commands.IsSet(COMMAND_DISCOVER)) return _command_unavailable(display, "-D");
  if (params.commands.IsSet(COMMAND_UPDATE)) {
    updater.Set_UEIBytes_Load(params.useUEIBytes);
    return _command_unavailable(display, params.transport == RECOVER_TRANSPORT ? "-U -t RECOVER" : "-U");
  }
  if (params.commands.IsSet(COMMAND_LIST_BUILDS)) return _command_unavailable(display, "-B");
  if (params.commands.IsSet(COMMAND_LIST_LOCAL_BUILDS)) return _command_unavailable(display, "-L");
  if (params.commands.IsSet(COMMAND_GET_JWT)) return _command_unavailable(display, "-J");

  _release_params(&params);
  return result;
}
