#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/aMutex.h"

struct aMutexHandle {
  pthread_mutex_t mutex;
  char name[aMUTEX_MAXNAME + 1];
};

aMutexRef aMutex_Create(const char* name) {
  if (name != nullptr && strlen(name) > aMUTEX_MAXNAME) return nullptr;
  auto* handle = new (std::nothrow) aMutexHandle{};
  if (handle == nullptr) return nullptr;
  if (pthread_mutex_init(&handle->mutex, nullptr) != 0) {
    delete handle;
    return nullptr;
  }
  if (name != nullptr) strcpy(handle->name, name);
  return handle;
}

const char* aMutex_Identifier(aMutexRef mutex) { return mutex != nullptr ? mutex->name : nullptr; }

aErr aMutex_Lock(aMutexRef mutex) {
  if (mutex == nullptr) return aErrParam;
  switch (pthread_mutex_lock(&mutex->mutex)) {
    case 0: return aErrNone;
    case EINVAL: return aErrParam;
    case EDEADLK: return aErrDuplicate;
    default: return aErrUnknown;
  }
}

aErr aMutex_TryLock(aMutexRef mutex) {
  if (mutex == nullptr) return aErrParam;
  switch (pthread_mutex_trylock(&mutex->mutex)) {
    case 0: return aErrNone;
    case EBUSY: return aErrBusy;
    case EINVAL: return aErrParam;
    default: return aErrUnknown;
  }
}

aErr aMutex_Unlock(aMutexRef mutex) {
  if (mutex == nullptr) return aErrParam;
  switch (pthread_mutex_unlock(&mutex->mutex)) {
    case 0: return aErrNone;
    case EINVAL: return aErrParam;
    case EPERM: return aErrPermission;
    default: return aErrUnknown;
  }
}

aErr aMutex_Destroy(aMutexRef* mutex) {
  if (mutex == nullptr || *mutex == nullptr) return aErrParam;
  aMutexRef handle = *mutex;
  *mutex = nullptr;
  aErr result = aErrNone;
  switch (pthread_mutex_destroy(&handle->mutex)) {
    case 0: break;
    case EBUSY: result = aErrBusy; break;
    case EINVAL: result = aErrParam; break;
    case EAGAIN:
    case ENOMEM: result = aErrResource; break;
    default: result = aErrUnknown; break;
  }
  delete handle;
  return result;
}
