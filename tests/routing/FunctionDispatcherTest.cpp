// Endpoints through their invoke entry: registration, route match, arguments bound from headers,
// path, query, typed values and bodies, the handler call, and the response with its clean-up.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "base/PluginAllocator.h"
#include "binding/TypeBuilder.h"
#include "diagnostics/FormatText.h"
#include "routing/EndpointInvocation.h"
#include "routing/FunctionDispatcher.h"
#include "support/HostRequests.h"

namespace vyn::routing {
namespace {

using test::HostResponse;
using test::Read;
using test::RequestBuilder;

struct Item {
  std::string name;
  int32_t count = 0;
  std::vector<std::string> labels;
};

// Long vectors show their size only: an index grows them to thousands of elements.
std::string Show(const std::vector<std::string>& texts) {
  std::string shown;
  for (std::size_t i = 0; i < texts.size(); ++i) shown += (i > 0 ? "," : "") + texts[i];
  return "[" + (texts.size() > 9 ? std::to_string(texts.size()) : shown) + "]";
}
std::string Show(const Item& item) {
  return "{" + item.name + " " + std::to_string(item.count) + " " + Show(item.labels) + "}";
}

constexpr uint32_t kGet = 2, kPost = 6;

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    binding::RecordBuilder<Item>(dispatcher, "TestItem")
        .Field("name", &Item::name)
        .Field("count", &Item::count)
        .Field("labels", &Item::labels);
    dispatcher.RegisterEndpoint(
        HttpMethod::Get, "/items/{id}", tags,
        {Argument<int32_t>("id"), Argument<bool>("flag"), OptionalArgument<int32_t>("count"),
         OptionalArgument<std::vector<std::string>>("labels"), OptionalArgument<Item>("filter"),
         OptionalArgument<std::string>("name")},
        [this](CallResult&, int32_t id, bool flag, int32_t count,
               const std::vector<std::string>& labels, const Item& filter,
               const std::string& name) {
          seen = std::to_string(id) + "|" + (flag ? "true|" : "false|") + std::to_string(count) +
                 "|" + Show(labels) + "|" + Show(filter) + "|" + name;
        });
    dispatcher.RegisterEndpoint(HttpMethod::Post, "/items/", tags,
                                {BodyArgument<Item>("item"), OptionalArgument<std::string>("note")},
                                [this](CallResult&, const Item& item, const std::string& note) {
                                  seen = Show(item) + note;
                                });
  }

  // Through the endpoint's descriptor, as a host calls it: a wrong entry there fails every call.
  void Call(const std::string& function, RequestBuilder& request, HostResponse& response) {
    seen.clear();
    test::InvokeEndpoint(test::FindEndpoint(dispatcher.BuildApiDescription(), function), request,
                         response);
  }
  // "<status> <error text>" on failure, "<status> <what the handler saw>" on success.
  std::string Outcome(const std::string& function, RequestBuilder& request) {
    HostResponse response;
    Call(function, request, response);
    std::string outcome = std::to_string(response.Status()) + " " + response.ErrorText() + seen;
    if (response.failed() == response.ErrorText().empty()) outcome += " <wrong failed flag>";
    return outcome;
  }

  FunctionDispatcher dispatcher;
  const std::array<std::string, 2> tags{"Plugins", "Plugin test"};
  std::string seen;  // by the last handler that ran
};

