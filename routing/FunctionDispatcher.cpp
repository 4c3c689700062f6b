// Endpoint registration, the API description, and the invocation of an endpoint: route match,
// argument binding, the handler call and the response record.
#include "routing/FunctionDispatcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <unordered_set>

#include "binding/HostValueConversion.h"
#include "diagnostics/Utf8Text.h"
#include "formats/Json.h"
#include "formats/MsgPack.h"
#include "formats/Yaml.h"
#include "base/PluginAllocator.h"
#include "routing/MakeIdentifier.h"
#include "routing/PercentCoding.h"
#include "routing/Route.h"

namespace vyn::routing {

using binding::BindingFunction;
using binding::BindingProperty;
using binding::BindingPropertyKind;
using binding::BindingResult;
using binding::BindingTypeKind;
using diagnostics::FormatText;

// ---------------------------------------------------------------------------------------------
// Call result and request context.

void CallResult::SetValue(const BindingProperty& value) {
  if (!ok()) return;
  result_.copyFrom(value);
}

void CallResult::SetError(uint32_t errorStatus, std::string_view message) {
  if (!ok()) return;
  result_.SetError(message);
  status = errorStatus;
}

void CallResult::NotFoundResult(std::string_view message) {
  SetError(404, message.empty() ? std::string_view("Not found") : message);
}

void CallResult::InternalErrorResult(std::string_view message) {
  SetError(500, message.empty() ? std::string_view("Internal server error") : message);
}

namespace {

char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TextOrEmpty(const char* text) noexcept {
  return text != nullptr ? std::string_view(text) : std::string_view();
}

}  // namespace

std::string_view RequestContext::Header(std::string_view name) const noexcept {
  for (const RequestHeader& header : headers) {
    if (EqualNoCase(header.name, name)) return header.value;
  }
  return {};
}

// ---------------------------------------------------------------------------------------------
// Endpoint data.

// What registration prepares for one endpoint, so that a call does no work that registration
// could do. Immutable once registered; owned by its BindingFunction.
class EndpointInvocation final : public binding::BindingInvocationData {
 public:
  EndpointInvocation(BindingFunction& owner, std::unique_ptr<CallHandler> callHandler,
                     std::string storedTemplate, HttpMethod methodCode)
      : function(&owner),
        handler(std::move(callHandler)),
        pathTemplate(std::move(storedTemplate)),
        method(methodCode),
        route(methodCode, MethodSpecification{methodCode, {}}, pathTemplate) {}

  BindingFunction* function;
  std::unique_ptr<CallHandler> handler;
  std::string pathTemplate;  // without a trailing "/"
  HttpMethod method;
  std::string customMethod;  // cleared at registration
  uint8_t flag = 0;
  std::vector<std::vector<std::string>> textLists;
  std::vector<ArgumentLocation> locations;  // one per argument

