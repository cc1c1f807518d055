// Directory listings of the updater store: finding one entry by name and
// collecting the visible entries of a directory as store items.
#pragma once

#include <string>
#include <vector>

#include "store/UpdaterStoreItem.h"

namespace StoreListing {

// True for a single path component that stays inside its directory: not
// empty, not "." or "..", no "/".
bool IsPlainName(const char* name);

// Lists `directory` for the entry named exactly `name` (a directory only,
// when `directoryOnly`); fills `item` (when given) on a match. Logs
// "UpdaterStore: FindDevice Found|Not Found <name>.".
bool FindItem(const std::string& directory, const char* name, UpdaterStoreItem* item, bool directoryOnly);

// Appends an item for every entry of `directory` whose name does not begin
// with "." (so ".settings" and temporary files are skipped).
void ListItems(const std::string& directory, std::vector<UpdaterStoreItem>& items);

}  // namespace StoreListing
