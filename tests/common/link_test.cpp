#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "common/aLink.h"
#include "common/aPacketLog.h"
#include "module_peer.h"

namespace {

using wftest::Bytes;
using wftest::ModulePeer;
using Clock = std::chrono::steady_clock;

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);
const Bytes kRouteOn{0xAF, 0x01, 0x01};
const Bytes kRouteOff{0xAF, 0x01, 0x00};
const Bytes kQuery{0xAD, 0x00};

aPacket* makePacket(const Bytes& framed) {
  return aPacket_CreateWithData(framed[0], framed[1], framed.data() + 2);
}

uint8_t commandFive(const aPacket* packet, const void*) { return packet->length >= 1 && packet->data[0] == 0x05; }

// Waits (bounded) until the link reports `status`.
bool awaitStatus(aLinkRef link, aLinkStatus status) {
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (aLink_GetStatus(link) != status) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A module behind a loopback TCP port, and a link to it.
class TcpLink : public ::testing::Test {
 protected:
  void SetUp() override {
    const int listener = ModulePeer::listenLoopback(&port);
    peer = std::make_unique<ModulePeer>(listener, true);
    link = aLink_CreateTCPIP(kLoopback, port);
    ASSERT_NE(link, 0u);
  }
  void TearDown() override {
    if (link != 0) aLink_Destroy(&link);
  }
  uint16_t port = 0;
  std::unique_ptr<ModulePeer> peer;
  aLinkRef link = 0;
};

TEST_F(TcpLink, SynchronisesAndCarriesPacketsBothWays) {
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING);
  EXPECT_TRUE(peer->awaitPacket(kRouteOn));
  ASSERT_EQ(aLink_Sync(link), aErrNone);
  EXPECT_GE(peer->count(kQuery), 6u);
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING);
  EXPECT_EQ(aLink_GetPacket(link), nullptr) << "handshake answers are drained";

  aPacket* request = makePacket({0x06, 0x03, 0x03, 0x01, 0x00});
  ASSERT_EQ(aLink_PutPacket(link, request), aErrNone);
  aPacket_Destroy(&request);
  EXPECT_TRUE(peer->awaitPacket({0x06, 0x03, 0x03, 0x01, 0x00}));

  peer->inject({0x06, 0x02, 0x05, 0x00});
  aPacket* reply = aLink_AwaitFirst(link, commandFive, nullptr, 20000);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->address, 0x06);
  EXPECT_EQ(reply->length, 2);
  aPacket_Destroy(&reply);
}

TEST_F(TcpLink, AnswersHeartbeatsWithoutDeliveringThem) {
  ASSERT_EQ(aLink_Sync(link), aErrNone);
  const struct {
    Bytes beat, answer;
  } cases[] = {
      {{0x06, 0x02, 0x00, 0x00}, {0x06, 0x02, 0x00, 0x02}},
      {{0x06, 0x02, 0x00, 0x01}, {0x06, 0x02, 0x00, 0x03}},
      {{0x06, 0x02, 0x00, 0x07}, {0x06, 0x02, 0x00, 0x09}},
  };
  for (const auto& c : cases) {
    peer->inject(c.beat);
    EXPECT_TRUE(peer->awaitPacket(c.answer));
  }
  EXPECT_EQ(aLink_GetPacket(link), nullptr);
}

// The gate of a filter that counts and consumes everything.
struct Consumer {
  std::mutex lock;
  std::condition_variable seen;
  int count = 0;
};
bool consumeAll(const aPacket*, void* reference) {
  auto* consumer = static_cast<Consumer*>(reference);
  std::lock_guard<std::mutex> guard(consumer->lock);
  ++consumer->count;
  consumer->seen.notify_all();
  return true;
}

TEST_F(TcpLink, UserFilterConsumesBeforeHeartbeatsAndCallers) {
  ASSERT_EQ(aLink_Sync(link), aErrNone);
  Consumer consumer;
  ASSERT_EQ(aLink_InstallUserPacketFilter(link, consumeAll, &consumer), aErrNone);
  peer->inject({0x06, 0x02, 0x00, 0x00, 0x06, 0x02, 0x05, 0x00});
  {
    std::unique_lock<std::mutex> guard(consumer.lock);
    ASSERT_TRUE(consumer.seen.wait_for(guard, std::chrono::seconds(20), [&] { return consumer.count == 2; }));
  }
  ASSERT_EQ(aLink_InstallUserPacketFilter(link, nullptr, nullptr), aErrNone);
  // Removing the filter brings heartbeats back; the consumed one was never answered.
  peer->inject({0x06, 0x02, 0x00, 0x01});
  EXPECT_TRUE(peer->awaitPacket({0x06, 0x02, 0x00, 0x03}));
  EXPECT_EQ(peer->count({0x06, 0x02, 0x00, 0x02}), 0u);
  EXPECT_EQ(aLink_GetPacket(link), nullptr);
}

