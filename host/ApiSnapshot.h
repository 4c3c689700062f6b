// A copy of the API description that a plugin hands the host: its packed tables are walked
// through their "next" pointers and every record is copied out before it is read, so the rest
// of the host works on plain, aligned data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/HostAbi.h"

namespace vyn::host {

struct TypeRef {
  uint32_t code = 0;
  uint32_t elementCode = 0;
  std::string typeName;
};

struct ArgumentInfo {
  std::string name;
  std::string description;
  TypeRef type;
  bool optional = false;
  uint32_t location = 0;
};

struct EndpointInfo {
  uint32_t methodCode = 0;
  std::string customMethod;
  std::string pathTemplate;
  std::string function;
  std::string nameSpace;
  std::string description;
  std::string help;
  std::vector<ArgumentInfo> arguments;
  TypeRef returns;
  bool threadSafe = false;
  std::vector<std::string> tags;
  // What the host needs to call the endpoint.
  InvokeEntry invoke = nullptr;
  void* endpointContext = nullptr;
};

struct FieldInfo {
  std::string name;
  std::string description;
  TypeRef type;
  uint32_t offset = 0;
  bool optional = false;
};

struct EnumeratorInfo {
  std::string name;
  std::string description;
  int32_t number = 0;
};

struct TypeInfo {
  std::string name;
  std::string nameSpace;
  std::string description;
  uint32_t size = 0;
  std::vector<std::string> tags;
  bool isEnumeration = false;
  std::vector<FieldInfo> fields;
  std::vector<EnumeratorInfo> enumerators;
};

struct EventInfo {
  std::string name;
  std::string nameSpace;
  std::string payloadTypeName;
  std::string description;
  std::vector<std::string> tags;
};

struct ApiSnapshot {
  std::vector<EndpointInfo> endpoints;
  std::vector<TypeInfo> types;
  std::vector<EventInfo> events;
  // Disagreements between the tables' counts and their chains, for the reader to see.
  std::vector<std::string> warnings;
};

// A chain longer than this is taken to be a loop and cut there, with a warning.
inline constexpr uint32_t kMaxChainLength = 10000;

ApiSnapshot SnapshotApi(const ApiDescription& api);

// "uint64", "vector<int32>", "map<object>", or the described type's name for records and
// enumerations; the empty text for "no type" (code 0).
std::string TypeText(const TypeRef& type);

}  // namespace vyn::host
