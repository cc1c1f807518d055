// A polling writer thread: calls its callback again and again while enabled.
// The callback paces itself (sleeps when it has nothing to write).
#pragma once

#include <cstdint>

#include "common/aError.h"
#include "common/aFile.h"

struct aLoggerHandle;
typedef aLoggerHandle* aLoggerRef;
typedef void (*aLoggerCallback)(aFileRef file, uint32_t identifier);

// Opens `path` for appending, unbuffered; the logger starts disabled.
aLoggerRef aLogger_Create(uint32_t identifier, aLoggerCallback callback, const char* path);
aErr aLogger_Enable(aLoggerRef logger);
// From the logger's own thread this returns aErrNone and the logger keeps running.
aErr aLogger_Disable(aLoggerRef logger);
aErr aLogger_Destroy(aLoggerRef* logger);
