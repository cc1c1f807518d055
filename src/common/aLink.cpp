#include "common/aLink.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "common/aDebug.h"
#include "common/aThread.h"
#include "common/aTime.h"
#include "common/packetfifo.h"

namespace {

constexpr uint16_t kLinkTag = 0xCEED;
constexpr uint32_t kStreamIdentifier = 0xFFFFFFFF;
constexpr size_t kPoolSize = 4096;
// How long the input thread sleeps on a silent stream before it looks at the
// running flag again, and what counts as silence during a handshake.
constexpr unsigned long kInputWaitMs = 100;
constexpr unsigned long kIoErrorPauseMs = 100;
constexpr unsigned long kOutputWaitMs = 1000;
constexpr int kPollPeriodMs = 10;
constexpr int kPollCount = 200;  // start and sync give up after 2 s
constexpr int kSyncQueries = 6;
constexpr unsigned long kSyncSettleMs = 100;
constexpr int kRebuildAttempts = 20;
constexpr unsigned long kRebuildPauseMs = 100;

enum SyncState : int {
  kSyncStateIdle = 0,
  kSyncStateStart = 1,
  kSyncStateByte1 = 2,
  kSyncStateByte2 = 3,
  kSyncStateByte3 = 4,
  kSyncStateByte4 = 5,
};

using PacketPtr = std::unique_ptr<aPacket, aPacketDeleter>;

}  // namespace

// The link proper. The running flag, status, ready flags, heartbeat and sync
// states and the pooled flag are shared by the caller's thread and the link's
// two threads, hence atomic. The packet under assembly belongs to the input
// thread while it runs; the stream is read by the input thread and written by
// the output thread only.
struct aLinkHandle {
  uint16_t tag = 0;
  aLinkRef id = 0;
  std::atomic<bool> running{false};
  std::atomic<uint32_t> status{LINK_NO_STREAM};
  // Atomic because callers reach the FIFOs while a reset replaces them.
  std::atomic<aPacketFifoId> inFifo{0};
  aPacket* assembling = nullptr;
  std::atomic<aPacketFifoId> outFifo{0};
  aThreadRef inThread = nullptr;
  aThreadRef outThread = nullptr;
  std::atomic<bool> inReady{false};
  std::atomic<bool> outReady{false};
  aStreamRef stream = nullptr;
  std::atomic<int> heartbeat{0};
  std::atomic<int> syncState{kSyncStateIdle};
  uint8_t syncAddress = 0;  // input thread only
  // The packet log and its size; every use, reads included, holds logLock.
  aPacketLog* log = nullptr;
  uint32_t logSize = 0;
  bool logEnabled = false;
  std::mutex logLock;
  // The user packet filter; never removed while it runs.
  aLinkUserFilter userFilter = nullptr;
  void* userFilterReference = nullptr;
  std::mutex userFilterLock;
  std::atomic<bool> pooled{false};
  // Serialises start, stop and reset of this link between callers.
  std::mutex lifecycle;
};

