// Thread-safe packet queues named by a 64-bit identifier (0 = none), at most
// 1000 packets each. Every packet handed out is a fresh copy owned by the
// caller (aPacket_Destroy); a FIFO keeps its own copy of every packet put.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/aError.h"
#include "common/aPacket.h"

typedef uint64_t aPacketFifoId;

constexpr size_t aPACKETFIFO_MAXPACKETS = 1000;

aPacketFifoId aPacketFifo_Create();
aErr aPacketFifo_Destroy(aPacketFifoId* fifo);
aErr aPacketFifo_Put(aPacketFifoId fifo, const aPacket* packet);
aPacket* aPacketFifo_Get(aPacketFifoId fifo);
aPacket* aPacketFifo_Await(aPacketFifoId fifo, unsigned long timeoutMs);
// A null filter accepts every packet.
aPacket* aPacketFifo_GetFirst(aPacketFifoId fifo, aPacketFilter filter, const void* reference);
// Waits for a packet the filter accepts; the filter sees each packet at most once per call.
aPacket* aPacketFifo_AwaitFirst(aPacketFifoId fifo, aPacketFilter filter, const void* reference,
                                unsigned long timeoutMs);
size_t aPacketFifo_DrainPackets(aPacketFifoId fifo, aPacketFilter filter, const void* reference);
size_t aPacketFifo_GetLength(aPacketFifoId fifo);
