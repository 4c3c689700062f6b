// Endpoints through the invoke entry: registration and description, route match, argument
// binding from headers, path, query, typed values and bodies, the handler call, and the response
// record with its clean-up.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/TypeBuilder.h"
#include "plugin/PluginAllocator.h"
#include "routing/FunctionDispatcher.h"
#include "support/HostRequests.h"

namespace vyn::routing {
namespace {

using binding::RecordBuilder;
using test::CopiedValue;
using test::HostResponse;
using test::Read;
using test::RequestBuilder;

struct Item {
  std::string name;
  int32_t count = 0;
  std::vector<std::string> labels;
};

// What the handlers saw.
struct Seen {
  int calls = 0;
  int32_t id = 0;
  bool flag = false;
  int32_t count = -1;
  std::vector<std::string> labels;
  Item filter;
  std::string name;
  Item item;
  std::string note;
};

constexpr uint32_t kGet = 2;
constexpr uint32_t kPost = 6;

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() {
    RecordBuilder<Item>(dispatcher, "TestItem")
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
          ++seen.calls;
          seen.id = id;
          seen.flag = flag;
          seen.count = count;
          seen.labels = labels;
          seen.filter = filter;
          seen.name = name;
        });
    dispatcher.RegisterEndpoint(HttpMethod::Post, "/items/", tags,
                                {BodyArgument<Item>("item"), OptionalArgument<std::string>("note")},
                                [this](CallResult&, const Item& item, const std::string& note) {
                                  ++seen.calls;
                                  seen.item = item;
                                  seen.note = note;
                                });
  }

  void Call(const std::string& function, RequestBuilder& request, HostResponse& response) {
    request.Context(dispatcher.EndpointContextOf(function));
    FunctionDispatcher::InvokeEndpoint(response.Out(), &request.Record());
  }

  FunctionDispatcher dispatcher;
  const std::array<std::string, 2> tags{"Plugins", "Plugin test"};
  Seen seen;
};

std::vector<uint8_t> ItemMsgPack() {
  // {"count": 3, "name": "a"}
  return {0x82, 0xA5, 'c', 'o', 'u', 'n', 't', 0x03, 0xA4, 'n', 'a', 'm', 'e', 0xA1, 'a'};
}

TEST_F(DispatcherTest, RegistrationNamesStoresAndDescribesTheEndpoint) {
  EXPECT_NE(dispatcher.LookupFunction("GetItemsById"), nullptr);
  const binding::BindingFunction* post = dispatcher.LookupFunction("PostItems");
  ASSERT_NE(post, nullptr);
  ASSERT_EQ(post->arguments.size(), 2u);
  EXPECT_EQ(post->arguments[0].type.type, dispatcher.LookupType("TestItem"));
  EXPECT_EQ(post->tags, std::vector<std::string>(tags.begin(), tags.end()));

  // A second registration of the same method and template is refused; the first stands.
  EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Post, "/items", tags, {}, [](CallResult&) {}),
            nullptr);

  const ApiDescription& api = dispatcher.BuildApiDescription();
  const EndpointDescriptor descriptor = test::FindEndpoint(api, "PostItems");
  EXPECT_EQ(test::Text(descriptor.pathTemplate), "/items") << "one trailing slash is dropped";
  EXPECT_EQ(Read(descriptor.methodCode), kPost);
  EXPECT_EQ(test::Text(descriptor.customMethod), "");
  EXPECT_EQ(Read(descriptor.invoke), &FunctionDispatcher::InvokeEndpoint);
  EXPECT_EQ(Read(descriptor.function.endpointContext), dispatcher.EndpointContextOf("PostItems"));
  EXPECT_EQ(test::ListLocations(descriptor), (std::vector<uint32_t>{5, 0}));
  const auto arguments = test::ListChain<HostArgumentRecord>(descriptor.function.arguments);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_EQ(test::Text(arguments[0].name), "item");
  EXPECT_EQ(Read(arguments[0].typeCode), 17u);
  EXPECT_EQ(test::Text(arguments[0].typeName), "TestItem");
  EXPECT_EQ(Read(arguments[1].optional), 1u);
  EXPECT_EQ(test::ListTexts(descriptor.function.tags, descriptor.function.tagCount),
            (std::vector<std::string>{"Plugins", "Plugin test"}));
  EXPECT_EQ(test::ListEndpoints(api).size(), Read(api.endpointCount));

  // Removing the endpoint retires its context: the host's stale pointer gets an answer.
  void* stale = dispatcher.EndpointContextOf("PostItems");
  EXPECT_TRUE(dispatcher.RemoveEndpoint("PostItems"));
  RequestBuilder request(kPost, "/items");
  request.Context(stale);
  HostResponse response;
  FunctionDispatcher::InvokeEndpoint(response.Out(), &request.Record());
  EXPECT_EQ(response.ErrorText(), "Invalid function");
  EXPECT_EQ(response.Status(), 404u);
}

