// The updater's local store: one directory per module, named by its serial
// number ("%08X"), holding its attribute file and downloaded bird files.
//
//   root/                    the store root (created on construction)
//   root/SSSSSSSS/           a module directory
//   root/SSSSSSSS/.settings  its attribute file
//   root/SSSSSSSS/NNNN.bird  a downloaded build
#pragma once

#include <string>
#include <vector>

#include "store/UpdaterStoreItem.h"

class UpdaterStore {
 public:
  // Ensures the root (and its parents). Throws std::runtime_error when it
  // cannot be created or is a file.
  explicit UpdaterStore(const char* root);

  const char* BasePath() const { return basePath.c_str(); }

  // Ensures the module directory and returns its item (attribute file loaded
  // or created). Throws std::runtime_error when the directory cannot be made
  // or the name is not a plain directory name.
  UpdaterStoreItem AddDevice(unsigned int serial);
  UpdaterStoreItem AddDevice(const char* name);

  // Looks for the module directory; with `item`, fills it on a match and
  // leaves it untouched otherwise.
  bool FindDevice(unsigned int serial, UpdaterStoreItem* item);
  bool FindDevice(const char* name, UpdaterStoreItem* item);

  // Appends one item per visible entry of the module's directory (its bird
  // files), in directory order. True also when the module is not stored.
  bool FindLocalBuilds(unsigned int serial, std::vector<UpdaterStoreItem>& builds);

  // The directory name of a serial number: 8 upper-case hex digits.
  static std::string DeviceName(unsigned int serial);

 private:
  std::string basePath;
};
