// Millisecond wall clock and sleep.
#pragma once

#include <cstdint>

#include "common/aError.h"

uint64_t aTime_GetMSTicks();
aErr aTime_MSSleep(unsigned long ms);
