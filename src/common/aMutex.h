// Named, non-recursive mutex behind an opaque handle.
#pragma once

#include "common/aError.h"

struct aMutexHandle;
typedef aMutexHandle* aMutexRef;

constexpr unsigned aMUTEX_MAXNAME = 255;

aMutexRef aMutex_Create(const char* name);
const char* aMutex_Identifier(aMutexRef mutex);
aErr aMutex_Lock(aMutexRef mutex);
aErr aMutex_TryLock(aMutexRef mutex);
aErr aMutex_Unlock(aMutexRef mutex);
aErr aMutex_Destroy(aMutexRef* mutex);
