#pragma once
// A transformation module served over TCP: the module answers the requests
// that its ModuleServer's sessions read. The module outlives the host.
// With a mount directory, the host lists itself there while it runs, so the
// NTRIP caster can hand it rovers.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "service/ISessionHost.h"
#include "service/ModuleServer.h"
#include "service/NtripMountDirectory.h"
#include "service/SessionMetrics.h"

namespace tarvik {

class CRTCMTransformationMessageModule;

class ModuleHost : public ISessionHost, public INtripMount {
 public:
  explicit ModuleHost(CRTCMTransformationMessageModule& module, NtripMountDirectory* directory = nullptr);
  // Stops a running server.
  ~ModuleHost() override;
  ModuleHost(const ModuleHost&) = delete;
  ModuleHost& operator=(const ModuleHost&) = delete;

  // Starts the server on the configured port: kStartOK, kStartPortFailed,
  // kStartAlreadyRunning, or kStartInvalidModule when the module is not
  // valid (nothing is started). Requests since start begin at 0.
  int Start();
  void Stop();
  bool IsRunning() const;
  std::optional<std::chrono::system_clock::time_point> StartTime() const;
  // Port the running server listens on (its own choice when PORTNUM is 0).
  int BoundPort() const;
  ModuleServer& Server() { return server_; }
  // What the sessions have counted since the host was made.
  const SessionMetrics& Metrics() const { return metrics_; }

  // ISessionHost
  std::string configurationName() const override;
  int port() const override;
  int responseFormat() const override;
  void countRequest() override;
  int answerRequest(const std::string& request, std::vector<SessionReply>& replies, int& resultCode) override;
  SessionMetrics* metrics() override { return &metrics_; }

  // INtripMount
  NtripMountState ntripState() const override;
  bool admitNtripClient(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                        const NtripClientStart& start, std::string& refusal) override;

 private:
  CRTCMTransformationMessageModule& module_;
  NtripMountDirectory* directory_;
  SessionMetrics metrics_;  // before the server, whose sessions count into it
  ModuleServer server_;
};

}  // namespace tarvik
