// The transformation module as a member of the configuration set.
#include <memory>

#include "app/CTarvikApp.h"
#include "app/CTarvikSettings.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "service/ModuleHost.h"

namespace tarvik {
namespace {

class TransformationModuleAdapter : public IConfigurationModule {
 public:
  TransformationModuleAdapter(const CTarvikSettings& settings, const std::string& name,
                              const std::filesystem::path& folder)
      : settings_(settings),
        module_(std::make_unique<CRTCMTransformationMessageModule>(name, folder)),
        host_(std::make_unique<ModuleHost>(*module_)) {}
  // The server stops before the module it serves goes.
  ~TransformationModuleAdapter() override { host_.reset(); }

  std::string Name() const override { return module_->Name(); }
  int Port() const override { return module_->Port(); }
  int ReadConfiguration() override { return module_->ReadConfiguration(settings_); }
  bool IsValid() const override { return module_->ModuleValid(); }
  std::string Problems() const override { return module_->ModuleProblems(); }
  int Start() override {
    host_->Server().setLimits(settings_.Limits);
    return host_->Start();
  }
  void Stop() override { host_->Stop(); }
  bool IsRunning() const override { return host_->IsRunning(); }
  std::optional<std::chrono::system_clock::time_point> StartTime() const override {
    return host_->StartTime();
  }
  long RequestsSinceStart() const override { return module_->RequestsSinceStart(); }
  long TotalRequests() const override { return module_->TotalNumberOfRequests(); }
  bool WriteTotal() override { return module_->WriteTotalNumberOfRequests(); }
  bool HasUnwrittenTotal() const override {
    return module_->TotalNumberOfRequests() != module_->WrittenTotalNumberOfRequests();
  }

 private:
  const CTarvikSettings& settings_;
  std::unique_ptr<CRTCMTransformationMessageModule> module_;
  std::unique_ptr<ModuleHost> host_;
};

}  // namespace

ConfigurationModuleFactory MakeTransformationModuleFactory(const CTarvikSettings& settings) {
  return [&settings](const std::string& name, const std::filesystem::path& folder, int) {
    return std::make_unique<TransformationModuleAdapter>(settings, name, folder);
  };
}

}  // namespace tarvik
