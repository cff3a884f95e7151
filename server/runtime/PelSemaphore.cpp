#include "runtime/PelSemaphore.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "runtime/SystemError.h"

namespace tarvik {

struct PelSemaphore::State {
  std::mutex mutex;
  int count = 0;
  int maximum = 1;
  // Blocked waiters in arrival order. A release hands its count straight to
  // the first of them and wakes only that one: a session queued for the
  // lock is never overtaken, and the others sleep on.
  struct Waiter {
    std::condition_variable wake;
    bool granted = false;
  };
  std::deque<Waiter*> queue;
};

namespace {

// Named semaphores of the process, openable by name while one is alive.
std::mutex g_namesMutex;
std::map<std::string, std::weak_ptr<PelSemaphore::State>>& names() {
  static std::map<std::string, std::weak_ptr<PelSemaphore::State>> table;
  return table;
}

}  // namespace

PelSemaphore::PelSemaphore(const std::string& name, int initialCount, int maximumCount, int createFlag,
                           int inheritFlag) {
  if (createFlag == 1) {
    if (maximumCount < initialCount) {
      initialCount = 0;
      maximumCount = 1;
    }
    if (maximumCount <= 0 || initialCount < 0) ThrowSystemError("CreateSemaphore failed", EINVAL);
    auto state = std::make_shared<State>();
    state->count = initialCount;
    state->maximum = maximumCount;
    if (!name.empty()) {
      std::lock_guard<std::mutex> g(g_namesMutex);
      auto& slot = names()[name];
      if (auto existing = slot.lock()) {
        state = existing;  // creating an existing name opens it
      } else {
        slot = state;
      }
      name_ = name;
    }
    state_ = std::move(state);
    initialCount_ = initialCount;
    maximumCount_ = maximumCount;
    inheritFlag_ = inheritFlag;
  } else {
    std::lock_guard<std::mutex> g(g_namesMutex);
    auto it = names().find(name);
    std::shared_ptr<State> existing = it == names().end() ? nullptr : it->second.lock();
    if (name.empty() || !existing) ThrowSystemError("OpenSemaphore failed", ENOENT);
    state_ = std::move(existing);
    name_ = name;
    std::lock_guard<std::mutex> s(state_->mutex);
    maximumCount_ = state_->maximum;
    initialCount_ = state_->count;
  }
}

PelSemaphore::~PelSemaphore() {
  if (state_) {
    state_.reset();
    if (!name_.empty()) {
      std::lock_guard<std::mutex> g(g_namesMutex);
      auto it = names().find(name_);
      if (it != names().end() && it->second.expired()) names().erase(it);
    }
  }
}

int PelSemaphore::wait(int mode) {
  std::shared_ptr<State> s = state_;
  if (!s) ThrowSystemError("WaitForSingleObject failed", EBADF);
  std::unique_lock<std::mutex> lock(s->mutex);
  if (s->count > 0 && s->queue.empty()) {
    --s->count;
    return kTaken;
  }
  if (mode != kWaitForever) return kNotTaken;
  State::Waiter me;
  s->queue.push_back(&me);
  me.wake.wait(lock, [&] { return me.granted; });
  return kTaken;
}

void PelSemaphore::release() {
  std::shared_ptr<State> s = state_;
  if (!s) ThrowSystemError("ReleaseSemaphore failed: " + name_, EBADF);
  std::lock_guard<std::mutex> lock(s->mutex);
  if (!s->queue.empty()) {
    State::Waiter* next = s->queue.front();
    s->queue.pop_front();
    next->granted = true;
    next->wake.notify_one();
    return;
  }
  if (s->count >= s->maximum) ThrowSystemError("ReleaseSemaphore failed: " + name_, EOVERFLOW);
  ++s->count;
}

void PelSemaphore::close() {
  if (!state_) ThrowSystemError("CloseHandle failed", EBADF);
  state_.reset();
}

}  // namespace tarvik
