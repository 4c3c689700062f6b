// The platform stand-ins: thread identity, executable path, clocks and the recursive lock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/ModulePath.h"
#include "platform/RecursiveMutex.h"
#include "platform/Thread.h"

namespace vyn::platform {
namespace {

TEST(Platform, ExecutablePathNeedsRoomForThePathAndItsTerminator) {
  char full[1024];
  ASSERT_TRUE(ExecutablePath(full, sizeof full));
  const std::string path = full;
  EXPECT_STREQ(PathFileName(full), "tests_platform" VYN_EXE_SUFFIX);
  EXPECT_STREQ(PathFileName("name"), "name");
  char cut[1024];
  EXPECT_TRUE(ExecutablePath(cut, path.size() + 1));
  EXPECT_STREQ(cut, full);
  EXPECT_FALSE(ExecutablePath(cut, path.size())) << "one byte short";
  EXPECT_STREQ(cut, "");
  char one[2] = {'x', 'y'};
  EXPECT_FALSE(ExecutablePath(one, 1));
  EXPECT_EQ(std::string(one, 2), std::string("\0y", 2)) << "nothing written past the size";
  EXPECT_FALSE(ExecutablePath(nullptr, 10) || ExecutablePath(cut, 0)) << "no buffer";
}

TEST(Platform, ClocksGiveLocalTimePartsAndElapsedTime) {
  const LocalTimeParts t = GetLocalTimeParts();
  const int32_t parts[][3] = {{t.month, 1, 12},  {t.day, 1, 31},    {t.hour, 0, 23},
                              {t.minute, 0, 59}, {t.second, 0, 60}, {t.millisecond, 0, 999}};
  for (const auto& [part, low, high] : parts) EXPECT_TRUE(part >= low && part <= high) << part;
  const int64_t before = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double seconds = static_cast<double>(PerformanceCounter() - before) /
                         static_cast<double>(PerformanceFrequency());
  EXPECT_TRUE(seconds >= 0.019 && seconds < 5.0) << seconds;
}

TEST(Platform, ThreadsHaveTheirOwnIdsAndWaitUntilTheOwnerReleasesARecursiveLockFully) {
  RecursiveMutex mutex;
  uint32_t other = 0;
  const auto otherThreadGetsIt = [&] {
    bool got = false;
    std::thread([&] {
      other = CurrentThreadId();
      got = mutex.TryLock();
      if (got) mutex.Unlock();
    }).join();
    return got;
  };
  {
    RecursiveMutexGuard guard(mutex);
    ASSERT_TRUE(mutex.TryLock()) << "the owner takes it again";
    mutex.Unlock();
    EXPECT_FALSE(otherThreadGetsIt()) << "still held once";
  }
  EXPECT_TRUE(otherThreadGetsIt());
  EXPECT_NE(other, CurrentThreadId());
}

}  // namespace
}  // namespace vyn::platform
