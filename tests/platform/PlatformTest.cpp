// The platform layer on the system the tests run on: thread identity, executable path, clocks,
// the recursive lock, virtual memory, the heap's measures, the debugger console and the system
// facts. Each test checks what this system reports, through the one interface.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/DebugOutput.h"
#include "platform/Heap.h"
#include "platform/ModulePath.h"
#include "platform/RecursiveMutex.h"
#include "platform/SystemFacts.h"
#include "platform/Thread.h"
#include "platform/VirtualMemory.h"

#if defined(_WIN32)
#include <windows.h>
#endif

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
  EXPECT_GE(PerformanceFrequency(), 1000000) << "a counter finer than a microsecond";
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

TEST(Platform, VirtualRegionsAreZeroedWritableAndAlignedAsAsked) {
  for (const std::size_t alignment :
       {std::size_t{4096}, std::size_t{65536}, std::size_t{1} << 21}) {
    constexpr std::size_t kSize = 65536;
    auto* region = static_cast<unsigned char*>(AllocateVirtual(kSize, alignment));
    ASSERT_NE(region, nullptr) << alignment;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % alignment, 0u) << alignment;
    EXPECT_TRUE(region[0] == 0 && region[kSize - 1] == 0);
    std::memset(region, 0xAB, kSize);
    FreeVirtual(region, kSize);
  }
  FreeVirtual(nullptr, 4096);
}

TEST(Platform, HeapBlocksMeasureAtLeastWhatWasAskedForAlignedOrNot) {
  void* block = std::malloc(100);
  EXPECT_GE(HeapBlockSize(block), 100u);
  std::free(block);
  char* copy = HeapDuplicate("text");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "text");
  EXPECT_GE(HeapBlockSize(copy), 5u);
  std::free(copy);
  for (const std::size_t alignment : {std::size_t{16}, std::size_t{64}, std::size_t{4096}}) {
    void* aligned = HeapAllocateAligned(1000, alignment);
    ASSERT_NE(aligned, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % alignment, 0u) << alignment;
    EXPECT_GE(HeapAlignedBlockSize(aligned, alignment), 1000u) << alignment;
    std::memset(aligned, 1, 1000);
    HeapFreeAligned(aligned);
  }
}

// Windows hands debugger output to the debugger as an exception that a handler in the process
// sees first; elsewhere the line has no reader at all.
#if defined(_WIN32)
std::string gDebugText;
LONG CALLBACK CatchDebugOutput(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  if (record.ExceptionCode != DBG_PRINTEXCEPTION_C || record.NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  gDebugText.assign(reinterpret_cast<const char*>(record.ExceptionInformation[1]),
                    static_cast<std::size_t>(record.ExceptionInformation[0]));
  return EXCEPTION_CONTINUE_EXECUTION;
}
#endif

TEST(Platform, DebugOutputReachesTheDebuggerConsole) {
#if defined(_WIN32)
  void* handler = AddVectoredExceptionHandler(1, CatchDebugOutput);
  WriteDebugOutput("a line for the debugger\n");
  RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(gDebugText.substr(0, 24), "a line for the debugger\n");
#else
  WriteDebugOutput("a line nobody reads\n");
  GTEST_SKIP() << "no debugger console on this system";
#endif
}

TEST(Platform, ExactlyOneKindOfSystemFactsIsRead) {
  WindowsSystemFacts windows;
  windows.major = 99;
  PosixSystemFacts posix;
  posix.machine = "stale";
  const bool isWindows = ReadWindowsSystemFacts(windows);
  const bool isPosix = ReadPosixSystemFacts(posix);
#if defined(_WIN32)
  ASSERT_TRUE(isWindows && !isPosix);
  EXPECT_EQ(windows.platformId, 2u) << "the NT family";
  EXPECT_GE(windows.major, 5u);
  EXPECT_NE(windows.architecture, kArchitectureUnknown);
  EXPECT_EQ(windows.productInfo.has_value(), windows.major >= 6);
  EXPECT_TRUE(posix.machine.empty()) << "the other kind is cleared";
#else
  ASSERT_TRUE(isPosix && !isWindows);
  EXPECT_FALSE(posix.systemName.empty() || posix.release.empty() || posix.machine.empty());
  EXPECT_TRUE(!std::ifstream("/etc/os-release") || !posix.osRelease.empty());
  EXPECT_EQ(windows.major, 0u) << "the other kind is cleared";
#endif
}

}  // namespace
}  // namespace vyn::platform
