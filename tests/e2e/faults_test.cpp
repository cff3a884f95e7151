// Clients and surroundings that misbehave: none of them may crash the
// server or keep other clients from being served, and each leaves the log
// line an operator needs.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "E2eReplies.h"
#include "TarvikProcess.h"

using namespace e2etest;
namespace fs = std::filesystem;

namespace {

constexpr double kInLat = 47.8, kInLon = 14.9;

// Swaps two existing names atomically; false (with the reason printed) where
// the file system cannot.
bool ExchangePaths(const fs::path& a, const fs::path& b) {
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return true;
  ADD_FAILURE() << "cannot exchange " << a << " and " << b << ": " << std::strerror(errno);
  return false;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<DemoHome>();
    ASSERT_TRUE(home_->Ok());
    Start();
  }
  void TearDown() override {
    if (server_) server_->Stop(SIGTERM);
    server_.reset();
    home_.reset();
  }
  void Start() {
    server_ = std::make_unique<TarvikProcess>(
        home_->Path(), std::vector<int>{home_->BinaryPort(), home_->AsciiPort(), home_->XmlPort()});
    ASSERT_TRUE(server_->Running()) << server_->Output();
  }
  // A well-behaved rover on the binary port gets its three frames.
  void ExpectServed(int port) {
    Connection c(port);
    ASSERT_TRUE(c.Connected());
    c.Send(Gga(kInLat, kInLon, 400.0));
    Replies r = Split(c.ReadReplies(3));
    if (port == home_->BinaryPort()) {
      ASSERT_EQ(r.frames.size(), 3u);
      for (const auto& f : r.frames) EXPECT_TRUE(f.crcOk);
    } else {
      ASSERT_EQ(r.texts.size(), 3u);
    }
    EXPECT_TRUE(server_->Running());
  }
  std::unique_ptr<DemoHome> home_;
  std::unique_ptr<TarvikProcess> server_;
};

}  // namespace

TEST_F(Faults, BrokenAndSilentClientsDoNotStopOthers) {
  // Connects and never sends, for the whole test.
  Connection silent(home_->BinaryPort());
  ASSERT_TRUE(silent.Connected());
  {
    // Goes away in the middle of a sentence.
    Connection half(home_->BinaryPort());
    half.Send("$GPGGA,101010.00,4748.0");
  }
  ExpectServed(home_->BinaryPort());
  ExpectServed(home_->BinaryPort());  // the next accept reaps the broken session
  EXPECT_NE(home_->AllLogs().find("Connection was closed."), std::string::npos);
  EXPECT_TRUE(silent.Connected());
}

TEST_F(Faults, HundredKibibytesWithoutEndMarkAreReadInCapacityChunks) {
  Connection flood(home_->AsciiPort());
  ASSERT_TRUE(flood.Connected());
  std::string junk(100 * 1024, 'A');
  ASSERT_TRUE(flood.Send(junk));
  // Others are served while the flood is read.
  ExpectServed(home_->AsciiPort());
  // The flood is answered chunk by chunk as unknown requests, and its
  // session still follows the protocol afterwards.
  flood.Send("*getmode*");
  std::string got = flood.ReadReplies(1, std::chrono::seconds(30));
  EXPECT_NE(got.find("Error: Unknown request."), std::string::npos);
  EXPECT_NE(got.find("ASCII*"), std::string::npos);
  EXPECT_NE(home_->AllLogs().find("MessageType is not NMEA. Other message types are not supported."),
            std::string::npos);
  ExpectServed(home_->AsciiPort());
}

TEST_F(Faults, UnwritableLogFolderDoesNotStopServing) {
  // A file where the log folder should be cannot be written into, even by
  // the super-user.
  auto received = [this] {
    std::string logs = home_->AllLogs();
    std::size_t n = 0;
    for (std::size_t p = 0; (p = logs.find("Received request from client", p)) != std::string::npos; ++p) ++n;
    return n;
  };
  ExpectServed(home_->BinaryPort());
  const std::size_t before = received();
  // The folder and the file change places in one step: the server makes
  // the log folder again whenever it finds none, so a moment without either
  // would let it put a fresh folder where the file is meant to go.
  const fs::path log = home_->Path() / "Log";
  const fs::path swapped = home_->Path() / "Log.swapped";
  std::ofstream(swapped) << "not a folder\n";
  ASSERT_TRUE(ExchangePaths(swapped, log));
  ASSERT_TRUE(fs::is_regular_file(log));
  ExpectServed(home_->BinaryPort());
  ExpectServed(home_->AsciiPort());
  ExpectServed(home_->XmlPort());
  ASSERT_TRUE(ExchangePaths(swapped, log));
  ASSERT_TRUE(fs::is_directory(log));
  ExpectServed(home_->BinaryPort());
  EXPECT_GT(received(), before) << "logging must resume once the folder is back";
  // The operator is told on the console, once when lines start to be lost
  // and once when they are written again.
  const std::string console = server_->Output();
  EXPECT_NE(console.find("cannot be written"), std::string::npos) << console;
  EXPECT_NE(console.find("is written again;"), std::string::npos) << console;
}

TEST_F(Faults, DatabaseFilesVanishingWhileServingAndBeforeTheNextRead) {
  fs::path marlo = home_->DataFile("marlo");
  fs::path geoid = home_->DataFile("geoid");
  ASSERT_TRUE(fs::exists(marlo)) << marlo;
  ASSERT_TRUE(fs::exists(geoid)) << geoid;
  fs::rename(marlo, marlo.string() + ".away");
  fs::rename(geoid, geoid.string() + ".away");
  // The databases were read at start: serving goes on.
  ExpectServed(home_->BinaryPort());
  ExpectServed(home_->AsciiPort());
  ASSERT_EQ(server_->Stop(SIGTERM), 0);

  // Read again without the geoid grid: that configuration reports the
  // file and stays down; the others serve.
  fs::rename(marlo.string() + ".away", marlo);
  server_ =
      std::make_unique<TarvikProcess>(home_->Path(), std::vector<int>{home_->BinaryPort(), home_->XmlPort()});
  ASSERT_TRUE(server_->Running()) << server_->Output();
  ExpectServed(home_->BinaryPort());
  ExpectServed(home_->XmlPort());
  EXPECT_FALSE(Connection(home_->AsciiPort()).Connected());
  std::string logs = home_->AllLogs() + server_->Output();
  std::size_t at = logs.find("Error initializing GeoidGrid-Access. Database ");
  ASSERT_NE(at, std::string::npos) << logs.substr(logs.size() > 3000 ? logs.size() - 3000 : 0);
  std::string line = logs.substr(at, logs.find('\n', at) - at);
  EXPECT_NE(line.find(geoid.filename().string() + " not accessible."), std::string::npos) << line;
  EXPECT_NE(logs.find("DemoAscii has problems and is not started"), std::string::npos);
}
