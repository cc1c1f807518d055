// The Link's exchanges: UEIs and raw command packets out, their replies back.
#include <algorithm>
#include <cstring>

#include "common/aDebug.h"
#include "cpp/Link.h"
#include "cpp/LinkState.h"
#include "cpp/ueiReply.h"

namespace Quorvant::Wrenfield {

namespace {

constexpr unsigned long kReplyTimeoutMs = 1000;
// A long byte string keeps the module busy before it answers.
constexpr unsigned long kLargePayloadTimeoutMs = 4000;
constexpr size_t kLargePayload = 1000;
constexpr uint8_t kMaxCommandData = aPACKET_MAXDATA - 1;

// Writes a scalar value most significant byte first; the count written, or
// -1 for a kind that is not a scalar.
int storeValue(const uei& message, uint8_t* bytes) {
  switch (message.kind) {
    case UEI_VOID: return 0;
    case UEI_BYTE: bytes[0] = message.value.byteVal; return 1;
    case UEI_SHORT: aUEI_StoreShort(bytes, message.value.shortVal); return 2;
    case UEI_INT: aUEI_StoreInt(bytes, message.value.intVal); return 4;
    default: return -1;
  }
}

aErr putPacket(aLinkRef linkId, uint8_t module, uint8_t length, const uint8_t* data) {
  std::unique_ptr<aPacket, aPacketDeleter> packet(aPacket_CreateWithData(module, length, data));
  if (packet == nullptr) return aErrResource;
  return aLink_PutPacket(linkId, packet.get());
}

size_t putHeader(const uei& message, uint8_t* data) {
  data[0] = message.command;
  data[1] = message.option;
  data[2] = message.index;
  return UEI_HEADER_LENGTH;
}

// A byte string as a run of packets: up to 24 bytes each, then the trailer.
aErr sendBytes(aLinkRef linkId, const uei& message) {
  const ueiBytes& bytes = message.value.bytes;
  if (bytes.data == nullptr && bytes.length != 0) return aErrParam;
  size_t sent = 0;
  uint32_t count = 0;
  do {
    uint8_t data[aPACKET_MAXDATA];
    size_t length = putHeader(message, data);
    const size_t chunk = std::min<size_t>(bytes.length - sent, UEI_BYTES_CHUNK);
    if (chunk != 0) memcpy(data + length, bytes.data + sent, chunk);
    length += chunk;
    sent += chunk;
    const uint8_t more = sent < bytes.length ? UEI_BYTES_MORE : 0;
    data[length++] = static_cast<uint8_t>(more | (count++ & UEI_BYTES_SEQUENCE_MASK));
    const aErr put = putPacket(linkId, message.module, static_cast<uint8_t>(length), data);
    if (put != aErrNone) return put;
  } while (sent < bytes.length);
  return aErrNone;
}

// Matches the reply a UEI record waits for, and decodes it into the record.
uint8_t sUEIFilter(const aPacket* packet, const void* reference) {
  auto* message = static_cast<uei*>(const_cast<void*>(reference));
  if (!ueiReplyMatches(packet, *message)) return 0;
  if (ueiTakeErrorReply(packet, message)) return 1;
  const uint8_t* value = packet->data + UEI_HEADER_LENGTH;
  switch (packet->length) {
    case 3:
      message->kind = UEI_VOID;
      break;
    case 4:
      message->kind = UEI_BYTE;
      message->value.byteVal = value[0];
      break;
    case 5:
      message->kind = UEI_SHORT;
      message->value.shortVal = aUEI_RetrieveShort(value);
      break;
    case 7:
      message->kind = UEI_INT;
      message->value.intVal = aUEI_RetrieveInt(value);
      break;
    default: break;  // a length that is no scalar kind leaves the record as it was
  }
  return 1;
}

struct CommandMatch {
  const uint8_t* bytes;
  uint8_t length;
};

uint8_t sCommandFilter(const aPacket* packet, const void* reference) {
  const auto* match = static_cast<const CommandMatch*>(reference);
  return packet->length >= match->length && memcmp(packet->data, match->bytes, match->length) == 0;
}

}  // namespace

aErr Link::sendUEI(const uei& message) {
  if (const aErr checked = m_impl->checkModule(message.module); checked != aErrNone) return checked;
  if (message.kind == UEI_BYTES) return sendBytes(m_impl->linkId, message);
  uint8_t data[aPACKET_MAXDATA];
  const size_t header = putHeader(message, data);
  const int valueLength = storeValue(message, data + header);
  if (valueLength < 0) return aErrParam;
  return putPacket(m_impl->linkId, message.module, static_cast<uint8_t>(header + valueLength), data);
}

aErr Link::sendUEI(const uei& message, uint8_t subindex) {
  if (const aErr checked = m_impl->checkModule(message.module); checked != aErrNone) return checked;
  uint8_t data[aPACKET_MAXDATA];
  size_t length = putHeader(message, data);
  data[length++] = subindex;
  const int valueLength = storeValue(message, data + length);
  if (valueLength < 0) return aErrParam;  // byte strings are never subindexed
  return putPacket(m_impl->linkId, message.module, static_cast<uint8_t>(length + valueLength), data);
}

aErr Link::receiveUEI(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uei* message) {
  return receiveUEI(module, command, option, index, message, sUEIFilter);
}

aErr Link::receiveUEI(uint8_t module, uint8_t, uint8_t, uint8_t, uei* message, aPacketFilter filter) {
  if (message == nullptr || filter == nullptr) return aErrParam;
  if (const aErr checked = m_impl->checkModule(module); checked != aErrNone) return checked;
  unsigned long timeoutMs = kReplyTimeoutMs;
  if (message->kind == UEI_BYTES && message->value.bytes.length > kLargePayload) {
    timeoutMs = kLargePayloadTimeoutMs;
    aDebug_Print(aDEBUG_LINK, "receiveUEI - Expanding timeout for large payload: %lu\n", timeoutMs);
  }
  std::unique_ptr<aPacket, aPacketDeleter> reply(aLink_AwaitFirst(m_impl->linkId, filter, message, timeoutMs));
  return reply != nullptr ? aErrNone : aErrTimeout;
}

aErr Link::dropMatchingUEIPackets(uint8_t module, uint8_t command, uint8_t option, uint8_t index) {
  if (const aErr checked = m_impl->checkModule(module); checked != aErrNone) return checked;
  uei pattern{};
  pattern.module = module;
  pattern.command = command;
  pattern.option = option;
  pattern.index = index;
  aLink_DrainPackets(m_impl->linkId, sUEIFilter, &pattern);
  return aErrNone;
}

aErr Link::sendPacket(uint8_t module, uint8_t command, uint8_t length, const uint8_t* data) {
  if (!m_impl->connected()) return aErrConnection;
  if (length > kMaxCommandData || (data == nullptr && length != 0)) return aErrParam;
  if (const aErr checked = m_impl->checkModule(module); checked != aErrNone) return checked;
  uint8_t bytes[aPACKET_MAXDATA];
  bytes[0] = command;
  if (length != 0) memcpy(bytes + 1, data, length);
  return putPacket(m_impl->linkId, module, static_cast<uint8_t>(length + 1), bytes);
}

aErr Link::receivePacket(uint8_t module, const uint8_t* match, uint8_t* length, uint8_t* data) {
  if (const aErr checked = m_impl->checkModule(module); checked != aErrNone) return checked;
  if (match == nullptr || length == nullptr || data == nullptr || *length > aPACKET_MAXDATA) return aErrParam;
  const CommandMatch wanted{match, *length};
  std::unique_ptr<aPacket, aPacketDeleter> reply(aLink_AwaitFirst(m_impl->linkId, sCommandFilter, &wanted,
                                                                   kReplyTimeoutMs));
  if (reply == nullptr) return aErrTimeout;
  *length = std::min(reply->length, aPACKET_MAXDATA);
  memcpy(data, reply->data, *length);
  return aErrNone;
}

aErr Link::getStreamValue(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uint8_t subindex,
                          uint32_t* value) {
  if (value == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(m_impl->streamLock);
  const auto entry = m_impl->streams.find(createStreamKey(module, command, option, index, subindex));
  if (entry == m_impl->streams.end()) return aErrNotFound;
  *value = entry->second.value;
  if (!entry->second.fresh) return aErrStreamStale;
  entry->second.fresh = false;
  return aErrNone;
}

uint64_t Link::createStreamKey(uint8_t module, uint8_t command, uint8_t option, uint8_t index, uint8_t subindex) {
  return static_cast<uint64_t>(subindex) << 32 | static_cast<uint64_t>(module) << 24 |
         static_cast<uint64_t>(command) << 16 | static_cast<uint64_t>(option) << 8 | index;
}

}  // namespace Quorvant::Wrenfield
