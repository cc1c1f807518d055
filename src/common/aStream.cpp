#include "common/aStream.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint16_t kStreamTag = 0x4321;
constexpr size_t kRingStep = 512;
// Reads up to this length need no heap buffer; the link reads one byte at a time.
constexpr size_t kSmallRead = 64;

}  // namespace

struct aStreamHandle {
  aStreamGetProc get;
  aStreamPutProc put;
  aStreamWriteProc write;
  aStreamDeleteProc deleteProc;
  void* reference;
  // Push-back ring; it wraps at its capacity and one slot always stays free.
  std::vector<uint8_t> ring;
  size_t held;
  size_t readPosition;
  size_t writePosition;
  uint16_t tag;
  aStreamWaitProc wait;
};

namespace {

bool _isValid(const aStreamHandle* stream) { return stream != nullptr && stream->tag == kStreamTag; }

bool _takeHeld(aStreamHandle* stream, uint8_t* byte) {
  if (stream->held == 0) return false;
  *byte = stream->ring[stream->readPosition];
  stream->readPosition = (stream->readPosition + 1) % stream->ring.size();
  --stream->held;
  return true;
}

// One byte from the ring, else from the kind.
aErr _nextByte(aStreamHandle* stream, uint8_t* byte) {
  if (_takeHeld(stream, byte)) return aErrNone;
  return stream->get(byte, stream->reference);
}

aErr _pushBack(aStreamHandle* stream, const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const aErr err = aStreamBufferChar(stream, bytes[i]);
    if (err != aErrNone) return err;
  }
  return aErrNone;
}

