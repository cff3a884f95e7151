// Sentence framing, connection ends and error reporting of the socket layer,
// over real loopback connections.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "LoopbackPeer.h"
#include "runtime/HostEntry.h"
#include "runtime/LogText.h"
#include "runtime/TCPSocket.h"
#include "runtime/TCPSocketExt.h"

namespace tarvik {
namespace {

using testing::LoopbackPeer;
using testing::WithChecksum;

const std::string kGGA = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startNetworking());
    listener_ = std::make_unique<TCPSocket>(0);
    ASSERT_TRUE(listener_->bind());
    ASSERT_TRUE(listener_->listen(5));
    peer_ = std::make_unique<LoopbackPeer>(listener_->localPort());
    ASSERT_TRUE(peer_->connected());
    std::string name;
    server_ = listener_->accept(name);
    ASSERT_NE(server_, nullptr);
    EXPECT_FALSE(name.empty());
  }

  // One read; the text is cleared first.
  int read(std::string& text) {
    text.clear();
    return server_->receiveSentence(text);
  }

  std::unique_ptr<TCPSocket> listener_;
  std::unique_ptr<LoopbackPeer> peer_;
  std::unique_ptr<TCPSocketExt> server_;
};

TEST_F(Connection, ChecksummedSentencesAndCommands) {
  std::string text;
  // Good checksum: the text ends at "*", the checksum digits are consumed.
  peer_->send(WithChecksum(kGGA) + "getmode*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, kGGA + "*");
  // A line without "$" ends at its first "*" without a checksum test.
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "getmode*");

  // A checksum below 16 must come with its leading zero ("$A" ^ ... = 0x0A).
  const std::string small = "$\x0b\x01";
  ASSERT_EQ(WithChecksum(small).substr(4), "0A");
  peer_->send(WithChecksum(small));
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, small + "*");

  // Caller's text is appended to, not replaced.
  peer_->send("quit*");
  std::string kept = "x";
  EXPECT_EQ(server_->receiveSentence(kept), kSentenceRead);
  EXPECT_EQ(kept, "xquit*");
}

TEST_F(Connection, ChecksumDigitsArrivingSeparatelyStillMatch) {
  std::string full = WithChecksum(kGGA);
  peer_->send(full.substr(0, full.size() - 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  peer_->send(full.substr(full.size() - 1));
  std::string text;
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, kGGA + "*");
}

TEST_F(Connection, WrongChecksumsAreRefused) {
  std::string text;
  std::string good = WithChecksum(kGGA);
  std::string wrong = good;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  peer_->send(wrong);
  EXPECT_EQ(read(text), kSentenceChecksum);
}

TEST_F(Connection, ChecksumIsComparedAsUpperCaseTwoDigitText) {
  std::string text;
  peer_->send("$\x0b\x01*0a");  // lower-case digits
  EXPECT_EQ(read(text), kSentenceChecksum);
}

TEST_F(Connection, ChecksumWithoutLeadingZeroIsRefused) {
  std::string text;
  peer_->send("$\x0b\x01*A*");
  EXPECT_EQ(read(text), kSentenceChecksum);
}

TEST_F(Connection, LineEndAfterChecksumBeginsTheNextSentence) {
  std::string text;
  peer_->send(WithChecksum(kGGA) + "\r\nquit*" + WithChecksum(kGGA));
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, kGGA + "*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "\r\nquit*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, kGGA + "*");
  // A leading line end disables the checksum test: "$" is not the first byte,
  // so the digits stay in the stream and start the next sentence.
  peer_->send("\r\n$GPGGA*00quit*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "\r\n$GPGGA*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "00quit*");
}

TEST_F(Connection, SentenceWithoutStarEndsAtTheCapacity) {
  std::string text;
  peer_->send(std::string(8096 + 3, 'a') + "*");
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text.size(), 8096u);
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "aaa*");
}

TEST_F(Connection, ZeroByteCutsTheReturnedText) {
  std::string text;
  peer_->send(std::string("ab\0cd*", 6));
  EXPECT_EQ(read(text), kSentenceRead);
  EXPECT_EQ(text, "ab");
}

TEST_F(Connection, PeerClosingBeforeAStarEndsTheRead) {
  std::string text;
  peer_->send("getmode");  // no "*" yet
  peer_->close();
  EXPECT_EQ(read(text), kSentenceClosed);
}

TEST_F(Connection, ResetByPeerIsReported) {
  std::string text;
  peer_->send("x*");
  ASSERT_EQ(read(text), kSentenceRead);
  peer_->reset();
  EXPECT_EQ(read(text), kSentenceReset);
  EXPECT_EQ(server_->lastErrorCode(), 10054);
  EXPECT_EQ(server_->lastErrorText().rfind("error calling recv(): ", 0), 0u);
}

