#include "common/aUEI.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Commands whose packets carry something other than a UEI: heartbeats, the
// raw-command entities, the debug echo, module information, factory data,
// the upgrade loader and the reserved address-query and force-route codes.
constexpr std::array<uint8_t, 13> kNotUEICommands = {0x00, 0x01, 0x02, 0x04, 0x08, 0x09, 0x17,
                                                     0x18, 0x49, 0x5E, 0x5F, 0xAD, 0xAF};

// The trailer byte of a byte-string packet, or 0 when there is none.
uint8_t _trailer(const aPacket* packet) {
  if (packet == nullptr || packet->length == 0 || packet->length > aPACKET_MAXDATA) return 0;
  return packet->data[packet->length - 1];
}

}  // namespace

uint16_t aUEI_RetrieveShort(const uint8_t* bytes) {
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

void aUEI_StoreShort(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

uint32_t aUEI_RetrieveInt(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

void aUEI_StoreInt(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

void aUEI_ModifyIntBuffer(uint32_t* words, size_t count) {
  if (words == nullptr) return;
  for (size_t i = 0; i < count; ++i) {
    uint8_t bytes[4];
    memcpy(bytes, &words[i], sizeof bytes);
    words[i] = aUEI_RetrieveInt(bytes);
  }
}

uint8_t aUEI_getBytesSequence(const aPacket* packet) {
  return _trailer(packet) & UEI_BYTES_SEQUENCE_MASK;
}

uint8_t aUEI_getBytesContinue(const aPacket* packet) {
  return _trailer(packet) & UEI_BYTES_MORE;
}

bool aUEI_getBytesFullPacket(const aPacket* packet) {
  return packet != nullptr && (packet->length == aPACKET_MAXDATA - 1 || packet->length == aPACKET_MAXDATA);
}

bool aUEI_isNotUEIPayload(const aPacket* packet) {
  if (packet == nullptr) return false;
  if (packet->length == 0) return true;  // no command byte, so no UEI either
  return std::find(kNotUEICommands.begin(), kNotUEICommands.end(), packet->data[0]) != kNotUEICommands.end();
}

bool aUEI_isUEIPayload(const aPacket* packet) {
  return !aUEI_isNotUEIPayload(packet);
}

bool aUEI_isStreamPacket(const aPacket* packet) {
  return packet != nullptr && packet->length > 4 && packet->length <= aPACKET_MAXDATA && aUEI_isUEIPayload(packet) &&
         (packet->data[1] & (UEI_GET | UEI_SET)) == 0 && (packet->data[2] & UEI_STREAM) != 0;
}
