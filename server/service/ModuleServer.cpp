#include "service/ModuleServer.h"

#include <sys/socket.h>

#include "runtime/HostEntry.h"
#include "runtime/PelLog.h"
#include "runtime/PelSemaphore.h"
#include "runtime/PelThread.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/TCPException.h"
#include "runtime/TCPSocketExt.h"
#include "service/AcceptLoop.h"

namespace tarvik {

namespace {
// Pending connections the system keeps while the accept thread is busy. A
// handful is not enough on Linux: when many rovers connect at once (after a
// restart, say), connections beyond the queue have their SYN dropped and
// retry only after one, then three, then seven seconds.
constexpr int kListenBacklog = SOMAXCONN;
}  // namespace

struct ModuleServer::Running {
  std::unique_ptr<PelSemaphore> lock;
  PelThreadArgument server;  // the server's own argument, owns the listening socket
  std::unique_ptr<AcceptLoop> loop;
  std::unique_ptr<PelThread> acceptThread;
};

ModuleServer::ModuleServer(ISessionHost& host) : host_(host), counts_(std::make_unique<AcceptCounts>()) {}

ModuleServer::~ModuleServer() { Stop(); }

int ModuleServer::Start() { return Start(static_cast<uint16_t>(host_.port())); }

int ModuleServer::Start(uint16_t port) {
  std::lock_guard<std::mutex> control(control_);
  if (running_) return kStartAlreadyRunning;

  const std::string name = host_.configurationName();
  const std::string source = "Tarvik:" + name;
  PelLog log(name);

  auto r = std::make_unique<Running>();
  try {
    r->lock = std::make_unique<PelSemaphore>("", 1, 1, 1, 1);
  } catch (const TCPException& e) {
    log.write(0, PelLogError, source, e.message());
    return kStartPortFailed;
  }
  startNetworking();
  HostEntry local;
  r->server.semaphore = r->lock.get();
  r->server.socket = std::make_unique<TCPSocketExt>(port);
  r->server.name = local.officialName();
  r->server.module = &host_;
  r->server.number = 0;

  log.writeHeader();
  log.write(0, PelLogInfo, source, "Start up ...");
  // A port that cannot be served ends the start here: an accept loop on an
  // unbound socket would only fail forever.
  if (!r->server.socket->bind() || !r->server.socket->listen(kListenBacklog)) {
    log.write(0, PelLogError, source, r->server.socket->lastErrorText());
    return kStartPortFailed;
  }
  log.write(0, PelLogInfo, source, "Server is ready for NMEA-Requests...");

  counts_->threads.store(0);
  counts_->clients.store(0);
  counts_->accepted.store(0);
  r->loop = std::make_unique<AcceptLoop>(r->server, *counts_, limits_);
  AcceptLoop* loop = r->loop.get();
  r->acceptThread = std::make_unique<PelThread>(
      [loop](PelThreadArgument*) {
        loop->run();
        return 1;
      },
      &r->server, 0, 0, 0);
  r->acceptThread->setName(name);
  try {
    r->acceptThread->start();
  } catch (const TCPException& e) {
    log.write(0, PelLogError, source, e.message());
    r->loop.reset();
    return kStartPortFailed;
  }

  boundPort_.store(r->server.socket->localPort());
  lock_.store(r->lock.get());
  startTicks_.store(std::chrono::system_clock::now().time_since_epoch().count());
  running_ = std::move(r);
  isRunning_.store(true);
  return kStartOK;
}

void ModuleServer::Stop() {
  std::lock_guard<std::mutex> control(control_);
  if (!running_) return;
  isRunning_.store(false);
  std::unique_ptr<Running> r = std::move(running_);
  // Order matters: no new sessions, then no live sessions, then the accept
  // thread (which waits only for the listening socket, already woken), then
  // the objects the sessions used.
  r->loop->requestStop();
  r->loop->stopSessions();
  r->acceptThread.reset();  // joins the accept thread
  r->loop.reset();
  r->server.socket.reset();
  lock_.store(nullptr);
  r->lock.reset();
  boundPort_.store(0);
}

bool ModuleServer::adopt(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                         const std::function<int(PelThreadArgument*)>& routine, std::string& refusal) {
  std::lock_guard<std::mutex> control(control_);
  if (!running_) {
    refusal = "the configuration does not run";
    return false;
  }
  return running_->loop->adopt(client, address, routine, refusal);
}

void ModuleServer::setLimits(const ServerLimits& limits) {
  std::lock_guard<std::mutex> control(control_);
  limits_ = limits;
}

ServerLimits ModuleServer::limits() const {
  std::lock_guard<std::mutex> control(control_);
  return limits_;
}

bool ModuleServer::isRunning() const { return isRunning_.load(); }

uint16_t ModuleServer::boundPort() const { return boundPort_.load(); }

std::chrono::system_clock::time_point ModuleServer::startTime() const {
  return std::chrono::system_clock::time_point(std::chrono::system_clock::duration(startTicks_.load()));
}

PelSemaphore* ModuleServer::lock() const { return lock_.load(); }

ModuleServer::Counts ModuleServer::counts() const {
  Counts c;
  c.threads = counts_->threads.load();
  c.clients = counts_->clients.load();
  c.sinceStart = counts_->accepted.load();
  return c;
}

}  // namespace tarvik
