// Value trees for the binding tests: one-expression builders, a one-line rendering of a tree
// that assertions compare as a whole, and a member converter whose work shows.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/BindingProperty.h"
#include "binding/BindingType.h"

namespace vyn::binding::trees {

using Node = BindingProperty;

// A node set by one of its setters.
template <typename V>
Node Set(void (Node::*setter)(V), V value) {
  Node p;
  (p.*setter)(value);
  return p;
}
inline Node Signed(int64_t v) { return Set(&Node::setSigned, v); }
inline Node Unsigned(uint64_t v) { return Set(&Node::setUnsigned, v); }
inline Node Float(double v) { return Set(&Node::setFloat, v); }
inline Node Bool(bool v) { return Set(&Node::setBool, v); }
inline Node Text(std::string_view v) { return Set<std::string_view>(&Node::setString, v); }
inline Node Blob(std::vector<uint8_t> v) {
  return Set<std::span<const uint8_t>>(&Node::setBlob, v);
}
inline Node Enum(int32_t n, const BindingTypeId* type = nullptr) {
  return Set(&Node::setEnum, BindingEnum{n, type});
}
inline Node List(std::initializer_list<Node> elements) {
  Node p;
  p.makeCollection();
  for (const Node& element : elements) p.appendElement().copyFrom(element);
  return p;
}
inline Node Struct(std::initializer_list<std::pair<std::string_view, Node>> members) {
  Node p;
  p.makeStructure();
  for (const auto& [name, value] : members) p.memberAt(name).copyFrom(value);
  return p;
}

// One line per tree: ~ (empty), true, s-5, u5, f1.500000, 'text', bAQID (Base64), e-4, [a,b,],
// {name:a,}. Recursive: for trees of test size only.
inline std::string Describe(const Node& node) {
  static const char* const kPrefix[] = {"~", "", "s", "u", "f", "'", "b", "e"};
  std::string text;
  switch (node.kind()) {
    case BindingPropertyKind::Collection:
      for (const Node& element : node.elements()) text += Describe(element) + ",";
      return "[" + text + "]";
    case BindingPropertyKind::Structure:
      for (const MemberView member : node.members()) {
        text += std::string(member.name) + ":" + Describe(member.value) + ",";
      }
      return "{" + text + "}";
    case BindingPropertyKind::String:
      return "'" + node.toText() + "'";
    default:
      return kPrefix[static_cast<int>(node.kind())] + node.toText();
  }
}

// For an int32 member: reads any value as its size plus 1000, and writes "fine", or fails for a
// negative number. It keeps the default WriteValue, so that writes go through ToValue.
class MarkingConverter final : public BindingFieldConverter {
 public:
  void FromValue(BindingResult&, void* member, const BindingProperty& input, const char*,
                 const BindingType*, const BindingRegistry&) const override {
    *static_cast<int32_t*>(member) = static_cast<int32_t>(input.size()) + 1000;
  }
  void ToValue(BindingResult& result, const void* member, const BindingType*,
               const BindingRegistry&) const override {
    result = BindingResult();
    if (*static_cast<const int32_t*>(member) < 0) result.SetError("negative");
    if (result.ok()) result.setString("fine");
  }
};

}  // namespace vyn::binding::trees
