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
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::BindingResult;
using vyn::fuzz::Violated;


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
  if (!vyn::fuzz::SameTree(result, again, vyn::fuzz::SameFloatOrBothNaN)) Violated("the value's own bytes gave another value");

  if (consumed > 1) {
    const std::vector<uint8_t> prefix(data, data + consumed - 1);
    std::size_t prefixConsumed = 0;
    const BindingResult cut =
        vyn::formats::ParseMsgPack(prefix.data(), prefix.size(), prefixConsumed);
    if (cut.ok()) Violated("a proper prefix of a value was accepted");
  }
  return 0;
}
