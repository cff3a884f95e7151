// The session protocol over real loopback connections, against a fake module.

#include <gtest/gtest.h>

#include <thread>

#include "FakeSessionHost.h"
#include "service/ClientSession.h"
#include "service/ModuleServer.h"

namespace tarvik {
namespace {

using testing::CountOf;
using testing::LoopbackPeer;
using testing::WithChecksum;

const std::string kGGA = "$GPGGA,123519,4807.038,N,01531.000,E,1,08,0.9,545.4,M,46.9,M,,";

class Session : public testing::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    ASSERT_EQ(server_.Start(0), 1);
    port_ = server_.boundPort();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    server_.Stop();
    ServerTest::TearDown();
  }
  std::string client(int n) { return LoopbackHostName() + "-" + std::to_string(n); }

  ModuleServer server_{host_};
  uint16_t port_ = 0;
};

TEST_F(Session, BinaryAnswerIsOneSendPerActiveMessageInListOrder) {
  host_.active = {1025, 1021, 1023};
  LoopbackPeer peer(port_);
  peer.send(WithChecksum(kGGA));
  std::string answer = peer.read(host_.binaryAnswerSize());
  ASSERT_EQ(answer.size(), host_.binaryAnswerSize());
  EXPECT_EQ(static_cast<unsigned char>(answer[0]), 0xD3);
  EXPECT_EQ(static_cast<unsigned char>(answer[3]), 1025 & 0xFF);

  std::string text = log();
  size_t received = text.find("Received request from client " + client(0) + " at Date: ");
  ASSERT_NE(received, std::string::npos);
  // "Date: dd.mm.yyyy Time: hh:mm:ss"
  const size_t date = received + std::string("Received request from client ").size() + client(0).size() +
                      std::string(" at Date: ").size();
  EXPECT_EQ(text.substr(date + 10, 7), " Time: ");
  EXPECT_EQ(text[date + 2], '.');
  EXPECT_EQ(text.substr(date + 17 + 8, 2), ": ");
  EXPECT_NE(text.find(": " + kGGA + "*\n"), std::string::npos);  // checksum not part of the request
  size_t a = text.find("Sending RTCM-message 1025 to client " + client(0) + ".");
  size_t b = text.find("Sending RTCM-message 1021 to client " + client(0) + ".");
  size_t c = text.find("Sending RTCM-message 1023 to client " + client(0) + ".");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(text.find("[Tarvik:Fake]"), std::string::npos);
  EXPECT_EQ(host_.totalRequests.load(), 1);
}

TEST_F(Session, GetmodeInAnyCaseAnswersTheFormatWord) {
  LoopbackPeer peer(port_);
  const std::pair<int, std::string> modes[] = {{kRTCMFormatASCII, "ASCII*"},
                                               {kRTCMFormatBinary, "Binary*"},
                                               {kRTCMFormatXML, "XML*"},
                                               {7, "Unknown*"}};
  for (const auto& [format, word] : modes) {
    host_.format = format;
    for (const char* cmd : {"getmode*", "GETMODE*", "GetMode*"}) {
      peer.send(cmd);
      EXPECT_EQ(peer.read(word.size()), word) << cmd;
    }
  }
  EXPECT_EQ(host_.handled.load(), 0);         // commands never reach the module
  EXPECT_EQ(host_.totalRequests.load(), 12);  // but they are counted
}

TEST_F(Session, QuitInAnyCaseEndsWithoutReply) {
  for (const char* quit : {"quit*", "QUIT*", "Quit*"}) {
    LoopbackPeer peer(port_);
    peer.send(quit);
    std::string extra;
    EXPECT_TRUE(peer.closedByServer(&extra)) << quit;
    EXPECT_EQ(extra, "");
  }
  EXPECT_TRUE(waitLog("Client " + client(2) + " was disconnected."));
  EXPECT_EQ(CountOf(log(), "was disconnected."), 3);
}

TEST_F(Session, WrongChecksumEndsTheSessionWithoutReply) {
  LoopbackPeer peer(port_);
  std::string bad = WithChecksum(kGGA);
  bad.back() = bad.back() == '0' ? '1' : '0';
  peer.send(bad);
  std::string extra;
  EXPECT_TRUE(peer.closedByServer(&extra));
  EXPECT_EQ(extra, "");
  ASSERT_TRUE(waitLog("NMEA-checksum-failure!!."));
  EXPECT_NE(log().find("[ERROR]   [Tarvik:Fake]"), std::string::npos);
  EXPECT_EQ(host_.handled.load(), 0);
}

