// vyn-host serve, driven over real HTTP on the loopback interface with a fake plugin: routing
// to endpoints, local requests, resource events, the event stream, outgoing requests and a
// clean stop on signals.
#include <gtest/gtest.h>
#include <httplib.h>
#include <rapidjson/document.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "HostProcess.h"
#include "ReplyJson.h"

namespace vyn::test {
namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 15000;

constexpr char kConfig[] = R"(# Resources the fake plugin reads.
/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl: "http://127.0.0.1:9/feedback"
/tarnclient/region-locale:
  region: NA
  locale: en_US
)";

class ServeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    const std::string config = dir_.Write("resources.yaml", kConfig);
    host_ = std::make_unique<HostProcess>(
        dir_, std::vector<std::string>{"serve", VYN_FAKE_PLUGIN_PATH, "--config", config});
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(host_->WaitForPort(port_, kStartTimeoutMs)) << host_->Stderr();
    client_ = MakeClient();
  }

  void TearDown() override {
    if (!host_) return;
    host_->Signal(SIGTERM);
    EXPECT_EQ(host_->WaitForExit(kStopTimeoutMs), 0) << host_->Stderr();
  }

  std::unique_ptr<httplib::Client> MakeClient() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client->set_connection_timeout(2, 0);
    client->set_read_timeout(5, 0);
    return client;
  }

  rapidjson::Document State() {
    auto reply = client_->Get("/fake/v1/state");
    EXPECT_TRUE(reply);
    return reply ? Json(reply->body) : Json("null");
  }

  TempDir dir_;
  std::unique_ptr<HostProcess> host_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(ServeCommand, RoutesCallsToTheEndpointWhoseRouteTakesThem) {
  struct Case {
    const char* desc;
    const char* method;
    const char* target;
    int status;
    const char* errorCode;  // null: an endpoint's success
  };
  const Case cases[] = {
      {"the first endpoint", "GET", "/fake/v1/state", 200, nullptr},
      {"a later endpoint, past the ones that refuse it", "POST", "/fake/v1/publish", 200, nullptr},
      {"a path no endpoint takes", "GET", "/fake/v1/nothing", 404, "NOT_FOUND"},
      {"a known path with a method no endpoint has", "PATCH", "/fake/v1/state", 404, "NOT_FOUND"},
      {"a path with a query that the literal route refuses", "GET", "/fake/v1/state?x=1", 404,
       "NOT_FOUND"},
  };
  for (const Case& c : cases) {
    httplib::Request request;
    request.method = c.method;
    request.path = c.target;
    auto reply = client_->send(request);
    ASSERT_TRUE(reply) << c.desc;
    EXPECT_EQ(reply->status, c.status) << c.desc << ": " << reply->body;
    if (c.errorCode != nullptr) {
      const auto body = Json(reply->body);
      EXPECT_EQ(Text(body, "errorCode"), c.errorCode) << c.desc;
      EXPECT_EQ(Number(body, "httpStatus"), static_cast<uint64_t>(c.status)) << c.desc;
      EXPECT_NE(Text(body, "message"), "<none>") << c.desc;
    }
  }
  // Only endpoints of the call's method were asked: the state call, and one refusal each for the
  // unknown path and the query. Every answer, refusals included, was given back exactly once.
  const auto state = State();
  EXPECT_EQ(Number(state, "badCleanups"), 0u);
  EXPECT_EQ(Number(state, "answers"), 3u);
  EXPECT_EQ(Number(state, "cleanups"), Number(state, "answers"));
}

TEST_F(ServeCommand, AnswersLocalRequestsFromTheConfiguration) {
  auto reply = client_->Post("/fake/v1/lookup",
                             "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl",
                             "text/plain");
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->status, 200) << reply->body;
  auto body = Json(reply->body);
  EXPECT_EQ(Number(body, "status"), 200u);
  EXPECT_EQ(Text(body, "error"), "");
  EXPECT_EQ(Number(body, "kind"), 5u);
  EXPECT_EQ(Text(body, "text"), "http://127.0.0.1:9/feedback");
  EXPECT_TRUE(body["cleanupSet"].GetBool());
  EXPECT_TRUE(body["zeroedAfterCleanup"].GetBool());

  reply = client_->Post("/fake/v1/lookup", "/tarnclient/region-locale?fresh=1", "text/plain");
  ASSERT_TRUE(reply);
  body = Json(reply->body);
  EXPECT_EQ(Number(body, "kind"), 10u) << "a mapping arrives as a structure";
  EXPECT_EQ(Text(body, "region"), "NA");

  reply = client_->Post("/fake/v1/lookup", "/vyn-login/v1/login-data-packet", "text/plain");
  ASSERT_TRUE(reply);
  body = Json(reply->body);
  EXPECT_EQ(Number(body, "status"), 404u);
  EXPECT_EQ(Text(body, "error"), "no resource at /vyn-login/v1/login-data-packet");
  EXPECT_EQ(Number(body, "kind"), 0u);
  EXPECT_TRUE(body["cleanupSet"].GetBool());
  EXPECT_TRUE(body["zeroedAfterCleanup"].GetBool());
}

