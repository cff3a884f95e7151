#pragma once
// The running side of one configuration: its lock, listening socket, accept
// thread and one session thread per connected client.
//
// The configuration is reached through ISessionHost (ModuleHost for a
// transformation module); Start() makes it a TCP server on its port, Stop() ends it
// together with every live session, so that nothing a session uses goes
// away underneath it. A stopped server can be started again at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/AcceptLoop.h"
#include "service/ISessionHost.h"

namespace tarvik {

class PelSemaphore;
class PelThread;
class TCPSocketExt;
struct PelThreadArgument;

// Results of Start().
constexpr int kStartOK = 1;
constexpr int kStartPortFailed = -1;      // the port could not be bound or listened on
constexpr int kStartAlreadyRunning = -2;  // nothing changed
constexpr int kStartInvalidModule = -3;   // the configuration is not valid (ModuleHost)

class ModuleServer {
 public:
  explicit ModuleServer(ISessionHost& host);
  // Stops a running server.
  ~ModuleServer();
  ModuleServer(const ModuleServer&) = delete;
  ModuleServer& operator=(const ModuleServer&) = delete;

  // Creates the lock, starts networking, creates, binds and listens on the
  // listening socket (SO_REUSEADDR) and starts the accept thread. Port 0
  // binds a free port (see boundPort()). Returns kStartOK; kStartPortFailed
  // when the port could not be bound or listened on (logged; nothing keeps
  // running), kStartAlreadyRunning when already running.
  int Start(uint16_t port);
  int Start();  // on host.port()

  // Limits of the sessions started from now on.
  void setLimits(const ServerLimits& limits);
  ServerLimits limits() const;

  // Ends every live session (their sockets are aborted, their threads
  // joined), then the accept thread, then closes the listening socket and
  // destroys the lock. Waits for a request being computed to finish, for
  // nothing else: a session blocked in a read or a send is woken. Safe to
  // call when not running.
  void Stop();

  // Starts a session of the running configuration for a client that came
  // through the NTRIP caster, with `routine` as its thread routine (see
  // AcceptLoop::adopt). False with the reason when the configuration does
  // not run or a limit refuses the client; `client` then stays with the
  // caller.
  bool adopt(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
             const std::function<int(PelThreadArgument*)>& routine, std::string& refusal);

  bool isRunning() const;
  uint16_t boundPort() const;
  // Local date and time of the last start.
  std::chrono::system_clock::time_point startTime() const;

  // The configuration's lock while running (nullptr otherwise). The module
  // may take it around work that must not overlap a request.
  PelSemaphore* lock() const;

  // Counts of the last clean-up pass, as logged (for the control panel).
  struct Counts {
    int threads = 0;
    int clients = 0;
    int sinceStart = 0;
  };
  Counts counts() const;

 private:
  struct Running;
  ISessionHost& host_;
  mutable std::mutex control_;  // one Start or Stop at a time
  std::unique_ptr<Running> running_;
  std::unique_ptr<AcceptCounts> counts_;
  ServerLimits limits_;  // under control_
  // Snapshot for queries from any thread (also from inside a request).
  std::atomic<bool> isRunning_{false};
  std::atomic<uint16_t> boundPort_{0};
  std::atomic<PelSemaphore*> lock_{nullptr};
  std::atomic<std::chrono::system_clock::rep> startTicks_{0};
};

}  // namespace tarvik