TEST_F(Session, LineEndAfterChecksumMakesTheFollowingQuitAnUnknownRequest) {
  host_.format = kRTCMFormatASCII;
  host_.active = {1021};
  LoopbackPeer peer(port_);
  peer.send(WithChecksum(kGGA) + "\r\nquit*");
  std::string first = "Message 1021\nline two\n*";
  EXPECT_EQ(peer.read(first.size()), first);
  std::string unknown = "Error: Unknown request.";
  EXPECT_EQ(peer.read(unknown.size()), unknown);
  // Still connected: a bare quit ends it.
  peer.send("getmode*");
  EXPECT_EQ(peer.read(6), "ASCII*");
  peer.send("quit*");
  EXPECT_TRUE(peer.closedByServer());
}

TEST_F(Session, TextResponsesAreLoggedFlatAndSentWholeBeyond4096) {
  host_.format = kRTCMFormatXML;
  host_.active = {1021, 1023, 1025};
  LoopbackPeer peer(port_);
  peer.send(WithChecksum(kGGA));
  std::string xml;
  for (int m : host_.active) xml += "<Msg n=\"" + std::to_string(m) + "\"/>\n*";
  EXPECT_EQ(peer.read(xml.size()), xml);
  EXPECT_TRUE(waitLog("Sending RTCM-messsage to client " + client(0) + ":\n<Msg n=\"1023\"/> *\n"));
  EXPECT_EQ(CountOf(log(), "Sending RTCM-messsage"), 3);

  host_.format = kRTCMFormatASCII;
  host_.active = {1023};
  host_.textSuffix = std::string(9000, 'x');
  peer.send(WithChecksum(kGGA));
  std::string longText = "Message 1023\nline two" + host_.textSuffix + "\n*";
  EXPECT_EQ(peer.read(longText.size()), longText);
}

TEST_F(Session, UnknownFormatSendsNothingButKeepsTheSession) {
  host_.format = 0;
  LoopbackPeer peer(port_);
  peer.send(WithChecksum(kGGA));
  peer.send("getmode*");
  EXPECT_EQ(peer.read(8), "Unknown*");
  EXPECT_EQ(host_.handled.load(), 0);
}

TEST_F(Session, PeerCloseAndResetAreLogged) {
  {
    LoopbackPeer peer(port_);
    peer.send("getmode*");
    EXPECT_EQ(peer.read(7), "Binary*");
  }
  EXPECT_TRUE(waitLog("Connection was closed."));
  {
    LoopbackPeer peer(port_);
    peer.send("getmode*");
    EXPECT_EQ(peer.read(7), "Binary*");
    peer.reset();
  }
  EXPECT_TRUE(waitLog("Connection was reset."));
}

TEST_F(Session, ConcurrentClientsAreCountedExactlyAndServedOneAtATime) {
  constexpr int kClients = 6, kRequests = 40;
  std::vector<std::thread> clients;
  std::atomic<int> answered{0};
  for (int c = 0; c < kClients; ++c)
    clients.emplace_back([&] {
      LoopbackPeer peer(port_);
      for (int i = 0; i < kRequests; ++i) {
        peer.send(WithChecksum(kGGA));
        if (peer.read(host_.binaryAnswerSize()).size() == host_.binaryAnswerSize()) ++answered;
      }
    });
  for (auto& t : clients) t.join();
  EXPECT_EQ(answered.load(), kClients * kRequests);
  EXPECT_EQ(host_.totalRequests.load(), kClients * kRequests);
  EXPECT_EQ(host_.requestsSinceStart.load(), kClients * kRequests);
  EXPECT_EQ(host_.maxConcurrent.load(), 1);
}

