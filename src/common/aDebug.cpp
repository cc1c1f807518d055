#include "common/aDebug.h"

#include <cstdarg>
#include <cstdio>

std::atomic<bool> aWrenfieldDebuggingEnable{false};
std::atomic<uint32_t> aWrenfieldDebuggingLevel{0};

bool aDebug_Enabled(uint32_t area) {
  return aWrenfieldDebuggingEnable.load(std::memory_order_relaxed) &&
         (aWrenfieldDebuggingLevel.load(std::memory_order_relaxed) & area) != 0;
}

void aDebug_Print(uint32_t area, const char* format, ...) {
  if (!aDebug_Enabled(area)) return;
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}
