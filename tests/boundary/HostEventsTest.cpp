// The plugin's event side seen from the host: what it subscribes to, how it leaves, and how an
// event it cannot serve is reported through the host's log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "binding/BindingProperty.h"
#include "support/FakeHost.h"

namespace vyn::test {
namespace {

TEST(HostEvents, AnAsyncServiceProxyEventWithoutHandlerIsLoggedAtErrorThroughTheHost) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  FakeHost host;
  LoadedPlugin plugin(library);
  ASSERT_TRUE(plugin.Initialize(host));
  const FakeHost::Subscription* async = host.FindSubscription("OnServiceProxyAsyncEvent");
  ASSERT_NE(async, nullptr);
  EXPECT_EQ(async->flag, 1);
  EXPECT_EQ(async->hostHandle, 0x5157u);

  binding::BindingProperty payload;
  payload.memberAt("serviceName").setString("store-svc");
  payload.memberAt("methodName").setString("watch");
  payload.memberAt("payload").setString("{}");
  ASSERT_TRUE(host.Deliver("OnServiceProxyAsyncEvent", payload));
  const auto line = std::find_if(host.logs.begin(), host.logs.end(), [](const auto& l) {
    return l.message == "vyn-pft: Could not find registered handler for async service proxy "
                        "event store-svc.watch";
  });
  ASSERT_NE(line, host.logs.end());
  EXPECT_EQ(line->level, 2);

  // A payload that is no service-proxy response is dropped without a word.
  const std::size_t logged = host.logs.size();
  binding::BindingProperty junk;
  junk.memberAt("serviceName").makeCollection();
  ASSERT_TRUE(host.Deliver("OnServiceProxyAsyncEvent", junk));
  EXPECT_EQ(host.logs.size(), logged);
}

TEST(HostEvents, UnloadUnsubscribesEverythingTheInitialisationSubscribed) {
  PluginLibrary library(VYN_PLUGIN_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  FakeHost host;
  LoadedPlugin plugin(library);
  ASSERT_TRUE(plugin.Initialize(host));
  std::vector<std::string> subscribed = host.subscribeCalls;
  ASSERT_FALSE(subscribed.empty());
  plugin.Unload();
  std::vector<std::string> unsubscribed = host.unsubscribeCalls;
  std::sort(subscribed.begin(), subscribed.end());
  std::sort(unsubscribed.begin(), unsubscribed.end());
  EXPECT_EQ(unsubscribed, subscribed);
  EXPECT_TRUE(host.subscriptions.empty());
}

}  // namespace
}  // namespace vyn::test
