// The event side of the plugin object, driven through the test host: subscriptions and their
// counts, delivery and the resource dispatcher, publishing, service-proxy responses, shutdown.
#include "plugin/EventSubscriber.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "binding/HostValueConversion.h"
#include "diagnostics/LogManager.h"
#include "formats/Json.h"
#include "plugin/PluginBase.h"
#include "support/FakeHost.h"

namespace vyn::plugin {
namespace {

using binding::BindingProperty;

TEST(EventNames, KeepThreePiecesOfAPathOrFiveOfPlatformConfiguration) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"/vyn-gameflow/v1/session", "OnJsonApiEvent_vyn-gameflow_v1_session"},
      {"/vyn-a/v1/b/c", "OnJsonApiEvent_vyn-a_v1_b"},
      {"vyn-a//v1/b/", "OnJsonApiEvent_vyn-a_v1_b"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl/x",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool_BackendUrl"},
      {"/x/vyn-platform-config/a/b/c", "OnJsonApiEvent_x_vyn-platform-config_a"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
  };
  for (const Case& c : cases) EXPECT_EQ(EventNameForPath(c.path), c.name) << c.path;
}

TEST(ResourcePatterns, StarTakesOnePieceAndNothingOnlyBeforeASlash) {
  struct Case {
    const char* pattern;
    const char* uri;
    bool matches;
  };
  const Case cases[] = {
      {"/vyn-x/v1/items/*", "/vyn-x/v1/items/7", true},
      {"/vyn-x/v1/items/*", "/vyn-x/v1/items/", false},
      {"/vyn-x/v1/items/*", "/vyn-x/v1/items/7/name", false},
      {"/a/*/b", "/a/7/b", true},
      {"/a/*/b", "/a//b", true},
      {"/a/*/b", "/a/7/c", false},
      {"/a/*/b", "/a/7/b/", false},
      {"/a/*", "/a", false},
      {"/a/*x", "/a/yx", false},  // the star runs to the slash or the end, never stops early
      {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},
      {"*", "abc", true},
      {"*", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchResourcePattern(c.pattern, c.uri), c.matches) << c.pattern << " ~ " << c.uri;
  }
}

class TestPlugin : public PluginBase {};

// A plugin object registered and initialised against the test host, in this process.
class EventSide : public testing::Test {
 protected:
  void SetUp() override {
    diagnostics::InitLogging();  // end a manager that an earlier test left behind
    diagnostics::ShutdownLogging();
    diagnostics::InitLogging();
    PluginLoadBlock block{};
    block.major = 18;
    plugin.Register("vyn-pft", block);
    // Log records go to the host from here on, as they do in a running plugin.
    ASSERT_TRUE(plugin.Initialize(&host.api));
  }
  void TearDown() override {
    plugin.Shutdown();
    owned.reset();  // its log target goes before the log manager
    diagnostics::ShutdownLogging();
  }

  static BindingProperty Json(const char* text) {
    binding::BindingResult parsed = formats::ParseJson(text);
    EXPECT_TRUE(parsed.ok()) << parsed.ErrorText();
    BindingProperty value;
    value.moveFrom(parsed);
    return value;
  }

  static BindingProperty ResourceEvent(const std::string& uri, const char* type = "Update",
                                       const char* data = "{}") {
    BindingProperty event;
    event.memberAt("uri").setString(uri);
    event.memberAt("eventType").setString(type);
    event.memberAt("data") = Json(data);
    return event;
  }

  test::FakeHost host;
  std::unique_ptr<TestPlugin> owned = std::make_unique<TestPlugin>();
  TestPlugin& plugin = *owned;
};

TEST_F(EventSide, AttachSubscribesTheServiceProxyEventsWithFlagOne) {
  ASSERT_EQ(host.subscriptions.size(), 3u);
  const char* names[] = {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                         "OnServiceProxyAsyncEvent"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(host.subscriptions[i].name, names[i]);
    EXPECT_EQ(host.subscriptions[i].flag, 1);
    EXPECT_EQ(host.subscriptions[i].hostHandle, 0x5157u);
    EXPECT_EQ(host.subscriptions[i].context, static_cast<EventSubscriber*>(&plugin));
  }
}

