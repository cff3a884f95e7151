#include "TarvikProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "GgaSentence.h"
#include "ReplyScanner.h"

namespace fs = std::filesystem;

namespace e2etest {

fs::path BinFolder() { return fs::read_symlink("/proc/self/exe").parent_path(); }

fs::path SourceFolder() { return TARVIK_SOURCE_DIR; }

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  close(fd);
  return port;
}

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int RunAndWait(const std::vector<std::string>& args, const fs::path& output, const fs::path& input = {}) {
  pid_t pid = fork();
  if (pid == 0) {
    if (!input.empty()) {
      int in = open(input.c_str(), O_RDONLY);
      dup2(in, 0);
    }
    int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

DemoHome::DemoHome(bool withGermany) {
  char pattern[] = "/tmp/tarvik-e2e-XXXXXX";
  if (!mkdtemp(pattern)) return;
  path_ = fs::path(pattern) / "home";
  for (int i = 0; i < (withGermany ? 4 : 3); ++i) ports_[i] = FreePort();
  std::string ports =
      std::to_string(ports_[0]) + "," + std::to_string(ports_[1]) + "," + std::to_string(ports_[2]);
  if (withGermany) ports += "," + std::to_string(ports_[3]);
  fs::path out = fs::path(pattern) / "make_demo_home.log";
  int rc = RunAndWait({"/bin/bash", (SourceFolder() / "tools/make_demo_home.sh").string(), "--dest",
                       path_.string(), "--build", BinFolder().parent_path().string(), "--ports", ports},
                      out);
  ok_ = rc == 0;
  if (!ok_) std::fprintf(stderr, "make_demo_home.sh failed:\n%s\n", ReadFile(out).c_str());
}

DemoHome::~DemoHome() {
  std::error_code ec;
  if (!path_.empty()) {
    // Folders a test made unwritable must not stop the clean-up.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_.parent_path(), ec);
  }
}

fs::path DemoHome::IniOf(const std::string& c) const { return path_ / "Configs" / c / (c + ".ini"); }

std::string DemoHome::IniValue(const std::string& c, const std::string& key) const {
  std::ifstream in(IniOf(c));
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq);
    while (!k.empty() && (k.back() == ' ' || k.back() == '\t')) k.pop_back();
    if (k == key) {
      std::string v = line.substr(eq + 1);
      while (!v.empty() && (v.back() == '\r' || v.back() == ' ')) v.pop_back();
      while (!v.empty() && v.front() == ' ') v.erase(0, 1);
      return v;
    }
  }
  return "";
}

std::string DemoHome::AllLogs() const {
  std::string all;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_ / "Log", ec);
       it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file(ec)) all += ReadFile(it->path());
  return all;
}

fs::path DemoHome::DataFile(const std::string& kind) const {
  std::string key = kind == "marlo" ? "SAPEN_DB" : kind == "orvel" ? "ORVEL_DB" : "Geoid_Grids";
  std::ifstream in(path_ / "Tarvik_General.ini");
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') section = line.substr(1, line.find(']') - 1);
    if (section == key && line.rfind("DB1=", 0) == 0) return path_ / "data" / kind / line.substr(4);
  }
  return {};
}

TarvikProcess::TarvikProcess(const fs::path& home, const std::vector<int>& ports,
                             const std::vector<std::string>& extraArgs) {
  outputFile_ = home.parent_path() / ("tarvik-" + std::to_string(FreePort()) + ".out");
  std::vector<std::string> args = {(BinFolder() / "Tarvik").string(), "--home", home.string(), "--start",
                                   "all"};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  pid_ = fork();
  if (pid_ == 0) {
    int fd = open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // Ready when every port accepts a connection; a generous bound only
  // keeps a broken start from hanging the suite.
  for (int attempt = 0; attempt < 600 && Running(); ++attempt) {
    bool all = true;
    for (int p : ports) {
      int fd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(p));
      // Connect and close without a request, so that the probe does
      // not count as one.
      bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(fd);
      all = all && ok;
    }
    if (all) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TarvikProcess::~TarvikProcess() {
  if (Running()) Stop(SIGKILL);
}

bool TarvikProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return r == 0;
}

void TarvikProcess::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

int TarvikProcess::Stop(int sig) {
  if (pid_ > 0) {
    kill(pid_, sig);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
    pid_ = -1;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::string TarvikProcess::Output() const { return ReadFile(outputFile_); }

Connection::Connection(int port) {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
}

Connection::~Connection() { Close(); }

void Connection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Connection::Send(const std::string& bytes) {
  std::size_t done = 0;
  while (fd_ >= 0 && done < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

std::string Connection::ReadReplies(int count, std::chrono::milliseconds wait) {
  std::string out;
  tarvikclient::ReplyScanner scanner;
  int complete = 0;
  auto end = std::chrono::steady_clock::now() + wait;
  while (fd_ >= 0 && complete < count && std::chrono::steady_clock::now() < end) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
    for (const auto& r :
         scanner.Feed(reinterpret_cast<const std::uint8_t*>(buf), static_cast<std::size_t>(n))) {
      if (r.isFrame)
        ++complete;
      else
        for (char c : r.text) complete += c == '*';
    }
  }
  return out;
}

std::string Connection::ReadUntilQuiet(std::chrono::milliseconds quiet) {
  std::string out;
  while (fd_ >= 0) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) break;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool Connection::WaitClosed(std::chrono::milliseconds wait) {
  auto end = std::chrono::steady_clock::now() + wait;
  while (fd_ >= 0 && std::chrono::steady_clock::now() < end) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
  return false;
}

int RunClient(const std::vector<std::string>& args, std::string& output, const std::string& input) {
  char pattern[] = "/tmp/tarvik-client-XXXXXX";
  int fd = mkstemp(pattern);
  close(fd);
  char inPattern[] = "/tmp/tarvik-client-in-XXXXXX";
  int in = mkstemp(inPattern);
  if (write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) output.clear();
  close(in);
  std::vector<std::string> all = {(BinFolder() / "tarvik-client").string()};
  all.insert(all.end(), args.begin(), args.end());
  int rc = RunAndWait(all, pattern, inPattern);
  output = ReadFile(pattern);
  unlink(pattern);
  unlink(inPattern);
  return rc;
}

std::string Gga(double latitude, double longitude, double height) {
  return tarvikclient::MakeGga(latitude, longitude, height, 0.0, "101010.00");
}

}  // namespace e2etest
