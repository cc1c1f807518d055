#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include "common/packetfifo.h"

namespace {

using Clock = std::chrono::steady_clock;

void put(aPacketFifoId fifo, uint8_t address, uint8_t command) {
  aPacket* packet = aPacket_CreateWithData(address, 1, &command);
  ASSERT_EQ(aPacketFifo_Put(fifo, packet), aErrNone);
  aPacket_Destroy(&packet);
}

// Takes a packet and checks its address and command.
void expectPacket(aPacket* packet, uint8_t address, uint8_t command) {
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->address, address);
  EXPECT_EQ(packet->data[0], command);
  aPacket_Destroy(&packet);
}

uint8_t fromAddress4(const aPacket* packet, const void*) { return packet->address == 0x04; }
uint8_t everything(const aPacket*, const void*) { return 1; }

// Counts how often the filter saw each command byte (it runs on the waiting thread).
struct SeenCounter {
  std::map<uint8_t, int> seen;
};
uint8_t countingAddress4(const aPacket* packet, const void* reference) {
  auto* counter = const_cast<SeenCounter*>(static_cast<const SeenCounter*>(reference));
  ++counter->seen[packet->data[0]];
  return packet->address == 0x04;
}

class PacketFifo : public ::testing::Test {
 protected:
  void SetUp() override { fifo = aPacketFifo_Create(); ASSERT_NE(fifo, 0u); }
  void TearDown() override {
    if (fifo != 0) {
      EXPECT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
    }
  }
  aPacketFifoId fifo = 0;
};

TEST_F(PacketFifo, KeepsOrderAndCopies) {
  put(fifo, 0x02, 1);
  put(fifo, 0x02, 2);
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 2u);
  expectPacket(aPacketFifo_Get(fifo), 0x02, 1);
  expectPacket(aPacketFifo_Get(fifo), 0x02, 2);
  EXPECT_EQ(aPacketFifo_Get(fifo), nullptr);
  EXPECT_EQ(aPacketFifo_Put(fifo, nullptr), aErrParam);
}

TEST_F(PacketFifo, ThousandPacketBoundEmptiesOnOverflow) {
  for (int i = 0; i < 1000; ++i) put(fifo, 0x02, static_cast<uint8_t>(i));
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 1000u);
  put(fifo, 0x02, 0);
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
  put(fifo, 0x02, 7);  // still usable afterwards
  expectPacket(aPacketFifo_Get(fifo), 0x02, 7);
}

TEST_F(PacketFifo, AwaitTimesOutOrWakesOnPut) {
  EXPECT_EQ(aPacketFifo_Await(fifo, 0), nullptr);
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    put(fifo, 0x02, 9);
  });
  const auto start = Clock::now();
  expectPacket(aPacketFifo_Await(fifo, 20000), 0x02, 9);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  producer.join();
}

TEST_F(PacketFifo, AwaitFirstFiltersEachPacketOnce) {
  SeenCounter counter;
  put(fifo, 0x02, 1);
  put(fifo, 0x02, 2);
  EXPECT_EQ(aPacketFifo_AwaitFirst(fifo, countingAddress4, &counter, 100), nullptr);
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 2u);
  counter.seen.clear();

  std::thread producer([&] {
    for (uint8_t i = 10; i < 15; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      put(fifo, 0x02, i);
    }
    put(fifo, 0x04, 99);
  });
  expectPacket(aPacketFifo_AwaitFirst(fifo, countingAddress4, &counter, 20000), 0x04, 99);
  producer.join();
  for (const auto& [command, times] : counter.seen) EXPECT_EQ(times, 1) << "command " << int(command);
  EXPECT_EQ(counter.seen.size(), 8u);
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 7u);
}

TEST_F(PacketFifo, GetFirstAndDrainKeepOthersInOrder) {
  put(fifo, 0x02, 1);
  put(fifo, 0x04, 2);
  put(fifo, 0x02, 3);
  put(fifo, 0x04, 4);
  expectPacket(aPacketFifo_GetFirst(fifo, fromAddress4, nullptr), 0x04, 2);
  EXPECT_EQ(aPacketFifo_DrainPackets(fifo, fromAddress4, nullptr), 1u);
  expectPacket(aPacketFifo_Get(fifo), 0x02, 1);
  expectPacket(aPacketFifo_Get(fifo), 0x02, 3);
  put(fifo, 0x02, 5);
  put(fifo, 0x02, 6);
  EXPECT_EQ(aPacketFifo_DrainPackets(fifo, everything, nullptr), 2u);
  EXPECT_EQ(aPacketFifo_GetLength(fifo), 0u);
}

TEST_F(PacketFifo, DestroyWakesWaitersAndUnregisters) {
  std::atomic<int> returned{0};
  std::vector<std::thread> waiters;
  waiters.emplace_back([&, id = fifo] {
    EXPECT_EQ(aPacketFifo_Await(id, 60000), nullptr);
    ++returned;
  });
  waiters.emplace_back([&, id = fifo] {
    EXPECT_EQ(aPacketFifo_AwaitFirst(id, fromAddress4, nullptr, 60000), nullptr);
    ++returned;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const aPacketFifoId old = fifo;
  const auto start = Clock::now();
  ASSERT_EQ(aPacketFifo_Destroy(&fifo), aErrNone);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(returned, 2);
  EXPECT_EQ(fifo, 0u);
  aPacketFifoId stale = old;
  EXPECT_EQ(aPacketFifo_Destroy(&stale), aErrNotFound);
  aPacket* packet = aPacket_CreateWithData(0x02, 0, reinterpret_cast<const uint8_t*>(""));
  EXPECT_EQ(aPacketFifo_Put(old, packet), aErrParam);
  aPacket_Destroy(&packet);
  EXPECT_EQ(aPacketFifo_Get(old), nullptr);
  EXPECT_EQ(aPacketFifo_GetLength(old), 0u);
}

TEST_F(PacketFifo, ManyProducersAndConsumersLoseNothing) {
  constexpr int kProducers = 4, kEach = 200;
  std::atomic<int> taken{0};
  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) put(fifo, static_cast<uint8_t>(2 + 2 * p), static_cast<uint8_t>(i));
    });
  }
  for (int c = 0; c < 2; ++c) {
    threads.emplace_back([&] {
      while (taken < kProducers * kEach) {
        aPacket* packet = aPacketFifo_Await(fifo, 50);
        if (packet != nullptr) {
          ++taken;
          aPacket_Destroy(&packet);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(taken, kProducers * kEach);
}

TEST(PacketFifoRegistry, IdentifiersAreDistinctAndNonZero) {
  std::vector<aPacketFifoId> ids(64);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] { for (int i = t; i < 64; i += 4) ids[i] = aPacketFifo_Create(); });
  for (auto& thread : threads) thread.join();
  std::sort(ids.begin(), ids.end());
  EXPECT_NE(ids.front(), 0u);
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
  for (auto id : ids) EXPECT_EQ(aPacketFifo_Destroy(&id), aErrNone);
}

}  // namespace
