// A byte ring of typed records: a type byte, a length byte, then that many
// bytes. When a record does not fit, the oldest records make room for it.
#pragma once

#include <cstdint>

#include "common/aError.h"

enum : uint8_t {
  aPACKETLOG_WRITTEN = 1,  // a packet sent to the module
  aPACKETLOG_RECEIVED = 2,  // a packet received from the module
  aPACKETLOG_TEXT = 3,  // a text record of the object layer
};

constexpr uint32_t aPACKETLOG_DEFAULTSIZE = 65536;
constexpr uint32_t aPACKETLOG_MAXSIZE = 0x4000000;

struct aPacketLog;

// A log of `size` bytes (1 < size <= aPACKETLOG_MAXSIZE), or null.
aPacketLog* aPacketLog_Create(uint32_t size);
aErr aPacketLog_Put(aPacketLog* log, uint8_t type, uint32_t length, const uint8_t* bytes);
// Takes the oldest record. `length` gives the buffer's size and returns the
// record's; a record longer than the buffer stays (aErrOverrun).
aErr aPacketLog_Get(aPacketLog* log, uint8_t* type, uint32_t* length, uint8_t* buffer);
aErr aPacketLog_Destroy(aPacketLog** log);
