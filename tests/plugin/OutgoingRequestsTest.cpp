// Requests through the host, answered by the test host: local requests with their errors,
// details and clean-up, typed answers, streamed answers, external requests and telemetry.
#include <gtest/gtest.h>

#include <cstring>

#include "binding/HostValueConversion.h"
#include "diagnostics/LogManager.h"
#include "formats/Json.h"
#include "plugin/OutgoingRequests.h"
#include "base/PluginAllocator.h"
#include "support/FakeHost.h"

namespace vyn::plugin {
namespace {

using base::GetAllocationStats;
using binding::BindingProperty;
using routing::HttpMethod;
using Headers = std::vector<std::pair<std::string, std::string>>;

class TestPlugin : public PluginBase {};

// A stream that hands out its text in the given chunk sizes, the last one clearing "more".
struct ChunkStream {
  std::string text;
  std::vector<uint32_t> chunks;
  bool failOnRead = false;
  std::size_t next = 0, offset = 0;
  int reads = 0, closes = 0;

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
    cleanups = 0;
  }
  void TearDown() override {
    plugin->Shutdown();
    plugin.reset();
    diagnostics::ShutdownLogging();
  }

  // Answers every local request with this value, copied for the host and freed by its clean-up.
  void AnswerWith(const char* json) {
    binding::BindingResult parsed = formats::ParseJson(json);
    ASSERT_TRUE(parsed.ok());
    answer.moveFrom(parsed);
    host.onRequest = [this](ResponseRecord* response, const RequestRecord*) {
      response->error.value = binding::ToHostValue(answer, nullptr);
      response->cleanup = [](ResponseRecord* record) {
        ++cleanups;
        HostValue value = record->error.value;
        binding::ReleaseHostValue(value);
        std::memset(static_cast<void*>(record), 0, sizeof *record);
      };
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
  // "<status or -> <message>" of a failed request, "ok" of a successful one.
  static std::string Outcome(const RequestResult& result) {
    if (result.ok()) return "ok";
    return (result.status() ? std::to_string(*result.status()) : "-") + " " + result.message();
  }

  // "<method> <path> <handle>" and a " name=value" for each argument of the request.
  std::string Seen(std::size_t index) const {
    if (index >= host.requests.size()) return "no request";
    const test::FakeHost::SeenRequest& r = host.requests[index];
    std::string text = std::to_string(r.method) + " " + r.path + " " + std::to_string(r.hostHandle);
    for (const auto& [name, value] : r.args) text += " " + name + "=" + value.bytes;
    return text;
  }

  test::FakeHost host;
  std::unique_ptr<TestPlugin> plugin = std::make_unique<TestPlugin>();
  BindingProperty answer;
  static inline int cleanups = 0;
};

TEST_F(Requests, LocalRequestsCarryTheirArgumentsAndFailWithTheAnswersStatusAndText) {
  const HostArgument flag{"flag", {kHostValueStringBorrowed, {}}};
  HostArgument arguments[] = {flag};
  arguments[0].value.payload.ref = {"yes", 3};
  EXPECT_EQ(Outcome(LocalRequest(*plugin, HttpMethod::Put, "/a/b?c=d", arguments)),
            "404 Error response for PUT /a/b?c=d: no handler");
  EXPECT_EQ(Seen(0), "7 /a/b?c=d 20823 flag=yes");

  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.message = "X";
    response->status = 404;
  };
  const RequestResult failed = LocalRequest(*plugin, HttpMethod::Get, "/a");
  EXPECT_EQ(Outcome(failed), "404 Error response for GET /a: X");
  EXPECT_EQ(failed.Detail("method") + " " + failed.Detail("url") + " " + failed.Detail("error"),
            "GET /a X");
  EXPECT_EQ(failed.Detail("nothing"), "");
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.failed = 1;  // a failure flag without a text is a failure too
    response->status = 503;
  };
  EXPECT_EQ(Outcome(LocalRequest(*plugin, HttpMethod::Delete, "/b")),
            "503 Error response for DELETE /b: ");
}

TEST_F(Requests, ParameterTablesGoOutAsNamedStringsOrNotAtAll) {
  host.onRequest = [](ResponseRecord*, const RequestRecord*) {};
  EXPECT_EQ(Outcome(LocalRequestTyped(*plugin, HttpMethod::Post, "/p",
                                      {{"zeta", "1"}, {"alpha", "two"}})),
            "ok");
  EXPECT_EQ(Seen(0), "6 /p 20823 alpha=two zeta=1");
  for (const std::string& name : {std::string(), std::string("a\0b", 3)}) {
    const RequestResult refused = LocalRequestTyped(*plugin, HttpMethod::Post, "/p", {{name, "v"}});
    EXPECT_EQ(Outcome(refused).rfind(
                  "400 Request not sent: Error converting parameters for POST /p: ", 0),
              0u)
        << Outcome(refused);
  }
  EXPECT_EQ(host.requests.size(), 1u);

  auto future = SendTelemetry(*plugin, "survey-shown", {{"id", "9"}});
  ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(future.get().ok());
  EXPECT_EQ(Seen(1), "6 /telemetry/v1/events/survey-shown 20823 id=9");
  EXPECT_EQ(Seen(2), "no request");
}

TEST_F(Requests, AnswersConvertIntoTheResultTypeAndEveryRecordIsCleanedUpOnce) {
  AnswerWith(R"({"state": "PluginsInitialized", "padding": ["a text long enough for a block"]})");
  const auto typed = LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
  ASSERT_TRUE(typed.ok()) << typed.message();
  EXPECT_EQ(typed.value.state, PluginManagerState::PluginsInitialized);
  EXPECT_EQ(cleanups, 1);
  const auto generic = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/pm");
  EXPECT_EQ(generic.value.member("state").asString(), "PluginsInitialized");
  // Repeated calls of every kind leave no block behind (the test host's own records aside).
  host.requests.reserve(400);
  const uint64_t before = GetAllocationStats().blocksAllocated - GetAllocationStats().blocksFreed;
  for (int i = 0; i < 100; ++i) {
    (void)LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
    (void)LocalRequest(*plugin, HttpMethod::Get, "/pm");
    (void)LocalRequestTyped(*plugin, HttpMethod::Get, "/pm", {{"name", "a value long enough"}});
  }
  host.requests.clear();
  EXPECT_EQ(GetAllocationStats().blocksAllocated - GetAllocationStats().blocksFreed, before);
  EXPECT_EQ(cleanups, 302);

  AnswerWith(R"({"state": "Sleeping"})");
  const auto wrong = LocalGet<PluginManagerResource>(*plugin, HttpMethod::Get, "/pm");
  EXPECT_EQ(Outcome(wrong).rfind("- Error converting response for GET /pm: ", 0), 0u)
      << Outcome(wrong);
  EXPECT_EQ(cleanups, 303);
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.value = HostValue{42, {}};
  };
  const auto unreadable = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/pm");
  EXPECT_EQ(Outcome(unreadable).rfind("- Error converting response for GET /pm: ", 0), 0u);
}

