// Bounded waits on file descriptors, shared by the descriptor-backed stream kinds.
#pragma once

#include "common/aError.h"

// aErrNone when the descriptor is readable or has an end or error to report,
// aErrNotReady when timeoutMs passed without either.
aErr aDescriptor_AwaitReadable(int descriptor, unsigned long timeoutMs);
// aErrNone when the descriptor can take more bytes, aErrNotReady on time-out.
aErr aDescriptor_AwaitWritable(int descriptor, unsigned long timeoutMs);
