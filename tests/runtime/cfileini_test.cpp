#include "runtime/CFileIni.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using tarvik::CFileIni;

namespace {

class IniFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cfileini_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = dir_ / "test.ini";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string Content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path dir_, path_;
};

TEST_F(IniFile, ReadsLikeThePrivateProfileReader) {
  Write(
      "\xEF\xBB\xBF; leading comment\r\n"
      "orphan=before any section\r\n"
      "  [ Settings ]  \r\n"
      "  PortNum =  5001  \r\n"
      "Active=1021;1023;1025\r\n"
      ";Mode=REGIONAL\r\n"
      "Mode=local\r\n"
      "Quoted=\"  spaced  \"\r\n"
      "Single='x'\r\n"
      "Unbalanced=\"abc\r\n"
      "Mode=second\r\n"
      "[settings]\r\n"
      "Late=never seen\r\n"
      "[Other]\r\n"
      "Last=no newline");
  CFileIni ini(path_);
  EXPECT_TRUE(ini.CanRead());
  EXPECT_EQ(ini.ReadInt("settings", "PORTNUM"), 5001);
  EXPECT_EQ(ini.ReadString("SETTINGS", "active"), "1021;1023;1025");  // ';' is not a comment here
  EXPECT_EQ(ini.ReadString("Settings", "Mode"), "local");             // first wins, comment skipped
  EXPECT_EQ(ini.ReadString("Settings", "Quoted"), "  spaced  ");
  EXPECT_EQ(ini.ReadString("Settings", "Single"), "x");
  EXPECT_EQ(ini.ReadString("Settings", "Unbalanced"), "\"abc");
  EXPECT_EQ(ini.ReadString("Settings", "Late", "dflt"), "dflt");  // duplicate section ignored
  EXPECT_EQ(ini.ReadString("Other", "Last"), "no newline");
  EXPECT_EQ(ini.ReadString("Settings", "orphan"), "");
  EXPECT_EQ((std::vector<std::string>{"Settings", "Other"}), ini.ReadSectionNames());
  EXPECT_EQ((std::vector<std::string>{"PortNum", "Active", "Mode", "Quoted", "Single", "Unbalanced"}),
            ini.ReadKeyNames("settings"));
}

TEST_F(IniFile, DefaultsAndNumberConversions) {
  Write(
      "[N]\nEmpty=\nText=abc\nLead=  42abc\nNeg=-17\nPlus=+8\nHuge=99999999999999999999\n"
      "NegHuge=-99999999999999999999\nD=-9999.5xyz\nE=1e3\nDQuoted=\"3.25\"\n");
  CFileIni ini(path_);
  EXPECT_EQ(ini.ReadInt("N", "Missing"), 0);
  EXPECT_EQ(ini.ReadInt("N", "Empty", 7), 7);  // empty counts as missing
  EXPECT_EQ(ini.ReadInt("N", "Text", 7), 0);   // text without a number is 0, not the default
  EXPECT_EQ(ini.ReadInt("N", "Lead"), 42);
  EXPECT_EQ(ini.ReadInt("N", "Neg"), -17);
  EXPECT_EQ(ini.ReadInt("N", "Plus"), 8);
  EXPECT_EQ(ini.ReadInt("N", "Huge"), INT_MAX);
  EXPECT_EQ(ini.ReadInt("N", "NegHuge"), INT_MIN);
  EXPECT_EQ(ini.ReadLong("N", "Huge"), LONG_MAX);
  EXPECT_DOUBLE_EQ(ini.ReadDouble("N", "D"), -9999.5);
  EXPECT_DOUBLE_EQ(ini.ReadDouble("N", "E"), 1000.0);
  EXPECT_DOUBLE_EQ(ini.ReadDouble("N", "DQuoted"), 3.25);
  EXPECT_DOUBLE_EQ(ini.ReadDouble("N", "Missing"), 0.0);
  EXPECT_EQ(ini.ReadString("N", "Missing"), "");

  CFileIni absent(dir_ / "absent.ini");
  EXPECT_FALSE(absent.CanRead());
  EXPECT_EQ(absent.ReadString("N", "Text", "d"), "d");
  CFileIni folder(dir_);
  EXPECT_FALSE(folder.CanRead());
}

TEST_F(IniFile, LongValuesAreCutToTheBuffer) {
  Write("[S]\nV=" + std::string(3000, 'x') + "\n");
  EXPECT_EQ(CFileIni(path_).ReadString("S", "V").size(), CFileIni::ValueBufferSize - 1);
}

TEST_F(IniFile, WritingKeepsEveryOtherLine) {
  Write(
      "; header comment\r\n[Settings]\r\nPORTNUM=5001\r\n; note\r\nTotalNumberOfRequests=3\r\n"
      "\r\n[1021]\r\nA=1\r\nA=2");
  CFileIni ini(path_);
  ASSERT_TRUE(ini.WriteInt("settings", "totalnumberofrequests", 12));
  EXPECT_EQ(Content(),
            "; header comment\r\n[Settings]\r\nPORTNUM=5001\r\n; note\r\nTotalNumberOfRequests=12\r\n"
            "\r\n[1021]\r\nA=1\r\nA=2");
  ASSERT_TRUE(ini.WriteString("Settings", "Mode", "LOCAL"));  // after the last entry of the section
  ASSERT_TRUE(ini.WriteString("1021", "B", "x"));             // last line had no newline
  ASSERT_TRUE(ini.WriteString("New", "K", "v"));
  EXPECT_EQ(Content(),
            "; header comment\r\n[Settings]\r\nPORTNUM=5001\r\n; note\r\nTotalNumberOfRequests=12\r\n"
            "Mode=LOCAL\r\n\r\n[1021]\r\nA=1\r\nA=2\r\nB=x\r\n[New]\r\nK=v\r\n");
  EXPECT_EQ(ini.ReadString("1021", "A"), "1");
  EXPECT_EQ(ini.ReadLong("Settings", "TotalNumberOfRequests"), 12);
}

