// Fuzzes the YAML reader: a failure is exactly {"error": message} with one of the reader's own
// messages, and a value never nests past the reader's bound nor grows past the input and the alias
// budget.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/Yaml.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::fuzz::Violated;

// Nodes and container levels, without recursion: the walk must not depend on the bound it checks.
std::pair<std::size_t, std::size_t> Measure(const BindingProperty& root) {
  std::size_t nodes = 0, depth = 0;
  std::vector<std::pair<const BindingProperty*, std::size_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [node, level] = pending.back();
    pending.pop_back();
    ++nodes;
    if (node->kind() == BindingPropertyKind::Collection) {
      for (const BindingProperty& element : node->elements())
        pending.emplace_back(&element, level + 1);
    } else if (node->kind() == BindingPropertyKind::Structure) {
      for (const auto& member : node->members()) pending.emplace_back(&member.value, level + 1);
    } else {
      continue;
    }
    depth = std::max(depth, level + 1);
  }
  return {nodes, depth};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vyn::formats::LooksLikeYaml(text);

  const vyn::binding::BindingResult result = vyn::formats::ParseYaml(text);
  if (vyn::fuzz::ReadFailed(
          result,
          {"YAML parser error: ", "Multi-document YAML is not supported.", "Invalid mapping key. ",
           "Unexpected start of ", "Cannot deserialize cyclic aliases. Alias \"",
           "Undefined alias encountered: \"", "Duplicate occurrence of anchor \"", "Value ",
           "Unsupported YAML tag '", "Nesting deeper than ",
           "Alias expansion is too large. Alias \"", "Too many sequence elements. "})) {
    return 0;
  }
  const auto [nodes, depth] = Measure(result);
  if (depth > vyn::formats::kYamlMaxDepth) Violated("nesting past the bound");
  // A node takes an event, an event a few bytes; aliases add at most their budget.
  if (nodes > 4 * size + 4 + vyn::formats::kYamlMaxAliasNodes) {
    Violated("more nodes than the input and the alias budget allow");
  }
  return 0;
}
