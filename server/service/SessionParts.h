#pragma once
// What the sessions of both protocols share: the configuration's lock held
// for one request, and the name a client is logged under.

#include <chrono>
#include <functional>
#include <string>

#include "runtime/PelSemaphore.h"

namespace tarvik {

struct PelThreadArgument;

// The configuration's lock from after a request was read until its
// replies are computed, released on every path.
class RequestLock {
 public:
  explicit RequestLock(PelSemaphore& s) : s_(s) { s_.wait(PelSemaphore::kWaitForever); }
  ~RequestLock() { release(); }
  void release() {
    if (held_) s_.release();
    held_ = false;
  }
  RequestLock(const RequestLock&) = delete;
  RequestLock& operator=(const RequestLock&) = delete;

 private:
  PelSemaphore& s_;
  bool held_ = true;
};

// How long a session waits for its client's host name before it goes on
// under the client's address.
constexpr std::chrono::milliseconds kNameLookupLimit{1000};

// Gives the argument its client name ("host-n", the host looked up from the
// address within kNameLookupLimit) unless it has one; returns it.
const std::string& NameClient(PelThreadArgument& argument);

// Runs one session's body and ends the session on every path: a body that
// throws is logged, so that the session stays reapable and the log says
// why; then the connection is closed, so the client learns at once that
// nothing more will be answered (the descriptor itself is released when the
// accept loop reaps the session), and the session is marked finished.
// Returns the thread's end code.
int RunSessionToItsEnd(PelThreadArgument& argument, const std::function<void()>& body);

}  // namespace tarvik
