#include "service/AcceptLoop.h"

#include <chrono>
#include <thread>

#include "runtime/PelLog.h"
#include "runtime/TCPException.h"
#include "service/ClientSession.h"
#include "service/ModuleServer.h"

namespace tarvik {

namespace {
// Pause after a failed accept so that a persistent failure (no descriptors
// left, say) does not spin the thread.
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(50);
}  // namespace

AcceptLoop::AcceptLoop(PelThreadArgument& server, AcceptCounts& counts, ServerLimits limits)
    : server_(server),
      counts_(counts),
      limits_(limits),
      configuration_(server.module->configurationName()),
      source_("Tarvik:" + configuration_) {}

AcceptLoop::~AcceptLoop() {
  requestStop();
  stopSessions();
}

void AcceptLoop::requestStop() {
  stopping_.store(true);
  if (server_.socket) server_.socket->abort();
}

// The thread never waits for anything but the listening socket: names are
// looked up by the sessions, and the configuration's lock is not taken here,
// so neither a slow resolver nor a long request holds up the next client.
void AcceptLoop::run() {
  PelLog log(configuration_);
  while (!stopping_.load()) {
    const int waited = server_.socket->waitForClient(kReapInterval);
    if (stopping_.load()) break;
    if (waited == TCPSocket::kWaitTimedOut) {
      reapFinished();
      continue;
    }
    std::string address;
    std::unique_ptr<TCPSocketExt> client =
        waited == TCPSocket::kClientWaiting ? server_.socket->acceptAddress(address) : nullptr;
    if (stopping_.load()) break;  // a client arriving during the stop is dropped
    if (!client) {
      // No client socket: no session for this round.
      std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    reapFinished();
    std::string refusal;
    startSession(client, address, &RunClientSession, log, refusal);
  }
}

bool AcceptLoop::adopt(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                       const PelThread::Routine& routine, std::string& refusal) {
  PelLog log(configuration_);
  reapFinished();
  return startSession(client, address, routine, log, refusal);
}

bool AcceptLoop::startSession(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                              const PelThread::Routine& routine, PelLog& log, std::string& refusal) {
  int number = 0;
  bool started = false;
  {
    std::lock_guard<std::mutex> g(sessionsMutex_);
    if (sessionsStopped_) {
      refusal = "the configuration is stopping";
      return false;  // the connection closes with `client` at the caller's
    }
    number = nextNumber_.fetch_add(1);
    const int total = static_cast<int>(sessions_.size());
    const int ofAddress = perAddress_[address];
    std::string limit;
    if (limits_.maxSessions > 0 && total >= limits_.maxSessions)
      limit = "the configuration serves " + std::to_string(total) + " sessions (MaxSessionsPerConfiguration)";
    else if (limits_.maxSessionsPerAddress > 0 && ofAddress >= limits_.maxSessionsPerAddress)
      limit = std::to_string(ofAddress) + " sessions of that address are open (MaxSessionsPerAddress)";
    if (!limit.empty()) {
      refusal = limit;
      log.write(0, PelLogWarning, source_, "Connection from " + address + " refused: " + limit + ".");
      if (perAddress_[address] == 0) perAddress_.erase(address);
    } else {
      started = launch(client, address, number, routine, log, refusal);
    }
  }
  const int accepted = nextNumber_.load();
  counts_.accepted.store(accepted);
  logCounts(accepted);
  return started;
}

bool AcceptLoop::launch(std::unique_ptr<TCPSocketExt>& client, const std::string& address, int number,
                        const PelThread::Routine& routine, PelLog& log, std::string& refusal) {
  client->setSendTimeLimit(limits_.sendTimeLimit);
  auto argument = std::make_unique<PelThreadArgument>();
  argument->semaphore = server_.semaphore;
  argument->socket = std::move(client);
  argument->address = address;
  argument->mainWindow = server_.mainWindow;
  argument->module = server_.module;
  argument->number = number;
  argument->parent = &server_;
  auto thread = std::make_unique<PelThread>(routine, argument.get(), 0, 0, 0);
  thread->setName(configuration_);
  try {
    thread->start();
  } catch (const TCPException& e) {
    log.write(0, PelLogError, source_,
              "Could not start a session for client " + address + "-" + std::to_string(number) + ": " +
                  e.message());
    refusal = "its session could not be started";
    return false;
  }
  ++perAddress_[address];
  sessions_.push_back(Session{std::move(argument), std::move(thread)});
  counts_.threads.store(static_cast<int>(sessions_.size()));
  counts_.clients.store(static_cast<int>(sessions_.size()));
  return true;
}

bool AcceptLoop::reapFinished() {
  std::lock_guard<std::mutex> g(sessionsMutex_);
  bool reaped = false;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (it->argument->finished.load() == 0) {
      ++it;
      continue;
    }
    it->thread->terminate();
    it->thread.reset();  // writes "Thread exit"
    it->argument->socket->close();
    auto count = perAddress_.find(it->argument->address);
    if (count != perAddress_.end() && --count->second <= 0) perAddress_.erase(count);
    it = sessions_.erase(it);
    reaped = true;
  }
  counts_.threads.store(static_cast<int>(sessions_.size()));
  counts_.clients.store(static_cast<int>(sessions_.size()));
  return reaped;
}

void AcceptLoop::logCounts(int accepted) {
  PelLog log(configuration_);
  log.write(0, PelLogInfo, source_,
            "Current number of current threads: " + std::to_string(counts_.threads.load()));
  log.write(0, PelLogInfo, source_,
            "Current number of connected clients I: " + std::to_string(counts_.clients.load()));
  log.write(0, PelLogInfo, source_, "Connected clients since startup     : " + std::to_string(accepted));
}

void AcceptLoop::stopSessions() {
  std::lock_guard<std::mutex> g(sessionsMutex_);
  sessionsStopped_ = true;
  // Wake every session first so they wind down together, then join them.
  for (Session& s : sessions_) s.argument->socket->abort();
  for (Session& s : sessions_) s.thread->terminate();
  sessions_.clear();
  perAddress_.clear();
  counts_.threads.store(0);
  counts_.clients.store(0);
}

}  // namespace tarvik
