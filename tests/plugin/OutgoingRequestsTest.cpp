// Requests through the host, answered by the test host: local requests with their errors,
// details and clean-up, typed answers, streamed answers, external requests and telemetry.
#include "plugin/OutgoingRequests.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "binding/HostValueConversion.h"
#include "diagnostics/LogManager.h"
#include "formats/Json.h"
#include "plugin/PluginAllocator.h"
#include "support/FakeHost.h"

namespace vyn::plugin {
namespace {

using binding::BindingProperty;
using routing::HttpMethod;

class TestPlugin : public PluginBase {};

// What a host puts into a response record it fills: released by the record's clean-up.
struct HostAnswer {
  HostValue value{};
  static int cleanups;
  static void Cleanup(ResponseRecord* record) {
    ++cleanups;
    HostValue value = record->error.value;
    binding::ReleaseHostValue(value);
    std::memset(static_cast<void*>(record), 0, sizeof *record);
  }
};
int HostAnswer::cleanups = 0;

// A stream that hands out its text in the given chunk sizes, the last one clearing "more".
struct ChunkStream {
  std::string text;
  std::vector<uint32_t> chunks;
  std::size_t next = 0;
  std::size_t offset = 0;
  bool failOnRead = false;
  int reads = 0;
  int closes = 0;

  static uint8_t Read(void* stream, char* buffer, uint32_t* length, uint8_t* more) {
    auto& self = *static_cast<ChunkStream*>(stream);
    ++self.reads;
    if (self.failOnRead || self.next >= self.chunks.size()) return 0;
    const uint32_t size = std::min(self.chunks[self.next], *length);
    std::memcpy(buffer, self.text.data() + self.offset, size);
    self.offset += size;
    *length = size;
    *more = ++self.next < self.chunks.size() ? 1 : 0;
    return 1;
  }
  static void Close(void* stream) { ++static_cast<ChunkStream*>(stream)->closes; }
};

class Requests : public testing::Test {
 protected:
  void SetUp() override {
    diagnostics::InitLogging();
    PluginLoadBlock block{};
    block.major = 18;
    block.minor = 2;
    plugin->Register("vyn-pft", block);
    ASSERT_TRUE(plugin->Initialize(&host.api));
    HostAnswer::cleanups = 0;
  }
  void TearDown() override {
    plugin->Shutdown();
    plugin.reset();
    diagnostics::ShutdownLogging();
  }

  // Answers every local request with this value (copied for the host, freed by the clean-up).
  void AnswerWith(const char* json) {
    binding::BindingResult parsed = formats::ParseJson(json);
    ASSERT_TRUE(parsed.ok());
    answer.moveFrom(parsed);
    host.onRequest = [this](ResponseRecord* response, const RequestRecord*) {
      response->error.value = binding::ToHostValue(answer, nullptr);
      response->cleanup = &HostAnswer::Cleanup;
    };
  }
  void AnswerWithStream(ChunkStream& stream) {
    host.onRequest = [&stream](ResponseRecord* response, const RequestRecord*) {
      response->read = &ChunkStream::Read;
      response->close = &ChunkStream::Close;
      response->stream = &stream;
      response->sizeHint = stream.text.size();
    };
  }

