// vyn-host serve over real HTTP on the loopback interface with the fake plugin: routing, error
// replies, local and outgoing requests, resource events, the event stream, stops, refusals.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <tuple>

#include "HostProcess.h"

namespace vyn::test {
namespace {

// "<status> <body>" of a failed call.
std::string Error(int status, const char* code, const std::string& message) {
  return std::to_string(status) + " " + ErrorBody(status, code, message);
}

class ServeCommand : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GT(port, 0) << host.Stderr(); }
  // Every host ends with a clean stop that unloads the plugin.
  void TearDown() override {
    EXPECT_EQ(host.WaitForExit(SIGTERM), 0) << host.Stderr();
    EXPECT_NE(host.Stderr().find("[fake ALWAYS] fake plugin ready\n"), std::string::npos);
    EXPECT_NE(host.Stderr().find("[fake ALWAYS] fake plugin unloading\n"), std::string::npos);
  }

  // "<status> <body>" of one call.
  std::string Call(const char* method, const std::string& target, const std::string& body = "") {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10, 0);
    httplib::Request request;
    request.method = method;
    request.path = target;
    request.body = body;
    const auto reply = client.send(request);
    return reply ? std::to_string(reply->status) + " " + reply->body : "no reply";
  }

  const std::string config = WriteFile("serve.yaml", R"(# Resources the fake plugin reads.
/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl: http://127.0.0.1:9/feedback
/tarnclient/region-locale:
  region: NA
)");
  HostProcess host{{"serve", VYN_FAKE_PLUGIN_PATH, "--config", config, "--port", "0"}};
  const int port = host.WaitForPort();
};

TEST_F(ServeCommand, AnswersFromEndpointsOrResourcesAndPublishesResourceChanges) {
  const auto changed = [](const char* type) {
    return std::string(R"(200 {"uri":"/vyn-login/v1/session","eventType":")") + type +
           R"(","delivered":1})";
  };
  const char *login = "/vyn-login/v1/session", *lookup = "/fake/v1/lookup";
  // Each reply starts with the expected text. The last column, when given, is what the
  // plugin's subscription saw last: its count of events, then the event type and puuid.
  const std::tuple<const char*, const char*, const char*, std::string, const char*> cases[] = {
      {"GET", "/fake/v1/nothing", "",
       Error(404, "NOT_FOUND", "no endpoint or resource at /fake/v1/nothing"), nullptr},
      {"PATCH", "/fake/v1/state", "",
       Error(404, "NOT_FOUND", "no endpoint takes PATCH /fake/v1/state"), nullptr},
      {"GET", "/fake/v1/state?x=1", "",
       Error(404, "NOT_FOUND", "no endpoint or resource at /fake/v1/state"), nullptr},
      // A failure without a status is one the plugin found in the call itself.
      {"POST", "/fake/v1/publish", "", Error(400, "BAD_REQUEST", "nothing to publish"), nullptr},
      {"POST", lookup, "/vyn-platform-config/v1/namespaces/PlayerFeedbackTool/BackendUrl",
       R"(200 "200 kind 5 http://127.0.0.1:9/feedback")", nullptr},
      {"POST", lookup, "/tarnclient/region-locale?fresh=1", R"(200 "200 kind 10 NA")", nullptr},
      {"POST", lookup, "/vyn-login/v1/login-data-packet",
       R"(200 "404 kind 0 no resource at /vyn-login/v1/login-data-packet")", nullptr},
      // Nothing listens there: the host's text of a transport failure reaches the plugin.
      {"POST", "/fake/v1/fetch", "http://127.0.0.1:1/",
       R"(502 {"errorCode":"BAD_GATEWAY","httpStatus":502,"message":"fetch failed: )", nullptr},
      {"PUT", "/vyn-gameflow/v1/session", R"({"phase":"Lobby"})",
       R"(200 {"uri":"/vyn-gameflow/v1/session","eventType":"Create","delivered":0})", nullptr},
      {"GET", "/vyn-gameflow/v1/session", "", R"(200 {"phase":"Lobby"})", nullptr},
      // Only endpoints whose method and route can take the call were asked, in their order,
      // until one took it; and the host gave every answer back once.
      {"GET", "/fake/v1/state", "", R"(200 "answers 12, cleanups 12, bad 0; none")", nullptr},
      {"PUT", login, R"({"puuid":"p-1","state":"SUCCEEDED"})", changed("Create"), "1 Create p-1"},
      {"PUT", login, R"({"puuid":"p-2"})", changed("Update"), "2 Update p-2"},
      {"DELETE", login, "", changed("Delete"), "3 Delete "},
      {"DELETE", login, "", Error(404, "NOT_FOUND", "no resource at /vyn-login/v1/session"),
       "3 Delete "},
      {"PUT", login, " ", changed("Create"), "4 Create "},
      {"PUT", login, "{puuid",
       Error(400, "BAD_REQUEST",
             "the body is not JSON: Missing a name for object member. at offset 1"),
       "4 Create "},
  };
  const std::string event = "OnJsonApiEvent_vyn-login_v1_session /vyn-login/v1/session ";
  for (const auto& [method, target, body, reply, seen] : cases) {
    EXPECT_EQ(Call(method, target, body).substr(0, reply.size()), reply) << method << target;
    if (seen == nullptr) continue;
    const std::string state = Call("GET", "/fake/v1/state");  // the event's name and uri follow
    EXPECT_EQ(state.substr(state.find("; ") + 2), std::string(seen).insert(2, event) + '"')
        << method << body;
  }
}

