#pragma once
// What the sessions of both protocols share: the configuration's lock held
// for one request, and the name a client is logged under.

#include <chrono>
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

}  // namespace tarvik