  test::FakeHost host;
  std::unique_ptr<TestPlugin> plugin = std::make_unique<TestPlugin>();
  BindingProperty answer;
};

TEST_F(Requests, ALocalRequestCarriesMethodPathArgumentsAndHandle) {
  HostArgument arguments[1]{};
  arguments[0].name = "flag";
  HostValue flag{};
  flag.kind = kHostValueBool;
  flag.payload.b = 1;
  arguments[0].value = flag;
  const RequestResult result = LocalRequest(*plugin, HttpMethod::Put, "/a/b?c=d", arguments);
  EXPECT_FALSE(result.ok());  // the host has no handler: 404 "no handler"
  ASSERT_EQ(host.requests.size(), 1u);
  EXPECT_EQ(host.requests[0].method, 7u);
  EXPECT_EQ(host.requests[0].path, "/a/b?c=d");
  EXPECT_EQ(host.requests[0].hostHandle, 0x5157u);
  ASSERT_EQ(host.requests[0].args.size(), 1u);
  EXPECT_EQ(host.requests[0].args[0].first, "flag");
  EXPECT_TRUE(host.requests[0].args[0].second.flag);
}

TEST_F(Requests, AnErrorAnswerGivesItsStatusAndTheFilledTemplate) {
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.message = "X";
    response->status = 404;
  };
  const RequestResult result = LocalRequest(*plugin, HttpMethod::Get, "/a");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status(), std::optional<uint32_t>(404));
  EXPECT_EQ(result.message(), "Error response for GET /a: X");
  EXPECT_EQ(result.Detail("method"), "GET");
  EXPECT_EQ(result.Detail("url"), "/a");
  EXPECT_EQ(result.Detail("error"), "X");

  // A failure flag without a text is a failure too, never a success.
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.failed = 1;
    response->status = 503;
  };
  const RequestResult flagged = LocalRequest(*plugin, HttpMethod::Delete, "/b");
  ASSERT_FALSE(flagged.ok());
  EXPECT_EQ(flagged.status(), std::optional<uint32_t>(503));
  EXPECT_EQ(flagged.message(), "Error response for DELETE /b: ");
}

TEST_F(Requests, ParameterTablesGoOutAsNamedStringsOrNotAtAll) {
  host.onRequest = [](ResponseRecord*, const RequestRecord*) {};
  const RequestResult sent =
      LocalRequestTyped(*plugin, HttpMethod::Post, "/p", {{"zeta", "1"}, {"alpha", "two"}});
  ASSERT_TRUE(sent.ok()) << sent.message();
  ASSERT_EQ(host.requests.size(), 1u);
  const auto& args = host.requests[0].args;
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0].first, "alpha");
  EXPECT_EQ(args[0].second.bytes, "two");
  EXPECT_EQ(args[1].first, "zeta");
  EXPECT_EQ(args[1].second.bytes, "1");

  for (const std::string& name : {std::string(), std::string("a\0b", 3)}) {
    const RequestResult refused = LocalRequestTyped(*plugin, HttpMethod::Post, "/p", {{name, "v"}});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.status(), std::optional<uint32_t>(400));
    EXPECT_EQ(refused.message().rfind(
                  "Request not sent: Error converting parameters for POST /p: ", 0),
              0u)
        << refused.message();
  }
  EXPECT_EQ(host.requests.size(), 1u);

  auto future = SendTelemetry(*plugin, "survey-shown", {{"id", "9"}});
  ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(future.get().ok());
  ASSERT_EQ(host.requests.size(), 2u);
  EXPECT_EQ(host.requests[1].method, 6u);
  EXPECT_EQ(host.requests[1].path, "/telemetry/v1/events/survey-shown");
}

TEST_F(Requests, AnswersConvertIntoTheResultTypeAndRecordsAreCleanedUpOnce) {
  AnswerWith(R"({"state": "PluginsInitialized"})");
  const auto typed = LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
  ASSERT_TRUE(typed.ok()) << typed.message();
  EXPECT_EQ(typed.value.state, PluginManagerState::PluginsInitialized);
  EXPECT_EQ(HostAnswer::cleanups, 1);

  const auto generic = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/pm");
  ASSERT_TRUE(generic.ok());
  EXPECT_EQ(generic.value.member("state").asString(), "PluginsInitialized");
  EXPECT_EQ(HostAnswer::cleanups, 2);

  AnswerWith(R"({"state": "Sleeping"})");
  const auto wrong = LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
  ASSERT_FALSE(wrong.ok());
  EXPECT_FALSE(wrong.status().has_value());
  EXPECT_EQ(wrong.message().rfind("Error converting response for GET /pm: ", 0), 0u)
      << wrong.message();
  EXPECT_EQ(HostAnswer::cleanups, 3);

  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    HostValue broken{};
    broken.kind = 42;
    response->error.value = broken;
  };
  const auto unreadable = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/pm");
  ASSERT_FALSE(unreadable.ok());
  EXPECT_EQ(unreadable.message().rfind("Error converting response for GET /pm: ", 0), 0u);
}

