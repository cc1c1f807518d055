#include "VersionCache.h"

#include <exception>

#include "firmware/BirdFile.h"

namespace fs = std::filesystem;

namespace {

std::string _read_version(const fs::path& file) {
  try {
    if (!BirdFile::VerifyFile(file.c_str())) return {};
    return BirdFile(file.c_str()).GetVersion();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace

std::string VersionCache::Version(const fs::path& file) {
  std::error_code error;
  const fs::file_time_type modified = fs::last_write_time(file, error);
  const uintmax_t size = error ? 0 : fs::file_size(file, error);
  if (error) return {};
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = entries.find(file);
    if (found != entries.end() && found->second.modified == modified && found->second.size == size)
      return found->second.version;
  }
  // Read outside the lock: other requests need not wait for one inflation.
  std::string version = _read_version(file);
  std::lock_guard<std::mutex> lock(mutex);
  entries[file] = Entry{modified, size, version};
  return version;
}
