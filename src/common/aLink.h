// The link engine: a process-wide table of links to modules, each a stream
// with an input thread that cuts the byte stream into packets (answering
// heartbeats itself) and an output thread that writes queued packets. Callers
// exchange packets through the link's two packet FIFOs.
#pragma once

#include <cstdint>

#include "common/aError.h"
#include "common/aPacket.h"
#include "common/aPacketLog.h"
#include "common/aStream.h"

typedef uint32_t aLinkRef;  // link ID; 0 is never a link

enum aLinkStatus : uint32_t {
  LINK_STOPPED = 0,
  LINK_STARTING = 1,
  LINK_RUNNING = 2,
  LINK_STOPPING = 3,
  LINK_SYNCING = 4,
  LINK_NO_STREAM = 5,
  LINK_IO_ERROR = 6,
  LINK_PACKET_ERROR = 8,
};

enum aLinkKind : uint32_t {
  aLINK_KIND_STREAM = 0,  // a stream made by the caller
  aLINK_KIND_USB = 1,
  aLINK_KIND_TCPIP = 2,
  aLINK_KIND_SERIAL = 3,
  aLINK_KIND_CLIENT = 4,
};

constexpr uint8_t ADDRESS_QUERY = 0xAD;  // 0xAD, 0x00: "answer with your address"
constexpr uint8_t cmdFORCEROUTE = 0xAF;  // 0xAF, 0x01, x: route on (1, link start) or off (0, link stop)
constexpr uint8_t cmdHEARTBEAT = 0x00;

// A user packet filter answers true when it consumes the packet.
typedef bool (*aLinkUserFilter)(const aPacket* packet, void* reference);

// Creators return the link ID, or 0 when anything failed (nothing is left
// behind). Creating a link whose key already has one adds a holder to it.
// USB: keyed by serial number; starts, synchronises and routes to the module.
aLinkRef aLink_CreateUSB(uint32_t serialNumber);
// TCP/IP: keyed by address (network order) and port (host order).
aLinkRef aLink_CreateTCPIP(uint32_t address, uint16_t port);
// Serial: keyed by the caller's identifier; baud rates 2400 .. 230400.
aLinkRef aLink_CreateSerial(uint32_t identifier, const char* portPath, uint32_t baudRate);
// A link over the caller's stream, which the link takes in every case (also
// when creation fails). Every call makes a new link.
aLinkRef aLink_Create(aStreamRef stream);
// (Re)initialises a link that is not running over `stream` (taken by the link).
aLinkRef aLink_Init(aLinkRef link, aStreamRef stream);

aErr aLink_Start(aLinkRef link);
aErr aLink_Sync(aLinkRef link);
aErr aLink_Reset(aLinkRef link);
// Drops one holder; the last one tears the link down. *link becomes 0.
aErr aLink_Destroy(aLinkRef* link);
aLinkStatus aLink_GetStatus(aLinkRef link);
aErr aLink_ForceRoute(aLinkRef link, uint8_t value);

aErr aLink_PutPacket(aLinkRef link, const aPacket* packet);
aPacket* aLink_GetPacket(aLinkRef link);
aPacket* aLink_AwaitPacket(aLinkRef link, unsigned long timeoutMs);
aPacket* aLink_GetFirst(aLinkRef link, aPacketFilter filter, const void* reference);
// Waits for a matching incoming packet while the link is running; null at once otherwise.
aPacket* aLink_AwaitFirst(aLinkRef link, aPacketFilter filter, const void* reference, unsigned long timeoutMs);
size_t aLink_DrainPackets(aLinkRef link, aPacketFilter filter, const void* reference);
// Installs (or with null removes) the filter that sees every incoming packet first.
// It runs on the input thread and must not install or remove a filter itself.
aErr aLink_InstallUserPacketFilter(aLinkRef link, aLinkUserFilter filter, void* reference);
// Pooled output collects queued packets into one write of at most 4096 bytes.
aErr aLink_EnablePooledPackets(aLinkRef link, bool enable);

// The packet debug log: records of aPacketLog types with the framed packet bytes.
aErr aLink_PacketDebug_SetLogSize(aLinkRef link, int32_t size);
aErr aLink_PacketDebug_Enable(aLinkRef link);
aErr aLink_PacketDebug_Disable(aLinkRef link);
aErr aLink_PacketDebug_Read(aLinkRef link, uint8_t* type, uint32_t* length, uint8_t* buffer);
aErr aLink_PacketDebug_Write(aLinkRef link, uint8_t type, uint32_t length, const uint8_t* bytes);
