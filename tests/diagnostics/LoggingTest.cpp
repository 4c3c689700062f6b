// Logging: filters, line formats, categories, targets, the manager's lifetime, assertion reports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/AssertionReport.h"
#include "diagnostics/ConsoleLogTargets.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogLine.h"
#include "diagnostics/LogManager.h"
#include "platform/Thread.h"

namespace vyn::diagnostics {
namespace {

// Appends "<name>:<line>" to a log shared by targets, to show who wrote what in which order.
struct Recorder final : LogTarget {
  Recorder(const char* targetName, std::vector<std::string>& lines, int32_t level = kLogOkay,
           uint64_t include = 0, uint64_t exclude = 0)
      : name(targetName), log(lines) {
    EnableWriting();
    ConfigureTarget(*this, LogTargetSettings{level, include, exclude, "#M"});
  }
  ~Recorder() override { Detach(); }
  const char* GetName() const override { return name; }
  bool Write(const LogRecord& record) override {
    char line[kLogLineSize];
    FormatLine(line, sizeof line, record);
    log.push_back(name + (":" + std::string(line)));  // under the manager's lock
    if (detachWhileWriting) Detach();
    return true;
  }
  const char* name;
  std::vector<std::string>& log;
  bool detachWhileWriting = false;
};

// Each test starts from a new manager with its defaults and without the built-in targets.
class Logging : public testing::Test {
 protected:
  void SetUp() override {
    InitLogging();  // a manager made by an earlier log call has no reference; end it too
    ShutdownLogging();
    InitLogging();
    for (LogTargetTable* t : {GetStdErrTarget(), GetStdOutTarget(), GetDebuggerConsoleTarget()})
      t->unregisterTarget(t);
  }
  void TearDown() override { ShutdownLogging(); }
  std::vector<std::string> log;
};

TEST_F(Logging, ManagerFiltersThenTargetsFilterByLevelAndCategories) {
  const auto written = [this](int32_t level, uint64_t categories, int32_t targetLevel,
                              uint64_t include, uint64_t exclude) {
    Recorder target("T", log, targetLevel, include, exclude);
    LogPrintf(level, categories, "m");
    const bool any = !log.empty();
    log.clear();
    return any;
  };
  const uint64_t dbg = kCategoryDbg, gen = kCategoryGen, net = kCategoryNet;
  EXPECT_FALSE(written(kLogWarn, dbg, kLogError, 0, 0)) << "below the target's level";
  EXPECT_TRUE(written(kLogError, dbg, kLogError, 0, 0)) << "at the target's level";
  EXPECT_TRUE(written(kLogWarn, 0, kLogOkay, gen, dbg)) << "no category ignores the masks";
  EXPECT_FALSE(written(kLogWarn, dbg, kLogOkay, gen, 0)) << "include GEN refuses DBG";
  EXPECT_TRUE(written(kLogWarn, dbg | net, kLogOkay, net, 0)) << "one included bit is enough";
  EXPECT_FALSE(written(kLogWarn, dbg | net, kLogOkay, dbg, net)) << "an excluded bit refuses";
  // The manager's own settings: minimum level, suspension, muted categories.
  Recorder target("T", log);
  LogPrintf(kLogOkay, kCategoryDbg, "below the default minimum");
  LogPrintf(kLogAlways, kCategoryXtr | kCategoryDbg, "muted by default");
  SetMinLevel(kLogOkay);
  LogPrintf(kLogOkay, kCategoryDbg, "okay %s=%d", "answer", 42);
  SuspendLogging();
  LogPrintf(kLogAlways, kCategoryDbg, "while suspended");
  ResumeLogging();
  SetMutedCategories(kCategoryDbg);
  LogPrintf(kLogAlways, kCategoryDbg, "muted dbg");
  LogPrintf(kLogAlways, kCategoryXtr, "xtr no longer muted");
  LogPrintf(kLogAlways, 0, "%s", std::string(5000, 'x').c_str());
  EXPECT_EQ(log, (std::vector<std::string>{"T:okay answer=42\n", "T:xtr no longer muted\n",
                                           "T:" + std::string(4094, 'x') + "\n"}));
}

// A record of 2024-05-01 13:02:03.004, WARN, DBG and NET, as a line in a buffer of `size`.
std::string Line(const char* format, const char* message = "", std::size_t size = 4096) {
  std::vector<char> buffer(size + 1, '@');
  const LogRecord record{
      {2024, 5, 1, 13, 2, 3, 4}, kLogWarn, kCategoryDbg | kCategoryNet, 0, message};
  const std::size_t length = FormatLogLine(buffer.data(), size, format, record);
  const std::string text(buffer.data());
  return buffer[size] != '@' || length != text.size() ? "overran or miscounted: " + text : text;
}

TEST(LogLineFormat, ExpandsEachCodeAndEndsWithOneLineFeedWithinTheBuffer) {
  EXPECT_EQ(Line("#D| #L| #G| #M", "hi"), "2024-05-01T13:02:03.004|   WARN| DBG;NET| hi\n");
  EXPECT_EQ(Line("a##b#x#|#M|", "a\nb\n"), "a#bx|a\nb\n|\n");
  EXPECT_EQ(Line("#M", "hi\n") + Line("#M\n"), "hi\n\n");
  EXPECT_EQ(Line("#M", "0123456789abcdef", 16) + Line("#D", "", 8) + Line("#G", "", 6) +
                Line("abcdefgh", "", 5) + Line("#M", "x", 2) + Line("#M", "x", 1),
            "0123456789abcd\n2024-0\nDBG;\nabc\n\n");
  EXPECT_EQ(FormatLogLine(nullptr, 10, "#M", LogRecord{}), 0u);
  EXPECT_EQ(std::string(LevelName(-1)) + LevelName(0) + LevelName(2) + LevelName(3) + LevelName(4),
            "  ????  OKAY ERRORALWAYS  ????");
}

TEST(AssertionReport, LeavesOutWhatIsNotGiven) {
  std::string report = "stale", empty = "stale", lineOnly = "stale";
  BuildAssertionReport(report, "X", "a", 3, "f", nullptr);
  BuildAssertionReport(empty, "", "", 0, "", nullptr);
  BuildAssertionReport(lineOnly, nullptr, nullptr, -12, nullptr, "why");
  EXPECT_EQ(report, "Assertion failed!\n\nFile: a\nLine: 3\n\nFunction: f\n\nExpression: X");
  EXPECT_EQ(empty, "Assertion failed!\n\n") << "empty texts and line 0 count as absent";
  EXPECT_EQ(lineOnly, "Assertion failed!\n\nLine: -12\n\n\n\nDescription: why");
}

TEST(LogCategories, NamesListSetBitsAndNewNamesTakeFreeSlotsUntilFull) {
  std::string names(64, '@');
  EXPECT_EQ(CategoriesToText(names.data(), names.size(), 0x1ff), 35u);
  EXPECT_STREQ(names.c_str(), "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST;LOC");
  EXPECT_EQ(CategoriesToText(names.data(), 6, 0x3), 5u) << "cut to the buffer, terminator kept";
  EXPECT_STREQ(names.c_str(), "DBG;G");
  const uint64_t loc = uint64_t{1} << 8;  // registered when the library was loaded
  EXPECT_EQ(RegisterCategory("LOCAL"), loc) << "only three characters count";
  EXPECT_EQ(RegisterCategory("GEN") | RegisterCategory(nullptr) | RegisterCategory(""), 2u);
  const uint64_t first = RegisterCategory("QQA");
  EXPECT_GT(first, loc);
  // Every slot left, in order up to bit 63, then none; the same bits when the test runs again.
  uint64_t last = first;
  for (int i = 0; i < 26 * 3; ++i) {
    const char name[4] = {'Z', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26)};
    const uint64_t bit = RegisterCategory(name);
    ASSERT_TRUE(bit == last << 1 || (bit == 0 && last == uint64_t{1} << 63)) << name;
    last = bit == 0 ? last : bit;
  }
}

TEST_F(Logging, TargetsAreListedOnceInOrderAndFoundByTheirWholeNames) {
  struct Unconfigured final : LogTarget {
    ~Unconfigured() override { Detach(); }
    bool Write(const LogRecord&) override { return true; }
  } bare;
  LogTargetTable* fresh = bare.Table();
  EXPECT_EQ(fresh->getLevel(fresh), kLogWarn);
  EXPECT_EQ(fresh->getIncludeMask(fresh) | fresh->getExcludeMask(fresh), 0u) << "none excluded";
  Recorder a("A", log), b("B", log);
  ConfigureTarget(a, {kLogError, kCategoryDbg | kCategoryGen, kCategoryGen, "[#M]"});
  LogTargetTable* t = a.Table();
  EXPECT_EQ(t->getIncludeMask(t), kCategoryDbg) << "excluded bits leave the include mask";
  EXPECT_STREQ(t->getLineFormat(t), "[#M]");
  EXPECT_EQ(FindTarget("A"), t);
  EXPECT_TRUE(FindTarget("a") == nullptr && FindTarget("") == nullptr && !FindTarget(nullptr));
  t->registerTarget(t);  // already registered: listed once
  LogPrintf(kLogError, kCategoryDbg, "x");
  EXPECT_TRUE(AddTarget(t));
  LogPrintf(kLogError, kCategoryDbg, "twice");
  RemoveTarget(t);
  LogPrintf(kLogError, kCategoryDbg, "none");
  // A target that unregisters while it writes does not hide the next one.
  b.detachWhileWriting = true;
  ConfigureTarget(a, {kLogOkay, 0, 0, "[#M]"});
  LogPrintf(kLogWarn, 0, "1");
  LogPrintf(kLogWarn, 0, "2");
  EXPECT_EQ(log,
            (std::vector<std::string>{"B:x\n", "A:[x]\n", "B:twice\n", "A:[twice]\n", "A:[twice]\n",
                                      "B:none\n", "B:1\n", "A:[1]\n", "A:[2]\n"}))
      << "configuring moves a target last; every occurrence is removed";
}

TEST_F(Logging, LastShutdownUnregistersTargetsAndANewManagerHasTheBuiltInTargets) {
  Recorder target("T", log);
  LogTargetTable* t = target.Table();
  SetMinLevel(kLogAlways);
  InitLogging();
  ShutdownLogging();
  EXPECT_TRUE(t->isRegistered(t) && GetMinLevel() == kLogAlways) << "one reference left";
  ShutdownLogging();
  EXPECT_FALSE(t->isRegistered(t));
  ShutdownLogging();  // without a reference: nothing happens
  // A log call makes a new manager; an assertion report is a DBG error, and never a format.
  testing::internal::CaptureStderr();
  LogPrintf(kLogWarn, kCategoryDbg, "after shutdown %d", 1);
  LogPrintf(kLogWarn, kCategoryGen, "general messages stay off the console");
  ReportAssertion("E", "%1 is not %2", "p.cpp", 5, "F");
  const std::string head = "tests_diagnostics" VYN_EXE_SUFFIX +
                           FormatText("(%08X): ", platform::CurrentThreadId());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            head + "  WARN| after shutdown 1\n" + head +
                " ERROR| Assertion failed!\n\nFile: p.cpp\nLine: 5\n\nFunction: F\n\nExpression: "
                "E\n\nDescription: %1 is not %2\n");
  InitLogging();  // for TearDown
  EXPECT_TRUE(GetMinLevel() == kLogWarn && FindTarget("T") == nullptr);
  EXPECT_TRUE(FindTarget("DebuggerConsoleLogTarget") && !FindTarget("StdOutLogTarget"));
}

// Run under the thread sanitizer too: loggers on several threads while a target keeps coming and
// going; the steady target sees every message once, in each thread's order.
TEST_F(Logging, ManyThreadsLogWhileTargetsComeAndGo) {
  Recorder steady("S", log);
  constexpr int kThreads = 4, kMessages = 300;
  std::atomic<bool> done{false};
  std::thread churn([&] {
    std::vector<std::string> passingLog;
    while (!done.load()) {
      Recorder passing("P", passingLog);  // destroyed while registered: it detaches itself
      (void)FindTarget("P");
    }
  });
  std::vector<std::thread> loggers;
  for (int i = 0; i < kThreads; ++i) {
    loggers.emplace_back([i] {
      for (int n = 0; n < kMessages; ++n) LogPrintf(kLogWarn, kCategoryDbg, "t%d m%d", i, n);
    });
  }
  for (std::thread& t : loggers) t.join();
  done = true;
  churn.join();
  ASSERT_EQ(log.size(), static_cast<std::size_t>(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : log) {
    int thread = -1, message = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "S:t%d m%d", &thread, &message), 2) << line;
    EXPECT_EQ(message, next[static_cast<std::size_t>(thread)]++) << line;
  }
}

}  // namespace
}  // namespace vyn::diagnostics
