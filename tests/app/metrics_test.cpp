// The metrics page: the text format (escaping, values, cumulative histogram
// buckets), the families of the program's page, the metrics server that
// serves nothing but /metrics, and /metrics on the panel behind its token.

#include <gtest/gtest.h>
#include <httplib.h>

#include <map>
#include <regex>
#include <sstream>

#include "AppTestSupport.h"
#include "app/CConfigurationSet.h"
#include "app/CTarvikDlg.h"
#include "app/MetricsExposition.h"
#include "app/MetricsReport.h"
#include "app/MetricsServer.h"
#include "runtime/PelLog.h"
#include "service/SessionMetrics.h"

namespace tarvik {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Checks the page line by line as a scraper reads it: comments of the form
// "# HELP name text" / "# TYPE name type", each family announced once and
// before its samples, sample lines "name{l="v",...} value" of the family
// last announced (a histogram's with its _bucket, _sum and _count suffixes).
// Returns the samples as "name{labels}" -> value text.
std::map<std::string, std::string> ParsePage(const std::string& page) {
  static const std::regex sample(
      R"(^([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="(\\[\\"n]|[^"\\\n])*",?)*\})? ([^ ]+)$)");
  static const std::regex value(R"(^([+-]Inf|NaN|-?[0-9]+(\.[0-9]+)?([eE][+-]?[0-9]+)?)$)");
  std::map<std::string, std::string> samples;
  std::map<std::string, std::string> types;
  std::string family, type;
  EXPECT_FALSE(page.empty());
  EXPECT_EQ(page.back(), '\n');
  for (const std::string& line : Lines(page)) {
    if (line.rfind("# HELP ", 0) == 0) {
      family = line.substr(7, line.find(' ', 7) - 7);
      continue;
    }
    if (line.rfind("# TYPE ", 0) == 0) {
      std::istringstream in(line.substr(7));
      std::string name;
      in >> name >> type;
      EXPECT_EQ(name, family) << "TYPE right after its HELP: " << line;
      EXPECT_TRUE(type == "counter" || type == "gauge" || type == "histogram") << line;
      EXPECT_TRUE(types.emplace(name, type).second) << "family announced twice: " << name;
      if (type == "counter") {
        EXPECT_EQ(name.substr(name.size() - 6), "_total") << name;
      }
      continue;
    }
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, sample)) << "not a sample line: " << line;
    if (m.empty()) continue;
    std::string name = m[1];
    if (type == "histogram")
      for (const char* suffix : {"_bucket", "_sum", "_count"})
        if (name == family + suffix) name = family;
    EXPECT_EQ(name, family) << "sample outside its family: " << line;
    const std::string v = m[5];
    EXPECT_TRUE(std::regex_match(v, value)) << line;
    EXPECT_TRUE(samples.emplace(line.substr(0, line.rfind(' ')), v).second) << "sample twice: " << line;
  }
  return samples;
}