using DispatcherDeathTest = DispatcherTest;

TEST_F(DispatcherDeathTest, RegistrationRefusesArgumentsThatDoNotFitTheHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEBUG_DEATH(
      {
        EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Get, "/mismatch", tags,
                                              {Argument<int32_t>("a")},
                                              [](CallResult&, const std::string&) {}),
                  nullptr);
      },
      "parameter types");
  EXPECT_DEBUG_DEATH(
      {
        EXPECT_EQ(dispatcher.RegisterEndpoint(HttpMethod::Post, "/two", tags,
                                              {BodyArgument<Item>("a"), BodyArgument<Item>("b")},
                                              [](CallResult&, const Item&, const Item&) {}),
                  nullptr);
      },
      "at most one body argument");
}

TEST_F(DispatcherTest, RequestsThatReachNoEndpointAreInvalidFunctions) {
  struct Case {
    const char* desc;
    uint32_t method;
    const char* path;  // null: no path at all
    const char* function;
  };
  const Case cases[] = {
      {"wrong method", kPost, "/items/1", "GetItemsById"},
      {"unknown method code", 99, "/items/1", "GetItemsById"},
      {"path with a further segment", kGet, "/items/1/2", "GetItemsById"},
      {"trailing slash on a literal route", kPost, "/items/", "PostItems"},
      {"null path", kPost, nullptr, "PostItems"},
      {"no endpoint context", kPost, "/items", "NoSuchFunction"},
  };
  for (const Case& c : cases) {
    RequestBuilder request(c.method, c.path != nullptr ? c.path : "");
    if (c.path == nullptr) request.Raw().path = nullptr;
    HostResponse response;
    Call(c.function, request, response);
    EXPECT_EQ(response.ErrorText(), "Invalid function") << c.desc;
    EXPECT_EQ(response.Status(), 404u) << c.desc;
    EXPECT_EQ(Read(response.Get().error.failed), 1u) << c.desc;
  }
  // A pointer the dispatcher never handed out is not followed.
  int foreign = 0;
  RequestBuilder request(kPost, "/items");
  request.Context(&foreign);
  HostResponse response;
  FunctionDispatcher::InvokeEndpoint(response.Out(), &request.Record());
  EXPECT_EQ(response.ErrorText(), "Invalid function");
  HostResponse noRequest;
  FunctionDispatcher::InvokeEndpoint(noRequest.Out(), nullptr);
  EXPECT_EQ(noRequest.Status(), 404u);
  FunctionDispatcher::InvokeEndpoint(nullptr, &request.Record());  // nothing to write: no crash
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(DispatcherTest, BindsHeadersPathQueryAndTypedValues) {
  RequestBuilder request(kGet, "/items/42?flag&labels.2=x&filter.name=f&filter.count=4");
  request.Header("NAME", "from header").Header("X-Other", "ignored");
  HostResponse response;
  Call("GetItemsById", request, response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();
  EXPECT_EQ(response.Status(), 0u);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.id, 42);
  EXPECT_TRUE(seen.flag) << "a bool named without a value is true";
  EXPECT_EQ(seen.count, 0) << "an optional argument without a value keeps its default";
  EXPECT_EQ(seen.labels, (std::vector<std::string>{"", "", "x"})) << "the index grows the vector";
  EXPECT_EQ(seen.filter.name, "f");
  EXPECT_EQ(seen.filter.count, 4);
  EXPECT_EQ(seen.name, "from header");

  // Typed values: by name, and by position after the path parameters (position 1 is "flag").
  HostValue yes{};
  yes.kind = kHostValueBool;
  yes.payload.b = 1;
  RequestBuilder typed(kGet, "/items/a%37");
  typed.Arg("", yes).StringArg("name", "typed").StringArg("count", "0x10");
  typed.Header("count", "99");  // bound first, then replaced by the typed value
  HostResponse typedResponse;
  Call("GetItemsById", typed, typedResponse);
  EXPECT_EQ(typedResponse.ErrorText(), "Value a7 for 'id' of type int32 is in an incorrect format")
      << "path values are percent-decoded before they are assigned";
  RequestBuilder typedOk(kGet, "/items/7");
  typedOk.Arg("", yes).StringArg("name", "typed").StringArg("count", "0x10");
  HostResponse okResponse;
  Call("GetItemsById", typedOk, okResponse);
  ASSERT_FALSE(okResponse.failed()) << okResponse.ErrorText();
  EXPECT_TRUE(seen.flag);
  EXPECT_EQ(seen.name, "typed");
  EXPECT_EQ(seen.count, 16);
}

TEST_F(DispatcherTest, QueryValuesOfStructuredArgumentsAreSniffed) {
  struct Case {
    const char* desc;
    const char* query;
    const char* name;  // expected filter.name
  };
  const Case cases[] = {
      {"JSON", "filter=%7B%22name%22%3A%22j%22%7D", "j"},
      {"YAML", "filter=---%0Aname%3A%20yam", "yam"},
      {"empty value: an empty structure", "filter", ""},
  };
  for (const Case& c : cases) {
    RequestBuilder request(kGet, std::string("/items/1?") + c.query);
    HostResponse response;
    Call("GetItemsById", request, response);
    ASSERT_FALSE(response.failed()) << c.desc << ": " << response.ErrorText();
    EXPECT_EQ(seen.filter.name, c.name) << c.desc;
  }
}

TEST_F(DispatcherTest, EveryBindingFailureAnswersItsMessage) {
  struct Case {
    const char* desc;
    uint32_t method;
    const char* path;
    const char* function;
    const char* message;
  };
  const Case cases[] = {
      {"int32 named without a value", kGet, "/items/1?count", "GetItemsById",
       "Expected value for argument 'count'."},
      {"string named without a value", kGet, "/items/1?name", "GetItemsById",
       "Expected value for argument 'name'."},
      {"unknown query argument", kGet, "/items/1?nope=1", "GetItemsById",
       "Unknown argument 'nope' for 'GetItemsById'."},
      {"unknown base of an index path", kGet, "/items/1?nope.1=1", "GetItemsById",
       "Unknown argument 'nope' for 'GetItemsById'."},
      {"body argument in the query", kPost, "/items?item=x", "PostItems",
       "Argument 'item' for 'PostItems' was specified in an invalid location."},
      {"index with trailing characters", kGet, "/items/1?labels.1x=a", "GetItemsById",
       "Index 1x is in an incorrect format"},
      {"octal index with an 8", kGet, "/items/1?labels.08=a", "GetItemsById",
       "Index 08 is in an incorrect format"},
      {"index of 2^31", kGet, "/items/1?labels.2147483648=a", "GetItemsById",
       "Index 2147483648 is out of range"},
      {"index beyond 64 bits", kGet, "/items/1?labels.99999999999999999999=a", "GetItemsById",
       "Index 99999999999999999999 is out of range"},
      {"index too large to grow to", kGet, "/items/1?labels.0x7fffffff=a", "GetItemsById",
       "Index 0x7fffffff is out of range"},
      {"index path too deep", kGet,
       "/items/1?filter.a.b.c.d.e.f.g.h.i.j.k.l.m.n.o.p.q.r.s.t.u.v.w.x.y.z.a.b.c.d.e.f.g=1",
       "GetItemsById",
       "Index path 'filter.a.b.c.d.e.f.g.h.i.j.k.l.m.n.o.p.q.r.s.t.u.v.w.x.y.z.a.b.c.d.e.f.g' has "
       "more than 32 segments"},
      {"JSON query value that does not parse", kGet, "/items/1?filter=%7B", "GetItemsById",
       "Couldn't deserialize JSON value for parameter 'filter' of 'GetItemsById': Error: Missing "
       "a name for object member. at offset 1."},
      {"MessagePack query value that does not parse", kGet, "/items/1?filter=%81%01",
       "GetItemsById",
       "Couldn't deserialize MessagePack value for parameter 'filter' of 'GetItemsById': Invalid "
       "MessagePack data at position 2. Map keys must be strings."},
      {"YAML query value that does not parse", kGet, "/items/1?filter=---%0A*nope", "GetItemsById",
       "Couldn't deserialize YAML value for parameter 'filter' of 'GetItemsById': Undefined alias "
       "encountered: \"nope\". At line: 2 col: 1"},
      {"value of the wrong type for the record", kGet, "/items/1?filter=x", "GetItemsById",
       "Couldn't assign value to 'filter' of type TestItem because the input not a structure."},
      {"body argument without a body", kPost, "/items", "PostItems",
       "A value for 'item' is required."},
  };
  for (const Case& c : cases) {
    RequestBuilder request(c.method, c.path);
    HostResponse response;
    Call(c.function, request, response);
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
    EXPECT_EQ(Read(response.Get().error.failed), 1u) << c.desc;
    EXPECT_EQ(response.Status(), 0u) << c.desc << ": binding leaves the status as it is";
  }
  EXPECT_EQ(seen.calls, 0) << "no handler runs after a binding failure";
}

TEST_F(DispatcherTest, TypedArgumentFailures) {
  HostValue bad{};
  bad.kind = 11;
  HostValue one{};
  one.kind = kHostValueSigned;
  one.payload.i = 1;
  struct Case {
    const char* desc;
    const char* name;
    HostValue value;
    int copies;
    const char* message;
  };
  const Case cases[] = {
      {"unknown name", "nope", one, 1, "Unknown argument 'nope' for 'GetItemsById'."},
      {"position past the arguments", "", one, 6, "Unknown argument '6' for 'GetItemsById'."},
      {"host kind outside the table", "name", bad, 1,
       "Couldn't assign value to 'name' of type object because the input is of an incompatible "
       "type ''."},
  };
  for (const Case& c : cases) {
    RequestBuilder request(kGet, "/items/1");
    for (int i = 0; i < c.copies; ++i) request.Arg(c.name, c.value);
    HostResponse response;
    Call("GetItemsById", request, response);
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
  }
}

TEST_F(DispatcherTest, BodiesAreDecodedByContentType) {
  struct Case {
    const char* desc;
    const char* contentType;
    std::string body;
    const char* message;  // empty: the handler receives name "a", count 3
  };
  const std::vector<uint8_t> msgpack = ItemMsgPack();
  std::vector<uint8_t> trailing = msgpack;
  trailing.push_back(0x01);
  const Case cases[] = {
      {"JSON", "application/json", R"({"name":"a","count":3})", ""},
      {"JSON, any case, with parameters", "Application/JSON; charset=utf-8",
       R"({"name":"a","count":3})", ""},
      {"JSON API", "application/vnd.api+json", R"({"name":"a","count":3})", ""},
      {"MessagePack", "application/x-msgpack", std::string(msgpack.begin(), msgpack.end()), ""},
      {"MessagePack extension type", "application/x-msgpack-ext",
       std::string(msgpack.begin(), msgpack.end()), ""},
      {"YAML", "application/x-yaml", "name: a\ncount: 3\n", ""},
      {"YAML as text", "text/x-yaml", "name: a\ncount: 3\n", ""},
      {"no content type: sniffed JSON", "", R"(  {"name":"a","count":3})", ""},
      {"no content type: sniffed MessagePack", "", std::string(msgpack.begin(), msgpack.end()), ""},
      {"no content type: sniffed YAML", "", "---\nname: a\ncount: 3\n", ""},
      {"MessagePack with trailing bytes", "application/x-msgpack",
       std::string(trailing.begin(), trailing.end()), "Extra MessgePack data found in body"},
      {"plain text", "text/plain", "a", "Unsupported body content type"},
      {"no content type, not recognisable", "", "name=a", "Unsupported body content type"},
      {"JSON that does not parse", "application/json", "[1,]",
       "Error: Invalid value. at offset 3."},
      {"MessagePack that does not parse", "application/x-msgpack", "\xC1",
       "Invalid MessagePack data at position 1."},
      {"YAML that does not parse", "application/x-yaml", "a: [1",
       "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"JSON of the wrong shape", "application/json", "[1]",
       "Couldn't assign value to 'item' of type TestItem because the input not a structure."},
      {"member of the wrong type", "application/json", R"({"count":"many"})",
       "Value many for 'count' of type int32 is in an incorrect format"},
      {"blank JSON: no value", "application/json", "   ", "A value for 'item' is required."},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    RequestBuilder request(kPost, "/items");
    request.Body(c.contentType, c.body);
    HostResponse response;
    Call("PostItems", request, response);
    if (c.message[0] == '\0') {
      ASSERT_FALSE(response.failed()) << c.desc << ": " << response.ErrorText();
      EXPECT_EQ(seen.item.name, "a") << c.desc;
      EXPECT_EQ(seen.item.count, 3) << c.desc;
    } else {
      EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
      EXPECT_EQ(seen.calls, 0) << c.desc;
    }
  }
}

TEST_F(DispatcherTest, ABodyForAnEndpointWithoutBodyArgumentIsIgnored) {
  RequestBuilder request(kGet, "/items/5");
  request.Body("text/plain", "not looked at");
  HostResponse response;
  Call("GetItemsById", request, response);
  EXPECT_FALSE(response.failed()) << response.ErrorText();
  EXPECT_EQ(seen.id, 5);
}

TEST_F(DispatcherTest, HostileRequestsGetClearErrors) {
  {
    RequestBuilder request(kPost, "/items");
    request.Body("application/json", "{}");
    request.Raw().body = nullptr;
    request.Raw().bodyLength = 5;
    HostResponse response;
    Call("PostItems", request, response);
    EXPECT_EQ(response.ErrorText(), "Malformed request: body of 5 bytes without data");
    EXPECT_EQ(response.Status(), 400u);
  }
  {
    RequestBuilder request(kGet, "/items/1");
    request.Record();
    request.Raw().headerCount = 1000000;  // with no header array
    HostResponse response;
    FunctionDispatcher::InvokeEndpoint(
        response.Out(), &(request.Context(dispatcher.EndpointContextOf("GetItemsById")).Raw()));
    EXPECT_EQ(response.ErrorText(), "Malformed request: 1000000 headers without data");
    EXPECT_EQ(response.Status(), 400u);
  }
  {
    RequestBuilder request(kGet, "/items/1");
    request.Record();
    request.Raw().argCount = 0xFFFFFFFFu;  // with no argument array
    HostResponse response;
    FunctionDispatcher::InvokeEndpoint(
        response.Out(), &(request.Context(dispatcher.EndpointContextOf("GetItemsById")).Raw()));
    EXPECT_EQ(response.ErrorText(), "Malformed request: 4294967295 typed arguments without data");
  }
  struct Case {
    const char* desc;
    const char* contentType;
    std::string body;
  };
  const Case cases[] = {
      {"deep JSON", "application/json", std::string(100000, '[')},
      {"deep YAML", "application/x-yaml", std::string(100000, '[')},
      {"invalid UTF-8 in YAML", "application/x-yaml", "name: \xFF\xFE\n"},
      {"truncated MessagePack string", "application/x-msgpack", "\x81\xA4name\xDB\xFF\xFF\xFF\xFF"},
      {"MessagePack array announcing 2^32-1 items", "application/x-msgpack",
       "\xDD\xFF\xFF\xFF\xFF\x01"},
      {"JSON with a NUL inside", "application/json", std::string("{\"name\":\"a\"}\0x", 14)},
  };
  for (const Case& c : cases) {
    RequestBuilder request(kPost, "/items");
    request.Body(c.contentType, c.body);
    HostResponse response;
    Call("PostItems", request, response);
    EXPECT_TRUE(response.failed()) << c.desc;
    EXPECT_FALSE(response.ErrorText().empty()) << c.desc;
  }
  EXPECT_EQ(seen.calls, 0);
}

TEST_F(DispatcherTest, BodyTextsMustBeUtf8) {
  struct Case {
    const char* desc;
    const char* contentType;
    std::string body;
    const char* message;  // empty: the handler receives the name "\xC3\xA9"
  };
  const Case cases[] = {
      {"JSON", "application/json", "{\"name\":\"\xC3\xA9\"}", ""},
      {"JSON escape", "application/json", R"({"name":"\u00e9"})", ""},
      {"MessagePack", "application/x-msgpack", "\x81\xA4name\xA2\xC3\xA9", ""},
      {"YAML", "application/x-yaml", "name: \xC3\xA9\n", ""},
      {"JSON FF C0", "application/json", "{\"name\":\"\xFF\xC0\"}",
       "Error: Invalid encoding in string. at offset 9."},
      {"JSON lone low surrogate", "application/json", R"({"name":"\udc00"})",
       "Error: The surrogate pair in string is invalid. at offset 9."},
      {"JSON member name", "application/json", "{\"\xC0\x80\":1}",
       "Error: Invalid encoding in string. at offset 2."},
      {"MessagePack FF FE", "application/x-msgpack", "\x81\xA4name\xA2\xFF\xFE",
       "Invalid MessagePack data. String of size 2 at position 7 is not valid UTF-8."},
      {"MessagePack key", "application/x-msgpack", "\x81\xA2\xED\xA0\x01",
       "Invalid MessagePack data. String of size 2 at position 2 is not valid UTF-8."},
      {"YAML", "application/x-yaml", "name: \xFF\xFE\n",
       "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 6"},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    RequestBuilder request(kPost, "/items");
    request.Body(c.contentType, c.body);
    HostResponse response;
    Call("PostItems", request, response);
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
    EXPECT_EQ(response.Status(), 0u) << c.desc;
    if (c.message[0] == '\0') {
      EXPECT_EQ(seen.item.name, "\xC3\xA9") << c.desc;
    } else {
      EXPECT_EQ(seen.calls, 0) << c.desc;
    }
  }
}

TEST_F(DispatcherTest, DecodedArgumentTextsMustBeUtf8) {
  struct Case {
    const char* desc;
    const char* path;
    const char* header;   // a value for the header "name", or null
    const char* message;  // empty: the call succeeds
  };
  const Case cases[] = {
      {"encoded UTF-8 in the query", "/items/1?name=%C3%A9%E2%82%AC", nullptr, ""},
      {"encoded UTF-8 in a query name", "/items/1?filter.%C3%A9=1", nullptr, ""},
      {"UTF-8 in a header", "/items/1", "\xC3\xA9", ""},
      {"path value %FF", "/items/%FF", nullptr,
       "Value for argument 'id' is not valid UTF-8 at byte 0."},
      {"path value cut short", "/items/1%E2%82", nullptr,
       "Value for argument 'id' is not valid UTF-8 at byte 1."},
      {"query value with an overlong form", "/items/1?name=a%C0%80", nullptr,
       "Value for argument 'name' is not valid UTF-8 at byte 1."},
      {"query value with a surrogate", "/items/1?name=%ED%A0%80", nullptr,
       "Value for argument 'name' is not valid UTF-8 at byte 0."},
      {"index path value", "/items/1?labels.1=ok%F4%90%80%80", nullptr,
       "Value for argument 'labels' is not valid UTF-8 at byte 2."},
      {"member path value", "/items/1?filter.name=%FE", nullptr,
       "Value for argument 'filter' is not valid UTF-8 at byte 0."},
      {"query name", "/items/1?%FF=1", nullptr,
       "Query argument name for 'GetItemsById' is not valid UTF-8 at byte 0."},
      {"query name of an index path", "/items/1?filter.%C3=1", nullptr,
       "Query argument name for 'GetItemsById' is not valid UTF-8 at byte 7."},
      {"header value", "/items/1", "a\xFF",
       "Value for argument 'name' is not valid UTF-8 at byte 1."},
      {"sniffed JSON query value", "/items/1?filter=%7B%22name%22%3A%22%FF%22%7D", nullptr,
       "Couldn't deserialize JSON value for parameter 'filter' of 'GetItemsById': Error: Invalid "
       "encoding in string. at offset 9."},
      {"sniffed MessagePack query value", "/items/1?filter=%81%A4name%A1%FF", nullptr,
       "Couldn't deserialize MessagePack value for parameter 'filter' of 'GetItemsById': Invalid "
       "MessagePack data. String of size 1 at position 7 is not valid UTF-8."},
  };
  for (const Case& c : cases) {
    seen = Seen{};
    RequestBuilder request(kGet, c.path);
    if (c.header != nullptr) request.Header("name", c.header);
    HostResponse response;
    Call("GetItemsById", request, response);
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
    EXPECT_EQ(response.Status(), 0u) << c.desc << ": binding leaves the status as it is";
    EXPECT_EQ(seen.calls, c.message[0] == '\0' ? 1 : 0) << c.desc;
  }

  // A typed string argument is checked where the host's record is read.
  RequestBuilder typed(kGet, "/items/1");
  typed.StringArg("name", "ok\xC3");
  HostResponse response;
  Call("GetItemsById", typed, response);
  EXPECT_EQ(response.ErrorText(),
            "Couldn't assign value to 'name' of type object because the input string is not "
            "valid UTF-8 at byte 2.");
}

TEST_F(DispatcherTest, ResponseCarriesTheCallResultAndCleanupFreesIt) {
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/full", tags, {}, [](CallResult& result) {
    result.flag = 7;
    result.resultMode = 2;
    result.status = 201;
    result.text = "created";
    result.headers = {{"X-A", "1"}, {"X-B", "two"}};
    result.stream = CallStream{nullptr, nullptr, 12345, reinterpret_cast<void*>(0x10)};
    return Item{"made", 9, {"l1", "l2"}};
  });
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/mode", tags, {},
                              [](CallResult& result) { result.resultMode = 4; });
  auto call = [&](const char* function, const char* path, HostResponse& response) {
    RequestBuilder request(kGet, path);
    Call(function, request, response);
  };
  // Warm up once: the first call may create process-wide caches.
  {
    HostResponse warm;
    call("GetFull", "/full", warm);
  }
  const uint64_t before = plugin::LiveBytes(plugin::GetAllocationStats());
  {
    HostResponse response;
    call("GetFull", "/full", response);
    const ResponseRecord& record = response.Get();
    EXPECT_EQ(Read(record.error.failed), 0u);
    EXPECT_EQ(Read(record.error.message), nullptr);
    EXPECT_EQ(Read(record.flag), 7u);
    EXPECT_EQ(Read(record.resultMode), 2u);
    EXPECT_EQ(Read(record.status), 201u);
    EXPECT_EQ(test::Text(record.text), "created");
    ASSERT_EQ(Read(record.headerCount), 2u);
    const HostHeader second = record.headers[1];
    EXPECT_EQ(test::Text(second.name), "X-B");
    EXPECT_EQ(test::Text(second.value), "two");
    EXPECT_EQ(Read(record.sizeHint), 12345u);
    EXPECT_EQ(Read(record.stream), reinterpret_cast<void*>(0x10));
    const CopiedValue value = response.Value();
    ASSERT_EQ(value.kind, static_cast<uint32_t>(kHostValueStructure));
    ASSERT_NE(value.Member("name"), nullptr);
    EXPECT_EQ(value.Member("name")->bytes, "made");
    EXPECT_EQ(value.Member("count")->signedValue, 9);
    EXPECT_EQ(value.Member("labels")->elements.size(), 2u);
    ASSERT_NE(Read(record.cleanup), nullptr);
    response.Release();
    const ResponseRecord zero{};
    EXPECT_EQ(std::memcmp(&response.Get(), &zero, sizeof zero), 0) << "clean-up zeroes the record";
  }
  {
    HostResponse response;
    call("GetMode", "/mode", response);
    EXPECT_EQ(Read(response.Get().resultMode), 0u) << "only modes 1 to 3 reach the host";
    EXPECT_EQ(test::Text(response.Get().text), "") << "an empty text is sent, not a null";
  }
  {
    HostResponse response;
    RequestBuilder request(kPost, "/items");
    request.Body("application/json", "[");
    Call("PostItems", request, response);
    EXPECT_TRUE(response.failed());
    EXPECT_EQ(response.Value().kind, static_cast<uint32_t>(kHostValueEmpty));
  }
  EXPECT_EQ(plugin::LiveBytes(plugin::GetAllocationStats()), before)
      << "every response allocation is freed by its clean-up";
}

