// Shared by the fuzz targets: broken contracts, tree equality, structured input, host records.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/HostAbi.h"
#include "binding/BindingProperty.h"

namespace vyn::fuzz {

[[noreturn]] inline void Violated(const char* what) {
  std::fprintf(stderr, "contract violated: %s\n", what);
  __builtin_trap();
}

// Float equality bit for bit (so -0 and 0 differ).
inline bool SameFloatBits(double u, double v) { return std::memcmp(&u, &v, sizeof u) == 0; }

// Structural equality without recursion (fuzzed trees are as deep as the input is long); `alike`
// may declare two nodes equal before their kinds are compared (a reader that normalises values).
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
    const BindingPropertyKind kind = x->kind();
    if ((kind == BindingPropertyKind::Bool && x->asBool() != y->asBool()) ||
        (kind == BindingPropertyKind::Signed && x->asSigned() != y->asSigned()) ||
        (kind == BindingPropertyKind::Unsigned && x->asUnsigned() != y->asUnsigned()) ||
        (kind == BindingPropertyKind::Float && !sameFloat(x->asFloat(), y->asFloat())) ||
        (kind == BindingPropertyKind::String && x->asString() != y->asString()) ||
        (kind == BindingPropertyKind::Blob && !std::ranges::equal(x->asBlob(), y->asBlob()))) {
      return false;
    }
    for (std::size_t i = 0; kind == BindingPropertyKind::Collection && i < x->size(); ++i) {
      pending.emplace_back(&x->element(i), &y->element(i));
    }
    if (kind != BindingPropertyKind::Structure) continue;
    auto u = x->members().begin();
    std::string_view previous;
    for (const auto& member : y->members()) {
      if ((*u).name != member.name) return false;
      // However a structure was built, it lists each name once, in ascending byte order.
      if (u != x->members().begin() && !(previous < member.name)) Violated("members out of order");
      previous = member.name;
      pending.emplace_back(&(*u).value, &member.value);
      ++u;
    }
  }
  return true;
}

// Whether a reader failed; a failure must carry one of the reader's own messages (one of
// `prefixes`) and keep nothing of the value but the error.
inline bool ReadFailed(const binding::BindingResult& result,
                       std::initializer_list<std::string_view> prefixes) {
  if (result.ok()) return false;
  const std::string message = result.ErrorText();
  if (std::ranges::none_of(prefixes, [&](std::string_view p) { return message.starts_with(p); })) {
    Violated("a failure without a reader message");
  }
  if (result.size() != 1) Violated("a failure kept part of the value");
  return true;
}

// What ToHostValue promises about the records it makes (the plugin's responses among them):
// owned texts with their NUL at the count, owned blobs, containers with their arrays, members in
// ascending name order with owned names, bools as 0 or 1.
inline void CheckMadeRecords(const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  if (value.kind == kHostValueBool && value.payload.b > 1) Violated("a bool neither 0 nor 1");
  if (value.kind == kHostValueStringBorrowed || value.kind == kHostValueBlobBorrowed ||
      value.kind > kHostValueStructure) {
    Violated("a record made of a borrowed or unknown kind");
  }
  if (value.kind < kHostValueStringOwned) return;
  if (ref.ptr == nullptr) Violated("a made text, blob or container has no data");
  if (value.kind == kHostValueStringOwned && static_cast<const char*>(ref.ptr)[ref.count] != '\0') {
    Violated("a made text is not terminated at its count");
  }
  std::string_view previous;
  for (uint32_t i = 0; value.kind >= kHostValueCollection && i < ref.count; ++i) {
    if (value.kind == kHostValueCollection) {
      CheckMadeRecords(static_cast<const HostValue*>(ref.ptr)[i]);
      continue;
    }
    const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
    if (member.name == nullptr || member.ownsName != 1) Violated("a made name is not owned");
    if (i != 0 && !(previous < member.name)) Violated("made members are not in name order");
    previous = member.name;
    CheckMadeRecords(member.value);
  }
}

