// The file stream kind: input streams read a file, output streams write one.
#include "common/aFile.h"
#include "common/aStream.h"

namespace {

aErr sFileGet(uint8_t* byte, void* reference) {
  if (reference == nullptr) return aErrIO;
  size_t count = 0;
  return aFile_Read(static_cast<aFileRef>(reference), byte, 1, &count);
}

aErr sFileWrite(const uint8_t* data, size_t length, void* reference) {
  if (reference == nullptr) return aErrIO;
  size_t count = 0;
  return aFile_Write(static_cast<aFileRef>(reference), data, length, &count);
}

aErr sFilePut(uint8_t byte, void* reference) { return sFileWrite(&byte, 1, reference); }

aErr sFileDelete(void* reference) {
  auto file = static_cast<aFileRef>(reference);
  return aFile_Close(&file);
}

aErr _create(const char* path, int mode, aStreamRef* stream) {
  if (stream == nullptr) return aErrResource;
  *stream = nullptr;
  aFileRef file = aFile_Open(path, mode);
  if (file == nullptr) return aErrResource;
  *stream = mode == aFileModeReadOnly ? aStream_Create(sFileGet, nullptr, nullptr, sFileDelete, file)
                                      : aStream_Create(nullptr, sFilePut, sFileWrite, sFileDelete, file);
  if (*stream == nullptr) {
    aFile_Close(&file);
    return aErrResource;
  }
  return aErrNone;
}

}  // namespace

aErr aStream_CreateFileInput(const char* path, aStreamRef* stream) { return _create(path, aFileModeReadOnly, stream); }

aErr aStream_CreateFileOutput(const char* path, aStreamRef* stream) {
  return _create(path, aFileModeWriteOnly, stream);
}
