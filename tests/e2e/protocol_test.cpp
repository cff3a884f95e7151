// The real Tarvik on the demo program folder, driven over loopback: the
// three formats for positions inside and outside the database, the two
// commands, checksum failures, the rover client, stop and restart.

#include <gtest/gtest.h>
#include <signal.h>

#include <ctime>
#include <memory>

#include "E2eReplies.h"
#include "TarvikProcess.h"

using namespace e2etest;

namespace {

// A spot in the middle of the demo database (Upper Austria / Styria) and one
// far outside it (Berlin).
constexpr double kInLat = 47.8, kInLon = 14.9, kInHeight = 500.0;
constexpr double kOutLat = 52.5, kOutLon = 13.4;

const char* kOutsideText =
    "Error accessing Marlo database. The requested location is outside the database borders.";

class DemoServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = std::make_unique<DemoHome>();
    ASSERT_TRUE(home_->Ok());
    server_ = std::make_unique<TarvikProcess>(
        home_->Path(), std::vector<int>{home_->BinaryPort(), home_->AsciiPort(), home_->XmlPort()});
  }
  static void TearDownTestSuite() {
    if (server_) server_->Stop(SIGTERM);
    server_.reset();
    home_.reset();
  }
  void SetUp() override { ASSERT_TRUE(server_->Running()) << server_->Output(); }
  static Replies Ask(int port, const std::string& request, int replies) {
    Connection c(port);
    EXPECT_TRUE(c.Connected());
    c.Send(request);
    return Split(c.ReadReplies(replies));
  }
  static std::unique_ptr<DemoHome> home_;
  static std::unique_ptr<TarvikProcess> server_;
};
std::unique_ptr<DemoHome> DemoServer::home_;
std::unique_ptr<TarvikProcess> DemoServer::server_;

long TodayMjd() { return static_cast<long>(std::time(nullptr) / 86400 + 40587); }

}  // namespace

TEST_F(DemoServer, ModeWordsAndQuitInAnyCase) {
  struct {
    int port;
    const char* word;
  } cases[] = {{home_->BinaryPort(), "Binary*"}, {home_->AsciiPort(), "ASCII*"}, {home_->XmlPort(), "XML*"}};
  for (const auto& c : cases) {
    Connection conn(c.port);
    ASSERT_TRUE(conn.Connected());
    conn.Send("getmode*");
    EXPECT_EQ(conn.ReadReplies(1), c.word);
    conn.Send("GetMode*");
    EXPECT_EQ(conn.ReadReplies(1), c.word);
    conn.Send("QUIT*");
    EXPECT_TRUE(conn.WaitClosed()) << "quit must end the session";
  }
}

TEST_F(DemoServer, BinaryInsideGivesThreeValidFramesInOrder) {
  Replies r = Ask(home_->BinaryPort(), Gga(kInLat, kInLon, kInHeight), 3);
  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_TRUE(r.texts.empty() && r.rest.empty());
  int expected[] = {1021, 1023, 1025};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(r.frames[i].crcOk);
    EXPECT_EQ(r.frames[i].message.number, expected[i]);
    EXPECT_TRUE(r.frames[i].message.problems.empty()) << r.frames[i].message.problems.front();
  }
  const auto& m1021 = r.frames[0].message;
  EXPECT_EQ(r.frames[0].bytes.size(), 58u + 6 + 3);
  EXPECT_EQ(m1021.Find("SourceName")->text, "ETRS89");
  EXPECT_EQ(m1021.Find("TargetName")->text, "MGI");
  EXPECT_EQ(m1021.Find("InvolvedTransformationMessages")->text, "1010000000");
  // LOCAL mode: the area is centred on the rover (units of 2 arc-seconds).
  EXPECT_NEAR(m1021.Value("LatitudeOfOriginAreaOfValidity"), kInLat, 1.0 / 1800);
  EXPECT_NEAR(m1021.Value("LongitudeOfOriginAreaOfValidity"), kInLon, 1.0 / 1800);
  EXPECT_NEAR(m1021.Value("LatitudeExtensionAreaOfValidity"), 0.3, 1.0 / 1800);
  EXPECT_NEAR(m1021.Value("LongitudeExtensionAreaOfValidity"), 0.5, 1.0 / 1800);
  // A datum shift to Bessel is hundreds of metres, never zero.
  EXPECT_GT(std::abs(m1021.Value("DX")) + std::abs(m1021.Value("DY")) + std::abs(m1021.Value("DZ")), 10.0);
  EXPECT_NEAR(m1021.Value("SemimajorAxisOfTargetSystemEllipsoid"), 6377397.155, 0.001);

  const auto& m1023 = r.frames[1].message;
  EXPECT_EQ(r.frames[1].bytes.size(), 79u);
  EXPECT_NEAR(m1023.Value("GridOriginLatitude"), kInLat, 0.01);
  EXPECT_NEAR(m1023.Value("GridOriginLongitude"), kInLon, 0.01);
  long mjd = m1023.Find("ModifiedJulianDayNumber")->raw;
  EXPECT_TRUE(mjd == (TodayMjd() & 0xFFFF) || mjd == ((TodayMjd() - 1) & 0xFFFF)) << mjd;

  const auto& m1025 = r.frames[2].message;
  EXPECT_EQ(r.frames[2].bytes.size(), 31u);
  EXPECT_NEAR(m1025.Value("LongitudeOfNaturalOrigin"), 13.333333333, 2e-8);
  EXPECT_NEAR(m1025.Value("ScaleFactorAtNaturalOrigin"), 1.0, 1e-11);
  EXPECT_DOUBLE_EQ(m1025.Value("FalseEasting"), 450000.0);
  EXPECT_DOUBLE_EQ(m1025.Value("FalseNorthing"), -5000000.0);
}

