#pragma once
// Counting semaphore; the server uses one with count 1 per configuration as
// the lock that serialises its requests.
//
// Failures raise TCPException (code = errno, text = prefix + ": " + system text).

#include <memory>
#include <string>

namespace tarvik {

class PelSemaphore {
 public:
  // createFlag 1 creates a semaphore (maximum < initial gives initial 0,
  // maximum 1); a non-empty name makes it openable by that name within the
  // process. Any other createFlag opens the existing semaphore of that name
  // ("OpenSemaphore failed" when there is none).
  PelSemaphore(const std::string& name, int initialCount, int maximumCount, int createFlag = 1,
               int inheritFlag = 1);
  virtual ~PelSemaphore();
  PelSemaphore(const PelSemaphore&) = delete;
  PelSemaphore& operator=(const PelSemaphore&) = delete;

  // Modes and results of wait().
  static constexpr int kWaitForever = 1;
  static constexpr int kTaken = 1;
  static constexpr int kNotTaken = 0;
  // kWaitForever: waits without time limit, returns kTaken. Any other mode:
  // takes the count if available without waiting, returns kTaken or kNotTaken.
  int wait(int mode);
  // Increments by one; beyond the maximum raises "ReleaseSemaphore failed: ".
  void release();
  // Closes the handle; a second close raises "CloseHandle failed".
  void close();

  int initialCount() const { return initialCount_; }
  int maximumCount() const { return maximumCount_; }
  const std::string& name() const { return name_; }
  bool isOpen() const { return state_ != nullptr; }

  struct State;  // shared by every opener of a named semaphore

 private:
  int initialCount_ = 0;
  int maximumCount_ = 0;
  int inheritFlag_ = 1;
  std::string name_;
  std::shared_ptr<State> state_;
};

// Holds a semaphore taken with wait(kWaitForever) until the end of the scope.
class PelSemaphoreLock {
 public:
  explicit PelSemaphoreLock(PelSemaphore& s) : s_(s) { s_.wait(PelSemaphore::kWaitForever); }
  ~PelSemaphoreLock() { s_.release(); }
  PelSemaphoreLock(const PelSemaphoreLock&) = delete;
  PelSemaphoreLock& operator=(const PelSemaphoreLock&) = delete;

 private:
  PelSemaphore& s_;
};

}  // namespace tarvik
