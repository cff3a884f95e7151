#pragma once
// Helpers of the application tests: a temporary program folder and a
// stand-in configuration module that reads the keys the set writes.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/IConfigurationModule.h"
#include "runtime/CFileIni.h"
#include "runtime/ProgramFolder.h"

namespace tarvik::test {

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

// A fresh program folder for one test, removed afterwards.
class TempProgramFolder {
 public:
  TempProgramFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tarvik_app_" + std::to_string(::getpid()) + "_" + std::to_string(++counter));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_ / "Configs");
    SetProgramFolder(path_);
  }
  ~TempProgramFolder() {
    SetProgramFolder({});
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Reads PORTNUM and TotalNumberOfRequests; valid when the file exists and
// its key Settings/Broken is not 1.
class FakeModule : public IConfigurationModule {
 public:
  FakeModule(std::string name, std::filesystem::path folder, int port)
      : name_(std::move(name)), folder_(std::move(folder)), port_(port) {}
  std::string Name() const override { return name_; }
  int Port() const override { return port_; }
  int ReadConfiguration() override {
    CFileIni ini(folder_ / (name_ + ".ini"));
    ++reads;
    if (!ini.CanRead()) {
      valid_ = false;
      problems_ = "ReadConfiguration " + name_ + ": File missing.\n\n";
      return 0;
    }
    port_ = ini.ReadInt("Settings", "PORTNUM");
    total_ = written_ = ini.ReadLong("Settings", "TotalNumberOfRequests");
    valid_ = ini.ReadInt("Settings", "Broken") != 1;
    problems_ = valid_ ? "" : "ReadConfiguration " + name_ + ": Broken.\n\n";
    return 1;
  }
  bool IsValid() const override { return valid_; }
  std::string Problems() const override { return problems_; }
  int Start() override {
    if (!valid_) return -1;
    running_ = true;
    since_ = 0;
    start_ = std::chrono::system_clock::now();
    return 1;
  }
  void Stop() override {
    std::this_thread::sleep_for(stopTime);
    running_ = false;
  }
  bool IsRunning() const override { return running_; }
  std::optional<std::chrono::system_clock::time_point> StartTime() const override {
    return running_ ? std::optional(start_) : std::nullopt;
  }
  long RequestsSinceStart() const override { return since_; }
  long TotalRequests() const override { return total_; }
  bool WriteTotal() override {
    CFileIni ini(folder_ / (name_ + ".ini"));
    if (!ini.CanRead() || !ini.WriteInt("Settings", "TotalNumberOfRequests", total_)) return false;
    ++totalWrites;
    written_ = total_;
    return true;
  }
  bool HasUnwrittenTotal() const override { return total_ != written_; }

  void Count() {
    ++since_;
    ++total_;
  }
  int reads = 0;
  int totalWrites = 0;
  // Stop() takes this long, like a server waiting for its sessions.
  std::chrono::milliseconds stopTime{0};

 private:
  std::string name_;
  std::filesystem::path folder_;
  int port_ = 0;
  long total_ = 0;
  long written_ = 0;
  long since_ = 0;
  bool valid_ = false;
  std::atomic<bool> running_{false};
  std::string problems_;
  std::chrono::system_clock::time_point start_{};
};

inline ConfigurationModuleFactory FakeFactory() {
  return [](const std::string& name, const std::filesystem::path& folder, int port) {
    return std::make_unique<FakeModule>(name, folder, port);
  };
}

}  // namespace tarvik::test
