#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A log whose clock the test sets.
class ClockedLog : public PelLog {
 public:
  using PelLog::PelLog;
  std::time_t at = 0;

 protected:
  std::time_t now() const override { return at ? at : PelLog::now(); }
};

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

const std::string kRule(119, '_');

class PelLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(home_);
    SetProgramFolder(home_);
  }
  void TearDown() override {
    SetProgramFolder({});
    fs::remove_all(home_);
  }
  fs::path home_ = fs::temp_directory_path() / ("tarvik_pellog_" + std::to_string(::getpid()));
};

TEST_F(PelLogTest, FilesPerConfigurationAndDayWithHeaderOnCreation) {
  ClockedLog wide, nord("Nord");
  wide.at = nord.at = LocalTime(2026, 12, 7, 14, 5, 9);
  EXPECT_EQ(wide.currentPath(), home_ / "Log" / "PelLog_07.12.2026.log");
  EXPECT_EQ(nord.currentPath(), home_ / "Log" / "Nord" / "PelLog_Nord_07.12.2026.log");

  nord.write(0, PelLogInfo, "Tarvik:Nord", "first");
  nord.write(0, PelLogInfo, "Tarvik:Nord", "second");
  wide.write(0, PelLogInfo, "Tarvik", "other");
  std::string text = ReadFile(nord.currentPath());
  EXPECT_EQ(text.rfind(kRule + "\n\nApplication:      ", 0), 0u);
  EXPECT_EQ(CountOf(text, kRule), 2);
  EXPECT_EQ(CountOf(text, "Configuration:    Nord\n"), 1);
  EXPECT_EQ(CountOf(text, "Version:          Version: 1.0.0\n"), 1);
  EXPECT_LT(text.find(kRule + "\n\n["), text.find("first"));
  EXPECT_LT(text.find("first"), text.find("second"));
  EXPECT_EQ(CountOf(text, "other"), 0);
  EXPECT_EQ(CountOf(ReadFile(wide.currentPath()), "Configuration:"), 0);

  // writeHeader appends another block to an existing file.
  nord.writeHeader();
  text = ReadFile(nord.currentPath());
  EXPECT_EQ(CountOf(text, kRule), 4);
  EXPECT_GT(text.rfind(kRule), text.find("second"));

  nord.setConfiguration("Sued");
  EXPECT_EQ(nord.currentPath(), home_ / "Log" / "Sued" / "PelLog_Sued_07.12.2026.log");
}

TEST_F(PelLogTest, LineColumnsAndSeverities) {
  ClockedLog log("Nord");
  log.at = LocalTime(2026, 12, 7, 14, 5, 9);
  EXPECT_EQ(log.formatLine(PelLogError, "Tarvik:Nord", "Started."),
            "[07.12.2026-14:05:09][ERROR]   [Tarvik:Nord]                 Started.\n");
  EXPECT_EQ(log.formatLine(PelLogWarning, "X", "m"),
            "[07.12.2026-14:05:09][WARNING] [X]                           m\n");
  EXPECT_EQ(log.formatLine(3, "X", "m"), "[07.12.2026-14:05:09]          [X]                           m\n");
  const std::string longSource(40, 's');  // widens the line, is not cut
  EXPECT_EQ(log.formatLine(PelLogInfo, longSource, "m"),
            "[07.12.2026-14:05:09][INFO]    [" + longSource + "]m\n");
}

TEST_F(PelLogTest, NewFileAtMidnightAndVerbosity) {
  ClockedLog log("Nord");
  log.at = LocalTime(2026, 12, 7, 23, 59, 59);
  log.write(0, PelLogInfo, "S", "late");
  const fs::path first = log.currentPath();
  log.at = LocalTime(2026, 12, 8, 0, 0, 0);
  log.write(0, PelLogInfo, "S", "early");
  EXPECT_EQ(log.currentPath().filename(), "PelLog_Nord_08.12.2026.log");
  EXPECT_EQ(CountOf(ReadFile(first), "early"), 0);
  EXPECT_EQ(CountOf(ReadFile(log.currentPath()), "early"), 1);
  EXPECT_EQ(CountOf(ReadFile(log.currentPath()), kRule), 2);

  for (int verbosity : {0, 1, 2}) {
    log.setVerbosity(verbosity);
    for (int detail : {0, 1, 2})
      log.write(detail, PelLogInfo, "S",
                "v" + std::to_string(verbosity) + "d" + std::to_string(detail) + ";");
  }
  const std::string text = ReadFile(log.currentPath());
  EXPECT_EQ(CountOf(text, "d0;"), 3);
  EXPECT_EQ(CountOf(text, "v0d1;") + CountOf(text, "v0d2;") + CountOf(text, "v1d2;"), 0);
  EXPECT_EQ(CountOf(text, "v1d1;") + CountOf(text, "v2d1;") + CountOf(text, "v2d2;"), 3);
}