TEST_F(TcpLink, HandshakeNeedsTwoMatchingAnswers) {
  peer->setAnswering(false);
  auto sync = std::async(std::launch::async, [&] { return aLink_Sync(link); });
  ASSERT_TRUE(peer->awaitPacket(kQuery, 6));
  peer->inject({0x06, 0x00, 0x08, 0x00});
  // The mismatch costs the handshake a restart: six new queries.
  ASSERT_TRUE(peer->awaitPacket(kQuery, 12));
  EXPECT_EQ(aLink_GetStatus(link), LINK_SYNCING);
  // Callers are not kept waiting on a link out of step.
  const auto start = Clock::now();
  EXPECT_EQ(aLink_AwaitFirst(link, commandFive, nullptr, 20000), nullptr);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  peer->inject({0x05});  // odd: restarts at once
  peer->inject({0x06, 0x00, 0x06, 0x00});
  EXPECT_EQ(sync.get(), aErrNone);
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING);
}

TEST_F(TcpLink, ResynchronisesAfterGarbage) {
  ASSERT_EQ(aLink_Sync(link), aErrNone);
  const size_t before = peer->count(kQuery);
  peer->inject({0x07, 0x33, 0x00});  // an odd address: out of step
  ASSERT_TRUE(peer->awaitPacket(kQuery, before + 6));
  ASSERT_TRUE(awaitStatus(link, LINK_RUNNING));
  aLink_DrainPackets(link, nullptr, nullptr);
  peer->inject({0x06, 0x02, 0x05, 0x01});
  aPacket* reply = aLink_AwaitFirst(link, commandFive, nullptr, 20000);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->data[1], 0x01);
  aPacket_Destroy(&reply);
}

TEST_F(TcpLink, StopSendsRouteOffLast) {
  ASSERT_TRUE(peer->awaitPacket(kRouteOn));
  aPacket* packet = makePacket({0x06, 0x01, 0x42});
  aLink_PutPacket(link, packet);
  aPacket_Destroy(&packet);
  ASSERT_EQ(aLink_Destroy(&link), aErrNone);
  EXPECT_EQ(link, 0u);
  ASSERT_TRUE(peer->awaitPacket(kRouteOff));
  const auto packets = peer->packets();
  EXPECT_EQ(packets.back(), kRouteOff);
}

TEST_F(TcpLink, LostModuleLeavesRunningAndResetRebuildsTheStream) {
  ASSERT_TRUE(peer->awaitPacket(kRouteOn));
  peer->dropConnection(false);  // a module restart: the one reconnection succeeds
  ASSERT_TRUE(peer->awaitConnections(2));
  peer->inject({0x06, 0x02, 0x05, 0x00});
  aPacket* reply = aLink_AwaitFirst(link, commandFive, nullptr, 20000);
  ASSERT_NE(reply, nullptr) << "the link still runs";
  aPacket_Destroy(&reply);

  ASSERT_EQ(aLink_Reset(link), aErrNone);
  ASSERT_TRUE(peer->awaitConnections(3));
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING);

  peer->dropConnection(true);  // gone for good
  EXPECT_TRUE(awaitStatus(link, LINK_IO_ERROR));
  EXPECT_EQ(aLink_Reset(link), aErrResource) << "nothing listens any more";
  EXPECT_EQ(aLink_GetStatus(link), LINK_NO_STREAM);
}

TEST_F(TcpLink, TableCountsHoldersAndKeysByAddressAndPort) {
  EXPECT_EQ(aLink_CreateTCPIP(kLoopback, port), link);
  uint16_t otherPort = 0;
  ModulePeer other(ModulePeer::listenLoopback(&otherPort), true, 0x08);
  aLinkRef second = aLink_CreateTCPIP(kLoopback, otherPort);
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, link);

  aLinkRef holder = link;
  ASSERT_EQ(aLink_Destroy(&holder), aErrNone);
  EXPECT_EQ(holder, 0u);
  EXPECT_EQ(aLink_GetStatus(link), LINK_RUNNING) << "one holder is left";
  const aLinkRef id = link;
  ASSERT_EQ(aLink_Destroy(&link), aErrNone);
  EXPECT_EQ(aLink_GetStatus(id), LINK_NO_STREAM);
  aLinkRef stale = id;
  EXPECT_EQ(aLink_Destroy(&stale), aErrParam);
  EXPECT_EQ(aLink_ForceRoute(id, 1), aErrNotFound);
  EXPECT_EQ(aLink_Destroy(&second), aErrNone);
}

