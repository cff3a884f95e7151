// The real Tarvik on the demo folder with --metrics-address: requests of
// each kind against the configurations, then the metrics page read as a
// scraper reads it (counts by result code, the histogram's count, the
// sessions gauge, the states and database loads), and the metrics address
// serving nothing else.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "E2eReplies.h"
#include "TarvikProcess.h"

using namespace e2etest;

namespace {

constexpr double kInLat = 47.8, kInLon = 14.9, kInHeight = 500.0;  // inside the demo database
constexpr double kOutLat = 52.5, kOutLon = 13.4;                   // far outside it

// "name{labels}" -> value of every sample line.
std::map<std::string, std::string> Samples(const std::string& page) {
  std::map<std::string, std::string> out;
  std::istringstream in(page);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.rfind(' ');
    out[line.substr(0, space)] = line.substr(space + 1);
  }
  return out;
}

class MetricsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home.Ok());
    metricsPort = FreePort();
    server = std::make_unique<TarvikProcess>(
        home.Path(), std::vector<int>{home.BinaryPort(), home.AsciiPort(), home.XmlPort(), metricsPort},
        std::vector<std::string>{"--metrics-address", "127.0.0.1:" + std::to_string(metricsPort)});
    ASSERT_TRUE(server->Running()) << server->Output();
  }
  void TearDown() override {
    if (server) {
      EXPECT_EQ(server->Stop(SIGTERM), 0) << server->Output();
    }
  }

  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) {
    httplib::Client c("127.0.0.1", metricsPort);
    c.set_read_timeout(10, 0);
    return c.Get(path, headers);
  }
  std::map<std::string, std::string> Scrape() {
    auto r = Get("/metrics");
    EXPECT_TRUE(r && r->status == 200);
    return r && r->status == 200 ? Samples(r->body) : std::map<std::string, std::string>{};
  }
  // Scrapes until `key` reads `value` (sessions start and end on their own threads).
  std::map<std::string, std::string> ScrapeUntil(const std::string& key, const std::string& value) {
    std::map<std::string, std::string> s;
    for (int i = 0; i < 200; ++i) {
      s = Scrape();
      if (s[key] == value) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return s;
  }

  DemoHome home;
  int metricsPort = 0;
  std::unique_ptr<TarvikProcess> server;
};

