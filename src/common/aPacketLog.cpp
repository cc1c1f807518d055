#include "common/aPacketLog.h"

#include <new>
#include <vector>

struct aPacketLog {
  std::vector<uint8_t> buffer;
  uint32_t size;
  uint32_t readPosition;
  uint32_t writePosition;
};

namespace {

uint32_t _used(const aPacketLog* log) { return (log->writePosition + log->size - log->readPosition) % log->size; }
uint8_t _at(const aPacketLog* log, uint32_t position) { return log->buffer[position % log->size]; }

void _dropOldest(aPacketLog* log) {
  const uint32_t recordLength = 2u + _at(log, log->readPosition + 1);
  log->readPosition = (log->readPosition + recordLength) % log->size;
}

}  // namespace

aPacketLog* aPacketLog_Create(uint32_t size) {
  if (size < 2 || size > aPACKETLOG_MAXSIZE) return nullptr;
  auto* log = new (std::nothrow) aPacketLog{};
  if (log == nullptr) return nullptr;
  try {
    log->buffer.resize(size);
  } catch (const std::bad_alloc&) {
    delete log;
    return nullptr;
  }
  log->size = size;
  return log;
}

aErr aPacketLog_Put(aPacketLog* log, uint8_t type, uint32_t length, const uint8_t* bytes) {
  if (log == nullptr || (bytes == nullptr && length > 0) || length > 255) return aErrParam;
  const uint32_t needed = length + 2;
  if (needed >= log->size) return aErrOverrun;
  // One byte always stays free, so equal positions mean empty.
  while (log->size - _used(log) <= needed) _dropOldest(log);
  log->buffer[log->writePosition] = type;
  log->buffer[(log->writePosition + 1) % log->size] = static_cast<uint8_t>(length);
  for (uint32_t i = 0; i < length; ++i) log->buffer[(log->writePosition + 2 + i) % log->size] = bytes[i];
  log->writePosition = (log->writePosition + needed) % log->size;
  return aErrNone;
}

aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, uint32_t* length, uint8_t* buffer) {
  if (log == nullptr || length == nullptr || (buffer == nullptr && *length > 0)) return aErrParam;
  if (log->readPosition == log->writePosition) return aErrNotFound;
  const uint32_t recordLength = _at(log, log->readPosition + 1);
  if (type != nullptr) *type = _at(log, log->readPosition);
  const uint32_t room = *length;
  *length = recordLength;
  if (room < recordLength) return aErrOverrun;
  for (uint32_t i = 0; i < recordLength; ++i) buffer[i] = _at(log, log->readPosition + 2 + i);
  log->readPosition = (log->readPosition + 2 + recordLength) % log->size;
  return aErrNone;
}

aErr aPacketLog_Destroy(aPacketLog** log) {
  if (log == nullptr || *log == nullptr) return aErrParam;
  delete *log;
  *log = nullptr;
  return aErrNone;
}
