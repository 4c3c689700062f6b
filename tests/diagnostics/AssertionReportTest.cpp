// The assertion report's text and its way into the log.
#include <gtest/gtest.h>

#include "diagnostics/AssertionReport.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogManager.h"

namespace vyn::diagnostics {
namespace {

TEST(AssertionReportText, LeavesOutWhatIsNotGiven) {
  struct Case {
    const char* desc;
    const char* expression;
    const char* file;
    int32_t line;
    const char* function;
    const char* description;
    const char* report;
  };
  const Case cases[] = {
      {"all but the description", "X", "a", 3, "f", nullptr,
       "Assertion failed!\n\nFile: a\nLine: 3\n\nFunction: f\n\nExpression: X"},
      {"nothing given", nullptr, nullptr, 0, nullptr, nullptr, "Assertion failed!\n\n"},
      {"empty texts count as absent", "", "", 0, "", "", "Assertion failed!\n\n"},
      {"negative line", nullptr, nullptr, -12, nullptr, nullptr,
       "Assertion failed!\n\nLine: -12\n\n"},
      {"description without expression", nullptr, nullptr, 0, nullptr, "why",
       "Assertion failed!\n\n\n\nDescription: why"},
      {"everything", "e", "f.cpp", 7, "g", "d",
       "Assertion failed!\n\nFile: f.cpp\nLine: 7\n\nFunction: g\n\nExpression: e\n\n"
       "Description: d"},
  };
  for (const Case& c : cases) {
    std::string report = "stale";
    BuildAssertionReport(report, c.expression, c.file, c.line, c.function, c.description);
    EXPECT_EQ(report, c.report) << c.desc;
  }
}

class Recorder final : public LogTarget {
 public:
  Recorder() { EnableWriting(); }
  ~Recorder() override { Detach(); }
  bool Write(const LogRecord& record) override {
    level = record.level;
    categories = record.Categories();
    message = record.message;
    return true;
  }
  int32_t level = -1;
  uint64_t categories = 0;
  std::string message;
};

TEST(AssertionReportLogging, LogsTheReportAsADbgError) {
  InitLogging();
  for (LogTargetTable* t : {GetStdErrTarget(), GetDebuggerConsoleTarget()}) {
    t->unregisterTarget(t);
  }
  {
    Recorder recorder;
    ConfigureTarget(recorder, LogTargetSettings{});
    ReportAssertion("ALE-EECF0606", "%1 is not %2", "p.cpp", 5, "Register");
    EXPECT_EQ(recorder.level, kLogError);
    EXPECT_EQ(recorder.categories, kCategoryDbg);
    EXPECT_EQ(recorder.message,
              "Assertion failed!\n\nFile: p.cpp\nLine: 5\n\nFunction: Register\n\n"
              "Expression: ALE-EECF0606\n\nDescription: %1 is not %2")
        << "the report is an argument, never a format";
  }
  ShutdownLogging();
}

}  // namespace
}  // namespace vyn::diagnostics