TEST_F(ServeCommand, PublishesResourceChangesToTheSubscription) {
  struct Case {
    const char* desc;
    const char* method;
    const char* body;
    int status;
    const char* eventType;
    uint64_t delivered;
    const char* puuid;
  };
  const Case cases[] = {
      {"first PUT", "PUT", R"({"puuid":"p-1","state":"SUCCEEDED"})", 200, "Create", 1, "p-1"},
      {"second PUT", "PUT", R"({"puuid":"p-2"})", 200, "Update", 1, "p-2"},
      {"DELETE", "DELETE", "", 200, "Delete", 1, ""},
      {"DELETE of what is gone", "DELETE", "", 404, nullptr, 0, ""},
      {"PUT after the DELETE", "PUT", R"({"puuid":"p-3"})", 200, "Create", 1, "p-3"},
      {"PUT that is not JSON", "PUT", "{puuid", 400, nullptr, 0, "p-3"},
  };
  uint64_t events = 0;
  for (const Case& c : cases) {
    httplib::Request request;
    request.method = c.method;
    request.path = "/vyn-login/v1/session";
    request.body = c.body;
    request.set_header("Content-Type", "application/json");
    auto reply = client_->send(request);
    ASSERT_TRUE(reply) << c.desc;
    EXPECT_EQ(reply->status, c.status) << c.desc << ": " << reply->body;
    const auto state = State();
    if (c.eventType != nullptr) {
      ++events;
      const auto body = Json(reply->body);
      EXPECT_EQ(Text(body, "eventType"), c.eventType) << c.desc;
      EXPECT_EQ(Number(body, "delivered"), c.delivered) << c.desc;
      EXPECT_EQ(Text(state, "lastEventType"), c.eventType) << c.desc;
    }
    EXPECT_EQ(Number(state, "events"), events) << c.desc;
    EXPECT_EQ(Text(state, "lastEvent"), "OnJsonApiEvent_vyn-login_v1_session") << c.desc;
    EXPECT_EQ(Text(state, "lastUri"), "/vyn-login/v1/session") << c.desc;
    EXPECT_EQ(Text(state, "lastPuuid"), c.puuid) << c.desc;
    EXPECT_TRUE(state["contextMatched"].GetBool()) << c.desc;
  }

  // A resource nobody subscribed to changes without a delivery, and can be read back.
  auto reply = client_->Put("/vyn-gameflow/v1/session", R"({"phase":"Lobby"})", "application/json");
  ASSERT_TRUE(reply);
  EXPECT_EQ(Number(Json(reply->body), "delivered"), 0u);
  reply = client_->Get("/vyn-gameflow/v1/session");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(reply->body, R"({"phase":"Lobby"})");
}

TEST_F(ServeCommand, StreamsThePluginsEventsToReaders) {
  std::mutex mutex;
  std::string received;
  std::atomic<bool> enough{false};
  std::thread reader([&] {
    auto client = MakeClient();
    client->Get("/host/v1/events", [&](const char* data, size_t length) {
      std::lock_guard<std::mutex> lock(mutex);
      received.append(data, length);
      return !enough.load();
    });
  });
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 500; ++i) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (received.find(text) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  };
  ASSERT_TRUE(waitFor(": connected\n\n"));

  auto reply = client_->Post("/fake/v1/publish", "hello", "text/plain");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200) << "an empty success";
  EXPECT_EQ(reply->body, "");
  const std::string data = R"(data: {"uri":"/fake/v1/thing","eventType":"Update","data":"hello"})";
  const std::string expected = "event: OnJsonApiEvent_fake_v1_thing\n" + data +
                               "\n\nevent: OnJsonApiEvent\n" + data + "\n\n";
  const bool seen = waitFor(expected);
  enough = true;
  // One more event wakes the reader, so that it sees it has enough and hangs up.
  client_->Post("/fake/v1/publish", "bye", "text/plain");
  reader.join();
  EXPECT_TRUE(seen) << received;
}

