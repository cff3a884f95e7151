#pragma once
// Reads one configuration's INI file into its configuration values, step by
// step: the private library copies, the Settings section with the active
// messages and the database paths, the configured transformation, the
// fixed fields of the three messages, and the databases.
//
// Every problem is logged at once (so the log keeps the order in which they
// were found) and collected in the outcome; reading goes on after a problem
// and ends early only when the file is missing. The reader takes no lock:
// its caller holds whatever keeps requests off the values being replaced.

#include <filesystem>
#include <string>

#include "module/CConfigurationSettings.h"
#include "rtcm/FieldRanges.h"

namespace tarvik {

class CFileIni;
class PelLog;

// File names of the libraries in the program folder and of their private
// copies in a configuration folder. The height library's copy carries a
// second extension: the copy's name was always the library's file name with
// the library extension appended again, and operators' folders hold it.
constexpr const char* kMarloLibraryFile = "MarloDLL.so";
constexpr const char* kMarloLibraryCopy = "MarloDLL.so";
constexpr const char* kOrvelLibraryFile = "OrvelMan4.so";
constexpr const char* kOrvelLibraryCopy = "OrvelMan4.so.so";

// Results of reading a configuration file.
constexpr int kReadConfigurationDone = 1;         // the file was read (problems or not)
constexpr int kReadConfigurationFileMissing = 0;  // nothing but the library copies was done

struct ConfigurationReadOutcome {
  int result = kReadConfigurationDone;
  bool valid = true;
  std::string problems;    // each text followed by "\n\n"
  long totalRequests = 0;  // TotalNumberOfRequests as the file holds it
};

class ConfigurationReader {
 public:
  // Reads <folder>/<name>.ini into `values` (reset first), logging into `log`.
  ConfigurationReader(CConfigurationSettings& values, const CGeneralModuleSettings& general,
                      std::filesystem::path folder, std::string name, PelLog& log);

  ConfigurationReadOutcome Read();

 private:
  void Begin();
  void CopyAndLoadLibraries();
  void ReadSettings(const CFileIni& ini);
  void ReadActiveMessages(const CFileIni& ini);
  void ReadDatabaseNames(const CFileIni& ini);
  void ReadTransformation(const CFileIni& ini);
  void ReadHelmertMessage(const CFileIni& ini);
  void CheckInvolvedMessages();
  void ReadResidualGridMessage(const CFileIni& ini);
  void ReadProjectionMessage(const CFileIni& ini);
  // Values that a message field cannot carry, or that no computation can
  // use (not a number, an ellipsoid whose minor axis exceeds its major one).
  void CheckValues();
  void CheckEllipsoid(const char* which, double semimajor, double semiminor);
  void CheckField(int message, const char* key, double value, const FieldRange& range);
  void CheckField(int message, const char* key, int value, int bits);
  // Opening the Marlo database switches its interpolation off; the optional
  // [MarloInterpolation] section switches it on again.
  void OpenDatabases(const CFileIni& ini);
  void SetMessageLengths();

  bool IsActive(int messageNumber) const;
  // Logs the problem, collects it and marks the configuration invalid.
  void Report(const std::string& text);

  CConfigurationSettings& cfg_;
  const CGeneralModuleSettings& general_;
  std::filesystem::path folder_;
  std::string name_;
  std::string prefix_;  // "ReadConfiguration <name>: "
  PelLog& log_;
  ConfigurationReadOutcome outcome_;
};

}  // namespace tarvik
