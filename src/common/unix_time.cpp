#include <sys/time.h>
#include <unistd.h>

#include <algorithm>

#include "common/aTime.h"

uint64_t aTime_GetMSTicks() {
  timeval now {};
  if (gettimeofday(&now, nullptr) != 0) return 0;
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_usec) / 1000u;
}

aErr aTime_MSSleep(unsigned long ms) {
  // usleep takes at most 999,999 microseconds at a time.
  for (uint64_t left = static_cast<uint64_t>(ms) * 1000u; left > 0;) {
    const uint64_t slice = std::min<uint64_t>(left, 999999u);
    usleep(static_cast<useconds_t>(slice));
    left -= slice;
  }
  return aErrNone;
}
