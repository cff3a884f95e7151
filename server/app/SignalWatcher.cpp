#include "app/SignalWatcher.h"

#include <pthread.h>
#include <signal.h>

namespace tarvik {
namespace {

sigset_t EndSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void SignalWatcher::BlockEndSignals() {
  sigset_t set = EndSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(Handler onFirst, Handler onLater)
    : onFirst_(std::move(onFirst)), onLater_(std::move(onLater)) {
  thread_ = std::thread([this] {
    const sigset_t set = EndSignals();
    bool first = true;
    int sig = 0;
    while (sigwait(&set, &sig) == 0) {
      if (done_) return;
      Handler& handler = first ? onFirst_ : onLater_;
      first = false;
      if (handler) handler(sig);
    }
  });
}

SignalWatcher::~SignalWatcher() {
  done_ = true;
  // Wakes the watcher, which sees done_ and ends.
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

}  // namespace tarvik
