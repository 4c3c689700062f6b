// vyn-host serve, driven over real HTTP on the loopback interface with a fake plugin: routing
// to endpoints and the host's error replies, local requests, resource events, the event stream,
// outgoing requests, a clean stop on signals, and what it refuses to serve.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "HostProcess.h"

namespace vyn::test {
namespace {

// The host's JSON error object.
std::string Error(int status, const char* code, const std::string& message) {
  return std::to_string(status) + R"( {"errorCode":")" + code + R"(","httpStatus":)" +
         std::to_string(status) + R"(,"message":")" + message + R"("})";
}

class ServeCommand : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(port, 0) << host.Stderr(); }
  void TearDown() override { EXPECT_EQ(host.WaitForExit(SIGTERM), 0) << host.Stderr(); }

  // "<status> <body>" of one call.
  std::string Call(const char* method, const std::string& target, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    httplib::Request request;
    request.method = method;
    request.path = target;
    request.body = body;
    request.set_header("Content-Type", "application/json");
    const auto reply = client.send(request);
    return reply ? std::to_string(reply->status) + " " + reply->body : "no reply";
  }
  // What the plugin's subscription saw last, and how the host gave its answers back.
  std::string State() { return Call("GET", "/fake/v1/state"); }

  const std::string config = WriteFile("serve.yaml", R"(# Resources the fake plugin reads.
/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl: "http://127.0.0.1:9/feedback"
/tarnclient/region-locale:
  region: NA
)");
  HostProcess host{{"serve", VYN_FAKE_PLUGIN_PATH, "--config", config}};
  const int port = host.WaitForPort();
};

TEST_F(ServeCommand, RoutesCallsToTheEndpointThatTakesThemAndGivesEveryAnswerBackOnce) {
  struct Case {
    const char* method;
    const char* target;
    const char* body;
    std::string reply;
  };
  const Case cases[] = {
      {"GET", "/fake/v1/nothing", "",
       Error(404, "NOT_FOUND", "no endpoint or resource at /fake/v1/nothing")},
      {"PATCH", "/fake/v1/state", "",
       Error(404, "NOT_FOUND", "no endpoint takes PATCH /fake/v1/state")},
      {"GET", "/fake/v1/state?x=1", "",
       Error(404, "NOT_FOUND", "no endpoint or resource at /fake/v1/state")},
      // A failure without a status is one the plugin found in the call itself.
      {"POST", "/fake/v1/publish", "", Error(400, "BAD_REQUEST", "nothing to publish")},
      {"POST", "/fake/v1/lookup",
       "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl",
       R"(200 "200 kind 5 http://127.0.0.1:9/feedback")"},
      {"POST", "/fake/v1/lookup", "/tarnclient/region-locale?fresh=1", R"(200 "200 kind 10 NA")"},
      {"POST", "/fake/v1/lookup", "/vyn-login/v1/login-data-packet",
       R"(200 "404 kind 0 no resource at /vyn-login/v1/login-data-packet")"},
      // Nothing listens there: the host's text of a transport failure reaches the plugin.
      {"POST", "/fake/v1/fetch", "http://127.0.0.1:1/",
       R"(502 {"errorCode":"BAD_GATEWAY","httpStatus":502,"message":"fetch failed: )"},
      {"PUT", "/vyn-gameflow/v1/session", R"({"phase":"Lobby"})",
       R"(200 {"uri":"/vyn-gameflow/v1/session","eventType":"Create","delivered":0})"},
      {"GET", "/vyn-gameflow/v1/session", "", R"(200 {"phase":"Lobby"})"},
  };
  for (const Case& c : cases) {  // the reply starts with the expected text
    EXPECT_EQ(Call(c.method, c.target, c.body).substr(0, c.reply.size()), c.reply) << c.target;
  }
  // Only endpoints of the call's method were asked, in their order, until one took the call.
  EXPECT_EQ(State(), R"(200 "none; answers 15, cleanups 15, bad 0")");
}

TEST_F(ServeCommand, PublishesResourceChangesToTheSubscription) {
  struct Case {
    const char* method;
    const char* body;
    std::string reply;
    const char* seen;  // by the subscription
  };
  const auto changed = [](const char* type, int delivered) {
    return std::string(R"(200 {"uri":"/vyn-login/v1/session","eventType":")") + type +
           R"(","delivered":)" + std::to_string(delivered) + "}";
  };
  const char* name = "OnJsonApiEvent_vyn-login_v1_session /vyn-login/v1/session ";
  const Case cases[] = {
      {"PUT", R"({"puuid":"p-1","state":"SUCCEEDED"})", changed("Create", 1), "1 Create p-1"},
      {"PUT", R"({"puuid":"p-2"})", changed("Update", 1), "2 Update p-2"},
      {"DELETE", "", changed("Delete", 1), "3 Delete "},
      {"DELETE", "", Error(404, "NOT_FOUND", "no resource at /vyn-login/v1/session"), "3 Delete "},
      {"PUT", " ", changed("Create", 1), "4 Create "},
      {"PUT", "{puuid",
       Error(400, "BAD_REQUEST",
             "the body is not JSON: Missing a name for object member. at offset 1"),
       "4 Create "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Call(c.method, "/vyn-login/v1/session", c.body), c.reply) << c.method << c.body;
    const std::string state = State(), seen = c.seen;
    EXPECT_EQ(state.substr(0, state.find(';')),
              "200 \"" + seen.substr(0, 2) + name + seen.substr(2))
        << c.method << c.body;
  }
}

