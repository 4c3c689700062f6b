// A value as text that shows each node's kind, so that a table row can state a whole tree: ~ empty,
// true, s-1, u1, f1.5, "x", bAQI= (blob in Base64), [a,b], {name:value}. Written through the walk,
// whose every element and member must be opened and closed.
#pragma once

#include <cstdio>
#include <string>

#include "base/Base64.h"
#include "formats/Json.h"

namespace vyn::formats {

class ValueText : public ValueVisitor {
 public:
  std::string text;
  int open = 0;
  bool VisitEmpty() override { return Put("~"); }
  bool VisitBool(bool v) override { return Put(v ? "true" : "false"); }
  bool VisitSigned(int64_t v) override { return Put("s" + std::to_string(v)); }
  bool VisitUnsigned(uint64_t v) override { return Put("u" + std::to_string(v)); }
  bool VisitFloat(double v) override {
    char number[32];
    std::snprintf(number, sizeof number, "f%.17g", v);
    return Put(number);
  }
  bool VisitString(std::string_view t) override { return Put("\"" + std::string(t) + "\""); }
  bool VisitBlob(std::span<const uint8_t> b) override { return Put("b" + base::Base64Encode(b)); }
  bool BeginCollection(uint32_t count) override { return Put(count == 0 ? "[" : ""); }
  bool BeginElement(uint32_t i) override { return ++open, Put(i == 0 ? "[" : ","); }
  bool EndElement(uint32_t) override { return --open, false; }
  bool EndCollection() override { return Put("]"); }
  bool BeginStructure(uint32_t) override { return Put("{"); }
  bool BeginMember(std::string_view name) override {
    return ++open, Put((text.back() == '{' ? "" : ",") + std::string(name) + ":");
  }
  bool EndMember(std::string_view) override { return --open, false; }
  bool EndStructure() override { return Put("}"); }

 protected:
  bool Put(const std::string& s) {
    text += s;
    return false;  // the walk must not stop on a refusal
  }
};

// The value's text, or "error: " and the message; a failure that kept part of the value says so.
inline std::string Shown(const binding::BindingResult& result) {
  if (!result.ok()) return "error: " + result.ErrorText() + (result.size() == 1 ? "" : " +value");
  ValueText visitor;
  VisitValue(result, visitor);
  return visitor.open == 0 ? visitor.text : visitor.text + " (left open)";
}

}  // namespace vyn::formats
