#include "module/CRTCMTransformationMessageModule.h"

#include "module/ConfigurationReader.h"
#include "runtime/CFileIni.h"

namespace tarvik {

CRTCMTransformationMessageModule::CRTCMTransformationMessageModule(std::string name,
                                                                   std::filesystem::path folder)
    : name_(std::move(name)), folder_(std::move(folder)), log_(name_) {
  settings_.ConfigurationName = name_;
}

CRTCMTransformationMessageModule::~CRTCMTransformationMessageModule() {
  if (wasRead_) WriteTotalNumberOfRequests();
}

bool CRTCMTransformationMessageModule::ModuleValid() const {
  std::lock_guard<std::mutex> lock(info_);
  return valid_;
}

std::string CRTCMTransformationMessageModule::ModuleProblems() const {
  std::lock_guard<std::mutex> lock(info_);
  return problems_;
}

std::string CRTCMTransformationMessageModule::Name() const {
  std::lock_guard<std::mutex> lock(info_);
  return name_;
}

std::filesystem::path CRTCMTransformationMessageModule::Folder() const {
  std::lock_guard<std::mutex> lock(info_);
  return folder_;
}

std::filesystem::path CRTCMTransformationMessageModule::IniFile() const {
  std::lock_guard<std::mutex> lock(info_);
  return folder_ / (name_ + ".ini");
}

int CRTCMTransformationMessageModule::Port() const {
  std::lock_guard<std::mutex> lock(info_);
  return port_;
}

int CRTCMTransformationMessageModule::ResponseFormat() const {
  std::lock_guard<std::mutex> lock(info_);
  return format_;
}

std::string CRTCMTransformationMessageModule::NtripMountPoint() const {
  std::lock_guard<std::mutex> lock(info_);
  return mountPoint_;
}

std::vector<int> CRTCMTransformationMessageModule::ActiveMessages() const {
  std::lock_guard<std::mutex> lock(info_);
  return activeMessages_;
}

CRTCMTransformationMessageModule::AreaCentre CRTCMTransformationMessageModule::ConfiguredAreaCentre() const {
  std::lock_guard<std::mutex> lock(info_);
  return areaCentre_;
}

void CRTCMTransformationMessageModule::CountRequest() {
  ++requestsSinceStart_;
  ++totalRequests_;
}

bool CRTCMTransformationMessageModule::WriteTotalNumberOfRequests() const {
  CFileIni ini(IniFile());
  if (!ini.CanRead()) return false;
  const long total = totalRequests_.load();
  if (!ini.WriteInt("Settings", "TotalNumberOfRequests", total)) return false;
  writtenTotal_ = total;
  return true;
}

int CRTCMTransformationMessageModule::ReadConfiguration(const CGeneralModuleSettings& general,
                                                        const std::filesystem::path& folder,
                                                        const std::string& name) {
  std::lock_guard<std::mutex> compute(compute_);
  {
    std::lock_guard<std::mutex> lock(info_);
    folder_ = folder;
    name_ = name;
  }
  return ReadConfigurationLocked(general);
}

int CRTCMTransformationMessageModule::ReadConfiguration(const CGeneralModuleSettings& general) {
  std::lock_guard<std::mutex> compute(compute_);
  return ReadConfigurationLocked(general);
}

// Runs with the compute lock held, so no request sees half-read values; what
// the accessors show changes in one step at the end.
int CRTCMTransformationMessageModule::ReadConfigurationLocked(const CGeneralModuleSettings& general) {
  const std::string name = Name();
  wasRead_ = true;
  log_.setConfiguration(name);
  ConfigurationReader reader(settings_, general, Folder(), name, log_);
  const ConfigurationReadOutcome outcome = reader.Read();
  if (outcome.databasesLoaded) databaseLoads_.Loaded(outcome.databaseLoadFailed);
  if (outcome.result == kReadConfigurationDone) {
    // The file's total (which the operator may have edited) plus what was
    // counted since the total was last written: a new read loses no request.
    const long unwritten = totalRequests_.load() - writtenTotal_.load();
    totalRequests_ = outcome.totalRequests + unwritten;
    writtenTotal_ = outcome.totalRequests;
  }

  std::lock_guard<std::mutex> lock(info_);
  valid_ = outcome.valid;
  problems_ = outcome.problems;
  port_ = outcome.result == kReadConfigurationDone ? settings_.PORTNUM : 0;
  format_ = settings_.RTCMFormat;
  mountPoint_ = settings_.NtripMountPoint;
  activeMessages_ = settings_.ActiveMessages;
  areaCentre_ = {settings_.Helmert.LatitudeOfOriginAreaOfValidity,
                 settings_.Helmert.LongitudeOfOriginAreaOfValidity};
  return outcome.result;
}

}  // namespace tarvik
