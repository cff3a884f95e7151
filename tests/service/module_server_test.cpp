// Starting and stopping a configuration's server while clients are connected.

#include <gtest/gtest.h>

#include <thread>

#include "FakeSessionHost.h"
#include "runtime/PelSemaphore.h"
#include "runtime/TCPSocket.h"
#include "service/ModuleServer.h"

namespace tarvik {
namespace {

using testing::CountOf;
using testing::LoopbackPeer;
using testing::WithChecksum;

const std::string kGGA = "$GPGGA,123519,4807.038,N,01531.000,E,1,08,0.9,545.4,M,46.9,M,,";

class ModuleServerTest : public testing::ServerTest {};

TEST_F(ModuleServerTest, StopEndsIdleSessionsAndTheServerRestartsAtOnce) {
  ModuleServer server(host_);
  ASSERT_EQ(server.Start(0), 1);
  EXPECT_TRUE(server.isRunning());
  EXPECT_NE(server.lock(), nullptr);
  uint16_t port = server.boundPort();
  std::vector<std::unique_ptr<LoopbackPeer>> idle;
  for (int i = 0; i < 5; ++i) idle.push_back(std::make_unique<LoopbackPeer>(port));
  ASSERT_TRUE(waitLog("Connected clients since startup     : 5"));

  server.Stop();
  EXPECT_FALSE(server.isRunning());
  EXPECT_EQ(server.lock(), nullptr);
  for (auto& p : idle) EXPECT_TRUE(p->closedByServer());
  EXPECT_EQ(CountOf(log(), "Connection was aborted."), 5);
  EXPECT_EQ(CountOf(log(), "Thread exit"), 6);  // five sessions and the accept thread

  ASSERT_EQ(server.Start(port), 1);
  LoopbackPeer again(port);
  again.send("getmode*");
  EXPECT_EQ(again.read(7), "Binary*");
}

TEST_F(ModuleServerTest, StopWaitsForARequestInProgressAndItsWaitingNeighbours) {
  ModuleServer server(host_);
  ASSERT_EQ(server.Start(0), 1);
  uint16_t port = server.boundPort();
  LoopbackPeer busy(port), waiting(port), idle(port);
  ASSERT_TRUE(waitLog("Connected clients since startup     : 3"));
  host_.hold();
  busy.send(WithChecksum(kGGA));
  ASSERT_TRUE(host_.waitInside());
  waiting.send(WithChecksum(kGGA));  // queues for the lock

  std::thread stopper([&] { server.Stop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  host_.open();
  stopper.join();

  EXPECT_FALSE(server.isRunning());
  for (LoopbackPeer* p : {&busy, &waiting, &idle}) p->closedByServer();
  EXPECT_EQ(host_.maxConcurrent.load(), 1);
  // Every session ended through the abort, none by crashing.
  EXPECT_EQ(CountOf(log(), "Connection was aborted."), 3);
  EXPECT_EQ(server.Start(port), 1);
}

TEST_F(ModuleServerTest, StartStopCyclesWithTrafficNeverLeaveAnythingBehind) {
  ModuleServer server(host_);
  ASSERT_EQ(server.Start(0), 1);
  uint16_t port = server.boundPort();
  server.Stop();
  for (int round = 0; round < 5; ++round) {
    ASSERT_EQ(server.Start(port), 1) << round;
    std::atomic<bool> go{true};
    std::thread traffic([&] {
      while (go) {
        LoopbackPeer p(port);
        if (!p.connected()) continue;
        p.send(WithChecksum(kGGA));
        p.read(host_.binaryAnswerSize());
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    server.Stop();
    go = false;
    traffic.join();
  }
  EXPECT_FALSE(server.isRunning());
}

TEST_F(ModuleServerTest, PortInUseFailsTheStartAndSaysWhy) {
  startNetworking();
  TCPSocket other(0);
  ASSERT_TRUE(other.bind());
  ASSERT_TRUE(other.listen(5));
  ModuleServer server(host_);
  EXPECT_EQ(server.Start(other.localPort()), -1);
  EXPECT_FALSE(server.isRunning());
  EXPECT_NE(log().find("error calling bind(): The specified address is already in use."), std::string::npos);
  server.Stop();  // harmless
}

TEST_F(ModuleServerTest, SecondStartIsRefusedAndDestructionStops) {
  uint16_t port;
  auto peer = std::unique_ptr<LoopbackPeer>();
  {
    ModuleServer server(host_);
    ASSERT_EQ(server.Start(0), 1);
    EXPECT_EQ(server.Start(0), -2);
    port = server.boundPort();
    peer = std::make_unique<LoopbackPeer>(port);
    ASSERT_TRUE(waitLog("is connected"));
  }
  EXPECT_TRUE(peer->closedByServer());
  LoopbackPeer refused(port);
  EXPECT_FALSE(refused.connected());
}

TEST_F(ModuleServerTest, TheLockIsTheOneTheSessionsTakeToCompute) {
  ModuleServer server(host_);
  ASSERT_EQ(server.Start(0), 1);
  LoopbackPeer peer(server.boundPort());
  ASSERT_EQ(server.lock()->wait(1), 1);
  // A request is not computed while the lock is held.
  peer.send(WithChecksum(kGGA));
  EXPECT_EQ(peer.readWithin(1, std::chrono::milliseconds(300)), "");
  // A health check computes nothing and is answered meanwhile.
  LoopbackPeer checker(server.boundPort());
  checker.send("getmode*");
  EXPECT_EQ(checker.read(7), "Binary*");
  server.lock()->release();
  // The frames of all active messages, in one piece after the lock came back.
  const std::string frames = peer.read(3);
  EXPECT_EQ(frames.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(frames[0]), 0xD3);
  // Its lines went into the log before the frames were sent, the request's
  // first and then one per frame, none of another request between them.
  const std::string text = log();
  const std::size_t health = text.find("getmode*");
  const std::size_t gga = text.find("$GPGGA");
  ASSERT_NE(health, std::string::npos) << text;
  ASSERT_NE(gga, std::string::npos) << text;
  EXPECT_LT(health, gga) << text;  // the health check was logged first
  const std::size_t firstFrame = text.find("Sending RTCM-message", gga);
  ASSERT_NE(firstFrame, std::string::npos) << text;
  EXPECT_EQ(text.find("Received request", gga), std::string::npos) << text;
  server.Stop();
}

// Stop ends sessions whatever they are doing: reading, waiting for the lock
// or sending to a client that does not read.
TEST_F(ModuleServerTest, StopReturnsPromptlyWhileAClientDoesNotRead) {
  ModuleServer server(host_);  // sends without time limit: only Stop can end them
  ServerLimits limits;
  limits.sendTimeLimit = std::chrono::milliseconds(0);
  server.setLimits(limits);
  ASSERT_EQ(server.Start(0), 1);
  host_.format = kRTCMFormatASCII;
  host_.textSuffix = std::string(16000, 'x');
  LoopbackPeer flooder(server.boundPort()), idle(server.boundPort());
  flooder.shrinkReceiveBuffer(4096);
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    while (flooding && flooder.send(WithChecksum(kGGA))) {
    }
  });
  ASSERT_TRUE(waitLog("Received request from client", 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the session now waits in a send

  const auto begin = std::chrono::steady_clock::now();
  server.Stop();
  const auto took = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_FALSE(server.isRunning());
  flooding = false;
  flooder.reset();
  flood.join();
  EXPECT_TRUE(idle.closedByServer());
}

}  // namespace
}  // namespace tarvik
