#include "common/aDirectory.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

const char* aDIR_PATH_SEP = "/";

namespace {

constexpr size_t kJoinBufferSize = 2048;
constexpr int kMaxFurtherParts = 9;

// Creates one directory level; an existing directory is fine.
bool makeLevel(const std::string& path, unsigned int mode) {
  if (path.empty() || aDirectory_Exists(path.c_str())) return true;
  return mkdir(path.c_str(), static_cast<mode_t>(mode & 0xFFFF)) == 0 || errno == EEXIST;
}

aErr buildPathV(char* buffer, size_t size, const char* first, va_list args) {
  if (buffer == nullptr || size == 0) return aErrParam;
  const char* parts[kMaxFurtherParts + 1];
  int count = 0;
  for (const char* part = va_arg(args, const char*); part != nullptr; part = va_arg(args, const char*)) {
    if (count == kMaxFurtherParts) return aErrParam;
    parts[count++] = part;
  }
  if (first == nullptr || buffer == first) return aErrParam;
  for (int i = 0; i < count; ++i)
    if (parts[i] == buffer) return aErrParam;

  buffer[0] = '\0';
  const char sep = aDIR_PATH_SEP[0];
  size_t length = strlen(first);
  if (size < 2 || length >= size - 1) return aErrOverrun;
  memcpy(buffer, first, length + 1);
  for (int i = 0; i < count; ++i) {
    size_t room = size - length - 1;
    const char* part = parts[i];
    if (room > 1 && (length == 0 || buffer[length - 1] != sep) && part[0] != sep) {
      buffer[length++] = sep;
      buffer[length] = '\0';
      --room;
    }
    const size_t partLength = strlen(part);
    if (partLength >= room) return aErrOverrun;
    memcpy(buffer + length, part, partLength + 1);
    length += partLength;
  }
  return aErrNone;
}

}  // namespace

bool aDirectory_Exists(const char* path) {
  struct stat info {};
  return path != nullptr && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

aErr aDirectory_Ensure(const char* path, unsigned int mode) {
  if (path == nullptr || *path == '\0') return aErrParam;
  if (aDirectory_Exists(path)) return aErrNone;
  const std::string full(path);
  const char sep = aDIR_PATH_SEP[0];

  // The deepest existing ancestor: cut at separators from the end.
  size_t start = 0;
  for (size_t end = full.size(); end > 0;) {
    const size_t cut = full.rfind(sep, end - 1);
    if (cut == std::string::npos || cut == 0) break;
    if (aDirectory_Exists(full.substr(0, cut).c_str())) {
      start = cut;
      break;
    }
    end = cut;
  }

  aErr result = aErrNone;
  for (size_t cut = full.find(sep, start + 1); cut != std::string::npos; cut = full.find(sep, cut + 1)) {
    if (cut == 0 || full[cut - 1] == sep) continue;  // empty component
    if (!makeLevel(full.substr(0, cut), mode)) {
      result = aErrPermission;
      break;
    }
  }
  if (!makeLevel(full, mode)) return aErrPermission;
  return result;
}

aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context) {
  if (path == nullptr || callback == nullptr) return aErrParam;
  DIR* dir = opendir(path);
  if (dir == nullptr) return aErrNotFound;
  char full[kJoinBufferSize];
  while (const dirent* entry = readdir(dir)) {
    if (aDirectory_JoinPath(full, sizeof full, path, entry->d_name) != aErrNone) continue;
    struct stat info {};
    if (stat(full, &info) != 0) continue;
    const aDirectoryListData data{full, static_cast<uint32_t>(info.st_size), S_ISDIR(info.st_mode) ? 1 : 0};
    if (!callback(&data, context)) break;
  }
  closedir(dir);
  return aErrNone;
}

aErr aDirectory_Delete(const char* path) {
  return path != nullptr && rmdir(path) == 0 ? aErrNone : aErrUnknown;
}

aErr aDirectory_DeleteTree(const char* path) {
  if (path == nullptr) return aErrParam;
  DIR* dir = opendir(path);
  if (dir == nullptr) return aErrNotFound;
  char full[kJoinBufferSize];
  while (const dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    if (aDirectory_JoinPath(full, sizeof full, path, entry->d_name) != aErrNone) continue;
    struct stat info {};
    if (lstat(full, &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      aDirectory_DeleteTree(full);
    } else if (unlink(full) != 0) {
      perror("aDirectory_DeleteTree");
      printf("---error unlink-ing file [%s]\n", full);
      break;
    }
  }
  closedir(dir);
  return aDirectory_Delete(path);
}

aErr aDirectory_CWD(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return aErrParam;
  return getcwd(buffer, size) != nullptr ? aErrNone : aErrParam;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return aErrParam;
  const ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
  if (length < 0) return aErrRead;
  buffer[length] = '\0';
  return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return aErrParam;
  const char* home = nullptr;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char scratch[4096];
  if (getpwuid_r(getuid(), &entry, scratch, sizeof scratch, &found) == 0 && found != nullptr)
    home = found->pw_dir;
  else
    home = getenv("HOME");
  snprintf(buffer, size, "%s", home != nullptr ? home : "");
  return aErrNone;
}

aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second) {
  return aDirectory_BuildPath(buffer, size, first, second, static_cast<const char*>(nullptr));
}

aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...) {
  va_list args;
  va_start(args, first);
  const aErr result = buildPathV(buffer, size, first, args);
  va_end(args);
  return result;
}
