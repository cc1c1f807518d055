#include "store/ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "common/aFile.h"

namespace {

// Two writers of one process never share a temporary name.
std::atomic<unsigned> _sequence{0};

// The temporary name is hidden (leading "."), so store listings skip it
// while it is being written.
std::string _temporary_path(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return directory + "." + base + "." + std::to_string(getpid()) + "." + std::to_string(_sequence.fetch_add(1)) +
         ".tmp";
}

std::string _directory_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Asks the kernel to put the file's (or directory's) data on the disk.
bool _sync(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

// Unbuffered, so that a full disk shows up as a failed write here rather
// than as a lost flush when the file is closed.
aErr _write_all(const std::string& path, const void* bytes, size_t count, int* systemError) {
  aFileRef file = aFile_Open(path.c_str(), aFileModeWriteOnly);
  if (file == nullptr) {
    if (systemError != nullptr) *systemError = errno;
    return aErrNotFound;
  }
  aErr result = aFile_SetUnbuffered(file);
  const auto* next = static_cast<const unsigned char*>(bytes);
  size_t left = count;
  while (result == aErrNone && left > 0) {
    size_t written = 0;
    result = aFile_Write(file, next, left, &written);
    if (result == aErrNone && written == 0) result = aErrWrite;
    next += written;
    left -= written;
  }
  aFile_Close(&file);
  if (result != aErrNone) return aErrWrite;
  return _sync(path, O_RDONLY) ? aErrNone : aErrWrite;
}

}  // namespace

aErr ReplaceFile(const std::string& path, const void* bytes, size_t count, int* systemError) {
  if (bytes == nullptr || path.empty()) return aErrParam;
  const std::string temporary = _temporary_path(path);
  aErr result = _write_all(temporary, bytes, count, systemError);
  if (result == aErrNone && rename(temporary.c_str(), path.c_str()) != 0) {
    if (systemError != nullptr) *systemError = errno;
    result = aErrIO;
  }
  if (result != aErrNone) {
    aFile_Delete(temporary.c_str());
    return result;
  }
  // The rename itself lives in the directory; without this a power cut can
  // bring back the old entry.
  _sync(_directory_of(path), O_RDONLY | O_DIRECTORY);
  return aErrNone;
}
