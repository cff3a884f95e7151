#include "runtime/PelEvent.h"

#include <system_error>

#include "runtime/SystemError.h"

namespace tarvik {

PelEvent::PelEvent(const std::string& name, WatchRoutine watch, int watchMode)
    : name_(name), watch_(std::move(watch)), watchMode_(watchMode) {
  if (watch_) {
    try {
      watcher_ = std::thread([this] { watchThread(); });
    } catch (const std::system_error& e) {
      ThrowSystemError("CreateThread() in PelEvent::PelEvent() failed", e.code().value());
    }
  }
}

PelEvent::~PelEvent() {
  if (watcher_.joinable()) {
    {
      std::lock_guard<std::mutex> g(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    watcher_.join();
  }
}

void PelEvent::setEvent() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void PelEvent::reset() {
  std::lock_guard<std::mutex> g(mutex_);
  signalled_ = false;
}

bool PelEvent::isSet() const {
  std::lock_guard<std::mutex> g(mutex_);
  return signalled_;
}

bool PelEvent::wait(int mode) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (mode == 1) changed_.wait(lock, [&] { return signalled_; });
  return signalled_;
}

void PelEvent::watchThread() {
  bool signalled;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return signalled_ || closing_; });
    signalled = signalled_;
  }
  // Woken only to close: the routine is not run.
  if (signalled && watch_) watch_();
}

}  // namespace tarvik
