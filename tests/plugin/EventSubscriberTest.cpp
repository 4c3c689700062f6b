// The event side of the plugin object, driven through the test host: event names and resource
// patterns, subscriptions and their counts, delivery and the resource dispatcher, publishing,
// service-proxy responses, shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "binding/HostValueConversion.h"
#include "diagnostics/LogManager.h"
#include "formats/Json.h"
#include "plugin/EventSubscriber.h"
#include "plugin/PluginBase.h"
#include "support/FakeHost.h"

namespace vyn::plugin {
namespace {

using binding::BindingProperty;
using Texts = std::vector<std::string>;

TEST(EventNames, KeepThreePiecesOfAPathOrFiveOfPlatformConfiguration) {
  const std::pair<const char*, const char*> cases[] = {
      {"/vyn-gameflow/v1/session", "OnJsonApiEvent_vyn-gameflow_v1_session"},
      {"vyn-a//v1/b/c", "OnJsonApiEvent_vyn-a_v1_b"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl/x",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool_BackendUrl"},
      {"/x/vyn-platform-config/a/b/c", "OnJsonApiEvent_x_vyn-platform-config_a"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(EventNameForPath(path), name) << path;
}

TEST(ResourcePatterns, StarTakesOnePieceAndNothingOnlyBeforeASlash) {
  using Pairs = std::vector<std::pair<const char*, const char*>>;  // pattern, uri
  const Pairs matching = {{"/x/items/*", "/x/items/7"},
                          {"/a/*/b", "/a/7/b"},
                          {"/a/*/b", "/a//b"},
                          {"/a/b", "/a/b"},
                          {"*", "abc"}};
  // The star runs to the slash or the end, never stops early, and takes something at the end.
  const Pairs missing = {{"/x/items/*", "/x/items/"},
                         {"/x/items/*", "/x/items/7/n"},
                         {"/a/*/b", "/a/7/c"},
                         {"/a/*/b", "/a/7/b/"},
                         {"/a/*", "/a"},
                         {"/a/*x", "/a/yx"},
                         {"/a/b", "/a/bc"},
                         {"*", ""}};
  for (const auto& [pattern, uri] : matching)
    EXPECT_TRUE(MatchResourcePattern(pattern, uri)) << uri;
  for (const auto& [pattern, uri] : missing)
    EXPECT_FALSE(MatchResourcePattern(pattern, uri)) << uri;
}

BindingProperty Json(const char* text) {
  binding::BindingResult parsed = formats::ParseJson(text);
  EXPECT_TRUE(parsed.ok()) << parsed.ErrorText();
  BindingProperty value;
  value.moveFrom(parsed);
  return value;
}

BindingProperty ResourceEvent(const std::string& uri, const char* type = "Update",
                              const char* data = "{}") {
  BindingProperty event;
  event.memberAt("uri").setString(uri);
  event.memberAt("eventType").setString(type);
  event.memberAt("data") = Json(data);
  return event;
}

class TestPlugin : public PluginBase {};

// A plugin object registered and initialised against the test host, in this process, with one
// path observed before the host link existed.
class EventSide : public testing::Test {
 protected:
  void SetUp() override {
    diagnostics::InitLogging();  // end a manager that an earlier test left behind
    diagnostics::ShutdownLogging();
    diagnostics::InitLogging();
    PluginLoadBlock block{};
    block.major = 18;
    plugin.Register("vyn-pft", block);
    Observe("/vyn-x/v1/y", "y");
    EXPECT_TRUE(host.subscribeCalls.empty());
    // Log records go to the host from here on, as they do in a running plugin.
    ASSERT_TRUE(plugin.Initialize(&host.api));
  }
  void TearDown() override {
    plugin.Shutdown();
    owned.reset();  // its log target goes before the log manager
    diagnostics::ShutdownLogging();
  }
  // Records "<label>:<uri>:<event type>" for each event the handler gets.
  void Observe(const char* path, const char* label) {
    plugin.ObserveResource(path, [this, label](const PluginResourceEvent& e) {
      calls.push_back(std::string(label) + ":" + e.uri + ":" +
                      std::to_string(static_cast<int>(e.eventType)));
    });
  }
  void Deliver(const char* name, const BindingProperty& payload) {
    EXPECT_TRUE(host.Deliver(name, payload)) << "no subscription " << name;
  }
  Texts Logged(int32_t level) const {
    Texts lines;
    for (const auto& line : host.logs) {
      if (line.level == level) lines.push_back(line.message);
    }
    return lines;
  }

  test::FakeHost host;
  std::unique_ptr<TestPlugin> owned = std::make_unique<TestPlugin>();
  TestPlugin& plugin = *owned;
  Texts calls;
};

TEST_F(EventSide, EachEventNameHasOneHostSubscriptionWhileAnyPathObservesIt) {
  Texts subscribed;
  for (const auto& s : host.subscriptions) {
    subscribed.push_back(s.name + " " + std::to_string(s.flag));
    EXPECT_EQ(s.hostHandle, 0x5157u) << s.name;
    EXPECT_EQ(s.context, static_cast<EventSubscriber*>(&plugin)) << s.name;
  }
  EXPECT_EQ(subscribed, (Texts{"OnJsonApiEvent_vyn-x_v1_y 0", "OnServiceProxyUuidEvent 1",
                               "OnServiceProxyMethodEvent 1", "OnServiceProxyAsyncEvent 1"}));
  Observe("/vyn-x/v1/y/b", "b");
  EXPECT_EQ(host.subscribeCalls.size(), 4u);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 2u);

  plugin.Unsubscribe("/vyn-x/v1/y");
  EXPECT_TRUE(host.unsubscribeCalls.empty());
  Deliver("OnJsonApiEvent_vyn-x_v1_y", ResourceEvent("/vyn-x/v1/y/b"));
  EXPECT_EQ(calls, Texts{"b:/vyn-x/v1/y/b:1"});
  plugin.Unsubscribe("/vyn-x/v1/y/b");
  EXPECT_EQ(host.unsubscribeCalls, Texts{"OnJsonApiEvent_vyn-x_v1_y"});
  EXPECT_FALSE(plugin.HasEventHandler("OnJsonApiEvent_vyn-x_v1_y"));
  // Unbalanced: nothing more happens at the host, and the count does not wrap.
  plugin.Unsubscribe("/vyn-x/v1/y/b");
  EXPECT_EQ(host.unsubscribeCalls.size(), 1u);
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 0u);
}

TEST_F(EventSide, DispatchRootsTheUriThenCallsTheExactHandlerThenPatternsInOrder) {
  Observe("/vyn-x/v1/y/*", "star");
  Observe("/vyn-x/v1/y/7", "exact");
  Observe("/vyn-x/v1/*/7", "middle");
  const char* name = "OnJsonApiEvent_vyn-x_v1_y";
  Deliver(name, ResourceEvent("vyn-x/v1/y/7", "Delete"));
  EXPECT_EQ(calls,
            (Texts{"exact:/vyn-x/v1/y/7:2", "star:/vyn-x/v1/y/7:2", "middle:/vyn-x/v1/y/7:2"}));
  calls.clear();
  Deliver(name, ResourceEvent("/vyn-x/v1/y/7/name"));
  Deliver(name, ResourceEvent("/vyn-x/v1/y/"));
  // Payloads that do not convert are dropped.
  Deliver(name, Json(R"({"uri": {"a": 1}})"));
  Deliver(name, Json("[1, 2]"));
  Deliver(name, ResourceEvent("/vyn-x/v1/y", "Renamed"));
  EXPECT_TRUE(host.Deliver(name, HostValue{99, {}}));
  EXPECT_TRUE(calls.empty()) << calls.front();

  Observe("/vyn-x/v1/y/*", "star2");  // replaces its handler and keeps its place
  Deliver(name, ResourceEvent("/vyn-x/v1/y/7", "Create"));
  // A record whose name has no handler (the host's bus may be late) is ignored.
  EventRecord stray{};
  stray.name = "OnJsonApiEvent_other";
  stray.context = static_cast<EventSubscriber*>(&plugin);
  host.FindSubscription(name)->callback(&stray);
  EXPECT_EQ(calls,
            (Texts{"exact:/vyn-x/v1/y/7:0", "star2:/vyn-x/v1/y/7:0", "middle:/vyn-x/v1/y/7:0"}));
}

TEST_F(EventSide, TypedHandlersConvertCreateAndUpdateAndPassDeleteAsDefault) {
  Texts seen;
  plugin.ObserveResource<PluginManagerResource>(
      "/vyn-s/v1/pm",
      [&](std::string_view uri, PluginResourceEventType type, const PluginManagerResource& pm) {
        seen.push_back(std::string(uri) + " " + std::to_string(static_cast<int>(type)) + " " +
                       std::to_string(static_cast<int>(pm.state)));
      });
  const char* name = "OnJsonApiEvent_vyn-s_v1_pm";
  Deliver(name, ResourceEvent("/vyn-s/v1/pm", "Create", R"({"state": "PluginsInitialized"})"));
  Deliver(name, ResourceEvent("/vyn-s/v1/pm", "Update", R"({"state": "Sleeping"})"));
  Deliver(name, ResourceEvent("/vyn-s/v1/pm", "Delete", R"("junk")"));
  EXPECT_EQ(seen, (Texts{"/vyn-s/v1/pm 0 1", "/vyn-s/v1/pm 2 0"}));
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
  event.uri = "/";
  ASSERT_TRUE(plugin.SendResourceEvent("OnJsonApiEvent", event, 3).ok());
  ASSERT_EQ(host.sentEvents.size(), 3u);
  EXPECT_EQ(host.sentEvents[2].word, 3u);
}

TEST_F(EventSide, ServiceProxyResponsesFulfilTheirPendingRequestOnce) {
  Texts completed;
  auto complete = [&](const char* label) {
    return [&completed, label](const PluginServiceProxyResponse& r) {
      completed.push_back(label + r.payload);
    };
  };
  plugin.AddPendingServiceProxyRequest("u-1", complete("uuid "));
  plugin.AddPendingServiceProxyRequest("svc.get", complete("method "));
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-2", "payload": "early"})"));
  EXPECT_TRUE(completed.empty());
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-1", "payload": "one"})"));
  Deliver("OnServiceProxyMethodEvent",
          Json(R"({"serviceName": "svc", "methodName": "get", "payload": "two"})"));
  // Fulfilled once: a repeated response waits for a request that never comes.
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-1", "payload": "again"})"));
  plugin.AddPendingServiceProxyRequest("u-2", complete("late "));  // its response came first
  EXPECT_EQ(completed, (Texts{"uuid one", "method two", "late early"}));
  EXPECT_EQ(Logged(diagnostics::kLogAlways),
            (Texts{"vyn-pft: Fulfilled service proxy request: u-1",
                   "vyn-pft: Fulfilled service proxy request: svc.get",
                   "vyn-pft: Fulfilled service proxy request: u-2"}));

  plugin.SetAsyncServiceProxyHandler("svc.watch", complete("async "));
  Deliver("OnServiceProxyAsyncEvent",
          Json(R"({"serviceName": "svc", "methodName": "watch", "payload": "tick"})"));
  Deliver("OnServiceProxyAsyncEvent", Json(R"({"serviceName": "svc", "methodName": "other"})"));
  EXPECT_EQ(completed.back(), "async tick");
  EXPECT_EQ(Logged(diagnostics::kLogError),
            Texts{"vyn-pft: Could not find registered handler for async service proxy event "
                  "svc.other"});
}

