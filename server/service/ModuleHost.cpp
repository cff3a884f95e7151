#include "service/ModuleHost.h"

#include "module/CRTCMTransformationMessageModule.h"
#include "runtime/PelLog.h"
#include "service/NtripSession.h"
#include "service/RequestAnswer.h"

namespace tarvik {

namespace {
constexpr int kHighestPort = 65535;
}

ModuleHost::ModuleHost(CRTCMTransformationMessageModule& module, NtripMountDirectory* directory)
    : module_(module), directory_(directory), server_(*this) {}

ModuleHost::~ModuleHost() { Stop(); }

int ModuleHost::Start() {
  if (!module_.ModuleValid()) return kStartInvalidModule;
  if (server_.isRunning()) return kStartAlreadyRunning;
  module_.ResetRequestsSinceStart();
  const int port = module_.Port();
  if (port < 0 || port > kHighestPort) return kStartPortFailed;
  const int started = server_.Start(static_cast<uint16_t>(port));
  if (started == kStartOK && directory_ != nullptr) {
    const std::string holder = directory_->add(*this);
    const std::string mount = module_.NtripMountPoint();
    if (!holder.empty())
      PelLog(module_.Name())
          .write(0, PelLogWarning, "Tarvik:" + module_.Name(),
                 "NTRIP mount point " + mount + " is already served by configuration " + holder +
                     "; its rovers keep reaching " + holder + ".");
  }
  return started;
}

// Unlisted first: once the caster cannot find the configuration, no new
// rover arrives while its sessions end.
void ModuleHost::Stop() {
  if (directory_ != nullptr) directory_->remove(*this);
  server_.Stop();
}

bool ModuleHost::IsRunning() const { return server_.isRunning(); }

std::optional<std::chrono::system_clock::time_point> ModuleHost::StartTime() const {
  if (!server_.isRunning()) return std::nullopt;
  return server_.startTime();
}

int ModuleHost::BoundPort() const { return server_.boundPort(); }

std::string ModuleHost::configurationName() const { return module_.Name(); }

int ModuleHost::port() const { return module_.Port(); }

int ModuleHost::responseFormat() const { return module_.ResponseFormat(); }

void ModuleHost::countRequest() { module_.CountRequest(); }

int ModuleHost::answerRequest(const std::string& request, std::vector<SessionReply>& replies,
                              int& resultCode) {
  auto compute = module_.ComputeLock();
  return AnswerRequest(request, module_.Settings(), replies, resultCode);
}

NtripMountState ModuleHost::ntripState() const {
  NtripMountState s;
  s.mountPoint = module_.NtripMountPoint();
  s.configuration = module_.Name();
  s.format = module_.ResponseFormat();
  s.activeMessages = module_.ActiveMessages();
  const CRTCMTransformationMessageModule::AreaCentre centre = module_.ConfiguredAreaCentre();
  s.latitude = centre.latitude;
  s.longitude = centre.longitude;
  return s;
}

bool ModuleHost::admitNtripClient(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                                  const NtripClientStart& start, std::string& refusal) {
  return server_.adopt(
      client, address, [start](PelThreadArgument* argument) { return RunNtripSession(argument, start); },
      refusal);
}

}  // namespace tarvik
