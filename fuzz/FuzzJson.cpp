// Fuzzes the JSON reader and writer: the three entry points agree (the counted one reads nothing
// past its bytes), failures carry a reader message and keep nothing of the value, and every value
// read writes out as JSON (compact and pretty) that reads back to the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
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

// Keeping one free region mapped spares an mmap and munmap per input.
const vyn::binding::PageCacheRetention kOneRegionKept(1);

// The shortest form read back under default (not full-precision) parsing may be a few units off.
bool CloseDoubles(double u, double v) {
  if (u == v) return true;
  if (std::signbit(u) != std::signbit(v)) return false;
  int64_t a = 0, b = 0;
  std::memcpy(&a, &u, sizeof a);
  std::memcpy(&b, &v, sizeof b);
  return (a > b ? a - b : b - a) <= 8;
}

// Read back from JSON: signed 0 (written as 0) is unsigned 0, and a float that is not finite
// (from "2e308"; JSON has no form for it) is written as null and read back empty.
bool ReadBackAlike(const BindingProperty& x, const BindingProperty& y) {
  if (x.kind() == BindingPropertyKind::Float && !std::isfinite(x.asFloat())) {
    return y.kind() == BindingPropertyKind::Empty;
  }
  return x.kind() == BindingPropertyKind::Signed && x.asSigned() == 0 &&
         y.kind() == BindingPropertyKind::Unsigned && y.asUnsigned() == 0;
}

// A copy made member by member, each structure's members added last first. The reader nests no
// deeper than its limit, so the recursion is bounded.
void CopyLastFirst(const BindingProperty& from, BindingProperty& to) {
  if (from.kind() == BindingPropertyKind::Structure) {
    to.makeStructure();
    const auto members = from.members();
    for (auto it = members.end(); it != members.begin();) {
      --it;
      CopyLastFirst((*it).value, to.memberAt((*it).name));
    }
  } else if (from.kind() == BindingPropertyKind::Collection) {
    to.makeCollection();
    for (uint32_t i = 0; i < from.size(); ++i) CopyLastFirst(from.elements()[i], to.elementAt(i));
  } else {
    to.copyFrom(from);
  }
}

// Every structure finds the names of a record in one pass exactly as it finds each on its own.
void CheckMatchedMembers(const BindingProperty& root) {
  // In ascending byte order, as a record's registration orders them.
  static constexpr const char* kNames[] = {"",   "a",   "b",         "c",      "d",
                                           "id", "max", "questions", "survey", "type"};
  static const std::vector<vyn::binding::MemberKey> keys = [] {
    std::vector<vyn::binding::MemberKey> shared;
    for (const char* name : kNames) {
      shared.push_back({vyn::binding::BindingArena::SharedText(name)});
    }
    return shared;
  }();
  std::vector<const BindingProperty*> pending{&root};
  const BindingProperty* found[std::size(kNames)];
  while (!pending.empty()) {
    const BindingProperty& node = *pending.back();
    pending.pop_back();
    node.matchMembers(keys, found);
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const BindingProperty& one = node.member(keys[i].name->View());
      if (found[i] != (&one == &BindingProperty::EmptyNode() ? nullptr : &one)) {
        Violated("a structure's members matched in one pass differ from those found one by one");
      }
    }
    for (const BindingProperty& element : node.elements()) pending.push_back(&element);
    for (const auto member : node.members()) pending.push_back(&member.value);
  }
}

// The trees read from the same bytes through two entry points must be identical.
bool SameRead(const BindingResult& a, const BindingResult& b) {
  return a.ok() == b.ok() && a.ErrorText() == b.ErrorText() &&
         vyn::fuzz::SameTree(a, b, vyn::fuzz::SameFloatBits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // A heap copy of exactly the input, without a terminator, so that reading past it is caught.
  const std::vector<char> bytes(data, data + size);
  (void)vyn::formats::LooksLikeJson(std::string_view(bytes.data(), bytes.size()));
  const BindingResult result = vyn::formats::ParseJson(bytes.data(), bytes.size());

  const std::string text(bytes.data(), bytes.size());
  if (!SameRead(result, vyn::formats::ParseJson(text))) {
    Violated("the string form read differently from the length form");
  }
  if (std::memchr(data, '\0', size) == nullptr &&
      !SameRead(result, vyn::formats::ParseJson(text.c_str()))) {
    Violated("the NUL-terminated form read differently from the length form");
  }
  if (vyn::fuzz::ReadFailed(result, {"Error: "})) return 0;
  CheckMatchedMembers(result);

  const std::string compact = vyn::formats::ToJson(result, nullptr, nullptr);
  if (compact.empty() != (result.kind() == BindingPropertyKind::Empty)) {
    Violated("only an empty value may write the empty text");
  }
  const BindingResult back = vyn::formats::ParseJson(compact);
  if (!back.ok()) Violated("the written text does not read back");
  if (!vyn::fuzz::SameTree(result, back, CloseDoubles, ReadBackAlike)) {
    Violated("the written text reads back as another value");
  }

  // Members named in any order must make the same structure as the reader's, which orders
  // records of names it has seen before by the order it found for them.
  BindingProperty reversed;
  CopyLastFirst(result, reversed);
  if (vyn::formats::ToJson(reversed, nullptr, nullptr) != compact) {
    Violated("members added last first write differently");
  }

  // Pretty text grows with the square of the depth: only inputs too short to nest deeply.
  if (size > 1024) return 0;
  const std::string pretty = vyn::formats::ToJson(result, nullptr, "\r\n");
  const BindingResult prettyBack = vyn::formats::ParseJson(pretty);
  if (!prettyBack.ok()) Violated("the pretty text does not read back");
  if (!SameRead(back, prettyBack)) Violated("pretty and compact texts read differently");
  return 0;
}
