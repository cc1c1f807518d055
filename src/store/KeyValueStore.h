// Named text values kept in memory and in a plain "key=value" attribute
// file. Every module directory of the store has one (".settings"); the flows
// record in it what was downloaded or transferred last and when.
#pragma once

#include <map>
#include <string>

class KeyValueStore {
 public:
  static const char* const DEFAULT_FILENAME;  // ".settings"
  static const char* const KEY_CREATED_TIME;  // "CREATED_TIME"
  static const char* const KEY_UPDATED_TIME;  // "UPDATED_TIME"

  // An empty store; with a path, that file is loaded (and created when it
  // does not exist).
  explicit KeyValueStore(const char* path = nullptr);

  // The value text of `key`, or null when absent. Never inserts; the pointer
  // lives until the entry changes or the store is cleared or destroyed.
  const char* operator[](const char* key) const;

  // The value converted, or `def` when the key is absent or its value empty.
  // An absent key is added with an empty value (the changed flag stays), so
  // a later Save writes "KEY=" for it.
  int GetInt(const char* key, int def);
  unsigned int GetHex(const char* key, unsigned int def);
  bool GetBOOL(const char* key, bool def);
  double GetDouble(const char* key, double def);
  // The stored value (also when empty), else `def` (empty for null). Never inserts.
  std::string GetString(const char* key, const char* def) const;

  // Set the key's text ("%d", "%f", "0x%08X" or as given). The changed flag
  // is set when the text differs from the previous one (absent = empty).
  bool Add(const char* key, int value);
  bool Add(const char* key, double value);
  bool AddHex(const char* key, unsigned int value);
  bool Add(const char* key, const char* value);
  bool Add(const char* key, const std::string& value);
  // Merge: copies every entry of `other`; any entry at all sets the flag.
  bool Add(const KeyValueStore& other);
  bool Clear();

  // Merges the attribute file into the store and clears the changed flag.
  // A file that cannot be opened is created holding the two time stamps.
  void Load(const char* path);
  // Writes every entry, in key order, to `path` (or the file last loaded or
  // saved, or DEFAULT_FILENAME). A changed store gets a fresh UPDATED_TIME.
  // The file is replaced whole, never left truncated; on failure the flag
  // stays set. Both only log their failures.
  void Save(const char* path);

  bool IsChanged() const { return changed; }
  const std::string& FileName() const { return fileName; }
  const std::map<std::string, std::string>& Entries() const { return entries; }

  // The local time in the 24-character ctime layout, e.g.
  // "Wed Dec  9 18:48:18 2026" (no line feed).
  static std::string TimeStamp();

 private:
  // Looks the key up, adding it with an empty value when absent; null for a
  // null key. Empty values give the caller's default.
  const std::string* _value_for_conversion(const char* key);
  bool _set(const char* key, std::string value);

  std::string fileName;
  std::map<std::string, std::string> entries;
  bool changed = false;
};