// What the round trip through the descriptors leaves unread: argument locations, tags and the
// text lists, which only the host reads.
TEST_F(DispatcherTest, RegistrationDescribesTheEndpoint) {
  EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Post, "/items", tags, {}, [](CallResult&) {}),
            nullptr)
      << "the same method and template again is refused";
  const binding::BindingFunction* removal =
      dispatcher.RegisterEndpoint(HttpMethod::Delete, "/items", tags, {}, [](CallResult&) {});
  ASSERT_NE(removal, nullptr);
  static_cast<EndpointInvocation&>(*removal->invocation).textLists = {{"a", "b"}, {}};
  const ApiDescription& api = dispatcher.BuildApiDescription();
  const EndpointDescriptor deletion = test::FindEndpoint(api, "DeleteItems");
  EXPECT_EQ(Read(deletion.methodCode), 1u);
  const auto lists = test::ListChain<TextListRecord>(deletion.textLists);
  ASSERT_TRUE(lists.size() == 2 && deletion.textListCount == 2);
  EXPECT_EQ(test::ListTexts(lists[0].texts, lists[0].count), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(lists[1].texts == nullptr && lists[1].count == 0);
  const EndpointDescriptor post = test::FindEndpoint(api, "PostItems");
  EXPECT_EQ(test::ListLocations(post), (std::vector<uint32_t>{5, 0}));
  EXPECT_EQ(test::ListTexts(post.function.tags, post.function.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin test"}));
  // Each argument's kind and element kind, as the handler's parameter types give them.
  std::string kinds;
  const EndpointDescriptor get = test::FindEndpoint(api, "GetItemsById");
  for (const auto& argument : test::ListChain<HostArgumentRecord>(get.function.arguments)) {
    kinds += diagnostics::FormatText("%1.%2 ", Read(argument.typeCode), Read(argument.elementCode));
  }
  EXPECT_EQ(kinds, "6.0 1.0 6.0 15.12 17.0 12.0 ");
}

using DispatcherDeathTest = DispatcherTest;

TEST_F(DispatcherDeathTest, RegistrationRefusesArgumentsThatDoNotFitTheHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEBUG_DEATH(
      EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Get, "/a", tags, {Argument<int32_t>("a")},
                                            [](CallResult&, const std::string&) {}),
                nullptr),
      "parameter types");
  EXPECT_DEBUG_DEATH(
      EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Post, "/b", tags,
                                            {BodyArgument<Item>("a"), BodyArgument<Item>("b")},
                                            [](CallResult&, const Item&, const Item&) {}),
                nullptr),
      "at most one body argument");
}

// Each row is its own description: "<METHOD> <path>" (POST calls PostItems, any other method
// GetItemsById) and a body, with its content type (none without one).
TEST_F(DispatcherTest, EachRequestIsBoundOrAnsweredWithItsMessage) {
  struct Case { std::string request, expect; const char* type = nullptr; std::string body = ""; };
  const std::string item = "0 {a 3 []}", json = R"({"name":"a","count":3})";
  const std::string yaml = "name: a\ncount: 3\n";
  const std::string msgpack = "\202\245count\003\244name\241a";  // {"count": 3, "name": "a"}
  std::string deep = "GET /items/1?filter";
  for (int i = 0; i < 32; ++i) deep += ".a";
  const Case cases[] = {
      {"PUT /items/1", "404 Invalid function"},
      {"GET /items/1?filter=%7B%22name%22%3A%22j%22%7D", "0 1|false|0|[]|{j 0 []}|"},
      {"GET /items/1?filter&labels", "0 1|false|0|[]|{ 0 []}|"},
      {"GET /items/1?count", "0 Expected value for argument 'count'."},
      {"GET /items/1?nope.1=1", "0 Unknown argument 'nope' for 'GetItemsById'."},
      {"GET /items/1?labels.65535=a", "0 1|false|0|[65536]|{ 0 []}|"},
      {"GET /items/1?labels.0x10000=a", "0 Index 0x10000 is out of range"},
      {"GET /items/1?labels.1x=a", "0 Index 1x is in an incorrect format"},
      {deep + "=1", "0 1|false|0|[]|{ 0 []}|"},
      {deep + ".a=1", "0 Index path '" + deep.substr(13) + ".a' has more than 32 segments"},
      {"GET /items/1?filter=%7B",
       "0 Couldn't deserialize JSON value for parameter 'filter' of 'GetItemsById': Error: "
       "Missing a name for object member. at offset 1."},
      {"GET /items/1?filter=%81%01",
       "0 Couldn't deserialize MessagePack value for parameter 'filter' of 'GetItemsById': "
       "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"GET /items/1?filter=---%0A*nope",
       "0 Couldn't deserialize YAML value for parameter 'filter' of 'GetItemsById': Undefined "
       "alias encountered: \"nope\". At line: 2 col: 1"},
      {"GET /items/%FF", "0 Value for argument 'id' is not valid UTF-8 at byte 0."},
      {"GET /items/1?filter.%C3=1",
       "0 Query argument name for 'GetItemsById' is not valid UTF-8 at byte 7."},
      {"GET /items/5", "0 5|false|0|[]|{ 0 []}|", "text/plain", "no argument takes it"},
      // Bodies, by content type or, without one, by their first bytes.
      {"POST /items", item, "Application/JSON; charset=utf-8", json},
      {"POST /items", item, "application/vnd.api+json", json},
      {"POST /items", item, "text/x-yaml", yaml},
      {"POST /items", item, "", "  " + json},
      {"POST /items", item, "", msgpack},
      {"POST /items", item, "", "---\n" + yaml},
      {"POST /items", "0 Extra MessgePack data found in body", "application/x-msgpack",
       msgpack + "\x01"},
      {"POST /items", "0 Invalid MessagePack data at position 1.", "application/x-msgpack", "\xC1"},
      {"POST /items",
       "0 Error: The document root must not be followed by other values. at offset 12.",
       "application/json", std::string("{\"name\":\"a\"}\0x", 14)},
      {"POST /items", "0 Unsupported body content type", "text/plain", "a"},
      {"POST /items", "0 Unsupported body content type", "", "name=a"},
  };
  for (const Case& c : cases) {
    const std::string method = c.request.substr(0, c.request.find(' '));
    const uint32_t code = method == "GET" ? kGet : method == "POST" ? kPost : 7;
    RequestBuilder request(code, c.request.substr(method.size() + 1));
    if (c.type != nullptr) request.Body(c.type, c.body);
    EXPECT_EQ(Outcome(method == "POST" ? "PostItems" : "GetItemsById", request), c.expect)
        << c.request << " " << (c.type ? c.type : "") << " " << c.body;
  }
}

