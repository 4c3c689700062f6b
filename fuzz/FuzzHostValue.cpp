// Fuzzes the conversion of host record trees into generic values. Besides crashes, leaks and
// undefined behaviour it checks the contracts: a tree converts exactly when it holds no bad record
// (a kind outside the table, data missing for a count, a member without a name, a string or a
// member name that is not UTF-8, nesting past the limit), a failure sets the flag and one
// message, a success holds the host's values, and what converted goes back into host records
// (ToHostValue) that read back as the same value and are released to nothing, as does a borrowing
// view of it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "binding/BindingProperty.h"
#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "diagnostics/Utf8Text.h"
#include "fuzz/FuzzSupport.h"
#include "base/HostAbi.h"
#include "base/PluginAllocator.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::BindingPropertyKind;
using vyn::binding::kMaxHostValueDepth;
using vyn::fuzz::Violated;

// Whether the conversion must succeed, found independently of it: a walk in the same order
// (records before their children, children in array order) that stops at the first bad record.
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

// Whether `node` holds what the host records say: texts up to their NUL, any non-zero byte as
// true, and of members with the same name the last one.
bool Holds(const BindingProperty& node, const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  switch (value.kind) {
    case kHostValueEmpty:
      return node.kind() == BindingPropertyKind::Empty;
    case kHostValueBool:
      return node.kind() == BindingPropertyKind::Bool && node.asBool() == (value.payload.b != 0);
    case kHostValueSigned:
      return node.kind() == BindingPropertyKind::Signed && node.asSigned() == value.payload.i;
    case kHostValueUnsigned:
      return node.kind() == BindingPropertyKind::Unsigned && node.asUnsigned() == value.payload.u;
    case kHostValueFloat:
      return node.kind() == BindingPropertyKind::Float &&
             vyn::fuzz::SameFloatBits(node.asFloat(), value.payload.f);
    case kHostValueStringBorrowed:
    case kHostValueStringOwned: {
      const char* text = static_cast<const char*>(ref.ptr);
      return node.kind() == BindingPropertyKind::String &&
             node.asString() == std::string_view(text != nullptr ? text : "");
    }
    case kHostValueBlobBorrowed:
    case kHostValueBlobOwned: {
      const auto blob = node.asBlob();
      return node.kind() == BindingPropertyKind::Blob && blob.size() == ref.count &&
             (ref.count == 0 || std::memcmp(blob.data(), ref.ptr, ref.count) == 0);
    }
    case kHostValueCollection: {
      if (node.kind() != BindingPropertyKind::Collection || node.size() != ref.count) return false;
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostValue element = static_cast<const HostValue*>(ref.ptr)[i];
        if (!Holds(node.element(i), element)) return false;
      }
      return true;
    }
    case kHostValueStructure: {
      if (node.kind() != BindingPropertyKind::Structure) return false;
      std::map<std::string_view, HostValue> last;
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
        last.insert_or_assign(std::string_view(member.name), member.value);
      }
      if (node.size() != last.size()) return false;
      for (const auto& [name, member] : last) {
        if (!Holds(node.member(name), member)) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

// What ToHostValue promises about its records: owned texts with their NUL at the count, owned
// blobs, members in ascending name order with owned names, bools as 0 or 1.
void CheckMade(const HostValue& value) {
  const HostValueRef ref = value.payload.ref;
  switch (value.kind) {
    case kHostValueEmpty:
    case kHostValueSigned:
    case kHostValueUnsigned:
    case kHostValueFloat:
      return;
    case kHostValueBool:
      if (value.payload.b > 1) Violated("a bool record holds neither 0 nor 1");
      return;
    case kHostValueStringOwned:
      if (ref.ptr == nullptr || static_cast<const char*>(ref.ptr)[ref.count] != '\0') {
        Violated("a made text is not terminated at its count");
      }
      return;
    case kHostValueBlobOwned:
      if (ref.ptr == nullptr) Violated("a made blob has no data");
      return;
    case kHostValueCollection:
      if (ref.ptr == nullptr) Violated("a made collection has no array");
      for (uint32_t i = 0; i < ref.count; ++i) {
        CheckMade(static_cast<const HostValue*>(ref.ptr)[i]);
      }
      return;
    case kHostValueStructure: {
      if (ref.ptr == nullptr) Violated("a made structure has no array");
      std::string_view previous;
      for (uint32_t i = 0; i < ref.count; ++i) {
        const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
        if (member.name == nullptr || member.ownsName != 1) Violated("a made name is not owned");
        const std::string_view name(member.name);
        if (i != 0 && !(previous < name)) Violated("made members are not in name order");
        previous = name;
        CheckMade(member.value);
      }
      return;
    }
    default:
      Violated("ToHostValue made a borrowed or unknown kind");
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

  HostError error;
  std::memset(&error, 0, sizeof error);
  BindingProperty node;
  const bool converted = vyn::binding::FromHostValue(error, node, root, "<fuzz>");
  const char* message = error.message;
  const uint8_t failed = error.failed;
  if (converted != convertible) {
    Violated(converted ? "a bad record converted" : "a good tree failed to convert");
  }
  if (!converted) {
    if (failed != 1 || message == nullptr || message[0] == '\0') {
      Violated("a failure without its flag and message");
    }
    vyn::base::PluginFree(const_cast<char*>(message));
  } else {
    if (failed != 0 || message != nullptr) Violated("a success with an error");
    if (!Holds(node, root)) Violated("the value differs from the host records");
  }

  // Whatever the node holds (after a failure, the part converted so far) crosses back.
  HostValue made = vyn::binding::ToHostValue(node, nullptr);
  CheckMade(made);
  HostError backError;
  std::memset(&backError, 0, sizeof backError);
  BindingProperty back;
  if (!vyn::binding::FromHostValue(backError, back, made, "<back>")) {
    Violated("made records do not convert");
  }
  if (!vyn::fuzz::SameTree(node, back, vyn::fuzz::SameFloatBits)) {
    Violated("made records read back as another value");
  }
  vyn::binding::ReleaseHostValue(made);

  // A borrowing view of the same node reads back as the same value too.
  {
    const vyn::binding::HostValueView view(node, nullptr);
    HostError viewError;
    std::memset(&viewError, 0, sizeof viewError);
    BindingProperty shown;
    if (!vyn::binding::FromHostValue(viewError, shown, view.value(), "<view>")) {
      Violated("a view does not convert");
    }
    if (!vyn::fuzz::SameTree(node, shown, vyn::fuzz::SameFloatBits)) {
      Violated("a view reads back as another value");
    }
  }

  HostValue zero;
  std::memset(&zero, 0, sizeof zero);
  if (std::memcmp(&made, &zero, sizeof made) != 0) Violated("a released record is not zeroed");
  return 0;
}