  Route route;  // compiled once, here
  // Per argument: its lower-cased name when it may come from a header, else empty.
  std::vector<std::string> headerNames;
  // Argument names (views of the function's own) to their index; the first of a name wins.
  std::unordered_map<std::string_view, std::size_t> argumentIndex;
  std::optional<std::size_t> bodyIndex;
  // Arguments that start as false before binding: bools that are not optional.
  std::vector<std::size_t> falseBools;
  bool wantsContext = false;
};

// What the host passes back as request->endpointContext.
struct EndpointContext {
  FunctionDispatcher* dispatcher;
  EndpointInvocation* invocation;
};

namespace {

// Every endpoint context alive in the process. The invoke entry accepts only these, so that a
// stale or foreign context pointer from the host is answered, never dereferenced.
struct LiveContexts {
  std::mutex mutex;
  std::unordered_set<const void*> contexts;  // guarded by mutex
};

LiveContexts& Live() {
  static LiveContexts live;
  return live;
}

void AddLive(const EndpointContext* context) {
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.contexts.insert(context);
}

void RemoveLive(const EndpointContext* context) {
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.contexts.erase(context);
}

const EndpointContext* FindLive(const void* pointer) {
  if (pointer == nullptr) return nullptr;
  LiveContexts& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  return live.contexts.count(pointer) != 0 ? static_cast<const EndpointContext*>(pointer) : nullptr;
}

bool IsContextType(const binding::BindingTypeId* identity) noexcept {
  return identity != nullptr && (identity->number == kRequestContextTypeNumber ||
                                 identity->number == kRequestContextPointerTypeNumber);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registration.

FunctionDispatcher::FunctionDispatcher() = default;

FunctionDispatcher::~FunctionDispatcher() { ForgetEndpoints(); }

const BindingFunction* FunctionDispatcher::RegisterHandler(
    HttpMethod method, std::string_view pathTemplate, std::span<const std::string> tags,
    std::vector<EndpointArgument> arguments, const NativeTypeInfo& returnType,
    std::unique_ptr<CallHandler> handler, std::string_view description) {
  if (handler == nullptr) return nullptr;
  const auto bodyCount = std::count_if(arguments.begin(), arguments.end(), [](const auto& a) {
    return a.location == ArgumentLocation::Body;
  });
  assert(bodyCount <= 1 && "an endpoint has at most one body argument");
  if (bodyCount > 1) return nullptr;

  std::vector<binding::BindingArgument> described;
  described.reserve(arguments.size());
  for (const EndpointArgument& argument : arguments) {
    binding::BindingArgument entry;
    entry.name = argument.name;
    entry.nameHash = binding::Fnv1a32(argument.name);
    entry.description = argument.description;
    entry.optional = argument.optional;
    entry.type = {argument.type.kind, argument.type.elementKind,
                  LookupTypeById(argument.type.described)};
    described.push_back(std::move(entry));
  }
  const std::string name = MakeIdentifier(HttpMethodName(method), pathTemplate);
  BindingFunction* function = RegisterFunction(name, std::move(described));
  if (function == nullptr) return nullptr;
  function->returnType = {returnType.kind, returnType.elementKind,
                          LookupTypeById(returnType.described)};
  function->tags.assign(tags.begin(), tags.end());
  function->description.assign(description);

  std::string stored(pathTemplate);
  if (stored.size() > 1 && stored.back() == '/') stored.pop_back();
  auto invocation = std::make_unique<EndpointInvocation>(*function, std::move(handler),
                                                         std::move(stored), method);
  invocation->handler->function_ = function;
  invocation->wantsContext = IsContextType(invocation->handler->RequestContextType());
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const EndpointArgument& argument = arguments[i];
    invocation->locations.push_back(argument.location == ArgumentLocation::Body
                                        ? ArgumentLocation::Body
                                        : ArgumentLocation::Any);
    if (argument.location == ArgumentLocation::Body) invocation->bodyIndex = i;
    std::string headerName;
    if (invocation->locations[i] == ArgumentLocation::Any ||
        invocation->locations[i] == ArgumentLocation::Header) {
      headerName = argument.name;
      for (char& c : headerName) c = LowerAscii(c);
    }
    invocation->headerNames.push_back(std::move(headerName));
    invocation->argumentIndex.emplace(function->arguments[i].name, i);
    if (argument.type.kind == BindingTypeKind::Bool && !argument.optional) {
      invocation->falseBools.push_back(i);
    }
  }

  auto context = std::make_unique<EndpointContext>(EndpointContext{this, invocation.get()});
  function->invocation = std::move(invocation);
  AddLive(context.get());
  std::lock_guard<std::mutex> lock(contextsMutex_);
  contexts_[name] = std::move(context);
  return function;
}

bool FunctionDispatcher::RemoveEndpoint(std::string_view name) {
  {
    std::lock_guard<std::mutex> lock(contextsMutex_);
    const auto found = contexts_.find(std::string(name));
    if (found != contexts_.end()) {
      RemoveLive(found->second.get());
      contexts_.erase(found);
    }
  }
  // The description would point at the removed function's texts.
  tables_ = {};
  descriptors_.clear();
  locations_.clear();
  textLists_.clear();
  listTexts_.clear();
  apiDescription_ = {};
  return RemoveFunction(name);
}

void* FunctionDispatcher::EndpointContextOf(std::string_view functionName) const {
  std::lock_guard<std::mutex> lock(contextsMutex_);
  const auto found = contexts_.find(std::string(functionName));
  return found != contexts_.end() ? found->second.get() : nullptr;
}

void FunctionDispatcher::ForgetEndpoints() {
  std::lock_guard<std::mutex> lock(contextsMutex_);
  for (const auto& entry : contexts_) RemoveLive(entry.second.get());
  contexts_.clear();
}

void FunctionDispatcher::ClearPendingOperations() {
  ForgetEndpoints();
  tables_ = {};
  descriptors_.clear();
  locations_.clear();
  textLists_.clear();
  listTexts_.clear();
  apiDescription_ = {};
}

// ---------------------------------------------------------------------------------------------
// API description.

const ApiDescription& FunctionDispatcher::BuildApiDescription() {
  tables_ = binding::BuildHostApiTables(*this);
  const std::span<const HostFunctionRecord> records = tables_.functionRecords();
  const std::span<const BindingFunction* const> sources = tables_.functionSources();

  std::vector<const EndpointInvocation*> invocations;
  std::size_t locationCount = 0, listCount = 0, textCount = 0;
  for (const BindingFunction* function : sources) {
    const auto* invocation = dynamic_cast<const EndpointInvocation*>(function->invocation.get());
    invocations.push_back(invocation);
    if (invocation == nullptr) continue;
    locationCount += invocation->locations.size();
    listCount += invocation->textLists.size();
    for (const auto& list : invocation->textLists) textCount += list.size();
  }
  // Reserved to their final sizes, so the records' addresses stay put while they are appended.
  descriptors_.clear();
  locations_.clear();
  textLists_.clear();
  listTexts_.clear();
  descriptors_.reserve(records.size());
  locations_.reserve(locationCount);
  textLists_.reserve(listCount);
  listTexts_.reserve(textCount);

  for (std::size_t i = 0; i < records.size(); ++i) {
    EndpointDescriptor descriptor{};
    descriptor.function = records[i];
    descriptor.function.next = nullptr;
    descriptor.invoke = &FunctionDispatcher::InvokeEndpoint;
    descriptor.pathTemplate = "";
    descriptor.customMethod = "";
    const EndpointInvocation* invocation = invocations[i];
    if (invocation != nullptr) {
      descriptor.function.endpointContext = EndpointContextOf(sources[i]->name);
      const std::size_t firstLocation = locations_.size();
      for (const ArgumentLocation location : invocation->locations) {
        ArgumentLocationRecord record{};
        record.location = static_cast<uint32_t>(location);
        locations_.push_back(record);
      }
      for (std::size_t l = firstLocation; l + 1 < locations_.size(); ++l) {
        locations_[l].next = &locations_[l + 1];
      }
      descriptor.argumentLocations =
          locations_.size() > firstLocation ? &locations_[firstLocation] : nullptr;
      descriptor.pathTemplate = invocation->pathTemplate.c_str();
      const auto method = static_cast<uint32_t>(invocation->method);
      descriptor.methodCode = method >= 1 && method <= 8 ? method : 0;
      descriptor.flag = invocation->flag;
      const std::size_t firstList = textLists_.size();
      for (const auto& list : invocation->textLists) {
        TextListRecord record{};
        record.texts = list.empty() ? nullptr : listTexts_.data() + listTexts_.size();
        for (const std::string& text : list) listTexts_.push_back(text.c_str());
        record.count = static_cast<uint32_t>(list.size());
        textLists_.push_back(record);
      }
      for (std::size_t l = firstList; l + 1 < textLists_.size(); ++l) {
        textLists_[l].next = &textLists_[l + 1];
      }
      descriptor.textLists = textLists_.size() > firstList ? &textLists_[firstList] : nullptr;
      descriptor.textListCount = static_cast<uint32_t>(invocation->textLists.size());
      descriptor.customMethod = invocation->customMethod.c_str();
    }
    descriptors_.push_back(descriptor);
  }
  for (std::size_t i = 0; i + 1 < descriptors_.size(); ++i) {
    descriptors_[i].function.next = &descriptors_[i + 1];
  }

  ApiDescription description{};
  description.endpoints = descriptors_.empty() ? nullptr : descriptors_.data();
  description.endpointCount = static_cast<uint32_t>(descriptors_.size());
  description.types = tables_.firstType();
  description.typeCount = tables_.typeCount();
  description.events = tables_.firstEvent();
  description.eventCount = tables_.eventCount();
  apiDescription_ = description;
  return apiDescription_;
}

// ---------------------------------------------------------------------------------------------
// Invocation.

namespace {

// Limits on what one request may make the binder build. An index path selects one node per
// segment, and every segment deepens the value tree, which is later released and converted
// recursively; an index grows a collection to that size.
constexpr std::size_t kMaxIndexPathSegments = 32;
constexpr uint64_t kMaxIndex = 65535;

// Binds one request to the arguments of one endpoint, stopping at the first error.
class RequestBinder {
 public:
  RequestBinder(const EndpointInvocation& endpoint, const RequestRecord& request, CallResult& call)
      : endpoint_(endpoint),
        function_(*endpoint.function),
        request_(request),
        call_(call),
        values_(function_.arguments.size()) {
    for (const std::size_t index : endpoint.falseBools) values_[index].setBool(false);
  }