TEST(MetricsExpositionTest, LabelValuesAndHelpTextsAreEscaped) {
  EXPECT_EQ(EscapeLabelValue(R"(a\b"c)"), R"(a\\b\"c)");
  EXPECT_EQ(EscapeLabelValue("two\nlines"), "two\\nlines");
  EXPECT_EQ(EscapeLabelValue("Zürich Süd €"), "Zürich Süd €");  // UTF-8 is kept
  EXPECT_EQ(EscapeLabelValue("\xF0\x9F\x9B\xB0"), "\xF0\x9F\x9B\xB0");
  const std::string bad = "\xEF\xBF\xBD";
  EXPECT_EQ(EscapeLabelValue("Z\xFCrich"), "Z" + bad + "rich");            // Latin-1
  EXPECT_EQ(EscapeLabelValue("end\xC3"), "end" + bad);                     // cut short
  EXPECT_EQ(EscapeLabelValue("\xC0\xAF"), bad + bad);                      // overlong "/"
  EXPECT_EQ(EscapeLabelValue("\xED\xA0\x80"), bad + bad + bad);            // a surrogate
  EXPECT_EQ(EscapeLabelValue("\xF4\x90\x80\x80"), bad + bad + bad + bad);  // beyond U+10FFFF
  EXPECT_EQ(EscapeLabelValue("\x80\"\xFF"), bad + "\\\"" + bad);           // stray bytes
  EXPECT_EQ(EscapeLabelValue(std::string("a\0b", 3)), std::string("a\0b", 3));

  EXPECT_EQ(EscapeHelpText("a \"quoted\" \\ text\nmore"), "a \"quoted\" \\\\ text\\nmore");

  MetricsExposition out;
  out.Family("x_total", "counter", "Help with a\nline break.");
  out.Sample("x_total", {{"configuration", "Nord \"1\""}, {"code", "-2007"}},
             std::uint64_t{18446744073709551615u});
  out.Sample("x_total", {}, std::int64_t{-3});
  EXPECT_EQ(out.Text(),
            "# HELP x_total Help with a\\nline break.\n"
            "# TYPE x_total counter\n"
            "x_total{configuration=\"Nord \\\"1\\\"\",code=\"-2007\"} 18446744073709551615\n"
            "x_total -3\n");
}

TEST(MetricsExpositionTest, ValuesReadBackAsTheSameNumber) {
  EXPECT_EQ(FormatMetricValue(0.0001), "0.0001");
  EXPECT_EQ(FormatMetricValue(2.5), "2.5");
  EXPECT_EQ(FormatMetricValue(10.0), "10");
  EXPECT_EQ(FormatMetricValue(0.0), "0");
  EXPECT_EQ(FormatMetricValue(86400.5), "86400.5");
  EXPECT_EQ(FormatMetricValue(-0.25), "-0.25");
  EXPECT_EQ(FormatMetricValue(0.00001), "1e-05");
  EXPECT_EQ(FormatMetricValue(1e21), "1e+21");
  EXPECT_EQ(FormatMetricValue(123456789012.0), "123456789012");
  EXPECT_EQ(FormatMetricValue(std::numeric_limits<double>::infinity()), "+Inf");
  EXPECT_EQ(FormatMetricValue(-std::numeric_limits<double>::infinity()), "-Inf");
  EXPECT_EQ(FormatMetricValue(std::numeric_limits<double>::quiet_NaN()), "NaN");
  for (double v : {1.0 / 3.0, 123456.789e20, -7.25e-12, 86400.123456})
    EXPECT_EQ(std::stod(FormatMetricValue(v)), v) << FormatMetricValue(v);
}

TEST(MetricsExpositionTest, HistogramBucketsAddUpAndEndWithInfEqualToTheCount) {
  HistogramSnapshot h;
  h.upperBounds = {0.001, 0.5, 2.0};
  h.counts = {2, 0, 3, 4};  // 4 above the highest bound
  h.sum = 21.75;
  MetricsExposition out;
  out.Family("d_seconds", "histogram", "Durations.");
  out.Histogram("d_seconds", {{"configuration", "A"}}, h);
  EXPECT_EQ(out.Text(),
            "# HELP d_seconds Durations.\n"
            "# TYPE d_seconds histogram\n"
            "d_seconds_bucket{configuration=\"A\",le=\"0.001\"} 2\n"
            "d_seconds_bucket{configuration=\"A\",le=\"0.5\"} 2\n"
            "d_seconds_bucket{configuration=\"A\",le=\"2\"} 5\n"
            "d_seconds_bucket{configuration=\"A\",le=\"+Inf\"} 9\n"
            "d_seconds_sum{configuration=\"A\"} 21.75\n"
            "d_seconds_count{configuration=\"A\"} 9\n");

  // Nothing observed yet: every bucket 0, and still a +Inf bucket.
  MetricsExposition empty;
  empty.Histogram("e", {}, LatencyHistogram().Read());
  const auto lines = Lines(empty.Text());
  ASSERT_EQ(lines.size(), LatencyHistogram::kUpperBoundsNs.size() + 3);
  EXPECT_EQ(lines.front(), "e_bucket{le=\"0.0001\"} 0");
  EXPECT_EQ(lines[lines.size() - 3], "e_bucket{le=\"+Inf\"} 0");
  EXPECT_EQ(lines.back(), "e_count 0");
}

ConfigurationFigures Figures(const std::string& name, const std::string& state) {
  ConfigurationFigures c{name, state, {}};
  return c;
}

TEST(MetricsReportTest, EveryFamilyOnceWithOneStatePerConfigurationAndCountsByCode) {
  SessionMetrics counted;
  counted.SessionOpened();
  counted.SessionOpened();
  counted.SessionClosed();
  for (int i = 0; i < 5; ++i) counted.RequestAnswered(1, std::chrono::microseconds(300));
  counted.RequestAnswered(-2007, std::chrono::milliseconds(3));
  counted.RequestAnswered(-1000, std::chrono::seconds(20));
  counted.SendTimedOut();

  std::vector<ConfigurationFigures> set = {Figures("Nord", "running"), Figures("Süd \"B\"\\x", "problems"),
                                           Figures("Idle", "ready")};
  set[0].figures.sessions = counted.Read();
  set[0].figures.databases = {3, 1};
  const std::string page = RenderMetrics(set, {"2.4.1", 12.5});
  const auto s = ParsePage(page);

  EXPECT_EQ(s.at("tarvik_build_info{version=\"2.4.1\"}"), "1");
  EXPECT_EQ(s.at("tarvik_uptime_seconds"), "12.5");
  const std::map<std::string, std::string> states = {{"Nord", "running"}, {"Idle", "ready"}};
  for (const auto& [name, state] : states)
    for (const char* st : {"running", "ready", "problems"})
      EXPECT_EQ(s.at("tarvik_configuration_state{configuration=\"" + name + "\",state=\"" + st + "\"}"),
                std::string(st) == state ? "1" : "0");
  EXPECT_EQ(s.at(R"(tarvik_configuration_state{configuration="Süd \"B\"\\x",state="problems"})"), "1");

  EXPECT_EQ(s.at(R"(tarvik_requests_total{configuration="Nord",code="1"})"), "5");
  EXPECT_EQ(s.at(R"(tarvik_requests_total{configuration="Nord",code="-2007"})"), "1");
  EXPECT_EQ(s.at(R"(tarvik_requests_total{configuration="Nord",code="-1000"})"), "1");
  EXPECT_EQ(s.count(R"(tarvik_requests_total{configuration="Idle",code="1"})"), 0u);
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_bucket{configuration="Nord",le="0.00025"})"), "0");
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_bucket{configuration="Nord",le="0.0005"})"), "5");
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_bucket{configuration="Nord",le="0.005"})"), "6");
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_bucket{configuration="Nord",le="10"})"), "6");
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_bucket{configuration="Nord",le="+Inf"})"), "7");
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_count{configuration="Nord"})"), "7");
  EXPECT_EQ(std::stod(s.at(R"(tarvik_request_duration_seconds_sum{configuration="Nord"})")), 20.0045);
  EXPECT_EQ(s.at(R"(tarvik_request_duration_seconds_count{configuration="Idle"})"), "0");
  EXPECT_EQ(s.at(R"(tarvik_sessions_open{configuration="Nord"})"), "1");
  EXPECT_EQ(s.at(R"(tarvik_sessions_total{configuration="Nord"})"), "2");
  EXPECT_EQ(s.at(R"(tarvik_send_timeouts_total{configuration="Nord"})"), "1");
  EXPECT_EQ(s.at(R"(tarvik_send_failures_total{configuration="Nord"})"), "0");
  EXPECT_EQ(s.at(R"(tarvik_database_loads_total{configuration="Nord"})"), "3");
  EXPECT_EQ(s.at(R"(tarvik_database_load_failures_total{configuration="Nord"})"), "1");

  // With no configuration the page still announces every family.
  const std::string bare = RenderMetrics({}, {"1", 0.0});
  ParsePage(bare);
  for (const char* family :
       {"tarvik_requests_total", "tarvik_request_duration_seconds", "tarvik_sessions_open",
        "tarvik_database_loads_total", "tarvik_configuration_state"})
    EXPECT_NE(bare.find(std::string("# TYPE ") + family + " "), std::string::npos) << family;
}

