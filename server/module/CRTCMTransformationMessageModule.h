#pragma once
// One configuration of the server: one TCP port, one INI file, private copies
// of the database libraries, the three message records and, while running,
// the server (lock, listening socket, accept thread, sessions).
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
// Thread safety: the accessors may be called from any thread. Requests and
// ReadConfiguration are serialised by the module, so the configuration may
// be read again while the server runs; a request already being computed
// finishes first.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/PelLog.h"
#include "service/ModuleServer.h"

namespace tarvik {

class CTarvikSettings;
class CRTCMASCIIResponse;
class CRTCMXMLResponse;
class CRTCMBinaryResponse;

class CRTCMTransformationMessageModule : public ISessionHost {
 public:
  // The module of configuration `name` in `folder`; nothing is read yet.
  CRTCMTransformationMessageModule(std::string name, std::filesystem::path folder);
  // Stops the server, releases the libraries and writes TotalNumberOfRequests
  // back into the INI file (when it was read once).
  ~CRTCMTransformationMessageModule() override;
  CRTCMTransformationMessageModule(const CRTCMTransformationMessageModule&) = delete;
  CRTCMTransformationMessageModule& operator=(const CRTCMTransformationMessageModule&) = delete;

  // Reads <folder>/<name>.ini: copies and loads the libraries, reads every
  // key, opens the databases. 1 when the file was read, 0 when it is
  // missing. Problems clear ModuleValid and are collected in ModuleProblems.
  int ReadConfiguration(const CTarvikSettings& general, const std::filesystem::path& folder,
                        const std::string& name);
  // The same again with the module's folder and name (after an edit).
  int ReadConfiguration(const CTarvikSettings& general);

  bool ModuleValid() const;
  std::string ModuleProblems() const;

  std::string Name() const;
  std::filesystem::path Folder() const;
  std::filesystem::path IniFile() const;
  int Port() const;

  // Starts the server on the configured port: 1 on success, -1 when the port
  // could not be bound, -2 when already running, -3 when the module is not
  // valid (nothing is started).
  int StartServer();
  void StopServer();
  bool IsRunning() const;
  std::optional<std::chrono::system_clock::time_point> StartTime() const;
  // Port the running server listens on (its own choice when PORTNUM is 0).
  int BoundPort() const;

  long RequestsSinceStart() const { return requestsSinceStart_.load(); }
  long TotalNumberOfRequests() const { return totalRequests_.load(); }
  // Writes TotalNumberOfRequests into the INI file now.
  bool WriteTotalNumberOfRequests() const;

  // The configuration values. Reading them while requests run is only safe
  // for a stopped module or under ComputeLock().
  CConfigurationSettings& Settings() { return settings_; }
  const CConfigurationSettings& Settings() const { return settings_; }
  std::unique_lock<std::mutex> ComputeLock() { return std::unique_lock<std::mutex>(compute_); }

  // The request path with the module's own response records.
  int HandleASCII(const std::string& request, std::vector<CRTCMASCIIResponse>& responses);
  int HandleXML(const std::string& request, std::vector<CRTCMXMLResponse>& responses);
  int HandleBinary(const std::string& request, std::vector<CRTCMBinaryResponse>& responses);

  // ISessionHost
  std::string configurationName() const override { return Name(); }
  int port() const override { return Port(); }
  int responseFormat() const override;
  void countRequest() override;
  int handleASCII(const std::string& request, std::vector<std::string>& responses) override;
  int handleXML(const std::string& request, std::vector<std::string>& responses) override;
  int handleBinary(const std::string& request, std::vector<SessionBinaryResponse>& responses) override;

 private:
  int ReadConfigurationLocked(const CTarvikSettings& general);
  void Report(const std::string& text);

  mutable std::mutex info_;  // name, folder, port, format, validity, problems
  std::mutex compute_;       // requests and ReadConfiguration
  std::string name_;
  std::filesystem::path folder_;
  int port_ = 0;
  int format_ = 1;
  bool valid_ = false;
  bool wasRead_ = false;
  std::string problems_;

  std::atomic<long> requestsSinceStart_{0};
  std::atomic<long> totalRequests_{0};

  CConfigurationSettings settings_;
  PelLog log_;
  ModuleServer server_;
};

}  // namespace tarvik