TEST_F(ServeCommand, StreamsThePluginsEventsAndAsAnErrorEventOneItCannotConvert) {
  const std::string data = R"(data: {"uri":"/fake/v1/thing","eventType":"Update","data":"hello"})";
  const std::string tooDeep = R"(","message":"the value is nested more than 256 levels deep"})";
  const std::string events = ": connected\n\nevent: OnJsonApiEvent_fake_v1_thing\n" + data +
                             "\n\nevent: OnJsonApiEvent\n" + data + "\n\nevent: HostEventError\n" +
                             R"(data: {"event":"OnJsonApiEvent_fake_v1_thing)" + tooDeep +
                             "\n\nevent: HostEventError\n" + R"(data: {"event":"OnJsonApiEvent)" +
                             tooDeep + "\n\n";
  std::string received, published = "not yet";
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  client.Get("/host/v1/events", [&](const char* bytes, size_t size) {
    received.append(bytes, size);
    // The greeting says that the stream is registered, so from then on it sees what is published.
    if (received == ": connected\n\n") {
      published = Call("POST", "/fake/v1/publish", "hello");
      published += Call("POST", "/fake/v1/publish", "deep");
    }
    return received.size() < events.size();
  });
  EXPECT_EQ(published, "200 200 ") << "empty successes";
  EXPECT_EQ(received, events);
}

TEST_F(ServeCommand, ServesThePluginsMemoryStatistics) {
  const std::string stats = Call("GET", "/host/v1/stats");
  EXPECT_EQ(stats.rfind(R"(200 {"plugin":{"peakBytes":0,"peakBlocks":0,"bytesAllocated":0,)"
                        R"("blocksAllocated":0,"bytesFreed":0,"blocksFreed":0},"host":)"
                        R"({"residentBytes":)",
                        0),
            0u)
      << stats;
  EXPECT_NE(stats.find(R"(,"streamReaders":0}})"), std::string::npos) << stats;
}

TEST_F(ServeCommand, WarnsOfEachResourceTheFeatureReadsThatItDoesNotHave) {
  const std::string err = host.Stderr();
  for (const char* missing : {"/vyn-login/v1/login-data-packet in the configuration: the "
                              "player's shard (platformId)",
                              "/system/v1/builds in the configuration: the client's build"}) {
    EXPECT_NE(err.find(std::string("vyn-host: warning: no resource ") + missing), std::string::npos)
        << err;
  }
  EXPECT_EQ(err.find("no resource /tarnclient/region-locale"), std::string::npos) << err;
}

TEST_F(ServeCommand, StopsCleanlyOnAnInterruptToo) {
  EXPECT_EQ(host.WaitForExit(SIGINT), 0) << host.Stderr();
}

