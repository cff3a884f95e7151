// The NTRIP caster's users file: entries, who needs a password, hashes
// made here and by the usual tools, and a file that changes or cannot be
// read while the caster runs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "service/NtripUsers.h"

namespace tarvik {
namespace {

// "secret" as `openssl passwd -6 -salt abcdefgh secret` and `-5` hash it.
const std::string kSha512 =
    "$6$abcdefgh$ltjgWl6579NluT/Vi1nwEvcil.G5Nbc4NiXZaNGStk8PSwGfQv72N2CKPPrVACtLtip/cZ/1GM/O6IND4WQhG.";
const std::string kSha256 = "$5$abcdefgh$gruCpC7VkOTspMQTTSAR8mtlO9Upms.fwqE5y16JVM.";

TEST(NtripUsersTest, EntriesAndWhichMountPointsAskForAPassword) {
  std::vector<std::string> problems;
  const NtripUsers users = NtripUsers::Parse(
      "# users\n"
      "\n"
      "DemoBinary:alice:" +
          kSha512 +
          "\r\n"
          "   # indented comment\n"
          "DemoBinary:bob:" +
          kSha256 +
          "\n"
          "no colons at all\n"
          "DemoXml:carol:plaintext-password\n"
          ":nomount:" +
          kSha512 +
          "\n"
          "Other::" +
          kSha512 + "\n",
      problems);
  ASSERT_EQ(users.Entries().size(), 2u);
  EXPECT_EQ(users.Entries()[0].user, "alice");
  EXPECT_EQ(users.Entries()[1].hash, kSha256);
  // Problems name the line, never its text (which may hold a password).
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_NE(problems[0].find("line 6 "), std::string::npos);
  EXPECT_NE(problems[1].find("line 7 "), std::string::npos);
  EXPECT_NE(problems[1].find("no crypt hash"), std::string::npos);
  for (const std::string& p : problems) EXPECT_EQ(p.find("plaintext"), std::string::npos) << p;

  EXPECT_TRUE(users.RequiresAuthentication("DemoBinary"));
  EXPECT_FALSE(users.RequiresAuthentication("DemoXml"));  // its only line was refused
  EXPECT_FALSE(users.RequiresAuthentication("demobinary"));
  EXPECT_TRUE(users.Check("DemoBinary", "alice", "secret"));
  EXPECT_TRUE(users.Check("DemoBinary", "bob", "secret"));
  EXPECT_FALSE(users.Check("DemoBinary", "alice", "Secret"));
  EXPECT_FALSE(users.Check("DemoBinary", "alice", ""));
  EXPECT_FALSE(users.Check("DemoBinary", "carol", "secret"));
  EXPECT_FALSE(users.Check("DemoXml", "alice", "secret"));  // alice's entry is for DemoBinary only

  // "*" covers every mount point, named or not.
  const NtripUsers all = NtripUsers::Parse("*:admin:" + kSha512 + "\n", problems);
  EXPECT_TRUE(all.RequiresAuthentication("Anything"));
  EXPECT_TRUE(all.Check("Anything", "admin", "secret"));
  EXPECT_FALSE(all.Check("Anything", "alice", "secret"));

  const NtripUsers closed = NtripUsers::ClosedToAll();
  EXPECT_TRUE(closed.RequiresAuthentication("x"));
  EXPECT_FALSE(closed.Check("x", "", ""));
}

TEST(NtripUsersTest, HashesMadeHereVerifyAndDiffer) {
  const std::string a = NtripUsers::HashPassword("p:ss word");
  const std::string b = NtripUsers::HashPassword("p:ss word");
  ASSERT_EQ(a.rfind("$6$", 0), 0u) << a;
  EXPECT_NE(a, b);  // a fresh salt each time
  EXPECT_TRUE(NtripUsers::Verify("p:ss word", a));
  EXPECT_TRUE(NtripUsers::Verify("p:ss word", b));
  EXPECT_FALSE(NtripUsers::Verify("p:ss wor", a));
  EXPECT_FALSE(NtripUsers::Verify("secret", "secret"));  // a stored plain text never matches
  EXPECT_FALSE(NtripUsers::Verify("secret", "$6$abcdefgh$"));
  EXPECT_FALSE(NtripUsers::Verify("secret", "*"));
  EXPECT_FALSE(NtripUsers::Verify(std::string("sec\0ret", 7), kSha512));
  EXPECT_EQ(NtripUsers::HashPassword(std::string("a\0b", 3)), "");
}

TEST(NtripUsersTest, SettingAnEntryKeepsEveryOtherLine) {
  const std::string text = "# head\nM:alice:$6$old\n\nM:bob:$6$b\nN:alice:$6$n\n";
  EXPECT_EQ(NtripUsers::WithEntry(text, {"M", "alice", "$6$new"}),
            "# head\nM:alice:$6$new\n\nM:bob:$6$b\nN:alice:$6$n\n");
  EXPECT_EQ(NtripUsers::WithEntry(text, {"*", "alice", "$6$x"}), text + "*:alice:$6$x\n");
  EXPECT_EQ(NtripUsers::WithEntry("", {"M", "u", "$6$h"}), "M:u:$6$h\n");
  EXPECT_EQ(NtripUsers::WithEntry("no end", {"M", "u", "$6$h"}), "no end\nM:u:$6$h\n");
}

TEST(NtripUsersTest, TheFileIsReadAgainWhenItChanges) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tarvik-users-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / "NtripUsers.txt";
  NtripUsersFile users(file);
  std::vector<std::string> problems;
  EXPECT_FALSE(users.Current(problems)->RequiresAuthentication("M"));  // no file: every mount open

  std::ofstream(file) << "M:alice:" << kSha512 << "\n";
  EXPECT_TRUE(users.Current(problems)->Check("M", "alice", "secret"));
  const auto first = users.Current(problems);
  EXPECT_EQ(users.Current(problems), first);  // unchanged: not read again

  std::ofstream(file) << "M:alice:" << kSha512 << "\nbroken line\nN:bob:" << kSha256 << "\n";
  problems.clear();
  const auto second = users.Current(problems);
  EXPECT_TRUE(second->RequiresAuthentication("N"));
  ASSERT_EQ(problems.size(), 1u);
  problems.clear();
  users.Current(problems);
  EXPECT_TRUE(problems.empty());  // told once per change

  std::ofstream(file, std::ios::trunc).flush();
  EXPECT_FALSE(users.Current(problems)->RequiresAuthentication("M"));  // an empty file opens everything

  if (::geteuid() != 0) {  // root reads any file
    std::ofstream(file) << "M:alice:" << kSha512 << "\n";
    std::filesystem::permissions(file, std::filesystem::perms::none);
    problems.clear();
    const auto unreadable = users.Current(problems);
    EXPECT_TRUE(unreadable->RequiresAuthentication("Open"));
    EXPECT_FALSE(unreadable->Check("M", "alice", "secret"));
    EXPECT_EQ(problems.size(), 1u);
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }
  std::filesystem::remove(file);
  EXPECT_FALSE(users.Current(problems)->RequiresAuthentication("M"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tarvik