TEST_F(MetricsEndToEnd, RequestsByCodeDurationsSessionsAndStatesOfTheRunningProgram) {
  // The start connected to every port (maybe more than once) to see it
  // serving; those sessions are counted too, once they have come and gone.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (const char* name : {"DemoBinary", "DemoAscii", "DemoXml"})
    ScrapeUntil(std::string("tarvik_sessions_open{configuration=\"") + name + "\"}", "0");
  auto s = Scrape();
  std::map<std::string, int> sessionsBefore;
  for (const char* name : {"DemoBinary", "DemoAscii", "DemoXml"}) {
    const std::string c = std::string("{configuration=\"") + name + "\"";
    sessionsBefore[name] = std::stoi(s[std::string("tarvik_sessions_total") + c + "}"]);
    EXPECT_EQ(s[std::string("tarvik_configuration_state") + c + ",state=\"running\"}"], "1") << name;
    EXPECT_EQ(s[std::string("tarvik_configuration_state") + c + ",state=\"ready\"}"], "0") << name;
    EXPECT_EQ(s[std::string("tarvik_database_loads_total") + c + "}"], "1") << name;
    EXPECT_EQ(s[std::string("tarvik_database_load_failures_total") + c + "}"], "0") << name;
    EXPECT_EQ(s[std::string("tarvik_request_duration_seconds_count") + c + "}"], "0") << name;
  }
  EXPECT_EQ(s.count("tarvik_uptime_seconds"), 1u);
  bool versioned = false;
  for (const auto& [key, value] : s)
    versioned |= key.rfind("tarvik_build_info{version=\"", 0) == 0 && value == "1";
  EXPECT_TRUE(versioned);

  {
    // Two idle rovers on DemoXml count as open sessions while connected.
    Connection idle1(home.XmlPort()), idle2(home.XmlPort());
    ASSERT_TRUE(idle1.Connected() && idle2.Connected());
    s = ScrapeUntil(R"(tarvik_sessions_open{configuration="DemoXml"})", "2");
    EXPECT_EQ(s[R"(tarvik_sessions_open{configuration="DemoXml"})"], "2");

    Connection ascii(home.AsciiPort());
    ASSERT_TRUE(ascii.Connected());
    for (int i = 0; i < 4; ++i) {
      ascii.Send(Gga(kInLat, kInLon + 0.01 * i, kInHeight));
      ASSERT_EQ(Split(ascii.ReadReplies(3)).texts.size(), 3u);
    }
    for (int i = 0; i < 2; ++i) {
      ascii.Send(Gga(kOutLat, kOutLon, 100.0));
      ASSERT_EQ(Split(ascii.ReadReplies(3)).texts.size(), 3u);
    }
    // The bare error text has no "*"; the mode word (not counted) ends it.
    ascii.Send("hello*");
    ascii.Send("getmode*");
    EXPECT_EQ(ascii.ReadReplies(1), "Error: Unknown request.ASCII*");

    Connection binary(home.BinaryPort());
    for (int i = 0; i < 3; ++i) {
      binary.Send(Gga(kInLat, kInLon, kInHeight));
      ASSERT_EQ(Split(binary.ReadReplies(3)).frames.size(), 3u);
    }
  }
  // Every session has ended once the gauges are back at 0, and each counted
  // its last request before it ended.
  ScrapeUntil(R"(tarvik_sessions_open{configuration="DemoXml"})", "0");
  ScrapeUntil(R"(tarvik_sessions_open{configuration="DemoBinary"})", "0");
  s = ScrapeUntil(R"(tarvik_sessions_open{configuration="DemoAscii"})", "0");

  EXPECT_EQ(s[R"(tarvik_requests_total{configuration="DemoAscii",code="1"})"], "4");
  EXPECT_EQ(s[R"(tarvik_requests_total{configuration="DemoAscii",code="-2007"})"], "2");
  EXPECT_EQ(s[R"(tarvik_requests_total{configuration="DemoAscii",code="-1000"})"], "1");
  EXPECT_EQ(s[R"(tarvik_request_duration_seconds_count{configuration="DemoAscii"})"], "7");
  EXPECT_EQ(s[R"(tarvik_request_duration_seconds_bucket{configuration="DemoAscii",le="+Inf"})"], "7");
  EXPECT_GT(std::stod(s[R"(tarvik_request_duration_seconds_sum{configuration="DemoAscii"})"]), 0.0);
  EXPECT_EQ(s[R"(tarvik_requests_total{configuration="DemoBinary",code="1"})"], "3");
  EXPECT_EQ(s[R"(tarvik_request_duration_seconds_count{configuration="DemoBinary"})"], "3");
  EXPECT_EQ(s.count(R"(tarvik_requests_total{configuration="DemoXml",code="1"})"), 0u);
  EXPECT_EQ(std::stoi(s[R"(tarvik_sessions_total{configuration="DemoXml"})"]) - sessionsBefore["DemoXml"], 2);
  EXPECT_EQ(std::stoi(s[R"(tarvik_sessions_total{configuration="DemoAscii"})"]) - sessionsBefore["DemoAscii"],
            1);
  EXPECT_EQ(s[R"(tarvik_sessions_open{configuration="DemoXml"})"], "0");
  EXPECT_EQ(s[R"(tarvik_send_failures_total{configuration="DemoAscii"})"], "0");
  EXPECT_EQ(s[R"(tarvik_send_timeouts_total{configuration="DemoAscii"})"], "0");
}

TEST_F(MetricsEndToEnd, TheMetricsAddressServesOnlyMetricsAndNeedsNoToken) {
  auto r = Get("/metrics");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  for (const char* path : {"/", "/api/state", "/api/about", "/api/log?name=DemoAscii"}) {
    r = Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404) << path;
  }
  // Not even with the panel's token (the panel does not run here at all).
  const std::string token = [&] {
    std::ifstream in(home.Path() / "Tarvik_Panel.token");
    std::string t;
    in >> t;
    return t.empty() ? std::string("0123456789abcdef0123456789abcdef") : t;
  }();
  r = Get("/api/state", {{"X-Tarvik-Token", token}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
  httplib::Client c("127.0.0.1", metricsPort);
  auto post = c.Post("/api/stop", {{"X-Tarvik-Token", token}}, R"({"name":"DemoAscii"})", "application/json");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 404);
  post = c.Post("/metrics", "", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  // The configuration still serves.
  Connection ascii(home.AsciiPort());
  ascii.Send("getmode*");
  EXPECT_EQ(ascii.ReadReplies(1), "ASCII*");
  EXPECT_NE(server->Output().find("Metrics at http://127.0.0.1:" + std::to_string(metricsPort) + "/metrics"),
            std::string::npos);
}

}  // namespace