TEST_F(DemoServer, OutsideAndUnknownRequestsGetTheErrorFormOfEachFormat) {
  // Binary: still one frame per message, with the invalid area.
  for (const std::string& request : {Gga(kOutLat, kOutLon, 100.0), std::string("hello*")}) {
    Replies b = Ask(home_->BinaryPort(), request, 3);
    ASSERT_EQ(b.frames.size(), 3u) << request;
    const auto& m1021 = b.frames[0].message;
    EXPECT_TRUE(b.frames[0].crcOk);
    EXPECT_EQ(m1021.Find("LatitudeOfOriginAreaOfValidity")->raw, 162000);
    EXPECT_EQ(m1021.Find("LongitudeOfOriginAreaOfValidity")->raw, 0);
    EXPECT_EQ(m1021.Find("LatitudeExtensionAreaOfValidity")->raw, 0);
    EXPECT_EQ(m1021.Find("LongitudeExtensionAreaOfValidity")->raw, 0);
    const auto& m1023 = b.frames[1].message;
    for (const char* f :
         {"GridOriginLatitude", "GridOriginLongitude", "GridExtensionLatitude", "GridExtensionLongitude"})
      EXPECT_EQ(m1023.Find(f)->raw, 0) << f;
    EXPECT_EQ(b.frames[2].message.number, 1025);
  }

  Replies a = Ask(home_->AsciiPort(), Gga(kOutLat, kOutLon, 100.0), 3);
  ASSERT_EQ(a.texts.size(), 3u);
  for (const auto& t : a.texts) EXPECT_EQ(t, std::string("Error: ") + kOutsideText + "\n*");

  Replies x = Ask(home_->XmlPort(), Gga(kOutLat, kOutLon, 100.0), 3);
  ASSERT_EQ(x.texts.size(), 3u);
  for (const auto& t : x.texts) {
    EXPECT_NE(t.find(std::string("ErrorMessage=\"") + kOutsideText + "\""), std::string::npos) << t;
    EXPECT_EQ(t.find("RTCMTransformationMesssage"), std::string::npos);
  }

  // An unknown request in a text format: one bare text, no "*" after it.
  Connection c(home_->AsciiPort());
  c.Send("hello*");
  EXPECT_EQ(c.ReadUntilQuiet(std::chrono::milliseconds(1500)), "Error: Unknown request.");
  c.Send("getmode*");  // the session goes on
  EXPECT_EQ(c.ReadReplies(1), "ASCII*");
}

