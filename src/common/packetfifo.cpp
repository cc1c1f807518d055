#include "common/packetfifo.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using PacketPtr = std::unique_ptr<aPacket, aPacketDeleter>;
using Clock = std::chrono::steady_clock;
constexpr auto kSpinTime = std::chrono::microseconds(200);

// One queued packet and its sequence id within its FIFO.
class SerialPacket {
 public:
  SerialPacket(PacketPtr packet, int64_t id) : packet_(std::move(packet)), id_(id) {}
  const aPacket* getPacket() const { return packet_.get(); }
  int64_t getId() const { return id_; }

 private:
  PacketPtr packet_;
  int64_t id_;
};

struct packetFifo {
  std::deque<SerialPacket> queue;
  std::condition_variable changed;
  std::mutex lock;
  std::atomic<bool> open{true};
  std::atomic<int64_t> windowStart{0};  // id of the oldest queued packet, nextId when empty
  std::atomic<int64_t> nextId{0};

  // Both run under `lock`.
  void syncWindow() { windowStart = queue.empty() ? nextId.load() : queue.front().getId(); }
  void clearAndSyncWindow() {
    queue.clear();
    syncWindow();
  }
};

using FifoPtr = std::shared_ptr<packetFifo>;

std::mutex gpPacketFifoDictionaryMutex;
std::map<aPacketFifoId, FifoPtr> gpPacketFifoDictionary;
std::atomic<aPacketFifoId> gpSequentialId{1};

FifoPtr _lookup(aPacketFifoId fifo) {
  std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
  auto found = gpPacketFifoDictionary.find(fifo);
  return found == gpPacketFifoDictionary.end() ? nullptr : found->second;
}

// Copies the element out and only then removes it, so a failed copy leaves
// the packet queued. Runs under the FIFO's lock.
aPacket* _handOut(packetFifo& self, std::deque<SerialPacket>::iterator at) {
  aPacket* copy = aPacket_Copy(at->getPacket());
  if (copy == nullptr) return nullptr;
  self.queue.erase(at);
  self.syncWindow();
  return copy;
}

bool _matches(aPacketFilter filter, const aPacket* packet, const void* reference) {
  return filter == nullptr || filter(packet, reference) != 0;
}

Clock::time_point _deadline(unsigned long timeoutMs) { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

// A packet usually follows within microseconds when a conversation is under
// way (a reply to a request, the next packet of a burst). Checking for it a
// short while, yielding the processor meanwhile, spares the waiter the far
// longer sleep-and-wake of the condition variable. `arrived` reads atomics only.
template <typename Arrived>
void _briefly(const Arrived& arrived, Clock::time_point deadline) {
  const auto until = std::min(deadline, Clock::now() + kSpinTime);
  while (!arrived() && Clock::now() < until) std::this_thread::yield();
}

}  // namespace

aPacketFifoId aPacketFifo_Create() {
  try {
    aPacketFifoId id = gpSequentialId.fetch_add(1);
    if (id == 0) id = gpSequentialId.fetch_add(1);
    auto fifo = std::make_shared<packetFifo>();
    std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
    gpPacketFifoDictionary.emplace(id, std::move(fifo));
    return id;
  } catch (...) {
    return 0;
  }
}

aErr aPacketFifo_Destroy(aPacketFifoId* fifo) {
  if (fifo == nullptr) return aErrParam;
  try {
    FifoPtr self;
    {
      std::lock_guard<std::mutex> guard(gpPacketFifoDictionaryMutex);
      auto found = gpPacketFifoDictionary.find(*fifo);
      if (found == gpPacketFifoDictionary.end()) return aErrNotFound;
      self = std::move(found->second);
      gpPacketFifoDictionary.erase(found);
    }
    {
      std::lock_guard<std::mutex> guard(self->lock);
      self->clearAndSyncWindow();
      self->open = false;
    }
    self->changed.notify_all();
    *fifo = 0;
    return aErrNone;
  } catch (...) {
    return aErrUnknown;
  }
}