// Reads the fuzz bytes front to back; past the end every read gives zeros or nothing.
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
  // A length byte, then that many bytes; 255 is followed by a 16-bit length for long texts.
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

// Host record trees decoded from fuzz bytes, in heap blocks of exactly the size a record claims
// (texts one byte more, for the NUL), so that reading past any of them is caught. A record starts
// with a tag byte whose low four bits choose it: 0 to 10 the host kinds, 11 a kind outside the
// table, 12 a chain of single-element containers (for the depth limit), 13 a text, blob or
// container record without data but with a count, 14 and 15 more containers. Bits 4 and 5 vary the
// record: a text whose count disagrees with its length, a text or blob without data.
class HostTreeBuilder {
 public:
  explicit HostTreeBuilder(std::size_t maxRecords) : maxRecords_(maxRecords) {}
  HostTreeBuilder(const HostTreeBuilder&) = delete;
  HostTreeBuilder& operator=(const HostTreeBuilder&) = delete;

  HostValue Build(FuzzInput& in) { return Record(in); }

 private:
  static HostValue Ref(uint32_t kind, const void* ptr, uint32_t count) {
    HostValue value{};
    value.kind = kind;
    value.payload.ref = HostValueRef{ptr, count};
    return value;
  }

  const void* Keep(const void* bytes, std::size_t size, bool terminate) {
    // Zero-filled, so that a text ends in its NUL.
    auto& block = blocks_.emplace_back(std::make_unique<uint8_t[]>(size + (terminate ? 1 : 0)));
    if (size != 0) std::memcpy(block.get(), bytes, size);
    return block.get();
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
      HostMember& member = members.emplace_back();
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
    }
    const void* array = Keep(members.data(), members.size() * sizeof(HostMember), false);
    return Ref(kind, array, static_cast<uint32_t>(members.size()));
  }

  // Single-element containers around a leaf, alternating collections and structures.
  HostValue Chain(FuzzInput& in) {
    const std::size_t depth = std::min<std::size_t>(in.U16() % 1200, maxRecords_ - records_);
    HostValue inner = Ref(kHostValueUnsigned, nullptr, 0);
    inner.payload.u = depth;
    for (std::size_t i = 0; i < depth; ++i) {
      ++records_;
      if (i % 2 == 0) {
        inner = Ref(kHostValueCollection, Keep(&inner, sizeof inner, false), 1);
      } else {
        const HostMember member{static_cast<const char*>(Keep("m", 1, true)), inner, 0};
        inner = Ref(kHostValueStructure, Keep(&member, sizeof member, false), 1);
      }
    }
    return inner;
  }

  HostValue Record(FuzzInput& in) {
    ++records_;
    const uint8_t tag = in.Byte();
    const uint32_t kind = tag & 0x0F;
    HostValue value = Ref(kind, nullptr, 0);
    if (kind == kHostValueBool) {
      value.payload.b = in.Byte();  // a host may send any byte
    } else if (kind >= kHostValueSigned && kind <= kHostValueFloat) {
      value.payload.u = in.U64();
    } else if (kind >= kHostValueStringBorrowed && kind <= kHostValueBlobOwned) {
      return Text(in, kind, tag);
    } else if (kind == 11) {
      value.kind = std::max<uint32_t>(in.U32(), kHostValueStructure + 1);
      value.payload.u = in.U64();
    } else if (kind == 12) {
      return Chain(in);
    } else if (kind == 13) {
      return Ref(kHostValueStringBorrowed + in.Byte() % 6, nullptr, 1u + in.Byte());
    } else if (kind != kHostValueEmpty) {
      const bool collection = kind == kHostValueCollection || kind == 14;
      return Container(in, collection ? kHostValueCollection : kHostValueStructure);
    }
    return value;
  }

  std::size_t maxRecords_;
  std::size_t records_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
};

}  // namespace vyn::fuzz
