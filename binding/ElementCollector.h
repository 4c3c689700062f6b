// Gathers the elements of the collections a reader is filling and gives each collection its array
// at once when it closes.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/WalkStack.h"

namespace vyn::binding {

// For readers of documents whose collections close before they are read (JSON): a collection's
// elements are kept aside while it is open, then moved into one array of their final size, where
// growing element by element would copy them at each doubling and leave up to half the array
// unused. Until it closes the collection reads as empty. Collections nest: Open and Close pair
// like brackets. An element stays put until its collection closes, so that a container among the
// elements can be filled meanwhile. Elements of collections still open when the collector dies
// are released with it, so a reader that stops at an error leaves nothing behind.
class ElementCollector {
 public:
  ElementCollector() = default;
  ~ElementCollector();
  ElementCollector(const ElementCollector&) = delete;
  ElementCollector& operator=(const ElementCollector&) = delete;

  // Makes `node` an empty collection whose elements are collected until the matching Close.
  void Open(BindingProperty& node);
  // A new empty element at the end of the innermost open collection. Past kMaxElements this is a
  // length error, as with elementAt: the element is a scratch node whose writes are lost.
  BindingProperty& Add() {
    const OpenCollection& collection = open_.Top();
    if (count_ == capacity_ || count_ - collection.first == BindingProperty::kMaxElements) {
      return AddSlow();
    }
    auto* node = new (At(count_++)) BindingProperty();
    node->initChild(collection.node->arena());
    return *node;
  }
  // Gives the innermost open collection its elements.
  void Close();

 private:
  // Elements live in chunks that never move. The first is inline, so a small document's reading
  // takes no heap block for them; the others stay for reuse until the collector dies.
  static constexpr std::size_t kChunkElements = 128;
  struct Chunk {
    alignas(BindingProperty) unsigned char bytes[kChunkElements * sizeof(BindingProperty)];
  };
  struct OpenCollection {
    BindingProperty* node;
    std::size_t first;  // its first element among the collected ones
  };

  // Add when a chunk is full or the collection is.
  BindingProperty& AddSlow();
  BindingProperty* At(std::size_t index) noexcept {
    Chunk& chunk = index < kChunkElements ? first_ : *spilled_[index / kChunkElements - 1];
    return reinterpret_cast<BindingProperty*>(chunk.bytes) + index % kChunkElements;
  }

  WalkStack<OpenCollection> open_;
  std::size_t count_ = 0;
  std::size_t capacity_ = kChunkElements;
  std::vector<std::unique_ptr<Chunk>> spilled_;
  Chunk first_;
};

}  // namespace vyn::binding