namespace {

using LinkPtr = std::shared_ptr<aLinkHandle>;

struct LinkEntry {
  aLinkRef id;
  uint32_t identifier;
  uint32_t port;
  aLinkKind kind;
  int16_t useCount;
  LinkPtr link;
};

// The link table, newest entry first. Each table function holds the lock for
// its own duration only and takes no other lock meanwhile.
struct LinkTable {
  std::mutex lock;  // "aLink_Managed"
  std::list<LinkEntry> entries;
  aLinkRef nextId = 1;
};

LinkTable& _links() {
  static LinkTable table;
  return table;
}

aLinkRef sCreate(uint32_t identifier, uint32_t port, aLinkKind kind) {
  try {
    auto link = std::make_shared<aLinkHandle>();
    LinkTable& table = _links();
    std::lock_guard<std::mutex> guard(table.lock);
    const aLinkRef id = table.nextId++;
    link->id = id;
    table.entries.push_front(LinkEntry{id, identifier, port, kind, 0, std::move(link)});
    return id;
  } catch (...) {
    return 0;
  }
}

// The ID of the newest link with this key that is still held, or 0. Caller-
// supplied streams are never shared, so they have no key.
aLinkRef sLookupEntryByKey(aLinkKind kind, uint32_t identifier, uint32_t port) {
  LinkTable& table = _links();
  std::lock_guard<std::mutex> guard(table.lock);
  for (const auto& entry : table.entries) {
    if (entry.kind == kind && entry.identifier == identifier && entry.port == port && entry.useCount > 0) {
      return entry.id;
    }
  }
  return 0;
}

// Adds `delta` holders; returns the new count, or a negative value for an unknown ID.
int sChangeUseCount(aLinkRef id, int delta) {
  LinkTable& table = _links();
  std::lock_guard<std::mutex> guard(table.lock);
  for (auto& entry : table.entries) {
    if (entry.id == id) {
      entry.useCount = static_cast<int16_t>(entry.useCount + delta);
      return entry.useCount;
    }
  }
  return -1;
}

bool sLookupEntryByID(aLinkRef id, LinkEntry* out) {
  LinkTable& table = _links();
  std::lock_guard<std::mutex> guard(table.lock);
  for (const auto& entry : table.entries) {
    if (entry.id == id) {
      *out = entry;
      return true;
    }
  }
  return false;
}

LinkPtr sExtractEntry(aLinkRef id) {
  LinkTable& table = _links();
  std::lock_guard<std::mutex> guard(table.lock);
  for (auto at = table.entries.begin(); at != table.entries.end(); ++at) {
    if (at->id == id) {
      LinkPtr link = std::move(at->link);
      table.entries.erase(at);
      return link;
    }
  }
  return nullptr;
}

LinkPtr sGetLink(aLinkRef id) {
  LinkEntry entry{};
  return sLookupEntryByID(id, &entry) ? entry.link : nullptr;
}

// A link that has been initialised (tagged); creation's empty objects are not.
LinkPtr _initialised(aLinkRef id) {
  LinkPtr link = sGetLink(id);
  return link != nullptr && link->tag == kLinkTag ? link : nullptr;
}

aErr _queue(aLinkHandle* link, uint8_t address, std::initializer_list<uint8_t> data) {
  uint8_t bytes[aPACKET_MAXDATA] = {};  // never null, also for an empty packet
  std::copy(data.begin(), data.end(), bytes);
  PacketPtr packet(aPacket_CreateWithData(address, static_cast<uint8_t>(data.size()), bytes));
  if (packet == nullptr) return aErrMemory;
  return aPacketFifo_Put(link->outFifo, packet.get());
}

void _logPacket(aLinkHandle* link, uint8_t type, const aPacket* packet) {
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log == nullptr || !link->logEnabled) return;
  uint8_t framed[aPACKET_MAXWIRE] = {packet->address, packet->length};
  memcpy(framed + 2, packet->data, packet->length);
  aPacketLog_Put(link->log, type, packet->length + 2u, framed);
}

// ---- input thread ----

void sStartSync(aLinkHandle* link) {
  aDebug_Print(aDEBUG_LINK, " sInPipeProcess(%d) -- syncing\n", link->id);
  link->status = LINK_SYNCING;
  link->syncState = kSyncStateStart;
  aPacket_Reset(link->assembling);
  for (int i = 0; i < kSyncQueries; ++i) {
    if (_queue(link, ADDRESS_QUERY, {}) != aErrNone) return;
  }
  link->syncState = kSyncStateByte1;
}

// The handshake is complete after two answers in a row of the same even
// address with length 0.
void sSyncByte(aLinkHandle* link, uint8_t byte) {
  switch (link->syncState.load()) {
    case kSyncStateByte1:
      if (byte == 0 || (byte & 1) != 0) {
        sStartSync(link);
      } else {
        link->syncAddress = byte;
        link->syncState = kSyncStateByte2;
      }
      break;
    case kSyncStateByte2: link->syncState = byte == 0 ? kSyncStateByte3 : kSyncStateStart; break;
    case kSyncStateByte3: link->syncState = byte == link->syncAddress ? kSyncStateByte4 : kSyncStateStart; break;
    case kSyncStateByte4:
      if (byte == 0) {
        link->syncState = kSyncStateIdle;
        link->status = LINK_RUNNING;
      } else {
        link->syncState = kSyncStateStart;
      }
      break;
    default: sStartSync(link); break;
  }
}