TEST_F(EventSide, ShutdownUnsubscribesEveryEventAndForgetsEveryHandler) {
  Observe("/vyn-x/v1/*", "star");
  const test::FakeHost::Subscription kept = *host.FindSubscription("OnJsonApiEvent_vyn-x_v1_y");
  plugin.Shutdown();
  Texts unsubscribed = host.unsubscribeCalls;
  std::sort(unsubscribed.begin(), unsubscribed.end());
  EXPECT_EQ(unsubscribed, (Texts{"OnJsonApiEvent_vyn-x_v1_*", "OnJsonApiEvent_vyn-x_v1_y",
                                 "OnServiceProxyAsyncEvent", "OnServiceProxyMethodEvent",
                                 "OnServiceProxyUuidEvent"}));
  EXPECT_TRUE(host.subscriptions.empty());
  // A delivery the host had queued before it saw the unsubscription finds no handler.
  HostValue value = binding::ToHostValue(ResourceEvent("/vyn-x/v1/y"), nullptr);
  EventRecord late{};
  late.name = "OnJsonApiEvent_vyn-x_v1_y";
  late.payload = value;
  late.context = kept.context;
  kept.callback(&late);
  binding::ReleaseHostValue(value);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_vyn-x_v1_y"), 1u);
}

// Responses and requests may come from several host threads at once: every request is
// fulfilled exactly once, whichever side came first.
TEST_F(EventSide, ServiceProxyConcurrencyFulfilsEachRequestOnce) {
  constexpr int kThreads = 4, kPerThread = 200;
  std::vector<std::atomic<int>> seen(kThreads * kPerThread);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int id = t * kPerThread; id < (t + 1) * kPerThread; ++id) {
        const std::string key = "u-" + std::to_string(id);
        BindingProperty response;
        response.memberAt("uuid").setString(key);
        // Half the keys see their response first, half their request.
        if (id % 2 == 0) host.Deliver("OnServiceProxyUuidEvent", response);
        plugin.AddPendingServiceProxyRequest(key, [&, id](const PluginServiceProxyResponse&) {
          ++seen[static_cast<std::size_t>(id)];
        });
        if (id % 2 != 0) host.Deliver("OnServiceProxyUuidEvent", response);
        plugin.SetAsyncServiceProxyHandler(key, [](const PluginServiceProxyResponse&) {});
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& count : seen) ASSERT_EQ(count.load(), 1);
}

}  // namespace
}  // namespace vyn::plugin