TEST(HostCommandLine, RefusesWhatItCannotRun) {
  const std::string fake = VYN_FAKE_PLUGIN_PATH, good = WriteFile("good.yaml", "/a: 1\n");
  const std::string list = WriteFile("list.yaml", "- /a\n- /b\n");
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"serve", fake}, 2, "vyn-host: serve needs --config FILE or --service embedded\nusage:"},
      {{"serve", fake, "--config"}, 2, "vyn-host: --config needs a value\n"},
      {{"serve", fake, "--port", "http"}, 2, "vyn-host: --port takes a whole number, not 'http'\n"},
      {{"serve", fake, "--service", "remote"},
       2,
       "vyn-host: --service takes 'embedded', not 'remote'\n"},
      {{"serve", fake, "--config", good + "x"}, 1, "vyn-host: " + good + "x: cannot be opened\n"},
      {{"serve", fake, "--config", list},
       1,
       "vyn-host: " + list + ": the top level is not a mapping from resource paths to values\n"},
      {{"serve", good + ".so", "--config", good}, 1, "vyn-host: " + good + ".so: "},
      {{"serve", fake, "--port", "65536"},
       2,
       "vyn-host: --port 65536 is out of range (0 to 65535)\n"},
      {{"serve", fake, "--verbose"}, 2, "vyn-host: unknown option '--verbose'\n"},
      {{"run", fake}, 2, "vyn-host: unknown command 'run'\n"},
      {{"demo", fake, "x"}, 2, "vyn-host: demo takes only the plugin\n"},
      {{"describe"}, 2, "vyn-host: describe needs the plugin, PLUGIN.so\nusage:"},
      {{"validate", fake, "--strictness", "0"}, 2, "vyn-host: the strictness is a whole number "},
      {{"validate", fake, "--strictness", "11"}, 2, "vyn-host: the strictness is a whole number "},
      {{"validate", fake, "--seed", "-1"}, 2, "vyn-host: the seed is a whole number\nusage:"},
      {{"validate", fake, "--strictness"}, 2, "vyn-host: the option '--strictness' needs a value"},
      {{"validate", fake, "--fast", "1"}, 2, "vyn-host: unknown option '--fast'\nusage:"},
  };
  for (const auto& [args, status, message] : cases) {
    std::string out, err;
    EXPECT_EQ(RunHost(args, out, err), status) << message;
    EXPECT_EQ(err.rfind(message, 0), 0u) << err;
  }
}

// The feedback plugin itself, its service inside the host and no configuration: a whole round.
TEST(ServeEmbeddedService, ServesARoundWithoutAConfiguration) {
  HostProcess host{{"serve", VYN_PLUGIN_PATH, "--service", "embedded"}};
  const int port = host.WaitForPort();
  ASSERT_GT(port, 0) << host.Stderr();
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10, 0);
  const char* const json = "application/json";
  const auto login = client.Put("/vyn-login/v1/session",
                                R"({"state":"SUCCEEDED","accountId":1,"summonerId":2,)"
                                R"("puuid":"p-1","idToken":"t"})",
                                json);
  const auto stats = client.Put("/vyn-end-of-game/v1/eog-stats-block",
                                R"({"gameId":3,"accountId":1,"summonerId":2,"teams":[]})", json);
  const auto survey = client.Get("/vyn-pft/v2/survey");
  ASSERT_TRUE(login && stats && survey);
  EXPECT_EQ(stats->body, R"({"uri":"/vyn-end-of-game/v1/eog-stats-block","eventType":"Create",)"
                         R"("delivered":1})");
  EXPECT_EQ(survey->status, 200) << survey->body;
  EXPECT_NE(survey->body.find(R"("id":4242)"), std::string::npos) << survey->body;
  EXPECT_EQ(host.WaitForExit(SIGTERM), 0);
  EXPECT_NE(host.Stderr().find("vyn-host: feedback service: survey 4242 offered to player p-1\n"),
            std::string::npos)
      << host.Stderr();
}

TEST(HostHelp, GoesToStandardOutputForEveryWayOfAsking) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {std::vector<std::string>{}, "usage: vyn-host describe PLUGIN.so [--json]\n"},
      {{"--help"}, "usage: vyn-host describe PLUGIN.so [--json]\n"},
      {{"-h"}, "usage: vyn-host describe PLUGIN.so [--json]\n"},
      {{"help"}, "usage: vyn-host describe PLUGIN.so [--json]\n"},
      {{"help", "serve"}, "usage: vyn-host serve PLUGIN.so [--config FILE] [--service embedded]"},
      {{"serve", "--help"}, "usage: vyn-host serve PLUGIN.so [--config FILE] [--service embedded]"},
      {{"describe", "x.so", "-h"}, "usage: vyn-host describe PLUGIN.so [--json]\n\nLoads"},
      {{"demo", "--help"}, "usage: vyn-host demo PLUGIN.so\n\nPlays one round"},
      {{"load", "--help"}, "usage: vyn-host load PLUGIN.so [--requests N]\n\nStarts"},
  };
  for (const auto& [args, help] : cases) {
    std::string out, err;
    EXPECT_EQ(RunHost(args, out, err), 0) << help;
    EXPECT_EQ(out.rfind(help, 0), 0u) << out;
    EXPECT_EQ(err, "");
  }
}

}  // namespace
}  // namespace vyn::test
