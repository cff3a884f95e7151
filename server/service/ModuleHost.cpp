#include "service/ModuleHost.h"

#include "module/CRTCMTransformationMessageModule.h"
#include "service/RequestAnswer.h"

namespace tarvik {

namespace {
constexpr int kHighestPort = 65535;
}

ModuleHost::ModuleHost(CRTCMTransformationMessageModule& module) : module_(module), server_(*this) {}

ModuleHost::~ModuleHost() { server_.Stop(); }

int ModuleHost::Start() {
  if (!module_.ModuleValid()) return kStartInvalidModule;
  if (server_.isRunning()) return kStartAlreadyRunning;
  module_.ResetRequestsSinceStart();
  const int port = module_.Port();
  if (port < 0 || port > kHighestPort) return kStartPortFailed;
  return server_.Start(static_cast<uint16_t>(port));
}

void ModuleHost::Stop() { server_.Stop(); }

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

}  // namespace tarvik
