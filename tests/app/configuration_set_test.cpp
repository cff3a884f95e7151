// The configuration set on a temporary program folder: the files it writes,
// the folders it renames, and that refusals leave everything untouched.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/CConfigurationSet.h"
#include "runtime/PelLog.h"

namespace tarvik {
namespace {
namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

const char* const kTemplate =
    "; template of new "
    "configurations\n[Settings]\nPORTNUM=0\nTotalNumberOfRequests=0\nActiveMessages=1021;1023;1025\n"
    "Mode=LOCAL\n";

// '9' in the pattern stands for any digit.
bool MatchesPattern(const std::string& text, const std::string& pattern) {
  if (text.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (pattern[i] == '9' ? !std::isdigit(static_cast<unsigned char>(text[i])) : text[i] != pattern[i])
      return false;
  return true;
}

class ConfigurationSetTest : public ::testing::Test {
 protected:
  ConfigurationSetTest() {
    WriteAll(home.path() / "ConfigurationTemplate.ini", kTemplate);
    WriteAll(general(), "[Configurations]\nPath=.\\Configs\n");
  }
  fs::path general() const { return home.path() / "Tarvik_General.ini"; }
  fs::path configs() const { return home.path() / "Configs"; }
  std::unique_ptr<CConfigurationSet> MakeSet() {
    return std::make_unique<CConfigurationSet>(
        ConfigurationSetPaths{configs(), general(), home.path() / "ConfigurationTemplate.ini"},
        test::FakeFactory(), log);
  }
  std::string Key(const std::string& key) const {
    return CFileIni(general()).ReadString("Configurations", key);
  }
  std::vector<fs::path> DeletedFolders(const std::string& name) const {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(configs()))
      if (e.path().filename().string().rfind(name + "__deleted__", 0) == 0) out.push_back(e.path());
    return out;
  }

  test::TempProgramFolder home;
  PelLog log;
};

TEST_F(ConfigurationSetTest, AddWritesFileAndListAndReadsTheNewFile) {
  auto set = MakeSet();
  SetOperationResult r = set->AddConfiguration("Nord", 2101);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.message, "The configuration Nord was added. Please configure the module before start.");
  CFileIni ini(configs() / "Nord" / "Nord.ini");
  EXPECT_EQ(ini.ReadInt("Settings", "PORTNUM"), 2101);
  EXPECT_EQ(ini.ReadString("Settings", "TotalNumberOfRequests"), "0");
  EXPECT_EQ(ini.ReadString("Settings", "ActiveMessages"), "1021;1023;1025");
  EXPECT_EQ(Key("Configuration1"), "Nord");
  ASSERT_NE(set->Find("Nord"), nullptr);
  EXPECT_EQ(set->Find("Nord")->Port(), 2101);