TEST_F(Requests, StreamsAreReadToTheEndWaitingAfterShortReadsAndAlwaysClosed) {
  struct Case {
    std::string text;
    std::vector<uint32_t> chunks;
    bool failOnRead;
    const char* expect;  // the value as JSON, or the failure
    int reads;
    std::vector<std::string> waits;
  };
  const Case cases[] = {
      {"[" + std::string(9997, ' ') + "1]", {4096, 4096, 1808}, false, "[1]", 3, {}},
      {R"({"a": 1})", {3, 5}, false, R"({"a":1})", 2, {"begin:Wait: yield", "yield", "end"}},
      {"{}", {2}, true, "- Error reading streamed response for GET /s: Stream read error", 1, {}},
      {"{oops",
       {5},
       false,
       "- Error reading streamed response for GET /s: Error: Missing a "
       "name for object member. at offset 1.",
       1,
       {}},
  };
  for (const Case& c : cases) {
    ChunkStream stream{c.text, c.chunks, c.failOnRead};
    AnswerWithStream(stream);
    host.waitCalls.clear();
    const auto result = LocalGet<BindingProperty>(*plugin, HttpMethod::Get, "/s");
    EXPECT_EQ(result.ok() ? formats::ToJson(result.value, nullptr, nullptr) : Outcome(result),
              c.expect)
        << c.text;
    EXPECT_EQ(stream.reads, c.reads) << c.text;
    EXPECT_EQ(stream.closes, 1) << c.text;
    EXPECT_EQ(host.waitCalls, c.waits) << c.text;
  }
}

