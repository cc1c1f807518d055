// Directory functions: existence, creation, listing, removal and path joining.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aError.h"

extern const char* aDIR_PATH_SEP;

struct aDirectoryListData {
  const char* fullPath;  // valid only during the callback
  uint32_t size;
  int32_t isDirectory;
};

// Return false to end the walk.
typedef bool (*aDirectoryListCallback)(const aDirectoryListData* data, void* context);

bool aDirectory_Exists(const char* path);
aErr aDirectory_Ensure(const char* path, unsigned int mode);
aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context);
aErr aDirectory_Delete(const char* path);
aErr aDirectory_DeleteTree(const char* path);
aErr aDirectory_CWD(char* buffer, size_t size);
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);
aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second);
// Joins `first` and up to nine further parts; the list ends with a null pointer.
aErr aDirectory_BuildPath(char* buffer, size_t size, const char* first, ...);
