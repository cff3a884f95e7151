#pragma once
// The running side of one configuration: its lock, listening socket, accept
// thread and one session thread per connected client.
//
// The transformation module implements ISessionHost and owns a ModuleServer;
// Start() makes the configuration a TCP server on its port, Stop() ends it
// together with every live session, so that nothing a session uses goes
// away underneath it. A stopped server can be started again at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik {

class PelSemaphore;
class PelThread;
class TCPSocketExt;
struct PelThreadArgument;
struct AcceptCounts;

// Response format codes of a configuration.
constexpr int kFormatASCII = 1;
constexpr int kFormatBinary = 2;
constexpr int kFormatXML = 3;

// One binary response: a complete RTCM 3 frame of one message.
struct SessionBinaryResponse {
  int messageNumber = 0;
  std::vector<unsigned char> bytes;
};

// What a session needs of its configuration. Called from the accept thread
// and from every session thread of the configuration at the same time,
// except where noted.
class ISessionHost {
 public:
  virtual ~ISessionHost() = default;

  // Configuration name: log folder and log source "Tarvik:" + name.
  virtual std::string configurationName() const = 0;
  // PORTNUM of the configuration (used by ModuleServer::Start()).
  virtual int port() const = 0;
  // Response format of this configuration (its own override or the
  // program-wide setting): kFormatASCII, kFormatBinary, kFormatXML; any other
  // value answers "getmode*" with "Unknown*" and sends nothing for requests.
  virtual int responseFormat() const = 0;

  // Counts one request read from a client: requests since start and
  // TotalNumberOfRequests, each +1. Called without the lock, from several
  // sessions at once: must be safe under concurrency.
  virtual void countRequest() = 0;

  // Turns one request text (as read, "*" included) into the responses of
  // the format, one per active message (or the error response). Called with
  // the configuration's lock held, so never twice at once. Return 1.
  virtual int handleASCII(const std::string& request, std::vector<std::string>& responses) = 0;
  virtual int handleXML(const std::string& request, std::vector<std::string>& responses) = 0;
  virtual int handleBinary(const std::string& request, std::vector<SessionBinaryResponse>& responses) = 0;
};

class ModuleServer {
 public:
  explicit ModuleServer(ISessionHost& host);
  // Stops a running server.
  ~ModuleServer();
  ModuleServer(const ModuleServer&) = delete;
  ModuleServer& operator=(const ModuleServer&) = delete;

  // Creates the lock, starts networking, creates, binds and listens on the
  // listening socket (SO_REUSEADDR) and starts the accept thread. Port 0
  // binds a free port (see boundPort()). Returns 1; -1 when the port could
  // not be bound or listened on (logged; nothing keeps running), -2 when
  // already running.
  int Start(uint16_t port);
  int Start();  // on host.port()

  // Ends the accept thread, then every live session (their sockets are
  // aborted, their threads joined), then closes the listening socket and
  // destroys the lock. Waits for a request being computed to finish. Safe to
  // call when not running.
  void Stop();

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
  std::mutex control_;  // one Start or Stop at a time
  std::unique_ptr<Running> running_;
  std::unique_ptr<AcceptCounts> counts_;
  // Snapshot for queries from any thread (also from inside a request).
  std::atomic<bool> isRunning_{false};
  std::atomic<uint16_t> boundPort_{0};
  std::atomic<PelSemaphore*> lock_{nullptr};
  std::atomic<std::chrono::system_clock::rep> startTicks_{0};
};

}  // namespace tarvik
