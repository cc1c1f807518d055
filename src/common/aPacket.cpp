#include "common/aPacket.h"

#include <cstring>
#include <new>

namespace {

bool _isValid(const aPacket* packet) { return packet != nullptr && packet->tag == aPACKET_TAG; }

// Reads data byte `position` when the packet carries it.
aErr _dataByte(const aPacket* packet, uint8_t position, uint8_t mask, uint8_t* out) {
  if (out == nullptr) return aErrParam;
  if (!_isValid(packet) || packet->length <= position) return aErrPacket;
  *out = packet->data[position] & mask;
  return aErrNone;
}

}  // namespace

aPacket* aPacket_Create() {
  auto* packet = new (std::nothrow) aPacket{};
  if (packet != nullptr) packet->tag = aPACKET_TAG;
  return packet;
}

aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data) {
  if (data == nullptr || length > aPACKET_MAXDATA) return nullptr;
  aPacket* packet = aPacket_Create();
  if (packet == nullptr) return nullptr;
  packet->address = address;
  packet->length = length;
  packet->received = static_cast<uint8_t>(length + 2);
  memcpy(packet->data, data, length);
  return packet;
}

aPacket* aPacket_Copy(const aPacket* packet) {
  if (!_isValid(packet) || packet->length > aPACKET_MAXDATA) return nullptr;
  return aPacket_CreateWithData(packet->address, packet->length, packet->data);
}

aErr aPacket_Reset(aPacket* packet) {
  if (!_isValid(packet)) return aErrParam;
  packet->received = 0;
  packet->address = 0;
  packet->length = 0;
  memset(packet->data, 0, sizeof packet->data);
  return aErrNone;
}

aErr aPacket_AddByte(aPacket* packet, uint8_t byte) {
  if (!_isValid(packet)) return aErrParam;
  // Saturate instead of wrapping, so a stream of junk never makes an
  // overrun packet look empty again.
  if (packet->received > aPACKET_MAXWIRE) return aErrOverrun;
  if (++packet->received > aPACKET_MAXWIRE) return aErrOverrun;
  if (packet->address == 0) {
    if (byte == 0 || (byte & 1) != 0) return aErrPacket;
    packet->address = byte;
    return aErrNone;
  }
  if (packet->received == 2) {
    packet->length = byte;
    return byte > aPACKET_MAXDATA ? aErrPacket : aErrNone;
  }
  if (packet->length > aPACKET_MAXDATA || packet->received > packet->length + 2) return aErrPacket;
  packet->data[packet->received - 3] = byte;
  return aErrNone;
}

bool aPacket_IsComplete(const aPacket* packet) {
  return _isValid(packet) && packet->received == packet->length + 2;
}

aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command) { return _dataByte(packet, 0, 0xFF, command); }
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option) { return _dataByte(packet, 1, 0x3F, option); }
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index) { return _dataByte(packet, 2, 0x1F, index); }

aErr aPacket_Destroy(aPacket** packet) {
  if (packet == nullptr || *packet == nullptr) return aErrParam;
  (*packet)->tag = 0;
  delete *packet;
  *packet = nullptr;
  return aErrNone;
}