  ASSERT_TRUE(set->AddConfiguration("Sued", 2102).ok);
  EXPECT_EQ(Key("Configuration2"), "Sued");
  EXPECT_EQ(set->Names(), (std::vector<std::string>{"Nord", "Sued"}));
}

TEST_F(ConfigurationSetTest, RemovingTheSecondOfThreeShiftsTheThirdAndEmptiesTheRest) {
  auto set = MakeSet();
  for (auto [n, p] : {std::pair{"A", 3001}, {"B", 3002}, {"C", 3003}})
    ASSERT_TRUE(set->AddConfiguration(n, p).ok);
  WriteAll(configs() / "B" / "notes.txt", "kept");

  ASSERT_TRUE(set->RemoveConfiguration("B").ok);

  EXPECT_EQ(Key("Configuration1"), "A");
  EXPECT_EQ(Key("Configuration2"), "C");
  CFileIni g(general());
  for (int i = 3; i <= CConfigurationSet::kRewrittenKeys; ++i) {
    auto keys = g.ReadKeyNames("Configurations");
    EXPECT_NE(std::find(keys.begin(), keys.end(), "Configuration" + std::to_string(i)), keys.end()) << i;
    EXPECT_EQ(Key("Configuration" + std::to_string(i)), "") << i;
  }
  EXPECT_EQ(Key("Path"), ".\\Configs");  // the rest of the section stays
  EXPECT_FALSE(fs::exists(configs() / "B"));
  auto deleted = DeletedFolders("B");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_TRUE(MatchesPattern(deleted[0].filename().string(), "B__deleted__99.99.9999_99.99.99"))
      << deleted[0];
  EXPECT_EQ(ReadAll(deleted[0] / "notes.txt"), "kept");
  EXPECT_TRUE(fs::exists(deleted[0] / "B.ini"));
  EXPECT_EQ(set->Names(), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(set->Find("B"), nullptr);
}

TEST_F(ConfigurationSetTest, RefusalsTouchNoFile) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 3001).ok);
  const std::string before = ReadAll(general());

  SetOperationResult r = set->AddConfiguration("B", 3001);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Port 3001 is already in use. Please choose another port.");
  r = set->CopyConfiguration("A", "B", 3001);
  EXPECT_EQ(r.message, "Port 3001 is already in use. Please choose another port.");
  EXPECT_FALSE(set->AddConfiguration("", 3005).ok);
  EXPECT_EQ(set->AddConfiguration("", 3005).message, "Please specify a name.");
  EXPECT_FALSE(set->AddConfiguration("C", 0).ok);
  EXPECT_FALSE(set->AddConfiguration("C", 70000).ok);
  // An existing name would have its file overwritten by the template.
  WriteAll(configs() / "A" / "A.ini", "[Settings]\nPORTNUM=3001\nMine=1\n");
  EXPECT_FALSE(set->AddConfiguration("A", 3009).ok);
  EXPECT_EQ(CFileIni(configs() / "A" / "A.ini").ReadString("Settings", "Mine"), "1");

  EXPECT_FALSE(fs::exists(configs() / "B"));
  EXPECT_FALSE(fs::exists(configs() / "C"));
  EXPECT_EQ(ReadAll(general()), before);
  EXPECT_EQ(set->Count(), 1u);
  EXPECT_FALSE(set->IsPortFree(3001));
  EXPECT_TRUE(set->IsPortFree(3002));
}

TEST_F(ConfigurationSetTest, NamesThatLeaveTheFolderAreRefusedBeforeAnythingIsTouched) {
  auto set = MakeSet();
  const std::string before = ReadAll(general());
  const std::vector<std::string> bads = {"../escape",
                                         "..",
                                         ".",
                                         "a/b",
                                         "a\\b",
                                         "/abs",
                                         std::string("tab\there"),
                                         std::string("nl\nx"),
                                         std::string("nul\0x", 5),
                                         " lead",
                                         "trail ",
                                         "x__deleted__y",
                                         ".hidden"};
  for (const std::string& bad : bads) {
    SetOperationResult r = set->AddConfiguration(bad, 4000);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_FALSE(r.message.empty()) << bad;
  }
  EXPECT_FALSE(fs::exists(home.path() / "escape"));
  EXPECT_EQ(ReadAll(general()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(configs()), fs::directory_iterator()), 0);
  // Ordinary names with blanks, digits and umlauts are fine.
  EXPECT_TRUE(set->AddConfiguration("Wien Süd 2", 4001).ok);
}

TEST_F(ConfigurationSetTest, AddAfterRemoveStartsAgainFromTheTemplate) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("Nord", 2101).ok);
  CFileIni(configs() / "Nord" / "Nord.ini").WriteString("Settings", "Mode", "REGIONAL");
  ASSERT_TRUE(set->RemoveConfiguration("Nord").ok);
  ASSERT_TRUE(set->AddConfiguration("Nord", 2105).ok);

  CFileIni ini(configs() / "Nord" / "Nord.ini");
  EXPECT_EQ(ini.ReadString("Settings", "Mode"), "LOCAL");
  EXPECT_EQ(ini.ReadInt("Settings", "PORTNUM"), 2105);
  ASSERT_EQ(DeletedFolders("Nord").size(), 1u);
  EXPECT_EQ(CFileIni(DeletedFolders("Nord")[0] / "Nord.ini").ReadString("Settings", "Mode"), "REGIONAL");
  EXPECT_EQ(Key("Configuration1"), "Nord");
}

TEST_F(ConfigurationSetTest, TwoRemovalsOfOneNameInOneSecondKeepBothFolders) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("X", 2101).ok);
  ASSERT_TRUE(set->RemoveConfiguration("X").ok);
  ASSERT_TRUE(set->AddConfiguration("X", 2101).ok);
  ASSERT_TRUE(set->RemoveConfiguration("X").ok);
  EXPECT_EQ(DeletedFolders("X").size(), 2u);
}

