// The plugin object's event side through the test host: event names, resource patterns,
// subscriptions and their counts, the resource dispatcher, publishing, service-proxy responses.
#include <gtest/gtest.h>

#include <atomic>
#include <span>
#include <thread>

#include "binding/TypeBuilder.h"
#include "diagnostics/FormatText.h"
#include "host/EventName.h"
#include "plugin/EventSubscriber.h"
#include "plugin/FrameTypes.h"
#include "plugin/PluginScene.h"

namespace vyn::plugin {
namespace {

using binding::BindingProperty;
using diagnostics::FormatText;

// The host's event bus and the plugin derive the name apart; a subscription works only where
// both agree.
TEST(EventNames, KeepThreePiecesOfAPathOrFiveOfPlatformConfigurationOnBothSides) {
  const std::pair<const char*, const char*> cases[] = {
      {"/vyn-gameflow/v1/session", "OnJsonApiEvent_vyn-gameflow_v1_session"},
      {"vyn-a//v1/b/c", "OnJsonApiEvent_vyn-a_v1_b"},
      {"//vyn-login//v1/session/", "OnJsonApiEvent_vyn-login_v1_session"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool"},
      {"/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl/x",
       "OnJsonApiEvent_vyn-platform-config_v1_namespaces_PlayerFeedbackTool_BackendUrl"},
      {"/x/vyn-platform-config/a/b/c", "OnJsonApiEvent_x_vyn-platform-config_a"},
      {"", "OnJsonApiEvent"},  // as for "/", published below under the base name only
  };
  for (const auto& [path, name] : cases) {
    EXPECT_EQ(EventNameForPath(path), name) << path;
    EXPECT_EQ(host::EventNameForPath(path), name) << path << " on the host";
  }
  // Names of 94 to 219 bytes, on both sides of the end of the room the plugin builds them in.
  for (const std::size_t length : {75, 76, 77, 200}) {
    const std::string piece(length, 'p');
    const std::string name = "OnJsonApiEvent_a_" + piece + "_c";
    const std::string path = "/a/" + piece + "/c/d";
    const EventName built(path);
    EXPECT_EQ(built.view(), name) << length;
    EXPECT_STREQ(built.c_str(), name.c_str()) << length;
  }
}

// The star runs to the slash or the end, never stops early, and takes something at the end.
TEST(ResourcePatterns, StarTakesOnePieceAndNothingOnlyBeforeASlash) {
  struct Case { const char* pattern; std::vector<const char*> matching, missing; };
  const Case cases[] = {
      {"/x/items/*", {"/x/items/7"}, {"/x/items/", "/x/items/7/n"}},
      {"/a/*/b", {"/a/7/b", "/a//b"}, {"/a/7/c", "/a/7/b/"}},
      {"/a/*", {}, {"/a"}},
      {"/a/*x", {}, {"/a/yx"}},
      {"/a/b", {"/a/b"}, {"/a/bc"}},
      {"*", {"abc"}, {""}},
  };
  for (const Case& c : cases) {
    for (const char* uri : c.matching) EXPECT_TRUE(MatchResourcePattern(c.pattern, uri)) << uri;
    for (const char* uri : c.missing) EXPECT_FALSE(MatchResourcePattern(c.pattern, uri)) << uri;
  }
}

BindingProperty ResourceEvent(const char* uri, const char* type = "Update",
                              const char* data = "{}") {
  return Json(FormatText(R"({"uri": "%1", "eventType": "%2", "data": %3})", uri, type, data));
}

// One path observed before the host link existed.
class EventSide : public PluginScene {
 protected:
  void BeforeHostLink() override {
    Observe("/vyn-x/v1/y", "y");
    EXPECT_TRUE(host.subscribeCalls.empty());
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

  Texts calls;
};

TEST_F(EventSide, EachEventNameHasOneHostSubscriptionWhileAnyPathObservesItUntilShutdown) {
  Texts subscribed;  // "<name> <flag> <host handle>"; deliveries use the callback and context
  for (const auto& s : host.subscriptions) {
    subscribed.push_back(FormatText("%1 %2 %3", s.name, s.flag, s.hostHandle));
  }
  EXPECT_EQ(subscribed,
            (Texts{"OnJsonApiEvent_vyn-x_v1_y 0 20823", "OnServiceProxyUuidEvent 1 20823",
                   "OnServiceProxyMethodEvent 1 20823", "OnServiceProxyAsyncEvent 1 20823"}));
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
  EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_never"), 0u);

  // Shutdown ends every subscription left, and a delivery still queued finds no handler.
  plugin.Shutdown();
  EXPECT_TRUE(host.subscriptions.empty());
  EXPECT_FALSE(plugin.HasEventHandler("OnServiceProxyUuidEvent"));
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
  // Payloads that do not convert, as host values or then as events, are dropped.
  EXPECT_TRUE(host.Deliver(name, HostValue{99, {}}));
  Deliver(name, ResourceEvent("/vyn-x/v1/y", "Renamed"));
  EXPECT_TRUE(calls.empty()) << calls.front();

  Observe("/vyn-x/v1/y/*", "star2");  // replaces its handler and keeps its place
  Deliver(name, ResourceEvent("/vyn-x/v1/y/7", "Create"));
  // A record whose name has no handler (the host's bus may be late) is ignored.
  const EventRecord stray{"OnJsonApiEvent_other", {}, 0, static_cast<EventSubscriber*>(&plugin)};
  host.FindSubscription(name)->callback(&stray);
  EXPECT_EQ(calls,
            (Texts{"exact:/vyn-x/v1/y/7:0", "star2:/vyn-x/v1/y/7:0", "middle:/vyn-x/v1/y/7:0"}));
}

TEST_F(EventSide, TypedHandlersConvertCreateAndUpdateAndPassDeleteAsDefault) {
  plugin.ObserveResource<PluginManagerResource>(
      "/vyn-s/v1/pm",
      [&](std::string_view uri, PluginResourceEventType type, const PluginManagerResource& pm) {
        calls.push_back(
            FormatText("%1 %2 %3", uri, static_cast<int>(type), static_cast<int>(pm.state)));
      });
  const char* name = "OnJsonApiEvent_vyn-s_v1_pm";
  // Without its leading slash: the rooted copy carries the data too.
  Deliver(name, ResourceEvent("vyn-s/v1/pm", "Create", R"({"state": "PluginsInitialized"})"));
  Deliver(name, ResourceEvent("/vyn-s/v1/pm", "Update", R"({"state": "Sleeping"})"));
  Deliver(name, ResourceEvent("/vyn-s/v1/pm", "Delete", R"("junk")"));
  EXPECT_EQ(calls, (Texts{"/vyn-s/v1/pm 0 1", "/vyn-s/v1/pm 2 0"}));
}

TEST_F(EventSide, ResourceEventsGoOutUnderTheirOwnNameThenTheBaseName) {
  PluginResourceEvent event;
  event.uri = "/vyn-pft/v2/survey";
  event.eventType = PluginResourceEventType::Delete;
  event.data.memberAt("id").setUnsigned(9);
  const binding::BindingResult sent = plugin.SendResourceEvent("OnJsonApiEvent", event, 0);
  ASSERT_TRUE(sent.ok()) << sent.ErrorText();
  // When the uri's own name is the base name, the event goes out once. Grafts show a tree in
  // place of empty members of the data: with the data's own, 8 fill a short list and 10 spill.
  event.uri = "/";
  event.data.memberAt("id").reset();
  const BindingProperty nine = Json("9");
  const char* const names[] = {"id", "a", "b", "c", "d", "e", "f", "g", "h"};
  for (const char* name : names) (void)event.data.memberAt(name);
  event.data.closeMembers();
  std::vector<binding::HostValueGraft> grafts;
  for (const char* name : names) grafts.push_back({&event.data.memberAt(name), &nine});
  for (const std::size_t count : {std::size_t{7}, grafts.size()}) {
    const std::span<const binding::HostValueGraft> some = std::span(grafts).first(count);
    ASSERT_TRUE(plugin.SendResourceEvent("OnJsonApiEvent", event, 3, some).ok());
  }
  Texts seen;  // "<name> <word>: <uri> <event type> <data id>"
  for (const auto& e : host.sentEvents) {
    const test::CopiedValue& payload = e.payload;
    seen.push_back(FormatText("%1 %2: %3 %4 %5", e.name, e.word, payload.Member("uri")->bytes,
                              payload.Member("eventType")->bytes,
                              payload.Member("data")->Member("id")->unsignedValue));
  }
  EXPECT_EQ(seen, (Texts{"OnJsonApiEvent_vyn-pft_v2_survey 0: /vyn-pft/v2/survey Delete 9",
                         "OnJsonApiEvent 0: /vyn-pft/v2/survey Delete 9",
                         "OnJsonApiEvent 3: / Delete 9", "OnJsonApiEvent 3: / Delete 9"}));
}

// A registration whose event has no "data" member leaves the shell no place to show the data in:
// the event is then converted whole, its data with it.
TEST_F(EventSide, AnEventRegisteredWithoutADataMemberIsSentWhole) {
  binding::BindingRegistry registry;
  binding::RecordBuilder<PluginResourceEvent>(registry, "PluginResourceEvent")
      .Field("uri", &PluginResourceEvent::uri)
      .Field("body", &PluginResourceEvent::data);
  RegisterFrameTypes(registry);
  const binding::BindingRegistry* own = plugin.typeRegistry();
  plugin.BindRegistry(&registry);
  PluginResourceEvent event;
  event.uri = "/";
  event.data.memberAt("id").setUnsigned(9);
  EXPECT_TRUE(plugin.SendResourceEvent("OnJsonApiEvent", event, 0).ok());
  plugin.BindRegistry(own);
  ASSERT_EQ(host.sentEvents.size(), 1u);
  const test::CopiedValue* body = host.sentEvents[0].payload.Member("body");
  ASSERT_TRUE(body != nullptr && body->Member("id") != nullptr);
  EXPECT_EQ(body->Member("id")->unsignedValue, 9u);
}

TEST_F(EventSide, ServiceProxyResponsesFulfilTheirPendingRequestOnce) {
  auto complete = [&](const char* label) {
    return
        [this, label](const PluginServiceProxyResponse& r) { calls.push_back(label + r.payload); };
  };
  plugin.AddPendingServiceProxyRequest("u-1", complete("uuid "));
  plugin.AddPendingServiceProxyRequest("svc.get", complete("method "));
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-2", "payload": "early"})"));
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-1", "payload": "one"})"));
  Deliver("OnServiceProxyMethodEvent",
          Json(R"({"serviceName": "svc", "methodName": "get", "payload": "two"})"));
  // Fulfilled once: a repeated response waits for the next request of its key.
  Deliver("OnServiceProxyUuidEvent", Json(R"({"uuid": "u-1", "payload": "again"})"));
  plugin.AddPendingServiceProxyRequest("u-2", complete("late "));  // its response came first
  plugin.AddPendingServiceProxyRequest("u-1", complete("next "));
  EXPECT_EQ(calls, (Texts{"uuid one", "method two", "late early", "next again"}));
  EXPECT_EQ(Logged(diagnostics::kLogAlways),
            (Texts{"vyn-pft: Fulfilled service proxy request: u-1",
                   "vyn-pft: Fulfilled service proxy request: svc.get",
                   "vyn-pft: Fulfilled service proxy request: u-2",
                   "vyn-pft: Fulfilled service proxy request: u-1"}));

  plugin.SetAsyncServiceProxyHandler("svc.watch", complete("async "));
  Deliver("OnServiceProxyAsyncEvent",
          Json(R"({"serviceName": "svc", "methodName": "watch", "payload": "tick"})"));
  Deliver("OnServiceProxyAsyncEvent", Json(R"({"serviceName": "svc", "methodName": "other"})"));
  EXPECT_EQ(calls.back(), "async tick");
  EXPECT_EQ(Logged(diagnostics::kLogError),
            Texts{"vyn-pft: Could not find registered handler for async service proxy event "
                  "svc.other"});
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
