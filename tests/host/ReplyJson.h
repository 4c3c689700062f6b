// Reading the host's JSON replies in tests: a missing or mistyped member reads as a value no
// test expects, so a wrong reply fails the comparison instead of the test program.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

namespace vyn::test {

inline rapidjson::Document Json(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document;
}

inline std::string Text(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject() || !object.HasMember(name) || !object[name].IsString()) return "<none>";
  return object[name].GetString();
}

inline uint64_t Number(const rapidjson::Value& object, const char* name) {
  if (!object.IsObject() || !object.HasMember(name) || !object[name].IsUint64()) return 99999;
  return object[name].GetUint64();
}

}  // namespace vyn::test
