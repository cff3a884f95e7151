#pragma once
// Program-wide settings from "Tarvik_General.ini" in the program folder.
//
// Sections and keys:
//   [ApplicationSettings] TextEditor   external editor for configuration files
//                         LogRetentionDays  daily log files kept (default 30,
//                                      today included; 0 keeps everything)
//   [ServerSettings]      RTCMFormat   ASCII (default) | BINARY | XML
//                         ErrorHandling ERRORMESSAGES (default) | INVALIDAREA
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

namespace tarvik {

class PelLog;

constexpr int kRTCMFormatASCII = 1;
constexpr int kRTCMFormatBinary = 2;
constexpr int kRTCMFormatXML = 3;

class CTarvikSettings {
 public:
  static constexpr const char* kFileName = "Tarvik_General.ini";
  // ErrorHandling codes.
  static constexpr int kErrorMessages = 1;  // ERRORMESSAGES
  static constexpr int kInvalidArea = 2;    // INVALIDAREA

  static constexpr int kDefaultLogRetentionDays = 30;

  std::string TextEditor;
  int LogRetentionDays = kDefaultLogRetentionDays;
  int RTCMFormat = kRTCMFormatASCII;
  int ErrorHandling = kErrorMessages;
  std::string OrvelDBPath;
  std::vector<std::string> OrvelDBs;
  std::string SapenDBPath;
  std::vector<std::string> SapenDBs;
  std::string GeoidGridPath;
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

  // Value normalisation, also used for a configuration's own RTCMFormat
  // (inline: the module layer uses them without linking the application).
  static int ParseRTCMFormat(std::string_view text) {
    std::string v = UpperTrimmed(text);
    if (v == "BINARY") return kRTCMFormatBinary;
    if (v == "XML") return kRTCMFormatXML;
    return kRTCMFormatASCII;
  }
  static int ParseErrorHandling(std::string_view text) {
    return UpperTrimmed(text) == "INVALIDAREA" ? kInvalidArea : kErrorMessages;
  }
  // Blanks removed at both ends, ASCII letters in upper case.
  static std::string UpperTrimmed(std::string_view text) {
    auto blank = [](char c) {
      return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string out(text);
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
  }
  // Days of logs to keep: a whole number, 0 or more; empty gives the
  // default; false (and the default) for anything else.
  static bool ParseLogRetentionDays(std::string_view text, int& days);
  // "ASCII", "BINARY", "XML" of a format code ("Unknown" otherwise).
  static const char* RTCMFormatName(int format);

  // Path rules (exposed for the configuration set and tests).
  static std::string DatabasePath(const std::filesystem::path& programFolder, std::string value);
  static std::string ConfigurationsPathOf(const std::filesystem::path& programFolder, std::string value);
  // Backslashes to slashes.
  static std::string NormalisedPath(std::string value) {
    for (char& c : value)
      if (c == '\\') c = '/';
    return value;
  }
};

}  // namespace tarvik