TEST_F(TcpLink, PacketDebugLogRecordsBothDirections) {
  EXPECT_EQ(aLink_PacketDebug_Disable(link), aErrNotReady);
  uint32_t length = 30;
  uint8_t type = 0, bytes[30];
  EXPECT_EQ(aLink_PacketDebug_Read(link, &type, &length, bytes), aErrNotReady);
  ASSERT_EQ(aLink_PacketDebug_SetLogSize(link, 4096), aErrNone);
  ASSERT_EQ(aLink_PacketDebug_Enable(link), aErrNone);
  EXPECT_EQ(aLink_PacketDebug_SetLogSize(link, 1024), aErrBusy);
  ASSERT_TRUE(peer->awaitPacket(kRouteOn));

  aPacket* packet = makePacket({0x06, 0x01, 0x42});
  aLink_PutPacket(link, packet);
  aPacket_Destroy(&packet);
  ASSERT_TRUE(peer->awaitPacket({0x06, 0x01, 0x42}));
  peer->inject({0x06, 0x02, 0x05, 0x09});
  aPacket* reply = aLink_AwaitFirst(link, commandFive, nullptr, 20000);
  ASSERT_NE(reply, nullptr);
  aPacket_Destroy(&reply);

  std::vector<std::pair<uint8_t, Bytes>> records;
  for (;;) {
    length = sizeof bytes;
    if (aLink_PacketDebug_Read(link, &type, &length, bytes) != aErrNone) break;
    records.emplace_back(type, Bytes(bytes, bytes + length));
  }
  const std::pair<uint8_t, Bytes> sent{aPACKETLOG_WRITTEN, {0x06, 0x01, 0x42}};
  const std::pair<uint8_t, Bytes> received{aPACKETLOG_RECEIVED, {0x06, 0x02, 0x05, 0x09}};
  EXPECT_NE(std::find(records.begin(), records.end(), sent), records.end());
  EXPECT_NE(std::find(records.begin(), records.end(), received), records.end());
  EXPECT_EQ(aLink_PacketDebug_Write(link, aPACKETLOG_TEXT, 2, reinterpret_cast<const uint8_t*>("hi")), aErrNone);
  length = 1;
  EXPECT_EQ(aLink_PacketDebug_Read(link, &type, &length, bytes), aErrOverrun);
  EXPECT_EQ(length, 2u);
}

