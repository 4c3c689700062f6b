// Inputs for a plugin under validation, generated from its own API description: values of the
// declared types, those values as JSON, MessagePack and YAML bodies, and bodies that are
// malformed on purpose. Everything comes from one seeded generator, so a seed replays a run.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <random>
#include <string>

#include "host/ApiSnapshot.h"

namespace vyn::host {

enum class BodyFormat { Json, MsgPack, Yaml };

const char* ContentTypeOf(BodyFormat format);
std::string Encode(const rapidjson::Value& value, BodyFormat format);

struct Body {
  std::string label;        // what is wrong with it, for the report
  std::string contentType;  // empty: none is sent
  std::string bytes;
  bool present = true;  // false: no body pointer at all
};

class InputGenerator {
 public:
  using Allocator = rapidjson::Document::AllocatorType;

  // `api` must outlive the generator.
  InputGenerator(const ApiSnapshot& api, uint64_t seed) : api_(api), random_(seed) {}

  uint64_t Below(uint64_t bound) { return bound == 0 ? 0 : random_() % bound; }
  // A value of the declared type as JSON holds it: enumerations by name or number, blobs as
  // Base64 text, records as objects with every required field and some of the optional ones.
  void Generate(const TypeRef& type, rapidjson::Value& out, Allocator& allocator, int depth = 0);
  // Any JSON value, nested a little.
  void AnyValue(rapidjson::Value& out, Allocator& allocator, int depth = 0);
  // The `index`th malformed body, built around a well-formed value; successive indexes go
  // through truncation, wrong types, deep nesting, huge numbers, invalid UTF-8, empty bodies
  // and foreign content types in turn.
  Body Malformed(const rapidjson::Value& wellFormed, size_t index);
  // A record type of the description, chosen at random; null when it has none.
  const TypeInfo* AnyRecord();
  const TypeInfo* FindType(const std::string& name) const;
  // A value of another kind than `right`: a number for a text, a text for a number, and so on.
  void WrongKind(const rapidjson::Value& right, rapidjson::Value& out, Allocator& allocator);

 private:
  std::string Text();

  const ApiSnapshot& api_;
  std::mt19937_64 random_;
};

}  // namespace vyn::host
