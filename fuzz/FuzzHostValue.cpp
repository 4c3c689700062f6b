// Fuzzes the conversion of host record trees into generic values: a tree converts exactly when it
// holds no bad record, a failure sets the flag and one message, a success holds the host's values,
// and what converted goes back into host records that read back as the same value.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/PluginAllocator.h"
#include "binding/HostValueConversion.h"
#include "binding/PageCache.h"
#include "diagnostics/Utf8Text.h"
#include "fuzz/FuzzSupport.h"

namespace {

using vyn::binding::BindingProperty;
using vyn::binding::kMaxHostValueDepth;
using vyn::fuzz::Violated;

// Keeping one free region mapped spares an mmap and munmap per input.
const vyn::binding::PageCacheRetention kOneRegionKept(1);

// What the conversion must give, by a walk of its own that stops at the first bad record (false):
// texts up to their NUL, any byte but 0 true, the last of members of the same name.
bool Expected(const HostValue& value, std::size_t openContainers, BindingProperty& out) {
  const uint32_t kind = value.kind;
  const HostValuePayload payload = value.payload;
  const HostValueRef ref = payload.ref;
  const auto* text = static_cast<const char*>(ref.ptr);
  if (kind > kHostValueStructure) return false;
  if (kind >= kHostValueStringBorrowed && ref.ptr == nullptr && ref.count != 0) return false;
  if (kind == kHostValueBool) out.setBool(payload.b != 0);
  if (kind == kHostValueSigned) out.setSigned(payload.i);
  if (kind == kHostValueUnsigned) out.setUnsigned(payload.u);
  if (kind == kHostValueFloat) out.setFloat(payload.f);
  if (kind == kHostValueStringBorrowed || kind == kHostValueStringOwned) {
    if (text != nullptr && !vyn::diagnostics::IsValidUtf8(text)) return false;
    out.setString(text);  // null: the empty text
  }
  if (kind == kHostValueBlobBorrowed || kind == kHostValueBlobOwned) {
    out.setBlob(std::span(static_cast<const uint8_t*>(ref.ptr), ref.count));
  }
  if (kind < kHostValueCollection) return true;
  if (openContainers >= kMaxHostValueDepth) return false;
  if (kind == kHostValueCollection) out.makeCollection();
  if (kind == kHostValueStructure) out.makeStructure();
  for (uint32_t i = 0; i < ref.count; ++i) {
    if (kind == kHostValueCollection) {
      const HostValue element = static_cast<const HostValue*>(ref.ptr)[i];
      if (!Expected(element, openContainers + 1, out.appendElement())) return false;
      continue;
    }
    const HostMember member = static_cast<const HostMember*>(ref.ptr)[i];
    if (member.name == nullptr || !vyn::diagnostics::IsValidUtf8(member.name)) return false;
    BindingProperty& slot = out.memberAt(member.name);
    slot.reset();
    if (!Expected(member.value, openContainers + 1, slot)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  vyn::fuzz::FuzzInput in(data, size);
  vyn::fuzz::HostTreeBuilder builder(4000);
  const HostValue root = builder.Build(in);
  BindingProperty expected;
  const bool convertible = Expected(root, 0, expected);

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
    if (!vyn::fuzz::SameTree(node, expected, vyn::fuzz::SameFloatBits)) {
      Violated("the value differs from the host records");
    }
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