TEST_F(EventSide, PathsOfOneEventNameShareOneHostSubscription) {
  int first = 0, second = 0;
  plugin.ObserveResource("/vyn-x/v1/y/a", [&](const PluginResourceEvent&) { ++first; });
  plugin.ObserveResource("/vyn-x/v1/y/b", [&](const PluginResourceEvent&) { ++second; });
  EXPECT_EQ(std::count(host.subscribeCalls.begin(), host.subscribeCalls.end(),
                       "OnJsonApiEvent_vyn-x_v1_y"),
            1);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 2u);
  EXPECT_EQ(host.FindSubscription("OnJsonApiEvent_vyn-x_v1_y")->flag, 0);

  plugin.Unsubscribe("/vyn-x/v1/y/a");
  EXPECT_TRUE(host.unsubscribeCalls.empty());
  ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_y", ResourceEvent("/vyn-x/v1/y/b")));
  EXPECT_EQ(second, 1);

  plugin.Unsubscribe("/vyn-x/v1/y/b");
  EXPECT_EQ(host.unsubscribeCalls, std::vector<std::string>{"OnJsonApiEvent_vyn-x_v1_y"});
  EXPECT_FALSE(plugin.HasEventHandler("OnJsonApiEvent_vyn-x_v1_y"));
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 0u);
  // Unbalanced: nothing more happens at the host, and the count does not wrap.
  plugin.Unsubscribe("/vyn-x/v1/y/b");
  EXPECT_EQ(host.unsubscribeCalls.size(), 1u);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 0u);
  EXPECT_EQ(first, 0);
}

TEST_F(EventSide, DispatchRootsTheUriThenCallsTheExactHandlerThenPatternsInOrder) {
  std::vector<std::string> calls;
  plugin.ObserveResource("/vyn-x/v1/items/*", [&](const PluginResourceEvent& e) {
    calls.push_back("star:" + e.uri);
  });
  plugin.ObserveResource("/vyn-x/v1/items/7", [&](const PluginResourceEvent& e) {
    calls.push_back("exact:" + e.uri + ":" + std::to_string(static_cast<int>(e.eventType)));
  });
  plugin.ObserveResource("/vyn-x/v1/*/7", [&](const PluginResourceEvent& e) {
    calls.push_back("middle:" + e.uri);
  });
  ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_items", ResourceEvent("vyn-x/v1/items/7")));
  EXPECT_EQ(calls, (std::vector<std::string>{"exact:/vyn-x/v1/items/7:1", "star:/vyn-x/v1/items/7",
                                             "middle:/vyn-x/v1/items/7"}));

  calls.clear();
  ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_items",
                           ResourceEvent("/vyn-x/v1/items/7/name")));
  ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_items", ResourceEvent("/vyn-x/v1/items/")));
  EXPECT_TRUE(calls.empty());

  // A path observed again replaces its handler and keeps its place.
  plugin.ObserveResource("/vyn-x/v1/items/*", [&](const PluginResourceEvent&) {
    calls.push_back("star2");
  });
  ASSERT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_items", ResourceEvent("/vyn-x/v1/items/8")));
  EXPECT_EQ(calls, std::vector<std::string>{"star2"});
}

TEST_F(EventSide, PayloadsThatDoNotConvertAndUnknownEventsAreDropped) {
  int calls = 0;
  plugin.ObserveResource("/vyn-x/v1/y", [&](const PluginResourceEvent&) { ++calls; });
  EXPECT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_y", Json(R"({"uri": {"a": 1}})")));
  EXPECT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_y", Json(R"([1, 2])")));
  EXPECT_TRUE(
      host.Deliver("OnJsonApiEvent_vyn-x_v1_y", ResourceEvent("/vyn-x/v1/y", "Renamed")));
  HostValue broken{};
  broken.kind = 99;
  EXPECT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_y", broken));
  EXPECT_EQ(calls, 0);

  // A record whose name has no handler (the host's bus may be late) is ignored.
  EventRecord stray{};
  stray.name = "OnJsonApiEvent_other";
  stray.context = static_cast<EventSubscriber*>(&plugin);
  host.FindSubscription("OnJsonApiEvent_vyn-x_v1_y")->callback(&stray);
  EXPECT_TRUE(host.Deliver("OnJsonApiEvent_vyn-x_v1_y", ResourceEvent("/vyn-x/v1/y")));
  EXPECT_EQ(calls, 1);
}

struct Sample {
  uint64_t id = 0;
  std::string name;
};

}  // namespace
}  // namespace vyn::plugin

namespace vyn::plugin {
constexpr uint32_t BindingTypeNumber(binding::BindingTypeTag<Sample>) noexcept {
  return 0x5A3B1E01u;
}
}  // namespace vyn::plugin

#include "binding/TypeBuilder.h"
#include "routing/FunctionDispatcher.h"

