// The logging core: filtering, line formats, categories, targets and the manager's lifetime,
// including logging from several threads while targets come and go.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/ConsoleLogTargets.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogLine.h"
#include "diagnostics/LogManager.h"
#include "diagnostics/LogTarget.h"
#include "diagnostics/LogTime.h"
#include "platform/Thread.h"

namespace vyn::diagnostics {
namespace {

// Records every line it is given, formatted with its own line format.
class RecordingTarget final : public LogTarget {
 public:
  explicit RecordingTarget(const char* name = "RecordingTarget",
                           std::vector<std::string>* order = nullptr)
      : name_(name), order_(order) {
    EnableWriting();
  }
  ~RecordingTarget() override { Detach(); }
  const char* GetName() const override { return name_; }
  bool Write(const LogRecord& record) override {
    platform::RecursiveMutexGuard guard(OwnLock());
    char line[kLogLineSize];
    FormatLine(line, sizeof line, record);
    lines_.emplace_back(line);
    messages_.emplace_back(record.message);
    if (order_ != nullptr) order_->emplace_back(name_);
    if (onWrite) onWrite(*this);
    return true;
  }
  std::vector<std::string> Lines() const {
    platform::RecursiveMutexGuard guard(OwnLock());
    return lines_;
  }
  std::vector<std::string> Messages() const {
    platform::RecursiveMutexGuard guard(OwnLock());
    return messages_;
  }
  std::function<void(RecordingTarget&)> onWrite;

