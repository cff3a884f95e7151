// Sockets made before the network stack is started behave as if it were
// missing. Kept alone in its executable: every other test starts the stack.

#include <gtest/gtest.h>

#include "runtime/TCPSocket.h"

namespace tarvik {
namespace {

TEST(NetworkStack, SocketBeforeStartHasNoHandleAndCannotBind) {
  ASSERT_FALSE(networkingStarted());
  TCPSocket early(0);
  EXPECT_EQ(early.handle(), -1);
  EXPECT_EQ(early.lastErrorCode(), 10093);
  EXPECT_EQ(early.lastErrorText(), "Successful WSAStartup must occur before using this function.");
  EXPECT_FALSE(early.bind());

  ASSERT_TRUE(startNetworking());
  TCPSocket later(0);
  EXPECT_GE(later.handle(), 0);
  EXPECT_TRUE(later.bind());
}

}  // namespace
}  // namespace tarvik
