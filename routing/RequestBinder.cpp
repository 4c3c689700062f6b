// Binding a request to an endpoint's arguments: headers, then path parameters, query, typed
// values and body, stopping at the first error; and the request context for handlers.
#include "routing/RequestBinder.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "base/PluginAllocator.h"
#include "binding/HostValueConversion.h"
#include "diagnostics/FormatText.h"
#include "diagnostics/Utf8Text.h"
#include "formats/Json.h"
#include "formats/MsgPack.h"
#include "formats/Yaml.h"
#include "routing/AsciiCase.h"
#include "routing/EndpointInvocation.h"
#include "routing/HostText.h"
#include "routing/PercentCoding.h"
#include "routing/Route.h"

namespace vyn::routing {

using binding::BindingFunction;
using binding::BindingProperty;
using binding::BindingResult;
using binding::BindingTypeKind;
using diagnostics::FormatText;

namespace {

// Limits on what one request may make the binder build. An index path selects one node per
// segment, and every segment deepens the value tree, which is later released and converted
// recursively; an index grows a collection to that size.
constexpr std::size_t kMaxIndexPathSegments = 32;
constexpr uint64_t kMaxIndex = 65535;

enum class Format { MsgPack, Json, Yaml, None };

// A text that came without a content type, recognised by its first bytes.
Format SniffFormat(std::string_view text) noexcept {
  if (formats::LooksLikeMsgPack(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
    return Format::MsgPack;
  }
  if (formats::LooksLikeJson(text)) return Format::Json;
  if (formats::LooksLikeYaml(text)) return Format::Yaml;
  return Format::None;
}

uint64_t WallClockTime() {
  using HundredNanoseconds = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<HundredNanoseconds>(since).count());
}

}  // namespace

RequestBinder::RequestBinder(const EndpointInvocation& endpoint, const RequestRecord& request,
                             CallResult& call)
    : endpoint_(endpoint), function_(*endpoint.function), request_(request), call_(call) {
  const std::size_t count = function_.arguments.size();
  if (count > kInlineValues) spilled_.resize(count);
  values_ = count > kInlineValues ? std::span(spilled_) : std::span(inline_, count);
  for (const std::size_t index : endpoint.falseBools) values_[index].setBool(false);
}

void RequestBinder::Bind(const RouteMatch& match, std::string_view query) {
  BindHeaders();
  for (const auto& [name, value] : match.parameters) {
    if (!ok()) return;
    BindOne(name, value, ArgumentLocation::Path);
  }
  if (!query.empty() && ok()) {
    for (const auto& [name, value] : ParseQuery(query)) {
      if (!ok()) return;
      // A decoded name becomes member names of the argument and appears in messages.
      const std::size_t bad = diagnostics::FindInvalidUtf8(name);
      if (bad != std::string_view::npos) {
        Fail(FormatText("Query argument name for '%1' is not valid UTF-8 at byte %2.",
                        function_.name, bad));
        return;
      }
      BindOne(name, value, ArgumentLocation::Query);
    }
  }
  BindTyped(match.parameters.size());
  BindBody();
}

void RequestBinder::Fail(const std::string& message) {
  if (ok()) call_.result().SetError(message);
}

void RequestBinder::BindHeaders() {
  if (request_.headerCount == 0) return;
  for (std::size_t i = 0; i < values_.size() && ok(); ++i) {
    const std::string& wanted = endpoint_.headerNames[i];
    if (wanted.empty()) continue;
    for (uint32_t h = 0; h < request_.headerCount; ++h) {
      const HostHeader header = request_.headers[h];
      if (!EqualNoCase(TextOrEmpty(header.name), wanted)) continue;
      BindOne(function_.arguments[i].name, TextOrEmpty(header.value), ArgumentLocation::Header);
      break;
    }
  }
}

void RequestBinder::BindTyped(std::size_t pathParameterCount) {
  for (uint32_t i = 0; i < request_.argCount && ok(); ++i) {
    const HostArgument argument = request_.args[i];
    const std::string_view name = TextOrEmpty(argument.name);
    std::size_t index = 0;
    if (!name.empty()) {
      const auto found = endpoint_.argumentIndex.find(name);
      if (found == endpoint_.argumentIndex.end()) {
        Fail(FormatText("Unknown argument '%1' for '%2'.", name, function_.name));
        return;
      }
      index = found->second;
    } else {
      index = pathParameterCount + i;
      if (index >= values_.size()) {
        Fail(FormatText("Unknown argument '%1' for '%2'.", index, function_.name));
        return;
      }
    }
    const HostValue value = argument.value;  // out of the packed record
    HostError error{};
    if (!binding::FromHostValue(error, values_[index], value,
                                function_.arguments[index].name.c_str())) {
      const char* message = error.message;
      Fail(message != nullptr ? message : "");
      base::PluginFree(const_cast<char*>(message));
      return;
    }
  }
}

void RequestBinder::BindBody() {
  if (!ok() || !endpoint_.bodyIndex || request_.bodyLength == 0) return;
  const uint32_t length = request_.bodyLength;
  if (request_.body == nullptr) {
    call_.SetError(400, FormatText("Malformed request: body of %1 bytes without data", length));
    return;
  }
  const char* text = static_cast<const char*>(request_.body);
  const auto* bytes = static_cast<const uint8_t*>(request_.body);
  const std::string_view contentType = TextOrEmpty(request_.contentType);

  Format format = Format::None;
  if (StartsWithNoCase(contentType, "application/x-msgpack")) {
    format = Format::MsgPack;
  } else if (StartsWithNoCase(contentType, "application/json") ||
             StartsWithNoCase(contentType, "application/vnd.api+json")) {
    format = Format::Json;
  } else if (StartsWithNoCase(contentType, "application/x-yaml") ||
             StartsWithNoCase(contentType, "text/x-yaml")) {
    format = Format::Yaml;
  } else if (contentType.empty()) {
    format = SniffFormat(std::string_view(text, length));
  }

  BindingResult parsed;
  switch (format) {
    case Format::MsgPack: {
      std::size_t consumed = 0;
      parsed = formats::ParseMsgPack(bytes, length, consumed);
      if (parsed.ok() && consumed != length) {
        Fail("Extra MessgePack data found in body");
        return;
      }
      break;
    }
    case Format::Json:
      parsed = formats::ParseTerminatedJson(text, length);  // the host ends a body with a NUL
      break;
    case Format::Yaml:
      parsed = formats::ParseYaml(std::string_view(text, length));
      break;
    case Format::None:
      Fail("Unsupported body content type");
      return;
  }
  if (!parsed.ok()) {
    Fail(parsed.ErrorText());
    return;
  }
  values_[*endpoint_.bodyIndex].moveFrom(parsed);
}

// One named value from a header, the path or the query. "name.2.key" addresses inside the
// argument "name": digits select (and grow) collection elements, other segments members.
void RequestBinder::BindOne(std::string_view name, std::string_view text,
                            ArgumentLocation location) {
  const std::size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const auto found = endpoint_.argumentIndex.find(base);
  if (found == endpoint_.argumentIndex.end()) {
    Fail(FormatText("Unknown argument '%1' for '%2'.", base, function_.name));
    return;
  }
  const std::size_t index = found->second;
  const ArgumentLocation allowed = endpoint_.locations[index];
  if (allowed != ArgumentLocation::Any && allowed != location) {
    Fail(FormatText("Argument '%1' for '%2' was specified in an invalid location.", base,
                    function_.name));
    return;
  }
  const BindingTypeKind kind = function_.arguments[index].type.kind;
  BindingProperty& value = values_[index];

  if (dot == std::string_view::npos) {
    if (text.empty()) {
      switch (kind) {
        case BindingTypeKind::Bool:
          value.setBool(true);
          return;
        case BindingTypeKind::Object:
        case BindingTypeKind::Struct:
          value.reset();
          value.makeStructure();
          return;
        case BindingTypeKind::Vector:
          value.reset();
          value.makeCollection();
          return;
        default:
          Fail(FormatText("Expected value for argument '%1'.", base));
          return;
      }
    }
    const bool sniff = kind == BindingTypeKind::Object || kind == BindingTypeKind::Vector ||
                       kind == BindingTypeKind::Struct;
    Decode(value, text, sniff, base);
    return;
  }

  BindingProperty* node = &value;
  std::string_view rest = name.substr(dot + 1);
  for (std::size_t segments = 1;; ++segments) {
    if (segments > kMaxIndexPathSegments) {
      Fail(FormatText("Index path '%1' has more than %2 segments", name, kMaxIndexPathSegments));
      return;
    }
    const std::size_t next = rest.find('.');
    const std::string_view segment = rest.substr(0, next);
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      uint64_t elementIndex = 0;
      if (!ParseIndex(segment, elementIndex)) return;
      node = &node->elementAt(static_cast<std::size_t>(elementIndex));
    } else {
      node = &node->memberAt(segment);
    }
    if (next == std::string_view::npos) break;
    rest.remove_prefix(next + 1);
  }
  Decode(*node, text, false, base);
}

