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

class AcceptLoop {
 public:
  // `server` is the server's own argument: listening socket (bound and
  // listening), lock and module. Nothing starts yet.
  explicit AcceptLoop(PelThreadArgument& server);
  ~AcceptLoop();  // stop()
  AcceptLoop(const AcceptLoop&) = delete;
  AcceptLoop& operator=(const AcceptLoop&) = delete;

  // Runs the loop on the current thread until stop() (the accept thread's routine).
  void run();
  // Wakes a blocked accept, waits for run() to return, then ends every live
  // session: aborts its socket, joins its thread, destroys its records.
  // Call from a thread other than the loop's own.
  void stopSessions();
  // Asks the loop to end and wakes its accept. Call before joining the loop's thread.
  void requestStop();

  int threadCount() const { return threads_.load(); }
  int clientCount() const { return clients_.load(); }
  int acceptedCount() const { return accepted_.load(); }

 private:
  struct Session {
    std::unique_ptr<PelThreadArgument> argument;
    std::unique_ptr<PelThread> thread;
  };
  void reapFinished();
  void logCounts();

  PelThreadArgument& server_;
  std::atomic<bool> stopping_{false};
  std::mutex sessionsMutex_;  // the loop and stopSessions() meet here
  std::list<Session> sessions_;
  std::atomic<int> threads_{0};
  std::atomic<int> clients_{0};
  std::atomic<int> accepted_{0};
};

}  // namespace tarvik