TEST_F(DispatcherTest, HandlersReportErrorsWithStatus) {
  struct Case {
    const char* desc;
    void (*fail)(CallResult&);
    uint32_t status;
    const char* message;
  };
  const Case cases[] = {
      {"not found, default text", [](CallResult& r) { r.NotFoundResult(); }, 404, "Not found"},
      {"not found, formatted", [](CallResult& r) { r.NotFoundResult("No '%1' for %2", "x", 5); },
       404, "No 'x' for 5"},
      {"internal, default text", [](CallResult& r) { r.InternalErrorResult(""); }, 500,
       "Internal server error"},
      {"internal, message kept as is", [](CallResult& r) { r.InternalErrorResult("100%1"); }, 500,
       "100%1"},
      {"first error stands",
       [](CallResult& r) {
         r.SetError(501, "Not implemented");
         r.NotFoundResult("later");
       },
       501, "Not implemented"},
      {"standard exception", [](CallResult&) { throw std::runtime_error("boom"); }, 500, "boom"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string path = "/fail" + std::to_string(index++);
    const binding::BindingFunction* function =
        dispatcher.RegisterEndpoint(HttpMethod::Get, path, tags, {}, c.fail);
    ASSERT_NE(function, nullptr) << c.desc;
    RequestBuilder request(kGet, path);
    HostResponse response;
    Call(function->name, request, response);
    EXPECT_EQ(response.Status(), c.status) << c.desc;
    EXPECT_EQ(response.ErrorText(), c.message) << c.desc;
  }
}

TEST_F(DispatcherTest, HandlersMayTakeTheRequestContext) {
  RequestContext byReference;
  bool pointerSeen = false;
  dispatcher.RegisterEndpoint(
      HttpMethod::Get, "/context/{id}", tags, {Argument<std::string>("id")},
      [&](CallResult&, const RequestContext& context, const std::string& id) {
        byReference = context;
        byReference.headers.clear();  // the texts are the host's, valid during the call only
        EXPECT_EQ(context.Header("x-trace"), "t1");
        EXPECT_EQ(context.path, "/context/7");
        EXPECT_EQ(id, "7");
      });
  dispatcher.RegisterEndpoint(HttpMethod::Get, "/pointer", tags, {},
                              [&](CallResult&, const RequestContext* context) {
                                pointerSeen = context != nullptr && context->callerHandle == 9;
                              });
  EXPECT_EQ(binding::TypeIdOf<RequestContext>()->number, kRequestContextTypeNumber);
  EXPECT_EQ(binding::TypeIdOf<const RequestContext*>()->number, kRequestContextPointerTypeNumber);

  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  RequestBuilder request(kGet, "/context/7");
  request.Header("X-Trace", "t1").HostHandle(9);
  HostResponse response;
  Call("GetContextById", request, response);
  ASSERT_FALSE(response.failed()) << response.ErrorText();
  EXPECT_EQ(byReference.callerHandle, 9u);
  EXPECT_EQ(byReference.registry, &dispatcher);
  EXPECT_EQ(byReference.method, HttpMethod::Get);
  EXPECT_NEAR(static_cast<double>(byReference.time / 10000000), static_cast<double>(now), 5.0);

  RequestBuilder pointer(kGet, "/pointer");
  pointer.HostHandle(9);
  HostResponse pointerResponse;
  Call("GetPointer", pointer, pointerResponse);
  EXPECT_TRUE(pointerSeen);
}

}  // namespace
}  // namespace vyn::routing
