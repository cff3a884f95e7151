// The NTRIP caster over loopback, in front of stand-in configurations: the
// source table, streams of both versions, authentication, the limits of a
// request head, and clients that outlive or overload their configuration.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "FakeSessionHost.h"
#include "service/NtripCaster.h"
#include "service/NtripSession.h"

namespace tarvik {
namespace {

using testing::CountOf;
using testing::FakeSessionHost;
using testing::LoopbackPeer;
using testing::ReadFile;
using testing::WaitForText;
using testing::WithChecksum;
using Clock = std::chrono::steady_clock;

const std::string kGGA = "$GPGGA,123519,4807.038,N,01531.000,E,1,08,0.9,545.4,M,46.9,M,,";
// "secret" hashed by `openssl passwd -6 -salt abcdefgh secret`.
const std::string kSecretHash =
    "$6$abcdefgh$ltjgWl6579NluT/Vi1nwEvcil.G5Nbc4NiXZaNGStk8PSwGfQv72N2CKPPrVACtLtip/cZ/1GM/O6IND4WQhG.";

// A stand-in configuration as the caster sees it: a ModuleServer of a fake
// host, listed in the directory while it runs.
class FakeMount : public INtripMount {
 public:
  FakeMount(FakeSessionHost& host, std::string mount, NtripMountDirectory& directory)
      : host_(host), mount_(std::move(mount)), directory_(directory), server_(host) {}
  ~FakeMount() override { stop(); }
  void start() {
    ASSERT_EQ(server_.Start(0), kStartOK);
    directory_.add(*this);
  }
  void stop() {
    directory_.remove(*this);
    server_.Stop();
  }
  ModuleServer& server() { return server_; }

  NtripMountState ntripState() const override {
    return {mount_, host_.name, host_.format.load(), host_.active, 47.7, 14.9};
  }
  bool admitNtripClient(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                        const NtripClientStart& start, std::string& refusal) override {
    return server_.adopt(
        client, address, [start](PelThreadArgument* a) { return RunNtripSession(a, start); }, refusal);
  }

 private:
  FakeSessionHost& host_;
  std::string mount_;
  NtripMountDirectory& directory_;
  ModuleServer server_;
};

class Caster : public testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    host_.name = "Fake";
    open_.name = "Open";
    text_.name = "Text";
    text_.format = kRTCMFormatASCII;
  }
  void TearDown() override {
    caster_.reset();
    mounts_.clear();
    ServerTest::TearDown();
  }

  void Start(std::chrono::milliseconds headTimeLimit = std::chrono::seconds(10)) {
    mounts_.push_back(std::make_unique<FakeMount>(host_, "Fake", directory_));
    mounts_.push_back(std::make_unique<FakeMount>(open_, "Open", directory_));
    mounts_.push_back(std::make_unique<FakeMount>(text_, "Text", directory_));
    for (auto& m : mounts_) m->start();
    NtripCasterSettings s;
    s.headTimeLimit = headTimeLimit;
    s.usersFile = home_ / "NtripUsers.txt";
    caster_ = std::make_unique<NtripCaster>(directory_, s);
    ASSERT_EQ(caster_->Start(), kStartOK);
    port_ = caster_->boundPort();
  }
  void Users(const std::string& text) { std::ofstream(home_ / "NtripUsers.txt", std::ios::trunc) << text; }

  // Sends a request head and reads everything until the caster closes.
  std::string Ask(const std::string& head) {
    LoopbackPeer p(port_);
    p.send(head);
    return p.read(1 << 20);
  }
  static std::string Get(const std::string& target, bool ntrip2, const std::string& extra = "") {
    return "GET " + target +
           (ntrip2 ? " HTTP/1.1\r\nHost: localhost\r\nNtrip-Version: Ntrip/2.0\r\n"
                   : " HTTP/1.0\r\nUser-Agent: NTRIP test\r\n") +
           extra + "\r\n";
  }
  // Reads an HTTP head up to its empty line.
  static std::string ReadHead(LoopbackPeer& p) {
    std::string head;
    while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
      const std::string c = p.read(1);
      if (c.empty()) break;
      head += c;
    }
    return head;
  }
  // Reads one chunk of a chunked body: its data, or nothing at the last one.
  static std::string ReadChunk(LoopbackPeer& p) {
    std::string size;
    while (size.empty() || size.back() != '\n') {
      const std::string c = p.read(1);
      if (c.empty()) return "<closed>";
      size += c;
    }
    const std::size_t n = std::stoul(size, nullptr, 16);
    std::string data = p.read(n);
    EXPECT_EQ(p.read(2), "\r\n");
    return data;
  }
  std::string programLog() { return ReadFile(PelLog().currentPath()); }
  std::string logOf(const std::string& name) { return ReadFile(PelLog(name).currentPath()); }

  FakeSessionHost open_;
  FakeSessionHost text_;
  NtripMountDirectory directory_;
  std::vector<std::unique_ptr<FakeMount>> mounts_;
  std::unique_ptr<NtripCaster> caster_;
  uint16_t port_ = 0;
};