TEST_F(Requests, RepeatedRequestsLeaveNoLiveBlocks) {
  AnswerWith(R"({"state": "NotReady", "padding": ["a long enough text to need a block"]})");
  // One warm-up call: first uses may set up process-wide caches.
  (void)LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/pm");
  const uint64_t before = GetAllocationStats().blocksAllocated - GetAllocationStats().blocksFreed;
  for (int i = 0; i < 200; ++i) {
    (void)LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
    (void)LocalRequest(*plugin, HttpMethod::Get, "/pm");
  }
  const uint64_t after = GetAllocationStats().blocksAllocated - GetAllocationStats().blocksFreed;
  EXPECT_EQ(after, before);
  EXPECT_EQ(HostAnswer::cleanups, 401);
}

TEST_F(Requests, AStreamIsReadInFullReadsAndParsedOnce) {
  ChunkStream stream;
  stream.text = "[" + std::string(9997, ' ') + "1]";
  ASSERT_EQ(stream.text.size(), 10000u);
  stream.chunks = {4096, 4096, 1808};
  AnswerWithStream(stream);
  const auto result = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/big");
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(stream.reads, 3);
  EXPECT_EQ(stream.closes, 1);
  EXPECT_TRUE(host.waitCalls.empty());
  ASSERT_EQ(result.value.size(), 1u);
  EXPECT_EQ(result.value.element(0).asUnsigned(), 1u);
}

TEST_F(Requests, AShortReadWithMoreToComeWaitsForTheHost) {
  ChunkStream stream;
  stream.text = R"({"a": 1})";
  stream.chunks = {3, 5};
  AnswerWithStream(stream);
  const auto result = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/s");
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.value.member("a").asUnsigned(), 1u);
  EXPECT_EQ(host.waitCalls, (std::vector<std::string>{"begin:Wait: yield", "yield", "end"}));
  EXPECT_EQ(stream.closes, 1);
}

TEST_F(Requests, StreamFailuresNameTheRequestAndStillClose) {
  ChunkStream failing;
  failing.text = "{}";
  failing.chunks = {2};
  failing.failOnRead = true;
  AnswerWithStream(failing);
  const auto broken = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/s");
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.message(), "Error reading streamed response for GET /s: Stream read error");
  EXPECT_FALSE(broken.status().has_value());
  EXPECT_EQ(failing.closes, 1);

  ChunkStream garbage;
  garbage.text = "{oops";
  garbage.chunks = {5};
  AnswerWithStream(garbage);
  const auto unparsable = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/s");
  ASSERT_FALSE(unparsable.ok());
  EXPECT_EQ(unparsable.message().rfind("Error reading streamed response for GET /s: Error: ", 0),
            0u)
      << unparsable.message();
  EXPECT_EQ(garbage.closes, 1);
}

