#pragma once
// One configuration of the server: its INI file, its configuration values
// (with private copies of the database libraries and the three message
// records) and its request counters. Serving the configuration over TCP is
// the service layer's (ModuleHost); the module only computes.
//
// The configuration file <folder>/<name>.ini:
//   [Settings]  PORTNUM, RequestType, TotalNumberOfRequests (written back),
//               ActiveMessages (e.g. 1021;1023;1025), Mode (LOCAL|REGIONAL),
//               PlanType (SAPEN_DB), PlanDB, HeightType (SAPEN_DB|ORVEL_DB|
//               ORVEL_DB2|GEOIDGRID), HeightDB, MeanGeoidHeight (42.0),
//               RTCMFormat (optional: ASCII|BINARY|XML; overrides the
//               program-wide ServerSettings/RTCMFormat for this
//               configuration only; missing or empty keeps the program-wide
//               value)
//   [Transformation_ITRF_To_Target]  RX RY RZ (degrees) TX TY TZ (metres) S
//   [1021] [1023] [1025]  fixed fields of the message records
//
// Thread safety: the accessors may be called from any thread. Requests (under
// ComputeLock()) and ReadConfiguration are serialised, so the configuration
// may be read again while it is served; a request already being computed
// finishes first.

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>

#include "module/CConfigurationSettings.h"
#include "runtime/PelLog.h"

namespace tarvik {

class CRTCMTransformationMessageModule {
 public:
  // The module of configuration `name` in `folder`; nothing is read yet.
  CRTCMTransformationMessageModule(std::string name, std::filesystem::path folder);
  // Releases the libraries and writes TotalNumberOfRequests back into the
  // INI file (when it was read once). Whoever serves the module stops first.
  ~CRTCMTransformationMessageModule();
  CRTCMTransformationMessageModule(const CRTCMTransformationMessageModule&) = delete;
  CRTCMTransformationMessageModule& operator=(const CRTCMTransformationMessageModule&) = delete;

  // Reads <folder>/<name>.ini: copies and loads the libraries, reads every
  // key, opens the databases. kReadConfigurationDone (1) when the file was
  // read, kReadConfigurationFileMissing (0) when it is missing. Problems
  // clear ModuleValid and are collected in ModuleProblems.
  int ReadConfiguration(const CGeneralModuleSettings& general, const std::filesystem::path& folder,
                        const std::string& name);
  // The same again with the module's folder and name (after an edit).
  int ReadConfiguration(const CGeneralModuleSettings& general);

  bool ModuleValid() const;
  std::string ModuleProblems() const;

  std::string Name() const;
  std::filesystem::path Folder() const;
  std::filesystem::path IniFile() const;
  int Port() const;
  // The response format of the last read (kRTCMFormatASCII, ...).
  int ResponseFormat() const;

  // Counts one request read from a client: requests since start and
  // TotalNumberOfRequests, each +1. Safe from several threads at once.
  void CountRequest();
  // Requests since start begin again at 0 (the configuration is started).
  void ResetRequestsSinceStart() { requestsSinceStart_ = 0; }
  long RequestsSinceStart() const { return requestsSinceStart_.load(); }
  long TotalNumberOfRequests() const { return totalRequests_.load(); }
  // Writes TotalNumberOfRequests into the INI file now. Reading the file
  // again keeps the requests counted since the last write.
  bool WriteTotalNumberOfRequests() const;
  // TotalNumberOfRequests as the file held it when last read or written.
  long WrittenTotalNumberOfRequests() const { return writtenTotal_.load(); }

  // The configuration values. Reading them while requests run is only safe
  // for a module nobody serves or under ComputeLock().
  CConfigurationSettings& Settings() { return settings_; }
  const CConfigurationSettings& Settings() const { return settings_; }
  // Held while one request is computed and while the file is read.
  std::unique_lock<std::mutex> ComputeLock() { return std::unique_lock<std::mutex>(compute_); }

 private:
  int ReadConfigurationLocked(const CGeneralModuleSettings& general);

  mutable std::mutex info_;  // name, folder, port, format, validity, problems
  std::mutex compute_;       // requests and ReadConfiguration
  std::string name_;
  std::filesystem::path folder_;
  int port_ = 0;
  int format_ = kRTCMFormatASCII;
  bool valid_ = false;
  bool wasRead_ = false;
  std::string problems_;

  std::atomic<long> requestsSinceStart_{0};
  std::atomic<long> totalRequests_{0};
  // TotalNumberOfRequests as the file held it when last read or written.
  mutable std::atomic<long> writtenTotal_{0};

  CConfigurationSettings settings_;
  PelLog log_;
};

}  // namespace tarvik
