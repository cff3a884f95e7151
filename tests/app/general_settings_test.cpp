#include "app/CTarvikSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace fs = std::filesystem;
using tarvik::CTarvikSettings;

namespace {

class GeneralSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("general_settings_" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    tarvik::SetProgramFolder(home_);
  }
  void TearDown() override {
    tarvik::SetProgramFolder({});
    fs::remove_all(home_);
  }
  void WriteSettings(const std::string& text) {
    std::ofstream(home_ / "Tarvik_General.ini", std::ios::binary) << text;
  }
  std::string LogText() {
    std::ifstream in(log_.currentPath());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path home_;
  tarvik::PelLog log_;
};

TEST_F(GeneralSettings, NormalisesFormatsAndPaths) {
  WriteSettings(
      "[ApplicationSettings]\r\nTextEditor=/usr/bin/vi\r\n"
      "[ServerSettings]\r\nRTCMFormat=  binary  \r\nErrorHandling=invalidarea\r\n"
      "[ORVEL_DB]\r\nPath=/data/orvel\r\nDB1=a.grd\r\nDB2=b.grd\r\n"
      "[SAPEN_DB]\r\nPath=.\\Marlo\r\nDB1=m.db\r\n"
      "[Geoid_Grids]\r\nPath=.\\Geoid\r\n"
      "[Configurations]\r\nPath=.\\Configs\r\nConfiguration1=A\r\nConfiguration2=\r\n"
      "Configuration3=C\r\n");
  CTarvikSettings s;
  ASSERT_TRUE(s.ReadGeneralSettings());
  EXPECT_EQ(s.TextEditor, "/usr/bin/vi");
  EXPECT_EQ(s.RTCMFormat, tarvik::kRTCMFormatBinary);
  EXPECT_EQ(s.ErrorHandling, CTarvikSettings::kInvalidArea);
  EXPECT_EQ(s.OrvelDBPath, "/data/orvel");
  EXPECT_EQ(s.OrvelDBs, (std::vector<std::string>{"a.grd", "b.grd"}));
  EXPECT_EQ(s.SapenDBPath, home_.string() + "/./Marlo");
  EXPECT_EQ(s.GeoidGridPath, home_.string() + "/./Geoid");
  EXPECT_TRUE(s.GeoidGrids.empty());
  EXPECT_EQ(s.ConfigurationsPath, home_.string() + "/Configs");
  EXPECT_EQ(s.Configurations, std::vector<std::string>{"A"});  // the gap ends the list
  EXPECT_NE(LogText().find("ReadGeneralSettings: ReadGeneralSettings"), std::string::npos);
  // No limits given: the defaults.
  EXPECT_EQ(s.Limits.sendTimeLimit, std::chrono::seconds(10));
  EXPECT_EQ(s.Limits.maxSessions, 5000);
  EXPECT_EQ(s.Limits.maxSessionsPerAddress, 1000);
}

TEST_F(GeneralSettings, SessionLimits) {
  WriteSettings(
      "[ServerSettings]\nSendTimeLimit=3\nMaxSessionsPerConfiguration=0\nMaxSessionsPerAddress=-4\n"
      "[Configurations]\nPath=./Configs\n");
  CTarvikSettings s;
  ASSERT_TRUE(s.ReadGeneralSettings());
  EXPECT_EQ(s.Limits.sendTimeLimit, std::chrono::seconds(3));
  EXPECT_EQ(s.Limits.maxSessions, 0);            // no limit
  EXPECT_EQ(s.Limits.maxSessionsPerAddress, 0);  // a negative value is no limit either
}

TEST_F(GeneralSettings, ValueWordsAndTheirFallbacks) {
  EXPECT_EQ(tarvik::ParseRTCMFormat("xml"), tarvik::kRTCMFormatXML);
  EXPECT_EQ(tarvik::ParseRTCMFormat("\tASCII "), tarvik::kRTCMFormatASCII);
  EXPECT_EQ(tarvik::ParseRTCMFormat("Binary-Mode"), tarvik::kRTCMFormatASCII);
  EXPECT_EQ(tarvik::ParseRTCMFormat(""), tarvik::kRTCMFormatASCII);
  EXPECT_EQ(CTarvikSettings::ParseErrorHandling(""), CTarvikSettings::kErrorMessages);
  EXPECT_EQ(CTarvikSettings::ParseErrorHandling("INVALID AREA"), CTarvikSettings::kErrorMessages);
  // Only "./" is dropped from the configurations path; "../x" stays whole.
  EXPECT_EQ(CTarvikSettings::ConfigurationsPathOf("/p", "../Configs"), "/p/../Configs");
  EXPECT_EQ(CTarvikSettings::ConfigurationsPathOf("/p", "/abs/Configs"), "/abs/Configs");
  EXPECT_EQ(CTarvikSettings::DatabasePath("/p", "..\\db"), "/p/../db");
}

TEST_F(GeneralSettings, MissingFileOrConfigurationsPathFails) {
  CTarvikSettings s;
  EXPECT_FALSE(s.ReadGeneralSettings(home_, log_));
  EXPECT_NE(LogText().find("ReadGeneralSettings: Configuration-file " +
                           (home_ / "Tarvik_General.ini").string() + " is missing."),
            std::string::npos);

  WriteSettings("[ServerSettings]\nRTCMFormat=XML\n[Configurations]\nConfiguration1=A\n");
  EXPECT_FALSE(s.ReadGeneralSettings(home_, log_));
  EXPECT_NE(LogText().find("ReadGeneralSettings: ConfigurationPath missing"), std::string::npos);
}

TEST_F(GeneralSettings, TotalsWriteIntervalKeepsTheOneMinuteBound) {
  const std::pair<const char*, int> cases[] = {{"", 60},     {"1", 1},  {"15", 15}, {"60", 60}, {"61", 60},
                                               {"3600", 60}, {"0", 60}, {"-5", 60}, {"x", 60},  {" 30 ", 30}};
  for (const auto& [value, expected] : cases) {
    WriteSettings(std::string("[ServerSettings]\nTotalsWriteInterval=") + value +
                  "\n[Configurations]\nPath=./Configs\n");
    CTarvikSettings s;
    ASSERT_TRUE(s.ReadGeneralSettings(home_, log_));
    EXPECT_EQ(s.TotalsWriteInterval, expected) << "\"" << value << "\"";
  }
}

TEST_F(GeneralSettings, LogRetentionDaysWithItsDefault) {
  const std::string rest = "[Configurations]\nPath=./Configs\n";
  CTarvikSettings s;
  WriteSettings("[ApplicationSettings]\nTextEditor=vi\n" + rest);
  ASSERT_TRUE(s.ReadGeneralSettings(home_, log_));
  EXPECT_EQ(s.LogRetentionDays, 30);

  WriteSettings("[ApplicationSettings]\nLogRetentionDays= 7 \n" + rest);
  ASSERT_TRUE(s.ReadGeneralSettings(home_, log_));
  EXPECT_EQ(s.LogRetentionDays, 7);

  WriteSettings("[ApplicationSettings]\nLogRetentionDays=0\n" + rest);
  ASSERT_TRUE(s.ReadGeneralSettings(home_, log_));
  EXPECT_EQ(s.LogRetentionDays, 0);  // keeps everything

  // Anything but a number of days keeps the default and says so; a value
  // that is not understood must not remove more than the default would.
  for (const char* bad : {"-1", "7d", "thirty", "99999999999"}) {
    WriteSettings("[ApplicationSettings]\nLogRetentionDays=" + std::string(bad) + "\n" + rest);
    ASSERT_TRUE(s.ReadGeneralSettings(home_, log_)) << bad;
    EXPECT_EQ(s.LogRetentionDays, 30) << bad;
    EXPECT_NE(LogText().find("ReadGeneralSettings: LogRetentionDays " + std::string(bad) +
                             " is not a number of days; 30 days are kept."),
              std::string::npos)
        << bad;
  }
}

}  // namespace
