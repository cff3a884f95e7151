// The control panel's routes without HTTP: token, enabling rules, refusal
// texts, the file editor and the log view.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "AppTestSupport.h"
#include "app/CConfigurationSet.h"
#include "app/PanelApi.h"
#include "app/PanelButtons.h"
#include "runtime/PelLog.h"

namespace tarvik {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::ReadAll;
using test::WriteAll;

const char* const kToken = "0123456789abcdef0123456789abcdef";

class PanelApiTest : public ::testing::Test {
 protected:
  PanelApiTest() {
    WriteAll(home.path() / "ConfigurationTemplate.ini", "[Settings]\nPORTNUM=0\nMode=LOCAL\n");
    WriteAll(home.path() / "Tarvik_General.ini", "[Configurations]\nPath=.\\Configs\n");
    set = std::make_unique<CConfigurationSet>(
        ConfigurationSetPaths{home.path() / "Configs", home.path() / "Tarvik_General.ini",
                              home.path() / "ConfigurationTemplate.ini"},
        test::FakeFactory(), log);
    api = std::make_unique<PanelApi>(*set, kToken, log);
  }
  json Call(const std::string& method, const std::string& path, const json& body = json::object(),
            std::map<std::string, std::string> params = {}, int expectStatus = 200) {
    PanelRequest r{method, path, std::move(params), kToken, body.dump()};
    PanelResponse res = api->Handle(r);
    EXPECT_EQ(res.status, expectStatus) << method << " " << path << " " << res.body;
    return json::parse(res.body);
  }
  json Config(const std::string& name) {
    json state = Call("GET", "/api/state");
    for (auto& c : state["configurations"])
      if (c["name"] == name) return c;
    return {};
  }

