#pragma once
// SIGINT and SIGTERM, taken by a thread of their own instead of a handler,
// so that what they start may lock, write files and log.
//
// BlockEndSignals() must run before any other thread exists: threads inherit
// the mask, so the signals then reach only the watcher. The first signal
// runs onFirst; every later one runs onLater, so a second signal during a
// slow shutdown is not lost.

#include <atomic>
#include <functional>
#include <thread>

namespace tarvik {

class SignalWatcher {
 public:
  using Handler = std::function<void(int signal)>;

  SignalWatcher(Handler onFirst, Handler onLater);
  // Ends the watching thread; a handler still running is waited for.
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Blocks SIGINT and SIGTERM in the calling thread (and so in every thread
  // it starts later).
  static void BlockEndSignals();

 private:
  Handler onFirst_;
  Handler onLater_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace tarvik
