// Printing what a loaded plugin tells the host about itself.
#include "host/Describe.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cinttypes>
#include <cstdlib>

#include "host/HostNames.h"

namespace vyn::host {
namespace {

constexpr const char* kMemoryStatNames[] = {"peakBytes",       "peakBlocks", "bytesAllocated",
                                            "blocksAllocated", "bytesFreed", "blocksFreed"};

uint64_t MemoryStat(const uint32_t stats[14], int index) {
  return stats[2 * index] | (static_cast<uint64_t>(stats[2 * index + 1]) << 32);
}

std::string MethodText(const EndpointInfo& endpoint) {
  if (endpoint.methodCode == kMethodCustom) return endpoint.customMethod;
  const std::string name = MethodName(endpoint.methodCode);
  return name.empty() ? "ANY" : name;
}

using Pretty = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void Str(Pretty& w, const std::string& text) {
  w.String(text.data(), static_cast<rapidjson::SizeType>(text.size()), true);
}

void Field(Pretty& w, const char* key, const std::string& text) {
  w.Key(key);
  Str(w, text);
}

void TypeFields(Pretty& w, const TypeRef& type) {
  Field(w, "type", TypeKindName(type.code));
  Field(w, "elementType", TypeKindName(type.elementCode));
  Field(w, "typeName", type.typeName);
  Field(w, "display", TypeText(type));
}

void Tags(Pretty& w, const std::vector<std::string>& tags) {
  w.Key("tags");
  w.StartArray();
  for (const auto& tag : tags) Str(w, tag);
  w.EndArray();
}

// Readers of the document's parts; a missing or mistyped member reads as empty, which the
// comparison of what came back then shows as a loss.
std::string TextOf(const rapidjson::Value& object, const char* key) {
  const auto found = object.FindMember(key);
  if (found == object.MemberEnd() || !found->value.IsString()) return "";
  return std::string(found->value.GetString(), found->value.GetStringLength());
}

const rapidjson::Value& MemberOf(const rapidjson::Value& object, const char* key) {
  static const rapidjson::Value kNull;
  const auto found = object.FindMember(key);
  return found == object.MemberEnd() ? kNull : found->value;
}

bool FlagOf(const rapidjson::Value& object, const char* key) {
  const rapidjson::Value& value = MemberOf(object, key);
  return value.IsBool() && value.GetBool();
}

template <typename Each>
void ForEach(const rapidjson::Value& object, const char* key, Each each) {
  const rapidjson::Value& array = MemberOf(object, key);
  if (!array.IsArray()) return;
  for (const auto& element : array.GetArray()) {
    if (element.IsObject()) each(element);
  }
}

std::vector<std::string> TagsOf(const rapidjson::Value& object) {
  std::vector<std::string> tags;
  const rapidjson::Value& array = MemberOf(object, "tags");
  if (!array.IsArray()) return tags;
  for (const auto& tag : array.GetArray()) tags.push_back(tag.IsString() ? tag.GetString() : "");
  return tags;
}

uint32_t KindCode(const std::string& name) {
  for (uint32_t code = 1; code <= 19; ++code) {
    if (name == TypeKindName(code)) return code;
  }
  return 0;
}

TypeRef TypeOf(const rapidjson::Value& object) {
  return {KindCode(TextOf(object, "type")), KindCode(TextOf(object, "elementType")),
          TextOf(object, "typeName")};
}

uint32_t LocationCode(const std::string& name) {
  constexpr uint32_t kNamed[] = {0, 1, 2, 4, 5};
  for (uint32_t code : kNamed) {
    if (name == LocationName(code)) return code;
  }
  constexpr char kPrefix[] = "location ";
  if (name.rfind(kPrefix, 0) != 0) return 0;
  return static_cast<uint32_t>(std::strtoul(name.c_str() + sizeof kPrefix - 1, nullptr, 10));
}


// The frame's binding layer tags its types "$builtin", the client frame's records "tclient".
bool IsBuiltIn(const TypeInfo& type) {
  for (const auto& tag : type.tags) {
    if (tag == "$builtin" || tag == "tclient") return true;
  }
  return false;
}

void PrintType(std::FILE* out, const TypeInfo& type) {
  if (type.isEnumeration) {
    std::fprintf(out, "  %s (enumeration, %u bytes)\n", type.name.c_str(), type.size);
    for (const auto& enumerator : type.enumerators) {
      std::fprintf(out, "      %s = %d\n", enumerator.name.c_str(), enumerator.number);
    }
  } else {
    std::fprintf(out, "  %s (record, %u bytes)\n", type.name.c_str(), type.size);
    for (const auto& field : type.fields) {
      std::fprintf(out, "      %s: %s%s\n", field.name.c_str(), TypeText(field.type).c_str(),
                   field.optional ? " (optional)" : "");
    }
  }
}

}  // namespace

void PrintApiDescription(std::FILE* out, const ApiSnapshot& api) {
  std::fprintf(out, "endpoints: %zu\n", api.endpoints.size());
  for (const auto& endpoint : api.endpoints) {
    std::fprintf(out, "  %s %s -> %s\n", MethodText(endpoint).c_str(),
                 endpoint.pathTemplate.c_str(), endpoint.function.c_str());
    for (const auto& argument : endpoint.arguments) {
      std::fprintf(out, "      %s: %s (%s%s)\n", argument.name.c_str(),
                   TypeText(argument.type).c_str(), LocationName(argument.location).c_str(),
                   argument.optional ? ", optional" : "");
    }
    const std::string returns = TypeText(endpoint.returns);
    std::fprintf(out, "      returns %s\n", returns.empty() ? "nothing" : returns.c_str());
  }
  std::vector<const TypeInfo*> own, builtIn;
  for (const auto& type : api.types) (IsBuiltIn(type) ? builtIn : own).push_back(&type);
  std::fprintf(out, "types: %zu of the plugin's own\n", own.size());
  for (const TypeInfo* type : own) PrintType(out, *type);
  // Every plugin on the frame carries these; their fields are in the --json form.
  std::fprintf(out, "built-in types: %zu, from the plugin's frame\n", builtIn.size());
  size_t width = 0;  // of the current line
  for (const TypeInfo* type : builtIn) {
    if (width > 0 && width + 1 + type->name.size() > 96) {
      std::fputc('\n', out);
      width = 0;
    }
    std::fprintf(out, "%s%s", width == 0 ? "  " : " ", type->name.c_str());
    width += (width == 0 ? 2 : 1) + type->name.size();
  }
  if (width > 0) std::fputc('\n', out);
  std::fprintf(out, "events: %zu\n", api.events.size());
  for (const auto& event : api.events) {
    std::fprintf(out, "  %s (payload %s)%s%s\n", event.name.c_str(), event.payloadTypeName.c_str(),
                 event.description.empty() ? "" : ": ", event.description.c_str());
  }
  for (const auto& warning : api.warnings) std::fprintf(out, "warning: %s\n", warning.c_str());
}

void PrintMemoryStats(std::FILE* out, const uint32_t stats[14]) {
  static const char* const kLines[] = {
      "peak bytes        %12" PRIu64 "  the most the plugin held at one time\n",
      "peak blocks       %12" PRIu64 "  the most allocations live at one time\n",
      "bytes allocated   %12" PRIu64 "  all it ever allocated, freed memory included\n",
      "blocks allocated  %12" PRIu64 "  allocations made\n",
      "bytes freed       %12" PRIu64 "  all it gave back\n",
      "blocks freed      %12" PRIu64 "  allocations freed\n"};
  std::fprintf(out,
               "memory: the plugin's own allocator, counted since the library was loaded (here:\n"
               "loading and initialising; serve shows it live at GET /host/v1/stats)\n");
  for (int i = 0; i < 6; ++i) {
    std::fprintf(out, "  ");
    std::fprintf(out, kLines[i], MemoryStat(stats, i));
  }
  std::fprintf(out, "  in use now        %12" PRIu64 "  bytes allocated minus bytes freed\n",
               MemoryStat(stats, 2) - MemoryStat(stats, 4));
}

std::string MemoryStatsJson(const uint32_t stats[14]) {
  std::string json = "{";
  for (int i = 0; i < 6; ++i) {
    json += std::string(i > 0 ? "," : "") + "\"" + kMemoryStatNames[i] +
            "\":" + std::to_string(MemoryStat(stats, i));
  }
  return json + "}";
}

std::string DescriptionJson(const PluginFacts& facts, const ApiSnapshot& api) {
  rapidjson::StringBuffer buffer;
  Pretty w(buffer);
  w.SetIndent(' ', 2);
  w.StartObject();
  w.Key("plugin");
  w.StartObject();
  Field(w, "shortName", facts.shortName);
  Field(w, "apiVersion",
        std::to_string(facts.major) + "." + std::to_string(facts.minor) + "." +
            std::to_string(facts.patch));
  w.Key("ready");
  w.Bool(facts.ready);
  w.EndObject();

  w.Key("endpoints");
  w.StartArray();
  for (const auto& endpoint : api.endpoints) {
    w.StartObject();
    Field(w, "method", MethodText(endpoint));
    Field(w, "path", endpoint.pathTemplate);
    Field(w, "function", endpoint.function);
    Field(w, "nameSpace", endpoint.nameSpace);
    Field(w, "description", endpoint.description);
    if (!endpoint.help.empty()) Field(w, "help", endpoint.help);
    w.Key("arguments");
    w.StartArray();
    for (const auto& argument : endpoint.arguments) {
      w.StartObject();
      Field(w, "name", argument.name);
      TypeFields(w, argument.type);
      Field(w, "location", LocationName(argument.location));
      w.Key("optional");
      w.Bool(argument.optional);
      Field(w, "description", argument.description);
      w.EndObject();
    }
    w.EndArray();
    w.Key("returns");
    w.StartObject();
    TypeFields(w, endpoint.returns);
    w.EndObject();
    w.Key("threadSafe");
    w.Bool(endpoint.threadSafe);
    Tags(w, endpoint.tags);
    w.EndObject();
  }
  w.EndArray();

  w.Key("types");
  w.StartArray();
  for (const auto& type : api.types) {
    w.StartObject();
    Field(w, "name", type.name);
    Field(w, "kind", type.isEnumeration ? "enumeration" : "record");
    Field(w, "nameSpace", type.nameSpace);
    w.Key("builtIn");
    w.Bool(IsBuiltIn(type));
    w.Key("size");
    w.Uint(type.size);
    Field(w, "description", type.description);
    Tags(w, type.tags);
    if (type.isEnumeration) {
      w.Key("enumerators");
      w.StartArray();
      for (const auto& enumerator : type.enumerators) {
        w.StartObject();
        Field(w, "name", enumerator.name);
        w.Key("number");
        w.Int(enumerator.number);
        Field(w, "description", enumerator.description);
        w.EndObject();
      }
    } else {
      w.Key("fields");
      w.StartArray();
      for (const auto& field : type.fields) {
        w.StartObject();
        Field(w, "name", field.name);
        TypeFields(w, field.type);
        w.Key("offset");
        w.Uint(field.offset);
        w.Key("optional");
        w.Bool(field.optional);
        Field(w, "description", field.description);
        w.EndObject();
      }
    }
    w.EndArray();
    w.EndObject();
  }
  w.EndArray();

  w.Key("events");
  w.StartArray();
  for (const auto& event : api.events) {
    w.StartObject();
    Field(w, "name", event.name);
    Field(w, "nameSpace", event.nameSpace);
    Field(w, "payloadType", event.payloadTypeName);
    Field(w, "description", event.description);
    Tags(w, event.tags);
    w.EndObject();
  }
  w.EndArray();

  w.Key("memory");
  w.StartObject();
  for (int i = 0; i < 6; ++i) {
    w.Key(kMemoryStatNames[i]);
    w.Uint64(MemoryStat(facts.memoryStats, i));
  }
  w.EndObject();

  w.Key("warnings");
  w.StartArray();
  for (const auto& warning : api.warnings) Str(w, warning);
  w.EndArray();
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool ReadDescriptionJson(const std::string& json, ApiSnapshot& api, std::string& error) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseValidateEncodingFlag>(json.data(), json.size());
  if (document.HasParseError() || !document.IsObject()) {
    error = "the description's JSON does not parse back";
    return false;
  }
  api = ApiSnapshot{};
  ForEach(document, "endpoints", [&](const rapidjson::Value& e) {
    EndpointInfo endpoint;
    const std::string method = TextOf(e, "method");
    const uint32_t code = MethodCode(method);
    endpoint.methodCode = method == "ANY" ? 0 : code;
    if (code == kMethodCustom && method != "ANY") endpoint.customMethod = method;
    endpoint.pathTemplate = TextOf(e, "path");
    endpoint.function = TextOf(e, "function");
    endpoint.nameSpace = TextOf(e, "nameSpace");
    endpoint.description = TextOf(e, "description");
    endpoint.help = TextOf(e, "help");
    ForEach(e, "arguments", [&](const rapidjson::Value& a) {
      endpoint.arguments.push_back({TextOf(a, "name"), TextOf(a, "description"), TypeOf(a),
                                    FlagOf(a, "optional"), LocationCode(TextOf(a, "location"))});
    });
    endpoint.returns = TypeOf(MemberOf(e, "returns"));
    endpoint.threadSafe = FlagOf(e, "threadSafe");
    endpoint.tags = TagsOf(e);
    api.endpoints.push_back(std::move(endpoint));
  });
  ForEach(document, "types", [&](const rapidjson::Value& t) {
    TypeInfo type;
    type.name = TextOf(t, "name");
    type.nameSpace = TextOf(t, "nameSpace");
    type.description = TextOf(t, "description");
    const rapidjson::Value& size = MemberOf(t, "size");
    type.size = size.IsUint() ? size.GetUint() : 0;
    type.tags = TagsOf(t);
    type.isEnumeration = TextOf(t, "kind") == "enumeration";
    ForEach(t, "fields", [&](const rapidjson::Value& f) {
      const rapidjson::Value& offset = MemberOf(f, "offset");
      type.fields.push_back({TextOf(f, "name"), TextOf(f, "description"), TypeOf(f),
                             offset.IsUint() ? offset.GetUint() : 0, FlagOf(f, "optional")});
    });
    ForEach(t, "enumerators", [&](const rapidjson::Value& n) {
      const rapidjson::Value& number = MemberOf(n, "number");
      type.enumerators.push_back(
          {TextOf(n, "name"), TextOf(n, "description"), number.IsInt() ? number.GetInt() : 0});
    });
    api.types.push_back(std::move(type));
  });
  ForEach(document, "events", [&](const rapidjson::Value& v) {
    api.events.push_back({TextOf(v, "name"), TextOf(v, "nameSpace"), TextOf(v, "payloadType"),
                          TextOf(v, "description"), TagsOf(v)});
  });
  return true;
}

}  // namespace vyn::host
