// Deterministic in-memory survey documents for the benchmarks, in JSON, MessagePack and YAML, and
// the memory checks every benchmark ends with.
#pragma once

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyn::bench {

// One survey document in the three body formats. The members are those of a posted survey (id,
// title, caption, type, display, data); `data` holds the questions: nested structures, escaped
// and non-ASCII strings, integers at both 64-bit extremes, floats, booleans and nulls.
struct Corpus {
  std::string name;  // "1MB", "10KB", "tiny"
  std::string json;  // compact
  std::vector<uint8_t> msgPack;
  std::string yaml;  // block style, strings double-quoted
};

// Built once per process, on first use; the same bytes on every run and machine.
const Corpus& LargeSurvey();  // about 1 MB of JSON
const Corpus& SmallSurvey();  // about 10 KB of JSON
const Corpus& TinySurvey();   // a survey with one short question

// The corpus a benchmark's first argument names: 0 the 1 MB survey, 1 the 10 KB one.
const Corpus& CorpusOf(const benchmark::State& state);

// Reports `bytes` per iteration as the throughput and the corpus's name as the label.
void Describe(benchmark::State& state, const Corpus& corpus, std::size_t bytes);

// The document behind a corpus, rebuilt from its JSON text with RapidJSON's defaults.
void ParseDocument(const Corpus& corpus, rapidjson::Document& document);

// The counting allocator's live bytes of this process (the core is linked in).
uint64_t LiveBytesNow();

// Ends a benchmark: when the live bytes are not back at `before`, the run is reported as an
// error. Call it after the timed loop, before anything else allocates.
void CheckLiveBytes(benchmark::State& state, uint64_t before, uint64_t after);

// The timed loop of a benchmark: `step` once per iteration, returning false when the measured
// operation failed (the run then ends with `failure`), and the live bytes checked afterwards.
// A template, so that the step is inlined into the loop as if written there.
template <class Step>
void TimedSteps(benchmark::State& state, const char* failure, Step&& step) {
  const uint64_t before = LiveBytesNow();
  for (auto _ : state) {
    if (!step()) state.SkipWithError(failure);
  }
  CheckLiveBytes(state, before, LiveBytesNow());
}

}  // namespace vyn::bench
