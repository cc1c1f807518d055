#include "cpp/Entity.h"

#include <cstring>

#include "cpp/Link.h"
#include "cpp/Module.h"
#include "cpp/ueiReply.h"

namespace Quorvant::Wrenfield {

namespace {

uei makeUEI(ueiKind kind, uint32_t value) {
  uei message{};
  message.kind = kind;
  switch (kind) {
    case UEI_BYTE: message.value.byteVal = static_cast<uint8_t>(value); break;
    case UEI_SHORT: message.value.shortVal = static_cast<uint16_t>(value); break;
    default: message.value.intVal = value; break;
  }
  return message;
}

// The scalar value a reply carried; false when it carried none.
bool scalarValue(const uei& message, uint32_t* value) {
  switch (message.kind) {
    case UEI_BYTE: *value = message.value.byteVal; return true;
    case UEI_SHORT: *value = message.value.shortVal; return true;
    case UEI_INT: *value = message.value.intVal; return true;
    default: return false;
  }
}

// Takes the next packet of a byte string into the record's buffer: packets
// arrive in sequence, and one that does not fit ends the get with aErrMemory.
uint8_t sUEIBytesFilter(const aPacket* packet, const void* reference) {
  auto* message = static_cast<uei*>(const_cast<void*>(reference));
  if (!ueiReplyMatches(packet, *message)) return 0;
  if (ueiTakeErrorReply(packet, message)) return 1;
  if (packet->length <= UEI_HEADER_LENGTH) return 0;  // no trailer: not part of a byte string
  ueiBytes& bytes = message->value.bytes;
  if (aUEI_getBytesSequence(packet) != bytes.sequence) return 0;
  const size_t payload = packet->length - UEI_HEADER_LENGTH - 1u;
  if (payload > bytes.length - *bytes.received) {
    message->index |= UEI_ERROR;
    message->value.byteVal = aErrMemory;
    return 1;
  }
  if (payload != 0) memcpy(bytes.data + *bytes.received, packet->data + UEI_HEADER_LENGTH, payload);
  *bytes.received += payload;
  bytes.more = aUEI_getBytesContinue(packet);
  return 1;
}

}  // namespace

struct EntityClass::Impl {
  Module* module = nullptr;
  uint8_t command = 0;
  uint8_t index = 0;

  Link* link() const { return module != nullptr ? module->getLink() : nullptr; }
  uint8_t address() const { return module->getModuleAddress(); }

  // Fills the record with this entity's request header and sends it.
  aErr sendRequest(uint8_t optionByte, uei* message, const uint8_t* subindex) {
    message->module = address();
    message->command = command;
    message->option = optionByte;
    message->index = index | UEI_HOST;
    return subindex != nullptr ? link()->sendUEI(*message, *subindex) : link()->sendUEI(*message);
  }

  // Waits for the reply to the record's option byte; an error reply's code is the result.
  aErr awaitReply(uint8_t optionByte, uei* message, aPacketFilter filter = nullptr) {
    message->module = address();
    message->command = command;
    message->option = optionByte;
    message->index = index;
    const aErr result = filter != nullptr
                            ? link()->receiveUEI(address(), command, optionByte, index, message, filter)
                            : link()->receiveUEI(address(), command, optionByte, index, message);
    if (result == aErrNone && (message->index & UEI_ERROR)) return message->value.byteVal;
    return result;
  }

  aErr set(uint8_t option, uei* message, const uint8_t* subindex) {
    if (message == nullptr) return aErrParam;
    if (link() == nullptr) return aErrResource;
    const aErr sent = sendRequest(option | UEI_SET, message, subindex);
    if (sent != aErrNone) return sent;
    return awaitReply(option | UEI_SET_REPLY, message);
  }

