// "Tarvik --ntrip-passwd MOUNT:USER": the users file it writes is what the
// caster reads, holds hashes only and keeps every other line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "AppTestSupport.h"
#include "app/NtripPasswordCommand.h"
#include "service/NtripUsers.h"

namespace tarvik {
namespace {

using test::ReadAll;
using test::WriteAll;

class NtripPasswordTest : public ::testing::Test {
 protected:
  int Set(const std::string& mountAndUser, const std::string& input) {
    std::istringstream in(input);
    out.str("");
    err.str("");
    return SetNtripPassword(file(), mountAndUser, in, out, err);
  }
  std::filesystem::path file() const { return home.path() / "NtripUsers.txt"; }
  NtripUsers Users() {
    std::vector<std::string> problems;
    NtripUsers u = NtripUsers::Parse(ReadAll(file()), problems);
    EXPECT_TRUE(problems.empty());
    return u;
  }

  test::TempProgramFolder home;
  std::ostringstream out, err;
};

TEST_F(NtripPasswordTest, EntriesAreSetAndReplacedAsHashes) {
  ASSERT_EQ(Set("DemoBinary:alice", "s3cret:with colon\r\nignored second line\n"), 0) << err.str();
  EXPECT_NE(out.str().find("Password of user alice on mount point DemoBinary set in"), std::string::npos);
  std::string text = ReadAll(file());
  EXPECT_EQ(text.find("s3cret"), std::string::npos);
  EXPECT_EQ(text.rfind("# NTRIP caster users", 0), 0u);  // a new file explains itself
  struct stat st {};
  ASSERT_EQ(::stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(Users().Check("DemoBinary", "alice", "s3cret:with colon"));

  ASSERT_EQ(Set("*:admin", "root-pw"), 0);
  ASSERT_EQ(Set("DemoBinary:alice", "new-pw\n"), 0);  // replaced in place
  NtripUsers u = Users();
  ASSERT_EQ(u.Entries().size(), 2u);
  EXPECT_EQ(u.Entries()[0].user, "alice");
  EXPECT_FALSE(u.Check("DemoBinary", "alice", "s3cret:with colon"));
  EXPECT_TRUE(u.Check("DemoBinary", "alice", "new-pw"));
  EXPECT_TRUE(u.Check("Other", "admin", "root-pw"));

  // An operator's own lines stay.
  WriteAll(file(), "# mine\nDemoXml:bob:$6$kept\n");
  ASSERT_EQ(Set("DemoXml:carol", "pw"), 0);
  text = ReadAll(file());
  EXPECT_EQ(text.rfind("# mine\nDemoXml:bob:$6$kept\nDemoXml:carol:$6$", 0), 0u) << text;
}

TEST_F(NtripPasswordTest, MistakesChangeNothing) {
  WriteAll(file(), "DemoXml:bob:$6$kept\n");
  EXPECT_EQ(Set("Demo Binary:alice", "pw"), 1);
  EXPECT_EQ(Set("DemoBinary:al:ice", "pw"), 1);
  EXPECT_EQ(Set("DemoBinary:al\tice", "pw"), 1);
  EXPECT_EQ(Set("DemoBinary:alice", ""), 1);
  EXPECT_EQ(Set("DemoBinary:alice", "\r\nsecond"), 1);
  EXPECT_NE(err.str().find("No password was given"), std::string::npos);
  EXPECT_EQ(ReadAll(file()), "DemoXml:bob:$6$kept\n");
  // A users file in a folder that does not exist cannot be written.
  std::istringstream in("pw\n");
  EXPECT_EQ(SetNtripPassword(home.path() / "missing" / "u.txt", "M:u", in, out, err), 1);
}

}  // namespace
}  // namespace tarvik
