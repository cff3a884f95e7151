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

AcceptLoop::AcceptLoop(PelThreadArgument& server, AcceptCounts& counts)
    : server_(server), counts_(counts), configuration_(server.module->configurationName()) {}

AcceptLoop::~AcceptLoop() {
  requestStop();
  stopSessions();
}

void AcceptLoop::requestStop() {
  stopping_.store(true);
  if (server_.socket) server_.socket->abort();
}

void AcceptLoop::run() {
  PelLog log(configuration_);
  const std::string source = "Tarvik:" + configuration_;
  int n = 0;
  while (!stopping_.load()) {
    std::string peer;
    std::unique_ptr<TCPSocketExt> client = server_.socket->accept(peer);
    if (stopping_.load()) break;  // a client arriving during the stop is dropped
    if (!client) {
      // No client socket: no session for this round.
      std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    const std::string name = peer + "-" + std::to_string(n);
    {
      PelSemaphoreLock lock(*server_.semaphore);
      log.write(0, PelLogInfo, source, "Client " + name + " is connected");
    }
    auto argument = std::make_unique<PelThreadArgument>();
    argument->semaphore = server_.semaphore;
    argument->socket = std::move(client);
    argument->name = name;
    argument->mainWindow = server_.mainWindow;
    argument->module = server_.module;
    argument->number = n;
    argument->parent = &server_;
    auto thread = std::make_unique<PelThread>(&RunClientSession, argument.get(), 0, 0, 0);
    thread->setName(configuration_);
    try {
      std::lock_guard<std::mutex> g(sessionsMutex_);
      thread->start();
      sessions_.push_back(Session{std::move(argument), std::move(thread)});
    } catch (const TCPException& e) {
      log.write(0, PelLogError, source, "Could not start a session for client " + name + e.message());
    }
    ++n;
    counts_.accepted.store(n);
    reapFinished();
    logCounts(n);
  }
}

void AcceptLoop::reapFinished() {
  std::lock_guard<std::mutex> g(sessionsMutex_);
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (it->argument->finished.load() == 0) {
      ++it;
      continue;
    }
    it->thread->terminate();
    it->thread.reset();  // writes "Thread exit"
    it->argument->socket->close();
    it = sessions_.erase(it);
  }
  counts_.threads.store(static_cast<int>(sessions_.size()));
  counts_.clients.store(static_cast<int>(sessions_.size()));
}

void AcceptLoop::logCounts(int accepted) {
  PelLog log(configuration_);
  const std::string source = "Tarvik:" + configuration_;
  log.write(0, PelLogInfo, source,
            "Current number of current threads: " + std::to_string(counts_.threads.load()));
  log.write(0, PelLogInfo, source,
            "Current number of connected clients I: " + std::to_string(counts_.clients.load()));
  log.write(0, PelLogInfo, source, "Connected clients since startup     : " + std::to_string(accepted));
}

void AcceptLoop::stopSessions() {
  std::lock_guard<std::mutex> g(sessionsMutex_);
  // Wake every session first so they wind down together, then join them.
  for (Session& s : sessions_) s.argument->socket->abort();
  for (Session& s : sessions_) s.thread->terminate();
  sessions_.clear();
  counts_.threads.store(0);
  counts_.clients.store(0);
}

}  // namespace tarvik
