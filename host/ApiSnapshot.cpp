// Copying a plugin's API description out of its packed tables.
#include "host/ApiSnapshot.h"

#include <cstring>

#include "host/HostNames.h"

namespace vyn::host {
namespace {

// Packed records may sit at any address: a byte copy is the one read that is always valid.
template <typename Record>
Record CopyRecord(const void* address) {
  Record record;
  std::memcpy(&record, address, sizeof record);
  return record;
}

std::string Text(const char* text) { return text != nullptr ? text : ""; }

std::vector<std::string> Texts(const char* const* texts, uint32_t count) {
  std::vector<std::string> out;
  if (texts == nullptr) return out;
  for (uint32_t i = 0; i < count && i < kMaxChainLength; ++i) {
    out.push_back(Text(CopyRecord<const char*>(texts + i)));
  }
  return out;
}

void CheckCount(const char* table, size_t chain, uint32_t count, bool cut,
                std::vector<std::string>& warnings) {
  if (cut) {
    warnings.push_back(std::string("the ") + table + " chain is longer than " +
                       std::to_string(kMaxChainLength) + " records; it was cut there");
  } else if (chain != count) {
    warnings.push_back(std::string("the ") + table + " table counts " + std::to_string(count) +
                       " records but its chain holds " + std::to_string(chain));
  }
}

std::vector<ArgumentInfo> Arguments(const HostFunctionRecord& function,
                                    const ArgumentLocationRecord* locations,
                                    std::vector<std::string>& warnings) {
  std::vector<ArgumentInfo> arguments;
  bool cut = false;
  for (const HostArgumentRecord* at = function.arguments; at != nullptr;) {
    if (arguments.size() == kMaxChainLength) {
      cut = true;
      break;
    }
    const auto record = CopyRecord<HostArgumentRecord>(at);
    ArgumentInfo argument;
    argument.name = Text(record.name);
    argument.description = Text(record.description);
    argument.type = {record.typeCode, record.elementCode, Text(record.typeName)};
    argument.optional = record.optional != 0;
    if (locations != nullptr) {
      const auto location = CopyRecord<ArgumentLocationRecord>(locations);
      argument.location = location.location;
      locations = location.next;
    }
    arguments.push_back(std::move(argument));
    at = record.next;
  }
  const std::string table = "argument (" + Text(function.name) + ")";
  CheckCount(table.c_str(), arguments.size(), function.argumentCount, cut, warnings);
  return arguments;
}

}  // namespace

ApiSnapshot SnapshotApi(const ApiDescription& api) {
  ApiSnapshot snapshot;
  bool cut = false;
  for (const void* at = api.endpoints; at != nullptr;) {
    if (snapshot.endpoints.size() == kMaxChainLength) {
      cut = true;
      break;
    }
    const auto record = CopyRecord<EndpointDescriptor>(at);
    const HostFunctionRecord& function = record.function;
    EndpointInfo endpoint;
    endpoint.methodCode = record.methodCode;
    endpoint.customMethod = Text(record.customMethod);
    endpoint.pathTemplate = Text(record.pathTemplate);
    endpoint.function = Text(function.name);
    endpoint.nameSpace = Text(function.nameSpace);
    endpoint.description = Text(function.description);
    endpoint.help = Text(function.help);
    endpoint.arguments = Arguments(function, record.argumentLocations, snapshot.warnings);
    endpoint.returns = {function.returnTypeCode, function.returnElementCode,
                        Text(function.returnTypeName)};
    endpoint.threadSafe = function.threadSafe != 0;
    endpoint.tags = Texts(function.tags, function.tagCount);
    endpoint.invoke = record.invoke;
    endpoint.endpointContext = function.endpointContext;
    snapshot.endpoints.push_back(std::move(endpoint));
    at = function.next;
  }
  CheckCount("endpoint", snapshot.endpoints.size(), api.endpointCount, cut, snapshot.warnings);

  cut = false;
  for (const HostTypeRecord* at = api.types; at != nullptr;) {
    if (snapshot.types.size() == kMaxChainLength) {
      cut = true;
      break;
    }
    const auto record = CopyRecord<HostTypeRecord>(at);
    TypeInfo type;
    type.name = Text(record.name);
    type.nameSpace = Text(record.nameSpace);
    type.description = Text(record.description);
    type.size = record.size;
    type.tags = Texts(record.tags, record.tagCount);
    type.isEnumeration = record.fields == nullptr && record.enumerators != nullptr;
    for (const HostFieldRecord* f = record.fields;
         f != nullptr && type.fields.size() < kMaxChainLength;) {
      const auto field = CopyRecord<HostFieldRecord>(f);
      type.fields.push_back({Text(field.name),
                             Text(field.description),
                             {field.typeCode, field.elementCode, Text(field.typeName)},
                             field.offset,
                             field.optional != 0});
      f = field.next;
    }
    for (const HostEnumeratorRecord* e = record.enumerators;
         e != nullptr && type.enumerators.size() < kMaxChainLength;) {
      const auto enumerator = CopyRecord<HostEnumeratorRecord>(e);
      type.enumerators.push_back(
          {Text(enumerator.name), Text(enumerator.description), enumerator.number});
      e = enumerator.next;
    }
    const size_t listed = record.fields != nullptr ? type.fields.size() : type.enumerators.size();
    if (listed != record.count) {
      snapshot.warnings.push_back("the type " + type.name + " counts " +
                                  std::to_string(record.count) + " members but lists " +
                                  std::to_string(listed));
    }
    snapshot.types.push_back(std::move(type));
    at = record.next;
  }
  CheckCount("type", snapshot.types.size(), api.typeCount, cut, snapshot.warnings);

  cut = false;
  for (const HostEventRecord* at = api.events; at != nullptr;) {
    if (snapshot.events.size() == kMaxChainLength) {
      cut = true;
      break;
    }
    const auto record = CopyRecord<HostEventRecord>(at);
    snapshot.events.push_back({Text(record.name), Text(record.nameSpace),
                               Text(record.payloadTypeName), Text(record.description),
                               Texts(record.tags, record.tagCount)});
    at = record.next;
  }
  CheckCount("event", snapshot.events.size(), api.eventCount, cut, snapshot.warnings);
  return snapshot;
}

std::string TypeText(const TypeRef& type) {
  auto described = [](uint32_t code, const std::string& name) {
    if ((code == 16 || code == 17) && !name.empty()) return name;
    return std::string(TypeKindName(code));
  };
  switch (type.code) {
    case 0:
      return "";
    case 15:
      return "vector<" + described(type.elementCode, type.typeName) + ">";
    case 19:
      return "map<" + described(type.elementCode, type.typeName) + ">";
    default: {
      std::string text = described(type.code, type.typeName);
      return text.empty() ? "type " + std::to_string(type.code) : text;
    }
  }
}

}  // namespace vyn::host