TEST(MetricsReportTest, TheSetsConfigurationsAppearWithTheirStates) {
  test::TempProgramFolder home;
  test::WriteAll(home.path() / "ConfigurationTemplate.ini", "[Settings]\nPORTNUM=0\n");
  PelLog log;
  CConfigurationSet set({home.path() / "Configs", home.path() / "Tarvik_General.ini",
                         home.path() / "ConfigurationTemplate.ini"},
                        test::FakeFactory(), log);
  ASSERT_TRUE(set.AddConfiguration("A", 2101).ok);
  ASSERT_TRUE(set.AddConfiguration("B", 2102).ok);
  test::WriteAll(home.path() / "Configs" / "B" / "B.ini", "[Settings]\nPORTNUM=2102\nBroken=1\n");
  set.Find("B")->ReadConfiguration();
  ASSERT_EQ(set.Find("A")->Start(), 1);
  const auto s = ParsePage(MetricsPage(set));
  EXPECT_EQ(s.at(R"(tarvik_configuration_state{configuration="A",state="running"})"), "1");
  EXPECT_EQ(s.at(R"(tarvik_configuration_state{configuration="B",state="problems"})"), "1");
  EXPECT_EQ(s.at(R"(tarvik_configuration_state{configuration="B",state="ready"})"), "0");
  EXPECT_EQ(s.at(R"(tarvik_sessions_open{configuration="A"})"), "0");
  EXPECT_GE(std::stod(s.at("tarvik_uptime_seconds")), 0.0);
  set.Find("A")->Stop();
}