// Decimal, octal after a leading 0, hexadecimal after 0x.
bool RequestBinder::ParseIndex(std::string_view segment, uint64_t& index) {
  const std::string digits(segment);
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(digits.c_str(), &end, 0);
  if (end != digits.c_str() + digits.size()) {
    Fail(FormatText("Index %1 is in an incorrect format", segment));
    return false;
  }
  // Beyond the documented limit of 2147483647, a collection grown to such an index would ask
  // for gigabytes; far more elements than any argument needs are refused the same way.
  if (errno == ERANGE || number >= 2147483648ull || number > kMaxIndex) {
    Fail(FormatText("Index %1 is out of range", segment));
    return false;
  }
  index = number;
  return true;
}

// The value decoder: when sniffing, the text's first bytes pick the format; any other text is a
// string, which must be well-formed UTF-8 (the formats check their own strings).
void RequestBinder::Decode(BindingProperty& out, std::string_view text, bool sniff,
                           std::string_view parameter) {
  const char* failure = nullptr;
  BindingResult parsed;
  switch (sniff ? SniffFormat(text) : Format::None) {
    case Format::MsgPack: {
      std::size_t consumed = 0;
      parsed = formats::ParseMsgPack(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                     consumed);
      failure = "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
      break;
    }
    case Format::Json:
      parsed = formats::ParseJson(text.data(), text.size());
      failure = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
      break;
    case Format::Yaml:
      parsed = formats::ParseYaml(text);
      failure = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
      break;
    case Format::None: {
      // Path and query text is percent-decoded, and header text is the host's: any byte may
      // come.
      const std::size_t bad = diagnostics::FindInvalidUtf8(text);
      if (bad != std::string_view::npos) {
        Fail(FormatText("Value for argument '%1' is not valid UTF-8 at byte %2.", parameter, bad));
        return;
      }
      out.setString(text);
      return;
    }
  }
  if (!parsed.ok()) {
    Fail(FormatText(failure, parameter, function_.name, parsed.ErrorText()));
    return;
  }
  out.moveFrom(parsed);
}

bool CheckRequestShape(const RequestRecord& request, CallResult& call) {
  if (request.headers == nullptr && request.headerCount != 0) {
    call.SetError(400,
                  FormatText("Malformed request: %1 headers without data", request.headerCount));
    return false;
  }
  if (request.args == nullptr && request.argCount != 0) {
    call.SetError(
        400, FormatText("Malformed request: %1 typed arguments without data", request.argCount));
    return false;
  }
  return true;
}

RequestContext MakeRequestContext(const RequestRecord& request, const BindingFunction& function) {
  RequestContext context;
  context.callerHandle = request.hostHandle;
  context.time = WallClockTime();
  context.registry = function.registry;
  context.path = TextOrEmpty(request.path);
  context.method = HttpMethodFromCode(request.method);
  context.customMethod = TextOrEmpty(request.customMethod);
  context.headers.reserve(request.headerCount);
  for (uint32_t i = 0; i < request.headerCount; ++i) {
    const HostHeader header = request.headers[i];
    context.headers.push_back({TextOrEmpty(header.name), TextOrEmpty(header.value)});
  }
  return context;
}

}  // namespace vyn::routing
