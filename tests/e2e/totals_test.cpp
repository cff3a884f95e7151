// Request totals on disk while the real program serves: written while they
// change, so that a SIGKILL loses at most one write interval, and every INI
// file whole and readable whatever moment the kill comes.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "E2eReplies.h"
#include "TarvikProcess.h"
#include "runtime/CFileIni.h"

using namespace e2etest;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr double kInLat = 47.8, kInLon = 14.9;

long Total(const DemoHome& home, const std::string& name) {
  return tarvik::CFileIni(home.IniOf(name)).ReadLong("Settings", "TotalNumberOfRequests", -1);
}

// Sends `count` GGA requests on one connection, each answered in full.
void Serve(int port, int count) {
  Connection c(port);
  ASSERT_TRUE(c.Connected());
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(c.Send(Gga(kInLat, kInLon, 400.0 + i)));
    ASSERT_EQ(Split(c.ReadReplies(3)).texts.size(), 3u) << "request " << i;
  }
}

template <class F>
bool WaitFor(F done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

fs::file_time_type Modified(const fs::path& p) { return fs::last_write_time(p); }

}  // namespace

TEST(Totals, ASigkillLosesAtMostTheCountsOfOneWriteInterval) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  ASSERT_TRUE(tarvik::CFileIni(home.Path() / "Tarvik_General.ini")
                  .WriteInt("ServerSettings", "TotalsWriteInterval", 1));
  const long before = Total(home, "DemoAscii");
  ASSERT_GE(before, 0);
  const fs::file_time_type xmlWritten = Modified(home.IniOf("DemoXml"));

  TarvikProcess server(home.Path(), {home.BinaryPort(), home.AsciiPort(), home.XmlPort()});
  ASSERT_TRUE(server.Running()) << server.Output();
  Serve(home.AsciiPort(), 5);
  // Written while the program runs, within about one interval.
  EXPECT_TRUE(WaitFor([&] { return Total(home, "DemoAscii") == before + 5; }, 5s))
      << "TotalNumberOfRequests=" << Total(home, "DemoAscii");

  Serve(home.AsciiPort(), 3);
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(server.Stop(SIGKILL), -1);
  EXPECT_EQ(Total(home, "DemoAscii"), before + 8);

  // A configuration that counted nothing was not rewritten, and nothing is
  // left of the writes but the files themselves.
  EXPECT_EQ(Modified(home.IniOf("DemoXml")), xmlWritten);
  for (const std::string name : {"DemoBinary", "DemoAscii", "DemoXml"}) {
    tarvik::CFileIni ini(home.IniOf(name));
    EXPECT_GT(ini.ReadInt("Settings", "PORTNUM"), 0) << name;
    for (const auto& e : fs::directory_iterator(home.IniOf(name).parent_path()))
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
}

TEST(Totals, ASecondSignalDuringShutdownWritesTheTotalsAndEndsAtOnce) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  const long before = Total(home, "DemoAscii");
  TarvikProcess server(home.Path(), {home.BinaryPort(), home.AsciiPort(), home.XmlPort()});
  ASSERT_TRUE(server.Running()) << server.Output();
  Serve(home.AsciiPort(), 4);

  // Two different signals, so that the second is not merged into the first:
  // it arrives while the shutdown the first one started is under way.
  server.Signal(SIGTERM);
  server.Signal(SIGINT);
  EXPECT_TRUE(WaitFor([&] { return !server.Running(); }, 5s)) << "still running after two signals";
  const int status = server.Stop(SIGKILL);
  EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGINT) << status;
  EXPECT_EQ(Total(home, "DemoAscii"), before + 4);
  EXPECT_NE(home.AllLogs().find("during shutdown: the totals are written, the program ends now."),
            std::string::npos);
}
