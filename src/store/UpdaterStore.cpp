#include "store/UpdaterStore.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "app/Log.h"
#include "common/aDirectory.h"
#include "common/path.h"
#include "store/StoreListing.h"

namespace {

void _ensure_directory(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    const aErr error = aDirectory_Ensure(path.c_str(), 0755);
    if (error != aErrNone || !aDirectory_Exists(path.c_str()))
      throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                               std::to_string(error != aErrNone ? error : aErrPermission));
    Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
  } else if (!S_ISDIR(info.st_mode)) {
    throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
  } else {
    Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
  }
}

}  // namespace

UpdaterStore::UpdaterStore(const char* root) : basePath(root != nullptr ? root : "") { _ensure_directory(basePath); }

std::string UpdaterStore::DeviceName(unsigned int serial) {
  char name[16];
  snprintf(name, sizeof name, "%08X", serial);
  return name;
}

UpdaterStoreItem UpdaterStore::AddDevice(unsigned int serial) { return AddDevice(DeviceName(serial).c_str()); }

UpdaterStoreItem UpdaterStore::AddDevice(const char* name) {
  // The name becomes a path component: it must not climb out of the store.
  if (!StoreListing::IsPlainName(name))
    throw std::runtime_error(std::string("UpdaterStore: invalid device name [") + (name != nullptr ? name : "") + "]");
  _ensure_directory(BuildPath(basePath.c_str(), name, nullptr));
  return UpdaterStoreItem(basePath.c_str(), name, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(unsigned int serial, UpdaterStoreItem* item) {
  return FindDevice(DeviceName(serial).c_str(), item);
}

bool UpdaterStore::FindDevice(const char* name, UpdaterStoreItem* item) {
  return StoreListing::FindItem(basePath, name, item, true);
}

bool UpdaterStore::FindLocalBuilds(unsigned int serial, std::vector<UpdaterStoreItem>& builds) {
  UpdaterStoreItem device;
  if (FindDevice(serial, &device)) StoreListing::ListItems(BuildPath(device.directory.c_str(), device.name.c_str(), nullptr), builds);
  return true;
}
