// The validator's checks that call into a running plugin.
#include "host/ValidateCalls.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "host/HostNames.h"
#include "host/HostValueJson.h"
#include "host/OwnedHostValue.h"
#include "host/ValidateHost.h"
#include "host/ValidateInputs.h"

namespace vyn::host {
namespace {

constexpr uint32_t kUnknownKind = 11;
constexpr size_t kMaxStreamBytes = 64u << 20;
constexpr int kMaxIdleReads = 10000;
constexpr const char* kResourcePrefix = "OnJsonApiEvent_";

// One request as the host would make it, with everything it points to.
struct Call {
  std::string label;
  uint32_t method = 0;
  std::string customMethod;
  std::string target;  // path, and "?" and the query
  std::vector<std::pair<std::string, std::string>> headers;
  Body body{"", "", "", false};
  std::vector<std::pair<std::string, std::string>> typed;  // name (empty: positional), JSON
  bool unknownKind = false;  // one more typed argument, of a kind no host value has
};

std::string JsonOf(const rapidjson::Value& value) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  value.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

// An argument's value as text in a query, a path or a header.
std::string ArgumentText(const rapidjson::Value& value) {
  if (value.IsString()) return std::string(value.GetString(), value.GetStringLength());
  return value.IsNull() ? "" : JsonOf(value);
}

std::string Encoded(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string InputText(const Call& call) {
  std::string text = (call.method == kMethodCustom ? call.customMethod : MethodName(call.method));
  text += " " + call.target;
  for (const auto& [name, value] : call.headers) text += "; header " + name + ": " + value;
  for (const auto& [name, json] : call.typed) text += "; argument " + name + "=" + json;
  if (call.unknownKind) text += "; an argument of kind 11";
  if (!call.body.contentType.empty()) text += "; content type " + call.body.contentType;
  if (call.body.present) text += "; body " + Printable(call.body.bytes, 120);
  return text;
}

bool IsZeroed(const ResponseRecord& record) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
  return std::all_of(bytes, bytes + sizeof record, [](unsigned char b) { return b == 0; });
}

std::string StreamProblem(const ResponseRecord& reply) {
  if (reply.close == nullptr) return "the reply streams without a close function";
  std::string problem;
  size_t total = 0;
  for (int idle = 0;;) {
    char buffer[4096];
    uint32_t length = sizeof buffer;
    uint8_t more = 1;
    if (reply.read(reply.stream, buffer, &length, &more) == 0) {
      problem = "the reply's stream failed while it was read";
    } else if (length > sizeof buffer) {
      problem = "the reply's stream reported more bytes than the buffer holds";
    } else if (more != 0 && (total += length) > kMaxStreamBytes) {
      problem = "the reply's stream goes on past 64 MiB";
    } else if (more != 0 && length == 0 && ++idle > kMaxIdleReads) {
      problem = "the reply's stream stopped delivering";
    } else if (more != 0) {
      continue;
    }
    break;
  }
  reply.close(reply.stream);
  return problem;
}

// Why the host could not read the reply; empty when it can: a failure with its error text, or
// a success with a value.
std::string ReplyProblem(const ResponseRecord& reply) {
  const HostError error = reply.error;
  const uint32_t status = reply.status;
  const std::string statusText = "the status " + std::to_string(status);
  if (reply.headerCount != 0 && reply.headers == nullptr) {
    return "the reply counts headers but has none";
  }
  for (uint32_t i = 0; i < reply.headerCount; ++i) {
    HostHeader header;
    std::memcpy(&header, reply.headers + i, sizeof header);
    if (header.name == nullptr || header.value == nullptr) return "a reply header lacks a text";
  }
  if (reply.read != nullptr) return StreamProblem(reply);
  if (error.failed != 0 || error.message != nullptr) {
    if (error.failed == 0) return "the reply has an error text but no failure flag";
    if (error.message == nullptr || error.message[0] == '\0') {
      return "the reply fails with " + statusText + " but without an error text";
    }
    if (!IsUtf8Text(error.message)) return "the reply's error text is not UTF-8";
    if (status != 0 && (status < 400 || status > 599)) return "the reply fails with " + statusText;
    return "";
  }
  if (status != 0 && (status < 100 || status > 399)) {
    return "the reply has " + statusText + " but no error text";
  }
  std::string json, why;
  if (!HostValueToJson(error.value, json, why)) return "the reply's value is unreadable: " + why;
  return "";
}

// Whether the reply points at anything that the plugin may have allocated for it.
bool CarriesData(const ResponseRecord& reply) {
  const HostError error = reply.error;
  const uint32_t kind = error.value.kind;
  return error.message != nullptr || reply.text != nullptr || reply.headers != nullptr ||
         kind == kHostValueStringOwned || kind == kHostValueBlobOwned ||
         kind == kHostValueCollection || kind == kHostValueStructure;
}

struct CallOutcome {
  std::string problem;
  bool noCleanup = false;          // carries data, grew the plugin's memory and offers no clean-up
  uint64_t bytes = 0, blocks = 0;  // by how much
};

CallOutcome Invoke(const EndpointInfo& endpoint, const Call& call, const LoadedLibrary& library) {
  std::vector<std::unique_ptr<OwnedHostValue>> values;
  std::vector<HostArgument> arguments;
  for (const auto& [name, json] : call.typed) {
    rapidjson::Document document;
    document.Parse(json.c_str());
    auto value = std::make_unique<OwnedHostValue>();
    std::string ignored;
    static_cast<void>(value->Assign(document, ignored));
    arguments.push_back({name.empty() ? nullptr : name.c_str(), value->value()});
    values.push_back(std::move(value));
  }
  if (call.unknownKind) {
    HostValue odd{};
    odd.kind = kUnknownKind;
    arguments.push_back({call.typed.empty() ? nullptr : call.typed.front().first.c_str(), odd});
  }
  std::vector<HostHeader> headers;
  for (const auto& [name, value] : call.headers) headers.push_back({name.c_str(), value.c_str()});

  RequestRecord request{};
  request.method = call.method;
  request.path = call.target.c_str();
  request.args = arguments.empty() ? nullptr : arguments.data();
  request.argCount = static_cast<uint32_t>(arguments.size());
  request.endpointContext = endpoint.endpointContext;
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = call.body.contentType.c_str();
  // std::string keeps the NUL after its bytes that text parsers may rely on.
  request.body = call.body.present ? call.body.bytes.c_str() : nullptr;
  request.bodyLength = static_cast<uint32_t>(call.body.bytes.size());
  request.customMethod = call.method == kMethodCustom ? call.customMethod.c_str() : nullptr;

  CallOutcome outcome;
  const MemoryCounters before = ReadCounters(library);
  ResponseRecord reply{};
  endpoint.invoke(&reply, &request);
  const MemoryCounters held = ReadCounters(library);
  outcome.problem = ReplyProblem(reply);
  if (reply.cleanup != nullptr) {
    reply.cleanup(&reply);
    if (outcome.problem.empty() && !IsZeroed(reply)) {
      outcome.problem = "the reply's clean-up function leaves the record not zeroed";
    }
  } else if (CarriesData(reply) &&
             (held.liveBytes > before.liveBytes || held.liveBlocks > before.liveBlocks)) {
    outcome.noCleanup = true;
    outcome.bytes = held.liveBytes - before.liveBytes;
    outcome.blocks = held.liveBlocks - before.liveBlocks;
  }
  return outcome;
}

// A reply without clean-up whose call grew the plugin's memory is asked for once more: what the
// first call of a kind keeps for good (a cache) is no fault, what every reply keeps is.
void Run(const EndpointInfo& endpoint, const Call& call, const LoadedLibrary& library,
         const ValidationHost& host, ChildProbe& probe) {
  probe.Step(call.label, InputText(call));
  CallOutcome outcome = Invoke(endpoint, call, library);
  if (outcome.problem.empty() && outcome.noCleanup) outcome = Invoke(endpoint, call, library);
  if (!outcome.problem.empty()) {
    probe.Fail(outcome.problem);
  } else if (outcome.noCleanup) {
    probe.Fail("the reply carries " + std::to_string(outcome.bytes) + " bytes in " +
               std::to_string(outcome.blocks) +
               " blocks of the plugin's memory but has no clean-up function");
  } else if (!host.breach().empty()) {
    probe.Fail(host.breach());
  }
}

// Why the memory a plugin holds once initialised differs between two rounds of the same calls
// with an unload after each; empty when it does not. Byte counts are the heap's usable sizes,
// which vary a little with where a block lands, so only blocks must match exactly.
std::string Imbalance(const MemoryCounters& first, const MemoryCounters& second, size_t count,
                      const std::string& what) {
  if (second.liveBlocks == first.liveBlocks && second.liveBytes <= first.liveBytes + 512) {
    return "";
  }
  const auto per = [&](uint64_t after, uint64_t before) {
    return std::to_string((after - before) / std::max<size_t>(count, 1));
  };
  return "the " + std::to_string(count) + " " + what +
         " of a round leave memory behind: " + "initialised again, the plugin holds " +
         std::to_string(first.liveBytes) + " bytes in " + std::to_string(first.liveBlocks) +
         " blocks after one round, " + std::to_string(second.liveBytes) + " in " +
         std::to_string(second.liveBlocks) + " after two (about " +
         per(second.liveBytes, first.liveBytes) + " bytes in " +
         per(second.liveBlocks, first.liveBlocks) + " blocks each)";
}

// A request that the endpoint's description says it takes, with generated arguments; the body
// argument's value is kept for malformed variants.
Call WellFormed(const EndpointInfo& endpoint, InputGenerator& generator, size_t index,
                rapidjson::Document& bodyValue) {
  Call call;
  call.method = endpoint.methodCode == 0 ? 2 : endpoint.methodCode;
  call.customMethod = endpoint.customMethod;
  const auto format = static_cast<BodyFormat>(index % 3);
  std::string path = endpoint.pathTemplate, query;
  bodyValue.SetNull();
  for (const ArgumentInfo& argument : endpoint.arguments) {
    if (argument.optional && argument.location != 2 && generator.Below(3) == 0) continue;
    rapidjson::Document value;
    generator.Generate(argument.type, value, value.GetAllocator());
    const std::string text = ArgumentText(value);
    const size_t placeholder = path.find("{" + argument.name + "}");
    if (argument.location == 5) {
      call.body = Body{"", ContentTypeOf(format), Encode(value, format), true};
      bodyValue.CopyFrom(value, bodyValue.GetAllocator());
    } else if (placeholder != std::string::npos) {
      path.replace(placeholder, argument.name.size() + 2, Encoded(text.empty() ? "x" : text));
    } else if (argument.location == 4) {
      std::string name = argument.name;
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      call.headers.emplace_back(name, text);
    } else if (argument.location == 0 && generator.Below(2) == 0) {
      call.typed.emplace_back(argument.name, JsonOf(value));
    } else {
      query += (query.empty() ? "" : "&") + Encoded(argument.name) + "=" + Encoded(text);
    }
  }
  call.target = path + (query.empty() ? "" : "?" + query);
  call.label = "well-formed input " + std::to_string(index + 1) + " (" +
               (call.body.present ? call.body.contentType : "no body") + ")";
  return call;
}

Call Malformed(const EndpointInfo& endpoint, InputGenerator& generator, size_t index) {
  rapidjson::Document value;
  Call call = WellFormed(endpoint, generator, index, value);
  if (value.IsNull()) generator.AnyValue(value, value.GetAllocator());
  call.body = generator.Malformed(value, index);
  call.label = "malformed input " + std::to_string(index + 1) + ": " + call.body.label;
  return call;
}

Call Misuse(const EndpointInfo& endpoint, InputGenerator& generator, size_t index) {
  rapidjson::Document value;
  Call call = WellFormed(endpoint, generator, index, value);
  const std::string path = call.target.substr(0, call.target.find('?'));
  const char separator = call.target.find('?') == std::string::npos ? '?' : '&';
  const ArgumentInfo* argument =
      endpoint.arguments.empty() ? nullptr
                                 : &endpoint.arguments[generator.Below(endpoint.arguments.size())];
  std::string what;
  switch (index % 8) {
    case 0: {
      const uint32_t method = 1 + static_cast<uint32_t>(generator.Below(8));
      if (method == endpoint.methodCode || method == kMethodCustom) {
        call.method = kMethodCustom;
        call.customMethod = "BREW";
      } else {
        call.method = method;
      }
      what = "a wrong method";
      break;
    }
    case 1: {
      const std::string paths[] = {path + "/extra",
                                   path + "//",
                                   "/",
                                   "",
                                   path + "?%zz=%",
                                   "/" + path.substr(std::min<size_t>(path.size(), 1)) + "x"};
      call.target = paths[generator.Below(std::size(paths))];
      what = "a wrong path";
      break;
    }
    case 2:
      call.target += separator + std::string("zzUnknown=1");
      what = "an unknown query argument";
      break;
    case 3:
      call.typed.emplace_back("zzUnknown", "1");
      what = "an unknown typed argument";
      break;
    case 4:
      for (size_t i = 0; i <= endpoint.arguments.size(); ++i) call.typed.emplace_back("", "1");
      what = "more positional arguments than parameters";
      break;
    case 5:
      if (argument != nullptr && argument->location != 1) {
        call.target += separator + Encoded(argument->name) + "=1";
      } else {
        call.headers.emplace_back(argument != nullptr ? argument->name : "zzunknown", "1");
      }
      what = "a misplaced argument";
      break;
    case 6:
      call.unknownKind = true;
      what = "a typed argument of an unknown kind";
      break;
    default: {
      const std::string name = argument != nullptr ? Encoded(argument->name) : "a";
      const std::string queries[] = {
          name + ".99999999999=1", name + ".0x=1", name + ".1.b.2=x",
          "=x&&" + name,           "%ff=%fe",      name + "&" + name + "=2"};
      call.target += separator + queries[generator.Below(std::size(queries))];
      what = "an odd query";
    }
  }
  call.label = "misuse " + std::to_string(index + 1) + ": " + what;
  return call;
}

// The resource path behind a resource event's name, as far as the name tells it.
std::string ResourcePath(const std::string& eventName) {
  if (eventName.rfind(kResourcePrefix, 0) != 0) return "/";
  std::string path = "/" + eventName.substr(std::strlen(kResourcePrefix));
  std::replace(path.begin(), path.end(), '_', '/');
  return path;
}

// The `index`th event for a subscription: an update or a delete shaped by the event's payload
// record, or a payload of the wrong shape. Kind-11 values go in as `odd`.
std::string EventPayload(InputGenerator& generator, const EventInfo* event, const std::string& name,
                         size_t index, rapidjson::Document& payload, bool& odd) {
  odd = false;
  auto& allocator = payload.GetAllocator();
  const TypeInfo* type = event != nullptr ? generator.FindType(event->payloadTypeName) : nullptr;
  if (type != nullptr) {
    generator.Generate(TypeRef{17, 0, type->name}, payload, allocator);
  } else {
    generator.AnyValue(payload, allocator);
  }
  const size_t kind = index % 4;
  if (payload.IsObject() && kind < 3) {
    auto set = [&](const char* member, rapidjson::Value value) {
      if (payload.HasMember(member)) payload[member] = value;
    };
    set("uri", rapidjson::Value(ResourcePath(name).c_str(), allocator));
    set("eventType", rapidjson::Value(kind == 1 ? "Delete" : index % 8 == 0 ? "Create" : "Update"));
    rapidjson::Value data;
    const TypeInfo* record = generator.AnyRecord();
    if (kind == 0 && record != nullptr) generator.Generate({17, 0, record->name}, data, allocator);
    set("data", std::move(data));
  }
  if (kind == 0) return "an update";
  if (kind == 1) return "a delete";
  if (kind == 2) {
    if (payload.IsObject() && payload.MemberCount() > 0) {
      auto member =
          payload.MemberBegin() + static_cast<long>(generator.Below(payload.MemberCount()));
      rapidjson::Value wrong;
      generator.WrongKind(member->value, wrong, allocator);
      member->value = wrong;
    } else {
      payload.SetArray();
    }
    return "a payload with a member of the wrong type";
  }
  odd = true;
  return "a payload of an unknown kind";
}

void Deliver(const ValidationHost::Subscription& subscription, const rapidjson::Value& json,
             bool odd) {
  OwnedHostValue value, uri, type, wrapper;
  std::string ignored;
  static_cast<void>(value.Assign(json, ignored));
  HostValue unknown{};
  unknown.kind = kUnknownKind;
  // Half the odd payloads are a resource event whose data alone is of the unknown kind.
  uri.AssignString(ResourcePath(subscription.name));
  type.AssignString("Update");
  wrapper.AssignStructure({{"uri", uri.value()}, {"eventType", type.value()}, {"data", unknown}});
  EventRecord record{};
  record.name = subscription.name.c_str();
  record.payload = !odd ? value.value() : json.IsObject() ? wrapper.value() : unknown;
  record.context = subscription.context;
  subscription.callback(&record);
}

}  // namespace

const char* NameOf(EndpointInputs inputs) {
  switch (inputs) {
    case EndpointInputs::Malformed:
      return "malformed";
    case EndpointInputs::Misuse:
      return "misuse";
    case EndpointInputs::WellFormed:
      break;
  }
  return "well-formed";
}

size_t InputsAt(int strictness) {
  constexpr size_t kInputs[] = {2, 5, 12, 25, 60, 120, 300, 700, 1500, 3000};
  return kInputs[std::clamp(strictness, 1, 10) - 1];
}

void Discover(const std::string& path, ChildProbe& probe) {
  ValidationHost host;  // outlives the plugin, which calls it until it is unloaded
  LoadedLibrary library;
  if (!StartPlugin(library, path, host, probe)) return;
  for (const EndpointInfo& endpoint : SnapshotOf(library).endpoints) {
    probe.Note("endpoint " + endpoint.function);
  }
  for (const auto& subscription : host.subscriptions()) probe.Note("event " + subscription.name);
  library.Unload();
}

void CheckEndpoint(const std::string& path, const std::string& function, EndpointInputs inputs,
                   size_t count, uint64_t seed, ChildProbe& probe) {
  ValidationHost host;  // outlives the plugin, which calls it until it is unloaded
  LoadedLibrary library;
  // Three starts on one mapping with the same calls after the first two: state the plugin keeps
  // between calls must go at unload, so the last two starts find the same memory held.
  MemoryCounters held[2];
  for (int round = 0; round < 3; ++round) {
    if (!StartPlugin(library, path, host, probe)) return;
    if (round > 0) held[round - 1] = ReadCounters(library);
    if (round == 2) break;
    const ApiSnapshot api = SnapshotOf(library);
    const auto endpoint =
        std::find_if(api.endpoints.begin(), api.endpoints.end(),
                     [&](const EndpointInfo& e) { return e.function == function; });
    if (endpoint == api.endpoints.end() || endpoint->invoke == nullptr) {
      return probe.Fail("the endpoint is gone from the description, or has no invoke entry");
    }
    InputGenerator generator(api, seed);
    for (size_t i = 0; i < count && !probe.failed(); ++i) {
      rapidjson::Document ignored;
      const Call call = inputs == EndpointInputs::WellFormed
                            ? WellFormed(*endpoint, generator, i, ignored)
                        : inputs == EndpointInputs::Malformed ? Malformed(*endpoint, generator, i)
                                                              : Misuse(*endpoint, generator, i);
      Run(*endpoint, call, library, host, probe);
    }
    if (probe.failed()) return;
    probe.Step("unload the plugin after round " + std::to_string(round + 1));
    library.Unload();
  }
  probe.Step("compare the memory held after each round");
  const std::string imbalance = Imbalance(held[0], held[1], count, "calls");
  if (!imbalance.empty()) probe.Fail(imbalance);
}

void CheckEvents(const std::string& path, const std::string& eventName, size_t count, uint64_t seed,
                 ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  MemoryCounters held[3];
  for (int round = 0; round < 3; ++round) {
    if (!StartPlugin(library, path, host, probe)) return;
    held[round] = ReadCounters(library);
    if (round == 2) break;
    const auto& subscriptions = host.subscriptions();
    const auto found =
        std::find_if(subscriptions.begin(), subscriptions.end(),
                     [&](const ValidationHost::Subscription& s) { return s.name == eventName; });
    if (found == subscriptions.end()) {
      return probe.Fail("the plugin no longer subscribes to '" + eventName + "'");
    }
    // A copy: the plugin may subscribe and unsubscribe while it handles an event.
    const ValidationHost::Subscription subscription = *found;
    const ApiSnapshot api = SnapshotOf(library);
    const std::string base = eventName.substr(0, eventName.find('_'));
    const EventInfo* event = nullptr;
    for (const EventInfo& info : api.events) {
      if (info.name == eventName || (event == nullptr && info.name == base)) event = &info;
    }
    InputGenerator generator(api, seed);  // the same events in both rounds
    for (size_t i = 0; i < count; ++i) {
      rapidjson::Document payload;
      bool odd = false;
      const std::string what = EventPayload(generator, event, eventName, i, payload, odd);
      probe.Step(
          "event " + std::to_string(i + 1) + " of round " + std::to_string(round + 1) + ": " + what,
          JsonOf(payload));
      Deliver(subscription, payload, odd);
      if (!host.breach().empty()) return probe.Fail(host.breach());
    }
    probe.Step("unload the plugin after round " + std::to_string(round + 1));
    library.Unload();
    if (!host.subscriptions().empty()) {
      return probe.Fail("the plugin is still subscribed to '" + host.subscriptions().front().name +
                        "' after unloading");
    }
  }
  probe.Step("compare the memory held after each round");
  const std::string imbalance = Imbalance(held[1], held[2], count, "events");
  if (!imbalance.empty()) probe.Fail(imbalance);
}

}  // namespace vyn::host
