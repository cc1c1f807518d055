#include "common/aLogger.h"

#include <pthread.h>

#include <atomic>
#include <new>

struct aLoggerHandle {
  uint32_t identifier;
  aLoggerCallback callback;
  aFileRef file;
  pthread_t thread;
  std::atomic<bool> running;
  uint16_t check;
};

namespace {

constexpr uint16_t kLoggerCheck = 0xDEED;

bool valid(aLoggerRef logger) { return logger != nullptr && logger->check == kLoggerCheck; }

void* loggerThread(void* argument) {
  auto* logger = static_cast<aLoggerHandle*>(argument);
  while (logger->running.load(std::memory_order_acquire)) logger->callback(logger->file, logger->identifier);
  return nullptr;
}

}  // namespace

aLoggerRef aLogger_Create(uint32_t identifier, aLoggerCallback callback, const char* path) {
  if (callback == nullptr) return nullptr;
  aFileRef file = aFile_Open(path, aFileModeAppend);
  if (file == nullptr) return nullptr;
  auto* logger = new (std::nothrow) aLoggerHandle{identifier, callback, file, pthread_self(), {false}, kLoggerCheck};
  if (logger == nullptr) {
    aFile_Close(&file);
    return nullptr;
  }
  aFile_SetUnbuffered(file);
  return logger;
}

aErr aLogger_Enable(aLoggerRef logger) {
  if (!valid(logger)) return aErrParam;
  if (logger->running.load()) return aErrNone;
  logger->running.store(true);
  if (pthread_create(&logger->thread, nullptr, loggerThread, logger) != 0) {
    logger->running.store(false);
    logger->thread = pthread_self();
    return aErrResource;
  }
  return aErrNone;
}

aErr aLogger_Disable(aLoggerRef logger) {
  if (!valid(logger)) return aErrParam;
  if (!logger->running.load()) return aErrNone;
  if (pthread_equal(logger->thread, pthread_self())) return aErrNone;
  logger->running.store(false, std::memory_order_release);
  const int joined = pthread_join(logger->thread, nullptr);
  logger->thread = pthread_self();
  return joined == 0 ? aErrNone : aErrUnknown;
}

aErr aLogger_Destroy(aLoggerRef* logger) {
  if (logger == nullptr || !valid(*logger)) return aErrNone;
  aLoggerRef handle = *logger;
  const aErr disabled = aLogger_Disable(handle);
  aFile_Close(&handle->file);
  if (disabled != aErrNone) return disabled;
  handle->check = 0;
  delete handle;
  *logger = nullptr;
  return aErrNone;
}