// Answers a heartbeat (address, 2, 0x00, s) with s + 2; true when it was one.
bool sHandleHBBackChannel(aLinkHandle* link, const aPacket* packet) {
  if (packet->length != 2 || packet->data[0] != cmdHEARTBEAT) return false;
  const uint8_t state = packet->data[1];
  if (state == 0) {
    link->heartbeat = 2;
    aDebug_Print(aDEBUG_HEARTBEAT, " sHandleHBBackChannel() %s\n", "sending HB UP");
  } else if (state == 1) {
    link->heartbeat = 3;
    aDebug_Print(aDEBUG_HEARTBEAT, " sHandleHBBackChannel() %s\n", "sending HB DOWN");
  }
  _queue(link, packet->address, {cmdHEARTBEAT, static_cast<uint8_t>(state + 2)});
  link->heartbeat = 0;
  return true;
}

aErr sHandlePacket(aLinkHandle* link) {
  const aPacket* packet = link->assembling;
  if (!aPacket_IsComplete(packet)) return aErrNone;
  _logPacket(link, aPACKETLOG_RECEIVED, packet);
  bool consumed = false;
  {
    std::lock_guard<std::mutex> guard(link->userFilterLock);
    if (link->userFilter != nullptr) consumed = link->userFilter(packet, link->userFilterReference);
  }
  aErr result = aErrNone;
  if (!consumed && !sHandleHBBackChannel(link, packet)) result = aPacketFifo_Put(link->inFifo, packet);
  aPacket_Reset(link->assembling);
  return result;
}

// Nothing came in while the stream was waited on.
void _onSilence(aLinkHandle* link) {
  if (link->status == LINK_SYNCING) sStartSync(link);
}

void* sInPipeProcess(void* argument) {
  auto* link = static_cast<aLinkHandle*>(argument);
  link->heartbeat = 0;
  link->syncState = kSyncStateIdle;
  link->status = LINK_RUNNING;
  link->inReady = true;
  while (link->running) {
    // Sleep on the stream instead of asking it again and again: an idle link costs nothing.
    if (aStream_AwaitInput(link->stream, kInputWaitMs) == aErrNotReady) {
      _onSilence(link);
      continue;
    }
    uint8_t byte = 0;
    const aErr err = aStream_Read(link->stream, &byte, 1);
    if (err == aErrNotReady) {
      _onSilence(link);
      // A stream that said "ready" (or cannot wait) yet had nothing must not make this a spin.
      aTime_MSSleep(1);
      continue;
    }
    if (err != aErrNone) {
      aDebug_Print(aDEBUG_LINK, " sInPipeProcess(%d) IO_ERROR [aStream_Read()==>%d]\n", link->id, err);
      link->status = LINK_IO_ERROR;
      aTime_MSSleep(kIoErrorPauseMs);
      continue;
    }
    if (link->status == LINK_SYNCING) {
      sSyncByte(link, byte);
      continue;
    }
    if (aPacket_AddByte(link->assembling, byte) != aErrNone) {
      aDebug_Print(aDEBUG_LINK, "Out of sync\n");
      sStartSync(link);
      continue;
    }
    if (sHandlePacket(link) != aErrNone) link->status = LINK_PACKET_ERROR;
  }
  return nullptr;
}

// ---- output thread ----

size_t _frame(const aPacket* packet, uint8_t* out) {
  out[0] = packet->address;
  out[1] = packet->length;
  memcpy(out + 2, packet->data, packet->length);
  return packet->length + 2u;
}

