// Writes a whole file so that a reader, a crash or a full disk never leaves
// a truncated copy behind: readers see either the old contents or the new.
#pragma once

#include <cstddef>
#include <string>

#include "common/aError.h"

// Writes `count` bytes to a hidden temporary file in the directory of
// `path`, flushes it to the disk and renames it over `path`. On failure the
// temporary file is removed and `path` is left as it was. Returns
// aErrNotFound when the temporary file cannot be created (its errno goes to
// `systemError` when given), aErrWrite when the bytes do not all reach the
// disk, aErrIO when the rename fails, aErrParam for null bytes.
aErr ReplaceFile(const std::string& path, const void* bytes, size_t count, int* systemError = nullptr);
