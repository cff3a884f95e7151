#include "runtime/CFileIni.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
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

}  // namespace