 private:
  const char* name_;
  std::vector<std::string>* order_;
  std::vector<std::string> lines_;
  std::vector<std::string> messages_;
};

void Configure(LogTarget& target, int32_t level, uint64_t include, uint64_t exclude,
               const char* lineFormat = "#M") {
  LogTargetSettings settings;
  settings.level = level;
  settings.includeMask = include;
  settings.excludeMask = exclude;
  settings.lineFormat = lineFormat;
  ConfigureTarget(target, settings);
}

bool IsRegistered(LogTargetTable* table) { return table->isRegistered(table); }

// Each test starts from a new manager with its defaults.
class Logging : public testing::Test {
 protected:
  void SetUp() override {
    InitLogging();  // a manager made by an earlier log call has no reference; end it too
    ShutdownLogging();
    InitLogging();
  }
  void TearDown() override { ShutdownLogging(); }
  // Keeps the built-in targets quiet for tests that watch only their own targets.
  static void DetachBuiltIns() {
    for (LogTargetTable* t : {GetStdErrTarget(), GetStdOutTarget(), GetDebuggerConsoleTarget()}) {
      t->unregisterTarget(t);
    }
  }
};

TEST_F(Logging, ManagerFiltersThenTargetsFilterByLevelAndCategories) {
  struct Case {
    const char* desc;
    int32_t level;
    uint64_t categories;
    int32_t targetLevel;
    uint64_t include, exclude;
    bool written;
  };
  const Case cases[] = {
      {"default minimum drops OKAY", kLogOkay, kCategoryDbg, kLogOkay, 0, 0, false},
      {"WARN passes the defaults", kLogWarn, kCategoryDbg, kLogOkay, 0, 0, true},
      {"muted XTR dropped even at ALWAYS", kLogAlways, kCategoryXtr, kLogOkay, 0, 0, false},
      {"XTR among other bits still muted", kLogAlways, kCategoryXtr | kCategoryDbg, kLogOkay, 0, 0,
       false},
      {"below the target's level", kLogWarn, kCategoryDbg, kLogError, 0, 0, false},
      {"no category ignores include and exclude", kLogWarn, 0, kLogOkay, kCategoryGen, kCategoryDbg,
       true},
      {"include GEN refuses DBG", kLogWarn, kCategoryDbg, kLogOkay, kCategoryGen, 0, false},
      {"include 0 takes DBG", kLogWarn, kCategoryDbg, kLogOkay, 0, kCategoryGen, true},
      {"exclude DBG refuses DBG", kLogWarn, kCategoryDbg, kLogOkay, 0, kCategoryDbg, false},
      {"one shared include bit is enough", kLogWarn, kCategoryDbg | kCategoryNet, kLogOkay,
       kCategoryNet, 0, true},
      {"an excluded bit refuses despite include", kLogWarn, kCategoryDbg | kCategoryNet, kLogOkay,
       kCategoryDbg, kCategoryNet, false},
  };
  DetachBuiltIns();
  for (const Case& c : cases) {
    RecordingTarget target;
    Configure(target, c.targetLevel, c.include, c.exclude);
    LogPrintf(c.level, c.categories, "m");
    EXPECT_EQ(target.Lines().size(), c.written ? 1u : 0u) << c.desc;
  }
}

TEST_F(Logging, MinimumLevelSuspensionAndMutedMaskAreManagerSettings) {
  DetachBuiltIns();
  RecordingTarget target;
  Configure(target, kLogOkay, 0, 0);
  EXPECT_EQ(GetMinLevel(), kLogWarn);
  EXPECT_EQ(GetMutedCategories(), kCategoryXtr);
  SetMinLevel(kLogOkay);
  LogPrintf(kLogOkay, kCategoryDbg, "okay");
  SuspendLogging();
  LogPrintf(kLogAlways, kCategoryDbg, "while suspended");
  ResumeLogging();
  SetMutedCategories(kCategoryDbg);
  LogPrintf(kLogAlways, kCategoryDbg, "muted dbg");
  LogPrintf(kLogAlways, kCategoryXtr, "xtr no longer muted");
  EXPECT_EQ(target.Lines(), (std::vector<std::string>{"okay\n", "xtr no longer muted\n"}));
}

TEST_F(Logging, MessagesAreFormattedAndCutAt4095Bytes) {
  DetachBuiltIns();
  RecordingTarget target;
  Configure(target, kLogOkay, 0, 0);
  LogPrintf(kLogWarn, kCategoryDbg, "%s=%d", "answer", 42);
  const std::string huge(5000, 'x');
  LogPrintf(kLogWarn, kCategoryDbg, "%s", huge.c_str());
  const std::vector<std::string> messages = target.Messages();
  const std::vector<std::string> lines = target.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "answer=42\n");
  EXPECT_TRUE(messages[1] == std::string(4095, 'x')) << messages[1].size();
  EXPECT_TRUE(lines[1] == std::string(4094, 'x') + "\n") << "line cut to its buffer, line end kept";
}

LogRecord SampleRecord(const char* message) {
  return LogRecord{{2024, 5, 1, 13, 2, 3, 4},
                   kLogWarn,
                   static_cast<uint32_t>(kCategoryDbg | kCategoryNet),
                   0,
                   message};
}

std::string Line(const char* format, const char* message = "hello", std::size_t size = 4096) {
  std::vector<char> buffer(size + 1, '@');
  const LogRecord record = SampleRecord(message);
  const std::size_t length = FormatLogLine(buffer.data(), size, format, record);
  EXPECT_EQ(buffer[size], '@') << "wrote past the buffer for format " << format;
  const std::string text(buffer.data());
  EXPECT_EQ(length, text.size()) << format;
  return text;
}

TEST(LogLineFormat, ExpandsEachCode) {
  struct Case {
    const char* desc;
    const char* format;
    const char* message;
    const char* line;
  };
  const Case cases[] = {
      {"timestamp", "#D", "hello", "2024-05-01T13:02:03.004\n"},
      {"level padded to six", "#L", "hello", "  WARN\n"},
      {"categories", "#G", "hello", "DBG;NET\n"},
      {"message", "#M", "hello", "hello\n"},
      {"plugin default", "#D| #L| #G| #M", "hello",
       "2024-05-01T13:02:03.004|   WARN| DBG;NET| hello\n"},
      {"## gives #", "a##b", "hello", "a#b\n"},
      {"unknown code gives its letter", "#x#", "hello", "x\n"},
      {"empty format", "", "hello", "\n"},
      {"message ending in a line feed", "#M", "hi\n", "hi\n"},
      {"inner line feed is kept", "#M|", "a\nb", "a\nb|\n"},
      {"format ending in a line feed", "#M\n", "hi", "hi\n"},
      {"empty message", "#M", "", "\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Line(c.format, c.message), c.line) << c.desc;
  char id[16];
  std::snprintf(id, sizeof id, "%08X\n", static_cast<unsigned>(platform::CurrentThreadId()));
  EXPECT_EQ(Line("#T"), id);
  EXPECT_TRUE(std::regex_match(Line("#H"), std::regex("[0-9]{6}\\.[0-9]{3}\n"))) << Line("#H");
}

TEST(LogLineFormat, CutsToTheBufferAndAlwaysEndsWithOneLineFeed) {
  const std::string longMessage(100, 'x');
  struct Case {
    const char* desc;
    const char* format;
    std::size_t size;
    std::string line;
  };
  const Case cases[] = {
      {"message cut, two bytes kept", "#M", 16, std::string(14, 'x') + "\n"},
      {"timestamp cut", "#D", 8, "2024-0\n"},
      {"categories cut", "#G", 6, "DBG;\n"},
      {"literal text cut", "abcdefgh", 5, "abc\n"},
      {"room for the line end only", "#M", 2, "\n"},
      {"no room for a line end", "#M", 1, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Line(c.format, longMessage.c_str(), c.size), c.line) << c.desc;
  }
  const LogRecord record = SampleRecord("x");
  EXPECT_EQ(FormatLogLine(nullptr, 10, "#M", record), 0u);
}

TEST(LogCategoryNames, ListSetBitsInOrderAndStopBeforeOverrun) {
  struct Case {
    const char* desc;
    uint64_t mask;
    std::size_t size;
    const char* text;
  };
  const Case cases[] = {
      {"no bits", 0, 32, ""},
      {"bits 0 and 6", kCategoryDbg | kCategoryNet, 32, "DBG;NET"},
      {"the fixed eight", 0xff, 64, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
      {"LOC holds slot 8", uint64_t{1} << 8, 32, "LOC"},
      {"cut in the first name", kCategoryDbg | kCategoryNet, 3, "DB"},
      {"one byte: empty", kCategoryDbg, 1, ""},
  };
  for (const Case& c : cases) {
    char buffer[80];
    std::memset(buffer, '@', sizeof buffer);
    const std::size_t length = CategoriesToText(buffer, c.size, c.mask);
    EXPECT_STREQ(buffer, c.text) << c.desc;
    EXPECT_EQ(length, std::strlen(c.text)) << c.desc;
    EXPECT_EQ(buffer[c.size], '@') << c.desc;
  }
}

TEST(LogCategoryRegistry, SameNameSameBitNewNamesTakeFreeSlotsUntilFull) {
  const uint64_t loc = uint64_t{1} << 8;
  EXPECT_EQ(RegisterCategory("LOC"), loc) << "registered when the library was loaded";
  EXPECT_EQ(RegisterCategory("LOC"), loc);
  EXPECT_EQ(RegisterCategory("LOCAL"), loc) << "only three characters count";
  EXPECT_EQ(RegisterCategory("GEN"), kCategoryGen);
  EXPECT_EQ(RegisterCategory(nullptr), 0u);
  EXPECT_EQ(RegisterCategory(""), 0u);

  const uint64_t first = RegisterCategory("QQA");
  ASSERT_NE(first, 0u);
  EXPECT_GT(first, loc);
  EXPECT_EQ(RegisterCategory("QQA"), first);
  char text[8];
  CategoriesToText(text, sizeof text, first);
  EXPECT_STREQ(text, "QQA");

  // Fill every slot left: bits come in order up to bit 63, then new names get none. The
  // names resolve to the same bits when the test runs again in the same process.
  uint64_t last = first;
  bool full = false;
  for (int i = 0; i < 26 * 3; ++i) {
    const char name[4] = {'Z', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26),
                          '\0'};
    const uint64_t bit = RegisterCategory(name);
    if (full) {
      ASSERT_EQ(bit, 0u) << name;
    } else if (bit == 0) {
      ASSERT_EQ(last, uint64_t{1} << 63) << name << ": refused before the table was full";
      full = true;
    } else {
      ASSERT_EQ(bit, last << 1) << name;
      last = bit;
    }
  }
  ASSERT_TRUE(full);
  EXPECT_EQ(RegisterCategory("NEW"), 0u);
  EXPECT_EQ(RegisterCategory("QQA"), first) << "known names still resolve";
}

TEST(LogLevelNames, PaddedToSixCharacters) {
  EXPECT_STREQ(LevelName(kLogOkay), "  OKAY");
  EXPECT_STREQ(LevelName(kLogWarn), "  WARN");
  EXPECT_STREQ(LevelName(kLogError), " ERROR");
  EXPECT_STREQ(LevelName(kLogAlways), "ALWAYS");
  EXPECT_STREQ(LevelName(4), "  ????");
  EXPECT_STREQ(LevelName(-1), "  ????");
}

TEST(LogTimestamps, FileFormLeavesOutColonsAndMilliseconds) {
  const LocalTimeParts parts{987, 12, 31, 23, 59, 58, 7};
  char buffer[32];
  FormatTimestamp(buffer, sizeof buffer, parts);
  EXPECT_STREQ(buffer, "0987-12-31T23:59:58.007");
  FormatFileTimestamp(buffer, sizeof buffer, parts);
  EXPECT_STREQ(buffer, "0987-12-31T23-59-58");
}

TEST_F(Logging, BuiltInTargetsHaveTheirSettingsAndTwoAreRegistered) {
  struct Case {
    LogTargetTable* table;
    const char* name;
    const char* format;
    uint64_t include, exclude;
    bool registered;
  };
  const Case cases[] = {
      {GetStdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", kCategoryDbg, kCategoryGen, true},
      {GetStdOutTarget(), "StdOutLogTarget", "#M", kCategoryGen, kCategoryDbg, false},
      {GetDebuggerConsoleTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kCategoryDbg, 0,
       true},
  };
  for (const Case& c : cases) {
    LogTargetTable* t = c.table;
    ASSERT_NE(t, nullptr) << c.name;
    EXPECT_STREQ(t->getName(t), c.name);
    EXPECT_STREQ(t->getLineFormat(t), c.format) << c.name;
    EXPECT_EQ(t->getLevel(t), kLogWarn) << c.name;
    EXPECT_EQ(t->getIncludeMask(t), c.include) << c.name;
    EXPECT_EQ(t->getExcludeMask(t), c.exclude) << c.name;
    EXPECT_EQ(t->isRegistered(t), c.registered) << c.name;
    EXPECT_EQ(t->interfaceVersion(t), 1) << c.name;
    EXPECT_EQ(FindTarget(c.name), c.registered ? t : nullptr) << c.name;
  }
  EXPECT_STREQ(ExecutableName(), "tests_diagnostics") << "read when the manager was made";
  EXPECT_EQ(Line("#E"), "tests_diagnostics\n");
}

TEST_F(Logging, StandardErrorAndOutputWriteTheirLineFormats) {
  testing::internal::CaptureStderr();
  LogPrintf(kLogWarn, kCategoryDbg, "to stderr %d", 1);
  LogPrintf(kLogWarn, kCategoryGen, "excluded from stderr");
  const std::string err = testing::internal::GetCapturedStderr();
  char expected[64];
  std::snprintf(expected, sizeof expected, "tests_diagnostics(%08X):   WARN| to stderr 1\n",
                static_cast<unsigned>(platform::CurrentThreadId()));
  EXPECT_EQ(err, expected);

  DetachBuiltIns();
  LogTargetTable* out = GetStdOutTarget();
  out->registerTarget(out);
  static_cast<StdOutLogTarget*>(LogTarget::FromTable(out))->SetFlushAfterEachLine(true);
  testing::internal::CaptureStdout();
  LogPrintf(kLogError, kCategoryGen, "to stdout");
  LogPrintf(kLogError, kCategoryDbg, "excluded from stdout");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "to stdout\n");
}

TEST_F(Logging, FindTargetMatchesWholeRegisteredNamesOnly) {
  RecordingTarget target("Recorder");
  EXPECT_EQ(FindTarget("Recorder"), nullptr) << "not registered yet";
  Configure(target, kLogWarn, 0, 0);
  EXPECT_EQ(FindTarget("Recorder"), target.Table());
  EXPECT_EQ(FindTarget("Record"), nullptr);
  EXPECT_EQ(FindTarget("recorder"), nullptr);
  EXPECT_EQ(FindTarget(nullptr), nullptr);
  target.Detach();
  EXPECT_EQ(FindTarget("Recorder"), nullptr);
}

TEST_F(Logging, ConfigureTargetClearsExcludedBitsAndMovesTheTargetLast) {
  DetachBuiltIns();
  std::vector<std::string> order;
  RecordingTarget a("A", &order);
  RecordingTarget b("B", &order);
  Configure(a, kLogOkay, 0, 0);
  Configure(b, kLogOkay, 0, 0);
  Configure(a, kLogError, kCategoryDbg | kCategoryGen, kCategoryGen, "[#M]");
  LogTargetTable* t = a.Table();
  EXPECT_EQ(t->getIncludeMask(t), kCategoryDbg);
  EXPECT_EQ(t->getExcludeMask(t), kCategoryGen);
  EXPECT_EQ(t->getLevel(t), kLogError);
  EXPECT_STREQ(t->getLineFormat(t), "[#M]");
  LogPrintf(kLogError, kCategoryDbg, "x");
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(a.Lines(), std::vector<std::string>{"[x]\n"});
  // The same through the table entry alone.
  t->setCategories(t, kCategoryNet | kCategoryMem, kCategoryMem);
  EXPECT_EQ(t->getIncludeMask(t), kCategoryNet);
}

TEST_F(Logging, RegisterListsOnceAddTargetListsAsOftenAsCalled) {
  DetachBuiltIns();
  RecordingTarget target;
  LogTargetTable* t = target.Table();
  t->setLevel(t, kLogOkay);
  t->registerTarget(t);
  t->registerTarget(t);
  LogPrintf(kLogWarn, 0, "once");
  EXPECT_EQ(target.Lines().size(), 1u);
  EXPECT_TRUE(AddTarget(t));
  LogPrintf(kLogWarn, 0, "twice");
  EXPECT_EQ(target.Lines().size(), 3u);
  RemoveTarget(t);
  LogPrintf(kLogWarn, 0, "none");
  EXPECT_EQ(target.Lines().size(), 3u) << "every occurrence removed";
}

TEST_F(Logging, TargetWithoutWritingEnabledWritesNothing) {
  class Silent final : public LogTarget {
   public:
    ~Silent() override { Detach(); }
    bool Write(const LogRecord&) override {
      ++writes;
      return true;
    }
    int writes = 0;
  } silent;
  LogTargetTable* t = silent.Table();
  const LogRecord record = SampleRecord("x");
  EXPECT_FALSE(t->log(t, &record));
  EXPECT_EQ(silent.writes, 0);
  EXPECT_STREQ(t->getName(t), "LogTarget");
  EXPECT_STREQ(t->getLineFormat(t), "#D| #L| #G| #M");
}

TEST_F(Logging, TargetThatUnregistersWhileWritingDoesNotHideTheNextOne) {
  DetachBuiltIns();
  std::vector<std::string> order;
  RecordingTarget leaving("Leaving", &order);
  RecordingTarget staying("Staying", &order);
  Configure(leaving, kLogOkay, 0, 0);
  Configure(staying, kLogOkay, 0, 0);
  leaving.onWrite = [](RecordingTarget& self) { self.Detach(); };
  LogPrintf(kLogWarn, 0, "first");
  LogPrintf(kLogWarn, 0, "second");
  EXPECT_EQ(order, (std::vector<std::string>{"Leaving", "Staying", "Staying"}));
}

TEST_F(Logging, LastShutdownUnregistersTargetsAndResetsTheManager) {
  RecordingTarget target;
  Configure(target, kLogOkay, 0, 0);
  SetMinLevel(kLogAlways);
  InitLogging();
  ShutdownLogging();
  EXPECT_TRUE(IsRegistered(target.Table())) << "one reference left";
  EXPECT_EQ(GetMinLevel(), kLogAlways);
  ShutdownLogging();
  EXPECT_FALSE(IsRegistered(target.Table()));
  ShutdownLogging();  // without a reference: nothing happens
  testing::internal::CaptureStderr();
  LogPrintf(kLogWarn, kCategoryDbg, "after shutdown");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("after shutdown"), std::string::npos)
      << "a log call makes a new manager";
  InitLogging();  // for TearDown
  EXPECT_EQ(GetMinLevel(), kLogWarn) << "a new manager with its defaults";
  EXPECT_EQ(FindTarget("RecordingTarget"), nullptr);
  EXPECT_NE(FindTarget("StdErrLogTarget"), nullptr);
}

TEST_F(Logging, ManyThreadsLogWhileTargetsComeAndGo) {
  DetachBuiltIns();
  RecordingTarget steady("Steady");
  Configure(steady, kLogOkay, 0, 0);
  constexpr int kThreads = 4;
  constexpr int kMessages = 300;
  std::atomic<bool> done{false};
  std::atomic<int> churned{0};
  std::thread churn([&] {
    while (!done.load()) {
      RecordingTarget passing("Passing");
      Configure(passing, kLogOkay, kCategoryDbg, 0);
      SetMinLevel(kLogOkay);
      LogTargetTable* t = passing.Table();
      t->unregisterTarget(t);
      t->registerTarget(t);
      (void)FindTarget("Passing");
      churned.fetch_add(1);
    }  // destroyed while registered: its destructor detaches it
  });
  std::vector<std::thread> loggers;
  for (int i = 0; i < kThreads; ++i) {
    loggers.emplace_back([i] {
      for (int n = 0; n < kMessages; ++n) LogPrintf(kLogWarn, kCategoryDbg, "t%d m%d", i, n);
    });
  }
  for (std::thread& t : loggers) t.join();
  while (churned.load() < 3) std::this_thread::yield();
  done = true;
  churn.join();

  const std::vector<std::string> lines = steady.Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kMessages));
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int thread = -1, message = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "t%d m%d", &thread, &message), 2) << line;
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
    EXPECT_EQ(message, next[thread]++) << "each thread's lines arrive whole and in order";
  }
}

}  // namespace
}  // namespace vyn::diagnostics