  test::TempProgramFolder home;
  PelLog log;
  std::unique_ptr<CConfigurationSet> set;
  std::unique_ptr<PanelApi> api;
};

TEST(PanelButtonsTest, EnablingRules) {
  PanelButtons none = ComputePanelButtons(nullptr, false);
  EXPECT_TRUE(none.add && none.exit);
  EXPECT_FALSE(none.copy || none.remove || none.configure || none.problems || none.startStop);
  EXPECT_FALSE(ComputePanelButtons(nullptr, true).exit);

  SelectedState ready{true, false, false};
  PanelButtons b = ComputePanelButtons(&ready, false);
  EXPECT_TRUE(b.add && b.copy && b.remove && b.configure && b.startStop && b.exit);
  EXPECT_FALSE(b.problems || b.startStopReadsStop);

  SelectedState running{true, true, false};
  b = ComputePanelButtons(&running, true);
  EXPECT_FALSE(b.add || b.copy || b.remove || b.configure || b.exit);
  EXPECT_TRUE(b.startStop && b.startStopReadsStop);

  // Another configuration runs: the selected idle one is editable, Exit is not.
  b = ComputePanelButtons(&ready, true);
  EXPECT_TRUE(b.remove && b.configure);
  EXPECT_FALSE(b.exit);

  SelectedState broken{false, false, true};
  b = ComputePanelButtons(&broken, false);
  EXPECT_FALSE(b.startStop);
  EXPECT_TRUE(b.problems && b.configure && b.remove);
}

TEST_F(PanelApiTest, EveryRouteNeedsTheToken) {
  for (auto [method, path] : {std::pair{"GET", "/api/state"},
                              {"POST", "/api/add"},
                              {"POST", "/api/exit"},
                              {"POST", "/api/file"},
                              {"GET", "/api/log"}}) {
    for (std::string token : {"", "0123456789abcdef0123456789abcdee", "0123456789abcdef"}) {
      PanelResponse r = api->Handle({method, path, {}, token, R"({"name":"X","port":2101})"});
      EXPECT_EQ(r.status, 403) << path << " " << token;
    }
  }
  EXPECT_EQ(set->Count(), 0u);
  EXPECT_FALSE(api->ExitRequested());
}

TEST_F(PanelApiTest, AddShowsTheTextsAndStateFollowsStartAndStop) {
  EXPECT_EQ(Call("POST", "/api/add", {{"name", ""}, {"port", 2101}})["message"], "Please specify a name.");
  json r = Call("POST", "/api/add", {{"name", "Nord"}, {"port", "2101"}});
  EXPECT_TRUE(r["ok"]);
  EXPECT_EQ(r["message"], "The configuration Nord was added. Please configure the module before start.");
  r = Call("POST", "/api/add", {{"name", "Sued"}, {"port", 2101}});
  EXPECT_FALSE(r["ok"]);
  EXPECT_EQ(r["message"], "Port 2101 is already in use. Please choose another port.");
  EXPECT_FALSE(Call("POST", "/api/add", {{"name", "Sued"}, {"port", "21x"}})["ok"]);

  json c = Config("Nord");
  EXPECT_EQ(c["state"], "ready");
  EXPECT_EQ(c["icon"], 2);
  EXPECT_EQ(c["startTime"], "");
  EXPECT_EQ(c["buttons"]["startStopText"], "Start");

  EXPECT_TRUE(Call("POST", "/api/start", {{"name", "Nord"}})["ok"]);
  c = Config("Nord");
  EXPECT_EQ(c["state"], "running");
  EXPECT_EQ(c["icon"], 0);
  EXPECT_EQ(c["buttons"]["startStopText"], "Stop");
  EXPECT_FALSE(c["buttons"]["remove"]);
  EXPECT_EQ(c["startTime"].get<std::string>().size(), 19u);  // dd.mm.yyyy hh:mm:ss
  EXPECT_FALSE(Call("GET", "/api/state")["noSelection"]["exit"]);
  EXPECT_FALSE(Call("POST", "/api/exit")["ok"]);
  EXPECT_FALSE(Call("POST", "/api/remove", {{"name", "Nord"}})["ok"]);
  EXPECT_FALSE(Call("POST", "/api/file", {{"name", "Nord"}, {"text", "x"}})["ok"]);

  EXPECT_TRUE(Call("POST", "/api/stop", {{"name", "Nord"}})["ok"]);
  EXPECT_EQ(Config("Nord")["state"], "ready");
  EXPECT_TRUE(Call("POST", "/api/exit")["ok"]);
  EXPECT_TRUE(api->ExitRequested());
}

TEST_F(PanelApiTest, ProblemsAreShownAndBlockTheStart) {
  ASSERT_TRUE(Call("POST", "/api/add", {{"name", "Bad"}, {"port", 2101}})["ok"]);
  json r = Call("GET", "/api/file", {}, {{"name", "Bad"}});
  ASSERT_TRUE(r["ok"]);
  std::string text = r["text"].get<std::string>() + "Broken=1\n";
  r = Call("POST", "/api/file", {{"name", "Bad"}, {"text", text}});
  EXPECT_TRUE(r["ok"]);
  EXPECT_FALSE(r["valid"]);
  EXPECT_EQ(ReadAll(home.path() / "Configs" / "Bad" / "Bad.ini"), text);

  json c = Config("Bad");
  EXPECT_EQ(c["state"], "problems");
  EXPECT_EQ(c["icon"], 1);
  EXPECT_FALSE(c["buttons"]["startStop"]);
  EXPECT_TRUE(c["buttons"]["problems"]);
  EXPECT_EQ(Call("GET", "/api/problems", {}, {{"name", "Bad"}})["text"],
            "Problems in configuration: \n\nReadConfiguration Bad: Broken.\n\n");
  EXPECT_FALSE(Call("POST", "/api/start", {{"name", "Bad"}})["ok"]);
}

TEST_F(PanelApiTest, NoRouteReachesAFileOutsideTheSet) {
  WriteAll(home.path() / "secret.ini", "secret");
  for (std::string name : {"../secret", "..", "../Configs/../secret", ""}) {
    Call("GET", "/api/file", {}, {{"name", name}}, 404);
    Call("POST", "/api/file", {{"name", name}, {"text", "x"}}, {}, 404);
    Call("GET", "/api/log", {}, {{"name", name}}, 404);
    Call("POST", "/api/remove", {{"name", name}}, {}, 404);
  }
  EXPECT_EQ(ReadAll(home.path() / "secret.ini"), "secret");
  EXPECT_EQ(api->Handle({"POST", "/api/add", {}, kToken, "not json"}).status, 400);
  EXPECT_EQ(api->Handle({"DELETE", "/api/state", {}, kToken, ""}).status, 404);
}

TEST_F(PanelApiTest, LogViewFollowsTheCurrentFileInWholeLines) {
  ASSERT_TRUE(Call("POST", "/api/add", {{"name", "Nord"}, {"port", 2101}})["ok"]);
  PelLog nord("Nord");
  nord.write(0, PelLogInfo, "Tarvik:Nord", "first line");
  json r = Call("GET", "/api/log", {}, {{"name", "Nord"}});
  EXPECT_TRUE(r["reset"]);
  EXPECT_NE(r["text"].get<std::string>().find("first line"), std::string::npos);
  const std::string file = r["file"];
  const auto offset = r["offset"].get<std::uintmax_t>();

  nord.write(0, PelLogInfo, "Tarvik:Nord", "second line");
  r = Call("GET", "/api/log", {}, {{"name", "Nord"}, {"file", file}, {"offset", std::to_string(offset)}});
  EXPECT_FALSE(r["reset"]);
  EXPECT_EQ(r["text"].get<std::string>().find("first line"), std::string::npos);
  EXPECT_NE(r["text"].get<std::string>().find("second line"), std::string::npos);
}

TEST_F(PanelApiTest, SavingWithoutTextIsRefusedAndKeepsTheFile) {
  Call("POST", "/api/add", {{"name", "Nord"}, {"port", 2101}});
  const fs::path file = home.path() / "Configs" / "Nord" / "Nord.ini";
  const std::string before = ReadAll(file);
  Call("POST", "/api/file", {{"name", "Nord"}}, {}, 400);
  Call("POST", "/api/file", {{"name", "Nord"}, {"text", nullptr}}, {}, 400);
  Call("POST", "/api/file", {{"name", "Nord"}, {"text", 42}}, {}, 400);
  EXPECT_EQ(ReadAll(file), before);
  // A save keeps the file's permissions.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_TRUE(Call("POST", "/api/file", {{"name", "Nord"}, {"text", before + "; note\n"}})["ok"]);
  EXPECT_EQ(ReadAll(file), before + "; note\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // An empty text, sent as such, is the operator's choice.
  json r = Call("POST", "/api/file", {{"name", "Nord"}, {"text", ""}});
  EXPECT_TRUE(r["ok"]);
  EXPECT_EQ(ReadAll(file), "");
}

TEST_F(PanelApiTest, FailedOperationsAreReportedAsFailures) {
  Call("POST", "/api/add", {{"name", "A"}, {"port", 2101}});
  const fs::path general = home.path() / "Tarvik_General.ini";
  fs::remove(general);
  fs::create_directories(general / "blocked");
  json r = Call("POST", "/api/add", {{"name", "B"}, {"port", 2102}});
  EXPECT_FALSE(r["ok"]);
  EXPECT_NE(r["message"].get<std::string>().find("was not added"), std::string::npos);
  r = Call("POST", "/api/copy", {{"source", "A"}, {"name", "C"}, {"port", 2103}});
  EXPECT_FALSE(r["ok"]);
  r = Call("POST", "/api/remove", {{"name", "A"}});
  EXPECT_FALSE(r["ok"]);
  EXPECT_NE(r["message"].get<std::string>().find("was not removed"), std::string::npos);
  EXPECT_EQ(Call("GET", "/api/state")["configurations"].size(), 1u);
}

TEST_F(PanelApiTest, AStopThatWaitsDoesNotHoldThePanel) {
  Call("POST", "/api/add", {{"name", "Slow"}, {"port", 2101}});
  auto* m = static_cast<test::FakeModule*>(set->Find("Slow"));
  m->stopTime = std::chrono::milliseconds(1500);
  Call("POST", "/api/start", {{"name", "Slow"}});
  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    Call("POST", "/api/stop", {{"name", "Slow"}});
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  // Answered while the stop still waits.
  json state = Call("GET", "/api/state");
  EXPECT_FALSE(stopped);
  EXPECT_EQ(state["configurations"].size(), 1u);
  // Meanwhile nothing may take the configuration away or start it again.
  json r = Call("POST", "/api/remove", {{"name", "Slow"}});
  EXPECT_FALSE(r["ok"]);
  EXPECT_NE(r["message"].get<std::string>().find("is being stopped"), std::string::npos);
  EXPECT_FALSE(Call("POST", "/api/start", {{"name", "Slow"}})["ok"]);
  EXPECT_FALSE(Call("POST", "/api/exit")["ok"]);
  EXPECT_FALSE(stopped);
  stopper.join();
  EXPECT_FALSE(m->IsRunning());
  EXPECT_TRUE(Call("POST", "/api/remove", {{"name", "Slow"}})["ok"]);
}

TEST(LogChunkTest, WholeLinesTruncationAndLargeFiles) {
  test::TempProgramFolder home;
  fs::path f = home.path() / "x.log";
  WriteAll(f, "a\nb\npartial");
  LogChunk c = ReadLogChunk(f, 0, false);
  EXPECT_EQ(c.text, "a\nb\n");
  EXPECT_EQ(c.offset, 4u);
  WriteAll(f, "a\nb\npartial end\n");
  c = ReadLogChunk(f, c.offset, false);
  EXPECT_EQ(c.text, "partial end\n");
  EXPECT_FALSE(c.reset);
  // The file was replaced by a shorter one: start again.
  WriteAll(f, "new\n");
  c = ReadLogChunk(f, 17, false);
  EXPECT_TRUE(c.reset);
  EXPECT_EQ(c.text, "new\n");
  // A large file is shown from a whole line near its end.
  std::string big;
  for (int i = 0; big.size() < 3 * kLogChunkBytes; ++i) big += "line " + std::to_string(i) + "\n";
  WriteAll(f, big);
  c = ReadLogChunk(f, 0, true);
  EXPECT_TRUE(c.reset);
  EXPECT_LE(c.text.size(), kLogChunkBytes);
  EXPECT_EQ(c.text.rfind("line ", 0), 0u);
  EXPECT_EQ(c.offset, big.size());
  EXPECT_TRUE(big.ends_with(c.text));
  // A missing file gives nothing.
  EXPECT_EQ(ReadLogChunk(home.path() / "none.log", 0, true).text, "");
}

}  // namespace
}  // namespace tarvik
