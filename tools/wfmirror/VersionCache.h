// The versions of the mirror's bird files. Reading one means inflating the
// whole image, so each file is read once and again only when it changes.
// Safe for the server's concurrent requests.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

class VersionCache {
 public:
  // The version in the file's information block; empty when the file is not
  // a readable bird file.
  std::string Version(const std::filesystem::path& file);

 private:
  struct Entry {
    std::filesystem::file_time_type modified;
    uintmax_t size;
    std::string version;
  };
  std::mutex mutex;
  std::map<std::filesystem::path, Entry> entries;
};
