#pragma once
// The accept thread of a running configuration: accepts clients, starts a
// session thread per client, reaps finished sessions after each new client
// and logs the counts.

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/PelThread.h"
#include "runtime/PelThreadArgument.h"

namespace tarvik {

// The counts of the last clean-up pass, readable from any thread.
struct AcceptCounts {
  std::atomic<int> threads{0};   // session threads kept
  std::atomic<int> clients{0};   // session arguments kept
  std::atomic<int> accepted{0};  // clients since start
};

class AcceptLoop {
 public:
  // `server` is the server's own argument: listening socket (bound and
  // listening), lock and module. Nothing starts yet.
  AcceptLoop(PelThreadArgument& server, AcceptCounts& counts);
  // Ends the live sessions (see stopSessions()).
  ~AcceptLoop();
  AcceptLoop(const AcceptLoop&) = delete;
  AcceptLoop& operator=(const AcceptLoop&) = delete;

  // The accept thread's routine: runs until requestStop().
  void run();
  // Asks run() to end and wakes its blocked accept (aborts the listening
  // socket). Call from another thread, then join the accept thread.
  void requestStop();
  // After run() has returned: ends every live session (aborts its socket so
  // a blocked read or send returns, joins its thread, destroys its records).
  void stopSessions();

 private:
  struct Session {
    std::unique_ptr<PelThreadArgument> argument;
    std::unique_ptr<PelThread> thread;
  };
  void reapFinished();
  void logCounts(int accepted);

  PelThreadArgument& server_;
  AcceptCounts& counts_;
  std::string configuration_;
  std::atomic<bool> stopping_{false};
  std::mutex sessionsMutex_;
  std::list<Session> sessions_;  // in acceptance order
};

}  // namespace tarvik