// Scratch space for one read: on the stack for small reads, else on the heap.
class Scratch {
 public:
  bool reserve(size_t length) {
    if (length <= small_.size()) return true;
    try {
      large_.resize(length);
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  uint8_t* data() { return large_.empty() ? small_.data() : large_.data(); }

 private:
  std::array<uint8_t, kSmallRead> small_{};
  std::vector<uint8_t> large_;
};

// Reads a record of at most size - 1 bytes and terminates it as a string.
aErr _readCString(aStreamRef stream, char* buffer, size_t size, const uint8_t* terminator, size_t terminatorLength) {
  if (buffer == nullptr || size == 0) return aErrParam;
  size_t length = 0;
  const aErr err =
      aStream_ReadRecord(stream, reinterpret_cast<uint8_t*>(buffer), &length, size - 1, terminator, terminatorLength);
  buffer[err == aErrNone ? length : 0] = '\0';
  return err;
}

}  // namespace

aStreamRef aStream_Create(aStreamGetProc get, aStreamPutProc put, aStreamWriteProc write,
                          aStreamDeleteProc deleteProc, void* reference) {
  auto* stream = new (std::nothrow) aStreamHandle{};
  if (stream == nullptr) return nullptr;
  stream->get = get;
  stream->put = put;
  stream->write = write;
  stream->deleteProc = deleteProc;
  stream->reference = reference;
  stream->tag = kStreamTag;
  return stream;
}

aErr aStream_SetWait(aStreamRef stream, aStreamWaitProc wait) {
  if (!_isValid(stream)) return aErrParam;
  stream->wait = wait;
  return aErrNone;
}

aErr aStream_AwaitInput(aStreamRef stream, unsigned long timeoutMs) {
  if (!_isValid(stream)) return aErrParam;
  if (stream->held > 0 || stream->wait == nullptr) return aErrNone;
  return stream->wait(timeoutMs, stream->reference);
}

aErr aStreamBufferChar(aStreamRef stream, uint8_t byte) {
  if (!_isValid(stream)) return aErrParam;
  try {
    if (stream->ring.empty()) stream->ring.resize(kRingStep);
    if (stream->held == stream->ring.size() - 1) {
      std::vector<uint8_t> grown(stream->ring.size() + kRingStep);
      for (size_t i = 0; i < stream->held; ++i) grown[i] = stream->ring[(stream->readPosition + i) % stream->ring.size()];
      stream->ring.swap(grown);
      stream->readPosition = 0;
      stream->writePosition = stream->held;
    }
  } catch (const std::bad_alloc&) {
    return aErrMemory;
  }
  stream->ring[stream->writePosition] = byte;
  stream->writePosition = (stream->writePosition + 1) % stream->ring.size();
  ++stream->held;
  return aErrNone;
}

aErr aStream_Read(aStreamRef stream, uint8_t* buffer, size_t length) {
  if (!_isValid(stream) || buffer == nullptr) return aErrParam;
  if (stream->get == nullptr) return aErrMode;
  Scratch scratch;
  if (!scratch.reserve(length)) return aErrResource;
  uint8_t* taken = scratch.data();
  size_t count = 0;
  aErr err = aErrNone;
  while (count < length && (err = _nextByte(stream, &taken[count])) == aErrNone) ++count;
  if (err == aErrNotReady) {
    const aErr pushed = _pushBack(stream, taken, count);
    return pushed != aErrNone ? pushed : aErrNotReady;
  }
  if (err != aErrNone && err != aErrEOF) return err;
  if (count > 0) memcpy(buffer, taken, count);
  return err;
}

aErr aStream_Write(aStreamRef stream, const uint8_t* data, size_t length) {
  if (!_isValid(stream) || data == nullptr) return aErrParam;
  if (stream->write == nullptr && stream->put == nullptr) return aErrMode;
  if (stream->write != nullptr && (length > 1 || stream->put == nullptr)) {
    return stream->write(data, length, stream->reference);
  }
  for (size_t i = 0; i < length; ++i) {
    const aErr err = stream->put(data[i], stream->reference);
    if (err != aErrNone) return err;
  }
  return aErrNone;
}

aErr aStream_ReadRecord(aStreamRef stream, uint8_t* buffer, size_t* length, size_t size, const uint8_t* terminator,
                        size_t terminatorLength) {
  if (!_isValid(stream) || buffer == nullptr || terminator == nullptr || terminatorLength == 0) return aErrParam;
  if (stream->get == nullptr) return aErrMode;
  std::vector<uint8_t> consumed;  // every byte taken, for an all-or-nothing retreat
  std::vector<uint8_t> stored;
  size_t matched = 0;
  try {
    while (stored.size() < size) {
      uint8_t byte = 0;
      const aErr err = _nextByte(stream, &byte);
      if (err == aErrNotReady) {
        const aErr pushed = _pushBack(stream, consumed.data(), consumed.size());
        return pushed != aErrNone ? pushed : aErrNotReady;
      }
      if (err == aErrEOF) {
        if (stored.empty()) return aErrEOF;
        break;
      }
      if (err != aErrNone) return err;
      consumed.push_back(byte);
      if (byte == terminator[matched]) {
        if (++matched == terminatorLength) break;
        continue;
      }
      // A partial terminator followed by another byte was data after all.
      for (size_t i = 0; i < matched && stored.size() < size; ++i) stored.push_back(terminator[i]);
      matched = 0;
      if (stored.size() == size) break;
      if (byte == terminator[0]) {
        matched = 1;
        if (matched == terminatorLength) break;
        continue;
      }
      stored.push_back(byte);
    }
  } catch (const std::bad_alloc&) {
    return aErrResource;
  }
  if (!stored.empty()) memcpy(buffer, stored.data(), stored.size());
  if (length != nullptr) *length = stored.size();
  return aErrNone;
}

aErr aStream_WriteRecord(aStreamRef stream, const uint8_t* data, size_t length, const uint8_t* terminator,
                         size_t terminatorLength) {
  if (!_isValid(stream) || data == nullptr || terminator == nullptr || terminatorLength == 0) return aErrParam;
  const aErr err = aStream_Write(stream, data, length);
  return err != aErrNone ? err : aStream_Write(stream, terminator, terminatorLength);
}

aErr aStream_ReadCString(aStreamRef stream, char* buffer, size_t size) {
  const uint8_t terminator = 0;
  return _readCString(stream, buffer, size, &terminator, 1);
}

aErr aStream_WriteCString(aStreamRef stream, const char* text) {
  if (text == nullptr) return aErrParam;
  return aStream_Write(stream, reinterpret_cast<const uint8_t*>(text), strlen(text) + 1);
}

aErr aStream_ReadCStringRecord(aStreamRef stream, char* buffer, size_t size, const char* terminator) {
  if (terminator == nullptr) return aErrParam;
  return _readCString(stream, buffer, size, reinterpret_cast<const uint8_t*>(terminator), strlen(terminator));
}

aErr aStream_WriteCStringRecord(aStreamRef stream, const char* text, const char* terminator) {
  if (text == nullptr || terminator == nullptr) return aErrParam;
  return aStream_WriteRecord(stream, reinterpret_cast<const uint8_t*>(text), strlen(text),
                             reinterpret_cast<const uint8_t*>(terminator), strlen(terminator) + 1);
}

aErr aStream_Flush(aStreamRef from, aStreamRef to) {
  if (!_isValid(from) || !_isValid(to)) return aErrParam;
  if (from->get == nullptr || to->put == nullptr) return aErrMode;
  for (;;) {
    uint8_t byte = 0;
    aErr err = _nextByte(from, &byte);
    if (err == aErrEOF) return aErrNone;
    if (err != aErrNone) return err;
    err = to->put(byte, to->reference);
    if (err != aErrNone) return err;
  }
}

aErr aStream_Destroy(aStreamRef* stream) {
  if (stream == nullptr) return aErrParam;
  aStreamHandle* self = *stream;
  *stream = nullptr;
  if (!_isValid(self)) return aErrParam;
  const aErr result = self->deleteProc != nullptr ? self->deleteProc(self->reference) : aErrNone;
  self->tag = 0;
  delete self;
  return result;
}
