#include "app/Log.h"

#include <cstdarg>

std::atomic<uint32_t> Log::package_bitmask{0};
std::atomic<FILE*> Log::fh{nullptr};

void Log::SetOutput(FILE* stream) { fh.store(stream); }

void Log::ActivatePackage(uint32_t bits) { package_bitmask.fetch_or(bits); }

void Log::DeactivatePackage(uint32_t bits) { package_bitmask.fetch_and(~bits); }

bool Log::IsActive(uint32_t package) { return package == 0 || (package & package_bitmask.load()) != 0; }

void Log::log(uint32_t package, const char* format, ...) {
  if (!IsActive(package)) return;
  char buffer[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (FILE* stream = fh.load()) fputs(buffer, stream);
}