aErr aPacketFifo_Put(aPacketFifoId fifo, const aPacket* packet) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return aErrParam;
  PacketPtr copy(aPacket_Copy(packet));
  if (copy == nullptr) return aErrParam;
  try {
    {
      std::lock_guard<std::mutex> guard(self->lock);
      self->queue.emplace_back(std::move(copy), self->nextId.fetch_add(1));
      self->syncWindow();
      if (self->queue.size() > aPACKETFIFO_MAXPACKETS) {
        // A reader that fell this far behind has lost the conversation; start afresh.
        self->clearAndSyncWindow();
        return aErrNone;
      }
    }
    self->changed.notify_all();
    return aErrNone;
  } catch (...) {
    return aErrResource;
  }
}

aPacket* aPacketFifo_Get(aPacketFifoId fifo) { return aPacketFifo_GetFirst(fifo, nullptr, nullptr); }

aPacket* aPacketFifo_Await(aPacketFifoId fifo, unsigned long timeoutMs) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return nullptr;
  try {
    const auto deadline = _deadline(timeoutMs);
    _briefly([&] { return self->windowStart != self->nextId || !self->open; }, deadline);
    std::unique_lock<std::mutex> guard(self->lock);
    self->changed.wait_until(guard, deadline, [&] { return !self->queue.empty() || !self->open; });
    if (self->queue.empty()) return nullptr;
    return _handOut(*self, self->queue.begin());
  } catch (...) {
    return nullptr;
  }
}

aPacket* aPacketFifo_GetFirst(aPacketFifoId fifo, aPacketFilter filter, const void* reference) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return nullptr;
  try {
    std::lock_guard<std::mutex> guard(self->lock);
    for (auto at = self->queue.begin(); at != self->queue.end(); ++at) {
      if (_matches(filter, at->getPacket(), reference)) return _handOut(*self, at);
    }
    return nullptr;
  } catch (...) {
    return nullptr;
  }
}

aPacket* aPacketFifo_AwaitFirst(aPacketFifoId fifo, aPacketFilter filter, const void* reference,
                                unsigned long timeoutMs) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return nullptr;
  try {
    const auto deadline = _deadline(timeoutMs);
    std::unique_lock<std::mutex> guard(self->lock);
    int64_t lastExamined = self->windowStart - 1;
    // Applies the filter only to packets that arrived since the previous pass.
    auto scan = [&]() -> std::deque<SerialPacket>::iterator {
      for (auto at = self->queue.begin(); at != self->queue.end(); ++at) {
        if (at->getId() - lastExamined <= 0) continue;
        lastExamined = at->getId();
        if (_matches(filter, at->getPacket(), reference)) return at;
      }
      return self->queue.end();
    };
    auto found = scan();
    if (found == self->queue.end() && self->open) {
      guard.unlock();
      _briefly([&] { return self->nextId - 1 > lastExamined || !self->open; }, deadline);
      guard.lock();
      found = scan();
    }
    while (found == self->queue.end() && self->open) {
      if (self->changed.wait_until(guard, deadline) == std::cv_status::timeout) {
        found = scan();
        break;
      }
      found = scan();
    }
    if (found == self->queue.end()) return nullptr;
    return _handOut(*self, found);
  } catch (...) {
    return nullptr;
  }
}

size_t aPacketFifo_DrainPackets(aPacketFifoId fifo, aPacketFilter filter, const void* reference) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return 0;
  try {
    std::lock_guard<std::mutex> guard(self->lock);
    const size_t before = self->queue.size();
    std::erase_if(self->queue, [&](const SerialPacket& item) { return _matches(filter, item.getPacket(), reference); });
    self->syncWindow();
    return before - self->queue.size();
  } catch (...) {
    return 0;
  }
}

size_t aPacketFifo_GetLength(aPacketFifoId fifo) {
  FifoPtr self = _lookup(fifo);
  if (self == nullptr) return 0;
  std::lock_guard<std::mutex> guard(self->lock);
  return self->queue.size();
}