TEST_F(PelLogTest, ConcurrentWritersLoseAndMixNothing) {
  constexpr int kThreads = 8, kLines = 200;
  // A second process writes at the same time (forked before any thread
  // exists, so it inherits no held lock).
  pid_t child = ::fork();
  if (child == 0) {
    for (int i = 0; i < kLines; ++i)
      PelLog("Busy").write(0, PelLogInfo, "P", "child " + std::to_string(i) + "|");
    ::_exit(0);
  }
  // Half the threads make a log per line, the other half share one (as the
  // control panel's workers share the program's log), writing through both
  // of its calls.
  PelLog shared("Busy");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &shared] {
      const std::string source = "T" + std::to_string(t);
      for (int i = 0; i < kLines; ++i) {
        const std::string message = std::string(100, 'x') + std::to_string(i) + "|";
        if (t % 2 == 0)
          PelLog("Busy").write(0, PelLogInfo, source, message);
        else if (i % 2 == 0)
          shared.write(0, PelLogInfo, source, message);
        else
          shared.writeLines(0, PelLogInfo, source, {message});
      }
    });
  for (auto& th : threads) th.join();
  int status = 0;
  ::waitpid(child, &status, 0);

  std::ifstream in(PelLog("Busy").currentPath());
  int lines = 0, headers = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Application:", 0) == 0) ++headers;
    if (line.find("[INFO]") == std::string::npos) continue;
    ++lines;
    EXPECT_EQ(line.back(), '|') << line;
    EXPECT_EQ(CountOf(line, "[INFO]"), 1) << line;
  }
  EXPECT_EQ(lines, kThreads * kLines + kLines);
  EXPECT_EQ(headers, 1);
}

TEST_F(PelLogTest, AnotherWritersLockHoldsUpOnlyTheHeaderOfAnEmptyFile) {
  PelLog log("Locked");
  log.write(0, PelLogInfo, "S", "before");
  int fd = ::open(log.currentPath().c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  // Lines appended to a file that has its header go out at once, whoever
  // holds its lock: each is a single append that nobody can split.
  log.setRetry(3, 1);
  log.write(0, PelLogInfo, "S", "appended");
  EXPECT_EQ(CountOf(ReadFile(log.currentPath()), "appended"), 1);

  // An empty file waits for the lock before it gets its header: given up
  // after the attempts, written once the other writer lets go.
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  log.write(0, PelLogInfo, "S", "dropped");
  std::thread release([fd] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::flock(fd, LOCK_UN);
  });
  log.setRetry(10000, 5);
  log.write(0, PelLogInfo, "S", "waited");
  release.join();
  ::close(fd);
  const std::string text = ReadFile(log.currentPath());
  EXPECT_EQ(CountOf(text, "dropped"), 0);
  EXPECT_EQ(CountOf(text, "waited"), 1);
  EXPECT_EQ(text.rfind(kRule, 0), 0u) << text;

  // A folder that cannot be created loses the line without harm.
  SetProgramFolder("/proc/no_such_place");
  ::testing::internal::CaptureStderr();
  PelLog("X").write(0, PelLogInfo, "S", "nowhere");
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot be written"), std::string::npos);
}

