// The TCP client stream kind. The descriptor is non-blocking: get answers at
// once, the wait operation lets a reader sleep on the socket, and writes give
// up after a bounded number of paced attempts.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <new>

#include "common/aDebug.h"
#include "common/aStream.h"
#include "common/aTime.h"
#include "common/unix_descriptor.h"

namespace {

constexpr uint16_t kSocketTag = 0xDEAD;
constexpr uint32_t kConnected = 0x1;
constexpr unsigned long kConnectTimeoutMs = 5000;
constexpr unsigned long kWritePauseMs = 60;
constexpr int kWriteAttempts = 10;

struct SocketReference {
  uint32_t port;
  sockaddr_in address;
  std::atomic<int> descriptor{-1};
  std::atomic<uint32_t> flags{0};
  uint16_t tag;
  // The reader and the writer may both reconnect; this serialises every call on
  // the descriptor with its replacement. It is never held across a pause.
  std::mutex io;
  // Received bytes not yet handed out; touched by the reading thread only.
  uint8_t buffer[1024];
  size_t available = 0;
  size_t position = 0;
};

bool _isValid(const SocketReference* self) { return self != nullptr && self->tag == kSocketTag; }
bool _isConnected(const SocketReference* self) { return (self->flags & kConnected) != 0; }

// Runs with `io` held.
void _close(SocketReference* self) {
  const int descriptor = self->descriptor.exchange(-1);
  self->flags &= ~kConnected;
  if (descriptor >= 0) {
    close(descriptor);
    aTime_MSSleep(10);
  }
}

aErr _connectError(int error) {
  switch (error) {
    case EAGAIN:
    case ECONNRESET:
    case ETIMEDOUT:
    case ECONNREFUSED: return aErrConnection;
    default: return aErrIO;
  }
}

// Connects without blocking longer than kConnectTimeoutMs, so an address that
// swallows the handshake cannot hold a caller for minutes.
int _connect(const sockaddr_in& address, aErr* err) {
  const int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (descriptor < 0) {
    *err = aErrIO;
    return -1;
  }
  int error = 0;
  if (connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      if (aDescriptor_AwaitWritable(descriptor, kConnectTimeoutMs) != aErrNone) {
        error = ETIMEDOUT;
      } else {
        socklen_t size = sizeof error;
        if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      }
    }
  }
  if (error != 0) {
    close(descriptor);
    *err = _connectError(error);
    return -1;
  }
  *err = aErrNone;
  return descriptor;
}

aErr _setOptions(int descriptor) {
  const int on = 1;
  const timeval noTimeout{0, 0};
  const linger resetOnClose{1, 0};
  if (setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
      setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &noTimeout, sizeof noTimeout) != 0 ||
      setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose) != 0) {
    return aErrIO;
  }
  return aErrNone;
}

// (Re)connects; runs with `io` held.
aErr _reconnect(SocketReference* self) {
  if (!_isValid(self)) return aErrInitialization;
  _close(self);
  aErr err = aErrNone;
  const int descriptor = _connect(self->address, &err);
  if (descriptor < 0) return err;
  err = _setOptions(descriptor);
  if (err != aErrNone) {
    close(descriptor);
    return err;
  }
  self->descriptor = descriptor;
  self->flags |= kConnected;
  return aErrNone;
}

bool _isLoss(int error) { return error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT; }

// One receive into the buffer: aErrNone with bytes, aErrNotReady with none yet,
// aErrEOF when the peer closed or reset the connection, aErrConnection for
// any other failure.
aErr _receive(SocketReference* self) {
  const ssize_t count = recv(self->descriptor, self->buffer, sizeof self->buffer, 0);
  if (count > 0) {
    self->available = static_cast<size_t>(count);
    self->position = 0;
    return aErrNone;
  }
  if (count == 0) return aErrEOF;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return aErrNotReady;
  return _isLoss(errno) ? aErrEOF : aErrConnection;
}

