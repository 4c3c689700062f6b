// Fuzzes the MessagePack reader. Besides crashes, leaks and undefined behaviour it checks the
// reader's contracts: consumed stays within the input, failures carry a reader message, a value
// reads the same from exactly its own bytes (nothing after it is looked at), and every proper
// prefix of a value is refused (an ending input never passes as a shorter value).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/PageCache.h"
#include "formats/MsgPack.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::BindingResult;

[[noreturn]] void Violated(const char* what) {
  std::fprintf(stderr, "contract violated: %s\n", what);
  __builtin_trap();
}

// Structural equality without recursion: fuzzed trees are as deep as the input is long.
bool SameTree(const BindingProperty& a, const BindingProperty& b) {
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x->kind() != y->kind() || x->size() != y->size()) return false;
    switch (x->kind()) {
      case BindingPropertyKind::Bool:
        if (x->asBool() != y->asBool()) return false;
        break;
      case BindingPropertyKind::Signed:
        if (x->asSigned() != y->asSigned()) return false;
        break;
      case BindingPropertyKind::Unsigned:
        if (x->asUnsigned() != y->asUnsigned()) return false;
        break;
      case BindingPropertyKind::Float: {
        const double u = x->asFloat(), v = y->asFloat();
        if (u != v && !(u != u && v != v)) return false;  // NaN equals NaN here
        break;
      }
      case BindingPropertyKind::String:
        if (x->asString() != y->asString()) return false;
        break;
      case BindingPropertyKind::Blob: {
        const auto u = x->asBlob(), v = y->asBlob();
        if (!std::equal(u.begin(), u.end(), v.begin(), v.end())) return false;
        break;
      }
      case BindingPropertyKind::Collection:
        for (std::size_t i = 0; i < x->size(); ++i) {
          pending.emplace_back(&x->element(i), &y->element(i));
        }
        break;
      case BindingPropertyKind::Structure: {
        auto u = x->members().begin();
        for (const auto& member : y->members()) {
          if ((*u).name != member.name) return false;
          pending.emplace_back(&(*u).value, &member.value);
          ++u;
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Each input builds and drops a tree; keeping one free region mapped spares an mmap and munmap
  // per input, which otherwise dominate the run time.
  vyn::binding::PageCache::Instance().SetRetainedRegionLimit(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  (void)vyn::formats::LooksLikeMsgPack(data, size);

  std::size_t consumed = 0;
  const BindingResult result = vyn::formats::ParseMsgPack(data, size, consumed);
  if (consumed > size) Violated("consumed past the end of the input");
  if (!result.ok()) {
    if (result.ErrorText().rfind("Invalid MessagePack data", 0) != 0) {
      Violated("a failure without a reader message");
    }
    if (result.size() != 1) Violated("a failure kept part of the value");
    return 0;
  }
  if (size > 0 && consumed == 0) Violated("a value read from no bytes");

  // Heap copies of exactly the bytes in question, so that reading past them is caught.
  const std::vector<uint8_t> own(data, data + consumed);
  std::size_t ownConsumed = 0;
  const BindingResult again = vyn::formats::ParseMsgPack(own.data(), own.size(), ownConsumed);
  if (!again.ok() || ownConsumed != consumed) Violated("the value's own bytes read differently");
  if (!SameTree(result, again)) Violated("the value's own bytes gave another value");

  if (consumed > 1) {
    const std::vector<uint8_t> prefix(data, data + consumed - 1);
    std::size_t prefixConsumed = 0;
    const BindingResult cut =
        vyn::formats::ParseMsgPack(prefix.data(), prefix.size(), prefixConsumed);
    if (cut.ok()) Violated("a proper prefix of a value was accepted");
  }
  return 0;
}
