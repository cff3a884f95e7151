#pragma once
// The accept thread of a running configuration: accepts clients, starts a
// session thread per client, reaps finished sessions and logs the counts.

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/PelThread.h"
#include "runtime/PelThreadArgument.h"

namespace tarvik {

class PelLog;

// The counts of the last clean-up pass, readable from any thread.
struct AcceptCounts {
  std::atomic<int> threads{0};   // session threads kept
  std::atomic<int> clients{0};   // session arguments kept
  std::atomic<int> accepted{0};  // clients since start
};

// What one configuration's server allows its clients.
struct ServerLimits {
  // A reply the client does not take within this time ends its session.
  std::chrono::milliseconds sendTimeLimit{10000};
  // Sessions open at once for the configuration, and for one client
  // address; a connection beyond either is closed at once. 0: no limit.
  int maxSessions = 5000;
  int maxSessionsPerAddress = 1000;
};

class AcceptLoop {
 public:
  // `server` is the server's own argument: listening socket (bound and
  // listening), lock and module. Nothing starts yet.
  AcceptLoop(PelThreadArgument& server, AcceptCounts& counts, ServerLimits limits);
  // Ends the live sessions (see stopSessions()).
  ~AcceptLoop();
  AcceptLoop(const AcceptLoop&) = delete;
  AcceptLoop& operator=(const AcceptLoop&) = delete;

  // The accept thread's routine: runs until requestStop().
  void run();
  // Asks run() to end and wakes its wait for clients (aborts the listening
  // socket). Call from another thread, then join the accept thread.
  void requestStop();
  // Ends every live session (aborts its socket so a blocked read or send
  // returns, joins its thread, destroys its records); no session starts
  // afterwards. May run while run() has not returned yet.
  void stopSessions();

  // Starts a session for a client that reached the configuration another
  // way (through the NTRIP caster): `routine` runs on the session's thread
  // with the usual argument. The session counts against the same limits,
  // is reaped and stopped like the others. False with the reason (logged)
  // when a limit refuses it or the sessions are stopped; `client` then
  // stays with the caller.
  bool adopt(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
             const PelThread::Routine& routine, std::string& refusal);

  // How often finished sessions are reaped while no client arrives.
  static constexpr std::chrono::milliseconds kReapInterval{500};

 private:
  struct Session {
    std::unique_ptr<PelThreadArgument> argument;
    std::unique_ptr<PelThread> thread;
  };
  // Starts the session of a client with `routine`, or refuses it (logged)
  // when a limit is reached; on refusal `client` is left as it was.
  bool startSession(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                    const PelThread::Routine& routine, PelLog& log, std::string& refusal);
  // Creates the argument and thread of an admitted client (sessionsMutex_
  // held); false (logged) when the thread cannot start.
  bool launch(std::unique_ptr<TCPSocketExt>& client, const std::string& address, int number,
              const PelThread::Routine& routine, PelLog& log, std::string& refusal);
  // Removes finished sessions; true when one was removed.
  bool reapFinished();
  void logCounts(int accepted);

  PelThreadArgument& server_;
  AcceptCounts& counts_;
  ServerLimits limits_;
  std::string configuration_;
  std::string source_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> nextNumber_{0};  // running number of the next client
  std::mutex sessionsMutex_;
  bool sessionsStopped_ = false;           // under sessionsMutex_
  std::list<Session> sessions_;            // in acceptance order
  std::map<std::string, int> perAddress_;  // live sessions by client address
};

}  // namespace tarvik
