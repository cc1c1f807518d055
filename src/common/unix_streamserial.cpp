// The serial port stream kind over termios. The descriptor stays non-blocking:
// get answers at once, the wait operation lets a reader sleep on the port, and
// a write that the line cannot take in a bounded time fails instead of hanging.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "common/aFile.h"
#include "common/aStream.h"
#include "common/aTime.h"
#include "common/unix_descriptor.h"

namespace {

constexpr uint16_t kSerialTag = 0xBEEF;
// Beyond the time the bytes need on the wire at the port's speed.
constexpr uint64_t kWriteMarginMs = 2000;

struct SerialReference {
  uint32_t baudCode;
  char path[aFILE_MAXPATH + 1];
  int descriptor;
  termios original;
  termios applied;
  bool restore;  // the original settings were read and go back on delete
  uint16_t tag;
  // Received bytes not yet handed out; touched by the reading thread only.
  uint8_t buffer[256];
  size_t available;
  size_t position;
};

struct Speed {
  speed_t code;
  uint32_t bitsPerSecond;
};

Speed _speed(uint32_t baudCode) {
  static const Speed table[] = {{B2400, 2400},   {B4800, 4800},   {B9600, 9600},     {B19200, 19200},
                                {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  return baudCode < sizeof table / sizeof table[0] ? table[baudCode] : Speed{B0, 0};
}

bool _isValid(const SerialReference* self) { return self != nullptr && self->tag == kSerialTag; }

aErr _open(SerialReference* self, uint32_t parity, uint32_t dataBits, uint32_t stopBits) {
  self->descriptor = open(self->path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (self->descriptor < 0) {
    if (errno == ENOENT) return aErrNotFound;
    if (errno == EACCES || errno == EPERM) return aErrPermission;
    return aErrIO;
  }
  if (tcgetattr(self->descriptor, &self->original) != 0) return aErrIO;
  self->restore = true;
  termios raw{};
  raw.c_cflag = CREAD | CLOCAL | (parity == 1 ? PARENB : 0) | (dataBits == 1 ? CS7 : CS8) | (stopBits == 1 ? CSTOPB : 0);
  raw.c_iflag = IGNBRK | (parity == 1 ? IGNPAR : 0);
  raw.c_oflag = 0;
  raw.c_lflag = 0;
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  const speed_t speed = _speed(self->baudCode).code;
  if (cfsetispeed(&raw, speed) != 0 || cfsetospeed(&raw, speed) != 0) return aErrIO;
  if (tcsetattr(self->descriptor, TCSANOW, &raw) != 0) return aErrIO;
  if (tcflush(self->descriptor, TCIOFLUSH) != 0) return aErrIO;
  self->applied = raw;
  return aErrNone;
}

aErr sSerialGet(uint8_t* byte, void* reference) {
  auto* self = static_cast<SerialReference*>(reference);
  if (!_isValid(self) || byte == nullptr) return aErrParam;
  if (self->available == 0) {
    const ssize_t count = read(self->descriptor, self->buffer, sizeof self->buffer);
    if (count == 0) return aErrNotReady;
    if (count < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? aErrNotReady : aErrIO;
    self->available = static_cast<size_t>(count);
    self->position = 0;
  }
  *byte = self->buffer[self->position++];
  --self->available;
  return aErrNone;
}

aErr sSerialWait(unsigned long timeoutMs, void* reference) {
  auto* self = static_cast<SerialReference*>(reference);
  if (!_isValid(self) || self->available > 0) return aErrNone;
  return aDescriptor_AwaitReadable(self->descriptor, timeoutMs);
}

// Waits until the port has sent what it holds, or the deadline passes.
aErr _drain(const SerialReference* self, uint64_t deadline) {
  for (;;) {
    int pending = 0;
    if (ioctl(self->descriptor, TIOCOUTQ, &pending) != 0) return tcdrain(self->descriptor) == 0 ? aErrNone : aErrIO;
    if (pending == 0) return aErrNone;
    if (aTime_GetMSTicks() >= deadline) return aErrIO;
    aTime_MSSleep(1);
  }
}

aErr sSerialWrite(const uint8_t* data, size_t length, void* reference) {
  auto* self = static_cast<SerialReference*>(reference);
  if (!_isValid(self) || data == nullptr) return aErrParam;
  const uint32_t bitsPerSecond = _speed(self->baudCode).bitsPerSecond;
  const uint64_t lineMs = bitsPerSecond == 0 ? 0 : static_cast<uint64_t>(length) * 10 * 1000 / bitsPerSecond;
  const uint64_t deadline = aTime_GetMSTicks() + kWriteMarginMs + lineMs;
  size_t sent = 0;
  while (sent < length) {
    const ssize_t count = write(self->descriptor, data + sent, length - sent);
    if (count > 0) {
      sent += static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return aErrIO;
    const uint64_t now = aTime_GetMSTicks();
    if (now >= deadline) return aErrIO;
    aDescriptor_AwaitWritable(self->descriptor, static_cast<unsigned long>(deadline - now));
  }
  return _drain(self, deadline);
}

aErr sSerialPut(uint8_t byte, void* reference) { return sSerialWrite(&byte, 1, reference); }

aErr sSerialDelete(void* reference) {
  auto* self = static_cast<SerialReference*>(reference);
  if (!_isValid(self)) return aErrParam;
  aErr result = aErrNone;
  if (self->descriptor >= 0) {
    if (self->restore && tcsetattr(self->descriptor, TCSANOW, &self->original) != 0) result = aErrIO;
    close(self->descriptor);
  }
  self->tag = 0;
  delete self;
  return result;
}

}  // namespace

aErr aStream_CreateSerial(const char* path, uint32_t baudCode, uint32_t parity, uint32_t dataBits, uint32_t stopBits,
                          aStreamRef* stream) {
  if (stream != nullptr) *stream = nullptr;
  if (path == nullptr || stream == nullptr || parity > 1 || dataBits > 1 || stopBits > 1) return aErrParam;
  if (strlen(path) > aFILE_MAXPATH) return aErrFileNameLength;
  auto* self = new (std::nothrow) SerialReference{};
  if (self == nullptr) return aErrMemory;
  self->baudCode = baudCode;
  strcpy(self->path, path);
  self->descriptor = -1;
  self->tag = kSerialTag;
  const aErr err = _open(self, parity, dataBits, stopBits);
  if (err != aErrNone) {
    sSerialDelete(self);
    return err;
  }
  aStreamRef created = aStream_Create(sSerialGet, sSerialPut, sSerialWrite, sSerialDelete, self);
  if (created == nullptr) {
    sSerialDelete(self);
    return aErrResource;
  }
  aStream_SetWait(created, sSerialWait);
  *stream = created;
  return aErrNone;
}
