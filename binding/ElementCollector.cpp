// Elements of open collections kept aside, and each collection's array made once when it closes.
#include "binding/ElementCollector.h"

#include <algorithm>
#include <cassert>

#include "binding/ValueArrays.h"

namespace vyn::binding {

ElementCollector::~ElementCollector() {
  for (std::size_t i = 0; i < count_; ++i) At(i)->reset();
}

void ElementCollector::Open(BindingProperty& node) {
  node.reset();
  node.makeCollection();
  open_.Emplace(&node, count_);
}

BindingProperty& ElementCollector::AddSlow() {
  assert(!open_.Empty());
  const OpenCollection& collection = open_.Top();
  if (count_ - collection.first == BindingProperty::kMaxElements) {
    return collection.node->elementAtSlow(BindingProperty::kMaxElements);
  }
  spilled_.push_back(std::unique_ptr<Chunk>(new Chunk));  // left uninitialised until used
  capacity_ += kChunkElements;
  return Add();
}

void ElementCollector::Close() {
  assert(!open_.Empty());
  const OpenCollection collection = open_.Top();
  std::size_t count = count_ - collection.first;
  if (count != 0) {
    // The nodes are plain bytes plus pointers into the arena, so they move by copy, a chunk's
    // run at a time; the places they leave are taken by the next elements added.
    BindingProperty* to = collection.node->takeElements(count);
    for (std::size_t from = collection.first; count != 0;) {
      const std::size_t run = std::min(count, kChunkElements - from % kChunkElements);
      MoveWrittenItems(to, At(from), run);
      to += run;
      from += run;
      count -= run;
    }
  }
  open_.Pop();
  count_ = collection.first;
}

}  // namespace vyn::binding
