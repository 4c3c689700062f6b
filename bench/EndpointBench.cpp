// Whole endpoint calls through the shared library, as a host makes them: POST "/vyn-pft/v2/survey"
// with the 1 MB, 10 KB and tiny survey in JSON, MessagePack and YAML, beside the raw libraries
// reading the same bodies. The status is whatever the handler answers; only time is measured.
//
// `bench_endpoint --peak json|msgpack|yaml` instead makes one 1 MB call in a fresh process and
// prints its peak resident memory as a multiple of the body size.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Baselines.h"
#include "BenchCorpus.h"
#include "base/HostAbi.h"
#include "support/FakeHost.h"
#include "support/HostRequests.h"

namespace vyn::bench {
namespace {

using test::FakeHost;
using test::HostResponse;
using test::LoadedPlugin;
using test::PluginLibrary;
using test::RequestBuilder;

constexpr uint32_t kPost = 6;
constexpr char kSurveyPath[] = "/vyn-pft/v2/survey";
constexpr char kFunction[] = "PostVynPftV2Survey";

// The host keeps nothing the plugin sends: recording every published survey would measure the
// recorder and grow without bound.
uint64_t gEventsSent = 0;
void CountEvent(HostFunctions*, const EventRecord*) { ++gEventsSent; }
void DropLog(HostFunctions*, int32_t, const char*) {}

// The plugin loaded and initialised once per process, with its survey endpoint.
class PluginUnderTest {
 public:
  PluginUnderTest() : library_(VYN_PLUGIN_PATH) {
    if (!library_.ok()) {
      error_ = "cannot load the plugin: " + library_.error();
      return;
    }
    host_.table.functions.sendEvent = CountEvent;
    host_.table.functions.log = DropLog;
    plugin_ = std::make_unique<LoadedPlugin>(library_);
    if (!plugin_->loaded() || !plugin_->Initialize(host_)) {
      error_ = "the plugin did not load or initialise";
      return;
    }
    const ApiDescription* api = plugin_->block().api;
    if (api == nullptr) {
      error_ = "the plugin has no API description";
      return;
    }
    for (const EndpointDescriptor& endpoint : test::ListEndpoints(*api)) {
      if (test::Text(endpoint.function.name) == kFunction) {
        endpoint_ = endpoint;
        found_ = true;
      }
    }
    if (!found_) error_ = std::string("no endpoint ") + kFunction;
  }
  ~PluginUnderTest() {
    if (plugin_) plugin_->Unload();
  }

  const std::string& error() const { return error_; }
  uint64_t LiveBytes() const { return plugin_->LiveBytes(); }
  // The plugin's counting allocator's highest bytes in use so far.
  uint64_t PeakBytes() const { return plugin_->Counter(0); }
  uint32_t Call(RequestBuilder& request) {
    HostResponse response;
    test::InvokeEndpoint(endpoint_, request, response);
    return response.Status();
  }

