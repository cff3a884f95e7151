#include "runtime/PelSemaphore.h"

#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>

#include "runtime/SystemError.h"

namespace tarvik {

struct PelSemaphore::State {
  std::mutex mutex;
  std::condition_variable available;
  int count = 0;
  int maximum = 1;
  // Waiters are served in arrival order: a session that has queued for the
  // lock is not overtaken by one that arrives later.
  unsigned long long nextTicket = 0;
  unsigned long long serving = 0;
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
  const bool queued = s->nextTicket != s->serving;
  if (mode != 1) {
    if (s->count == 0 || queued) return 0;
    --s->count;
    return 1;
  }
  if (s->count > 0 && !queued) {
    --s->count;
    return 1;
  }
  const unsigned long long ticket = s->nextTicket++;
  s->available.wait(lock, [&] { return s->count > 0 && s->serving == ticket; });
  ++s->serving;
  --s->count;
  if (s->count > 0 && s->serving != s->nextTicket) s->available.notify_all();
  return 1;
}

void PelSemaphore::release() {
  std::shared_ptr<State> s = state_;
  if (!s) ThrowSystemError("ReleaseSemaphore failed: " + name_, EBADF);
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    if (s->count >= s->maximum) ThrowSystemError("ReleaseSemaphore failed: " + name_, EOVERFLOW);
    ++s->count;
  }
  s->available.notify_all();
}

void PelSemaphore::close() {
  if (!state_) ThrowSystemError("CloseHandle failed", EBADF);
  state_.reset();
}

}  // namespace tarvik
