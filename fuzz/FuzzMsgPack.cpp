// Fuzzes the MessagePack reader: consumed stays within the input, failures carry a reader message,
// a value reads the same from exactly its own bytes, and every proper prefix of a value is refused.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "binding/PageCache.h"
#include "formats/MsgPack.h"
#include "fuzz/FuzzSupport.h"

using vyn::binding::BindingResult;
using vyn::fuzz::Violated;

// Keeping one free region mapped spares an mmap and munmap per input.
const vyn::binding::PageCacheRetention kOneRegionKept(1);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  (void)vyn::formats::LooksLikeMsgPack(data, size);

  std::size_t consumed = 0;
  const BindingResult result = vyn::formats::ParseMsgPack(data, size, consumed);
  if (consumed > size) Violated("consumed past the end of the input");
  if (vyn::fuzz::ReadFailed(result, {"Invalid MessagePack data"})) return 0;
  if (size > 0 && consumed == 0) Violated("a value read from no bytes");

  // Heap copies of exactly the bytes in question, so that reading past them is caught.
  const std::vector<uint8_t> own(data, data + consumed);
  std::size_t ownConsumed = 0;
  const BindingResult again = vyn::formats::ParseMsgPack(own.data(), own.size(), ownConsumed);
  if (!again.ok() || ownConsumed != consumed) Violated("the value's own bytes read differently");
  if (!vyn::fuzz::SameTree(result, again, vyn::fuzz::SameFloatBits)) {
    Violated("the value's own bytes gave another value");
  }
  if (consumed > 1) {
    const std::vector<uint8_t> prefix(data, data + consumed - 1);
    std::size_t prefixConsumed = 0;
    if (vyn::formats::ParseMsgPack(prefix.data(), prefix.size(), prefixConsumed).ok()) {
      Violated("a proper prefix of a value was accepted");
    }
  }
  return 0;
}
