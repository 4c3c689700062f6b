// Fuzzes the JSON reader and writer. Besides crashes, leaks and undefined behaviour it checks the
// contracts: the length form reads nothing past its bytes and agrees with the NUL-terminated
// form, failures carry a reader message and keep nothing of the value, and every value that was
// read writes out as JSON (compact and pretty) that reads back to the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/PageCache.h"
#include "formats/Json.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::BindingResult;
using vyn::fuzz::Violated;

// Doubles read back from the writer's shortest form may land a few units in the last place away
// under the reader's default (not full-precision) number parsing.
bool CloseDoubles(double u, double v) {
  if (u == v) return true;
  if (std::signbit(u) != std::signbit(v)) return false;
  int64_t a = 0, b = 0;
  std::memcpy(&a, &u, sizeof a);
  std::memcpy(&b, &v, sizeof b);
  return (a > b ? a - b : b - a) <= 8;
}

// With the second tree read back from the first one's JSON, signed 0 (written as 0) reads back as
// unsigned 0, and a float that is not finite (the reader makes one of "2e308"; JSON has no form
// for it, so it is written as null) reads back as an empty value.
bool ReadBackAlike(const BindingProperty& x, const BindingProperty& y) {
  if (x.kind() == BindingPropertyKind::Float && !std::isfinite(x.asFloat())) {
    return y.kind() == BindingPropertyKind::Empty;
  }
  return x.kind() == BindingPropertyKind::Signed && x.asSigned() == 0 &&
         y.kind() == BindingPropertyKind::Unsigned && y.asUnsigned() == 0;
}

// Structural equality. With `written` the second tree was read back from the first one's JSON,
// so doubles may differ in their last places; otherwise the trees must be identical.
bool SameTree(const BindingProperty& a, const BindingProperty& b, bool written) {
  return written ? vyn::fuzz::SameTree(a, b, CloseDoubles, ReadBackAlike)
                 : vyn::fuzz::SameTree(a, b, vyn::fuzz::SameFloatBits);
}

void CheckFailure(const BindingResult& result) {
  if (result.ErrorText().rfind("Error: ", 0) != 0) Violated("a failure without a reader message");
  if (result.size() != 1) Violated("a failure kept part of the value");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Each input builds and drops a tree; keeping one free region mapped spares an mmap and munmap
  // per input.
  vyn::binding::PageCache::Instance().SetRetainedRegionLimit(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // A heap copy of exactly the input, without a terminator, so that reading past it is caught.
  const std::vector<char> bytes(data, data + size);
  (void)vyn::formats::LooksLikeJson(std::string_view(bytes.data(), bytes.size()));
  const BindingResult result = vyn::formats::ParseJson(bytes.data(), bytes.size());

  const std::string text(bytes.data(), bytes.size());
  const BindingResult fromString = vyn::formats::ParseJson(text);
  if (fromString.ok() != result.ok() || fromString.ErrorText() != result.ErrorText() ||
      !SameTree(result, fromString, false)) {
    Violated("the string form read differently from the length form");
  }
  if (std::memchr(data, '\0', size) == nullptr) {
    const BindingResult terminated = vyn::formats::ParseJson(text.c_str());
    if (terminated.ok() != result.ok() || terminated.ErrorText() != result.ErrorText() ||
        !SameTree(result, terminated, false)) {
      Violated("the NUL-terminated form read differently from the length form");
    }
  }
  if (!result.ok()) {
    CheckFailure(result);
    return 0;
  }

  const std::string compact = vyn::formats::ToJson(result, nullptr, nullptr);
  if (compact.empty() != (result.kind() == BindingPropertyKind::Empty)) {
    Violated("only an empty value may write the empty text");
  }
  const BindingResult back = vyn::formats::ParseJson(compact);
  if (!back.ok()) Violated("the written text does not read back");
  if (!SameTree(result, back, true)) Violated("the written text reads back as another value");

  // Pretty text grows with the square of the depth (one indented line per bracket), so only
  // inputs too short to nest deeply take this path.
  if (size > 1024) return 0;
  const std::string pretty = vyn::formats::ToJson(result, nullptr, "\r\n");
  const BindingResult prettyBack = vyn::formats::ParseJson(pretty);
  if (!prettyBack.ok()) Violated("the pretty text does not read back");
  if (!SameTree(back, prettyBack, false)) Violated("pretty and compact texts read differently");
  return 0;
}
