#include "common/unix_descriptor.h"

#include <poll.h>

#include <climits>

namespace {

aErr _await(int descriptor, short events, unsigned long timeoutMs) {
  if (descriptor < 0) return aErrNone;  // the next call on it reports the trouble
  pollfd entry{descriptor, events, 0};
  const int timeout = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  // A signal cuts the wait short; callers treat that like a quiet time-out.
  return poll(&entry, 1, timeout) > 0 ? aErrNone : aErrNotReady;
}

}  // namespace

aErr aDescriptor_AwaitReadable(int descriptor, unsigned long timeoutMs) {
  return _await(descriptor, POLLIN, timeoutMs);
}

aErr aDescriptor_AwaitWritable(int descriptor, unsigned long timeoutMs) {
  return _await(descriptor, POLLOUT, timeoutMs);
}
