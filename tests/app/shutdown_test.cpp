// The pieces of an orderly end: the signal watcher sees every signal, the
// totals writer writes periodically and stops at once.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/SignalWatcher.h"
#include "app/TotalsWriter.h"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

// Waits until `done` holds, at most `limit`.
template <class F>
bool WaitFor(F done, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(SignalWatcherTest, ASecondSignalDuringShutdownIsSeen) {
  // The test process has no other thread yet, so the signals reach only the
  // watcher.
  SignalWatcher::BlockEndSignals();
  std::atomic<int> first{0}, later{0}, lastSignal{0};
  {
    SignalWatcher watcher(
        [&](int sig) {
          lastSignal = sig;
          ++first;
        },
        [&](int sig) {
          lastSignal = sig;
          ++later;
        });
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(WaitFor([&] { return first == 1; }));
    EXPECT_EQ(lastSignal, SIGTERM);
    ASSERT_EQ(kill(getpid(), SIGINT), 0);
    ASSERT_TRUE(WaitFor([&] { return later == 1; }));
    EXPECT_EQ(lastSignal, SIGINT);
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(WaitFor([&] { return later == 2; }));
  }
  EXPECT_EQ(first, 1);
  // The watcher is gone; its own wake-up was not taken for a signal.
  EXPECT_EQ(later, 2);
}

TEST(TotalsWriterTest, WritesPeriodicallyAndStopsAtOnce) {
  std::atomic<int> passes{0};
  {
    TotalsWriter writer(20ms, [&] { ++passes; });
    ASSERT_TRUE(WaitFor([&] { return passes >= 3; }));
  }
  const int atStop = passes;
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(passes, atStop);  // nothing runs after Stop

  // A long interval does not delay the stop, and no pass runs before its
  // first interval is over.
  std::atomic<int> none{0};
  std::atomic<bool> stopped{false};
  std::thread t([&] {
    TotalsWriter writer(std::chrono::hours(1), [&] { ++none; });
    writer.Stop();
    stopped = true;
  });
  EXPECT_TRUE(WaitFor([&] { return stopped.load(); }, 5s));
  t.join();
  EXPECT_EQ(none, 0);
}

TEST(TotalsWriterTest, StopWaitsForAPassInProgress) {
  std::mutex m;
  std::condition_variable cv;
  bool inPass = false, passDone = false;
  TotalsWriter writer(1ms, [&] {
    std::unique_lock<std::mutex> lock(m);
    if (passDone) return;
    inPass = true;
    cv.notify_all();
    lock.unlock();
    std::this_thread::sleep_for(200ms);
    lock.lock();
    passDone = true;
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return inPass; }));
  }
  writer.Stop();
  std::lock_guard<std::mutex> lock(m);
  EXPECT_TRUE(passDone);
}

}  // namespace
}  // namespace tarvik
