// Requests through the host, answered by the test host: local requests with their errors,
// details and clean-up, typed answers, streamed answers, external requests and telemetry.
#include <gtest/gtest.h>

#include <cstring>

#include "base/PluginAllocator.h"
#include "binding/HostValueConversion.h"
#include "diagnostics/FormatText.h"
#include "plugin/OutgoingRequests.h"
#include "plugin/PluginScene.h"

namespace vyn::plugin {
namespace {

using base::GetAllocationStats;
using base::LiveBlocks;
using binding::BindingProperty;
using routing::HttpMethod;
using Headers = std::vector<std::pair<std::string, std::string>>;

// A stream that hands out its text in the given chunk sizes, the last one clearing "more"; a read
// past them fails.
struct ChunkStream {
  std::string text;
  std::vector<uint32_t> chunks;
  std::size_t next = 0, offset = 0;
  int reads = 0, closes = 0;

  static uint8_t Read(void* stream, char* buffer, uint32_t* length, uint8_t* more) {
    auto& self = *static_cast<ChunkStream*>(stream);
    ++self.reads;
    if (self.next >= self.chunks.size()) return 0;
    const uint32_t size = std::min(self.chunks[self.next], *length);
    std::memcpy(buffer, self.text.data() + self.offset, size);
    self.offset += size;
    *length = size;
    *more = ++self.next < self.chunks.size() ? 1 : 0;
    return 1;
  }
  static void Close(void* stream) { ++static_cast<ChunkStream*>(stream)->closes; }
};

class Requests : public PluginScene {
 protected:
  Requests() { cleanups = 0; }

