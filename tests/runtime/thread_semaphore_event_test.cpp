// Threads, semaphores and events of the runtime layer.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "LoopbackPeer.h"
#include "runtime/PelEvent.h"
#include "runtime/PelLog.h"
#include "runtime/PelSemaphore.h"
#include "runtime/PelThread.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/ProgramFolder.h"
#include "runtime/TCPException.h"

namespace tarvik {
namespace {

// Expects `f` to raise a TCPException whose text starts with `prefix`.
template <typename F>
void ExpectRaises(F f, const std::string& prefix) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected " << prefix;
  } catch (const TCPException& e) {
    EXPECT_EQ(e.message().rfind(prefix, 0), 0u) << e.message();
    EXPECT_NE(e.code(), 0);
  }
}

TEST(PelSemaphoreTest, InitialAboveMaximumGivesAnEmptyBinarySemaphore) {
  PelSemaphore s("", 3, 2, 1, 1);
  EXPECT_EQ(s.initialCount(), 0);
  EXPECT_EQ(s.maximumCount(), 1);
  EXPECT_EQ(s.wait(0), 0);
  s.release();
  EXPECT_EQ(s.wait(0), 1);
}

TEST(PelSemaphoreTest, CountsUpToTheMaximumOnly) {
  PelSemaphore s("", 1, 2, 1, 1);
  s.release();  // 2
  ExpectRaises([&] { s.release(); }, "ReleaseSemaphore failed: ");
  EXPECT_EQ(s.wait(0), 1);
  EXPECT_EQ(s.wait(0), 1);
  EXPECT_EQ(s.wait(0), 0);
}

TEST(PelSemaphoreTest, ReleaseBeyondMaximumNamesTheSemaphore) {
  PelSemaphore s("lock-A", 1, 1, 1, 1);
  try {
    s.release();
    FAIL();
  } catch (const TCPException& e) {
    EXPECT_EQ(e.message().rfind("ReleaseSemaphore failed: lock-A: ", 0), 0u) << e.message();
  }
}

TEST(PelSemaphoreTest, BlockingWaitReturnsOnceAnotherThreadReleases) {
  PelSemaphore s("", 0, 1, 1, 1);
  std::atomic<int> got{0};
  std::thread waiter([&] { got = s.wait(1); });
  s.release();
  waiter.join();
  EXPECT_EQ(got.load(), 1);
  EXPECT_EQ(s.wait(0), 0);  // the waiter took the count
}

TEST(PelSemaphoreTest, SerialisesManyThreadsAsALock) {
  PelSemaphore lock("", 1, 1, 1, 1);
  int inside = 0, maxInside = 0, total = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        PelSemaphoreLock held(lock);
        maxInside = std::max(maxInside, ++inside);
        ++total;
        --inside;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(maxInside, 1);
  EXPECT_EQ(total, 16000);
}

TEST(PelSemaphoreTest, NamedSemaphoresOpenAndCloseFail) {
  ExpectRaises([] { PelSemaphore("no such lock", 0, 0, 0, 1); }, "OpenSemaphore failed");
  PelSemaphore created("shared", 0, 1, 1, 1);
  PelSemaphore opened("shared", 0, 0, 0, 1);
  opened.release();
  EXPECT_EQ(created.wait(0), 1);

  created.close();
  EXPECT_FALSE(created.isOpen());
  ExpectRaises([&] { created.close(); }, "CloseHandle failed");
  ExpectRaises([&] { created.wait(0); }, "WaitForSingleObject failed");
}

TEST(PelEventTest, ManualResetAndWatchThread) {
  std::atomic<int> calls{0};
  {
    PelEvent e("", [&] { ++calls; });
    EXPECT_FALSE(e.wait(0));
    e.setEvent();
    EXPECT_TRUE(e.wait(1));
    EXPECT_TRUE(e.wait(0));  // stays signalled
  }
  EXPECT_EQ(calls.load(), 1);

  {
    PelEvent unsignalled("", [&] { ++calls; });
  }  // closing wakes the watcher without running the routine
  EXPECT_EQ(calls.load(), 1);

  PelEvent plain;
  plain.setEvent();
  plain.reset();
  EXPECT_FALSE(plain.isSet());
}

class ThreadLog : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("tarvik-thread-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    std::filesystem::create_directories(home_);
    SetProgramFolder(home_);
  }
  void TearDown() override {
    SetProgramFolder({});
    std::filesystem::remove_all(home_);
  }
  std::filesystem::path home_;
};

TEST_F(ThreadLog, RunsTheRoutineWithItsArgumentAndLogsThreadExit) {
  PelThreadArgument arg;
  arg.number = 41;
  {
    PelThread t([](PelThreadArgument* a) { return a->number + 1; }, &arg);
    t.setName("Nord");
    EXPECT_EQ(t.exitCode(), -1);
    t.start();
    t.terminate();
    EXPECT_EQ(t.exitCode(), 42);
  }
  std::string log = testing::ReadFile(PelLog("Nord").currentPath());
  EXPECT_EQ(testing::CountOf(log, "Thread exit"), 1);
  EXPECT_NE(log.find("[TARVIK]"), std::string::npos);
  EXPECT_NE(log.find("[INFO]"), std::string::npos);
}

TEST_F(ThreadLog, UnnamedThreadLogsIntoTheProgramLogEvenIfNeverStarted) {
  {
    PelThread t([](PelThreadArgument*) { return 0; }, nullptr);
  }
  EXPECT_EQ(testing::CountOf(testing::ReadFile(PelLog().currentPath()), "Thread exit"), 1);
}

TEST_F(ThreadLog, EscapingExceptionEndsOnlyTheThread) {
  PelThread t([](PelThreadArgument*) -> int { throw std::runtime_error("boom"); }, nullptr, 0, 256 * 1024);
  t.start();
  t.terminate();
  EXPECT_EQ(t.exitCode(), -1);
}

}  // namespace
}  // namespace tarvik