void _writeOne(aLinkHandle* link, const aPacket* packet) {
  uint8_t framed[aPACKET_MAXWIRE];
  const aErr err = aStream_Write(link->stream, framed, _frame(packet, framed));
  if (err != aErrNone) aDebug_Print(aDEBUG_LINK, "sOutPipeProcess error writing: %d\n", err);
}

// Writes `first` and whatever else is queued, up to kPoolSize bytes, in one write.
void _writePooled(aLinkHandle* link, const aPacket* first) {
  uint8_t batch[kPoolSize];
  size_t used = _frame(first, batch);
  while (kPoolSize - used >= aPACKET_MAXWIRE) {
    PacketPtr next(aPacketFifo_Get(link->outFifo));
    if (next == nullptr) break;
    used += _frame(next.get(), batch + used);
  }
  const aErr err = aStream_Write(link->stream, batch, used);
  if (err != aErrNone) aDebug_Print(aDEBUG_LINK, "sOutPipeProcess error writing pooled: %d\n", err);
}

void* sOutPipeProcess(void* argument) {
  auto* link = static_cast<aLinkHandle*>(argument);
  link->outReady = true;
  while (link->running) {
    PacketPtr packet(aPacketFifo_Await(link->outFifo, kOutputWaitMs));
    if (packet == nullptr) continue;
    // Recorded before it leaves, so that a quick reply never precedes its request in the log.
    _logPacket(link, aPACKETLOG_WRITTEN, packet.get());
    if (link->pooled) {
      _writePooled(link, packet.get());
    } else {
      _writeOne(link, packet.get());
    }
  }
  // Stopping: what was queued before (the route-off packet last) still goes out.
  while (PacketPtr packet{aPacketFifo_Get(link->outFifo)}) _writeOne(link, packet.get());
  return nullptr;
}

// ---- life cycle ----

bool _pollFor(const std::function<bool()>& done) {
  for (int i = 0; i < kPollCount; ++i) {
    if (done()) return true;
    aTime_MSSleep(kPollPeriodMs);
  }
  return done();
}

// Ends both threads; runs with the lifecycle lock held.
aErr _joinThreads(aLinkHandle* link) {
  link->running = false;
  int joined = 0;
  if (link->inThread != nullptr) joined |= aThread_Destroy(&link->inThread);
  if (link->outThread != nullptr) joined |= aThread_Destroy(&link->outThread);
  return joined == 0 ? aErrNone : aErrUnknown;
}

aErr _stop(aLinkHandle* link) {
  const uint32_t status = link->status;
  if (status == LINK_STOPPING || status == LINK_STOPPED) return aErrNone;
  aDebug_Print(aDEBUG_LINK, " aLink_Stop(%d)\n", link->id);
  link->status = LINK_STOPPING;
  aErr result = aErrNone;
  if (link->inThread != nullptr && link->outThread != nullptr) {
    // The route-off packet is queued after the running flag clears, so that it
    // also wakes an output thread waiting for work; it goes out either way,
    // as the last packet, before that thread ends.
    link->running = false;
    result = _queue(link, cmdFORCEROUTE, {0x00});
    const aErr joined = _joinThreads(link);
    if (joined != aErrNone) result = joined;
  }
  link->inReady = false;
  link->outReady = false;
  aPacket_Reset(link->assembling);
  link->status = link->stream != nullptr ? LINK_STOPPED : LINK_NO_STREAM;
  link->heartbeat = 0;
  return result;
}

aErr _destroyFifo(std::atomic<aPacketFifoId>& fifo) {
  aPacketFifoId id = fifo.exchange(0);
  return id != 0 ? aPacketFifo_Destroy(&id) : aErrNone;
}

void _releaseResources(aLinkHandle* link) {
  _destroyFifo(link->inFifo);
  _destroyFifo(link->outFifo);
  if (link->stream != nullptr) aStream_Destroy(&link->stream);
  if (link->assembling != nullptr) aPacket_Destroy(&link->assembling);
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log != nullptr) aPacketLog_Destroy(&link->log);
  link->logSize = 0;
  link->logEnabled = false;
}

