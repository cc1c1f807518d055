// One protocol packet: module address, data length (0 to 28) and data.
// On the wire a packet is its address byte, its length byte and the data.
#pragma once

#include <cstdint>

#include "common/aError.h"

constexpr uint8_t aPACKET_MAXDATA = 28;
constexpr uint8_t aPACKET_MAXWIRE = aPACKET_MAXDATA + 2;
constexpr uint16_t aPACKET_TAG = 0xBEEF;

struct aPacket {
  uint16_t tag;
  uint8_t received;  // bytes taken in by aPacket_AddByte (address, length, data)
  uint8_t address;
  uint8_t length;
  uint8_t data[aPACKET_MAXDATA];
};

// A packet filter answers true when the packet matches; FIFOs and links pass
// the caller's reference through. It runs under the FIFO's lock.
typedef uint8_t (*aPacketFilter)(const aPacket* packet, const void* reference);

aPacket* aPacket_Create();
aPacket* aPacket_CreateWithData(uint8_t address, uint8_t length, const uint8_t* data);
aPacket* aPacket_Copy(const aPacket* packet);
aErr aPacket_Reset(aPacket* packet);
// Takes in the next byte of a packet arriving from a stream; the caller tests
// aPacket_IsComplete after every byte.
aErr aPacket_AddByte(aPacket* packet, uint8_t byte);
bool aPacket_IsComplete(const aPacket* packet);
aErr aPacket_GetCmd(const aPacket* packet, uint8_t* command);
aErr aPacket_GetOption(const aPacket* packet, uint8_t* option);
aErr aPacket_GetIndex(const aPacket* packet, uint8_t* index);
aErr aPacket_Destroy(aPacket** packet);

// Deleter for owning smart pointers of packets.
struct aPacketDeleter {
  void operator()(aPacket* packet) const { aPacket_Destroy(&packet); }
};
