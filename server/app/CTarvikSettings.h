#pragma once
// Program-wide settings from "Tarvik_General.ini" in the program folder.
//
// Sections and keys:
//   [ApplicationSettings] TextEditor   external editor for configuration files
//                         LogRetentionDays  daily log files kept (default 30,
//                                      today included; 0 keeps everything)
//   [ServerSettings]      RTCMFormat   ASCII (default) | BINARY | XML
//                         ErrorHandling ERRORMESSAGES (default) | INVALIDAREA
//                         SendTimeLimit  seconds a client may take to take a
//                                        reply before its session ends (10; 0: none)
//                         MaxSessionsPerConfiguration  sessions at once (5000)
//                         MaxSessionsPerAddress        of one client address (1000)
//                                        (0: no limit; behind a proxy every
//                                        client has the proxy's address)
//                         TotalsWriteInterval  seconds between the writes of
//                                      changed request totals, 1..60 (default 60)
//   [ORVEL_DB]            Path, DB1, DB2, ...  height surface databases
//   [SAPEN_DB]            Path, DB1, DB2, ...  Marlo position databases
//   [Geoid_Grids]         Path, DB1, DB2, ...  geoid grid files
//   [Configurations]      Path (required), Configuration1, Configuration2, ...
//
// Numbered lists stop at the first empty index. Path values may use '\' or
// '/'. A database path beginning with "." is relative to the program folder
// and keeps its "." (program folder + "/./data"); the configurations path
// beginning with "./" (or ".\") drops those two characters (program folder +
// "/Configs"); any other value is taken as it is.
//
// A configuration's own INI may override RTCMFormat for that configuration
// (read by the module).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "service/AcceptLoop.h"

namespace tarvik {

class CFileIni;
class PelLog;

// The values every configuration takes over (RTCMFormat, ErrorHandling and
// the three database paths) are those of the base class.
class CTarvikSettings : public CGeneralModuleSettings {
 public:
  static constexpr const char* kFileName = "Tarvik_General.ini";
  // ErrorHandling codes.
  static constexpr int kErrorMessages = kErrorHandlingErrorMessages;  // ERRORMESSAGES
  static constexpr int kInvalidArea = kErrorHandlingInvalidArea;      // INVALIDAREA

  static constexpr int kTotalsWriteIntervalMax = 60;

  static constexpr int kDefaultLogRetentionDays = 30;

  std::string TextEditor;
  ServerLimits Limits;
  // A crash loses at most this many seconds of request counts.
  int TotalsWriteInterval = kTotalsWriteIntervalMax;
  int LogRetentionDays = kDefaultLogRetentionDays;
  std::vector<std::string> OrvelDBs;
  std::vector<std::string> SapenDBs;
  std::vector<std::string> GeoidGrids;
  std::string ConfigurationsPath;
  std::vector<std::string> Configurations;

  // Folder the settings were read from (the program folder).
  std::filesystem::path ProgramDirectory;

  // Reads ProgramFolder()/Tarvik_General.ini, logging into the program-wide
  // log. False when the file is missing or Configurations/Path is empty.
  bool ReadGeneralSettings();
  bool ReadGeneralSettings(const std::filesystem::path& programFolder, PelLog& log);

  std::filesystem::path GeneralSettingsFile() const { return ProgramDirectory / kFileName; }

  static int ParseErrorHandling(std::string_view text);
  // The three session limits of [ServerSettings]; negative values count as 0.
  void ReadLimits(const CFileIni& ini);
  // Days of logs to keep: a whole number, 0 or more; empty gives the
  // default; false (and the default) for anything else.
  static bool ParseLogRetentionDays(std::string_view text, int& days);
  // "ASCII", "BINARY", "XML" of a format code ("Unknown" otherwise).
  static const char* RTCMFormatName(int format);

  // Path rules (exposed for the configuration set and tests).
  static std::string DatabasePath(const std::filesystem::path& programFolder, std::string value);
  static std::string ConfigurationsPathOf(const std::filesystem::path& programFolder, std::string value);
};

}  // namespace tarvik
