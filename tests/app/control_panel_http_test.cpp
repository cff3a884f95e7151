// The control panel over real loopback HTTP: the page, the token header,
// the Host check against rebinding, and Exit ending the server.
#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "app/CConfigurationSet.h"
#include "app/CTarvikDlg.h"
#include "runtime/PelLog.h"

namespace tarvik {
namespace {

const char* const kToken = "fedcba9876543210fedcba9876543210";

class ControlPanelHttpTest : public ::testing::Test {
 protected:
  ControlPanelHttpTest() {
    test::WriteAll(home.path() / "ConfigurationTemplate.ini", "[Settings]\nPORTNUM=0\n");
    set = std::make_unique<CConfigurationSet>(
        ConfigurationSetPaths{home.path() / "Configs", home.path() / "Tarvik_General.ini",
                              home.path() / "ConfigurationTemplate.ini"},
        test::FakeFactory(), log);
    dlg = std::make_unique<CTarvikDlg>(*set, kToken, log);
    port = dlg->Bind("127.0.0.1", 0);
    dlg->Start();
  }
  httplib::Client Client() {
    httplib::Client c("127.0.0.1", port);
    c.set_connection_timeout(5);
    return c;
  }

  test::TempProgramFolder home;
  PelLog log;
  std::unique_ptr<CConfigurationSet> set;
  std::unique_ptr<CTarvikDlg> dlg;
  int port = -1;
};

TEST_F(ControlPanelHttpTest, PageTokenAndHostRules) {
  ASSERT_GT(port, 0);
  EXPECT_EQ(dlg->Url(), "http://127.0.0.1:" + std::to_string(port) + "/#token=" + kToken);
  auto c = Client();
  auto page = c.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Transformation Module Settings"), std::string::npos);
  EXPECT_EQ(page->body.find(kToken), std::string::npos);     // the page never carries the token
  EXPECT_EQ(page->body.find("http://"), std::string::npos);  // nothing is fetched from elsewhere
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"),
            std::string::npos);

  const std::string body = R"({"name":"Nord","port":2101})";
  auto r = c.Post("/api/add", body, "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 403);
  EXPECT_EQ(set->Count(), 0u);

  r = c.Post("/api/add", {{"X-Tarvik-Token", kToken}}, body, "application/json");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_TRUE(nlohmann::json::parse(r->body)["ok"]);
  EXPECT_EQ(set->Count(), 1u);

  // A name that resolves to loopback but is not ours: refused even with the token.
  auto get =
      c.Get("/api/state", {{"X-Tarvik-Token", kToken}, {"Host", "rebind.example:" + std::to_string(port)}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 403);
  get = c.Get("/api/state", {{"X-Tarvik-Token", kToken}, {"Host", "localhost:" + std::to_string(port)}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
}

TEST_F(ControlPanelHttpTest, ExitEndsTheServerOnlyWhenNothingRuns) {
  auto c = Client();
  ASSERT_TRUE(
      c.Post("/api/add", {{"X-Tarvik-Token", kToken}}, R"({"name":"A","port":2101})", "application/json"));
  ASSERT_EQ(set->Find("A")->Start(), 1);
  auto r = c.Post("/api/exit", {{"X-Tarvik-Token", kToken}}, "{}", "application/json");
  ASSERT_TRUE(r);
  EXPECT_FALSE(nlohmann::json::parse(r->body)["ok"]);
  EXPECT_FALSE(dlg->ExitRequested());

  set->Find("A")->Stop();
  r = c.Post("/api/exit", {{"X-Tarvik-Token", kToken}}, "{}", "application/json");
  ASSERT_TRUE(r);
  EXPECT_TRUE(nlohmann::json::parse(r->body)["ok"]);
  dlg->Wait();  // returns because Exit closed the panel
  EXPECT_TRUE(dlg->ExitRequested());
}

TEST(ControlPanelBindTest, BusyPortAndCloseBeforeServing) {
  test::TempProgramFolder home;
  PelLog log;
  CConfigurationSet set({home.path() / "Configs", home.path() / "g.ini", home.path() / "t.ini"},
                        test::FakeFactory(), log);
  CTarvikDlg first(set, kToken, log);
  int port = first.Bind("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  CTarvikDlg second(set, kToken, log);
  EXPECT_EQ(second.Bind("127.0.0.1", port), -1);
  // Closing at once after the start must not leave the serving thread behind.
  first.Start();
  first.Close();
}

}  // namespace
}  // namespace tarvik
