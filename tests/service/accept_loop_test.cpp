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

TEST_F(AcceptLoopTest, FinishedSessionIsReapedOnlyWhenTheNextClientArrives) {
  ASSERT_EQ(server_.Start(0), 1);
  {
    LoopbackPeer a(server_.boundPort());
    // Quit only after the clean-up pass that followed this accept.
    ASSERT_TRUE(waitLog("Connected clients since startup     : 1"));
    a.send("quit*");
    EXPECT_TRUE(a.closedByServer());
  }
  ASSERT_TRUE(waitLog("Client " + client(0) + " was disconnected."));
  // The session raises its finished flag just after closing the connection;
  // on a busy machine its thread may not have got there yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(CountOf(log(), "Thread exit"), 0);  // kept until the next accept
  EXPECT_EQ(server_.counts().threads, 1);

  LoopbackPeer b(server_.boundPort());
  ASSERT_TRUE(waitLog("Connected clients since startup     : 2"));
  EXPECT_EQ(CountOf(log(), "Thread exit"), 1);
  EXPECT_EQ(CountOf(log(), "Current number of current threads: 1"), 2);
  EXPECT_EQ(CountOf(log(), "Current number of connected clients I: 1"), 2);
  EXPECT_EQ(server_.counts().threads, 1);
  EXPECT_EQ(server_.counts().sinceStart, 2);

  // b is served normally.
  b.send("getmode*");
  EXPECT_EQ(b.read(7), "Binary*");
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