TEST_F(Requests, ExternalRequestsPutTheUserAgentFirstUnlessOneIsGiven) {
  host.onExternalRequest = [](ExternalResponseRecord* response, const ExternalRequestRecord*) {
    static const HostHeader headers[] = {{"content-type", "application/json"}};
    *response = ExternalResponseRecord{};
    response->status = 201;
    response->headers = headers;
    response->headerCount = 1;
    response->body = "{}";
    response->bodyLength = 2;
  };
  ExternalHttpRequest request{HttpMethod::Post,
                              "https://feedback.test/x",
                              {{"Accept", "application/json"}, {"X-Two", "2"}},
                              "body",
                              5,
                              1};
  const ExternalHttpResponse response = ExternalRequest(*plugin, request);
  EXPECT_FALSE(response.failed());
  EXPECT_EQ(response.status, 201u);
  EXPECT_EQ(response.body, "{}");
  EXPECT_EQ(response.headers, (Headers{{"content-type", "application/json"}}));
  ASSERT_EQ(host.externalRequests.size(), 1u);
  const auto& seen = host.externalRequests[0];
  EXPECT_EQ(seen.method, 6u);
  EXPECT_EQ(seen.url, "https://feedback.test/x");
  EXPECT_EQ(seen.headers, (Headers{{"user-agent", "TarnClient/18.2.0 (vyn-pft)"},
                                   {"Accept", "application/json"},
                                   {"X-Two", "2"}}));
  EXPECT_EQ(seen.body, "body");
  EXPECT_EQ(seen.option, 5u);
  EXPECT_EQ(seen.flag, 1);
  request.headers = {{"Accept", "*/*"}, {"User-Agent", "Mozilla/5.0"}};
  (void)ExternalRequest(*plugin, request);
  EXPECT_EQ(host.externalRequests[1].headers, request.headers);
}

TEST_F(Requests, TransportCodesMapAndCarryTheHostsErrorText) {
  const std::pair<int32_t, int32_t> codes[] = {{-1, -1}, {0, 0}, {2, 2}, {1, 1}, {7, 1}, {-3, 1}};
  for (const auto& [code, mapped] : codes) {
    host.onExternalRequest = [code](ExternalResponseRecord* response,
                                    const ExternalRequestRecord*) {
      *response = ExternalResponseRecord{code, 200, nullptr, 0, "connection refused", 18};
    };
    const ExternalHttpResponse response = ExternalRequest(*plugin, {});
    EXPECT_EQ(response.transport, mapped) << code;
    EXPECT_EQ(response.status, mapped != 0 ? 0u : 200u) << code;
    EXPECT_EQ(mapped != 0 ? response.error : response.body, "connection refused") << code;
  }
}

TEST_F(Requests, AnAnswerThatAnnouncesMissingDataFails) {
  ExternalHttpRequest request{HttpMethod::Get, "https://x.test/y", {}, "", 0, 0};
  host.onExternalRequest = [](ExternalResponseRecord* record, const ExternalRequestRecord*) {
    *record = ExternalResponseRecord{0, 200, nullptr, 2, nullptr, 0};
  };
  EXPECT_EQ(ExternalRequest(*plugin, request).error,
            "Error converting response for GET https://x.test/y: headers was null");
  host.onExternalRequest = [](ExternalResponseRecord* record, const ExternalRequestRecord*) {
    *record = ExternalResponseRecord{0, 200, nullptr, 0, nullptr, 9};
  };
  EXPECT_EQ(ExternalRequest(*plugin, request).error,
            "Error converting response for GET https://x.test/y: body was null");
  // A header that a C string cannot carry is refused before anything is sent.
  request.headers = {{"X-Bad", {"a\0b", 3}}};
  const ExternalHttpResponse refused = ExternalRequest(*plugin, request);
  EXPECT_TRUE(refused.failed());
  EXPECT_EQ(refused.error,
            "Error converting request headers for GET https://x.test/y: header 'X-Bad' holds a "
            "NUL byte");
  EXPECT_EQ(host.externalRequests.size(), 2u);
}

}  // namespace
}  // namespace vyn::plugin
