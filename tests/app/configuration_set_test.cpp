// The configuration set on a temporary program folder: the files it writes,
// the folders it renames, and that refusals leave everything untouched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <thread>

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

// The folder rename fails, as it does on a busy or foreign file system.
class SetWithoutRename : public CConfigurationSet {
 public:
  using CConfigurationSet::CConfigurationSet;

 protected:
  bool RenameFolder(const fs::path&, const fs::path&, std::string& why) override {
    why = "Device or resource busy";
    return false;
  }
};

// Files beyond `bytes` cannot be written while it lives (a full disk).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

 private:
  rlimit old_{};
};

std::string ProgramLog(const fs::path& home) {
  std::string all;
  for (auto& e : fs::directory_iterator(home / "Log"))
    if (e.is_regular_file()) all += ReadAll(e.path());
  return all;
}

TEST_F(ConfigurationSetTest, AddAndCopyThatCannotWriteTheGeneralFileAreUndone) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  // The general settings file cannot be replaced any more.
  fs::remove(general());
  fs::create_directories(general() / "blocked");

  for (bool copy : {false, true}) {
    SetOperationResult r = copy ? set->CopyConfiguration("A", "B", 2102) : set->AddConfiguration("B", 2102);
    EXPECT_FALSE(r.ok) << copy;
    EXPECT_NE(r.message.find("was not " + std::string(copy ? "copied" : "added")), std::string::npos)
        << r.message;
    EXPECT_NE(r.message.find(general().string()), std::string::npos) << r.message;
    EXPECT_FALSE(fs::exists(configs() / "B")) << copy;
    EXPECT_EQ(set->Names(), std::vector<std::string>{"A"});
    EXPECT_TRUE(set->IsPortFree(2102));
  }
  EXPECT_NE(ProgramLog(home.path()).find("The configuration B was not added"), std::string::npos);
  EXPECT_TRUE(fs::exists(configs() / "A" / "A.ini"));
}

TEST_F(ConfigurationSetTest, AddThatCannotWriteThePortIsUndone) {
  // A large template: the copy fits below the limit, its rewrite with the
  // port does not, while the small general file still could be written.
  WriteAll(home.path() / "ConfigurationTemplate.ini",
           std::string(kTemplate) + "; " + std::string(4000, 'x') + "\n");
  auto set = MakeSet();
  const std::string before = ReadAll(general());
  SetOperationResult r;
  {
    FileSizeLimit limit(fs::file_size(home.path() / "ConfigurationTemplate.ini") + 1);
    r = set->AddConfiguration("Nord", 2101);
  }
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find((configs() / "Nord" / "Nord.ini").string()), std::string::npos) << r.message;
  EXPECT_FALSE(fs::exists(configs() / "Nord"));
  EXPECT_EQ(ReadAll(general()), before);
  EXPECT_EQ(set->Count(), 0u);
  // Once the disk has room again the same add works.
  EXPECT_TRUE(set->AddConfiguration("Nord", 2101).ok);
}

TEST_F(ConfigurationSetTest, RemoveThatCannotRenameTheFolderKeepsTheConfiguration) {
  SetWithoutRename set({configs(), general(), home.path() / "ConfigurationTemplate.ini"}, test::FakeFactory(),
                       log);
  ASSERT_TRUE(set.AddConfiguration("A", 2101).ok);
  ASSERT_TRUE(set.AddConfiguration("B", 2102).ok);
  const std::string before = ReadAll(general());
  SetOperationResult r = set.RemoveConfiguration("A");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find("was not removed"), std::string::npos) << r.message;
  EXPECT_NE(r.message.find("Device or resource busy"), std::string::npos) << r.message;
  EXPECT_EQ(set.Names(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ReadAll(general()), before);  // the next start sees A again, rightly
  EXPECT_TRUE(fs::exists(configs() / "A" / "A.ini"));
  EXPECT_NE(ProgramLog(home.path()).find("RemoveConfiguration: The configuration A was not removed"),
            std::string::npos);
}