TEST_F(DispatcherTest, HeadersAreBoundFirstThenReplacedByTypedValuesByNameOrPosition) {
  RequestBuilder request(kGet,
                         "/items/42?flag&labels.2=x&filter.name=f&filter.count=4&filter.%C3%A9=1");
  request.Header("NAME", "\xC3\xA9").Header("X-Other", "ignored");
  EXPECT_EQ(Outcome("GetItemsById", request), "0 42|true|0|[,,x]|{f 4 []}|\xC3\xA9");
  EXPECT_EQ(Outcome("GetItemsById", RequestBuilder(kGet, "/items/3").Header("count", "5")),
            "0 3|false|5|[]|{ 0 []}|");
  RequestBuilder typed(kGet, "/items/7");  // position 1 is the first after the path: flag
  typed.Header("count", "99").StringArg("", "true");
  EXPECT_EQ(Outcome("GetItemsById", typed.StringArg("name", "t").StringArg("count", "0x10")),
            "0 7|true|16|[]|{ 0 []}|t");
  EXPECT_EQ(Outcome("GetItemsById", RequestBuilder(kGet, "/items/1").StringArg("nope", "1")),
            "0 Unknown argument 'nope' for 'GetItemsById'.");
  RequestBuilder past(kGet, "/items/1");
  for (int i = 0; i < 6; ++i) past.StringArg("", "1");
  EXPECT_EQ(Outcome("GetItemsById", past), "0 Unknown argument '6' for 'GetItemsById'.");
}

