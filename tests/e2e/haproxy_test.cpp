// Two Tarvik instances serving the same configuration behind HAProxy, run
// with the configuration the package ships (packaging/haproxy/tarvik.cfg):
// rovers get right answers from both instances; when one is killed no rover
// gets a wrong answer and every new request is answered by the other; the
// health check takes the dead instance out of rotation and brings it back
// once it runs again; an instance that answers getmode* with another mode
// word gets no rovers at all.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "E2eReplies.h"
#include "TarvikProcess.h"

using namespace e2etest;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

std::string FindHaproxy() {
  for (const char* p : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

// HAProxy in the foreground on the shipped configuration, with a global
// section of its own that only adds a stats socket, so the test can watch
// the servers' states.
class Haproxy {
 public:
  Haproxy(const std::string& program, const fs::path& folder, const std::map<std::string, std::string>& env) {
    fs::create_directories(folder);
    socket_ = folder / "stats.sock";
    output_ = folder / "haproxy.out";
    const fs::path global = folder / "global.cfg";
    std::ofstream(global) << "global\n    stats socket " << socket_.string() << " mode 600 level admin\n";
    std::vector<std::string> args = {program, "-db",
                                     "-f",    global.string(),
                                     "-f",    (SourceFolder() / "packaging/haproxy/tarvik.cfg").string()};
    std::vector<std::string> vars;
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(fd, 1);
      dup2(fd, 2);
      std::vector<char*> argv, envp;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      for (auto& e : vars) envp.push_back(e.data());
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~Haproxy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(100ms);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Haproxy(const Haproxy&) = delete;
  Haproxy& operator=(const Haproxy&) = delete;

  std::string Output() const { return ReadFile(output_); }

  // One column of a server of the Tarvik backend in the stats ("" while
  // the socket is not up).
  std::string Stat(const std::string& server, const std::string& column) const {
    const std::string csv = Command("show stat\n");
    std::istringstream lines(csv);
    std::string line;
    std::vector<std::string> header;
    while (std::getline(lines, line)) {
      std::vector<std::string> cells;
      std::stringstream row(line.rfind("# ", 0) == 0 ? line.substr(2) : line);
      std::string cell;
      while (std::getline(row, cell, ',')) cells.push_back(cell);
      if (header.empty()) {
        header = cells;
        continue;
      }
      std::map<std::string, std::string> named;
      for (std::size_t i = 0; i < cells.size() && i < header.size(); ++i) named[header[i]] = cells[i];
      if (named["pxname"] == "tarvik_instances" && named["svname"] == server) return named[column];
    }
    return "";
  }
  // "UP", "DOWN", "UP 1/2" while going down, "DOWN 1/2" while coming back.
  std::string Status(const std::string& server) const { return Stat(server, "status"); }

  // Waits until the server's state is `status`; returns when that happened,
  // or nothing when it did not within `limit`.
  std::optional<Clock::time_point> WaitFor(const std::string& server, const std::string& status,
                                           Clock::duration limit) const {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      if (Status(server) == status) return Clock::now();
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }

 private:
  std::string Command(const std::string& command) const {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", socket_.c_str());
    std::string out;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        send(fd, command.data(), command.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(command.size())) {
      char buf[4096];
      ssize_t n;
      while ((n = recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return out;
  }

  pid_t pid_ = -1;
  fs::path socket_, output_;
};

enum class Outcome { Right, Unanswered, Wrong };

// One rover request on a connection of its own: right when the replies are
// exactly the reference, unanswered when nothing or only the start of it
// came before the connection ended, wrong otherwise.
Outcome Ask(int port, const std::string& request, const std::string& reference) {
  Connection c(port);
  if (!c.Connected() || !c.Send(request)) return Outcome::Unanswered;
  const std::string got = c.ReadReplies(3, 10s);
  c.Send("quit*");
  if (got == reference) return Outcome::Right;
  if (reference.compare(0, got.size(), got) == 0) return Outcome::Unanswered;
  return Outcome::Wrong;
}

// GGA requests an instance has logged so far.
int GgaRequestsLogged(const DemoHome& home) {
  std::istringstream lines(home.AllLogs());
  std::string line;
  int n = 0;
  while (std::getline(lines, line))
    n += line.find("Received request from client") != std::string::npos &&
         line.find("GGA,") != std::string::npos;
  return n;
}

// Rovers asking through the proxy one request after another until stopped
// (or a minute has passed), each request recorded with its start.
class Rovers {
 public:
  struct Record {
    Clock::time_point start;
    Outcome outcome;
  };
  Rovers(int port, const std::vector<std::pair<std::string, std::string>>& requests, int count) {
    const auto deadline = Clock::now() + 60s;
    for (int r = 0; r < count; ++r)
      threads_.emplace_back([this, port, requests, r, deadline] {
        for (std::size_t i = r; !stop_ && Clock::now() < deadline; ++i) {
          const auto& [request, reference] = requests[i % requests.size()];
          const auto start = Clock::now();
          const Outcome o = Ask(port, request, reference);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back({start, o});
          }
          std::this_thread::sleep_for(20ms);
        }
      });
  }
  ~Rovers() { Stop(); }
  std::vector<Record> Stop() {
    stop_ = true;
    for (auto& t : threads_)
      if (t.joinable()) t.join();
    return records_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Record> records_;
  std::vector<std::thread> threads_;
};

constexpr int kRovers = 3;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class HaproxyPair : public ::testing::Test {
 protected:
  void SetUp() override {
    haproxy_ = FindHaproxy();
    if (haproxy_.empty()) GTEST_SKIP() << "haproxy is not installed (tools/install-deps.sh installs it)";
    ASSERT_TRUE(homeA_.Ok() && homeB_.Ok());
    a_ = std::make_unique<TarvikProcess>(homeA_.Path(), std::vector<int>{homeA_.BinaryPort()});
    b_ = std::make_unique<TarvikProcess>(homeB_.Path(), std::vector<int>{homeB_.BinaryPort()});
    ASSERT_TRUE(a_->Running()) << a_->Output();
    ASSERT_TRUE(b_->Running()) << b_->Output();
    // Two positions, each asked of both instances directly: the same
    // configuration gives the same bytes, and that is the right answer.
    for (auto [lat, lon, h] : {std::tuple{47.8, 14.9, 500.0}, std::tuple{47.3, 15.6, 320.0}}) {
      const std::string request = Gga(lat, lon, h);
      Connection ca(homeA_.BinaryPort()), cb(homeB_.BinaryPort());
      ASSERT_TRUE(ca.Send(request) && cb.Send(request));
      const std::string fromA = ca.ReadReplies(3), fromB = cb.ReadReplies(3);
      const Replies r = Split(fromA);
      ASSERT_EQ(r.frames.size(), 3u);
      for (const auto& f : r.frames) ASSERT_TRUE(f.crcOk);
      ASSERT_EQ(fromA, fromB) << "the two instances do not serve the same configuration";
      requests_.push_back({request, fromA});
    }
    front_ = FreePort();
  }
  void TearDown() override {
    proxy_.reset();
    if (a_) a_->Stop(SIGTERM);
    if (b_) b_->Stop(SIGTERM);
  }
  void StartProxy(const std::string& modeWord) {
    proxy_ = std::make_unique<Haproxy>(haproxy_, homeA_.Path().parent_path() / "haproxy",
                                       std::map<std::string, std::string>{
                                           {"TARVIK_FRONTEND", Loopback(front_)},
                                           {"TARVIK_INSTANCE1", Loopback(homeA_.BinaryPort())},
                                           {"TARVIK_INSTANCE2", Loopback(homeB_.BinaryPort())},
                                           {"TARVIK_MODE_WORD", modeWord},
                                       });
  }

  std::string haproxy_;
  DemoHome homeA_, homeB_;
  std::unique_ptr<TarvikProcess> a_, b_;
  std::vector<std::pair<std::string, std::string>> requests_;  // request, right answer
  int front_ = 0;
  std::unique_ptr<Haproxy> proxy_;
};

}  // namespace

TEST_F(HaproxyPair, KilledInstanceLeavesRotationWithoutWrongAnswersAndReturns) {
  StartProxy("Binary*");
  ASSERT_TRUE(proxy_->WaitFor("tarvik1", "UP", 20s) && proxy_->WaitFor("tarvik2", "UP", 20s))
      << proxy_->Output();

  // Both instances answer rovers that come through the proxy.
  const int loggedA = GgaRequestsLogged(homeA_), loggedB = GgaRequestsLogged(homeB_);
  for (int i = 0; i < 20; ++i)
    ASSERT_EQ(Ask(front_, requests_[i % 2].first, requests_[i % 2].second), Outcome::Right) << i;
  EXPECT_GT(GgaRequestsLogged(homeA_), loggedA);
  EXPECT_GT(GgaRequestsLogged(homeB_), loggedB);

  Rovers rovers(front_, requests_, kRovers);
  std::this_thread::sleep_for(1s);
  a_->Stop(SIGKILL);
  const auto killed = Clock::now();
  const auto down = proxy_->WaitFor("tarvik1", "DOWN", 20s);
  ASSERT_TRUE(down) << "the health check did not take the killed instance out of rotation";
  const double failover = Seconds(*down - killed);
  std::printf("failover: the killed instance was out of rotation %.2f s after the kill\n", failover);
  RecordProperty("failover_ms", static_cast<int>(failover * 1000));
  // Two failed checks: at most one check interval (2 s) and one fast
  // interval (0.5 s), with room for a loaded machine.
  EXPECT_LT(failover, 6.0);
  std::this_thread::sleep_for(1s);

  // The instance runs again on the same folder and port and comes back.
  const int loggedBeforeReturn = GgaRequestsLogged(homeA_);
  a_ = std::make_unique<TarvikProcess>(homeA_.Path(), std::vector<int>{homeA_.BinaryPort()});
  ASSERT_TRUE(a_->Running()) << a_->Output();
  const auto restarted = Clock::now();
  const auto up = proxy_->WaitFor("tarvik1", "UP", 20s);
  ASSERT_TRUE(up) << "the restarted instance did not come back into rotation";
  std::printf("return: back in rotation %.2f s after its restart\n", Seconds(*up - restarted));
  std::this_thread::sleep_for(2s);
  const std::vector<Rovers::Record> records = rovers.Stop();
  EXPECT_GT(GgaRequestsLogged(homeA_), loggedBeforeReturn) << "no rover reached the returned instance";

  // No rover ever gets a wrong answer. A request under way on the killed
  // instance is cut off, and so may be the one a rover has in hand at the
  // moment the check marks the instance down (its sessions are closed
  // then): at most one per rover at each of the two moments. Every request
  // begun once the instance is out of rotation is answered.
  int wrong = 0, lostAtKill = 0, lostUntilDown = 0, lostAfterDown = 0, afterDown = 0;
  for (const auto& r : records) {
    const bool lost = r.outcome == Outcome::Unanswered;
    wrong += r.outcome == Outcome::Wrong;
    if (r.start < killed) {
      lostAtKill += lost;
    } else if (r.start < *down) {
      lostUntilDown += lost;
    } else {
      ++afterDown;
      lostAfterDown += lost;
    }
  }
  const long redispatched = std::atol(proxy_->Stat("tarvik1", "wredis").c_str());
  std::printf(
      "rovers: %zu requests, %d wrong; unanswered: %d under way at the kill, %d begun before the instance "
      "was marked down, %d of %d begun after; %ld sent to the dead instance handed to the live one\n",
      records.size(), wrong, lostAtKill, lostUntilDown, lostAfterDown, afterDown, redispatched);
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(lostAtKill, kRovers);
  EXPECT_LE(lostUntilDown, kRovers);
  EXPECT_GT(afterDown, 0);
  EXPECT_EQ(lostAfterDown, 0);
  // Rovers sent to the dead instance before the check noticed reached the
  // live one instead of losing their connection.
  EXPECT_GT(redispatched, 0);
}

TEST_F(HaproxyPair, InstancesAnsweringAnotherModeWordGetNoRovers) {
  // Both instances answer getmode* with "Binary*"; a proxy that expects
  // the XML configuration must not send rovers to them.
  StartProxy("XML*");
  ASSERT_TRUE(proxy_->WaitFor("tarvik1", "DOWN", 20s) && proxy_->WaitFor("tarvik2", "DOWN", 20s))
      << proxy_->Output();
  const int loggedA = GgaRequestsLogged(homeA_), loggedB = GgaRequestsLogged(homeB_);
  EXPECT_EQ(Ask(front_, requests_[0].first, requests_[0].second), Outcome::Unanswered);
  EXPECT_EQ(GgaRequestsLogged(homeA_), loggedA);
  EXPECT_EQ(GgaRequestsLogged(homeB_), loggedB);
}