TEST_F(ConfigurationSetTest, CopyInheritsEverythingButPortAndTotal) {
  WriteAll(configs() / "Src" / "Src.ini",
           "[Settings]\nPORTNUM=2101\nTotalNumberOfRequests=55\nMode=REGIONAL\nHeightType=GEOIDGRID\n"
           "[1025]\nFalseEasting=450000\n");
  WriteAll(general(), "[Configurations]\nPath=.\\Configs\nConfiguration1=Src\n");
  auto set = MakeSet();
  set->LoadConfigurations({"Src"});

  SetOperationResult r = set->CopyConfiguration("Src", "Dst", 2202);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(r.message, "");  // a copy shows no message
  CFileIni ini(configs() / "Dst" / "Dst.ini");
  EXPECT_EQ(ini.ReadInt("Settings", "PORTNUM"), 2202);
  EXPECT_EQ(ini.ReadLong("Settings", "TotalNumberOfRequests"), 0);
  EXPECT_EQ(ini.ReadString("Settings", "Mode"), "REGIONAL");
  EXPECT_EQ(ini.ReadString("Settings", "HeightType"), "GEOIDGRID");
  EXPECT_EQ(ini.ReadString("1025", "FalseEasting"), "450000");
  EXPECT_EQ(Key("Configuration2"), "Dst");
  ASSERT_NE(set->Find("Dst"), nullptr);
  EXPECT_EQ(set->Find("Dst")->Port(), 2202);
  EXPECT_EQ(set->Find("Dst")->TotalRequests(), 0);
  // The source is untouched.
  EXPECT_EQ(CFileIni(configs() / "Src" / "Src.ini").ReadLong("Settings", "TotalNumberOfRequests"), 55);
}

TEST_F(ConfigurationSetTest, MissingTemplateReportsTheCopyAndLeavesTheSetUnchanged) {
  fs::remove(home.path() / "ConfigurationTemplate.ini");
  auto set = MakeSet();
  const std::string before = ReadAll(general());
  SetOperationResult r = set->AddConfiguration("Nord", 2101);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "Error copying file " + (home.path() / "ConfigurationTemplate.ini").string() + " to " +
                           (configs() / "Nord" / "Nord.ini").string() +
                           ". Please check your permissions for those folders.");
  EXPECT_EQ(set->Count(), 0u);
  EXPECT_FALSE(fs::exists(configs() / "Nord"));
  EXPECT_EQ(ReadAll(general()), before);
}

TEST_F(ConfigurationSetTest, LoadSkipsNamesOutsideTheFolderAndRepeats) {
  WriteAll(configs() / "A" / "A.ini", "[Settings]\nPORTNUM=2101\n");
  auto set = MakeSet();
  set->LoadConfigurations({"A", "../../etc", "A", "Missing"});
  EXPECT_EQ(set->Names(), (std::vector<std::string>{"A", "Missing"}));
  EXPECT_TRUE(set->Find("A")->IsValid());
  EXPECT_FALSE(set->Find("Missing")->IsValid());  // listed with its problem
}

TEST_F(ConfigurationSetTest, AddAfterARefusedListedNameKeepsEveryName) {
  WriteAll(general(),
           "[Configurations]\nPath=.\\Configs\nConfiguration1=A\nConfiguration2=../x\nConfiguration3=B\n");
  auto set = MakeSet();
  set->LoadConfigurations({"A", "../x", "B"});
  ASSERT_TRUE(set->AddConfiguration("C", 2103).ok);
  EXPECT_EQ(Key("Configuration1"), "A");
  EXPECT_EQ(Key("Configuration2"), "B");
  EXPECT_EQ(Key("Configuration3"), "C");
}

TEST_F(ConfigurationSetTest, RunningConfigurationsAreNeitherRemovedNorCopied) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  ASSERT_EQ(set->Find("A")->Start(), 1);
  EXPECT_FALSE(set->RemoveConfiguration("A").ok);
  EXPECT_FALSE(set->CopyConfiguration("A", "B", 2102).ok);
  EXPECT_TRUE(fs::exists(configs() / "A"));
  EXPECT_TRUE(set->AnyRunning());
  set->StopAll();
  EXPECT_FALSE(set->AnyRunning());
}

TEST_F(ConfigurationSetTest, WriteBackTotalKeepsTheCountForTheNextRead) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  auto* m = static_cast<test::FakeModule*>(set->Find("A"));
  m->Count();
  m->Count();
  ASSERT_TRUE(set->WriteBackTotal("A"));
  m->ReadConfiguration();
  EXPECT_EQ(m->TotalRequests(), 2);
}

}  // namespace
}  // namespace tarvik
