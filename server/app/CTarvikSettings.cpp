#include "app/CTarvikSettings.h"

#include <algorithm>

#include "runtime/CFileIni.h"
#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace tarvik {

namespace {

std::vector<std::string> ReadList(const CFileIni& ini, const char* section, const char* base) {
  std::vector<std::string> list;
  for (int i = 1;; ++i) {
    std::string value = ini.ReadString(section, std::string(base) + std::to_string(i));
    if (value.empty()) break;
    list.push_back(std::move(value));
  }
  return list;
}

std::string JoinFolder(const std::filesystem::path& folder, const std::string& rest) {
  std::string base = folder.string();
  if (!base.empty() && base.back() != '/' && !rest.empty() && rest.front() != '/') base += '/';
  return base + rest;
}

}  // namespace

int CTarvikSettings::ParseErrorHandling(std::string_view text) {
  return CFileIni::UpperTrimmed(text) == "INVALIDAREA" ? kInvalidArea : kErrorMessages;
}

const char* CTarvikSettings::RTCMFormatName(int format) {
  switch (format) {
    case kRTCMFormatASCII:
      return "ASCII";
    case kRTCMFormatBinary:
      return "BINARY";
    case kRTCMFormatXML:
      return "XML";
    default:
      return "Unknown";
  }
}

bool CTarvikSettings::ParseLogRetentionDays(std::string_view text, int& days) {
  days = kDefaultLogRetentionDays;
  const std::string value = CFileIni::UpperTrimmed(text);
  if (value.empty()) return true;
  long parsed = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + (c - '0');
    if (parsed > 1000000) return false;
  }
  days = static_cast<int>(parsed);
  return true;
}

std::string CTarvikSettings::DatabasePath(const std::filesystem::path& programFolder, std::string value) {
  value = CFileIni::NormalisedPath(std::move(value));
  if (!value.empty() && value.front() == '.') return JoinFolder(programFolder, value);
  return value;
}

std::string CTarvikSettings::ConfigurationsPathOf(const std::filesystem::path& programFolder,
                                                  std::string value) {
  value = CFileIni::NormalisedPath(std::move(value));
  if (value.empty() || value.front() != '.') return value;
  // "./Configs" loses its "./"; a value like "../Configs" would lose half of
  // its "..", so it is kept whole below the program folder instead.
  if (value.size() == 1) return programFolder.string();
  if (value[1] == '/') return JoinFolder(programFolder, value.substr(2));
  return JoinFolder(programFolder, value);
}

void CTarvikSettings::ReadLimits(const CFileIni& ini) {
  const ServerLimits defaults;
  const int seconds =
      ini.ReadInt("ServerSettings", "SendTimeLimit", static_cast<int>(defaults.sendTimeLimit.count() / 1000));
  Limits.sendTimeLimit = std::chrono::seconds(seconds < 0 ? 0 : seconds);
  const int sessions = ini.ReadInt("ServerSettings", "MaxSessionsPerConfiguration", defaults.maxSessions);
  Limits.maxSessions = sessions < 0 ? 0 : sessions;
  const int perAddress =
      ini.ReadInt("ServerSettings", "MaxSessionsPerAddress", defaults.maxSessionsPerAddress);
  Limits.maxSessionsPerAddress = perAddress < 0 ? 0 : perAddress;
}

bool CTarvikSettings::ReadGeneralSettings() {
  PelLog log;
  return ReadGeneralSettings(ProgramFolder(), log);
}

bool CTarvikSettings::ReadGeneralSettings(const std::filesystem::path& programFolder, PelLog& log) {
  *this = CTarvikSettings();
  ProgramDirectory = programFolder;
  log.write(0, PelLogInfo, "TARVIK", "ReadGeneralSettings: ReadGeneralSettings");

  CFileIni ini(GeneralSettingsFile());
  if (!ini.CanRead()) {
    log.write(0, PelLogError, "TARVIK",
              "ReadGeneralSettings: Configuration-file " + GeneralSettingsFile().string() + " is missing.");
    return false;
  }

  TextEditor = ini.ReadString("ApplicationSettings", "TextEditor");
  const std::string retention = ini.ReadString("ApplicationSettings", "LogRetentionDays");
  if (!ParseLogRetentionDays(retention, LogRetentionDays))
    log.write(0, PelLogWarning, "TARVIK",
              "ReadGeneralSettings: LogRetentionDays " + retention + " is not a number of days; " +
                  std::to_string(LogRetentionDays) + " days are kept.");
  RTCMFormat = ParseRTCMFormat(ini.ReadString("ServerSettings", "RTCMFormat"));
  ErrorHandling = ParseErrorHandling(ini.ReadString("ServerSettings", "ErrorHandling"));
  ReadLimits(ini);
  // Longer than the bound would lose more than a minute; nothing or
  // nonsense keeps the bound.
  const int interval = ini.ReadInt("ServerSettings", "TotalsWriteInterval", kTotalsWriteIntervalMax);
  TotalsWriteInterval = interval < 1 ? kTotalsWriteIntervalMax : std::min(interval, kTotalsWriteIntervalMax);
  OrvelDBPath = DatabasePath(programFolder, ini.ReadString("ORVEL_DB", "Path"));
  OrvelDBs = ReadList(ini, "ORVEL_DB", "DB");
  SapenDBPath = DatabasePath(programFolder, ini.ReadString("SAPEN_DB", "Path"));
  SapenDBs = ReadList(ini, "SAPEN_DB", "DB");
  GeoidGridPath = DatabasePath(programFolder, ini.ReadString("Geoid_Grids", "Path"));
  GeoidGrids = ReadList(ini, "Geoid_Grids", "DB");
  std::string configurations = ini.ReadString("Configurations", "Path");

  if (configurations.empty()) {
    log.write(0, PelLogError, "Tarvik", "ReadGeneralSettings: ConfigurationPath missing");
    return false;
  }
  ConfigurationsPath = ConfigurationsPathOf(programFolder, configurations);
  Configurations = ReadList(ini, "Configurations", "Configuration");
  return true;
}

}  // namespace tarvik
