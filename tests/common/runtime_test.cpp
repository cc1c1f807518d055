#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "common/aFile.h"
#include "common/aLogger.h"
#include "common/aMutex.h"
#include "common/aThread.h"
#include "common/aTime.h"
#include "support/process.h"

TEST(Mutex, NamesAndResults) {
  EXPECT_EQ(aMutex_Create(std::string(256, 'm').c_str()), nullptr);
  aMutexRef mutex = aMutex_Create(std::string(255, 'm').c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(std::string(aMutex_Identifier(mutex)).size(), 255u);
  EXPECT_EQ(aMutex_Lock(mutex), aErrNone);
  EXPECT_EQ(aMutex_TryLock(mutex), aErrBusy);
  EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
  EXPECT_EQ(aMutex_TryLock(mutex), aErrNone);
  EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
  EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
  EXPECT_EQ(mutex, nullptr);
  EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
  EXPECT_EQ(aMutex_Destroy(&mutex), aErrParam);

  aMutexRef unnamed = aMutex_Create(nullptr);
  ASSERT_NE(unnamed, nullptr);
  EXPECT_STREQ(aMutex_Identifier(unnamed), "");
  aMutex_Destroy(&unnamed);
}

TEST(Thread, RunsAndJoinsUnderAMutex) {
  struct Shared {
    aMutexRef mutex;
    int counter = 0;
  } shared{aMutex_Create("counter")};
  auto work = [](void* argument) -> void* {
    auto* s = static_cast<Shared*>(argument);
    for (int i = 0; i < 1000; ++i) {
      aMutex_Lock(s->mutex);
      ++s->counter;
      aMutex_Unlock(s->mutex);
    }
    return nullptr;
  };
  aThreadRef a = aThread_Create(work, &shared);
  aThreadRef b = aThread_Create(work, &shared);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(aThread_Destroy(&a), 0);
  EXPECT_EQ(aThread_Destroy(&b), 0);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(shared.counter, 2000);
  EXPECT_EQ(aThread_Create(nullptr, nullptr), nullptr);
  aMutex_Destroy(&shared.mutex);
}

TEST(Time, SleepAdvancesTheClock) {
  const uint64_t start = aTime_GetMSTicks();
  EXPECT_GT(start, 0u);
  EXPECT_EQ(aTime_MSSleep(30), aErrNone);
  EXPECT_GE(aTime_GetMSTicks() - start, 30u);
  EXPECT_EQ(aTime_MSSleep(0), aErrNone);
}

namespace {

struct LoggerProbe {
  std::atomic<int> calls{0};
  std::atomic<aLoggerRef> self{nullptr};
  std::atomic<aErr> disableFromInside{aErrUnknown};
};
LoggerProbe probe;

void writeCallback(aFileRef file, uint32_t identifier) {
  const int call = probe.calls.fetch_add(1);
  if (call < 3) aFile_Printf(file, "line %d of %u\n", call, identifier);
  if (call == 3 && probe.self.load() != nullptr) probe.disableFromInside = aLogger_Disable(probe.self.load());
  aTime_MSSleep(1);
}

}  // namespace

TEST(Logger, WritesThroughItsThreadAndStopsCleanly) {
  wftest::TempDir temp;
  const std::string path = temp / "packets.log";
  EXPECT_EQ(aLogger_Create(1, writeCallback, (temp / "no/such/dir/x").c_str()), nullptr);
  aLoggerRef logger = aLogger_Create(7, writeCallback, path.c_str());
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(probe.calls.load(), 0);  // created disabled
  probe.self = logger;
  EXPECT_EQ(aLogger_Enable(logger), aErrNone);
  EXPECT_EQ(aLogger_Enable(logger), aErrNone);  // already running
  const uint64_t deadline = aTime_GetMSTicks() + 10000;
  while (probe.calls.load() < 10 && aTime_GetMSTicks() < deadline) aTime_MSSleep(1);
  // Disabling from the logger's own thread was refused quietly; the logger kept running.
  EXPECT_EQ(probe.disableFromInside.load(), aErrNone);
  EXPECT_GE(probe.calls.load(), 10);
  EXPECT_EQ(aLogger_Disable(logger), aErrNone);
  const int stoppedAt = probe.calls.load();
  aTime_MSSleep(20);
  EXPECT_EQ(probe.calls.load(), stoppedAt);
  EXPECT_EQ(aLogger_Disable(logger), aErrNone);
  probe.self = nullptr;
  EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
  EXPECT_EQ(logger, nullptr);
  EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
  EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
  EXPECT_EQ(wftest::readFile(path), "line 0 of 7\nline 1 of 7\nline 2 of 7\n");
}