// Makes a new stream for a link of a kind that can be rebuilt.
aErr _buildStream(const LinkEntry& entry, aStreamRef* stream) {
  switch (entry.kind) {
    case aLINK_KIND_USB: return aStream_CreateUSB(entry.identifier, stream);
    case aLINK_KIND_TCPIP: return aStream_CreateSocket(entry.identifier, static_cast<uint16_t>(entry.port), stream);
    default: return aErrParam;
  }
}

bool _baudCode(uint32_t baudRate, uint32_t* code) {
  static const uint32_t rates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
  for (uint32_t i = 0; i < sizeof rates / sizeof rates[0]; ++i) {
    if (rates[i] == baudRate) {
      *code = i;
      return true;
    }
  }
  return false;
}

// Initialises, holds and starts a new link over `stream`; 0 (and nothing left) on failure.
aLinkRef _open(aLinkRef id, aStreamRef stream) {
  if (aLink_Init(id, stream) != id) {
    aStream_Destroy(&stream);
    aLink_Destroy(&id);
    return 0;
  }
  sChangeUseCount(id, 1);
  if (aLink_Start(id) != aErrNone) {
    aLink_Destroy(&id);
    return 0;
  }
  return id;
}

// An existing link under this key gains a holder.
aLinkRef _reuse(aLinkKind kind, uint32_t identifier, uint32_t port) {
  const aLinkRef id = sLookupEntryByKey(kind, identifier, port);
  return id != 0 && sChangeUseCount(id, 1) > 0 ? id : 0;
}

}  // namespace

aLinkRef aLink_Init(aLinkRef id, aStreamRef stream) {
  LinkPtr link = sGetLink(id);
  if (link == nullptr || link->running) return 0;
  _releaseResources(link.get());
  link->inFifo = aPacketFifo_Create();
  link->outFifo = aPacketFifo_Create();
  link->assembling = aPacket_Create();
  if (link->inFifo == 0 || link->outFifo == 0 || link->assembling == nullptr) {
    _releaseResources(link.get());
    return 0;
  }
  link->tag = kLinkTag;
  link->id = id;
  link->stream = stream;
  link->status = stream != nullptr ? LINK_STOPPED : LINK_NO_STREAM;
  link->inReady = false;
  link->outReady = false;
  link->heartbeat = 0;
  link->syncState = kSyncStateIdle;
  link->pooled = false;
  std::lock_guard<std::mutex> guard(link->userFilterLock);
  link->userFilter = nullptr;
  link->userFilterReference = nullptr;
  return id;
}

aLinkRef aLink_CreateUSB(uint32_t serialNumber) {
  if (serialNumber == 0) return 0;
  if (aLinkRef existing = _reuse(aLINK_KIND_USB, serialNumber, 0)) return existing;
  aLinkRef id = sCreate(serialNumber, 0, aLINK_KIND_USB);
  if (id == 0) return 0;
  aStreamRef stream = nullptr;
  if (aStream_CreateUSB(serialNumber, &stream) != aErrNone) {
    aLink_Destroy(&id);
    return 0;
  }
  id = _open(id, stream);
  if (id == 0) return 0;
  // A USB module is only worth talking to once it answers in step.
  if (aLink_Sync(id) != aErrNone || aLink_ForceRoute(id, 1) != aErrNone) {
    aLink_Destroy(&id);
    return 0;
  }
  return id;
}

aLinkRef aLink_CreateTCPIP(uint32_t address, uint16_t port) {
  if (aLinkRef existing = _reuse(aLINK_KIND_TCPIP, address, port)) return existing;
  aLinkRef id = sCreate(address, port, aLINK_KIND_TCPIP);
  if (id == 0) return 0;
  aStreamRef stream = nullptr;
  if (aStream_CreateSocket(address, port, &stream) != aErrNone) {
    aLink_Destroy(&id);
    return 0;
  }
  return _open(id, stream);
}