  std::span<const BindingProperty> values() const noexcept { return values_; }

  void Bind(const RouteMatch& match, std::string_view query) {
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

 private:
  bool ok() const noexcept { return call_.ok(); }
  void Fail(const std::string& message) {
    if (ok()) call_.result().SetError(message);
  }

  void BindHeaders() {
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

  void BindTyped(std::size_t pathParameterCount) {
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

  void BindBody() {
    if (!ok() || !endpoint_.bodyIndex || request_.bodyLength == 0) return;
    const uint32_t length = request_.bodyLength;
    if (request_.body == nullptr) {
      call_.SetError(400, FormatText("Malformed request: body of %1 bytes without data", length));
      return;
    }
    const char* text = static_cast<const char*>(request_.body);
    const auto* bytes = static_cast<const uint8_t*>(request_.body);
    const std::string_view contentType = TextOrEmpty(request_.contentType);

    enum class Format { MsgPack, Json, Yaml, None } format = Format::None;
    if (StartsWithNoCase(contentType, "application/x-msgpack")) {
      format = Format::MsgPack;
    } else if (StartsWithNoCase(contentType, "application/json") ||
               StartsWithNoCase(contentType, "application/vnd.api+json")) {
      format = Format::Json;
    } else if (StartsWithNoCase(contentType, "application/x-yaml") ||
               StartsWithNoCase(contentType, "text/x-yaml")) {
      format = Format::Yaml;
    } else if (contentType.empty()) {
      // A body sent without a content type is recognised by its first bytes.
      const std::string_view view(text, length);
      if (formats::LooksLikeMsgPack(bytes, length)) {
        format = Format::MsgPack;
      } else if (formats::LooksLikeJson(view)) {
        format = Format::Json;
      } else if (formats::LooksLikeYaml(view)) {
        format = Format::Yaml;
      }
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
        parsed = formats::ParseJson(text, length);
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
  void BindOne(std::string_view name, std::string_view text, ArgumentLocation location) {
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
      Decode(value, text, {}, sniff, base);
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
    Decode(*node, text, {}, false, base);
  }

  // Decimal, octal after a leading 0, hexadecimal after 0x.
  bool ParseIndex(std::string_view segment, uint64_t& index) {
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

  // The value decoder: the content type (or, when sniffing without one, the text's first bytes)
  // picks the format; anything else is a blob for octet streams and a string otherwise, which
  // must be well-formed UTF-8 (the formats check their own strings).
  void Decode(BindingProperty& out, std::string_view text, std::string_view contentType, bool sniff,
              std::string_view parameter) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const bool guess = sniff && contentType.empty();
    const char* failure = nullptr;
    BindingResult parsed;
    if (StartsWithNoCase(contentType, "application/x-msgpack") ||
        (guess && formats::LooksLikeMsgPack(bytes, text.size()))) {
      std::size_t consumed = 0;
      parsed = formats::ParseMsgPack(bytes, text.size(), consumed);
      failure = "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
    } else if (StartsWithNoCase(contentType, "application/json") ||
               (guess && formats::LooksLikeJson(text))) {
      parsed = formats::ParseJson(text.data(), text.size());
      failure = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
    } else if (StartsWithNoCase(contentType, "text/x-yaml") ||
               StartsWithNoCase(contentType, "application/x-yaml") ||
               (guess && formats::LooksLikeYaml(text))) {
      parsed = formats::ParseYaml(text);
      failure = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
    } else if (StartsWithNoCase(contentType, "application/octet-stream")) {
      out.setBlob(std::span<const uint8_t>(bytes, text.size()));
      return;
    } else {
      // Path and query text is percent-decoded, and header text is the host's: any byte may come.
      const std::size_t bad = diagnostics::FindInvalidUtf8(text);
      if (bad != std::string_view::npos) {
        Fail(FormatText("Value for argument '%1' is not valid UTF-8 at byte %2.", parameter, bad));
        return;
      }
      out.setString(text);
      return;
    }
    if (!parsed.ok()) {
      Fail(FormatText(failure, parameter, function_.name, parsed.ErrorText()));
      return;
    }
    out.moveFrom(parsed);
  }

  const EndpointInvocation& endpoint_;
  const BindingFunction& function_;
  const RequestRecord& request_;
  CallResult& call_;
  std::vector<BindingProperty> values_;
};

// Malformed records from the host are answered, never followed.
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

uint64_t WallClockTime() {
  using HundredNanoseconds = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<HundredNanoseconds>(since).count());
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

// Fills `out` (which holds nothing of ours yet) from the call result. Allocation failures leave
// the affected field empty rather than failing the response.
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
  record.text = base::PluginStrDup(call.text.c_str());
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
  record.cleanup = &FunctionDispatcher::CleanupResponse;
  out = record;
}

void WriteError(ResponseRecord& out, uint32_t status, std::string_view message) {
  CallResult call;
  call.SetError(status, message);
  WriteResponse(out, call, nullptr);
}

// After an exception: whatever was written goes, and status 500 with the exception's message
// takes its place.
void WriteFailure(ResponseRecord& out, const char* what) noexcept {
  FunctionDispatcher::CleanupResponse(&out);
  try {
    WriteError(out, 500, what != nullptr && what[0] != '\0' ? what : "Internal server error");
  } catch (...) {
    // Not even the message could be written: the host sees a bare 500.
    FunctionDispatcher::CleanupResponse(&out);
    out.status = 500;
  }
}

// Serves one request on a live endpoint; the response is written into `out`.
void Serve(const EndpointContext& context, const RequestRecord& request, ResponseRecord& out) {
  const EndpointInvocation& endpoint = *context.invocation;
  const BindingFunction& function = *endpoint.function;
  CallResult call(function.registry);
  std::unique_ptr<CallState> state;

  // The query is not part of what a route matches: it carries arguments.
  const std::string_view path = TextOrEmpty(request.path);
  const std::size_t question = path.find('?');
  const std::string_view routePath = path.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : path.substr(question + 1);

  RouteMatch match;
  if (!MatchRoutes(HttpMethodFromCode(request.method), TextOrEmpty(request.customMethod), routePath,
                   std::span<const Route>(&endpoint.route, 1), match)) {
    call.SetError(404, "Invalid function");
  } else if (CheckRequestShape(request, call)) {
    RequestBinder binder(endpoint, request, call);
    binder.Bind(match, query);
    if (call.ok()) state = endpoint.handler->PrepareCall(call, binder.values(), request.hostHandle);
    if (call.ok()) {
      if (endpoint.wantsContext) {
        const RequestContext requestContext = MakeRequestContext(request, function);
        endpoint.handler->InvokeCall(call, &requestContext, state.get(), request.hostHandle);
      } else {
        endpoint.handler->InvokeCall(call, nullptr, state.get(), request.hostHandle);
      }
    }
  }
  WriteResponse(out, call, function.registry);
  if (state != nullptr) endpoint.handler->ReleaseCall(std::move(state));
}

}  // namespace

void FunctionDispatcher::InvokeEndpoint(ResponseRecord* response,
                                        const RequestRecord* request) noexcept {
  if (response == nullptr) return;
  ResponseRecord out{};
  try {
    const EndpointContext* context =
        request != nullptr ? FindLive(request->endpointContext) : nullptr;
    if (context == nullptr) {
      WriteError(out, 404, "Invalid function");
    } else {
      Serve(*context, *request, out);
    }
  } catch (const std::exception& error) {
    WriteFailure(out, error.what());
  } catch (...) {
    WriteFailure(out, nullptr);
  }
  *response = out;
}

void FunctionDispatcher::CleanupResponse(ResponseRecord* record) noexcept {
  if (record == nullptr) return;
  const ResponseRecord filled = *record;
  HostValue value = filled.error.value;
  binding::ReleaseHostValue(value);
  base::PluginFree(const_cast<char*>(filled.error.message));
  base::PluginFree(const_cast<char*>(filled.text));
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
