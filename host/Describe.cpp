// Printing what a loaded plugin tells the host about itself.
#include "host/Describe.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cinttypes>

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

}  // namespace vyn::host