TEST_F(IniFile, WritingCreatesFilesAndRefusesUnsafeInput) {
  CFileIni ini(dir_ / "new.ini");
  ASSERT_TRUE(ini.WriteString("Configurations", "Configuration1", "Nord"));
  ASSERT_TRUE(ini.WriteDouble("Configurations", "D", 0.1));
  ASSERT_TRUE(ini.WriteString("Configurations", "Configuration2", ""));
  EXPECT_EQ(ini.ReadString("Configurations", "Configuration1"), "Nord");
  EXPECT_EQ(ini.ReadDouble("Configurations", "D"), 0.1);  // round trip exact
  EXPECT_EQ(ini.ReadString("Configurations", "Configuration2", "none"), "none");

  EXPECT_FALSE(ini.WriteString("S", "K", "two\nlines"));
  EXPECT_FALSE(ini.WriteString("S", "K=", "v"));
  EXPECT_FALSE(ini.WriteString("S]", "K", "v"));
  EXPECT_FALSE(ini.WriteString("", "K", "v"));
  EXPECT_FALSE(ini.WriteString("S", " ", "v"));
  EXPECT_FALSE(CFileIni(dir_ / "missing" / "x.ini").WriteString("S", "K", "v"));
  EXPECT_EQ(ini.ReadSectionNames(), std::vector<std::string>{"Configurations"});
}

// Names in the folder other than the INI file itself.
std::set<std::string> Others(const fs::path& dir, const std::string& except) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().filename() != except) out.insert(e.path().filename().string());
  return out;
}

TEST_F(IniFile, AWriteKeepsTheModeAndLeavesNoTemporaryFile) {
  Write("[Settings]\nTotalNumberOfRequests=1\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  CFileIni ini(path_);
  ASSERT_TRUE(ini.WriteInt("Settings", "TotalNumberOfRequests", 2));
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  ASSERT_TRUE(ini.WriteInt("Settings", "TotalNumberOfRequests", 3));
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Content(), "[Settings]\nTotalNumberOfRequests=3\n");
  EXPECT_TRUE(Others(dir_, "test.ini").empty());
}

TEST_F(IniFile, AWriteNeverFollowsALinkPlantedBesideTheFile) {
  Write("[Settings]\nPORTNUM=1\n");
  const fs::path victim = dir_ / "victim.txt";
  std::ofstream(victim) << "untouched";
  // A temporary name derived from the process alone can be guessed.
  fs::path planted = path_;
  planted += ".tmp" + std::to_string(::getpid());
  fs::create_symlink(victim, planted);
  CFileIni ini(path_);
  ASSERT_TRUE(ini.WriteInt("Settings", "PORTNUM", 2));
  std::ifstream in(victim);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "untouched");
  EXPECT_TRUE(fs::is_symlink(planted));
  EXPECT_EQ(ini.ReadInt("Settings", "PORTNUM"), 2);
}

TEST_F(IniFile, AFailedWriteLeavesTheFileAsItWasAndNoTemporaryFile) {
  const std::string before = "[Settings]\nPORTNUM=1\n; " + std::string(2000, 'x') + "\n";
  Write(before);
  CFileIni ini(path_);
  // The disk "fills up" in the middle of the new content.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = ini.WriteInt("Settings", "PORTNUM", 2);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  EXPECT_FALSE(written);
  EXPECT_EQ(Content(), before);
  EXPECT_TRUE(Others(dir_, "test.ini").empty());
}

TEST_F(IniFile, WritersInTwoProcessesKeepEachOthersKeys) {
  Write("[Settings]\n");
  constexpr int kKeys = 60;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CFileIni ini(path_);
    bool ok = true;
    for (int i = 0; i < kKeys; ++i) ok = ini.WriteInt("Settings", "Child" + std::to_string(i), i) && ok;
    _exit(ok ? 0 : 1);
  }
  CFileIni ini(path_);
  for (int i = 0; i < kKeys; ++i) EXPECT_TRUE(ini.WriteInt("Settings", "Parent" + std::to_string(i), i));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  int missing = 0;
  for (int i = 0; i < kKeys; ++i) {
    missing += ini.ReadString("Settings", "Parent" + std::to_string(i)).empty();
    missing += ini.ReadString("Settings", "Child" + std::to_string(i)).empty();
  }
  EXPECT_EQ(missing, 0);
  EXPECT_TRUE(Others(dir_, "test.ini").empty());
}

TEST_F(IniFile, SeveralKeysGoInOneRewriteOrNotAtAll) {
  Write("; kept\n[Configurations]\nPath=.\\Configs\nConfiguration1=A\n");
  CFileIni ini(path_);
  ASSERT_TRUE(ini.WriteStrings("Configurations", {{"Configuration1", "B"}, {"Configuration2", "C"}}));
  EXPECT_EQ(Content(), "; kept\n[Configurations]\nPath=.\\Configs\nConfiguration1=B\nConfiguration2=C\n");
  // One bad key refuses the whole write.
  EXPECT_FALSE(ini.WriteStrings("Configurations", {{"Configuration1", "D"}, {"Bad=", "x"}}));
  EXPECT_EQ(ini.ReadString("Configurations", "Configuration1"), "B");
}

}  // namespace
