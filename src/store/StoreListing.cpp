#include "store/StoreListing.h"

#include <cstring>

#include "app/Log.h"
#include "common/aDirectory.h"

namespace {

// The search record handed to _find_item.
struct result_t {
  bool found;
  const char* name;
  UpdaterStoreItem* item;
  bool directoryOnly;
};

// Splits a listed path into the item's directory and name.
UpdaterStoreItem _make_item(const aDirectoryListData* entry) {
  const std::string fullPath(entry->fullPath);
  const size_t slash = fullPath.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : fullPath.substr(0, slash);
  const std::string name = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
  return UpdaterStoreItem(directory.c_str(), name.c_str(), entry->isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
}

const char* _last_component(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The entry's own name must equal the one searched for: a substring match
// would take "11234.bird" for "1234.bird", or any entry at all when the
// store's own path happens to contain the serial number.
bool _find_item(const aDirectoryListData* entry, void* context) {
  auto* result = static_cast<result_t*>(context);
  Log::log(DEBUG_Updater, "%s([%s], %d, %u) searching for %s\n", "_find_item", entry->fullPath, entry->isDirectory,
           entry->size, result->name);
  if (strcmp(_last_component(entry->fullPath), result->name) != 0) return true;
  if (result->directoryOnly && !entry->isDirectory) return true;
  result->found = true;
  if (result->item != nullptr) *result->item = _make_item(entry);
  return false;
}

bool _find_items(const aDirectoryListData* entry, void* context) {
  auto* items = static_cast<std::vector<UpdaterStoreItem>*>(context);
  Log::log(DEBUG_Updater, "%s([%s], %d, %u)\n", "_find_items", entry->fullPath, entry->isDirectory, entry->size);
  if (_last_component(entry->fullPath)[0] == '.') return true;
  items->push_back(_make_item(entry));
  return true;
}

}  // namespace

namespace StoreListing {

bool IsPlainName(const char* name) {
  return name != nullptr && *name != '\0' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
         strchr(name, '/') == nullptr;
}

bool FindItem(const std::string& directory, const char* name, UpdaterStoreItem* item, bool directoryOnly) {
  result_t result{false, name, item, directoryOnly};
  if (IsPlainName(name)) aDirectory_List(directory.c_str(), _find_item, &result);
  Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", result.found ? "Found" : "Not Found",
           name != nullptr ? name : "");
  return result.found;
}

void ListItems(const std::string& directory, std::vector<UpdaterStoreItem>& items) {
  aDirectory_List(directory.c_str(), _find_items, &items);
}

}  // namespace StoreListing
