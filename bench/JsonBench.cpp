// JSON reading and writing against RapidJSON on the same bytes: ParseJson against a DOM parse and
// against a SAX pass with a handler that does nothing (the floor); ToJson against RapidJSON's
// writers over a Document of the same data.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "Baselines.h"
#include "BenchCorpus.h"
#include "binding/BindingProperty.h"
#include "formats/Json.h"

namespace vyn::bench {
namespace {

void ParseJsonOurs(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  { const binding::BindingResult warm = formats::ParseJson(corpus.json); }
  TimedSteps(state, "ParseJson failed", [&] {
    binding::BindingResult result = formats::ParseJson(corpus.json);
    benchmark::DoNotOptimize(result);
    return result.ok();
  });
  Describe(state, corpus, corpus.json.size());
}

void RapidJsonDom(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  TimedSteps(state, "Document::Parse failed", [&] { return RapidJsonDomParse(corpus.json); });
  Describe(state, corpus, corpus.json.size());
}

// Accepts every event and keeps nothing: what tokenizing alone costs.
struct NullHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NullHandler> {
  bool Default() { return true; }
};

void RapidJsonSaxNull(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  TimedSteps(state, "Reader::Parse failed", [&] {
    rapidjson::Reader reader;
    NullHandler handler;
    rapidjson::StringStream stream(corpus.json.c_str());
    return !reader.Parse(stream, handler).IsError();
  });
  Describe(state, corpus, corpus.json.size());
}

void ToJsonOurs(benchmark::State& state, const char* newline) {
  const Corpus& corpus = CorpusOf(state);
  std::size_t bytes = 0;
  {
    const binding::BindingResult value = formats::ParseJson(corpus.json);
    { const std::string warm = formats::ToJson(value, nullptr, newline); }
    TimedSteps(state, "ToJson failed", [&] {
      std::string text = formats::ToJson(value, nullptr, newline);
      bytes = text.size();
      benchmark::DoNotOptimize(text);
      return true;
    });
  }
  Describe(state, corpus, bytes);
}

void ToJsonCompactOurs(benchmark::State& state) { ToJsonOurs(state, nullptr); }
void ToJsonPrettyOurs(benchmark::State& state) { ToJsonOurs(state, "\r\n"); }

template <class Writer>
void RapidJsonWrite(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  rapidjson::Document document;
  ParseDocument(corpus, document);
  std::size_t bytes = 0;
  TimedSteps(state, "Accept failed", [&] {
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    const bool written = document.Accept(writer);
    bytes = buffer.GetSize();
    benchmark::DoNotOptimize(buffer.GetString());
    return written;
  });
  Describe(state, corpus, bytes);
}

void RapidJsonWriter(benchmark::State& state) {
  RapidJsonWrite<rapidjson::Writer<rapidjson::StringBuffer>>(state);
}
void RapidJsonPrettyWriter(benchmark::State& state) {
  RapidJsonWrite<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(state);
}

// Argument 0: the 1 MB survey; 1: the 10 KB one.
BENCHMARK(ParseJsonOurs)->Arg(0)->Arg(1);
BENCHMARK(RapidJsonDom)->Arg(0)->Arg(1);
BENCHMARK(RapidJsonSaxNull)->Arg(0)->Arg(1);
BENCHMARK(ToJsonCompactOurs)->Arg(0)->Arg(1);
BENCHMARK(RapidJsonWriter)->Arg(0)->Arg(1);
BENCHMARK(ToJsonPrettyOurs)->Arg(0)->Arg(1);
BENCHMARK(RapidJsonPrettyWriter)->Arg(0)->Arg(1);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