// A client that floods requests and never reads fills its connection; its
// replies are sent outside the configuration's lock, so the other clients
// go on being answered, and once a reply has waited for the time limit the
// stalled client loses its session.
TEST_F(Session, AClientThatDoesNotReadHoldsUpNobodyAndLosesItsSession) {
  server_.Stop();
  ServerLimits limits;
  limits.sendTimeLimit = std::chrono::milliseconds(400);
  server_.setLimits(limits);
  ASSERT_EQ(server_.Start(0), 1);
  port_ = server_.boundPort();
  host_.format = kRTCMFormatASCII;
  host_.active = {1021};
  host_.textSuffix = std::string(16000, 'x');
  const std::string reply = "Message 1021\nline two" + host_.textSuffix + "\n*";

  LoopbackPeer flooder(port_);
  flooder.shrinkReceiveBuffer(4096);
  LoopbackPeer good(port_);
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    const std::string gga = WithChecksum(kGGA);
    while (flooding && flooder.send(gga)) {
    }
  });
  for (int i = 0; i < 20; ++i) {
    good.send(WithChecksum(kGGA));
    ASSERT_EQ(good.read(reply.size()), reply) << i;
  }
  ASSERT_TRUE(waitLog("ended: the client did not take its replies."));
  EXPECT_NE(log().find("Error sending Message to client"), std::string::npos);
  EXPECT_EQ(host_.counted.Read().sendTimeouts, 1u);
  flooding = false;
  flooder.reset();
  flood.join();
  good.send("getmode*");
  EXPECT_EQ(good.read(6), "ASCII*");
}

// What the sessions count: open sessions while they live, each request
// through the request path by its result code with its duration, and
// neither commands nor an unknown format.
TEST_F(Session, RequestsAreCountedByResultCodeWithTheirDurationAndSessionsWhileOpen) {
  host_.format = kRTCMFormatASCII;
  host_.active = {1021};
  auto waitOpen = [this](std::int64_t n) {
    for (int i = 0; i < 500 && host_.counted.Read().openSessions != n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return host_.counted.Read().openSessions;
  };
  const std::string reply = "Message 1021\nline two\n*";
  const std::string unknown = "Error: Unknown request.";
  {
    LoopbackPeer a(port_), b(port_), c(port_);
    EXPECT_EQ(waitOpen(3), 3);
    for (int i = 0; i < 3; ++i) {
      a.send(WithChecksum(kGGA));
      ASSERT_EQ(a.read(reply.size()), reply);
    }
    b.send("hello*");
    ASSERT_EQ(b.read(unknown.size()), unknown);
    b.send("getmode*");
    ASSERT_EQ(b.read(6), "ASCII*");
    host_.format = 7;  // nothing is computed or sent
    c.send(WithChecksum(kGGA));
    c.send("getmode*");
    ASSERT_EQ(c.read(8), "Unknown*");
  }
  EXPECT_EQ(waitOpen(0), 0);
  const SessionMetricsSnapshot s = host_.counted.Read();
  EXPECT_EQ(s.sessions, 3u);
  const std::vector<std::pair<int, std::uint64_t>> byCode = {{-1000, 1}, {1, 3}};
  EXPECT_EQ(s.requests.byCode, byCode);
  EXPECT_EQ(s.requests.other, 0u);
  EXPECT_EQ(s.latency.Count(), 4u);
  EXPECT_GT(s.latency.sum, 0.0);
  EXPECT_LT(s.latency.sum, 4 * 10.0);
  EXPECT_EQ(s.sendFailures + s.sendTimeouts, 0u);
}

// A request cannot write lines of its own choosing into the log.
TEST_F(Session, ControlCharactersOfARequestAreEscapedInTheLog) {
  host_.format = kRTCMFormatASCII;
  LoopbackPeer peer(port_);
  peer.send("x\n[01.01.2030-00:00:00][ERROR]   [Tarvik:Fake] FORGED\r\x01*");
  const std::string unknown = "Error: Unknown request.";
  EXPECT_EQ(peer.read(unknown.size()), unknown);
  ASSERT_TRUE(waitLog("Sending RTCM-messsage"));
  const std::string text = log();
  EXPECT_NE(text.find(": x\\n[01.01.2030-00:00:00][ERROR]   [Tarvik:Fake] FORGED\\r\\x01*\n"),
            std::string::npos);
  EXPECT_EQ(text.find("\n[01.01.2030"), std::string::npos);
}

}  // namespace
}  // namespace tarvik
