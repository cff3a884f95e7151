#pragma once
// Writes the configurations' request totals back while they change: one
// pass every interval in a thread of its own, so that a crash or a SIGKILL
// loses at most one interval's counts. Stop() ends the thread at once (a
// pass in progress is finished); the final writes at shutdown come after it.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvik {

class TotalsWriter {
 public:
  TotalsWriter(std::chrono::milliseconds interval, std::function<void()> pass);
  ~TotalsWriter();
  TotalsWriter(const TotalsWriter&) = delete;
  TotalsWriter& operator=(const TotalsWriter&) = delete;

  void Stop();

 private:
  std::chrono::milliseconds interval_;
  std::function<void()> pass_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvik
