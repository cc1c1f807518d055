#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "common/aThread.h"

struct aThreadHandle {
  pthread_t thread;
};

aThreadRef aThread_Create(aThreadRoutine routine, void* argument) {
  if (routine == nullptr) return nullptr;
  auto* handle = new (std::nothrow) aThreadHandle{};
  if (handle == nullptr) return nullptr;
  if (pthread_create(&handle->thread, nullptr, routine, argument) != 0) {
    delete handle;
    return nullptr;
  }
  return handle;
}

int aThread_Destroy(aThreadRef* thread) {
  if (thread == nullptr || *thread == nullptr) return EINVAL;
  aThreadRef handle = *thread;
  *thread = nullptr;
  const int result = pthread_join(handle->thread, nullptr);
  delete handle;
  return result;
}

void aThread_Yield() { usleep(5); }
