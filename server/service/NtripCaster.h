#pragma once
// The NTRIP caster: one port for the whole program, in front of the running
// configurations. Every client gets a thread of its own that reads its
// request head (strictly limited in size and time) and then answers it
// with the source table or a refusal, or hands the client to the
// configuration of its mount point, whose session thread serves it from
// then on (NtripSession).
//
// Lines about clients without a known mount point go to the program-wide
// log; a refusal on a known mount point goes to that configuration's log.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "service/AcceptLoop.h"
#include "service/NtripMountDirectory.h"
#include "service/NtripUsers.h"

namespace tarvik {

class PelThread;
class TCPSocketExt;
struct PelThreadArgument;

struct NtripCasterSettings {
  uint16_t port = 0;  // 0: a free port (see boundPort())
  // Time a client has from its connection to the end of its request head.
  std::chrono::milliseconds headTimeLimit{10000};
  std::filesystem::path usersFile;  // missing file: every mount point is open
  // Clients still sending their request head, at once and per address
  // (0: no limit), and the time limit of the caster's own answers. Once
  // handed over, a client counts against its configuration's limits.
  ServerLimits limits;
};

class NtripCaster {
 public:
  NtripCaster(NtripMountDirectory& directory, NtripCasterSettings settings);
  // Stops a running caster.
  ~NtripCaster();
  NtripCaster(const NtripCaster&) = delete;
  NtripCaster& operator=(const NtripCaster&) = delete;

  // Binds and listens on the port and starts the accept thread: kStartOK,
  // kStartPortFailed (logged), kStartAlreadyRunning.
  int Start();
  // Ends the accept thread and every client still sending its head; the
  // clients already handed to configurations are theirs and stay.
  void Stop();

  bool isRunning() const { return running_.load(); }
  uint16_t boundPort() const { return boundPort_.load(); }

 private:
  struct Client {
    std::unique_ptr<PelThreadArgument> argument;
    std::unique_ptr<PelThread> thread;
  };
  void run();
  void admit(std::unique_ptr<TCPSocketExt> client, const std::string& address);
  void reapFinished();
  void serve(PelThreadArgument& argument);

  NtripMountDirectory& directory_;
  const NtripCasterSettings settings_;
  NtripUsersFile users_;
  std::string hostName_;  // for the CAS line when the client names no host

  std::mutex control_;  // one Start or Stop at a time
  std::unique_ptr<TCPSocketExt> listener_;
  std::unique_ptr<PelThread> acceptThread_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> running_{false};
  std::atomic<uint16_t> boundPort_{0};

  std::mutex clientsMutex_;
  bool clientsStopped_ = false;            // under clientsMutex_
  std::list<Client> clients_;              // still sending their heads or being answered
  std::map<std::string, int> perAddress_;  // of clients_
  int nextNumber_ = 0;
};

}  // namespace tarvik