TEST_F(Connection, AbortWakesABlockedRead) {
  std::string text;
  int result = 0;
  std::thread reader([&] { result = server_->receiveSentence(text); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  server_->abort();
  reader.join();
  EXPECT_EQ(result, kSentenceAborted);
  EXPECT_EQ(server_->lastErrorCode(), 10053);
  // The peer sees the connection end.
  EXPECT_TRUE(peer_->closedByServer());
}

// Lines (the head of an HTTP request, a receiver's NMEA output): LF ends
// them, a line may arrive in pieces, and neither a line without
// an end nor a peer that sends nothing holds the reader beyond its limits.
TEST_F(Connection, LinesEndAtLineFeedsWithinTheirLimitAndDeadline) {
  using Clock = std::chrono::steady_clock;
  const auto soon = [] { return Clock::now() + std::chrono::milliseconds(300); };
  std::string line;
  peer_->send("GET / HTTP/1.0\r\nHost: x\n\r\n$GP");
  EXPECT_EQ(server_->receiveLine(line, 100, soon()), kLineRead);
  EXPECT_EQ(line, "GET / HTTP/1.0\r");
  EXPECT_EQ(server_->receiveLine(line, 100, soon()), kLineRead);
  EXPECT_EQ(line, "Host: x");
  EXPECT_EQ(server_->receiveLine(line, 100, soon()), kLineRead);
  EXPECT_EQ(line, "\r");
  // The rest of the line comes later: the read waits for it.
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    peer_->send("GGA,1*00\r\n");
  });
  EXPECT_EQ(server_->receiveLine(line, 100), kLineRead);
  late.join();
  EXPECT_EQ(line, "$GPGGA,1*00\r");

  // The limit counts the line end too.
  peer_->send("12345\r\n12345\r\n");
  EXPECT_EQ(server_->receiveLine(line, 7, soon()), kLineRead);
  EXPECT_EQ(line, "12345\r");
  EXPECT_EQ(server_->receiveLine(line, 6, soon()), kLineTooLong);
  EXPECT_EQ(server_->receiveLine(line, 6, soon()), kLineRead);  // what was left of it
  EXPECT_EQ(line, "");

  // Nothing more arrives: the deadline ends the wait.
  const auto begin = Clock::now();
  EXPECT_EQ(server_->receiveLine(line, 100, Clock::now() + std::chrono::milliseconds(150)), kLineTimedOut);
  EXPECT_GE(Clock::now() - begin, std::chrono::milliseconds(140));
  EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2));

  // abort() wakes a read that waits with a deadline; a closed peer ends one.
  int result = 0;
  std::thread reader(
      [&] { result = server_->receiveLine(line, 100, Clock::now() + std::chrono::seconds(30)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  server_->abort();
  reader.join();
  EXPECT_EQ(result, kSentenceAborted);
}

TEST_F(Connection, PeerClosingInTheMiddleOfALineEndsTheRead) {
  std::string line;
  peer_->send("half a line");
  peer_->close();
  EXPECT_EQ(server_->receiveLine(line, 100, std::chrono::steady_clock::now() + std::chrono::seconds(5)),
            kSentenceClosed);
}

TEST_F(Connection, SendWritesEverythingAndFailsOnceClosed) {
  std::string big(200000, 'z');
  std::string got;
  std::thread reader([&] { got = peer_->read(big.size()); });
  EXPECT_EQ(server_->send(big), 0);
  reader.join();
  EXPECT_EQ(got, big);

  peer_->reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int r = 0;
  for (int i = 0; i < 10 && r == 0; ++i) r = server_->send(std::string("data"));
  EXPECT_EQ(r, -1);
  EXPECT_EQ(server_->lastErrorText().rfind("error calling send(): ", 0), 0u);
}

// With a time limit a send to a peer that does not read fails with 10060
// instead of waiting; a peer that reads slowly but in time gets everything,
// and abort() ends a waiting send at once.
TEST_F(Connection, SendsGiveUpOnAPeerThatDoesNotRead) {
  server_->setSendTimeLimit(std::chrono::milliseconds(300));
  std::string big(64 * 1024 * 1024, 'z');  // more than the system buffers hold
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(server_->send(big), -1);
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_TRUE(server_->sendTimedOut());
  EXPECT_EQ(server_->lastErrorCode(), 10060);
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_LT(took, std::chrono::seconds(3));

  // Slow but steady: every piece arrives within the limit.
  while (!peer_->readWithin(big.size(), std::chrono::milliseconds(300)).empty()) {
  }  // what the failed send left
  std::string medium(1024 * 1024, 'y');
  std::string got;
  std::thread reader([&] {
    while (got.size() < medium.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      got += peer_->readWithin(64 * 1024, std::chrono::milliseconds(50));
    }
  });
  EXPECT_EQ(server_->send(medium), 0);
  reader.join();
  EXPECT_EQ(got, medium);

  server_->setSendTimeLimit(std::chrono::seconds(60));
  int result = 0;
  std::thread sender([&] { result = server_->send(big); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  server_->abort();
  sender.join();
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(server_->sendTimedOut());
}

TEST(LogSafeText, ControlCharactersBecomeEscapes) {
  EXPECT_EQ(LogSafeText("$GPGGA,1*"), "$GPGGA,1*");
  EXPECT_EQ(LogSafeText(std::string("a\nb\rc\td\0e\x1b\x7f", 11)), "a\\nb\\rc\\td\\x00e\\x1B\\x7F");
  EXPECT_EQ(LogSafeText("\xc3\xa4"), "\xc3\xa4");  // UTF-8 stays readable
}

TEST(SocketErrors, ReceiveOnSomethingNotASocketIsAnOtherError) {
  ASSERT_TRUE(startNetworking());
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  auto s = TCPSocketExt::adopt(fds[0]);
  std::string text;
  EXPECT_EQ(s->receiveSentence(text), kSentenceError);
  EXPECT_EQ(s->lastErrorCode(), 10038);
  EXPECT_EQ(s->lastErrorText(), "error calling recv(): The descriptor is not a socket.");
  ::close(fds[1]);
}

TEST(SocketErrors, PortInUseAndRefusedConnection) {
  ASSERT_TRUE(startNetworking());
  TCPSocket first(0);
  ASSERT_TRUE(first.bind());
  ASSERT_TRUE(first.listen(5));
  TCPSocket second(first.localPort());
  EXPECT_FALSE(second.bind());
  EXPECT_EQ(second.lastErrorCode(), 10048);
  EXPECT_EQ(second.lastErrorText(), "error calling bind(): The specified address is already in use. ");
  // Listening without a bind on Linux picks a port; a closed socket cannot listen.
  TCPSocketExt closed(0);
  closed.close();
  EXPECT_FALSE(closed.listen(5));
  EXPECT_EQ(closed.lastErrorCode(), 10038);

  uint16_t freePort;
  {
    TCPSocket probe(0);
    ASSERT_TRUE(probe.bind());
    freePort = probe.localPort();
  }
  TCPSocketExt client(freePort);
  EXPECT_FALSE(client.connect("127.0.0.1", HostEntry::ByAddress));
  EXPECT_EQ(client.lastErrorCode(), 10061);
  EXPECT_EQ(client.lastErrorText(),
            "error calling connect(): The attempt to connect was forcefully rejected.");
}

TEST(SocketErrors, ConnectToAnUnresolvableHostFailsQuietly) {
  ASSERT_TRUE(startNetworking());
  TCPSocketExt client(1);
  EXPECT_FALSE(client.connect("not an address", HostEntry::ByAddress));
  EXPECT_FALSE(client.connect("127.0.0.1", 7));
}

TEST(SocketErrors, ConnectOutAndTalk) {
  ASSERT_TRUE(startNetworking());
  TCPSocket listener(0);
  ASSERT_TRUE(listener.bind());
  ASSERT_TRUE(listener.listen(5));
  TCPSocketExt client(listener.localPort());
  ASSERT_TRUE(client.connect("127.0.0.1", HostEntry::ByAddress));
  std::string name;
  auto served = listener.accept(name);
  ASSERT_NE(served, nullptr);
  EXPECT_EQ(client.send(std::string("getmode*")), 0);
  std::string text;
  EXPECT_EQ(served->receiveSentence(text), kSentenceRead);
  EXPECT_EQ(text, "getmode*");
  EXPECT_TRUE(client.close());
  EXPECT_EQ(served->receiveSentence(text), kSentenceClosed);
}

TEST(HostEntryLookup, KindsAndFailures) {
  HostEntry loop("127.0.0.1", HostEntry::ByAddress);
  ASSERT_TRUE(loop.valid());
  EXPECT_FALSE(loop.officialName().empty());

  HostEntry junk("300.1.1.1", HostEntry::ByAddress);
  EXPECT_FALSE(junk.valid());
  EXPECT_EQ(junk.errorCode(), 0);
  EXPECT_EQ(junk.errorText(), "Error calling inet_addr()");

  HostEntry kind("localhost", 2);
  EXPECT_FALSE(kind.valid());
  EXPECT_EQ(kind.errorText(), "unknown host type: host name/address has to be given ");

  HostEntry byName("localhost", HostEntry::ByName);
  ASSERT_TRUE(byName.valid());
  ASSERT_FALSE(byName.addresses().empty());
  EXPECT_EQ(ntohl(byName.addresses().front().s_addr) >> 24, 127u);
}

}  // namespace
}  // namespace tarvik