TEST_F(ServeCommand, StreamsThePluginsEventsToReaders) {
  std::mutex mutex;
  std::string received;
  std::atomic<bool> enough{false};
  std::thread reader([&] {
    httplib::Client("127.0.0.1", port).Get("/host/v1/events", [&](const char* data, size_t size) {
      std::lock_guard<std::mutex> lock(mutex);
      received.append(data, size);
      return !enough.load();
    });
  });
  auto waitFor = [&](const std::string& text) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      std::lock_guard<std::mutex> lock(mutex);
      if (received.find(text) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(waitFor(": connected\n\n"));
  EXPECT_EQ(Call("POST", "/fake/v1/publish", "hello"), "200 ") << "an empty success";
  const std::string data = R"(data: {"uri":"/fake/v1/thing","eventType":"Update","data":"hello"})";
  const bool seen = waitFor("event: OnJsonApiEvent_fake_v1_thing\n" + data +
                            "\n\nevent: OnJsonApiEvent\n" + data + "\n\n");
  enough = true;
  Call("POST", "/fake/v1/publish", "bye");  // wakes the reader, which then hangs up
  reader.join();
  EXPECT_TRUE(seen) << received;
}

TEST(ServeCommandStop, UnloadsThePluginAndExitsCleanlyOnEachSignal) {
  const std::string config = WriteFile("stop.json", R"({"/system/v1/builds": {}})");
  for (int signal : {SIGTERM, SIGINT}) {
    HostProcess host({"serve", VYN_FAKE_PLUGIN_PATH, "--config", config, "--port", "0"});
    ASSERT_GT(host.WaitForPort(), 0) << host.Stderr();
    EXPECT_EQ(host.WaitForExit(signal), 0) << signal << ": " << host.Stderr();
    EXPECT_NE(host.Stderr().find("[fake ALWAYS] fake plugin ready\n"), std::string::npos);
    EXPECT_NE(host.Stderr().find("[fake ALWAYS] fake plugin unloading\n"), std::string::npos);
  }
}

TEST(ServeCommandStart, RefusesWhatItCannotServe) {
  const std::string good = WriteFile("good.yaml", "/a: 1\n");
  const std::string list = WriteFile("list.yaml", "- /a\n- /b\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"serve", VYN_FAKE_PLUGIN_PATH}, 2, "vyn-host: serve needs --config FILE\nusage:"},
      {{"serve", VYN_FAKE_PLUGIN_PATH, "--config", good + "x"},
       1,
       "vyn-host: " + good + "x: cannot be opened\n"},
      {{"serve", VYN_FAKE_PLUGIN_PATH, "--config", list},
       1,
       "vyn-host: " + list + ": the top level is not a mapping from resource paths to values\n"},
      {{"serve", good + ".so", "--config", good}, 1, "vyn-host: " + good + ".so: "},
      {{"serve", VYN_FAKE_PLUGIN_PATH, "--port", "65536"},
       2,
       "vyn-host: the port is not a number\n"},
      {{"serve", VYN_FAKE_PLUGIN_PATH, "--verbose"}, 2, "vyn-host: unknown option '--verbose'\n"},
      {{"run", VYN_FAKE_PLUGIN_PATH}, 2, "vyn-host: unknown command 'run'\n"},
      {{"demo", VYN_FAKE_PLUGIN_PATH, "x"}, 2, "vyn-host: demo takes only the plugin\n"},
      {{"describe"}, 2, "usage: vyn-host describe PLUGIN.so [--json]\n"},
  };
  for (const Case& c : cases) {
    std::string out, err;
    EXPECT_EQ(RunHost(c.args, out, err), c.status) << c.message;
    EXPECT_EQ(err.rfind(c.message, 0), 0u) << err;
  }
}

}  // namespace
}  // namespace vyn::test
