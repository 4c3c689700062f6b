// MessagePack reading against msgpack-c's unpack (default settings: strings copied into its zone)
// on the same bytes.
#include <benchmark/benchmark.h>

#include "Baselines.h"
#include "BenchCorpus.h"
#include "binding/BindingProperty.h"
#include "formats/MsgPack.h"

namespace vyn::bench {
namespace {

void ParseMsgPackOurs(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  std::size_t consumed = 0;
  { const binding::BindingResult warm = formats::ParseMsgPack(corpus.msgPack, consumed); }
  TimedSteps(state, "ParseMsgPack failed", [&] {
    binding::BindingResult result = formats::ParseMsgPack(corpus.msgPack, consumed);
    benchmark::DoNotOptimize(result);
    return result.ok() && consumed == corpus.msgPack.size();
  });
  Describe(state, corpus, corpus.msgPack.size());
}

void MsgPackCUnpackBaseline(benchmark::State& state) {
  const Corpus& corpus = CorpusOf(state);
  TimedSteps(state, "unpack failed", [&] { return MsgPackCUnpack(corpus.msgPack); });
  Describe(state, corpus, corpus.msgPack.size());
}

// Argument 0: the 1 MB survey; 1: the 10 KB one.
BENCHMARK(ParseMsgPackOurs)->Arg(0)->Arg(1);
BENCHMARK(MsgPackCUnpackBaseline)->Arg(0)->Arg(1);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
