#include "runtime/LogRetention.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::time_t LocalNoon(int y, int mo, int d) {
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

class LogRetentionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(home_);
    fs::create_directories(log_);
    SetProgramFolder(home_);
  }
  void TearDown() override {
    SetProgramFolder({});
    fs::remove_all(home_);
  }
  fs::path Touch(const fs::path& relative) {
    const fs::path p = log_ / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "line\n";
    return p;
  }
  bool Exists(const fs::path& relative) const { return fs::exists(fs::symlink_status(log_ / relative)); }

  fs::path home_ = fs::temp_directory_path() / ("tarvik_retention_" + std::to_string(::getpid()));
  fs::path log_ = home_ / "Log";
};

TEST_F(LogRetentionTest, KeepsTheLastDaysOfEveryLogAndRemovesOlderDailyFiles) {
  // 30 days kept on 5 January 2026: 7 December 2025 is the oldest day kept.
  for (const char* name : {"PelLog_05.01.2026.log", "PelLog_07.12.2025.log", "PelLog_06.12.2025.log",
                           "PelLog_31.12.2019.log", "PelLog_01.01.2030.log"})
    Touch(name);
  for (const char* name : {"Nord/PelLog_Nord_07.12.2025.log", "Nord/PelLog_Nord_06.12.2025.log",
                           "Sued/PelLog_Sued_01.06.2024.log", "Sued/PelLog_Sued_04.01.2026.log"})
    Touch(name);

  const LogRetention::Result result = LogRetention(log_, 30).RemoveExpired(LocalNoon(2026, 1, 5));
  EXPECT_EQ(result.removed, 4);
  EXPECT_EQ(result.failed, 0);
  EXPECT_TRUE(Exists("PelLog_05.01.2026.log"));
  EXPECT_TRUE(Exists("PelLog_07.12.2025.log"));
  EXPECT_FALSE(Exists("PelLog_06.12.2025.log"));
  EXPECT_FALSE(Exists("PelLog_31.12.2019.log"));
  EXPECT_TRUE(Exists("PelLog_01.01.2030.log"));  // a clock set back must not cost a day of logs
  EXPECT_TRUE(Exists("Nord/PelLog_Nord_07.12.2025.log"));
  EXPECT_FALSE(Exists("Nord/PelLog_Nord_06.12.2025.log"));
  EXPECT_FALSE(Exists("Sued/PelLog_Sued_01.06.2024.log"));
  EXPECT_TRUE(Exists("Sued/PelLog_Sued_04.01.2026.log"));
  EXPECT_TRUE(fs::is_directory(log_ / "Sued"));
}

TEST_F(LogRetentionTest, TouchesNothingButDailyLogFilesOfTheirOwnFolder) {
  const char* foreign[] = {
      "notes.txt",
      "PelLog_01.01.2020.log.gz",         // an operator's archive
      "PelLog_01.01.2020.txt",            //
      "PelLog_1.1.2020.log",              // not the two-digit form
      "PelLog_32.01.2020.log",            // no such day
      "PelLog_01.13.2020.log",            // no such month
      "PelLog__01.01.2020.log",           //
      "PelLog_Nord_01.01.2020.log",       // a configuration's file outside its folder
      "Nord/PelLog_01.01.2020.log",       // the program-wide name inside a configuration folder
      "Nord/PelLog_Sued_01.01.2020.log",  // another configuration's name
      "Nord/PelLog_Nord_0a.01.2020.log",
      "Nord/Deeper/PelLog_Deeper_01.01.2020.log",  // one folder level only
  };
  for (const char* name : foreign) Touch(name);
  fs::create_directories(log_ / "Nord" / "PelLog_Nord_02.01.2020.log");  // a folder of that name
  const fs::path outside = home_ / "kept.log";
  std::ofstream(outside) << "not ours\n";
  fs::create_symlink(outside, log_ / "PelLog_03.01.2020.log");  // a link of that name

  const LogRetention::Result result = LogRetention(log_, 1).RemoveExpired(LocalNoon(2026, 1, 5));
  EXPECT_EQ(result.removed, 0);
  for (const char* name : foreign) EXPECT_TRUE(Exists(name)) << name;
  EXPECT_TRUE(fs::is_directory(log_ / "Nord" / "PelLog_Nord_02.01.2020.log"));
  EXPECT_TRUE(Exists("PelLog_03.01.2020.log"));
  EXPECT_TRUE(fs::exists(outside));
}

TEST_F(LogRetentionTest, DayBoundariesZeroAndAMissingFolder) {
  // Keeping one day keeps today's file only, across a leap day.
  Touch("PelLog_29.02.2028.log");
  Touch("PelLog_01.03.2028.log");
  EXPECT_EQ(LogRetention(log_, 0).RemoveExpired(LocalNoon(2028, 3, 1)).removed, 0);  // 0 keeps everything
  EXPECT_TRUE(Exists("PelLog_29.02.2028.log"));
  EXPECT_EQ(LogRetention(log_, 2).RemoveExpired(LocalNoon(2028, 3, 1)).removed, 0);
  EXPECT_EQ(LogRetention(log_, 1).RemoveExpired(LocalNoon(2028, 3, 1)).removed, 1);
  EXPECT_FALSE(Exists("PelLog_29.02.2028.log"));
  EXPECT_TRUE(Exists("PelLog_01.03.2028.log"));

  // No log folder yet (first start): nothing to do, nothing fails.
  const LogRetention::Result none = LogRetention(home_ / "NoLog", 30).RemoveExpired(LocalNoon(2028, 3, 1));
  EXPECT_EQ(none.removed + none.failed, 0);
}

TEST_F(LogRetentionTest, ScheduleAppliesAtOnceAndTellsTheProgramLog) {
  Touch("PelLog_01.01.2000.log");
  Touch("Nord/PelLog_Nord_01.01.2000.log");
  Touch("Nord/keep.txt");
  { LogRetentionSchedule schedule(log_, 30); }
  EXPECT_FALSE(Exists("PelLog_01.01.2000.log"));
  EXPECT_FALSE(Exists("Nord/PelLog_Nord_01.01.2000.log"));
  EXPECT_TRUE(Exists("Nord/keep.txt"));
  std::ifstream in(PelLog().currentPath());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Log retention: removed 2 daily log files (keeping 30 days)."), std::string::npos)
      << text.str();

  // 0 keeps everything and says nothing.
  Touch("PelLog_01.01.2000.log");
  { LogRetentionSchedule schedule(log_, 0); }
  EXPECT_TRUE(Exists("PelLog_01.01.2000.log"));
}

}  // namespace
}  // namespace tarvik
