// Baseline readers: each library used the way its own documentation shows, keeping nothing.
#include "Baselines.h"

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <yaml.h>

#include <exception>
#include <msgpack.hpp>

namespace vyn::bench {

bool RapidJsonDomParse(const std::string& json) {
  rapidjson::Document document;
  document.Parse(json.c_str());
  benchmark::DoNotOptimize(document);
  return !document.HasParseError();
}

bool MsgPackCUnpack(const std::vector<uint8_t>& bytes) {
  try {
    msgpack::object_handle handle =
        msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    benchmark::DoNotOptimize(handle.get());
    return true;
  } catch (const std::exception&) {
    return false;  // the library reports bad input by throwing
  }
}

bool LibYamlEventLoop(const std::string& yaml) {
  yaml_parser_t parser;
  if (!yaml_parser_initialize(&parser)) return false;
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(yaml.data()),
                               yaml.size());
  bool ok = true;
  for (bool done = false; !done;) {
    yaml_event_t event;
    if (!yaml_parser_parse(&parser, &event)) {
      ok = false;
      break;
    }
    done = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
  }
  yaml_parser_delete(&parser);
  return ok;
}

}  // namespace vyn::bench
