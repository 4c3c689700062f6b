// Shared by the fuzz targets: reporting a broken contract, comparing two value trees, reading
// structured input from the fuzz bytes, and building host record trees from it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "base/HostAbi.h"

namespace vyn::fuzz {

[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "contract violated: %s\n", what);
  __builtin_trap();
}

// Float equality where a NaN equals a NaN.
inline bool SameFloatOrBothNaN(double u, double v) { return u == v || (u != u && v != v); }

// Float equality bit for bit (so -0 and 0 differ).
inline bool SameFloatBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

// Structural equality without recursion: fuzzed trees are as deep as the input is long. Floats
// compare through `sameFloat`; `alike`, when given, may declare two nodes equal before their
// kinds are compared (a reader that normalises some values).
inline bool SameTree(const binding::BindingProperty& a, const binding::BindingProperty& b,
                     bool (*sameFloat)(double, double),
                     bool (*alike)(const binding::BindingProperty&,
                                   const binding::BindingProperty&) = nullptr) {
  using binding::BindingProperty;
  using binding::BindingPropertyKind;
  std::vector<std::pair<const BindingProperty*, const BindingProperty*>> pending{{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (alike != nullptr && alike(*x, *y)) continue;
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
      case BindingPropertyKind::Float:
        if (!sameFloat(x->asFloat(), y->asFloat())) return false;
        break;
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

// Reads the fuzz bytes front to back. Past the end every read gives zeros or nothing, so a
// harness decodes any input without checking lengths, and a short input is simply a small case.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t remaining() const { return size_ - pos_; }
  bool empty() const { return pos_ == size_; }

  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  uint64_t U64() { return static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32; }

  // Up to `count` bytes (fewer at the end of the input).
  std::string Bytes(std::size_t count) {
    const std::size_t taken = std::min(count, remaining());
    std::string bytes(reinterpret_cast<const char*>(data_ + pos_), taken);
    pos_ += taken;
    return bytes;
  }
  // A length byte, then that many bytes; the length 255 is followed by a 16-bit length instead,
  // so that long texts stay reachable without making every text expensive.
  std::string Text() {
    std::size_t length = Byte();
    if (length == 255) length = U16();
    return Bytes(length);
  }
  std::string Rest() { return Bytes(remaining()); }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Host record trees decoded from fuzz bytes, as a host would hand them over. Every text, byte
// array and record array is a heap block of exactly the size its record claims (texts one byte
// more, for the NUL), so that reading past any of them is caught. The trees live as long as the
// builder; they are only read, never released through the plugin.
//
// A record starts with a tag byte whose low four bits choose it: 0 to 10 the host kinds, 11 a kind
// outside the table, 12 a chain of single-element containers (for the depth limit), 13 a text,
// blob or container record without data but with a count, 14 and 15 more containers. Bits 4 and 5
// vary the record: a text whose count disagrees with its length, a text or blob without data.
class HostTreeBuilder {
 public:
  explicit HostTreeBuilder(std::size_t maxRecords) : maxRecords_(maxRecords) {}
  HostTreeBuilder(const HostTreeBuilder&) = delete;
  HostTreeBuilder& operator=(const HostTreeBuilder&) = delete;

  HostValue Build(FuzzInput& in) { return Record(in); }

 private:
  static HostValue Ref(uint32_t kind, const void* ptr, uint32_t count) {
    HostValue value;
    std::memset(&value, 0, sizeof value);
    value.kind = kind;
    value.payload.ref.ptr = ptr;
    value.payload.ref.count = count;
    return value;
  }

  const void* Keep(const void* bytes, std::size_t size, bool terminate) {
    auto block = std::make_unique<uint8_t[]>(size + (terminate ? 1 : 0));
    if (size != 0) std::memcpy(block.get(), bytes, size);
    if (terminate) block[size] = 0;
    blocks_.push_back(std::move(block));
    return blocks_.back().get();
  }

  HostValue Text(FuzzInput& in, uint32_t kind, uint8_t tag) {
    const std::string bytes = in.Text();
    if ((tag & 0x20) != 0) return Ref(kind, nullptr, 0);
    const bool blob = kind == kHostValueBlobBorrowed || kind == kHostValueBlobOwned;
    uint32_t count = static_cast<uint32_t>(bytes.size());
    // A text's count is advisory (the text ends at its NUL); a blob's count is its size.
    if (!blob && (tag & 0x10) != 0) count = in.Byte();
    return Ref(kind, Keep(bytes.data(), bytes.size(), !blob), count);
  }

  HostValue Container(FuzzInput& in, uint32_t kind) {
    std::size_t count = in.Byte() % 8;
    if (count == 7) count = in.Byte();
    if (kind == kHostValueCollection) {
      std::vector<HostValue> elements;
      for (std::size_t i = 0; i < count && records_ < maxRecords_; ++i) {
        elements.push_back(Record(in));
      }
      const void* array = Keep(elements.data(), elements.size() * sizeof(HostValue), false);
      return Ref(kind, array, static_cast<uint32_t>(elements.size()));
    }
    std::vector<HostMember> members;
    for (std::size_t i = 0; i < count && records_ < maxRecords_; ++i) {
      HostMember member;
      std::memset(&member, 0, sizeof member);
      const uint8_t nameTag = in.Byte();
      if (nameTag != 0xFF) {
        // Names come from a small alphabet most of the time, so that members repeat.
        const std::string name = (nameTag & 0x80) != 0
                                     ? in.Text()
                                     : std::string(1, static_cast<char>('a' + nameTag % 4));
        member.name = static_cast<const char*>(Keep(name.data(), name.size(), true));
      }
      member.value = Record(in);
      member.ownsName = in.Byte();
      members.push_back(member);
    }
    const void* array = Keep(members.data(), members.size() * sizeof(HostMember), false);
    return Ref(kind, array, static_cast<uint32_t>(members.size()));
  }

  // Single-element containers around a leaf, alternating collections and structures.
  HostValue Chain(FuzzInput& in) {
    const std::size_t depth = std::min<std::size_t>(in.U16() % 1200, maxRecords_ - records_);
    HostValue inner = Ref(kHostValueEmpty, nullptr, 0);
    inner.kind = kHostValueUnsigned;
    inner.payload.u = depth;
    for (std::size_t i = 0; i < depth; ++i) {
      ++records_;
      if (i % 2 == 0) {
        inner = Ref(kHostValueCollection, Keep(&inner, sizeof inner, false), 1);
      } else {
        HostMember member;
        std::memset(&member, 0, sizeof member);
        member.name = static_cast<const char*>(Keep("m", 1, true));
        member.value = inner;
        inner = Ref(kHostValueStructure, Keep(&member, sizeof member, false), 1);
      }
    }
    return inner;
  }

  HostValue Record(FuzzInput& in) {
    ++records_;
    const uint8_t tag = in.Byte();
    HostValue value = Ref(kHostValueEmpty, nullptr, 0);
    switch (tag & 0x0F) {
      case kHostValueEmpty:
        return value;
      case kHostValueBool:
        value.kind = kHostValueBool;
        value.payload.b = in.Byte();  // a host may send any byte
        return value;
      case kHostValueSigned:
      case kHostValueUnsigned:
      case kHostValueFloat:
        value.kind = tag & 0x0F;
        value.payload.u = in.U64();
        return value;
      case kHostValueStringBorrowed:
      case kHostValueStringOwned:
      case kHostValueBlobBorrowed:
      case kHostValueBlobOwned:
        return Text(in, tag & 0x0F, tag);
      case 11:
        value.kind = std::max<uint32_t>(in.U32(), kHostValueStructure + 1);
        value.payload.u = in.U64();
        return value;
      case 12:
        return Chain(in);
      case 13:
        return Ref(kHostValueStringBorrowed + in.Byte() % 6, nullptr, 1u + in.Byte());
      case kHostValueCollection:
      case 14:
        return Container(in, kHostValueCollection);
      default:
        return Container(in, kHostValueStructure);
    }
  }

  std::size_t maxRecords_;
  std::size_t records_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

}  // namespace vyn::fuzz
