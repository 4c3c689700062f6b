// MessagePack reading against msgpack-c's unpack (default settings: strings copied into its zone)
// on the same bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Baselines.h"
#include "BenchCorpus.h"
#include "binding/BindingProperty.h"
#include "formats/MsgPack.h"

namespace vyn::bench {
namespace {

// The bytes a benchmark's first argument names: 0 the 1 MB survey, 1 the 10 KB one, 2 an array of
// eight copies of the 10 KB one. A tree pays once for each distinct text and kind it meets (its
// own records of them), and the later copies meet none for the first time, so set against the 10
// KB survey alone the eight copies tell what a reading costs per tree from what it costs per byte.
const std::vector<uint8_t>& BytesOf(const benchmark::State& state) {
  static const std::vector<uint8_t> eightSmall = [] {
    constexpr uint8_t kFixArrayOfEight = 0x98;
    const std::vector<uint8_t>& one = SmallSurvey().msgPack;
    std::vector<uint8_t> bytes{kFixArrayOfEight};
    for (int copy = 0; copy < 8; ++copy) bytes.insert(bytes.end(), one.begin(), one.end());
    return bytes;
  }();
  return state.range(0) == 2 ? eightSmall : CorpusOf(state).msgPack;
}

void DescribeBytes(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  Describe(state, CorpusOf(state), bytes.size());
  if (state.range(0) == 2) state.SetLabel("8x10KB");
}

void ParseMsgPackOurs(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = BytesOf(state);
  std::size_t consumed = 0;
  { const binding::BindingResult warm = formats::ParseMsgPack(bytes, consumed); }
  TimedSteps(state, "ParseMsgPack failed", [&] {
    binding::BindingResult result = formats::ParseMsgPack(bytes, consumed);
    benchmark::DoNotOptimize(result);
    return result.ok() && consumed == bytes.size();
  });
  DescribeBytes(state, bytes);
}

void MsgPackCUnpackBaseline(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = BytesOf(state);
  TimedSteps(state, "unpack failed", [&] { return MsgPackCUnpack(bytes); });
  DescribeBytes(state, bytes);
}

BENCHMARK(ParseMsgPackOurs)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(MsgPackCUnpackBaseline)->Arg(0)->Arg(1)->Arg(2);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
