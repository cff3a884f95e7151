#pragma once
// An owned worker thread.
//
// Threads cannot be killed safely; terminate() therefore waits for the
// routine to return, and whoever stops a thread first makes its routine
// return (the server aborts the session's socket). The destructor does the
// same and logs "Thread exit" into the log of the configuration named by the
// thread's name.

#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>

namespace tarvik {

struct PelThreadArgument;

class PelThread {
 public:
  using Routine = std::function<int(PelThreadArgument*)>;

  // Nothing starts yet. stackSize 0 means the default stack.
  PelThread(Routine routine, PelThreadArgument* argument, int creationFlags = 0, std::size_t stackSize = 0,
            int inheritFlag = 0);
  virtual ~PelThread();
  PelThread(const PelThread&) = delete;
  PelThread& operator=(const PelThread&) = delete;

  void setName(const std::string& name) { name_ = name; }
  const std::string& name() const { return name_; }

  // Creates the thread; raises TCPException "CreateThread() failed: ..." on failure.
  void start();
  // Waits until the routine has returned; the thread's exit code is then
  // available. Idempotent; a thread never started returns at once.
  void terminate();

  bool started() const { return started_; }
  // The routine's result, -1 until it has returned.
  int exitCode() const { return exitCode_.load(); }
  PelThreadArgument* argument() const { return argument_; }

 private:
  static void* entry(void* self);

  Routine routine_;
  PelThreadArgument* argument_;
  int creationFlags_;
  std::size_t stackSize_;
  int inheritFlag_;
  std::string name_;
  pthread_t thread_{};
  bool started_ = false;
  bool joined_ = false;
  std::atomic<int> exitCode_{-1};
};

}  // namespace tarvik
