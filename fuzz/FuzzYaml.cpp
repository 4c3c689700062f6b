// Fuzzes the YAML reader. Besides crashes, leaks and undefined behaviour it checks the reader's
// contracts: a failure is exactly {"error": message} with one of the reader's own messages, a
// value never nests deeper than the reader's bound nor grows beyond what the input and the alias
// budget allow, and reading the same text twice gives the same value.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "formats/Yaml.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::BindingResult;
using vyn::fuzz::Violated;

bool IsReaderMessage(std::string_view message) {
  constexpr std::string_view kPrefixes[] = {
      "YAML parser error: ",
      "Multi-document YAML is not supported.",
      "Invalid mapping key. ",
      "Unexpected start of ",
      "Cannot deserialize cyclic aliases. Alias \"",
      "Undefined alias encountered: \"",
      "Duplicate occurrence of anchor \"",
      "Value ",
      "Unsupported YAML tag '",
      "Nesting deeper than ",
      "Alias expansion is too large. Alias \"",
      "Too many sequence elements. ",
  };
  for (const std::string_view prefix : kPrefixes) {
    if (message.starts_with(prefix)) return true;
  }
  return false;
}

struct Shape {
  std::size_t nodes = 0;
  std::size_t depth = 0;  // container levels
};

// Without recursion: the walk must not depend on the bound it checks.
Shape Measure(const BindingProperty& root) {
  Shape shape;
  std::vector<std::pair<const BindingProperty*, std::size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    ++shape.nodes;
    if (node->kind() == BindingPropertyKind::Collection) {
      if (level + 1 > shape.depth) shape.depth = level + 1;
      for (const BindingProperty& element : node->elements()) {
        pending.emplace_back(&element, level + 1);
      }
    } else if (node->kind() == BindingPropertyKind::Structure) {
      if (level + 1 > shape.depth) shape.depth = level + 1;
      for (const auto& member : node->members()) pending.emplace_back(&member.value, level + 1);
    }
  }
  return shape;
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vyn::formats::LooksLikeYaml(text);

  const BindingResult result = vyn::formats::ParseYaml(text);
  if (!result.ok()) {
    if (!IsReaderMessage(result.ErrorText())) Violated("a failure without a reader message");
    if (result.size() != 1) Violated("a failure kept part of the value");
    return 0;
  }
  const Shape shape = Measure(result);
  if (shape.depth > vyn::formats::kYamlMaxDepth) Violated("nesting past the bound");
  // Every node read from the text takes at least one event, and an event at least a few bytes
  // between them; aliases add at most their budget.
  if (shape.nodes > 4 * size + 4 + vyn::formats::kYamlMaxAliasNodes) {
    Violated("more nodes than the input and the alias budget allow");
  }
  const BindingResult again = vyn::formats::ParseYaml(text);
  if (!again.ok() || !vyn::fuzz::SameTree(result, again, vyn::fuzz::SameFloatOrBothNaN)) Violated("the same text read differently");
  return 0;
}