 private:
  PluginLibrary library_;
  FakeHost host_;
  std::unique_ptr<LoadedPlugin> plugin_;
  EndpointDescriptor endpoint_{};
  bool found_ = false;
  std::string error_;
};

PluginUnderTest& Plugin() {
  static PluginUnderTest plugin;
  return plugin;
}

enum Format { kJson = 0, kMsgPack = 1, kYaml = 2 };
enum Size { kLarge = 0, kSmall = 1, kTiny = 2 };

const char* const kContentTypes[] = {"application/json", "application/x-msgpack",
                                     "application/x-yaml"};
const char* const kFormatNames[] = {"json", "msgpack", "yaml"};

const Corpus& CorpusFor(Size size) {
  switch (size) {
    case kLarge:
      return LargeSurvey();
    case kSmall:
      return SmallSurvey();
    default:
      return TinySurvey();
  }
}

std::string BodyOf(const Corpus& corpus, Format format) {
  switch (format) {
    case kJson:
      return corpus.json;
    case kMsgPack:
      return std::string(corpus.msgPack.begin(), corpus.msgPack.end());
    default:
      return corpus.yaml;
  }
}

RequestBuilder SurveyRequest(const Corpus& corpus, Format format) {
  RequestBuilder request(kPost, kSurveyPath);
  request.Body(kContentTypes[format], BodyOf(corpus, format));
  return request;
}

// Arguments: format, size.
void PostSurvey(benchmark::State& state) {
  const auto format = static_cast<Format>(state.range(0));
  const auto size = static_cast<Size>(state.range(1));
  PluginUnderTest& plugin = Plugin();
  if (!plugin.error().empty()) {
    state.SkipWithError(plugin.error().c_str());
    return;
  }
  const Corpus& corpus = CorpusFor(size);
  RequestBuilder request = SurveyRequest(corpus, format);
  const std::size_t bodyBytes = BodyOf(corpus, format).size();
  uint32_t status = plugin.Call(request);  // warm-up: first-use tables of the plugin
  const uint64_t before = plugin.LiveBytes();
  for (auto _ : state) status = plugin.Call(request);
  CheckLiveBytes(state, before, plugin.LiveBytes());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bodyBytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel(corpus.name + " " + kFormatNames[format] + " status " + std::to_string(status));
}

// The raw library reading the same body; arguments as PostSurvey.
void RawBaseline(benchmark::State& state) {
  const auto format = static_cast<Format>(state.range(0));
  const auto size = static_cast<Size>(state.range(1));
  const Corpus& corpus = CorpusFor(size);
  TimedSteps(state, "the raw library refused the body", [&] {
    switch (format) {
      case kJson:
        return RapidJsonDomParse(corpus.json);
      case kMsgPack:
        return MsgPackCUnpack(corpus.msgPack);
      case kYaml:
        return LibYamlEventLoop(corpus.yaml);
    }
    return false;
  });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(BodyOf(corpus, format).size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel(corpus.name + " " + kFormatNames[format]);
}

void AllBodies(benchmark::internal::Benchmark* benchmark) {
  for (int format : {kJson, kMsgPack, kYaml}) {
    for (int size : {kLarge, kSmall}) benchmark->Args({format, size});
  }
  benchmark->Args({kJson, kTiny});
}

BENCHMARK(PostSurvey)->Apply(AllBodies);
BENCHMARK(RawBaseline)->Apply(AllBodies);

// --- Peak resident memory of one 1 MB call ------------------------------------------------------

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
uint64_t StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::stoull(line.substr(length + 1)) * 1024;  // reported in kB
    }
  }
  return 0;
}

// Resets the peak resident size to the current one (Linux: "5" to clear_refs).
bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

int MeasurePeak(const std::string& formatName) {
  Format format = kJson;
  if (formatName == "msgpack") {
    format = kMsgPack;
  } else if (formatName == "yaml") {
    format = kYaml;
  } else if (formatName != "json") {
    std::fprintf(stderr, "unknown format %s (json, msgpack or yaml)\n", formatName.c_str());
    return 2;
  }
  PluginUnderTest& plugin = Plugin();
  if (!plugin.error().empty()) {
    std::fprintf(stderr, "%s\n", plugin.error().c_str());
    return 1;
  }
  // A tiny call first, so that one-time tables are not counted; then the body is laid out as the
  // host would hold it, and the heap is trimmed so that freed setup memory cannot hide the peak.
  RequestBuilder tiny = SurveyRequest(TinySurvey(), format);
  (void)plugin.Call(tiny);
  RequestBuilder request = SurveyRequest(LargeSurvey(), format);
  const std::size_t bodyBytes = BodyOf(LargeSurvey(), format).size();
  malloc_trim(0);
  if (!ResetPeakRss()) {
    std::fprintf(stderr, "cannot reset the peak resident size\n");
    return 1;
  }
  const uint64_t rssBefore = StatusBytes("VmRSS");
  const uint64_t heapBefore = plugin.LiveBytes();
  const uint32_t status = plugin.Call(request);
  const uint64_t rssPeak = StatusBytes("VmHWM");
  const uint64_t heapPeak = plugin.PeakBytes();
  const uint64_t rssGrowth = rssPeak > rssBefore ? rssPeak - rssBefore : 0;
  const uint64_t heapGrowth = heapPeak > heapBefore ? heapPeak - heapBefore : 0;
  std::printf("PEAK %s body %zu rss %llu heap %llu status %u\n", kFormatNames[format], bodyBytes,
              static_cast<unsigned long long>(rssGrowth),
              static_cast<unsigned long long>(heapGrowth), status);
  return 0;
}

}  // namespace
}  // namespace vyn::bench

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) return vyn::bench::MeasurePeak(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
