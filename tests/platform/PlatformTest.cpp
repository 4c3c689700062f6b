// The platform stand-ins: thread identity, executable path, clocks and the recursive lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/ModulePath.h"
#include "platform/RecursiveMutex.h"
#include "platform/Thread.h"

namespace vyn::platform {
namespace {

TEST(PlatformThreadId, StablePerThreadAndDistinctAcrossThreads) {
  const uint32_t mine = CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(CurrentThreadId(), mine);
  uint32_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

TEST(PlatformExecutablePath, NamesThisTestProgram) {
  char path[1024];
  ASSERT_TRUE(ExecutablePath(path, sizeof path));
  const std::string text(path);
  EXPECT_EQ(text.front(), '/');
  EXPECT_EQ(text.substr(text.rfind('/') + 1), "tests_platform");
}

TEST(PlatformExecutablePath, RefusesABufferThatWouldCutThePath) {
  char full[1024];
  ASSERT_TRUE(ExecutablePath(full, sizeof full));
  const std::size_t length = std::strlen(full);
  char exact[1024];
  EXPECT_TRUE(ExecutablePath(exact, length + 1)) << "room for the path and its terminator";
  EXPECT_STREQ(exact, full);
  char cut[1024] = "stale";
  EXPECT_FALSE(ExecutablePath(cut, length)) << "one byte short";
  EXPECT_STREQ(cut, "");
  EXPECT_FALSE(ExecutablePath(nullptr, 10));
  EXPECT_FALSE(ExecutablePath(cut, 0));
  char single[1] = {'x'};
  EXPECT_FALSE(ExecutablePath(single, 1)) << "room for the terminator only";
  EXPECT_EQ(single[0], '\0');
}

TEST(PlatformClock, LocalTimePartsAreInRange) {
  const LocalTimeParts parts = GetLocalTimeParts();
  EXPECT_GE(parts.year, 2024);
  EXPECT_GE(parts.month, 1);
  EXPECT_LE(parts.month, 12);
  EXPECT_GE(parts.day, 1);
  EXPECT_LE(parts.day, 31);
  EXPECT_GE(parts.hour, 0);
  EXPECT_LE(parts.hour, 23);
  EXPECT_GE(parts.minute, 0);
  EXPECT_LE(parts.minute, 59);
  EXPECT_GE(parts.second, 0);
  EXPECT_LE(parts.second, 60);  // a leap second
  EXPECT_GE(parts.millisecond, 0);
  EXPECT_LE(parts.millisecond, 999);
}

TEST(PlatformClock, PerformanceCounterMeasuresElapsedTime) {
  const int64_t frequency = PerformanceFrequency();
  ASSERT_GT(frequency, 0);
  const int64_t before = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int64_t after = PerformanceCounter();
  const double seconds = static_cast<double>(after - before) / static_cast<double>(frequency);
  EXPECT_GE(seconds, 0.019);
  EXPECT_LT(seconds, 5.0);
}

TEST(PlatformRecursiveMutex, OwnerMayRelockOthersWaitForFullRelease) {
  RecursiveMutex mutex;
  mutex.Lock();
  ASSERT_TRUE(mutex.TryLock()) << "the owner takes it again";
  auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread([&] {
      got = mutex.TryLock();
      if (got) mutex.Unlock();
    }).join();
    return got;
  };
  EXPECT_FALSE(otherThreadGetsIt());
  mutex.Unlock();
  EXPECT_FALSE(otherThreadGetsIt()) << "still held once";
  mutex.Unlock();
  EXPECT_TRUE(otherThreadGetsIt());
  {
    RecursiveMutexGuard guard(mutex);
    EXPECT_FALSE(otherThreadGetsIt());
  }
  EXPECT_TRUE(otherThreadGetsIt());
}

}  // namespace
}  // namespace vyn::platform