  template <typename T>
  aErr getTyped(EntityClass& entity, uint8_t option, const uint8_t* subindex, T* out) {
    if (out == nullptr) return aErrParam;
    // A subindexed get carries its subindex as the request's value byte.
    uei message = subindex != nullptr ? makeUEI(UEI_BYTE, *subindex) : makeUEI(UEI_VOID, 0);
    const aErr result = entity.getUEI(option, &message);
    if (result != aErrNone && result != aErrStreamStale) return result;
    uint32_t value = 0;
    if (!scalarValue(message, &value)) return aErrSize;  // the module sent no value of a known size
    *out = static_cast<T>(value);
    return result;
  }
};

EntityClass::EntityClass() : m_impl(std::make_unique<Impl>()) {}

EntityClass::~EntityClass() = default;

aErr EntityClass::init(Module* module, uint8_t command, uint8_t index) {
  m_impl->module = module;
  m_impl->command = command;
  m_impl->index = index;
  return aErrNone;
}

uint8_t EntityClass::getIndex() const {
  return m_impl->index;
}

aErr EntityClass::sendPacket(uint8_t command, uint8_t length, const uint8_t* data) {
  Link* link = m_impl->link();
  return link != nullptr ? link->sendPacket(m_impl->address(), command, length, data) : aErrResource;
}

aErr EntityClass::receivePacket(const uint8_t* match, uint8_t* length, uint8_t* data) {
  Link* link = m_impl->link();
  return link != nullptr ? link->receivePacket(m_impl->address(), match, length, data) : aErrResource;
}

aErr EntityClass::getUEI(uint8_t option, uei* message) {
  if (message == nullptr) return aErrParam;
  Link* link = m_impl->link();
  if (link == nullptr) return aErrResource;
  // A streamed value answers without asking the module.
  const uint8_t subindex = message->kind == UEI_BYTE ? message->value.byteVal : 0;
  uint32_t streamed = 0;
  const aErr cached = link->getStreamValue(m_impl->address(), m_impl->command, option, m_impl->index, subindex,
                                           &streamed);
  if (cached != aErrNotFound) {
    message->kind = UEI_INT;
    message->value.intVal = streamed;
    return cached;
  }
  const aErr sent = m_impl->sendRequest(option | UEI_GET, message, nullptr);
  if (sent != aErrNone) return sent;
  // What the request carried is no answer: the record holds only what the reply brings.
  message->kind = UEI_VOID;
  message->value = {};
  return m_impl->awaitReply(option, message);
}

aErr EntityClass::setUEI(uint8_t option, uei* message) {
  return m_impl->set(option, message, nullptr);
}

aErr EntityClass::setUEI(uint8_t option, uint8_t subindex, uei* message) {
  return m_impl->set(option, message, &subindex);
}

aErr EntityClass::callUEI(uint8_t option) {
  uei message = makeUEI(UEI_VOID, 0);
  return setUEI(option, &message);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t value) {
  uei message = makeUEI(UEI_BYTE, value);
  return setUEI(option, &message);
}

aErr EntityClass::setUEI8(uint8_t option, uint8_t subindex, uint8_t value) {
  uei message = makeUEI(UEI_BYTE, value);
  return setUEI(option, subindex, &message);
}

aErr EntityClass::setUEI16(uint8_t option, uint16_t value) {
  uei message = makeUEI(UEI_SHORT, value);
  return setUEI(option, &message);
}

aErr EntityClass::setUEI16(uint8_t option, uint8_t subindex, uint16_t value) {
  uei message = makeUEI(UEI_SHORT, value);
  return setUEI(option, subindex, &message);
}

aErr EntityClass::setUEI32(uint8_t option, uint32_t value) {
  uei message = makeUEI(UEI_INT, value);
  return setUEI(option, &message);
}

aErr EntityClass::setUEI32(uint8_t option, uint8_t subindex, uint32_t value) {
  uei message = makeUEI(UEI_INT, value);
  return setUEI(option, subindex, &message);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t* out) {
  return m_impl->getTyped(*this, option, nullptr, out);
}

aErr EntityClass::getUEI8(uint8_t option, uint8_t subindex, uint8_t* out) {
  return m_impl->getTyped(*this, option, &subindex, out);
}

aErr EntityClass::getUEI16(uint8_t option, uint16_t* out) {
  return m_impl->getTyped(*this, option, nullptr, out);
}

aErr EntityClass::getUEI16(uint8_t option, uint8_t subindex, uint16_t* out) {
  return m_impl->getTyped(*this, option, &subindex, out);
}

aErr EntityClass::getUEI32(uint8_t option, uint32_t* out) {
  return m_impl->getTyped(*this, option, nullptr, out);
}

aErr EntityClass::getUEI32(uint8_t option, uint8_t subindex, uint32_t* out) {
  return m_impl->getTyped(*this, option, &subindex, out);
}

aErr EntityClass::setUEIBytes(uint8_t option, const uint8_t* data, size_t length) {
  uei message{};
  message.kind = UEI_BYTES;
  // A send only reads the bytes.
  message.value.bytes = ueiBytes{const_cast<uint8_t*>(data), 0, 0, length, nullptr};
  return setUEI(option, &message);
}

aErr EntityClass::getUEIBytes(uint8_t option, uint8_t* buffer, size_t capacity, size_t* received) {
  if (buffer == nullptr || received == nullptr || capacity == 0) return aErrParam;
  *received = 0;
  if (m_impl->link() == nullptr) return aErrResource;
  uei request = makeUEI(UEI_VOID, 0);
  const aErr sent = m_impl->sendRequest(option | UEI_GET, &request, nullptr);
  if (sent != aErrNone) return sent;
  uei reply{};
  reply.kind = UEI_BYTES;
  reply.value.bytes = ueiBytes{buffer, 0, 0, capacity, received};
  for (;;) {
    const aErr result = m_impl->awaitReply(option, &reply, sUEIBytesFilter);
    if (result != aErrNone || !reply.value.bytes.more) return result;
    // The sender numbers its packets modulo 128, so long strings wrap.
    reply.value.bytes.sequence = (reply.value.bytes.sequence + 1) & UEI_BYTES_SEQUENCE_MASK;
  }
}

uint8_t EntityClass::getUEIBytesSequence(const aPacket* packet) {
  return aUEI_getBytesSequence(packet);
}

uint8_t EntityClass::getUEIBytesContinue(const aPacket* packet) {
  return aUEI_getBytesContinue(packet);
}

aErr EntityClass::getUEIBytesCheck(size_t* count, size_t elementSize) {
  if (count == nullptr || elementSize == 0) return aErrParam;
  if (*count % elementSize != 0) return aErrMemory;
  *count /= elementSize;
  return aErrNone;
}

aErr EntityClass::awaitUEI32Val(uint8_t option, uint32_t* out, uint32_t) {
  if (out == nullptr) return aErrParam;
  if (m_impl->link() == nullptr) return aErrResource;
  uei message = makeUEI(UEI_VOID, 0);
  const aErr result = m_impl->awaitReply(option, &message);
  if (result != aErrNone) return result;
  uint32_t value = 0;
  if (!scalarValue(message, &value)) return aErrSize;
  *out = value;
  return aErrNone;
}

aErr EntityClass::drainUEI(uint8_t option) {
  Link* link = m_impl->link();
  if (link == nullptr) return aErrResource;
  return link->dropMatchingUEIPackets(m_impl->address(), m_impl->command, option, m_impl->index);
}

}  // namespace Quorvant::Wrenfield
