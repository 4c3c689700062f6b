// Writing a call result into the host's response record; everything placed there comes from the
// plugin allocator, and the record's clean-up function gives it back.
#include "routing/ResponseWriter.h"

#include <cstddef>
#include <cstring>

#include "base/PluginAllocator.h"
#include "binding/HostValueConversion.h"

namespace vyn::routing {
namespace {

// Most calls answer no text. The host only reads it until it calls the clean-up function, which
// knows this one, so an empty text costs no heap block.
constexpr char kNoText[] = "";

const char* CopyText(const std::string& text) noexcept {
  return text.empty() ? kNoText : base::PluginStrDup(text.c_str());
}

void FreeText(const char* text) noexcept {
  if (text != kNoText) base::PluginFree(const_cast<char*>(text));
}

}  // namespace

void WriteResponse(ResponseRecord& out, const CallResult& call,
                   const binding::BindingRegistry* registry) {
  ResponseRecord record{};
  if (!call.ok()) {
    record.error.message = base::PluginStrDup(call.ErrorText().c_str());
    record.error.failed = 1;
  } else {
    record.error.value = binding::ToHostValue(call.result(), registry);
  }
  record.flag = call.flag;
  record.resultMode = call.resultMode >= 1 && call.resultMode <= 3 ? call.resultMode : 0;
  record.status = call.status;
  record.text = CopyText(call.text);
  if (!call.headers.empty()) {
    void* block = base::PluginAlloc(call.headers.size() * sizeof(HostHeader));
    if (block != nullptr) {
      auto* headers = static_cast<HostHeader*>(block);
      for (std::size_t i = 0; i < call.headers.size(); ++i) {
        HostHeader header{};
        header.name = base::PluginStrDup(call.headers[i].name.c_str());
        header.value = base::PluginStrDup(call.headers[i].value.c_str());
        std::memcpy(headers + i, &header, sizeof header);
      }
      record.headers = headers;
      record.headerCount = static_cast<uint32_t>(call.headers.size());
    }
  }
  if (call.stream) {
    record.read = call.stream->read;
    record.close = call.stream->close;
    record.sizeHint = call.stream->sizeHint;
    record.stream = call.stream->object;
  }
  record.cleanup = &CleanupResponse;
  out = record;
}

void WriteError(ResponseRecord& out, uint32_t status, std::string_view message) {
  CallResult call;
  call.SetError(status, message);
  WriteResponse(out, call, nullptr);
}

void WriteFailure(ResponseRecord& out, const char* what) noexcept {
  CleanupResponse(&out);
  try {
    WriteError(out, 500, what != nullptr && what[0] != '\0' ? what : "Internal server error");
  } catch (...) {
    // Not even the message could be written: the host sees a bare 500.
    CleanupResponse(&out);
    out.status = 500;
  }
}

void CleanupResponse(ResponseRecord* record) noexcept {
  if (record == nullptr) return;
  const ResponseRecord filled = *record;
  HostValue value = filled.error.value;
  binding::ReleaseHostValue(value);
  base::PluginFree(const_cast<char*>(filled.error.message));
  FreeText(filled.text);
  if (filled.headers != nullptr) {
    for (uint32_t i = 0; i < filled.headerCount; ++i) {
      const HostHeader header = filled.headers[i];
      base::PluginFree(const_cast<char*>(header.name));
      base::PluginFree(const_cast<char*>(header.value));
    }
    base::PluginFree(const_cast<HostHeader*>(filled.headers));
  }
  *record = ResponseRecord{};
}

}  // namespace vyn::routing
