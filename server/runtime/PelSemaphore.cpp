#include "runtime/PelSemaphore.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "runtime/SystemError.h"

namespace tarvik {

// How long a blocked waiter lets callers that arrive later go first. Below
// it, a release makes the count free for whoever asks first, which is
// usually a thread that is already running: the lock changes hands without
// waiting for a sleeping thread to be scheduled, which would otherwise cost
// a context switch per request of a busy configuration. Beyond it, the
// release hands the count straight to the longest waiter, so nobody waits
// much longer than the work queued ahead of it.
constexpr auto kOvertakingLimit = std::chrono::milliseconds(1);

struct PelSemaphore::State {
  std::mutex mutex;
  int count = 0;
  int maximum = 1;
  // Blocked waiters in arrival order; a queued waiter is never overtaken by
  // one queued after it.
  struct Waiter {
    // kAsleep until a release tells this waiter; written under the mutex,
    // slept on outside it.
    static constexpr std::uint32_t kAsleep = 0;
    static constexpr std::uint32_t kGranted = 1;    // the count was handed over
    static constexpr std::uint32_t kCountFree = 2;  // a count is free to take
    std::atomic<std::uint32_t> word{kAsleep};
    std::chrono::steady_clock::time_point since;
  };
  std::deque<Waiter*> queue;

  // The longest waiter has waited long enough to be served next.
  bool FrontWaitedTooLong(std::chrono::steady_clock::time_point now) const {
    return !queue.empty() && now - queue.front()->since >= kOvertakingLimit;
  }
};

namespace {

// The waiter sleeps on its own word (a futex) rather than on a condition
// variable: the release wakes it after letting the mutex go, so the woken
// thread does not at once block on the mutex the releaser still holds.
// Waking an address whose waiter has meanwhile returned is harmless; a
// futex wake touches no memory.
void SleepWhile(const std::atomic<std::uint32_t>& word, std::uint32_t value) {
  while (word.load(std::memory_order_acquire) == value)
    ::syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void Wake(std::atomic<std::uint32_t>* word) {
  if (word != nullptr) ::syscall(SYS_futex, word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

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
  if (s->count > 0 && (s->queue.empty() || !s->FrontWaitedTooLong(std::chrono::steady_clock::now()))) {
    --s->count;
    return kTaken;
  }
  if (mode != kWaitForever) return kNotTaken;
  State::Waiter me;
  me.since = std::chrono::steady_clock::now();
  s->queue.push_back(&me);
  for (;;) {
    lock.unlock();
    SleepWhile(me.word, State::Waiter::kAsleep);
    if (me.word.load(std::memory_order_acquire) == State::Waiter::kGranted)
      return kTaken;  // taken off the queue by the release
    lock.lock();
    // A release may have handed the count over since this thread woke.
    if (me.word.load(std::memory_order_relaxed) == State::Waiter::kGranted) return kTaken;
    me.word.store(State::Waiter::kAsleep, std::memory_order_relaxed);
    // Told by a release while first in line: the count is ours unless a
    // running caller took it first (then a later release tells us again).
    if (s->count > 0 && s->queue.front() == &me) {
      --s->count;
      s->queue.pop_front();
      // Releases meanwhile may have left more than this one count; each
      // told the front waiter, which was this one.
      std::atomic<std::uint32_t>* next = nullptr;
      if (s->count > 0 && !s->queue.empty()) {
        next = &s->queue.front()->word;
        next->store(State::Waiter::kCountFree, std::memory_order_release);
      }
      lock.unlock();
      Wake(next);
      return kTaken;
    }
  }
}

void PelSemaphore::release() {
  std::shared_ptr<State> s = state_;
  if (!s) ThrowSystemError("ReleaseSemaphore failed: " + name_, EBADF);
  std::atomic<std::uint32_t>* told = nullptr;
  {
    std::lock_guard<std::mutex> lock(s->mutex);
    if (s->FrontWaitedTooLong(std::chrono::steady_clock::now())) {
      State::Waiter* next = s->queue.front();
      s->queue.pop_front();
      told = &next->word;
      told->store(State::Waiter::kGranted, std::memory_order_release);
    } else {
      if (s->count >= s->maximum) ThrowSystemError("ReleaseSemaphore failed: " + name_, EOVERFLOW);
      ++s->count;
      if (!s->queue.empty()) {
        told = &s->queue.front()->word;
        told->store(State::Waiter::kCountFree, std::memory_order_release);
      }
    }
  }
  Wake(told);
}

void PelSemaphore::close() {
  if (!state_) ThrowSystemError("CloseHandle failed", EBADF);
  state_.reset();
}

}  // namespace tarvik