TEST_F(ServeCommand, SendsThePluginsOutgoingRequests) {
  httplib::Server upstream;
  std::mutex mutex;
  std::string seenHeader;
  std::string seenBody;
  upstream.Post("/upstream", [&](const httplib::Request& request, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    seenHeader = request.get_header_value("X-Fake");
    seenBody = request.body;
    response.status = 201;
    response.set_header("X-Upstream", "seen");
    response.set_content("pong:" + request.body, "text/plain");
  });
  const int upstreamPort = upstream.bind_to_any_port("127.0.0.1");
  ASSERT_GT(upstreamPort, 0);
  std::thread serving([&] { upstream.listen_after_bind(); });
  for (int i = 0; i < 500 && !upstream.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  const std::string url = "http://127.0.0.1:" + std::to_string(upstreamPort) + "/upstream";
  auto reply = client_->Post("/fake/v1/fetch", url, "text/plain");
  upstream.stop();
  serving.join();
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->status, 200) << reply->body;
  const auto body = Json(reply->body);
  EXPECT_EQ(Number(body, "status"), 201u);
  EXPECT_EQ(Text(body, "body"), "pong:ping");
  EXPECT_EQ(Text(body, "header"), "seen");
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(seenHeader, "yes");
    EXPECT_EQ(seenBody, "ping");
  }

  // The upstream is gone now: the plugin sees a transport failure with the host's text.
  reply = client_->Post("/fake/v1/fetch", url, "text/plain");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 502);
  const auto failure = Json(reply->body);
  EXPECT_EQ(Text(failure, "errorCode"), "BAD_GATEWAY");
  EXPECT_EQ(Text(failure, "message").rfind("fetch failed: ", 0), 0u) << reply->body;
  EXPECT_GT(Text(failure, "message").size(), std::string("fetch failed: ").size());
}

TEST(ServeCommandStop, UnloadsThePluginAndExitsCleanlyOnEachSignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    TempDir dir;
    const std::string config = dir.Write("resources.json", R"({"/system/v1/builds": {}})");
    HostProcess host(dir, {"serve", VYN_FAKE_PLUGIN_PATH, "--config", config, "--port", "0"});
    int port = 0;
    ASSERT_TRUE(host.WaitForPort(port, kStartTimeoutMs)) << host.Stderr();
    host.Signal(signal);
    EXPECT_EQ(host.WaitForExit(kStopTimeoutMs), 0) << "signal " << signal << ": " << host.Stderr();
    const std::string err = host.Stderr();
    EXPECT_NE(err.find("[fake ALWAYS] fake plugin ready"), std::string::npos) << err;
    EXPECT_NE(err.find("[fake ALWAYS] fake plugin unloading"), std::string::npos) << err;
  }
}

TEST(ServeCommandStart, RefusesWhatItCannotServe) {
  TempDir dir;
  const std::string notAMap = dir.Write("list.yaml", "- /a\n- /b\n");
  const std::string badKey = dir.Write("key.yaml", "relative/path: 1\n");
  const std::string good = dir.Write("good.yaml", "/a: 1\n");
  struct Case {
    const char* desc;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"no configuration", {"serve", VYN_FAKE_PLUGIN_PATH}, 2, "serve needs --config FILE"},
      {"a missing file",
       {"serve", VYN_FAKE_PLUGIN_PATH, "--config", dir.path() + "/none.yaml"},
       1,
       "cannot be opened"},
      {"a configuration that is no mapping",
       {"serve", VYN_FAKE_PLUGIN_PATH, "--config", notAMap},
       1,
       "the top level is not a mapping"},
      {"a key that is no path",
       {"serve", VYN_FAKE_PLUGIN_PATH, "--config", badKey},
       1,
       "the key 'relative/path' is not a path starting with '/'"},
      {"a library that is not there",
       {"serve", dir.path() + "/none.so", "--config", good},
       1,
       "none.so"},
      {"a port out of range",
       {"serve", VYN_FAKE_PLUGIN_PATH, "--port", "70000"},
       2,
       "the port is not a number"},
      {"an unknown command", {"run", VYN_FAKE_PLUGIN_PATH}, 2, "unknown command 'run'"},
  };
  for (const Case& c : cases) {
    std::string out;
    std::string err;
    EXPECT_EQ(RunHost(c.args, out, err), c.status) << c.desc << ": " << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << c.desc << ": " << err;
  }
}

}  // namespace
}  // namespace vyn::test