TEST_F(PelLogTest, LostLinesAreToldOnceAndCountedWhenWritingResumes) {
  PelLog log("Blocked");
  log.write(0, PelLogInfo, "S", "first");
  const fs::path folder = home_ / "Log" / "Blocked";
  fs::remove_all(folder);
  std::ofstream(folder) << "a file where the folder should be\n";

  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) log.write(0, PelLogInfo, "S", "lost");
  PelLog("Other").write(0, PelLogInfo, "S", "fine");  // other files are not affected
  std::string told = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(told, "cannot be written"), 1) << told;
  EXPECT_NE(told.find(log.currentPath().string()), std::string::npos) << told;
  EXPECT_EQ(CountOf(told, "Other"), 0) << told;

  fs::remove(folder);
  ::testing::internal::CaptureStderr();
  log.write(0, PelLogInfo, "S", "back");
  log.write(0, PelLogInfo, "S", "still");
  told = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(CountOf(told, "is written again; 3 lines were lost."), 1) << told;
  const std::string text = ReadFile(log.currentPath());
  EXPECT_EQ(CountOf(text, "back"), 1);
  EXPECT_EQ(CountOf(text, "lost"), 0);
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(PelLogTest, FileRemovedTruncatedOrRenamedWhileWrittenLosesNoLine) {
  PelLog log("Moved");
  log.write(0, PelLogInfo, "S", "one");
  const fs::path path = log.currentPath();

  // Removed: the next line makes the file anew, header first.
  fs::remove(path);
  log.write(0, PelLogInfo, "S", "two");
  std::string text = ReadFile(path);
  EXPECT_EQ(text.rfind(kRule, 0), 0u) << text;
  EXPECT_EQ(CountOf(text, "two"), 1);

  // Emptied: it starts with the header again.
  fs::resize_file(path, 0);
  log.write(0, PelLogInfo, "S", "three");
  text = ReadFile(path);
  EXPECT_EQ(text.rfind(kRule, 0), 0u) << text;
  EXPECT_EQ(CountOf(text, "three"), 1);

  // Renamed away (a rotation) or its folder moved: the next line starts a
  // new file under the name.
  const fs::path rotated = path.string() + ".1";
  fs::rename(path, rotated);
  log.write(0, PelLogInfo, "S", "four");
  EXPECT_EQ(CountOf(ReadFile(rotated), "three"), 1);
  EXPECT_EQ(CountOf(ReadFile(rotated), "four"), 0);
  text = ReadFile(path);
  EXPECT_EQ(text.rfind(kRule, 0), 0u) << text;
  EXPECT_EQ(CountOf(text, "four"), 1);
  const fs::path folder = path.parent_path();
  fs::rename(folder, folder.string() + ".away");
  log.write(0, PelLogInfo, "S", "five");
  EXPECT_EQ(CountOf(ReadFile(path), "five"), 1);
  EXPECT_EQ(CountOf(ReadFile(folder.string() + ".away/" + path.filename().string()), "five"), 0);
}

TEST_F(PelLogTest, DescriptorsDoNotGrowWithLinesOrLogObjects) {
  PelLog("Few").write(0, PelLogInfo, "S", "warm");
  PelLog("Other").write(0, PelLogInfo, "S", "warm");
  const int before = OpenDescriptors();
  for (int i = 0; i < 500; ++i) {
    PelLog("Few").write(0, PelLogInfo, "S", "x");
    PelLog("Other").write(0, PelLogInfo, "S", "y");
  }
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(CountOf(ReadFile(PelLog("Few").currentPath()), "[S]"), 501);
}

TEST_F(PelLogTest, LinesWrittenBeforeAKillAreInTheFile) {
  constexpr int kLines = 300;
  pid_t child = ::fork();
  if (child == 0) {
    std::thread other([] {
      for (int i = 0; i < kLines; ++i)
        PelLog("Killed").write(0, PelLogInfo, "T", "thread " + std::to_string(i) + "|");
    });
    for (int i = 0; i < kLines; ++i)
      PelLog("Killed").write(0, PelLogInfo, "M", "main " + std::to_string(i) + "|");
    other.join();
    ::kill(::getpid(), SIGKILL);  // no exit handlers, no flushing
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  const std::string text = ReadFile(PelLog("Killed").currentPath());
  EXPECT_EQ(CountOf(text, "[INFO]"), 2 * kLines);
  EXPECT_EQ(CountOf(text, "|\n"), 2 * kLines);
  EXPECT_EQ(CountOf(text, "main 299|"), 1);
  EXPECT_EQ(CountOf(text, "thread 299|"), 1);
}

TEST_F(PelLogTest, AForkedChildWritesBesideItsParent) {
  // The parent has the file open when it forks; both then write at once.
  constexpr int kLines = 300;
  PelLog("Forked").write(0, PelLogInfo, "P", "before|");
  pid_t child = ::fork();
  if (child == 0) {
    for (int i = 0; i < kLines; ++i)
      PelLog("Forked").write(0, PelLogInfo, "C", "child " + std::to_string(i) + "|");
    ::_exit(0);
  }
  for (int i = 0; i < kLines; ++i)
    PelLog("Forked").write(0, PelLogInfo, "P", "parent " + std::to_string(i) + "|");
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string text = ReadFile(PelLog("Forked").currentPath());
  EXPECT_EQ(CountOf(text, "|\n"), 2 * kLines + 1);
  EXPECT_EQ(CountOf(text, "[INFO]"), 2 * kLines + 1);
  EXPECT_EQ(CountOf(text, "Application:"), 1);
}

}  // namespace
}  // namespace tarvik
