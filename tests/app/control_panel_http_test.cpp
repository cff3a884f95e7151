// The control panel over real loopback HTTP: the page, the token header,
// the Host check against rebinding, Exit ending the server, and peers that
// send their requests slowly or not at all.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "app/CConfigurationSet.h"
#include "app/CTarvikDlg.h"
#include "app/LoopbackHost.h"
#include "app/PanelHttpServer.h"
#include "runtime/PelLog.h"

namespace tarvik {
namespace {

const char* const kToken = "fedcba9876543210fedcba9876543210";

using namespace std::chrono_literals;

// A peer that sends a request line and then one header line every second,
// never finishing the request, until the server closes or the peer stops.
class SlowPeer {
 public:
  explicit SlowPeer(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!connected_) return;
    thread_ = std::thread([this] {
      Send("GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      for (int i = 0; i < 30 && !stop_; ++i) {
        for (int step = 0; step < 10 && !stop_; ++step) std::this_thread::sleep_for(100ms);
        if (!Send("X-Slow-" + std::to_string(i) + ": 1\r\n")) break;
      }
    });
  }
  ~SlowPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool Connected() const { return connected_; }
  // True when the server closed the connection within `wait`.
  bool ClosedByServer(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[512];
        ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0) return true;
      }
    }
    return false;
  }

 private:
  bool Send(const std::string& text) { return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) > 0; }

  int fd_ = -1;
  bool connected_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(LoopbackHostTest, OnlyLoopbackAddressesAndLocalhostWithAnOptionalPort) {
  for (const char* good : {"localhost", "LocalHost:8470", "127.0.0.1", "127.0.0.1:8470", "127.255.3.4:1",
                           "[::1]", "[::1]:8470", "127.0.0.1:65535"})
    EXPECT_TRUE(IsLoopbackHost(good)) << good;
  for (const char* bad : {"127.evil.example",
                          "127.evil.example:8470",
                          "127.0.0.1.evil.example",
                          "127.0.0.1.",
                          "127.1",
                          "127.0.0.256",
                          "127.0.0.01234",
                          "128.0.0.1",
                          "localhost.evil.example",
                          "localhost:",
                          "localhost:x",
                          "localhost:65536",
                          "localhost:8470:1",
                          "[::1].evil",
                          "[::2]",
                          "[::1",
                          "::1",
                          "",
                          "evil.example",
                          "0x7f.0.0.1",
                          "127.0.0.1 :8470"})
    EXPECT_FALSE(IsLoopbackHost(bad)) << bad;
  EXPECT_TRUE(IsLoopbackAddress("::1"));
  EXPECT_TRUE(IsLoopbackAddress("127.0.0.2"));
  EXPECT_FALSE(IsLoopbackAddress("127.evil"));
  EXPECT_FALSE(IsLoopbackAddress("0.0.0.0"));
}

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
  // A name that merely begins like a loopback address is a name.
  get =
      c.Get("/api/state", {{"X-Tarvik-Token", kToken}, {"Host", "127.evil.example:" + std::to_string(port)}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 403);
  get = c.Get("/api/state", {{"X-Tarvik-Token", kToken}, {"Host", "[::1]:" + std::to_string(port)}});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 200);
}

TEST_F(ControlPanelHttpTest, SlowPeersNeitherLockThePanelOutNorKeepTheirConnections) {
  std::vector<std::unique_ptr<SlowPeer>> slow;
  for (int i = 0; i < 12; ++i) {
    slow.push_back(std::make_unique<SlowPeer>(port));
    ASSERT_TRUE(slow.back()->Connected());
  }
  std::this_thread::sleep_for(300ms);
  for (int i = 0; i < 5; ++i) {
    auto c = Client();
    c.set_read_timeout(3, 0);
    auto r = c.Get("/api/state", {{"X-Tarvik-Token", kToken}});
    ASSERT_TRUE(r) << "call " << i << " got no answer while slow peers were connected";
    EXPECT_EQ(r->status, 200);
  }
  // No request may take longer to arrive than the panel's bound.
  for (auto& peer : slow) EXPECT_TRUE(peer->ClosedByServer(8s));
}

TEST_F(ControlPanelHttpTest, CloseDoesNotWaitForSlowPeers) {
  std::vector<std::unique_ptr<SlowPeer>> slow;
  for (int i = 0; i < 4; ++i) slow.push_back(std::make_unique<SlowPeer>(port));
  std::this_thread::sleep_for(300ms);
  std::atomic<bool> gone{false};
  std::thread closer([&] {
    dlg->Close();
    dlg.reset();
    gone = true;
  });
  // Well inside the time a slow request may take to arrive.
  for (int i = 0; i < 300 && !gone; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(gone);
  closer.join();
}

TEST(PanelHttpServerTest, ConnectionsBeyondTheBoundAreClosedAtOnce) {
  PanelHttpServer::Limits limits;
  limits.maxConnections = 3;
  limits.requestReadTime = 800ms;
  PanelHttpServer server(limits);
  server.Get("/",
             [](const httplib::Request&, httplib::Response& res) { res.set_content("hi", "text/plain"); });
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread loop([&] { server.listen_after_bind(); });

  std::vector<std::unique_ptr<SlowPeer>> slow;
  for (int i = 0; i < 3; ++i) slow.push_back(std::make_unique<SlowPeer>(port));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(server.OpenConnections(), 3);
  SlowPeer fourth(port);
  EXPECT_TRUE(fourth.ClosedByServer(500ms));
  // The slow ones go after the read bound, and then there is room again.
  for (auto& peer : slow) EXPECT_TRUE(peer->ClosedByServer(3s));
  httplib::Client c("127.0.0.1", port);
  c.set_read_timeout(3, 0);
  auto r = c.Get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, "hi");
  server.Close();
  loop.join();
  EXPECT_EQ(server.OpenConnections(), 0);
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
