// The member names (and short texts) a reader meets again and again, kept at hand with their
// records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/BindingProperty.h"

namespace vyn::binding {

// Names repeat from structure to structure (the records of a list all name the same members), so
// the last record of each name is kept at hand, with a reference of its own: a name seen before
// skips the arena's hash and its table. A name of up to eight bytes is known by its prefix and
// length alone. The names kept belong to one arena: a name of another makes the others go. A
// reader keeps its short texts in another instance (SetText).
class KnownNames {
 public:
  KnownNames() = default;
  ~KnownNames() { Forget(); }
  KnownNames(const KnownNames&) = delete;
  KnownNames& operator=(const KnownNames&) = delete;

  // The record of `probe`'s name in `arena`, learnt if it is not at hand. It stays valid while it
  // is kept here: until the next call, or longer with a reference of the caller's own.
  const InternedString* Find(BindingArena& arena, const MemberProbe& probe) {
    const auto index =
        static_cast<std::size_t>(((probe.prefix ^ probe.name.size()) * kSpread) >> (64 - kBits));
    if (&arena == arena_) {
      std::size_t way = index;
      if (Knows(way, probe) || Knows(way ^= 1, probe)) return names_[way].record;
    }
    return Learn(arena, probe, index);
  }
  // Sets `node` to `text`, as BindingProperty::setString does. Short texts repeat as names do (a
  // kind, a choice, a tag) and are kept alike; a longer one, mostly read once, and the text of a
  // root without an arena yet go to the arena's table directly.
  static constexpr std::size_t kMaxKeptText = 32;
  void SetText(BindingProperty& node, std::string_view text) {
    BindingArena* arena = node.arena();
    if (arena == nullptr || text.size() > kMaxKeptText) {
      node.setString(text);
    } else {
      node.setString(*Find(*arena, MemberProbe(text)));
    }
  }
  // The arena of the names kept; null before the first.
  BindingArena* arena() const noexcept { return arena_; }
  // Lets go of every name kept.
  void Forget() noexcept;

 private:
  struct Name {
    uint64_t prefix;
    std::size_t length;
    const InternedString* record;
  };
  static constexpr uint64_t kSpread = 0x9E3779B97F4A7C15ull;
  static constexpr std::size_t kBits = 8;
  static constexpr std::size_t kCount = std::size_t{1} << kBits;

  // Whether entry `index` holds `probe`'s name.
  bool Knows(std::size_t index, const MemberProbe& probe) const noexcept {
    const Name& known = names_[index];
    const std::size_t length = probe.name.size();
    return (held_[index / 64] >> index % 64 & 1) != 0 && known.prefix == probe.prefix &&
           known.length == length &&
           (length <= 8 || TextEqual(known.record->Text() + 8, probe.name.data() + 8, length - 8));
  }
  // A name not at hand, which then takes entry `index`; a name is looked for at its entry and at
  // the other of the pair the entry belongs to.
  const InternedString* Learn(BindingArena& arena, const MemberProbe& probe, std::size_t index);

  BindingArena* arena_ = nullptr;
  // A bit for each entry of `names_` in use, so that none needs clearing.
  uint64_t held_[kCount / 64] = {};
  Name names_[kCount];
};

}  // namespace vyn::binding