TEST_F(ConfigurationSetTest, RemoveThatCannotWriteTheGeneralFileRenamesTheFolderBack) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  ASSERT_TRUE(set->AddConfiguration("B", 2102).ok);
  auto* a = static_cast<test::FakeModule*>(set->Find("A"));
  a->Count();
  fs::remove(general());
  fs::create_directories(general() / "blocked");

  SetOperationResult r = set->RemoveConfiguration("A");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.message.find(general().string()), std::string::npos) << r.message;
  EXPECT_EQ(set->Names(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(set->Find("A"), a);
  EXPECT_TRUE(fs::exists(configs() / "A" / "A.ini"));
  EXPECT_TRUE(DeletedFolders("A").empty());
  // The count went into the file before the attempt and is still there.
  EXPECT_EQ(CFileIni(configs() / "A" / "A.ini").ReadLong("Settings", "TotalNumberOfRequests"), 1);
}

TEST_F(ConfigurationSetTest, RemovedConfigurationTakesItsCountAlong) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  auto* a = static_cast<test::FakeModule*>(set->Find("A"));
  for (int i = 0; i < 3; ++i) a->Count();
  ASSERT_TRUE(set->RemoveConfiguration("A").ok);
  ASSERT_EQ(DeletedFolders("A").size(), 1u);
  EXPECT_EQ(CFileIni(DeletedFolders("A")[0] / "A.ini").ReadLong("Settings", "TotalNumberOfRequests"), 3);
}

TEST_F(ConfigurationSetTest, ChangedTotalsAreWrittenAndOnlyThose) {
  auto set = MakeSet();
  ASSERT_TRUE(set->AddConfiguration("A", 2101).ok);
  ASSERT_TRUE(set->AddConfiguration("B", 2102).ok);
  auto* a = static_cast<test::FakeModule*>(set->Find("A"));
  auto* b = static_cast<test::FakeModule*>(set->Find("B"));
  a->Count();
  a->Count();
  EXPECT_EQ(set->WriteBackChangedTotals(), 0);
  EXPECT_EQ(a->totalWrites, 1);
  EXPECT_EQ(b->totalWrites, 0);
  EXPECT_EQ(CFileIni(configs() / "A" / "A.ini").ReadLong("Settings", "TotalNumberOfRequests"), 2);
  // Nothing changed since: nothing is written.
  EXPECT_EQ(set->WriteBackChangedTotals(), 0);
  EXPECT_EQ(a->totalWrites, 1);
  b->Count();
  EXPECT_EQ(set->WriteBackChangedTotals(), 0);
  EXPECT_EQ(a->totalWrites, 1);
  EXPECT_EQ(b->totalWrites, 1);
  // A file that went away is a failure, logged.
  b->Count();
  fs::remove(configs() / "B" / "B.ini");
  EXPECT_EQ(set->WriteBackChangedTotals(), 1);
  EXPECT_NE(ProgramLog(home.path()).find("Configuration B: TotalNumberOfRequests could not be written"),
            std::string::npos);
}

TEST_F(ConfigurationSetTest, StopAllStopsTheConfigurationsSideBySide) {
  auto set = MakeSet();
  for (auto [n, p] : {std::pair{"A", 3001}, {"B", 3002}, {"C", 3003}}) {
    ASSERT_TRUE(set->AddConfiguration(n, p).ok);
    auto* m = static_cast<test::FakeModule*>(set->Find(n));
    m->stopTime = std::chrono::milliseconds(1500);
    ASSERT_EQ(m->Start(), 1);
  }
  // One after the other would take 4.5 s; side by side they overlap, which
  // shows as all three still running while the first one's stop is under way.
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    set->StopAll();
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(set->Find("A")->IsRunning());
  std::this_thread::sleep_for(std::chrono::milliseconds(1800));
  EXPECT_FALSE(set->Find("C")->IsRunning());  // stopped with the others, not 3 s later
  stopper.join();
  EXPECT_TRUE(done);
  EXPECT_FALSE(set->AnyRunning());
}

}  // namespace
}  // namespace tarvik