TEST_F(DemoServer, TextFormatsInsideCarryEveryLineAndElement) {
  Replies a = Ask(home_->AsciiPort(), Gga(kInLat, kInLon, kInHeight), 3);
  ASSERT_EQ(a.texts.size(), 3u);
  EXPECT_EQ(a.texts[0].substr(0, 5), "1021\n");
  EXPECT_EQ(CountLines(a.texts[0]), 27);
  EXPECT_EQ(a.texts[1].substr(0, 5), "1023\n");
  EXPECT_EQ(CountLines(a.texts[1]), 64);
  EXPECT_EQ(a.texts[1].substr(a.texts[1].size() - 4), "\n0\n*");
  EXPECT_EQ(a.texts[2].substr(0, 5), "1025\n");
  EXPECT_EQ(CountLines(a.texts[2]), 8);

  Replies x = Ask(home_->XmlPort(), Gga(kInLat, kInLon, kInHeight), 3);
  ASSERT_EQ(x.texts.size(), 3u);
  const char* roots[] = {"<RTCMTransformationMesssage.1021>", "<RTCMTransformationMesssage.1023>",
                         "<RTCMTransformationMesssage.1025>"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(x.texts[i].rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u) << x.texts[i];
    EXPECT_NE(x.texts[i].find(roots[i]), std::string::npos) << x.texts[i];
    EXPECT_EQ(x.texts[i].find("<Error"), std::string::npos);
  }
  std::size_t residuals = 0;
  for (std::size_t p = 0; (p = x.texts[1].find("<Residual ", p)) != std::string::npos; ++p) ++residuals;
  EXPECT_EQ(residuals, 16u);
}

TEST_F(DemoServer, WrongChecksumEndsTheSessionWithoutReply) {
  std::string good = Gga(kInLat, kInLon, kInHeight);
  std::string bad = good.substr(0, good.size() - 2) + (good.substr(good.size() - 2) == "00" ? "01" : "00");
  Connection c(home_->BinaryPort());
  c.Send(bad);
  EXPECT_TRUE(c.WaitClosed());
  // Others are served as before.
  Replies r = Ask(home_->BinaryPort(), good, 3);
  EXPECT_EQ(r.frames.size(), 3u);
  EXPECT_NE(home_->AllLogs().find("NMEA-checksum-failure!!."), std::string::npos);
}

TEST_F(DemoServer, RoverClientDecodesAndRelays) {
  std::string out;
  int rc = RunClient({"127.0.0.1", std::to_string(home_->BinaryPort()), "--lat", "47.8", "--lon", "14.9",
                      "--height", "500", "--expect", "3"},
                     out);
  EXPECT_EQ(rc, 0) << out;
  std::size_t ok = 0;
  for (std::size_t p = 0; (p = out.find("CRC-24Q ok", p)) != std::string::npos; ++p) ++ok;
  EXPECT_EQ(ok, 3u) << out;
  EXPECT_NE(out.find("dLatitude[16]"), std::string::npos);
  EXPECT_NE(out.find("FalseNorthing"), std::string::npos);

  // A receiver's output: other sentences and line ends are not sent.
  std::string gga = Gga(kInLat, kInLon, kInHeight);
  std::string receiver =
      "$GPRMC,101010.00,A,4748.0,N,01454.0,E,0.0,0.0,081226,,*00\r\n" + gga + "\r\n" + gga + "\r\n";
  rc =
      RunClient({"127.0.0.1", std::to_string(home_->AsciiPort()), "--stdin", "--expect", "3"}, out, receiver);
  EXPECT_EQ(rc, 0) << out;
  std::size_t texts = 0;
  for (std::size_t p = 0; (p = out.find("\n1021\n", p)) != std::string::npos; ++p) ++texts;
  EXPECT_EQ(texts, 2u) << out;
  EXPECT_EQ(out.find("Unknown request"), std::string::npos) << out;
}

// Stop and restart on the same folder: the request totals survive both a
// SIGINT and a SIGTERM, and the ports serve again.
TEST(DemoRestart, TotalsSurviveStopsAndThePortsServeAgain) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  std::vector<int> ports = {home.BinaryPort(), home.AsciiPort(), home.XmlPort()};
  long expected = std::atol(home.IniValue("DemoBinary", "TotalNumberOfRequests").c_str());
  for (int sig : {SIGINT, SIGTERM}) {
    TarvikProcess server(home.Path(), ports);
    ASSERT_TRUE(server.Running()) << server.Output();
    for (int i = 0; i < 2; ++i) {
      Connection c(home.BinaryPort());
      c.Send(Gga(kInLat, kInLon, kInHeight));
      EXPECT_EQ(Split(c.ReadReplies(3)).frames.size(), 3u);
      c.Send("quit*");
      EXPECT_TRUE(c.WaitClosed());
    }
    expected += 4;  // two requests and two quits
    EXPECT_EQ(server.Stop(sig), 0) << server.Output();
    EXPECT_EQ(std::atol(home.IniValue("DemoBinary", "TotalNumberOfRequests").c_str()), expected)
        << "after signal " << sig;
  }
}