aLinkRef aLink_CreateSerial(uint32_t identifier, const char* portPath, uint32_t baudRate) {
  uint32_t baudCode = 0;
  if (portPath == nullptr || !_baudCode(baudRate, &baudCode)) return 0;
  if (aLinkRef existing = _reuse(aLINK_KIND_SERIAL, identifier, 0)) return existing;
  aLinkRef id = sCreate(identifier, 0, aLINK_KIND_SERIAL);
  if (id == 0) return 0;
  aStreamRef stream = nullptr;
  if (aStream_CreateSerial(portPath, baudCode, 0, 0, 0, &stream) != aErrNone) {
    aLink_Destroy(&id);
    return 0;
  }
  return _open(id, stream);
}

aLinkRef aLink_Create(aStreamRef stream) {
  if (stream == nullptr) return 0;
  const aLinkRef id = sCreate(kStreamIdentifier, 0, aLINK_KIND_STREAM);
  if (id == 0) {
    aStream_Destroy(&stream);
    return 0;
  }
  return _open(id, stream);
}

aErr aLink_Start(aLinkRef id) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  {
    std::lock_guard<std::mutex> guard(link->lifecycle);
    if (link->running) return aErrNone;
    if (link->stream == nullptr) return aErrParam;
    aDebug_Print(aDEBUG_LINK, " aLink_Start(%d)\n", id);
    link->running = true;
    link->status = LINK_STARTING;
    link->heartbeat = 0;
    link->inReady = false;
    link->outReady = false;
    link->inThread = aThread_Create(sInPipeProcess, link.get());
    if (link->inThread != nullptr) link->outThread = aThread_Create(sOutPipeProcess, link.get());
    if (link->inThread == nullptr || link->outThread == nullptr) {
      _joinThreads(link.get());
      link->status = LINK_STOPPED;
      return aErrResource;
    }
    const bool up = _pollFor([&] { return link->inReady && link->outReady && link->status == LINK_RUNNING; });
    if (!up) return aErrIndexRange;
  }
  return aLink_ForceRoute(id, 1);
}

aErr aLink_Sync(aLinkRef id) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  link->status = LINK_SYNCING;
  const bool inStep = _pollFor([&] { return link->status == LINK_RUNNING; });
  // Whatever was queued or answered during the handshake is stale now.
  aPacketFifo_DrainPackets(link->outFifo, nullptr, nullptr);
  aTime_MSSleep(kSyncSettleMs);
  aPacketFifo_DrainPackets(link->inFifo, nullptr, nullptr);
  return inStep ? aErrNone : aErrNotReady;
}

aErr aLink_Reset(aLinkRef id) {
  LinkEntry entry{};
  if (!sLookupEntryByID(id, &entry) || entry.link == nullptr || entry.link->tag != kLinkTag) return aErrParam;
  aLinkHandle* link = entry.link.get();
  {
    std::lock_guard<std::mutex> guard(link->lifecycle);
    _stop(link);
  }
  _destroyFifo(link->inFifo);
  _destroyFifo(link->outFifo);
  aStream_Destroy(&link->stream);
  link->status = LINK_NO_STREAM;
  aStreamRef stream = nullptr;
  aErr err = aErrParam;
  for (int attempt = 0; attempt < kRebuildAttempts; ++attempt) {
    err = _buildStream(entry, &stream);
    if (err == aErrNone || err == aErrParam) break;
    aTime_MSSleep(kRebuildPauseMs);
  }
  if (err != aErrNone) {
    aDebug_Print(aDEBUG_LINK, " ERROR - could not recreate stream: %d\n", err);
    return err;
  }
  if (aLink_Init(id, stream) != id) {
    aStream_Destroy(&stream);
    return aErrResource;
  }
  return aLink_Start(id);
}

aErr aLink_Destroy(aLinkRef* id) {
  if (id == nullptr) return aErrParam;
  const aLinkRef doomed = *id;
  *id = 0;
  if (sChangeUseCount(doomed, -1) > 0) return aErrNone;
  LinkPtr link = sExtractEntry(doomed);
  if (link == nullptr) return aErrParam;
  {
    std::lock_guard<std::mutex> guard(link->userFilterLock);
    link->userFilter = nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(link->lifecycle);
    _stop(link.get());
  }
  const aErr result = _destroyFifo(link->outFifo);
  _releaseResources(link.get());
  link->tag = 0;
  return result;
}