TEST_F(Caster, SourceTableListsTheRunningBinaryMountsInBothVersions) {
  Users("Fake:alice:" + kSecretHash + "\n");
  Start();
  const std::string one = Ask(Get("/", false));
  ASSERT_EQ(one.rfind("SOURCETABLE 200 OK\r\n", 0), 0u) << one;
  EXPECT_NE(
      one.find(
          "\r\nSTR;Fake;Fake;RTCM 3.x;1021(1),1023(1),1025(1);0;;Tarvik;;47.70;14.90;1;0;Tarvik;none;B;"),
      std::string::npos)
      << one;
  EXPECT_NE(one.find("\r\nSTR;Open;Open;RTCM 3.x;"), std::string::npos);
  EXPECT_NE(one.find(";none;N;"), std::string::npos);
  EXPECT_EQ(one.find("STR;Text;"), std::string::npos);  // text answers have no place in an RTCM stream
  EXPECT_NE(one.find("\r\nCAS;"), std::string::npos);
  EXPECT_EQ(one.substr(one.size() - 16), "ENDSOURCETABLE\r\n");

  const std::string two = Ask(Get("/", true));
  ASSERT_EQ(two.rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u) << two;
  EXPECT_NE(two.find("Content-Type: gnss/sourcetable\r\n"), std::string::npos);
  const std::string body = two.substr(two.find("\r\n\r\n") + 4);
  EXPECT_NE(two.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  EXPECT_NE(body.find("CAS;localhost;" + std::to_string(port_) + ";"),
            std::string::npos);  // the Host it was asked under

  // A mount point that stops leaves the table; the users file is read again
  // when it changes.
  mounts_[1]->stop();
  Users("*:admin:" + kSecretHash + "\n");
  const std::string later = Ask(Get("/", false));
  EXPECT_EQ(later.find("STR;Open;"), std::string::npos);
  EXPECT_NE(
      later.find("STR;Fake;Fake;RTCM 3.x;1021(1),1023(1),1025(1);0;;Tarvik;;47.70;14.90;1;0;Tarvik;none;B;"),
      std::string::npos);
}

TEST_F(Caster, AMountPointThatIsNotServedGetsTheSourceTable) {
  Start();
  for (const char* mount : {"/Nope", "/Text", "/fake", "/Fa%20ke"}) {
    const std::string one = Ask(Get(mount, false));
    EXPECT_EQ(one.rfind("SOURCETABLE 200 OK\r\n", 0), 0u) << mount;
    EXPECT_NE(one.find("STR;Fake;"), std::string::npos) << mount;
    const std::string two = Ask(Get(mount, true));
    EXPECT_EQ(two.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << mount << two;
    EXPECT_NE(two.find("Content-Type: gnss/sourcetable\r\n"), std::string::npos);
    EXPECT_NE(two.find("ENDSOURCETABLE\r\n"), std::string::npos);
  }
  const std::string log = programLog();
  EXPECT_EQ(CountOf(log, "NTRIP caster: mount point \"Nope\" requested by 127.0.0.1 is not served"), 2);
  EXPECT_EQ(
      CountOf(log, "NTRIP caster: mount point \"Text\" requested by 127.0.0.1 does not answer in binary"), 2);
  EXPECT_EQ(host_.handled.load() + open_.handled.load() + text_.handled.load(), 0);
}

// NTRIP 1.0: "ICY 200 OK", then the frames of every GGA line in the stream;
// other lines are logged and skipped, a wrong checksum ends the session.
TEST_F(Caster, Ntrip1StreamAnswersEveryGgaLine) {
  Start();
  LoopbackPeer p(port_);
  p.send(Get("/Open", false));
  ASSERT_EQ(p.read(12), "ICY 200 OK\r\n");
  const std::size_t answer = open_.binaryAnswerSize();
  p.send(WithChecksum(kGGA) + "\r\n");
  std::string frames = p.read(answer);
  ASSERT_EQ(frames.size(), answer);
  EXPECT_EQ(static_cast<unsigned char>(frames[0]), 0xD3);
  // A receiver's other sentences, keep-alive line ends and a sentence split
  // over two sends.
  p.send(WithChecksum("$GPRMC,123519,A,4807.038,N") + "\r\n\r\n");
  const std::string gga = WithChecksum(kGGA) + "\r\n";
  p.send(gga.substr(0, 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  p.send(gga.substr(20));
  EXPECT_EQ(p.read(answer).size(), answer);
  EXPECT_EQ(p.readWithin(1, std::chrono::milliseconds(200)), "");  // nothing for the RMC line
  EXPECT_EQ(open_.requestsSinceStart.load(), 2);

  std::string wrong = WithChecksum(kGGA);
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  p.send(wrong + "\r\n");
  EXPECT_TRUE(p.closedByServer());
  ASSERT_TRUE(WaitForText(PelLog("Open").currentPath(), "NMEA-checksum-failure!!."));
  const std::string log = logOf("Open");
  EXPECT_EQ(CountOf(log, "(NTRIP 1.0, mount point Open)"), 1);
  EXPECT_EQ(CountOf(log, ": " + kGGA + "*"), 2);  // logged as requests of the own protocol are
  EXPECT_EQ(CountOf(log, "Sending RTCM-message 1023 to client"), 2);
  EXPECT_EQ(CountOf(log, "ignored (not a GGA sentence): $GPRMC,123519"), 1);
  EXPECT_EQ(open_.requestsSinceStart.load(), 2);
  // Counted for monitoring like the sessions of the own protocol.
  const SessionMetricsSnapshot m = open_.counted.Read();
  EXPECT_EQ(m.requests.byCode, (std::vector<std::pair<int, std::uint64_t>>{{1, 2}}));
  EXPECT_EQ(m.latency.Count(), 2u);
  EXPECT_EQ(m.sessions, 1u);
  EXPECT_EQ(m.openSessions, 0);
}

// NTRIP 2.0: HTTP/1.1 head, chunked frames; the Ntrip-GGA field is the first
// request, and the server ends the body properly when it ends the session.
TEST_F(Caster, Ntrip2StreamIsChunkedAndStartsWithTheGgaOfItsHead) {
  Start();
  LoopbackPeer p(port_);
  p.send(Get("/Open", true, "Ntrip-GGA: " + WithChecksum(kGGA) + "\r\n"));
  const std::string head = ReadHead(p);
  ASSERT_EQ(head.rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Type: gnss/data\r\n"), std::string::npos);
  EXPECT_NE(head.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
  const std::string first = ReadChunk(p);  // without any line sent
  EXPECT_EQ(first.size(), open_.binaryAnswerSize());
  EXPECT_EQ(static_cast<unsigned char>(first[0]), 0xD3);
  p.send(WithChecksum(kGGA) + "\r\n");
  EXPECT_EQ(ReadChunk(p).size(), open_.binaryAnswerSize());
  EXPECT_EQ(open_.requestsSinceStart.load(), 2);
  p.send("$GPGGA,1*00\r\n");
  EXPECT_EQ(ReadChunk(p), "");  // the last chunk
  EXPECT_TRUE(p.closedByServer());

  // A client that sends its lines in chunks: the size lines are passed over.
  LoopbackPeer chunked(port_);
  chunked.send(Get("/Open", true, "Transfer-Encoding: chunked\r\n"));
  ASSERT_EQ(ReadHead(chunked).rfind("HTTP/1.1 200 OK", 0), 0u);
  const std::string line = WithChecksum(kGGA) + "\r\n";
  char size[16];
  std::snprintf(size, sizeof size, "%zX\r\n", line.size());
  chunked.send(size + line + "\r\n");
  EXPECT_EQ(ReadChunk(chunked).size(), open_.binaryAnswerSize());
  chunked.send("0\r\n\r\n");
  EXPECT_EQ(chunked.readWithin(1, std::chrono::milliseconds(200)), "");
  EXPECT_EQ(open_.requestsSinceStart.load(), 3);
  EXPECT_EQ(CountOf(logOf("Open"), "ignored"), 0);
}

TEST_F(Caster, CredentialsAreCheckedPerMountPointAndNeverLogged) {
  Users("# test\nFake:alice:" + kSecretHash + "\n");
  Start();
  auto basic = [](const std::string& base64) { return "Authorization: Basic " + base64 + "\r\n"; };
  // alice:secret = YWxpY2U6c2VjcmV0, alice:wrong = YWxpY2U6d3Jvbmc=
  EXPECT_EQ(Ask(Get("/Fake", false)), "ERROR - Bad Password\r\n");
  EXPECT_EQ(Ask(Get("/Fake", false, basic("YWxpY2U6d3Jvbmc="))), "ERROR - Bad Password\r\n");
  const std::string two = Ask(Get("/Fake", true, basic("YWxpY2U6d3Jvbmc=")));
  EXPECT_EQ(two.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << two;
  EXPECT_NE(two.find("WWW-Authenticate: Basic realm=\"Fake\"\r\n"), std::string::npos);
  EXPECT_EQ(Ask(Get("/Fake", true, "Authorization: Digest username=\"alice\"\r\n")).rfind("HTTP/1.1 401", 0),
            0u);
  EXPECT_EQ(Ask(Get("/Fake", true, basic("YWxpY2U6c2VjcmV0!"))).rfind("HTTP/1.1 400 Bad Request", 0), 0u);
  EXPECT_EQ(Ask(Get("/Fake", false, basic("bm9jb2xvbg=="))).rfind("HTTP/1.0 400 Bad Request", 0), 0u);

  LoopbackPeer p(port_);
  p.send(Get("/Fake", false, basic("YWxpY2U6c2VjcmV0")));
  ASSERT_EQ(p.read(12), "ICY 200 OK\r\n");
  // An open mount point takes credentials it does not need.
  LoopbackPeer q(port_);
  q.send(Get("/Open", false, basic("YWxpY2U6c2VjcmV0")));
  ASSERT_EQ(q.read(12), "ICY 200 OK\r\n");

  ASSERT_TRUE(WaitForText(PelLog("Fake").currentPath(), "user alice)"));
  const std::string log = logOf("Fake") + programLog();
  EXPECT_EQ(CountOf(log, "NTRIP client 127.0.0.1 refused on mount point Fake: no credentials."), 2);
  EXPECT_EQ(CountOf(log, "refused on mount point Fake: wrong user name or password (user \"alice\")."), 2);
  EXPECT_EQ(CountOf(log, "refused with 400 Bad Request: malformed Authorization field."), 2);
  for (const char* secret : {"secret", "YWxpY2U6", "c2VjcmV0"})
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
}

TEST_F(Caster, RequestHeadsAreLimitedInSizeAndTime) {
  Start(std::chrono::milliseconds(400));
  // Exactly 8 KiB of head is read; one byte more is refused.
  const std::string start = "GET / HTTP/1.1\r\n";
  const std::string pad = "X-Pad: ";
  const std::string fill(8192 - start.size() - pad.size() - 2 - 2, 'p');
  EXPECT_EQ(Ask(start + pad + fill + "\r\n\r\n").rfind("SOURCETABLE 200 OK", 0), 0u);
  EXPECT_EQ(
      Ask(start + pad + fill + "p\r\n\r\n").rfind("HTTP/1.1 431 Request Header Fields Too Large\r\n", 0), 0u);
  EXPECT_EQ(
      Ask("GET /" + std::string(9000, 'm') + " HTTP/1.0\r\n\r\n").rfind("HTTP/1.1 414 URI Too Long\r\n", 0),
      0u);

  // A client that never finishes its head is answered 408 at the limit;
  // meanwhile every other client is served at once.
  LoopbackPeer slow(port_);
  slow.send("GET / HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\n");
  const auto begin = Clock::now();
  EXPECT_EQ(Ask(Get("/", true)).rfind("HTTP/1.1 200 OK", 0), 0u);
  EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(300));
  const std::string timedOut = slow.read(1 << 16);
  EXPECT_EQ(timedOut.rfind("HTTP/1.1 408 Request Timeout\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u)
      << timedOut;
  EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(350));

  const std::string post = Ask("POST /Open HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\n\r\n");
  EXPECT_EQ(post.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u);
  EXPECT_NE(post.find("Allow: GET\r\n"), std::string::npos);
  EXPECT_EQ(Ask("SOURCE pass /Open\r\n\r\n").rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u);
  EXPECT_EQ(Ask(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\r\n", 11))
                .rfind("HTTP/1.1 400 Bad Request\r\n", 0),
            0u);
  EXPECT_EQ(Ask("GET / HTTP/1.0\r\n Folded: x\r\n\r\n").rfind("HTTP/1.0 400 Bad Request\r\n", 0), 0u);

  // Every refusal is logged, client text escaped and cut.
  const std::string log = programLog();
  EXPECT_EQ(
      CountOf(log, "refused with 431 Request Header Fields Too Large: request head longer than 8192 bytes."),
      1);
  EXPECT_EQ(CountOf(log, "refused with 414 URI Too Long: request line longer than 8192 bytes."), 1);
  EXPECT_EQ(CountOf(log, "refused with 408 Request Timeout: request head not complete within 0.4 s."), 1);
  EXPECT_EQ(CountOf(log, "refused with 405 Method Not Allowed: method \"POST\" is not served."), 1);
  EXPECT_EQ(CountOf(log, "refused with 400 Bad Request: malformed request line \"\\x16\\x03\\x01\\x02\\x00"),
            1);
  EXPECT_EQ(log.find('\x16'), std::string::npos);
  EXPECT_EQ(CountOf(log, "malformed header field \" Folded: x\""), 1);
  EXPECT_EQ(open_.handled.load(), 0);
}

// A client handed over belongs to its configuration: the configuration's
// limits and stop apply to it, and a stop of the caster leaves it alone.
TEST_F(Caster, HandedOverClientsLiveAndEndWithTheirConfiguration) {
  Start();
  LoopbackPeer rover(port_);
  rover.send(Get("/Open", false));
  ASSERT_EQ(rover.read(12), "ICY 200 OK\r\n");
  LoopbackPeer waiting(port_);
  waiting.send("GET / HTTP/1.1\r\n");  // still sending its head
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  caster_->Stop();
  EXPECT_TRUE(waiting.closedByServer());
  rover.send(WithChecksum(kGGA) + "\r\n");
  EXPECT_EQ(rover.read(open_.binaryAnswerSize()).size(), open_.binaryAnswerSize());
  ASSERT_EQ(caster_->Start(), kStartOK);
  port_ = caster_->boundPort();

  // The configuration's session limit counts rovers of the caster too.
  mounts_[1]->stop();
  EXPECT_TRUE(rover.closedByServer());
  ServerLimits one;
  one.maxSessions = 1;
  mounts_[1]->server().setLimits(one);
  mounts_[1]->start();
  LoopbackPeer first(port_);
  first.send(Get("/Open", true));
  EXPECT_EQ(ReadHead(first).rfind("HTTP/1.1 200 OK", 0), 0u);
  const std::string refused = Ask(Get("/Open", true));
  EXPECT_EQ(refused.rfind("HTTP/1.1 503 Service Unavailable\r\n", 0), 0u) << refused;
  EXPECT_EQ(
      CountOf(programLog(), "mount point Open cannot take the client: the configuration serves 1 sessions"),
      1);

  // Stopped, the mount point is gone from the caster at once.
  mounts_[1]->stop();
  EXPECT_TRUE(first.closedByServer());
  EXPECT_EQ(Ask(Get("/Open", true)).rfind("HTTP/1.1 404 Not Found", 0), 0u);
}

TEST_F(Caster, ARoverThatDoesNotReadLosesItsSessionAndHoldsUpNobody) {
  open_.active = std::vector<int>(200, 1023);  // about 16 KB per answer
  Start();
  ServerLimits limits;
  limits.sendTimeLimit = std::chrono::milliseconds(400);
  mounts_[1]->stop();
  mounts_[1]->server().setLimits(limits);
  mounts_[1]->start();

  LoopbackPeer flooder(port_);
  flooder.shrinkReceiveBuffer(4096);
  flooder.send(Get("/Open", false));
  ASSERT_EQ(flooder.read(12), "ICY 200 OK\r\n");
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    const std::string gga = WithChecksum(kGGA) + "\r\n";
    while (flooding && flooder.send(gga)) {
    }
  });
  LoopbackPeer good(port_);
  good.send(Get("/Open", false));
  ASSERT_EQ(good.read(12), "ICY 200 OK\r\n");
  for (int i = 0; i < 10; ++i) {
    good.send(WithChecksum(kGGA) + "\r\n");
    ASSERT_EQ(good.read(open_.binaryAnswerSize()).size(), open_.binaryAnswerSize()) << i;
  }
  EXPECT_TRUE(WaitForText(PelLog("Open").currentPath(), "ended: the client did not take its replies."));
  EXPECT_EQ(open_.counted.Read().sendTimeouts, 1u);
  flooding = false;
  flooder.reset();
  flood.join();
}

}  // namespace
}  // namespace tarvik
