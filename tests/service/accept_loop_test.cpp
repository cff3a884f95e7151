// Client naming, reaping and the count lines of the accept loop.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeSessionHost.h"
#include "service/ModuleServer.h"

namespace tarvik {
namespace {

using testing::CountOf;
using testing::LoopbackPeer;

class AcceptLoopTest : public testing::ServerTest {
 protected:
  void TearDown() override {
    server_.Stop();
    ServerTest::TearDown();
  }
  std::string client(int n) { return LoopbackHostName() + "-" + std::to_string(n); }
  ModuleServer server_{host_};
};

TEST_F(AcceptLoopTest, StartLinesAndClientsNumberedFromZero) {
  ASSERT_EQ(server_.Start(0), 1);
  LoopbackPeer first(server_.boundPort());
  ASSERT_TRUE(waitLog("Client " + client(0) + " is connected"));
  LoopbackPeer second(server_.boundPort());
  ASSERT_TRUE(waitLog("Client " + client(1) + " is connected"));
  ASSERT_TRUE(waitLog("Connected clients since startup     : 2"));

  std::string text = log();
  size_t header = text.find("Configuration:    Fake");
  size_t startUp = text.find("Start up ...");
  size_t ready = text.find("Server is ready for NMEA-Requests...");
  ASSERT_NE(header, std::string::npos);
  ASSERT_NE(startUp, std::string::npos);
  ASSERT_NE(ready, std::string::npos);
  EXPECT_LT(header, startUp);
  EXPECT_LT(startUp, ready);
  EXPECT_NE(text.find("Current number of current threads: 2"), std::string::npos);
  EXPECT_NE(text.find("Current number of connected clients I: 2"), std::string::npos);
}

// A finished session gives back its thread and descriptor without waiting
// for the next client to arrive.
TEST_F(AcceptLoopTest, FinishedSessionIsReapedWithoutWaitingForTheNextClient) {
  ASSERT_EQ(server_.Start(0), 1);
  {
    LoopbackPeer a(server_.boundPort());
    ASSERT_TRUE(waitLog("Connected clients since startup     : 1"));
    a.send("quit*");
    EXPECT_TRUE(a.closedByServer());
  }
  ASSERT_TRUE(waitLog("Client " + client(0) + " was disconnected."));
  ASSERT_TRUE(waitLog("Thread exit"));
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (server_.counts().threads != 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(server_.counts().threads, 0);
  EXPECT_EQ(server_.counts().clients, 0);

  LoopbackPeer b(server_.boundPort());
  ASSERT_TRUE(waitLog("Connected clients since startup     : 2"));
  EXPECT_EQ(CountOf(log(), "Thread exit"), 1);
  EXPECT_EQ(CountOf(log(), "Current number of current threads: 1"), 2);
  EXPECT_EQ(server_.counts().threads, 1);
  EXPECT_EQ(server_.counts().sinceStart, 2);

  // b is served normally.
  b.send("getmode*");
  EXPECT_EQ(b.read(7), "Binary*");
}

// Connections beyond the limits are closed at once, with a line saying why;
// a place that frees up is taken by the next client.
TEST_F(AcceptLoopTest, ConnectionsBeyondTheLimitsAreRefused) {
  ServerLimits limits;
  limits.maxSessionsPerAddress = 2;
  limits.maxSessions = 3;
  server_.setLimits(limits);
  ASSERT_EQ(server_.Start(0), 1);
  LoopbackPeer a(server_.boundPort());
  LoopbackPeer b(server_.boundPort());
  ASSERT_TRUE(waitLog("Connected clients since startup     : 2"));
  {
    LoopbackPeer c(server_.boundPort());
    EXPECT_TRUE(c.closedByServer());
  }
  ASSERT_TRUE(
      waitLog("Connection from 127.0.0.1 refused: 2 sessions of that address are open "
              "(MaxSessionsPerAddress)."));
  b.send("getmode*");
  EXPECT_EQ(b.read(7), "Binary*");  // the open sessions are not disturbed
  b.send("quit*");
  EXPECT_TRUE(b.closedByServer());
  ASSERT_TRUE(waitLog("Thread exit"));
  LoopbackPeer d(server_.boundPort());  // b's place
  d.send("getmode*");
  EXPECT_EQ(d.read(7), "Binary*");

  limits.maxSessionsPerAddress = 0;
  limits.maxSessions = 2;
  server_.Stop();
  server_.setLimits(limits);
  ASSERT_EQ(server_.Start(0), 1);
  LoopbackPeer e(server_.boundPort()), f(server_.boundPort()), g(server_.boundPort());
  EXPECT_TRUE(g.closedByServer());
  ASSERT_TRUE(waitLog("refused: the configuration serves 2 sessions (MaxSessionsPerConfiguration)."));
  e.send("getmode*");
  EXPECT_EQ(e.read(7), "Binary*");
}

TEST_F(AcceptLoopTest, TwoClientsConnectedTogetherAreAnsweredIndependently) {
  ASSERT_EQ(server_.Start(0), 1);
  LoopbackPeer a(server_.boundPort());
  LoopbackPeer b(server_.boundPort());
  host_.format = kRTCMFormatXML;
  b.send("getmode*");
  EXPECT_EQ(b.read(4), "XML*");
  a.send("getmode*");
  EXPECT_EQ(a.read(4), "XML*");
  a.send("quit*");
  EXPECT_TRUE(a.closedByServer());
  b.send("getmode*");
  EXPECT_EQ(b.read(4), "XML*");
}

TEST_F(AcceptLoopTest, NumberingRestartsWithEveryStart) {
  ASSERT_EQ(server_.Start(0), 1);
  uint16_t port = server_.boundPort();
  {
    LoopbackPeer a(port);
    LoopbackPeer b(port);
    ASSERT_TRUE(waitLog("Client " + client(1) + " is connected"));
  }
  server_.Stop();
  ASSERT_EQ(server_.Start(port), 1);  // same port, at once
  LoopbackPeer c(port);
  ASSERT_TRUE(waitLog("Client " + client(0) + " is connected", 2));
  c.send("getmode*");
  EXPECT_EQ(c.read(7), "Binary*");
  ASSERT_TRUE(waitLog("Connected clients since startup     : 1", 2));
  EXPECT_EQ(server_.counts().sinceStart, 1);
}

}  // namespace
}  // namespace tarvik
