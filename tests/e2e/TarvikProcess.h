#pragma once
// Helpers of the end-to-end tests: a demo program folder on free ports, the
// real Tarvik program started on it, and plain loopback connections.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace e2etest {

// Folder of the test executable: the program, the libraries and
// tarvik-client sit beside it.
std::filesystem::path BinFolder();
std::filesystem::path SourceFolder();

// A port nobody listens on at the moment of the call.
int FreePort();

// The demo program folder laid out by tools/make_demo_home.sh in a fresh
// temporary folder, with three free ports (binary, ASCII, XML), and a fourth
// for DemoGermany when asked for (its data are built once per build folder).
// Removed on destruction.
class DemoHome {
 public:
  explicit DemoHome(bool withGermany = false);
  ~DemoHome();
  DemoHome(const DemoHome&) = delete;
  DemoHome& operator=(const DemoHome&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  int BinaryPort() const { return ports_[0]; }
  int AsciiPort() const { return ports_[1]; }
  int XmlPort() const { return ports_[2]; }
  int GermanyPort() const { return ports_[3]; }
  std::filesystem::path IniOf(const std::string& configuration) const;
  // The value of a key of a configuration's INI file ("" when missing).
  std::string IniValue(const std::string& configuration, const std::string& key) const;
  // Every log line written below Log/ so far.
  std::string AllLogs() const;
  // The file name of the database of a kind ("marlo", "orvel", "geoid").
  std::filesystem::path DataFile(const std::string& kind) const;
  bool Ok() const { return ok_; }

 private:
  std::filesystem::path path_;
  int ports_[4] = {0, 0, 0, 0};
  bool ok_ = false;
};

// The Tarvik program running headless on a program folder.
class TarvikProcess {
 public:
  // Starts Tarvik --home HOME --start all and waits until every given port
  // accepts connections (or the program ended).
  TarvikProcess(const std::filesystem::path& home, const std::vector<int>& ports,
                const std::vector<std::string>& extraArgs = {});
  ~TarvikProcess();
  TarvikProcess(const TarvikProcess&) = delete;
  TarvikProcess& operator=(const TarvikProcess&) = delete;

  bool Running();
  // Sends the signal and waits for the end; returns the exit status, or
  // -1 when the program was ended by a signal.
  int Stop(int signal);
  // Sends the signal and returns at once.
  void Signal(int signal);
  std::string Output() const;  // stdout and stderr so far

 private:
  pid_t pid_ = -1;
  std::filesystem::path outputFile_;
  int status_ = 0;
};

// A plain TCP connection to the loopback address.
class Connection {
 public:
  explicit Connection(int port);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // Reads until `count` complete replies have arrived (frames, or texts
  // ending in "*"), the peer closes, or the wait runs out; returns the bytes.
  std::string ReadReplies(int count, std::chrono::milliseconds wait = std::chrono::seconds(20));
  // Reads whatever comes until the peer closes or nothing arrives for `quiet`.
  std::string ReadUntilQuiet(std::chrono::milliseconds quiet);
  // True when the peer has closed (reads 0 bytes within the wait).
  bool WaitClosed(std::chrono::milliseconds wait = std::chrono::seconds(20));
  void Close();

 private:
  int fd_ = -1;
  std::string pending_;
};

// Runs tarvik-client with the arguments and `input` as its standard input;
// returns its exit status and output.
int RunClient(const std::vector<std::string>& args, std::string& output, const std::string& input = "");

// A GGA sentence with a correct checksum for a position.
std::string Gga(double latitude, double longitude, double height);

}  // namespace e2etest