aLinkStatus aLink_GetStatus(aLinkRef id) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? static_cast<aLinkStatus>(link->status.load()) : LINK_NO_STREAM;
}

aErr aLink_ForceRoute(aLinkRef id, uint8_t value) {
  LinkPtr link = sGetLink(id);
  if (link == nullptr) return aErrNotFound;
  if (link->tag != kLinkTag) return aErrParam;
  return _queue(link.get(), cmdFORCEROUTE, {value});
}

aErr aLink_PutPacket(aLinkRef id, const aPacket* packet) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? aPacketFifo_Put(link->outFifo, packet) : aErrParam;
}

aPacket* aLink_GetPacket(aLinkRef id) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? aPacketFifo_Get(link->inFifo) : nullptr;
}

aPacket* aLink_AwaitPacket(aLinkRef id, unsigned long timeoutMs) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? aPacketFifo_Await(link->inFifo, timeoutMs) : nullptr;
}

aPacket* aLink_GetFirst(aLinkRef id, aPacketFilter filter, const void* reference) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? aPacketFifo_GetFirst(link->inFifo, filter, reference) : nullptr;
}

aPacket* aLink_AwaitFirst(aLinkRef id, aPacketFilter filter, const void* reference, unsigned long timeoutMs) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return nullptr;
  const uint64_t deadline = aTime_GetMSTicks() + timeoutMs;
  aPacket* found = nullptr;
  while (found == nullptr && link->running && link->status == LINK_RUNNING) {
    const uint64_t now = aTime_GetMSTicks();
    if (now >= deadline) break;
    found = aPacketFifo_AwaitFirst(link->inFifo, filter, reference, static_cast<unsigned long>(deadline - now));
  }
  return found;
}

size_t aLink_DrainPackets(aLinkRef id, aPacketFilter filter, const void* reference) {
  LinkPtr link = _initialised(id);
  return link != nullptr ? aPacketFifo_DrainPackets(link->inFifo, filter, reference) : 0;
}

aErr aLink_InstallUserPacketFilter(aLinkRef id, aLinkUserFilter filter, void* reference) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(link->userFilterLock);
  link->userFilter = filter;
  link->userFilterReference = reference;
  return aErrNone;
}

aErr aLink_EnablePooledPackets(aLinkRef id, bool enable) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  link->pooled = enable;
  return aErrNone;
}

aErr aLink_PacketDebug_SetLogSize(aLinkRef id, int32_t size) {
  LinkPtr link = _initialised(id);
  if (link == nullptr || size > static_cast<int32_t>(aPACKETLOG_MAXSIZE)) return aErrParam;
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log != nullptr) return aErrBusy;
  link->logSize = size < 0 ? 0 : static_cast<uint32_t>(size);
  return aErrNone;
}

aErr aLink_PacketDebug_Enable(aLinkRef id) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log == nullptr) {
    link->log = aPacketLog_Create(link->logSize != 0 ? link->logSize : aPACKETLOG_DEFAULTSIZE);
    if (link->log == nullptr) return aErrResource;
  }
  link->logEnabled = true;
  return aErrNone;
}

aErr aLink_PacketDebug_Disable(aLinkRef id) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log == nullptr) return aErrNotReady;
  link->logEnabled = false;
  return aErrNone;
}

aErr aLink_PacketDebug_Read(aLinkRef id, uint8_t* type, uint32_t* length, uint8_t* buffer) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log == nullptr) return aErrNotReady;
  return aPacketLog_Get(link->log, type, length, buffer);
}

aErr aLink_PacketDebug_Write(aLinkRef id, uint8_t type, uint32_t length, const uint8_t* bytes) {
  LinkPtr link = _initialised(id);
  if (link == nullptr) return aErrParam;
  std::lock_guard<std::mutex> guard(link->logLock);
  if (link->log == nullptr) return aErrNotReady;
  return aPacketLog_Put(link->log, type, length, bytes);
}
