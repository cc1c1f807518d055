// One entry of the updater store: as a rule a module directory (root/SSSSSSSS
// with its ".settings" attribute file), for build listings also a file in one.
#pragma once

#include <string>

#include "common/aError.h"
#include "firmware/BirdFile.h"
#include "store/KeyValueStore.h"

enum store_item_t {
  STORE_ITEM_FILE = 0,
  STORE_ITEM_DIRECTORY = 1,
  STORE_ITEM_NONE = 2,
};

class UpdaterStoreItem {
 public:
  // Stands for nothing yet: not valid, no attribute file.
  UpdaterStoreItem();
  // Loads (or creates) directory/name/.settings; a plain file has none and
  // gets empty attributes.
  UpdaterStoreItem(const char* directory, const char* name, store_item_t kind);

  bool IsValid() const { return !directory.empty() && !name.empty(); }

  // Writes directory/name/fileName whole (temporary file renamed into place).
  // aErrNotFound for null bytes or a file that cannot be created, aErrParam
  // for a name that is not a plain file name, else the write's error.
  aErr WriteFile(const char* fileName, const unsigned char* bytes, unsigned long count);
  // Loads directory/name/fileName. Throws std::runtime_error "Invalid bird "
  // + path when its header is wrong, "Failed to load bird data" when it does
  // not load.
  BirdFile ReadBirdFile(const char* fileName);
  // True when the item's own directory holds an entry named `text`.
  bool FileExists(const char* text);

  std::string directory;
  std::string name;
  store_item_t kind = STORE_ITEM_NONE;
  KeyValueStore attributes;
};
