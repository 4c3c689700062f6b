// Member names kept at hand, two to an entry pair, the two learnt last.
#include "binding/KnownNames.h"

#include <bit>
#include <iterator>

namespace vyn::binding {

void KnownNames::Forget() noexcept {
  for (std::size_t word = 0; word < std::size(held_); ++word) {
    for (uint64_t held = held_[word]; held != 0; held &= held - 1) {
      arena_->Release(names_[word * 64 + std::countr_zero(held)].record);
    }
    held_[word] = 0;
  }
}

const InternedString* KnownNames::Learn(BindingArena& arena, const MemberProbe& probe,
                                        std::size_t index) {
  if (&arena != arena_) {
    Forget();
    arena_ = &arena;
  }
  const InternedString* record = arena.Intern(probe.name);  // the reference kept here
  // The name learnt last takes its own entry, and the one it displaces the pair's other, whose
  // name goes: of three names that meet there, the two learnt last stay.
  const std::size_t other = index ^ 1;
  const uint64_t bit = uint64_t{1} << index % 64;
  const uint64_t otherBit = uint64_t{1} << other % 64;
  if ((held_[other / 64] & otherBit) != 0) arena.Release(names_[other].record);
  names_[other] = names_[index];
  held_[other / 64] =
      (held_[other / 64] & ~otherBit) | ((held_[index / 64] & bit) != 0 ? otherBit : 0);
  names_[index] = {probe.prefix, probe.name.size(), record};
  held_[index / 64] |= bit;
  return record;
}

}  // namespace vyn::binding
