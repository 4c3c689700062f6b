// Fuzzes the MessagePack reader: consumed stays within the input, failures carry a reader message,
// a value reads the same from exactly its own bytes and as a plain reader builds it member by
// member, and every proper prefix of a value is refused.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "binding/PageCache.h"
#include "formats/MsgPack.h"
#include "fuzz/FuzzSupport.h"

using vyn::binding::BindingProperty;
using vyn::binding::BindingResult;
using vyn::fuzz::Violated;

namespace {

// Reads the value at `at` as a plain recursive reader would, each member set through memberAt, so
// that however the reader makes its structures they must come out the same. Only what the reader
// accepted comes here: every read is in bounds, and the nesting within its limit.
void ReadPlainly(const uint8_t* data, std::size_t& at, BindingProperty& slot) {
  const auto number = [&](std::size_t bytes) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | data[at++];
    return value;
  };
  const auto text = [&](uint64_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data + at), size);
    at += size;
    return bytes;
  };
  const uint8_t type = data[at++];
  if (type < 0x80 || type >= 0xE0) {
    slot.setSigned(static_cast<int8_t>(type));
  } else if (type < 0x90 || type == 0xDE || type == 0xDF) {
    const uint64_t count = type < 0x90 ? type & 0x0Fu : number(type == 0xDE ? 2 : 4);
    slot.makeStructure();
    for (uint64_t i = 0; i < count; ++i) {
      const uint8_t key = data[at++];
      const uint64_t size = key < 0xC0 ? key & 0x1Fu : number(std::size_t{1} << (key - 0xD9));
      BindingProperty& member = slot.memberAt(text(size));
      member.reset();  // of a name given twice the later value stays, nil too
      ReadPlainly(data, at, member);
    }
  } else if (type < 0xA0 || type == 0xDC || type == 0xDD) {
    const uint64_t count = type < 0xA0 ? type & 0x0Fu : number(type == 0xDC ? 2 : 4);
    slot.makeCollection();
    for (uint64_t i = 0; i < count; ++i) ReadPlainly(data, at, slot.appendElement());
  } else if (type < 0xC0 || (type >= 0xD9 && type <= 0xDB)) {
    slot.setString(text(type < 0xC0 ? type & 0x1Fu : number(std::size_t{1} << (type - 0xD9))));
  } else if (type >= 0xC4 && type <= 0xC6) {
    const uint64_t size = number(std::size_t{1} << (type - 0xC4));
    slot.setBlob(std::span<const uint8_t>(data + at, size));
    at += size;
  } else if (type == 0xC2 || type == 0xC3) {
    slot.setBool(type == 0xC3);
  } else if (type == 0xCA) {
    slot.setFloat(std::bit_cast<float>(static_cast<uint32_t>(number(4))));
  } else if (type == 0xCB) {
    slot.setFloat(std::bit_cast<double>(number(8)));
  } else if (type >= 0xCC && type <= 0xCF) {
    slot.setUnsigned(number(std::size_t{1} << (type - 0xCC)));
  } else if (type >= 0xD0 && type <= 0xD3) {
    const std::size_t bytes = std::size_t{1} << (type - 0xD0);
    const uint64_t raw = number(bytes);
    const unsigned unused = 64 - 8 * static_cast<unsigned>(bytes);
    slot.setSigned(static_cast<int64_t>(raw << unused) >> unused);
  }
  // Nil (0xC0) leaves the slot empty.
}

}  // namespace

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
  BindingResult plain;
  std::size_t plainConsumed = 0;
  if (consumed != 0) ReadPlainly(own.data(), plainConsumed, plain);
  if (plainConsumed != consumed || !vyn::fuzz::SameTree(result, plain, vyn::fuzz::SameFloatBits)) {
    Violated("the value read differently from one built member by member");
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