class MetricsServerTest : public ::testing::Test {
 protected:
  MetricsServerTest()
      : server([this] {
          ++pages;
          return std::string("# HELP t_total T.\n# TYPE t_total counter\nt_total 1\n");
        }) {
    port = server.Bind("127.0.0.1", 0);
    server.Start();
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", port);
    c.set_connection_timeout(5);
    c.set_read_timeout(5, 0);
    return c;
  }
  std::atomic<int> pages{0};
  MetricsServer server;
  int port = -1;
};

TEST_F(MetricsServerTest, ServesOnlyMetricsWithoutTokenAndNothingElse) {
  ASSERT_GT(port, 0);
  auto c = Client();
  auto r = c.Get("/metrics");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), kMetricsContentType);
  EXPECT_EQ(r->body, "# HELP t_total T.\n# TYPE t_total counter\nt_total 1\n");
  r = c.Get("/metrics?format=anything", {{"Host", "scraper.example"}});  // any host name
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  r = c.Head("/metrics");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(pages.load(), 3);

  for (const char* path : {"/", "/api/state", "/api/exit", "/metrics/", "/metricsx", "/favicon.ico"}) {
    r = c.Get(path, {{"X-Tarvik-Token", "anything"}});
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404) << path;
    EXPECT_EQ(r->body.find("t_total"), std::string::npos) << path;
  }
  r = c.Post("/api/exit", "{}", "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 404);
  for (auto send : {+[](httplib::Client& k) { return k.Post("/metrics", "x", "text/plain"); },
                    +[](httplib::Client& k) { return k.Put("/metrics", "x", "text/plain"); },
                    +[](httplib::Client& k) { return k.Delete("/metrics"); }}) {
    r = send(c);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 405);
    EXPECT_EQ(r->get_header_value("Allow"), "GET, HEAD");
  }
  EXPECT_EQ(pages.load(), 3);
}

TEST_F(MetricsServerTest, ABusyAddressIsRefusedAndCloseEndsServing) {
  MetricsServer second([] { return std::string(); });
  EXPECT_EQ(second.Bind("127.0.0.1", port), MetricsServer::kNotBound);
  EXPECT_EQ(second.Bind("not an address", 0), MetricsServer::kNotBound);
  server.Close();
  auto c = Client();
  c.set_connection_timeout(1);
  auto r = c.Get("/metrics");
  EXPECT_TRUE(!r || r->status != 200);
}

TEST(PanelMetricsTest, ThePanelServesMetricsBehindItsTokenAndHostCheck) {
  test::TempProgramFolder home;
  PelLog log;
  CConfigurationSet set({home.path() / "Configs", home.path() / "g.ini", home.path() / "t.ini"},
                        test::FakeFactory(), log);
  const std::string token = "0123456789abcdef0123456789abcdef";
  CTarvikDlg dlg(set, token, log);
  const int port = dlg.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  dlg.Start();
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(5, 0);
  auto r = c.Get("/metrics");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(r->body.find("tarvik_"), std::string::npos);
  r = c.Get("/metrics", {{"X-Tarvik-Token", token}, {"Host", "rebind.example"}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  r = c.Get("/metrics", {{"X-Tarvik-Token", token}});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->get_header_value("Content-Type"), kMetricsContentType);
  ParsePage(r->body);
  EXPECT_NE(r->body.find("tarvik_build_info{version=\""), std::string::npos);
  dlg.Close();
}

}  // namespace
}  // namespace tarvik
