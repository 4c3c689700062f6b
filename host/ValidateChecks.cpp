// The validator's checks of a plugin library, its API description and its lifecycle.
#include "host/ValidateChecks.h"

#include <algorithm>
#include <map>
#include <vector>

#include "host/Describe.h"
#include "host/ExportTable.h"
#include "host/HostNames.h"
#include "host/ValidateHost.h"

namespace vyn::host {
namespace {

constexpr char kExport[] = "load_vyn_pft";

std::string VersionOf(uint32_t major, uint32_t minor, uint32_t patch) {
  return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

// Starts the plugin and copies out its description; fails the check when it does not start.
bool LoadDescription(const std::string& path, const ValidationHost& host, LoadedLibrary& library,
                     ApiSnapshot& api, ChildProbe& probe) {
  if (!StartPlugin(library, path, host, probe)) return false;
  probe.Step("read the API description");
  api = SnapshotOf(library);
  return true;
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& text : texts) out += (out.empty() ? "" : "|") + text;
  return out;
}

std::string RefText(const TypeRef& type) {
  return std::to_string(type.code) + "/" + std::to_string(type.elementCode) + "/" + type.typeName;
}

// A line per record with every field that the description carries, numbers as numbers, so that
// two descriptions are the same exactly when their lines are.
std::vector<std::string> Lines(const ApiSnapshot& api) {
  std::vector<std::string> lines;
  for (const EndpointInfo& e : api.endpoints) {
    lines.push_back("endpoint '" + e.function + "' method " + std::to_string(e.methodCode) + " '" +
                    e.customMethod + "' path '" + e.pathTemplate + "' nameSpace '" + e.nameSpace +
                    "' description '" + e.description + "' help '" + e.help + "' returns " +
                    RefText(e.returns) + " threadSafe " + std::to_string(e.threadSafe) + " tags '" +
                    Joined(e.tags) + "'");
    for (const ArgumentInfo& a : e.arguments) {
      lines.push_back("argument '" + e.function + "." + a.name + "' description '" + a.description +
                      "' type " + RefText(a.type) + " optional " + std::to_string(a.optional) +
                      " location " + std::to_string(a.location));
    }
  }
  for (const TypeInfo& t : api.types) {
    lines.push_back("type '" + t.name + "' nameSpace '" + t.nameSpace + "' description '" +
                    t.description + "' size " + std::to_string(t.size) + " tags '" +
                    Joined(t.tags) + "' enumeration " + std::to_string(t.isEnumeration));
    for (const FieldInfo& f : t.fields) {
      lines.push_back("field '" + t.name + "." + f.name + "' description '" + f.description +
                      "' type " + RefText(f.type) + " offset " + std::to_string(f.offset) +
                      " optional " + std::to_string(f.optional));
    }
    for (const EnumeratorInfo& n : t.enumerators) {
      lines.push_back("enumerator '" + t.name + "." + n.name + "' description '" + n.description +
                      "' number " + std::to_string(n.number));
    }
  }
  for (const EventInfo& v : api.events) {
    lines.push_back("event '" + v.name + "' nameSpace '" + v.nameSpace + "' payload '" +
                    v.payloadTypeName + "' description '" + v.description + "' tags '" +
                    Joined(v.tags) + "'");
  }
  return lines;
}

// Names that occur more than once, as "'name' (n times)".
std::string Repeated(const std::vector<std::string>& names) {
  std::map<std::string, int> counts;
  for (const std::string& name : names) ++counts[name];
  for (const auto& [name, count] : counts) {
    if (count > 1) return "'" + name + "' (" + std::to_string(count) + " times)";
  }
  return "";
}

}  // namespace

void CheckExports(const std::string& path, ChildProbe& probe) {
  probe.Step("read the export table", path);
  ExportTable table;
  std::string error;
  if (!ReadExportTable(path, table, error)) return probe.Fail(error);
  if (table.names.size() == 1 && table.names[0] == kExport) return;
  // Sorted: the order of an ELF symbol table is the linker's, and the report is the same for any.
  std::ranges::sort(table.names);
  std::string names;
  for (const std::string& name : table.names) names += (names.empty() ? "" : ", ") + name;
  probe.Fail("the " + table.format + " file exports " + std::to_string(table.names.size()) +
             " names where load_vyn_pft alone belongs: " + (names.empty() ? "none" : names));
}

void CheckCompatibleHost(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  const uint32_t versions[][3] = {{kHostMajor, kHostMinor, kHostPatch},
                                  {kHostMajor, kHostMinor + 7, kHostPatch + 3}};
  for (const auto& v : versions) {
    const std::string version = VersionOf(v[0], v[1], v[2]);
    probe.Step("load under host " + version);
    std::string error;
    if (!library.Load(path, v[0], v[1], v[2], error)) {
      return probe.Fail("host " + version +
                        " is compatible, but the plugin did not load: " + error);
    }
    const PluginLoadBlock block = library.block();
    if (block.major != v[0] || block.minor > v[1]) {
      return probe.Fail("host " + version + " loaded a plugin that speaks plugin API " +
                        VersionOf(block.major, block.minor, block.patch));
    }
    static_cast<void>(library.Initialize(host.api()));
    library.Unload();
  }
}

void LoadUnderHost(const std::string& path, uint32_t major, uint32_t minor, uint32_t patch,
                   ChildProbe& probe) {
  probe.Step("load under host " + VersionOf(major, minor, patch));
  ValidationHost host;
  LoadedLibrary library;
  std::string error;
  const bool loaded = library.Load(path, major, minor, patch, error);
  probe.Note(loaded ? "loaded" : "not loaded");
  // What loaded is also initialised, so that unloading it stays within the lifecycle.
  if (loaded) static_cast<void>(library.Initialize(host.api()));
}

std::string IncompatibleHostVerdict(const ChildResult& child, const std::string& version) {
  if (child.finished || !child.notes.empty()) {
    return "host " + version + " is incompatible, but the plugin " +
           (child.notes.rfind("loaded", 0) == 0
                ? std::string("loaded under it")
                : std::string("returned without loading and the process went on"));
  }
  if (child.signal == 0 && child.reason.rfind("timed out", 0) == 0) {
    return "host " + version + " is incompatible, and the plugin hung: " + child.reason;
  }
  if (child.output.find("Assertion failed") == std::string::npos) {
    return "host " + version + " was refused without an assertion report on the log (" +
           child.reason + ")";
  }
  return "";
}

void CheckLoadBlock(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  if (!StartPlugin(library, path, host, probe)) return;
  probe.Step("read the load block");
  const PluginLoadBlock block = library.block();
  const std::string version = VersionOf(block.major, block.minor, block.patch);
  if (block.major != kHostMajor || block.minor > kHostMinor ||
      (block.minor == kHostMinor && block.patch > kHostPatch)) {
    return probe.Fail("the load block's version " + version + " is not one host " +
                      VersionOf(kHostMajor, kHostMinor, kHostPatch) + " speaks");
  }
  if (block.callbacks == nullptr) return probe.Fail("the load block has no callback table");
  const PluginCallbacks callbacks = *block.callbacks;
  if (callbacks.initialize == nullptr || callbacks.unload == nullptr ||
      callbacks.memoryStats == nullptr) {
    return probe.Fail("the callback table lacks initialize, unload or memoryStats");
  }
  if (block.context == nullptr) return probe.Fail("the load block has no context");
  if (block.shortName == nullptr || block.shortName[0] == '\0' || !IsUtf8Text(block.shortName)) {
    return probe.Fail("the load block's short name is missing, empty or not UTF-8");
  }
  if (block.api == nullptr) return probe.Fail("the load block has no API description");
}

void CheckDescriptors(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  ApiSnapshot api;
  if (!LoadDescription(path, host, library, api, probe)) return;
  probe.Step("check every descriptor");
  if (!api.warnings.empty()) return probe.Fail(api.warnings.front());
  for (const EndpointInfo& e : api.endpoints) {
    const std::string where = "the endpoint '" + e.function + "'";
    if (e.function.empty()) return probe.Fail("an endpoint of " + e.pathTemplate + " has no name");
    if (e.invoke == nullptr) return probe.Fail(where + " has no invoke entry");
    if (e.pathTemplate.empty() || e.pathTemplate[0] != '/') {
      return probe.Fail(where + " has the path template '" + e.pathTemplate + "'");
    }
    if (e.methodCode > kMethodCustom || (e.methodCode == kMethodCustom && e.customMethod.empty())) {
      return probe.Fail(where + " has the method code " + std::to_string(e.methodCode) +
                        " without a method name");
    }
    for (const ArgumentInfo& a : e.arguments) {
      if (a.name.empty()) return probe.Fail(where + " has an argument without a name");
      if (a.type.code == 0 || a.type.code > 19) {
        return probe.Fail(where + " types its argument '" + a.name + "' with the code " +
                          std::to_string(a.type.code));
      }
      if (a.location != 0 && a.location != 1 && a.location != 2 && a.location != 4 &&
          a.location != 5) {
        return probe.Fail(where + " places its argument '" + a.name + "' at the location " +
                          std::to_string(a.location));
      }
    }
    if (e.returns.code > 19) {
      return probe.Fail(where + " returns the type code " + std::to_string(e.returns.code));
    }
  }
  for (const TypeInfo& t : api.types) {
    if (t.name.empty()) return probe.Fail("a type has no name");
    if (t.isEnumeration && t.enumerators.empty()) {
      return probe.Fail("the enumeration '" + t.name + "' has no enumerators");
    }
    for (const FieldInfo& f : t.fields) {
      if (f.name.empty() || f.type.code == 0 || f.type.code > 19) {
        return probe.Fail("the type '" + t.name + "' has a field without a name or a type: '" +
                          f.name + "' of code " + std::to_string(f.type.code));
      }
    }
  }
  for (const EventInfo& v : api.events) {
    if (v.name.empty() || v.payloadTypeName.empty()) {
      return probe.Fail("the event '" + v.name + "' lacks a name or a payload type");
    }
  }
}

void CheckUniqueNames(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  ApiSnapshot api;
  if (!LoadDescription(path, host, library, api, probe)) return;
  probe.Step("compare the names of each table");
  std::vector<std::string> functions, routes, types, events;
  for (const EndpointInfo& e : api.endpoints) {
    functions.push_back(e.function);
    routes.push_back(MethodName(e.methodCode) + e.customMethod + " " + e.pathTemplate);
    std::vector<std::string> arguments;
    for (const ArgumentInfo& a : e.arguments) arguments.push_back(a.name);
    const std::string twice = Repeated(arguments);
    if (!twice.empty()) return probe.Fail("the endpoint '" + e.function + "' names " + twice);
  }
  for (const TypeInfo& t : api.types) {
    types.push_back(t.name);
    std::vector<std::string> members;
    for (const FieldInfo& f : t.fields) members.push_back(f.name);
    for (const EnumeratorInfo& n : t.enumerators) members.push_back(n.name);
    const std::string twice = Repeated(members);
    if (!twice.empty()) return probe.Fail("the type '" + t.name + "' names " + twice);
  }
  for (const EventInfo& v : api.events) events.push_back(v.name);
  const std::pair<const char*, const std::vector<std::string>*> tables[] = {
      {"endpoint", &functions}, {"route", &routes}, {"type", &types}, {"event", &events}};
  for (const auto& [table, names] : tables) {
    const std::string twice = Repeated(*names);
    if (!twice.empty()) return probe.Fail(std::string("the ") + table + " " + twice);
  }
}

void CheckTypeReferences(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  ApiSnapshot api;
  if (!LoadDescription(path, host, library, api, probe)) return;
  probe.Step("resolve every type that the description names");
  std::map<std::string, bool> defined;  // name: is an enumeration
  for (const TypeInfo& t : api.types) defined[t.name] = t.isEnumeration;
  // Records and enumerations must be defined as what they are used as; a vector or map of
  // them names its element type.
  auto resolve = [&](const TypeRef& type, const std::string& where) {
    const bool container = type.code == 15 || type.code == 19;
    const uint32_t kind = container ? type.elementCode : type.code;
    if (container && (kind == 0 || kind > 19 || kind == 15 || kind == 19)) {
      return probe.Fail(where + " holds elements of the type code " + std::to_string(kind));
    }
    if (kind != 16 && kind != 17) return;
    const auto found = defined.find(type.typeName);
    if (found == defined.end()) {
      return probe.Fail(where + " names the type '" + type.typeName +
                        "', which the description does not define");
    }
    if (found->second != (kind == 16)) {
      return probe.Fail(where + " uses '" + type.typeName + "' as " +
                        (kind == 16 ? "an enumeration" : "a record") + ", which it is not");
    }
  };
  for (const EndpointInfo& e : api.endpoints) {
    for (const ArgumentInfo& a : e.arguments) {
      resolve(a.type, "the argument '" + e.function + "." + a.name + "'");
    }
    resolve(e.returns, "the return of '" + e.function + "'");
  }
  for (const TypeInfo& t : api.types) {
    for (const FieldInfo& f : t.fields)
      resolve(f.type, "the field '" + t.name + "." + f.name + "'");
  }
  for (const EventInfo& v : api.events) {
    const auto found = defined.find(v.payloadTypeName);
    if (found == defined.end() || found->second) {
      probe.Fail("the event '" + v.name + "' carries '" + v.payloadTypeName +
                 "', which the description does not define as a record");
    }
  }
}

void CheckJsonRoundTrip(const std::string& path, ChildProbe& probe) {
  ValidationHost host;
  LoadedLibrary library;
  ApiSnapshot api;
  if (!LoadDescription(path, host, library, api, probe)) return;
  probe.Step("turn the description into JSON and back");
  PluginFacts facts;
  facts.shortName = library.block().shortName != nullptr ? library.block().shortName : "";
  const std::string json = DescriptionJson(facts, api);
  ApiSnapshot back;
  std::string error;
  if (!ReadDescriptionJson(json, back, error)) return probe.Fail(error);
  const std::vector<std::string> before = Lines(api), after = Lines(back);
  for (size_t i = 0; i < before.size() || i < after.size(); ++i) {
    if (i < before.size() && i < after.size() && before[i] == after[i]) continue;
    return probe.Fail(
        "the JSON form loses " + (i < before.size() ? Printable(before[i], 200) : "nothing") +
        ": it comes back as " + (i < after.size() ? Printable(after[i], 200) : "nothing"));
  }
}

void CheckLifecycle(const std::string& path, ChildProbe& probe) {
  ValidationHost host;  // outlives every plugin object, which calls it until it is unloaded
  for (int mapping = 1; mapping <= 2; ++mapping) {
    LoadedLibrary library;
    MemoryCounters previous;
    for (int cycle = 1; cycle <= 3; ++cycle) {
      const std::string where =
          "mapping " + std::to_string(mapping) + ", cycle " + std::to_string(cycle);
      if (!StartPlugin(library, path, host, probe)) return;
      const MemoryCounters now = ReadCounters(library);
      if (now.peakBytes < now.liveBytes) {
        return probe.Fail(where + ": the peak of " + std::to_string(now.peakBytes) +
                          " bytes is below the " + std::to_string(now.liveBytes) + " alive");
      }
      // The first cycle may leave process-wide caches behind; from the second on, each cycle
      // must hold exactly what the one before held.
      if (cycle == 3 &&
          (now.liveBlocks != previous.liveBlocks || now.liveBytes > previous.liveBytes + 512)) {
        return probe.Fail(
            where + ": after initialising the plugin holds " + std::to_string(now.liveBytes) +
            " bytes in " + std::to_string(now.liveBlocks) + " blocks, the cycle before " +
            std::to_string(previous.liveBytes) + " in " + std::to_string(previous.liveBlocks));
      }
      previous = now;
      probe.Step("unload the plugin (" + where + ")");
      library.Unload();
      if (!host.subscriptions().empty()) {
        return probe.Fail(where + ": the plugin is still subscribed to '" +
                          host.subscriptions().front().name + "' after unloading");
      }
      if (!host.breach().empty()) return probe.Fail(where + ": " + host.breach());
    }
    probe.Step("close the library (mapping " + std::to_string(mapping) + ")");
  }
}

}  // namespace vyn::host