TEST_F(DispatcherTest, RecordsThatCannotBeFollowedAreAnswered) {
  RequestBuilder request(kGet, "/items/1");
  auto outcome = [&](void* context, void (*spoil)(RequestRecord&)) {
    RequestRecord record = request.Context(context).Record();
    spoil(record);
    HostResponse response;
    FunctionDispatcher::InvokeEndpoint(response.Out(), &record);
    return std::to_string(response.Status()) + " " + response.ErrorText();
  };
  void* get = dispatcher.EndpointContextOf("GetItemsById");
  void* post = dispatcher.EndpointContextOf("PostItems");
  EXPECT_EQ(outcome(get, [](RequestRecord& r) { r.path = nullptr; }), "404 Invalid function");
  EXPECT_EQ(outcome(get, [](RequestRecord& r) { r.headerCount = 1000000; }),
            "400 Malformed request: 1000000 headers without data");
  EXPECT_EQ(outcome(get, [](RequestRecord& r) { r.argCount = 0xFFFFFFFFu; }),
            "400 Malformed request: 4294967295 typed arguments without data");
  auto noBody = [](RequestRecord& r) {
    r.method = kPost;
    r.path = "/items";
    r.bodyLength = 5;  // and no body
  };
  EXPECT_EQ(outcome(post, noBody), "400 Malformed request: body of 5 bytes without data");
  // Contexts the dispatcher never handed out, or has retired, are not followed.
  int foreign = 0;
  EXPECT_EQ(outcome(&foreign, [](RequestRecord&) {}), "404 Invalid function");
  EXPECT_TRUE(dispatcher.RemoveEndpoint("PostItems"));
  EXPECT_EQ(outcome(post, noBody), "404 Invalid function");
  HostResponse noRequest;
  FunctionDispatcher::InvokeEndpoint(noRequest.Out(), nullptr);
  EXPECT_EQ(noRequest.ErrorText(), "Invalid function");
  FunctionDispatcher::InvokeEndpoint(nullptr, &request.Record());  // nothing to write into
  EXPECT_EQ(seen, "");
}

TEST_F(DispatcherTest, ResponseCarriesTheCallResultAndCleanupFreesIt) {
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/full", tags, {}, [](CallResult& result) {
    result.flag = 7;
    result.resultMode = 3;
    result.status = 201;
    result.text = "created";
    result.headers = {{"X-A", "1"}, {"X-B", "two"}};
    result.stream = CallStream{nullptr, nullptr, 12345, reinterpret_cast<void*>(0x10)};
    return Item{"made", 9, {"l1", "l2"}};
  });
  dispatcher.RegisterEndpoint(
      HttpMethod::Get, "/mode", tags, {},  // a plain function as handler
      +[](CallResult& result) { result.resultMode = 4; });
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/generic", tags, {}, [](CallResult&) {
    binding::BindingResult value;  // a generic value is sent as it is, not converted
    value.memberAt("kept").setString("as given");
    return value;
  });
  const ApiDescription& api = dispatcher.BuildApiDescription();  // not rebuilt while measured
  auto call = [&](uint32_t method, const char* path, const char* function, HostResponse& out) {
    RequestBuilder request(method, path);
    request.Body("application/json", "[");  // fails PostItems only
    test::InvokeEndpoint(test::FindEndpoint(api, function), request, out);
  };
  HostResponse warmUp;  // the first call may create process-wide caches
  call(kGet, "/full", "GetFull", warmUp);
  warmUp.Release();
  const uint64_t before = base::LiveBytes(base::GetAllocationStats());
  {
    HostResponse response;
    call(kGet, "/full", "GetFull", response);
    const ResponseRecord& r = response.Get();
    // failed, flag, mode, status, text, header count, size hint
    EXPECT_EQ(diagnostics::FormatText("%1 %2 %3 %4 %5 %6 %7", Read(r.error.failed), Read(r.flag),
                                      Read(r.resultMode), Read(r.status), test::Text(r.text),
                                      Read(r.headerCount), Read(r.sizeHint)),
              "0 7 3 201 created 2 12345");
    ASSERT_EQ(Read(r.headerCount), 2u);
    const HostHeader second = r.headers[1];
    EXPECT_EQ(test::Text(second.name) + ": " + test::Text(second.value), "X-B: two");
    EXPECT_EQ(Read(r.stream), reinterpret_cast<void*>(0x10));
    const test::CopiedValue value = response.Value();  // converted as the binding tests show
    ASSERT_NE(value.Member("name"), nullptr);
    EXPECT_EQ(value.Member("name")->bytes, "made");
    ResponseRecord* record = response.Out();
    record->cleanup(record);  // as the host calls it, then the guard finds nothing to release
    const ResponseRecord zero{};
    EXPECT_EQ(std::memcmp(record, &zero, sizeof zero), 0) << "clean-up zeroes it";

    call(kGet, "/generic", "GetGeneric", response);
    ASSERT_NE(response.Value().Member("kept"), nullptr);
    EXPECT_EQ(response.Value().Member("kept")->bytes, "as given");
    response.Release();
    call(kGet, "/mode", "GetMode", response);
    EXPECT_EQ(Read(response.Get().resultMode), 0u) << "only modes 1 to 3 reach the host";
    EXPECT_NE(Read(response.Get().text), nullptr) << "an empty text is sent, not a null";
    response.Release();
    call(kPost, "/items", "PostItems", response);
    EXPECT_TRUE(response.failed());
    EXPECT_EQ(response.Value().kind, static_cast<uint32_t>(kHostValueEmpty));
  }
  EXPECT_EQ(base::LiveBytes(base::GetAllocationStats()), before)
      << "every response allocation is freed by its clean-up";
}

