// A check's child process: however it ends, the parent learns how, in which step and on which
// input, and the end is the child's alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/ValidateChild.h"

namespace vyn::test {
namespace {

using host::ChildProbe;

TEST(ValidateChild, ReportsHowTheChildEndedWithItsStepAndInput) {
  struct Case {
    const char* desc;
    void (*body)(ChildProbe&);
    bool finished, failed;
    std::string reason;
  };
  const Case cases[] = {
      {"passes", [](ChildProbe& p) { p.Step("first", "in"); }, true, false, ""},
      {"first failure wins",
       [](ChildProbe& p) {
         p.Step("compare", "a\x01'b");
         p.Fail("they differ");
         p.Step("later");
         p.Fail("and more");
       },
       true, true, "they differ in step 'compare'"},
      {"aborts",
       [](ChildProbe& p) {
         p.Step("call", "a\x01'b");
         std::signal(SIGABRT, SIG_DFL);
         std::abort();
       },
       false, true, "crashed with signal 6 (SIGABRT) in step 'call'"},
      {"exits",
       [](ChildProbe& p) {
         p.Step("load", "a\x01'b");
         std::fputs("first words\nlast words\n", stderr);
         std::fflush(stderr);
         _exit(3);
       },
       false, true, "crashed: the process exited with status 3 ('last words') in step 'load'"},
      {"hangs",
       [](ChildProbe& p) {
         p.Step("wait", "a\x01'b");
         pause();
       },
       false, true, "timed out after 1 s in step 'wait'"},
  };
  for (const Case& c : cases) {
    const host::ChildResult result = host::RunInChild(c.body, 1);
    EXPECT_EQ(result.finished, c.finished) << c.desc;
    EXPECT_EQ(result.failed, c.failed) << c.desc;
    EXPECT_EQ(result.reason, c.reason) << c.desc;
    EXPECT_EQ(host::Printable(result.input), c.failed ? "'a\\x01\\'b'" : "''") << c.desc;
  }
}

}  // namespace
}  // namespace vyn::test
