// Building, deep-copying and destroying a 100,000-node value tree, against the same tree in a
// RapidJSON Document with its pool allocator. Both trees own copies of every string and member
// name, as our tree always does.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BenchCorpus.h"
#include "binding/BindingProperty.h"

namespace vyn::bench {
namespace {

using binding::BindingProperty;

// 5,000 records of 20 nodes each (the record, 11 members, 3 tags, 3 coordinates, 3 counts).
constexpr std::size_t kRecords = 5000;
constexpr std::size_t kNodes = kRecords * 20;

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < kRecords; ++i) out.push_back("player-" + std::to_string(i));
    return out;
  }();
  return names;
}

void BuildOurs(BindingProperty& root) {
  const std::vector<std::string>& names = Names();
  root.makeCollection();
  root.reserve(kRecords);
  for (std::size_t i = 0; i < kRecords; ++i) {
    BindingProperty& record = root.appendElement();
    record.memberAt("id").setUnsigned(i);
    record.memberAt("name").setString(names[i]);
    record.memberAt("team").setString(i % 2 == 0 ? "blue" : "red");
    record.memberAt("score").setFloat(static_cast<double>(i) * 0.5);
    record.memberAt("active").setBool(i % 3 == 0);
    record.memberAt("level").setSigned(-static_cast<int64_t>(i));
    BindingProperty& tags = record.memberAt("tags");
    tags.makeCollection();
    tags.reserve(3);
    tags.appendElement().setString("alpha");
    tags.appendElement().setString("beta");
    tags.appendElement().setString("gamma");
    BindingProperty& pos = record.memberAt("pos");
    pos.memberAt("x").setFloat(1.5);
    pos.memberAt("y").setFloat(-2.25);
    pos.memberAt("z").setFloat(static_cast<double>(i));
    BindingProperty& stats = record.memberAt("stats");
    stats.memberAt("kills").setUnsigned(i % 17);
    stats.memberAt("deaths").setUnsigned(i % 11);
    stats.memberAt("assists").setUnsigned(i % 23);
    record.memberAt("note");
  }
}

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

// Takes the value over (RapidJSON moves on add; values cannot be copied implicitly).
template <class V>
void Add(Value& object, const char* name, V&& value, Allocator& allocator) {
  Value key(name, allocator);
  Value taken(std::move(value));
  object.AddMember(key, taken, allocator);
}

void BuildRapidJson(rapidjson::Document& document) {
  const std::vector<std::string>& names = Names();
  Allocator& a = document.GetAllocator();
  document.SetArray();
  document.Reserve(static_cast<rapidjson::SizeType>(kRecords), a);
  for (std::size_t i = 0; i < kRecords; ++i) {
    Value record(rapidjson::kObjectType);
    Add(record, "id", Value(static_cast<uint64_t>(i)), a);
    Add(record, "name",
        Value(names[i].data(), static_cast<rapidjson::SizeType>(names[i].size()), a), a);
    Add(record, "team", Value(i % 2 == 0 ? "blue" : "red", a), a);
    Add(record, "score", Value(static_cast<double>(i) * 0.5), a);
    Add(record, "active", Value(i % 3 == 0), a);
    Add(record, "level", Value(-static_cast<int64_t>(i)), a);
    Value tags(rapidjson::kArrayType);
    tags.Reserve(3, a);
    tags.PushBack(Value("alpha", a), a)
        .PushBack(Value("beta", a), a)
        .PushBack(Value("gamma", a), a);
    Add(record, "tags", tags, a);
    Value pos(rapidjson::kObjectType);
    Add(pos, "x", Value(1.5), a);
    Add(pos, "y", Value(-2.25), a);
    Add(pos, "z", Value(static_cast<double>(i)), a);
    Add(record, "pos", pos, a);
    Value stats(rapidjson::kObjectType);
    Add(stats, "kills", Value(static_cast<uint64_t>(i % 17)), a);
    Add(stats, "deaths", Value(static_cast<uint64_t>(i % 11)), a);
    Add(stats, "assists", Value(static_cast<uint64_t>(i % 23)), a);
    Add(record, "stats", stats, a);
    Add(record, "note", Value(rapidjson::kNullType), a);
    document.PushBack(record, a);
  }
}

void Describe(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kNodes));
  state.SetLabel("100k nodes");
}

// Argument: 0 all three steps timed; 1 build only; 2 copy only; 3 destroy only.
enum Step { kAll = 0, kBuild = 1, kCopy = 2, kDestroy = 3 };

// Runs build, copy and destroy each iteration, timing the steps that `state.range(0)` selects.
template <class Tree, class Build, class Copy>
void RunTree(benchmark::State& state, Build build, Copy copy) {
  const auto step = static_cast<Step>(state.range(0));
  const auto section = [&state](bool timed, auto&& body) {
    if (!timed) state.PauseTiming();
    body();
    if (!timed) state.ResumeTiming();
  };
  Names();
  const uint64_t before = LiveBytesNow();
  for (auto _ : state) {
    auto tree = std::make_unique<Tree>();
    section(step == kAll || step == kBuild, [&] { build(*tree); });
    if (step == kAll || step == kCopy) {
      auto duplicate = std::make_unique<Tree>();
      section(true, [&] { copy(*duplicate, *tree); });
      section(step == kAll, [&] { duplicate.reset(); });
    }
    section(step == kAll || step == kDestroy, [&] { tree.reset(); });
  }
  CheckLiveBytes(state, before, LiveBytesNow());
  Describe(state);
}

void TreeOurs(benchmark::State& state) {
  RunTree<BindingProperty>(state, BuildOurs, [](BindingProperty& to, const BindingProperty& from) {
    to.copyFrom(from);
    benchmark::DoNotOptimize(to.size());
  });
}

void TreeRapidJson(benchmark::State& state) {
  RunTree<rapidjson::Document>(state, BuildRapidJson,
                               [](rapidjson::Document& to, const rapidjson::Document& from) {
                                 to.CopyFrom(from, to.GetAllocator());
                                 benchmark::DoNotOptimize(to.Size());
                               });
}

BENCHMARK(TreeOurs)->Arg(kAll)->Arg(kBuild)->Arg(kCopy)->Arg(kDestroy);
BENCHMARK(TreeRapidJson)->Arg(kAll)->Arg(kBuild)->Arg(kCopy)->Arg(kDestroy);

}  // namespace
}  // namespace vyn::bench

BENCHMARK_MAIN();