TEST_F(DispatcherTest, HandlersReportErrorsWithStatus) {
  struct Case { void (*fail)(CallResult&); const char* expect; };
  const Case cases[] = {
      {[](CallResult& r) { r.NotFoundResult(); }, "404 Not found"},
      {[](CallResult& r) { r.NotFoundResult("No '%1' for %2", "x", 5); }, "404 No 'x' for 5"},
      {[](CallResult& r) { r.InternalErrorResult(""); }, "500 Internal server error"},
      {[](CallResult& r) { r.InternalErrorResult("100%1"); }, "500 100%1"},
      {[](CallResult& r) { r.SetError(501, "first stands"), r.NotFoundResult("later"); },
       "501 first stands"},
      {[](CallResult&) { throw std::runtime_error("boom"); }, "500 boom"},
      {[](CallResult&) { throw std::runtime_error(""); }, "500 Internal server error"},
  };
  void (*fail)(CallResult&) = nullptr;
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/fail", tags, {}, [&](CallResult& r) { fail(r); });
  for (const Case& c : cases) {
    fail = c.fail;
    RequestBuilder request(kGet, "/fail");
    EXPECT_EQ(Outcome("GetFail", request), c.expect);
  }
}

TEST_F(DispatcherTest, HandlersMayTakeTheRequestContext) {
  const auto now = std::chrono::system_clock::now().time_since_epoch() / std::chrono::seconds(1);
  dispatcher.RegisterEndpoint(
      HttpMethod::Get, "/context/{id}", tags, {Argument<std::string>("id")},
      [&](CallResult&, const RequestContext& context, const std::string& id) {
        // The texts are the host's, valid during the call only.
        seen = diagnostics::FormatText("%1 %2 %3 %4 %5", id, context.path,
                                       static_cast<int>(context.method), context.callerHandle,
                                       context.Header("x-trace"));
        EXPECT_EQ(context.registry, &dispatcher);
        EXPECT_NEAR(static_cast<double>(context.time / 10000000), static_cast<double>(now), 5.0);
      });
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/pointer", tags, {},
                              [&](CallResult&, const RequestContext* context) {
                                seen = context ? std::to_string(context->callerHandle) : "null";
                              });
  RequestBuilder request(kGet, "/context/7");
  EXPECT_EQ(Outcome("GetContextById", request.Header("X-Trace", "t1").HostHandle(9)),
            "0 7 /context/7 2 9 t1");
  EXPECT_EQ(Outcome("GetPointer", RequestBuilder(kGet, "/pointer").HostHandle(8)), "0 8");
}

// A call's state is built in the dispatcher's room when it fits, else on the heap, and each is
// released where it lives.
TEST(CallStateRoom, BuildsWhatFitsInPlaceAndTheRestOnTheHeap) {
  struct Small final : CallState { std::string text = std::string(100, 's'); };
  struct Large final : CallState { std::array<std::string, 40> texts; };
  const auto liveBlocks = [] { return base::LiveBlocks(base::GetAllocationStats()); };
  const uint64_t before = liveBlocks();
  {
    CallStateRoom room, other;
    const CallStatePtr small = room.Make<Small>();
    EXPECT_EQ(liveBlocks(), before + 1) << "the text's block alone";
    const CallStatePtr large = other.Make<Large>();
    EXPECT_EQ(liveBlocks(), before + 2) << "and the large state's own";
  }
  EXPECT_EQ(liveBlocks(), before);
}

}  // namespace
}  // namespace vyn::routing
