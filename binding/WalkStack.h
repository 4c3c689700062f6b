// The stack of an iterative walk over nested containers: its first frames inline, deeper ones on
// the heap, so that depth costs heap memory rather than call stack, and a shallow walk no heap
// block at all.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace vyn::binding {

template <class Frame>
class WalkStack {
 public:
  bool Empty() const noexcept { return size_ == 0; }
  std::size_t Size() const noexcept { return size_; }
  // Valid until the next Push or Emplace.
  Frame& Top() noexcept { return size_ <= kInline ? inline_[size_ - 1] : spill_.back(); }
  void Push(const Frame& frame) { (void)Emplace(frame); }
  // Makes the frame in its place from its fields, in order, and returns it, the new top. A frame
  // made aside and pushed is read back whole right after its fields were stored one by one, which
  // the processor cannot forward from its stores: it waits for them to reach the cache.
  template <class... Fields>
  Frame& Emplace(Fields&&... fields) {
    if (size_ < kInline) {
      Frame* frame =
          ::new (static_cast<void*>(&inline_[size_])) Frame{std::forward<Fields>(fields)...};
      ++size_;
      return *frame;
    }
    return Spill(Frame{std::forward<Fields>(fields)...});
  }
  void Pop() noexcept {
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }

 private:
  // Out of line, so that the common push stays small enough for a walk to inline it.
  [[gnu::noinline]] Frame& Spill(const Frame& frame) {
    spill_.push_back(frame);
    ++size_;
    return spill_.back();
  }

  static constexpr std::size_t kInline = 32;
  Frame inline_[kInline];
  std::vector<Frame> spill_;
  std::size_t size_ = 0;
};

}  // namespace vyn::binding
