// Depth-limited, iterative parsing of outside JSON.
#include "host/JsonDocument.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

namespace vyn::host {
namespace {

// A first pass that only counts depth: the document built afterwards, and every walk over it
// later (copies, conversions, writing), is then known to stay within the limit.
struct DepthCheck : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, DepthCheck> {
  int depth = 0;
  bool tooDeep = false;

  bool Enter() {
    tooDeep = ++depth > kMaxJsonDepth;
    return !tooDeep;
  }
  bool StartObject() { return Enter(); }
  bool EndObject(rapidjson::SizeType) { return --depth, true; }
  bool StartArray() { return Enter(); }
  bool EndArray(rapidjson::SizeType) { return --depth, true; }
};

}  // namespace

JsonParse ParseJsonDocument(std::string_view text, rapidjson::Document& out, std::string& reason,
                            size_t& offset) {
  rapidjson::MemoryStream memory(text.data(), text.size());
  rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
  rapidjson::Reader reader;
  DepthCheck check;
  const rapidjson::ParseResult checked = reader.Parse<rapidjson::kParseIterativeFlag>(input, check);
  if (check.tooDeep) {
    reason = "nested more than " + std::to_string(kMaxJsonDepth) + " levels deep";
    offset = checked.Offset();
    return JsonParse::TooDeep;
  }
  out.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  if (out.HasParseError()) {
    reason = rapidjson::GetParseError_En(out.GetParseError());
    offset = out.GetErrorOffset();
    return JsonParse::Invalid;
  }
  return JsonParse::Ok;
}

}  // namespace vyn::host