namespace vyn::plugin {
namespace {

class TypedPlugin : public PluginBase {
 public:
  void RegisterApi() override {
    binding::RecordBuilder<Sample>(registry(), "Sample")
        .Field("id", &Sample::id)
        .Field("name", &Sample::name);
  }
};

TEST_F(EventSide, TypedHandlersConvertCreateAndUpdateAndPassDeleteAsDefault) {
  TypedPlugin typed;
  PluginLoadBlock block{};
  block.major = 18;
  typed.Register("vyn-typed", block);
  test::FakeHost typedHost;
  ASSERT_TRUE(typed.Initialize(&typedHost.api));

  std::vector<std::string> seen;
  typed.ObserveResource<Sample>(
      "/vyn-s/v1/one",
      [&](std::string_view uri, PluginResourceEventType type, const Sample& sample) {
        seen.push_back(std::string(uri) + " " + std::to_string(static_cast<int>(type)) + " " +
                       std::to_string(sample.id) + " " + sample.name);
      });
  const char* name = "OnJsonApiEvent_vyn-s_v1_one";
  ASSERT_TRUE(typedHost.Deliver(name, ResourceEvent("/vyn-s/v1/one", "Create",
                                                    R"({"id": 7, "name": "seven"})")));
  ASSERT_TRUE(typedHost.Deliver(name, ResourceEvent("/vyn-s/v1/one", "Update",
                                                    R"({"id": "not a number"})")));
  ASSERT_TRUE(typedHost.Deliver(name, ResourceEvent("/vyn-s/v1/one", "Delete", R"("junk")")));
  EXPECT_EQ(seen, (std::vector<std::string>{"/vyn-s/v1/one 0 7 seven", "/vyn-s/v1/one 2 0 "}));
  typed.Shutdown();
}

TEST_F(EventSide, ResourceEventsGoOutUnderTheirOwnNameThenTheBaseName) {
  PluginResourceEvent event;
  event.uri = "/vyn-pft/v2/survey";
  event.eventType = PluginResourceEventType::Update;
  event.data.memberAt("id").setUnsigned(9);
  const binding::BindingResult sent = plugin.SendResourceEvent("OnJsonApiEvent", event, 0);
  ASSERT_TRUE(sent.ok()) << sent.ErrorText();
  ASSERT_EQ(host.sentEvents.size(), 2u);
  EXPECT_EQ(host.sentEvents[0].name, "OnJsonApiEvent_vyn-pft_v2_survey");
  EXPECT_EQ(host.sentEvents[1].name, "OnJsonApiEvent");
  for (const auto& sentEvent : host.sentEvents) {
    const test::CopiedValue& payload = sentEvent.payload;
    ASSERT_EQ(payload.members.size(), 3u);
    EXPECT_EQ(payload.Member("uri")->bytes, "/vyn-pft/v2/survey");
    EXPECT_EQ(payload.Member("eventType")->bytes, "Update");
    EXPECT_EQ(payload.Member("data")->Member("id")->unsignedValue, 9u);
    EXPECT_EQ(sentEvent.word, 0u);
  }

  // When the uri's own name is the base name, the event goes out once.
  host.sentEvents.clear();
  event.uri = "/";
  ASSERT_TRUE(plugin.SendResourceEvent("OnJsonApiEvent", event, 3).ok());
  ASSERT_EQ(host.sentEvents.size(), 1u);
  EXPECT_EQ(host.sentEvents[0].word, 3u);
}

TEST_F(EventSide, ServiceProxyResponsesFulfilTheirPendingRequestOnce) {
  std::vector<std::string> completed;
  plugin.AddPendingServiceProxyRequest("u-1", [&](const PluginServiceProxyResponse& r) {
    completed.push_back("uuid " + r.payload);
  });
  plugin.AddPendingServiceProxyRequest("svc.get", [&](const PluginServiceProxyResponse& r) {
    completed.push_back("method " + r.payload);
  });
  ASSERT_TRUE(host.Deliver("OnServiceProxyUuidEvent",
                           Json(R"({"uuid": "u-2", "payload": "early"})")));
  EXPECT_TRUE(completed.empty());
  ASSERT_TRUE(host.Deliver("OnServiceProxyUuidEvent",
                           Json(R"({"uuid": "u-1", "payload": "one"})")));
  ASSERT_TRUE(host.Deliver(
      "OnServiceProxyMethodEvent",
      Json(R"({"serviceName": "svc", "methodName": "get", "payload": "two"})")));
  // Fulfilled once: a repeated response waits for a request that never comes.
  ASSERT_TRUE(host.Deliver("OnServiceProxyUuidEvent",
                           Json(R"({"uuid": "u-1", "payload": "again"})")));
  EXPECT_EQ(completed, (std::vector<std::string>{"uuid one", "method two"}));
  // A request added after its response is fulfilled at once.
  plugin.AddPendingServiceProxyRequest("u-2", [&](const PluginServiceProxyResponse& r) {
    completed.push_back("late " + r.payload);
  });
  EXPECT_EQ(completed.back(), "late early");

  std::vector<std::string> fulfilled;
  for (const auto& line : host.logs) {
    if (line.level == diagnostics::kLogAlways) fulfilled.push_back(line.message);
  }
  EXPECT_EQ(fulfilled, (std::vector<std::string>{"vyn-pft: Fulfilled service proxy request: u-1",
                                                 "vyn-pft: Fulfilled service proxy request: svc.get",
                                                 "vyn-pft: Fulfilled service proxy request: u-2"}));
}

TEST_F(EventSide, AsyncServiceProxyEventsGoToTheirHandlerOrLogAnError) {
  std::vector<std::string> handled;
  plugin.SetAsyncServiceProxyHandler("svc.watch", [&](const PluginServiceProxyResponse& r) {
    handled.push_back(r.payload);
  });
  ASSERT_TRUE(host.Deliver(
      "OnServiceProxyAsyncEvent",
      Json(R"({"serviceName": "svc", "methodName": "watch", "payload": "tick"})")));
  ASSERT_TRUE(host.Deliver("OnServiceProxyAsyncEvent",
                           Json(R"({"serviceName": "svc", "methodName": "other"})")));
  EXPECT_EQ(handled, std::vector<std::string>{"tick"});
  ASSERT_EQ(host.logs.size(), 1u);
  EXPECT_EQ(host.logs[0].level, diagnostics::kLogError);
  EXPECT_EQ(host.logs[0].message,
            "vyn-pft: Could not find registered handler for async service proxy event svc.other");
}

TEST_F(EventSide, ShutdownUnsubscribesEveryEventAndForgetsEveryHandler) {
  int calls = 0;
  plugin.ObserveResource("/vyn-x/v1/y", [&](const PluginResourceEvent&) { ++calls; });
  plugin.ObserveResource("/vyn-x/v1/*", [&](const PluginResourceEvent&) { ++calls; });
  const test::FakeHost::Subscription kept = *host.FindSubscription("OnJsonApiEvent_vyn-x_v1_y");
  plugin.Shutdown();
  std::vector<std::string> unsubscribed = host.unsubscribeCalls;
  std::sort(unsubscribed.begin(), unsubscribed.end());
  EXPECT_EQ(unsubscribed,
            (std::vector<std::string>{"OnJsonApiEvent_vyn-x_v1_*", "OnJsonApiEvent_vyn-x_v1_y",
                                      "OnServiceProxyAsyncEvent", "OnServiceProxyMethodEvent",
                                      "OnServiceProxyUuidEvent"}));
  EXPECT_TRUE(host.subscriptions.empty());
  // A delivery the host had queued before it saw the unsubscription finds no handler.
  EventRecord late{};
  late.name = "OnJsonApiEvent_vyn-x_v1_y";
  BindingProperty payload = ResourceEvent("/vyn-x/v1/y");
  HostValue value = binding::ToHostValue(payload, nullptr);
  late.payload = value;
  late.context = kept.context;
  kept.callback(&late);
  binding::ReleaseHostValue(value);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 1u);
}

TEST(EventSideBeforeInitialisation, ObservationsReachTheHostWhenItConnects) {
  test::FakeHost host;
  {
    TestPlugin plugin;
    PluginLoadBlock block{};
    block.major = 18;
    plugin.Register("vyn-pft", block);
    plugin.ObserveResource("/vyn-x/v1/y", [](const PluginResourceEvent&) {});
    EXPECT_TRUE(host.subscribeCalls.empty());
    diagnostics::InitLogging();
    ASSERT_TRUE(plugin.Initialize(&host.api));
    EXPECT_EQ(host.subscribeCalls.front(), "OnJsonApiEvent_vyn-x_v1_y");
    EXPECT_EQ(host.subscribeCalls.size(), 4u);
    plugin.Shutdown();
  }
  diagnostics::ShutdownLogging();
}

}  // namespace
}  // namespace vyn::plugin

namespace vyn::plugin {
namespace {

// Responses and requests may come from several host threads at once: every request is
// fulfilled exactly once, whichever side came first.
TEST_F(EventSide, ServiceProxyConcurrencyFulfilsEachRequestOnce) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 200;
  std::atomic<int> fulfilled{0};
  std::vector<std::atomic<int>> seen(kThreads * kPerThread);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const int id = t * kPerThread + i;
        const std::string key = "u-" + std::to_string(id);
        BindingProperty response;
        response.memberAt("uuid").setString(key);
        // Half the keys see their response first, half their request.
        if (id % 2 == 0) host.Deliver("OnServiceProxyUuidEvent", response);
        plugin.AddPendingServiceProxyRequest(key, [&, id](const PluginServiceProxyResponse&) {
          ++seen[static_cast<std::size_t>(id)];
          ++fulfilled;
        });
        if (id % 2 != 0) host.Deliver("OnServiceProxyUuidEvent", response);
        plugin.SetAsyncServiceProxyHandler(key, [](const PluginServiceProxyResponse&) {});
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(fulfilled.load(), kThreads * kPerThread);
  for (const auto& count : seen) ASSERT_EQ(count.load(), 1);
}

}  // namespace
}  // namespace vyn::plugin