aErr sSocketGet(uint8_t* byte, void* reference) {
  auto* self = static_cast<SocketReference*>(reference);
  if (!_isValid(self) || byte == nullptr) return aErrParam;
  if (self->available == 0) {
    std::lock_guard<std::mutex> guard(self->io);
    if (!_isConnected(self)) return aErrConnection;
    aErr err = _receive(self);
    if (err == aErrEOF) {
      // The peer went away (closed or reset): one reconnection, then the loss stands.
      aDebug_Print(aDEBUG_LINK, " socket stream: connection lost, reconnecting\n");
      if (_reconnect(self) != aErrNone) return aErrConnection;
      err = _receive(self);
      if (err == aErrEOF) {
        _close(self);
        return aErrConnection;
      }
    }
    if (err != aErrNone) return err;
  }
  *byte = self->buffer[self->position++];
  --self->available;
  return aErrNone;
}

aErr sSocketWait(unsigned long timeoutMs, void* reference) {
  auto* self = static_cast<SocketReference*>(reference);
  if (!_isValid(self) || self->available > 0) return aErrNone;
  return aDescriptor_AwaitReadable(self->descriptor, timeoutMs);
}

aErr sSocketWrite(const uint8_t* data, size_t length, void* reference) {
  auto* self = static_cast<SocketReference*>(reference);
  if (!_isValid(self) || data == nullptr) return aErrParam;
  size_t sent = 0;
  int attempts = 0;
  while (sent < length) {
    bool reconnected = false;
    {
      std::lock_guard<std::mutex> guard(self->io);
      if (!_isConnected(self)) return aErrConnection;
      const ssize_t count = send(self->descriptor, data + sent, length - sent, MSG_NOSIGNAL);
      if (count > 0) {
        sent += static_cast<size_t>(count);
        if (sent == length) break;
        attempts = 1;
      } else if (errno == EINTR) {
        continue;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        ++attempts;
      } else if (errno == EPIPE || _isLoss(errno)) {
        const aErr err = _reconnect(self);
        if (err != aErrNone) return aErrConnection;
        reconnected = true;
        ++attempts;
      } else {
        return aErrIO;
      }
    }
    if (attempts >= kWriteAttempts) break;
    if (reconnected) {
      aTime_MSSleep(kWritePauseMs);
    } else {
      aDescriptor_AwaitWritable(self->descriptor, kWritePauseMs);
    }
  }
  if (sent < length) {
    aDebug_Print(aDEBUG_LINK, " socket stream: gave up writing with %zu of %zu bytes sent\n", sent, length);
    return aErrWrite;
  }
  return aErrNone;
}

aErr sSocketPut(uint8_t byte, void* reference) { return sSocketWrite(&byte, 1, reference); }

aErr sSocketDelete(void* reference) {
  auto* self = static_cast<SocketReference*>(reference);
  if (!_isValid(self)) return aErrParam;
  {
    std::lock_guard<std::mutex> guard(self->io);
    _close(self);
    self->flags = 0;
    self->tag = 0;
  }
  delete self;
  return aErrNone;
}

}  // namespace

aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStreamRef* stream) {
  if (stream == nullptr) return aErrResource;
  *stream = nullptr;
  auto* self = new (std::nothrow) SocketReference{};
  if (self == nullptr) return aErrResource;
  self->port = port;
  self->address.sin_family = AF_INET;
  self->address.sin_port = htons(port);
  self->address.sin_addr.s_addr = address;
  self->tag = kSocketTag;
  aErr err = aErrNone;
  {
    std::lock_guard<std::mutex> guard(self->io);
    err = _reconnect(self);
  }
  aStreamRef created = err == aErrNone ? aStream_Create(sSocketGet, sSocketPut, sSocketWrite, sSocketDelete, self)
                                       : nullptr;
  if (created == nullptr) {
    sSocketDelete(self);
    return aErrResource;
  }
  aStream_SetWait(created, sSocketWait);
  *stream = created;
  return aErrNone;
}
