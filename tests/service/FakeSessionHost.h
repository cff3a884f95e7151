#pragma once
// A stand-in for the transformation module: answers from canned responses,
// records what it was asked and can hold a request mid-way.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/HostEntry.h"
#include "runtime/LoopbackPeer.h"
#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"
#include "service/ModuleServer.h"
#include "service/SessionMetrics.h"

namespace tarvik::testing {

// A frame shaped like an RTCM 3 frame: preamble, length, payload, 3 CRC bytes.
inline std::vector<unsigned char> FakeFrame(int number, size_t payload) {
  std::vector<unsigned char> f;
  f.push_back(0xD3);
  f.push_back(static_cast<unsigned char>((payload >> 8) & 0x03));
  f.push_back(static_cast<unsigned char>(payload & 0xFF));
  for (size_t i = 0; i < payload; ++i) f.push_back(static_cast<unsigned char>(number + i));
  f.insert(f.end(), {0x11, 0x22, 0x33});
  return f;
}

class FakeSessionHost : public ISessionHost {
 public:
  std::string name = "Fake";
  std::atomic<int> format{kRTCMFormatBinary};
  std::vector<int> active{1021, 1023, 1025};
  std::string textSuffix;  // appended to every text response (long answers)

  std::atomic<int> requestsSinceStart{0};
  std::atomic<int> totalRequests{0};
  std::atomic<int> handled{0};
  std::atomic<int> maxConcurrent{0};
  SessionMetrics counted;

  std::string configurationName() const override { return name; }
  int port() const override { return 0; }
  int responseFormat() const override { return format.load(); }
  SessionMetrics* metrics() override { return &counted; }
  void countRequest() override {
    ++requestsSinceStart;
    ++totalRequests;
  }

  int answerRequest(const std::string& request, std::vector<SessionReply>& out, int& resultCode) override {
    Inside in(*this);
    const int f = format.load();
    resultCode = isGGA(request) ? 1 : -1000;
    if (f == kRTCMFormatBinary) {
      for (int m : active) {
        std::vector<unsigned char> frame = FakeFrame(m, FrameSize(m));
        out.push_back({m, std::string(frame.begin(), frame.end())});
      }
      return f;
    }
    if (f != kRTCMFormatASCII && f != kRTCMFormatXML) return f;
    if (!isGGA(request)) {
      out.push_back({0, "Error: Unknown request."});
      return f;
    }
    for (int m : active)
      out.push_back({0, f == kRTCMFormatASCII
                            ? "Message " + std::to_string(m) + "\nline two" + textSuffix + "\n*"
                            : "<Msg n=\"" + std::to_string(m) + "\"/>\n*"});
    return f;
  }

  static size_t FrameSize(int m) { return m == 1021 ? 52 : m == 1023 ? 73 : 25; }
  size_t binaryAnswerSize() const {
    size_t n = 0;
    for (int m : active) n += FrameSize(m) + 6;
    return n;
  }

  // Holding requests: handlers wait inside until open() is called.
  void hold() {
    std::lock_guard<std::mutex> g(m_);
    held_ = true;
  }
  void open() {
    {
      std::lock_guard<std::mutex> g(m_);
      held_ = false;
    }
    cv_.notify_all();
  }
  // Waits (up to 10 s) until a handler is inside.
  bool waitInside() {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::seconds(10), [&] { return inside_ > 0; });
  }

 private:
  static bool isGGA(const std::string& r) {
    return !r.empty() && r[0] == '$' && r.find("GGA") != std::string::npos;
  }

  struct Inside {
    explicit Inside(FakeSessionHost& h) : h(h) {
      std::unique_lock<std::mutex> l(h.m_);
      int now = ++h.inside_;
      if (now > h.maxConcurrent) h.maxConcurrent = now;
      h.cv_.notify_all();
      h.cv_.wait(l, [&] { return !h.held_; });
    }
    ~Inside() {
      std::lock_guard<std::mutex> l(h.m_);
      --h.inside_;
      ++h.handled;
    }
    FakeSessionHost& h;
  };

  std::mutex m_;
  std::condition_variable cv_;
  bool held_ = false;
  int inside_ = 0;
};

// Program folder in a fresh temporary directory, logs read from there.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("tarvik-e-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    SetProgramFolder(home_);
  }
  void TearDown() override {
    SetProgramFolder({});
    std::filesystem::remove_all(home_);
  }
  std::filesystem::path logPath() { return PelLog(host_.name).currentPath(); }
  std::string log() { return ReadFile(logPath()); }
  bool waitLog(const std::string& what, int times = 1) { return WaitForText(logPath(), what, times); }

  // The name a loopback client gets, without its number.
  static std::string LoopbackHostName() {
    HostEntry h("127.0.0.1", HostEntry::ByAddress);
    return h.valid() && !h.officialName().empty() ? h.officialName() : "127.0.0.1";
  }

  std::filesystem::path home_;
  FakeSessionHost host_;
};

}  // namespace tarvik::testing
