// Fuzzes the conversion of host record trees into generic values: a tree converts exactly when it
// holds no bad record, a failure sets the flag and one message, a success holds the host's values,
// and what converted goes back into host records that read back as the same value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>

#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "diagnostics/Utf8Text.h"
#include "fuzz/FuzzSupport.h"
#include "base/PluginAllocator.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::kMaxHostValueDepth;
using vyn::fuzz::Violated;

// Whether the conversion must succeed: a walk of its own that stops at the first bad record.
bool Convertible(const HostValue& value, std::size_t openContainers) {
  const uint32_t kind = value.kind;
  if (kind > kHostValueStructure) return false;
  if (kind < kHostValueStringBorrowed) return true;
  const HostValueRef ref = value.payload.ref;
  if (ref.ptr == nullptr && ref.count != 0) return false;
  if ((kind == kHostValueStringBorrowed || kind == kHostValueStringOwned) && ref.ptr != nullptr &&
      !vyn::diagnostics::IsValidUtf8(static_cast<const char*>(ref.ptr))) {
    return false;
  }
  if (kind < kHostValueCollection) return true;
  if (openContainers >= kMaxHostValueDepth) return false;
  for (uint32_t i = 0; i < ref.count; ++i) {
    if (kind == kHostValueCollection) {
      const HostValue element = static_cast<const HostValue*>(ref.ptr)[i];
      if (!Convertible(element, openContainers + 1)) return false;
    } else {
      const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
      if (member.name == nullptr || !vyn::diagnostics::IsValidUtf8(member.name)) return false;
      if (!Convertible(member.value, openContainers + 1)) return false;
    }
  }
  return true;
}

// Whether `node` holds the records: texts up to their NUL, any byte but 0 true, the last member.
bool Holds(const BindingProperty& node, const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  const BindingPropertyKind kind = node.kind();
  switch (value.kind) {
    case kHostValueEmpty:
      return kind == BindingPropertyKind::Empty;
    case kHostValueBool:
      return kind == BindingPropertyKind::Bool && node.asBool() == (value.payload.b != 0);
    case kHostValueSigned:
      return kind == BindingPropertyKind::Signed && node.asSigned() == value.payload.i;
    case kHostValueUnsigned:
      return kind == BindingPropertyKind::Unsigned && node.asUnsigned() == value.payload.u;
    case kHostValueFloat:
      return kind == BindingPropertyKind::Float &&
             vyn::fuzz::SameFloatBits(node.asFloat(), value.payload.f);
    case kHostValueStringBorrowed:
    case kHostValueStringOwned:
      return kind == BindingPropertyKind::String &&
             node.asString() == (ref.ptr != nullptr ? static_cast<const char*>(ref.ptr) : "");
    case kHostValueBlobBorrowed:
    case kHostValueBlobOwned:
      return kind == BindingPropertyKind::Blob && node.asBlob().size() == ref.count &&
             (ref.count == 0 || std::memcmp(node.asBlob().data(), ref.ptr, ref.count) == 0);
    case kHostValueCollection:
      if (kind != BindingPropertyKind::Collection || node.size() != ref.count) return false;
      for (uint32_t i = 0; i < ref.count; ++i) {
        if (!Holds(node.element(i), static_cast<const HostValue*>(ref.ptr)[i])) return false;
      }
      return true;
    case kHostValueStructure: {
      std::map<std::string_view, HostValue> last;
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
        last.insert_or_assign(std::string_view(member.name), member.value);
      }
      if (kind != BindingPropertyKind::Structure || node.size() != last.size()) return false;
      for (const auto& [name, member] : last) {
        if (!Holds(node.member(name), member)) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vyn::binding::PageCache::Instance().SetRetainedRegionLimit(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  vyn::fuzz::HostTreeBuilder builder(4000);
  const HostValue root = builder.Build(in);
  const bool convertible = Convertible(root, 0);

  HostError error{};
  BindingProperty node;
  const bool converted = vyn::binding::FromHostValue(error, node, root, "<fuzz>");
  const char* message = error.message;
  if (converted != convertible) {
    Violated(converted ? "a bad record converted" : "a good tree failed to convert");
  }
  if (!converted) {
    if (error.failed != 1 || message == nullptr || message[0] == '\0') {
      Violated("a failure without its flag and message");
    }
    vyn::base::PluginFree(const_cast<char*>(message));
  } else {
    if (error.failed != 0 || message != nullptr) Violated("a success with an error");
    if (!Holds(node, root)) Violated("the value differs from the host records");
  }

  // Whatever the node holds (after a failure, the part converted so far) crosses back.
  HostValue made = vyn::binding::ToHostValue(node, nullptr);
  vyn::fuzz::CheckMadeRecords(made);
  HostError backError{};
  BindingProperty back;
  if (!vyn::binding::FromHostValue(backError, back, made, "<back>") ||
      !vyn::fuzz::SameTree(node, back, vyn::fuzz::SameFloatBits)) {
    Violated("made records do not read back as the same value");
  }
  vyn::binding::ReleaseHostValue(made);

  return 0;
}
