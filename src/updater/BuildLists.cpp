// The builds the update server offers for a device, and those its store holds.
#include <memory>
#include <stdexcept>

#include "app/Log.h"
#include "firmware/BirdFile.h"
#include "server/UpdateServerRequest.h"
#include "updater/StoreAccess.h"
#include "updater/Updater.h"

std::map<std::string, std::string> Updater::Get_BuildList(unsigned int serial) {
  std::map<std::string, std::string> builds;
  if (!UpdateServerRequest::ping(serverUrl.c_str()))
    display.message(UpdaterDisplayInterface::error, "Server request failed for %s", serverUrl.c_str());
  else if (!UpdateServerRequest::GetBuildList(serial, builds, serverUrl.c_str()))
    display.message(UpdaterDisplayInterface::error, "Failed to retrieve builds for %08X", serial);
  return builds;
}

namespace {

// The version in a stored bird file's information block; empty when the file
// is not one that can be read.
std::string _stored_version(const std::string& path) {
  if (!BirdFile::VerifyFile(path.c_str())) {
    Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
    return {};
  }
  try {
    const std::string version = BirdFile(path.c_str()).GetVersion();
    if (!version.empty()) Log::log(DEBUG_Updater, "%s: version [%s]\n", path.c_str(), version.c_str());
    return version;
  } catch (const std::runtime_error& e) {
    Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
    return {};
  }
}

}  // namespace

std::map<std::string, std::string> Updater::Get_BuildListLocal(unsigned int serial) {
  std::map<std::string, std::string> builds;
  std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display, updaterDirectory, "Get_BuildListLocal");
  if (!store) return builds;
  std::vector<UpdaterStoreItem> items;
  store->FindLocalBuilds(serial, items);
  for (const UpdaterStoreItem& item : items) {
    const std::string key = item.name.substr(0, item.name.find(".bird"));
    std::string version;
    if (item.IsValid()) version = _stored_version(item.directory + "/" + item.name);
    builds.emplace(key, version);
  }
  return builds;
}
