// Threads, semaphores and events of the runtime layer.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

// The scheduler's state of one thread of this process, from /proc: 'S' while
// it sleeps (a blocked wait sleeps), '?' once the thread is gone.
char ThreadState(pid_t tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// A thread that calls wait(1) on a semaphore and records when it returns.
class Waiter {
 public:
  Waiter(PelSemaphore& s, std::function<void()> onReturn = {}) {
    thread_ = std::thread([this, &s, onReturn] {
      tid_ = ::gettid();
      result_ = s.wait(1);
      if (onReturn) onReturn();
      returned_ = true;
    });
  }
  ~Waiter() {
    if (thread_.joinable()) thread_.join();
  }

  // True once the thread sleeps inside wait(): it has started, has not
  // returned, and the kernel reports it asleep at several samples in a row
  // (a moment's sleep on some lock on the way in does not count). Bounded
  // by 10 s.
  bool SleepsInWait() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int asleep = 0;
    while (std::chrono::steady_clock::now() < deadline && !returned_) {
      asleep = tid_ != 0 && ThreadState(tid_) == 'S' ? asleep + 1 : 0;
      if (asleep == 5) return !returned_;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  bool Returned() const { return returned_; }
  int Result() const { return result_; }
  void Join() { thread_.join(); }

 private:
  std::thread thread_;
  std::atomic<pid_t> tid_{0};
  std::atomic<int> result_{0};
  std::atomic<bool> returned_{false};
};

// On leaving a test early, releases until every waiter has returned, so that
// no thread is left blocked (and no join waits forever).
class ReleaseOnExit {
 public:
  ReleaseOnExit(PelSemaphore& s, std::function<bool()> allReturned) : s_(s), allReturned_(allReturned) {}
  ~ReleaseOnExit() {
    for (int i = 0; i < 1000 && !allReturned_(); ++i) {
      try {
        s_.release();
      } catch (const TCPException&) {  // at its maximum: the waiters are waking
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  PelSemaphore& s_;
  std::function<bool()> allReturned_;
};

TEST(PelSemaphoreTest, BlockingWaitReturnsOnceAnotherThreadReleases) {
  PelSemaphore s("", 0, 1, 1, 1);
  std::atomic<int> got{0};
  Waiter waiter(s, [&] { got = 1; });
  ReleaseOnExit unblock(s, [&] { return waiter.Returned(); });
  // The release comes only once the waiter is asleep in wait(1): a wait
  // that did not block would have returned by then.
  ASSERT_TRUE(waiter.SleepsInWait());
  EXPECT_FALSE(waiter.Returned());
  EXPECT_EQ(s.wait(0), 0);  // nothing to take meanwhile
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(waiter.Returned());  // still blocked
  s.release();
  waiter.Join();
  EXPECT_EQ(got.load(), 1);
  EXPECT_EQ(waiter.Result(), 1);
  EXPECT_EQ(s.wait(0), 0);  // the waiter took the count
}

TEST(PelSemaphoreTest, ReleasesServeBlockedWaitersInArrivalOrder) {
  PelSemaphore s("", 0, 1, 1, 1);
  std::mutex orderMutex;
  std::vector<int> order;
  std::vector<std::unique_ptr<Waiter>> waiters;
  ReleaseOnExit unblock(s, [&] {
    for (const auto& w : waiters)
      if (!w->Returned()) return false;
    return true;
  });
  // Each waiter arrives only after the one before it is asleep in wait(1).
  for (int i = 0; i < 6; ++i) {
    waiters.push_back(std::make_unique<Waiter>(s, [&, i] {
      std::lock_guard<std::mutex> g(orderMutex);
      order.push_back(i);
    }));
    ASSERT_TRUE(waiters.back()->SleepsInWait()) << i;
  }
  for (int k = 0; k < 6; ++k) {
    s.release();
    // The count went to the first waiter in line: a caller that does not
    // queue cannot take it, even before that waiter has woken.
    EXPECT_EQ(s.wait(0), 0) << k;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!waiters[k]->Returned() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(waiters[k]->Returned()) << k;
    // Nobody behind it was woken by the same release.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard<std::mutex> g(orderMutex);
    ASSERT_EQ(order.size(), static_cast<std::size_t>(k + 1));
    EXPECT_EQ(order.back(), k);
  }
  EXPECT_EQ(s.wait(0), 0);
  s.release();
  EXPECT_EQ(s.wait(0), 1);  // with nobody waiting, a release is a count again
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

// Running threads may take a just-released count before a waiter that is
// asleep, but not for long: a waiter gets through while others keep taking
// and releasing as fast as they can.
TEST(PelSemaphoreTest, AWaiterGetsThroughWhileOthersKeepTakingTheCount) {
  PelSemaphore s("", 1, 1, 1, 1);
  std::atomic<bool> hammering{true};
  std::vector<std::thread> hammers;
  for (int t = 0; t < 2; ++t)
    hammers.emplace_back([&] {
      while (hammering) {
        PelSemaphoreLock held(s);
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (std::chrono::steady_clock::now() < until) {
        }
      }
    });
  const auto begin = std::chrono::steady_clock::now();
  for (int round = 0; round < 20; ++round) {
    PelSemaphoreLock held(s);
  }
  const auto took = std::chrono::steady_clock::now() - begin;
  hammering = false;
  for (auto& t : hammers) t.join();
  // Twenty turns, each after at most a few milliseconds behind the others.
  EXPECT_LT(took, std::chrono::seconds(2));
}

TEST(PelSemaphoreTest, ACountingSemaphoreAdmitsUpToItsCountAtOnce) {
  PelSemaphore s("", 3, 3, 1, 1);
  std::atomic<int> inside{0}, maxInside{0};
  std::atomic<int> total{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        PelSemaphoreLock held(s);
        const int now = ++inside;
        int seen = maxInside.load();
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        ++total;
        --inside;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_LE(maxInside.load(), 3);
  EXPECT_EQ(total.load(), 8000);
  // Every count came back.
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.wait(0), 1) << k;
  EXPECT_EQ(s.wait(0), 0);
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
