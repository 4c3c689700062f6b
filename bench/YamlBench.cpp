// YAML reading against a bare libyaml event loop (parse every event until the stream ends,
// keeping nothing) on the same bytes.
#include <benchmark/benchmark.h>

#include "Baselines.h"
#include "BenchCorpus.h"
#include "binding/BindingProperty.h"
#include "formats/Yaml.h"

namespace vyn::bench {
namespace {

void ParseYamlOurs(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  { const binding::BindingResult warm = formats::ParseYaml(corpus.yaml); }
  TimedSteps(state, "ParseYaml failed", [&] {
    binding::BindingResult result = formats::ParseYaml(corpus.yaml);
    benchmark::DoNotOptimize(result);
    return result.ok();
  });
  Describe(state, corpus, corpus.yaml.size());
}

void LibYamlEvents(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  TimedSteps(state, "yaml_parser_parse failed", [&] { return LibYamlEventLoop(corpus.yaml); });
  Describe(state, corpus, corpus.yaml.size());
}

// Argument 0: the 1 MB survey; 1: the 10 KB one.
BENCHMARK(ParseYamlOurs)->Arg(0)->Arg(1);
BENCHMARK(LibYamlEvents)->Arg(0)->Arg(1);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