  // Answers every local request with this value, copied for the host and freed by its clean-up.
  void AnswerWith(const char* json) {
    answer = Json(json);
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
  // "<status or -> <message>" of a failed request, "ok" of a successful one.
  static std::string Outcome(const RequestResult& result) {
    if (result.ok()) return "ok";
    return (result.status() ? std::to_string(*result.status()) : "-") + " " + result.message();
  }
  // "<transport> <status> <error, or body when there is none>" and " name=value" per header.
  static std::string Outcome(const ExternalHttpResponse& response) {
    std::string text = diagnostics::FormatText("%1 %2 %3", response.transport, response.status,
                                               response.failed() ? response.error : response.body);
    for (const auto& [name, value] : response.headers) text += " " + name + "=" + value;
    return text;
  }

  // "<method> <path> <handle>" and a " name=value" for each argument of the request.
  std::string Seen(std::size_t index) const {
    if (index >= host.requests.size()) return "no request";
    const test::FakeHost::SeenRequest& r = host.requests[index];
    std::string text = std::to_string(r.method) + " " + r.path + " " + std::to_string(r.hostHandle);
    for (const auto& [name, value] : r.args) text += " " + name + "=" + value.bytes;
    return text;
  }

  BindingProperty answer;
  static inline int cleanups = 0;
};

TEST_F(Requests, LocalRequestsCarryTheirArgumentsAndFailWithTheAnswersStatusAndText) {
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.message = "X";  // a text without the failure flag is a failure
    response->status = 404;
  };
  const HostArgument arguments[] = {{"flag", {kHostValueStringBorrowed, {.ref = {"yes", 3}}}}};
  const RequestResult failed = LocalRequest(plugin, HttpMethod::Put, "/a/b?c=d", arguments);
  EXPECT_EQ(Seen(0), "7 /a/b?c=d 20823 flag=yes");
  EXPECT_EQ(Outcome(failed), "404 Error response for PUT /a/b?c=d: X");
  EXPECT_EQ(failed.Detail("method") + " " + failed.Detail("url") + " " + failed.Detail("error"),
            "PUT /a/b?c=d X");
  EXPECT_EQ(failed.Detail("nothing"), "");
  host.onRequest = [](ResponseRecord* response, const RequestRecord*) {
    response->error.failed = 1;  // a failure flag without a text is a failure too
    response->status = 503;
  };
  EXPECT_EQ(Outcome(LocalRequest(plugin, HttpMethod::Delete, "/b")),
            "503 Error response for DELETE /b: ");
}

TEST_F(Requests, ParameterTablesGoOutAsNamedStringsOrNotAtAll) {
  host.onRequest = [](ResponseRecord*, const RequestRecord*) {};
  EXPECT_EQ(
      Outcome(LocalRequestTyped(plugin, HttpMethod::Post, "/p", {{"zeta", "1"}, {"alpha", "two"}})),
      "ok");
  EXPECT_EQ(Seen(0), "6 /p 20823 alpha=two zeta=1");
  const std::string refused = "400 Request not sent: Error converting parameters for POST /p: ";
  EXPECT_EQ(Outcome(LocalRequestTyped(plugin, HttpMethod::Post, "/p", {{"", "v"}})),
            refused + "a parameter has no name");
  EXPECT_EQ(Outcome(LocalRequestTyped(plugin, HttpMethod::Post, "/p", {{{"a\0b", 3}, "v"}})),
            refused + "the name of parameter 'a' holds a NUL byte");
  EXPECT_EQ(host.requests.size(), 1u);

  auto future = SendTelemetry(plugin, "survey-shown", {{"id", "9"}});
  ASSERT_EQ(future.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  EXPECT_TRUE(future.get().ok());
  EXPECT_EQ(Seen(1), "6 /telemetry/v1/events/survey-shown 20823 id=9");
  EXPECT_EQ(Seen(2), "no request");
}

TEST_F(Requests, AnswersConvertIntoTheResultTypeAndEveryRecordIsCleanedUpOnce) {
  AnswerWith(R"({"state": "PluginsInitialized", "padding": ["a text long enough for a block"]})");
  const auto typed = LocalGet<PluginManagerResource>(plugin, HttpMethod::Get, "/pm");
  ASSERT_TRUE(typed.ok()) << typed.message();
  EXPECT_EQ(typed.value.state, PluginManagerState::PluginsInitialized);
  // Repeated calls of every kind leave no block behind (the test host's own records aside).
  host.requests.reserve(400);
  const uint64_t before = LiveBlocks(GetAllocationStats());
  for (int i = 0; i < 100; ++i) {
    (void)LocalGet<PluginManagerResource>(plugin, HttpMethod::Get, "/pm");
    (void)LocalRequest(plugin, HttpMethod::Get, "/pm");
    (void)LocalRequestTyped(plugin, HttpMethod::Get, "/pm", {{"name", "a value long enough"}});
  }
  host.requests.clear();
  EXPECT_EQ(LiveBlocks(GetAllocationStats()), before);
  EXPECT_EQ(cleanups, 301);

  AnswerWith(R"({"state": "Sleeping"})");
  const auto wrong = LocalGet<PluginManagerResource>(plugin, HttpMethod::Get, "/pm");
  EXPECT_TRUE(Outcome(wrong).starts_with("- Error converting response for GET /pm: "))
      << Outcome(wrong);
  EXPECT_EQ(cleanups, 302);
  // A value of a kind no reader knows; the conversion's message goes with the call.
  host.onRequest = [](ResponseRecord* r, const RequestRecord*) { r->error.value = {42, {}}; };
  const uint64_t held = LiveBlocks(GetAllocationStats());
  {
    const auto unreadable = LocalGet<BindingProperty>(plugin, HttpMethod::Get, "/pm");
    EXPECT_TRUE(Outcome(unreadable).starts_with("- Error converting response for GET /pm: "));
  }
  EXPECT_EQ(LiveBlocks(GetAllocationStats()), held);
}

TEST_F(Requests, StreamsAreReadToTheEndWaitingAfterShortReadsAndAlwaysClosed) {
  struct Case {
    std::string text;
    std::vector<uint32_t> chunks;
    std::string expect;  // the value as JSON, or the failure
    int reads;
    std::vector<std::string> waits;
  };
  const std::string bad = "- Error reading streamed response for GET /s: ";
  const Case cases[] = {
      {"[" + std::string(9997, ' ') + "1]", {4096, 4096, 1808}, "[1]", 3, {}},
      {R"({"a": 1})", {3, 5}, R"({"a":1})", 2, {"begin:Wait: yield", "yield", "end"}},
      {"{}", {}, bad + "Stream read error", 1, {}},
      {"{oops", {5}, bad + "Error: Missing a name for object member. at offset 1.", 1, {}},
  };
  for (const Case& c : cases) {
    ChunkStream stream{c.text, c.chunks};
    host.onRequest = [&stream](ResponseRecord* response, const RequestRecord*) {
      response->read = &ChunkStream::Read;
      response->close = &ChunkStream::Close;
      response->stream = &stream;
      response->sizeHint = stream.text.size();
    };
    host.waitCalls.clear();
    const auto result = LocalGet<BindingProperty>(plugin, HttpMethod::Get, "/s");
    EXPECT_EQ(result.ok() ? formats::ToJson(result.value, nullptr, nullptr) : Outcome(result),
              c.expect)
        << c.text;
    EXPECT_EQ(stream.reads, c.reads) << c.text;
    EXPECT_EQ(stream.closes, 1) << c.text;
    EXPECT_EQ(host.waitCalls, c.waits) << c.text;
  }
  // A failed answer closes the stream it hands over, and only a stream it hands over.
  for (const bool handed : {true, false}) {
    ChunkStream stream{"{}", {}};
    host.onRequest = [&stream, handed](ResponseRecord* response, const RequestRecord*) {
      response->error.failed = 1;
      response->read = handed ? &ChunkStream::Read : nullptr;
      response->close = &ChunkStream::Close;
      response->stream = &stream;
    };
    EXPECT_FALSE(LocalGet<BindingProperty>(plugin, HttpMethod::Get, "/s").ok());
    EXPECT_EQ(stream.closes, handed ? 1 : 0);
  }
}

TEST_F(Requests, ExternalRequestsGoOutWithTheUserAgentFirst) {
  ExternalHttpRequest request{
      HttpMethod::Post, "https://feedback.test/x", {{"Accept", "application/json"}}, "body", 5, 1};
  EXPECT_EQ(Outcome(ExternalRequest(plugin, request)), "1 0 no service");  // as the host says
  ASSERT_EQ(host.externalRequests.size(), 1u);
  const auto& seen = host.externalRequests[0];
  EXPECT_EQ(diagnostics::FormatText("%1 %2 %3 %4 %5", seen.method, seen.url, seen.body, seen.option,
                                    seen.flag),
            "6 https://feedback.test/x body 5 1");
  EXPECT_EQ(seen.headers, (Headers{{"user-agent", "TarnClient/18.2.1 (vyn-pft)"},
                                   {"Accept", "application/json"}}));
  // A header that a C string cannot carry is refused before anything is sent.
  request.headers = {{"X-Bad", {"a\0b", 3}}};
  EXPECT_EQ(Outcome(ExternalRequest(plugin, request)),
            "1 0 Error converting request headers for POST https://feedback.test/x: header "
            "'X-Bad' holds a NUL byte");
  EXPECT_EQ(host.externalRequests.size(), 1u);
  ExternalHttpRequest plain;  // no option and no flag named
  plain.url = "https://feedback.test/y";
  (void)ExternalRequest(plugin, plain);
  ASSERT_EQ(host.externalRequests.size(), 2u);
  EXPECT_EQ(diagnostics::FormatText("%1 %2", host.externalRequests[1].option,
                                    host.externalRequests[1].flag),
            "0 0");
}

// Answers are copied; transport codes other than the host's own are 1; an answer that announces
// data it does not hold fails as a transport would.
TEST_F(Requests, ExternalAnswersMapTheirTransportCodeAndMustHoldWhatTheyAnnounce) {
  const char* refused = "connection refused";
  const std::string missing = "1 200 Error converting response for GET https://x.test/y: ";
  const HostHeader headers[] = {{"content-type", "application/json"}};
  const std::pair<ExternalResponseRecord, std::string> cases[] = {
      {{0, 201, headers, 1, "{}", 2}, "0 201 {} content-type=application/json"},
      {{-1, 200, nullptr, 0, refused, 18}, "-1 0 connection refused"},
      {{0, 200, nullptr, 0, refused, 18}, "0 200 connection refused"},
      {{2, 200, nullptr, 0, refused, 18}, "2 0 connection refused"},
      {{7, 200, nullptr, 0, refused, 18}, "1 0 connection refused"},
      {{-3, 200, nullptr, 0, refused, 18}, "1 0 connection refused"},
      {{0, 200, nullptr, 2, nullptr, 0}, missing + "headers was null"},
      {{0, 200, nullptr, 0, nullptr, 9}, missing + "body was null"},
  };
  for (const auto& [record, outcome] : cases) {
    host.onExternalRequest = [record](ExternalResponseRecord* out, const ExternalRequestRecord*) {
      *out = record;
    };
    EXPECT_EQ(Outcome(ExternalRequest(plugin, {HttpMethod::Get, "https://x.test/y", {}, "", 0, 0})),
              outcome);
  }
}

}  // namespace
}  // namespace vyn::plugin
