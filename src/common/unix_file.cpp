#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "common/aFile.h"

struct aFileHandle {
  FILE* stream;
  int mode;
  uint32_t check;
};

namespace {

constexpr uint32_t kFileCheck = 0xFEED;

bool valid(aFileRef file) { return file != nullptr && file->check == kFileCheck; }
bool readable(aFileRef file) { return file->mode == aFileModeReadOnly || file->mode == aFileModeAppend; }
bool writable(aFileRef file) { return file->mode == aFileModeWriteOnly || file->mode == aFileModeAppend; }

}  // namespace

bool aFile_Exists(const char* path) {
  struct stat info {};
  return path != nullptr && strlen(path) <= aFILE_MAXPATH && stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
}

aFileRef aFile_Open(const char* path, int mode) {
  static const char* const kStdioModes[] = {"rb", "wb", "ab+"};
  if (path == nullptr || *path == '\0' || strlen(path) > aFILE_MAXPATH) return nullptr;
  if (mode < aFileModeReadOnly || mode > aFileModeAppend) return nullptr;
  auto* file = new (std::nothrow) aFileHandle{nullptr, mode, 0};
  if (file == nullptr) return nullptr;
  file->stream = fopen(path, kStdioModes[mode]);
  if (file->stream == nullptr) {
    delete file;
    return nullptr;
  }
  if (mode == aFileModeAppend) fseeko(file->stream, 0, SEEK_END);
  file->check = kFileCheck;
  return file;
}

aErr aFile_Close(aFileRef* file) {
  if (file == nullptr) return aErrParam;
  aFileRef handle = *file;
  *file = nullptr;
  if (!valid(handle)) return aErrParam;
  fclose(handle->stream);
  handle->check = 0;
  delete handle;
  return aErrNone;
}

aErr aFile_Read(aFileRef file, void* buffer, size_t length, size_t* count) {
  if (count != nullptr) *count = 0;
  if (!valid(file) || buffer == nullptr) return aErrParam;
  if (!readable(file)) return aErrMode;
  const size_t got = fread(buffer, 1, length, file->stream);
  if (count != nullptr) *count = got;
  return got == 0 && length > 0 ? aErrEOF : aErrNone;
}

aErr aFile_Write(aFileRef file, const void* data, size_t length, size_t* count) {
  if (count != nullptr) *count = 0;
  if (!valid(file) || (data == nullptr && length > 0)) return aErrParam;
  if (!writable(file)) return aErrMode;
  const size_t put = length > 0 ? fwrite(data, 1, length, file->stream) : 0;
  if (count != nullptr) *count = put;
  return put == 0 && length > 0 ? aErrIO : aErrNone;
}

aErr aFile_GetSize(aFileRef file, size_t* size) {
  if (!valid(file) || size == nullptr) return aErrParam;
  *size = 0;
  const off_t here = ftello(file->stream);
  if (here < 0 || fseeko(file->stream, 0, SEEK_END) != 0) return aErrIO;
  const off_t end = ftello(file->stream);
  if (fseeko(file->stream, here, SEEK_SET) != 0 || end < 0) return aErrIO;
  *size = static_cast<size_t>(end);
  return aErrNone;
}

aErr aFile_Seek(aFileRef file, int64_t offset, int origin) {
  if (!valid(file)) return aErrParam;
  size_t size = 0;
  if (aFile_GetSize(file, &size) != aErrNone) return aErrIO;
  const off_t here = ftello(file->stream);
  if (here < 0) return aErrIO;
  int64_t base = 0;
  switch (origin) {
    case aSeekStart: base = 0; break;
    case aSeekCurrent: base = here; break;
    case aSeekEnd: base = static_cast<int64_t>(size); break;
    default: return aErrParam;
  }
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(size)) return aErrRange;
  return fseeko(file->stream, static_cast<off_t>(target), SEEK_SET) == 0 ? aErrNone : aErrIO;
}

aErr aFile_GetPosition(aFileRef file, size_t* position) {
  if (!valid(file)) return aErrParam;
  const off_t here = ftello(file->stream);
  if (here < 0) return aErrIO;
  if (position != nullptr && here > 0) *position = static_cast<size_t>(here);
  return aErrNone;
}

aErr aFile_ReadLine(aFileRef file, char* buffer, size_t size, size_t* length) {
  if (length != nullptr) *length = 0;
  if (buffer != nullptr && size > 0) buffer[0] = '\0';
  if (!valid(file) || buffer == nullptr || size == 0) return aErrParam;
  if (!readable(file)) return aErrMode;
  if (size < 2) return aErrOverrun;
  if (fgets(buffer, static_cast<int>(size), file->stream) == nullptr) {
    buffer[0] = '\0';
    return feof(file->stream) ? aErrEOF : aErrIO;
  }
  const size_t got = strlen(buffer);
  if (length != nullptr) *length = got;
  if (got == size - 1 && buffer[got - 1] != '\n') return aErrOverrun;
  return aErrNone;
}

aErr aFile_Printf(aFileRef file, const char* format, ...) {
  if (!valid(file) || format == nullptr) return aErrParam;
  if (!writable(file)) return aErrMode;
  va_list args;
  va_start(args, format);
  const int written = vfprintf(file->stream, format, args);
  va_end(args);
  return written < 0 ? aErrIO : aErrNone;
}

aErr aFile_SetUnbuffered(aFileRef file) {
  if (!valid(file)) return aErrParam;
  if (!writable(file) || setvbuf(file->stream, nullptr, _IONBF, 0) != 0) return aErrMode;
  return aErrNone;
}

aErr aFile_Delete(const char* path) {
  if (path == nullptr) return aErrParam;
  if (strlen(path) > aFILE_MAXPATH) return aErrFileNameLength;
  if (unlink(path) == 0) return aErrNone;
  switch (errno) {
    case ENOENT: return aErrNotFound;
    case EACCES:
    case EPERM: return aErrPermission;
    default: return aErrIO;
  }
}
