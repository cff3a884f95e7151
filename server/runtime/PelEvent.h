#pragma once
// Manual-reset event, optionally watched by its own thread.
//
// Failures raise TCPException (code = errno, text = prefix + ": " + system text).

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tarvik {

class PelEvent {
 public:
  // Called on the watch thread once the event is signalled.
  using WatchRoutine = std::function<void()>;

  // Created not signalled. With a watch routine, a watch thread starts at
  // once; it waits for the event, runs the routine and ends. The destructor
  // wakes a still waiting watch thread without running the routine.
  explicit PelEvent(const std::string& name = "", WatchRoutine watch = nullptr, int watchMode = 0);
  virtual ~PelEvent();
  PelEvent(const PelEvent&) = delete;
  PelEvent& operator=(const PelEvent&) = delete;

  // Signals the event; it stays signalled until reset().
  void setEvent();
  void reset();
  bool isSet() const;
  // mode 1 waits until signalled; any other mode only tests. true when signalled.
  bool wait(int mode);

  const std::string& name() const { return name_; }

 private:
  void watchThread();

  std::string name_;
  WatchRoutine watch_;
  int watchMode_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
  bool closing_ = false;
  std::thread watcher_;
};

}  // namespace tarvik
