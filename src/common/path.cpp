#include "common/path.h"

#include <cstdarg>

#include "common/aDirectory.h"

std::string BuildPath(const char* first, ...) {
  std::string result(first != nullptr ? first : "");
  va_list args;
  va_start(args, first);
  for (const char* part = va_arg(args, const char*); part != nullptr; part = va_arg(args, const char*)) {
    result += aDIR_PATH_SEP;
    result += part;
  }
  va_end(args);
  return result;
}
