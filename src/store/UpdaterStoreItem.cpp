#include "store/UpdaterStoreItem.h"

#include <stdexcept>

#include "common/path.h"
#include "store/ReplaceFile.h"
#include "store/StoreListing.h"

UpdaterStoreItem::UpdaterStoreItem() = default;

UpdaterStoreItem::UpdaterStoreItem(const char* itemDirectory, const char* itemName, store_item_t itemKind)
    : directory(itemDirectory != nullptr ? itemDirectory : ""), name(itemName != nullptr ? itemName : ""), kind(itemKind) {
  // A plain file (a listed bird file) cannot hold an attribute file; trying
  // would only log a failed open and a failed save.
  if (kind == STORE_ITEM_DIRECTORY && IsValid())
    attributes.Load(BuildPath(directory.c_str(), name.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr).c_str());
}

aErr UpdaterStoreItem::WriteFile(const char* fileName, const unsigned char* bytes, unsigned long count) {
  // An item that stands for nothing has no directory to write into.
  if (bytes == nullptr || !IsValid()) return aErrNotFound;
  if (!StoreListing::IsPlainName(fileName)) return aErrParam;
  return ReplaceFile(BuildPath(directory.c_str(), name.c_str(), fileName, nullptr), bytes, count);
}

BirdFile UpdaterStoreItem::ReadBirdFile(const char* fileName) {
  const std::string path = BuildPath(directory.c_str(), name.c_str(), fileName != nullptr ? fileName : "", nullptr);
  if (!IsValid() || !StoreListing::IsPlainName(fileName) || !BirdFile::VerifyFile(path.c_str()))
    throw std::runtime_error("Invalid bird " + path);
  return BirdFile(path.c_str());
}

bool UpdaterStoreItem::FileExists(const char* text) {
  if (!IsValid()) return false;
  return StoreListing::FindItem(BuildPath(directory.c_str(), name.c_str(), nullptr), text, nullptr, false);
}