TEST_F(Requests, ExternalRequestsPutTheUserAgentFirstUnlessOneIsGiven) {
  host.onExternalRequest = [](ExternalResponseRecord* response, const ExternalRequestRecord*) {
    static const HostHeader headers[] = {{"content-type", "application/json"}};
    response->transport = 0;
    response->status = 201;
    response->headers = headers;
    response->headerCount = 1;
    response->body = "{}";
    response->bodyLength = 2;
  };
  ExternalHttpRequest request;
  request.method = HttpMethod::Post;
  request.url = "https://feedback.test/x";
  request.headers = {{"Accept", "application/json"}, {"X-Two", "2"}};
  request.body = "body";
  request.option = 5;
  request.flag = 1;
  const ExternalHttpResponse response = ExternalRequest(*plugin, request);
  EXPECT_FALSE(response.failed());
  EXPECT_EQ(response.status, 201u);
  EXPECT_EQ(response.body, "{}");
  ASSERT_EQ(response.headers.size(), 1u);
  EXPECT_EQ(response.headers[0].second, "application/json");
  ASSERT_EQ(host.externalRequests.size(), 1u);
  const auto& seen = host.externalRequests[0];
  EXPECT_EQ(seen.method, 6u);
  EXPECT_EQ(seen.url, "https://feedback.test/x");
  EXPECT_EQ(seen.headers, (std::vector<std::pair<std::string, std::string>>{
                              {"user-agent", "TarnClient/18.2.0 (vyn-pft)"},
                              {"Accept", "application/json"},
                              {"X-Two", "2"}}));
  EXPECT_EQ(seen.body, "body");
  EXPECT_EQ(seen.option, 5u);
  EXPECT_EQ(seen.flag, 1);

  request.headers = {{"Accept", "*/*"}, {"User-Agent", "Mozilla/5.0"}};
  (void)ExternalRequest(*plugin, request);
  EXPECT_EQ(host.externalRequests[1].headers,
            (std::vector<std::pair<std::string, std::string>>{{"Accept", "*/*"},
                                                              {"User-Agent", "Mozilla/5.0"}}));
}

TEST_F(Requests, TransportCodesMapAndCarryTheHostsErrorText) {
  struct Case {
    int32_t host;
    int32_t mapped;
  };
  for (const Case c : {Case{-1, -1}, Case{0, 0}, Case{2, 2}, Case{1, 1}, Case{7, 1},
                       Case{-3, 1}}) {
    host.onExternalRequest = [c](ExternalResponseRecord* response, const ExternalRequestRecord*) {
      response->transport = c.host;
      response->status = 200;
      response->body = "connection refused";
      response->bodyLength = 18;
    };
    const ExternalHttpResponse response = ExternalRequest(*plugin, {});
    EXPECT_EQ(response.transport, c.mapped) << c.host;
    if (c.mapped != 0) {
      EXPECT_EQ(response.error, "connection refused") << c.host;
      EXPECT_EQ(response.status, 0u) << c.host;
    } else {
      EXPECT_EQ(response.body, "connection refused");
      EXPECT_EQ(response.status, 200u);
    }
  }
}

TEST_F(Requests, AnAnswerThatAnnouncesMissingDataFails) {
  ExternalHttpRequest request;
  request.url = "https://x.test/y";
  host.onExternalRequest = [](ExternalResponseRecord* record, const ExternalRequestRecord*) {
    record->status = 200;
    record->headerCount = 2;
  };
  ExternalHttpResponse response = ExternalRequest(*plugin, request);
  EXPECT_TRUE(response.failed());
  EXPECT_EQ(response.error, "Error converting response for GET https://x.test/y: headers was null");

  host.onExternalRequest = [](ExternalResponseRecord* record, const ExternalRequestRecord*) {
    record->status = 200;
    record->bodyLength = 9;
  };
  response = ExternalRequest(*plugin, request);
  EXPECT_TRUE(response.failed());
  EXPECT_EQ(response.error, "Error converting response for GET https://x.test/y: body was null");

  // A header that a C string cannot carry is refused before anything is sent.
  request.headers = {{"X-Bad", std::string("a\0b", 3)}};
  response = ExternalRequest(*plugin, request);
  EXPECT_TRUE(response.failed());
  EXPECT_EQ(response.error,
            "Error converting request headers for GET https://x.test/y: header 'X-Bad' holds a "
            "NUL byte");
  EXPECT_EQ(host.externalRequests.size(), 2u);
}

}  // namespace
}  // namespace vyn::plugin
