// A HostValue tree that the host builds from JSON and keeps: every text and array it points
// to lives as long as the object, which is what the plugin may rely on during a call or until
// it cleans up a response.
#pragma once

#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "base/HostAbi.h"

namespace vyn::host {

class OwnedHostValue {
 public:
  // Deeper trees are refused rather than walked, so no input can exhaust the stack.
  static constexpr int kMaxDepth = 256;

  OwnedHostValue() = default;
  OwnedHostValue(const OwnedHostValue&) = delete;
  OwnedHostValue& operator=(const OwnedHostValue&) = delete;

  // Strings become borrowed strings (the host keeps them); non-negative integers unsigned,
  // negative ones signed, other numbers floats; objects structures in document order. Returns
  // false with a reason when the tree is nested deeper than kMaxDepth.
  [[nodiscard]] bool Assign(const rapidjson::Value& json, std::string& error);

  // A structure whose members borrow the given values' roots; the members' own trees must
  // outlive this object. Names are copied.
  void AssignStructure(const std::vector<std::pair<std::string, HostValue>>& members);

  // A borrowed string holding a copy of the text.
  void AssignString(const std::string& text);

  const HostValue& value() const { return root_; }

 private:
  bool Convert(const rapidjson::Value& json, HostValue& out, int depth, std::string& error);
  const char* CopyText(const char* text, size_t length);

  HostValue root_{};
  std::vector<std::unique_ptr<char[]>> texts_;
  std::vector<std::unique_ptr<HostValue[]>> elements_;
  std::vector<std::unique_ptr<HostMember[]>> members_;
};

}  // namespace vyn::host