TEST(PacketLog, RingBoundsAndDropsOldestFirst) {
  aPacketLog* log = aPacketLog_Create(16);
  ASSERT_NE(log, nullptr);
  const uint8_t data[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  EXPECT_EQ(aPacketLog_Put(log, 1, 14, data), aErrOverrun);
  uint32_t length = 16;
  uint8_t type = 0, out[16];
  EXPECT_EQ(aPacketLog_Get(log, &type, &length, out), aErrNotFound);
  EXPECT_EQ(aPacketLog_Put(log, 1, 13, data), aErrNone);
  EXPECT_EQ(aPacketLog_Put(log, 2, 3, data), aErrNone);  // drops the 13-byte record
  length = sizeof out;
  ASSERT_EQ(aPacketLog_Get(log, &type, &length, out), aErrNone);
  EXPECT_EQ(type, 2);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(out[2], 3);
  // Many small records wrap the ring; only the newest survive, in order.
  for (uint8_t i = 0; i < 20; ++i) ASSERT_EQ(aPacketLog_Put(log, i, 1, &i), aErrNone);
  std::vector<uint8_t> kept;
  for (;;) {
    length = sizeof out;
    if (aPacketLog_Get(log, &type, &length, out) != aErrNone) break;
    EXPECT_EQ(type, out[0]);
    kept.push_back(out[0]);
  }
  EXPECT_EQ(kept, (std::vector<uint8_t>{15, 16, 17, 18, 19}));
  EXPECT_EQ(aPacketLog_Destroy(&log), aErrNone);
  EXPECT_EQ(log, nullptr);
}

// A stream whose writes wait at a gate, so a test can queue packets behind a write.
struct GatedSink {
  std::mutex lock;
  std::condition_variable changed;
  bool open = false;
  int entered = 0;
  std::vector<size_t> writes;
};
aErr gatedWrite(const uint8_t*, size_t length, void* reference) {
  auto* sink = static_cast<GatedSink*>(reference);
  std::unique_lock<std::mutex> guard(sink->lock);
  ++sink->entered;
  sink->changed.notify_all();
  sink->changed.wait_for(guard, std::chrono::seconds(30), [&] { return sink->open; });
  sink->writes.push_back(length);
  sink->changed.notify_all();
  return aErrNone;
}
aErr gatedPut(uint8_t byte, void* reference) { return gatedWrite(&byte, 1, reference); }
aErr silentGet(uint8_t*, void*) { return aErrNotReady; }
aErr idleWait(unsigned long timeoutMs, void*) {
  std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
  return aErrNotReady;
}

TEST(LinkOutput, PoolsQueuedPacketsIntoBatchesOf4096Bytes) {
  GatedSink sink;
  aStreamRef stream = aStream_Create(silentGet, gatedPut, gatedWrite, nullptr, &sink);
  aStream_SetWait(stream, idleWait);
  aLinkRef link = aLink_Create(stream);
  ASSERT_NE(link, 0u);
  {
    // The route-on packet is being written; everything else queues behind it.
    std::unique_lock<std::mutex> guard(sink.lock);
    ASSERT_TRUE(sink.changed.wait_for(guard, std::chrono::seconds(20), [&] { return sink.entered == 1; }));
  }
  ASSERT_EQ(aLink_EnablePooledPackets(link, true), aErrNone);
  Bytes framed(30, 0x11);
  framed[0] = 0x06;
  framed[1] = 28;
  aPacket* packet = makePacket(framed);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(aLink_PutPacket(link, packet), aErrNone);
  aPacket_Destroy(&packet);
  {
    std::unique_lock<std::mutex> guard(sink.lock);
    sink.open = true;
    sink.changed.notify_all();
    ASSERT_TRUE(sink.changed.wait_for(guard, std::chrono::seconds(20), [&] { return sink.writes.size() >= 3; }));
    EXPECT_EQ(sink.writes, (std::vector<size_t>{3, 136 * 30, 64 * 30}));
  }
  EXPECT_EQ(aLink_Destroy(&link), aErrNone);
}

class SerialLink : public ::testing::Test {
 protected:
  void SetUp() override {
    int master = -1, slave = -1;
    char name[256];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    path = name;
    peer = std::make_unique<ModulePeer>(master, false);
  }
  std::string path;
  std::unique_ptr<ModulePeer> peer;
};

TEST_F(SerialLink, RefusesUnknownRatesAndRunsOverAPseudoTerminal) {
  EXPECT_EQ(aLink_CreateSerial(7, path.c_str(), 14400), 0u);
  aLinkRef link = aLink_CreateSerial(7, path.c_str(), 9600);
  ASSERT_NE(link, 0u);
  EXPECT_EQ(aLink_CreateSerial(7, path.c_str(), 9600), link);
  ASSERT_EQ(aLink_Sync(link), aErrNone);
  peer->inject({0x06, 0x02, 0x00, 0x00});
  EXPECT_TRUE(peer->awaitPacket({0x06, 0x02, 0x00, 0x02}));
  peer->inject({0x06, 0x02, 0x05, 0x00});
  aPacket* reply = aLink_AwaitFirst(link, commandFive, nullptr, 20000);
  EXPECT_NE(reply, nullptr);
  aPacket_Destroy(&reply);
  aLinkRef second = link;
  aLink_Destroy(&second);
  aLink_Destroy(&link);
  EXPECT_TRUE(peer->awaitPacket(kRouteOff));
}

TEST(Link, RefusesUnknownIds) {
  EXPECT_EQ(aLink_Start(12345678), aErrParam);
  EXPECT_EQ(aLink_Sync(12345678), aErrParam);
  EXPECT_EQ(aLink_Reset(12345678), aErrParam);
  EXPECT_EQ(aLink_GetStatus(12345678), LINK_NO_STREAM);
  EXPECT_EQ(aLink_PutPacket(12345678, nullptr), aErrParam);
  EXPECT_EQ(aLink_AwaitFirst(12345678, commandFive, nullptr, 10), nullptr);
  EXPECT_EQ(aLink_Create(nullptr), 0u);
  EXPECT_EQ(aLink_CreateUSB(0), 0u);
}

}  // namespace
