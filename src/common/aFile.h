// Regular files over stdio, behind a check-tagged handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aError.h"

enum aFileMode : int {
  aFileModeReadOnly = 0,  // "rb"
  aFileModeWriteOnly = 1,  // "wb"
  aFileModeAppend = 2,  // "ab+", positioned at the end
  aFileModeUnknown = 3,  // refused
};

enum aFileSeekOrigin : int { aSeekStart = 0, aSeekCurrent = 1, aSeekEnd = 2 };

constexpr size_t aFILE_MAXPATH = 4096;

struct aFileHandle;
typedef aFileHandle* aFileRef;

bool aFile_Exists(const char* path);
aFileRef aFile_Open(const char* path, int mode);
aErr aFile_Close(aFileRef* file);
aErr aFile_Read(aFileRef file, void* buffer, size_t length, size_t* count);
aErr aFile_Write(aFileRef file, const void* data, size_t length, size_t* count);
aErr aFile_Seek(aFileRef file, int64_t offset, int origin);
aErr aFile_GetSize(aFileRef file, size_t* size);
aErr aFile_GetPosition(aFileRef file, size_t* position);
aErr aFile_ReadLine(aFileRef file, char* buffer, size_t size, size_t* length);
aErr aFile_Printf(aFileRef file, const char* format, ...) __attribute__((format(printf, 2, 3)));
aErr aFile_SetUnbuffered(aFileRef file);
aErr aFile_Delete(const char* path);
