// A running module over TCP: start, serve, read the configuration again
// while clients are connected, stop, and the counters around it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "module/CRTCMTransformationMessageModule.h"
#include "module/ModuleFixture.h"
#include "service/ModuleHost.h"

namespace tarvik::testing {
namespace {

const std::string kGGA = "$GPGGA,123519,4742.000,N,01454.000,E,1,08,0.9,545.4,M,46.9,M,1.0,0001*";

// The sentence with its checksum, as a rover sends it.
std::string WithChecksum(const std::string& sentence) {
  unsigned char sum = 0;
  for (std::size_t i = 1; i + 1 < sentence.size(); ++i) sum ^= static_cast<unsigned char>(sentence[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return sentence + hex;
}

// Blocking loopback client reading "*"-terminated answers.
class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string& text) {
    ASSERT_EQ(::send(fd_, text.data(), text.size(), 0), (ssize_t)text.size());
  }
  // Reads until `count` answers ending in "*" have arrived (or the peer stops).
  std::vector<std::string> Read(int count) {
    std::vector<std::string> answers;
    std::string current;
    char c;
    while (static_cast<int>(answers.size()) < count && ::recv(fd_, &c, 1, 0) == 1) {
      current += c;
      if (c == '*') {
        answers.push_back(current);
        current.clear();
      }
    }
    return answers;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

class LiveModule : public ModuleHome {};

TEST_F(LiveModule, ServesAndRereadsWhileRunning) {
  WriteIni("Nord", EditIni(BaseModuleIni(), {{"Settings/RTCMFormat", "ASCII"}}));
  CRTCMTransformationMessageModule m("Nord", Folder("Nord"));
  ModuleHost host(m);
  ASSERT_EQ(m.ReadConfiguration(general_), 1);
  ASSERT_TRUE(m.ModuleValid()) << m.ModuleProblems();
  EXPECT_FALSE(host.StartTime().has_value());
  ASSERT_EQ(host.Start(), 1);
  EXPECT_EQ(host.Start(), -2);
  EXPECT_TRUE(host.IsRunning());
  EXPECT_TRUE(host.StartTime().has_value());

  Client client(host.BoundPort());
  ASSERT_TRUE(client.connected());
  client.Send("getmode*");
  EXPECT_EQ(client.Read(1), std::vector<std::string>{"ASCII*"});
  client.Send(WithChecksum(kGGA));
  auto answers = client.Read(3);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0].rfind("1021\n", 0), 0u);

  // The operator edits the file: one message, another format. The live
  // module takes it over for the next request on the same connection.
  WriteIni("Nord", EditIni(BaseModuleIni(), {{"Settings/RTCMFormat", "XML"}, {"ActiveMessages", "1025"}}));
  ASSERT_EQ(m.ReadConfiguration(general_), 1);
  EXPECT_TRUE(m.ModuleValid()) << m.ModuleProblems();
  client.Send("getmode*");
  EXPECT_EQ(client.Read(1), std::vector<std::string>{"XML*"});
  client.Send(WithChecksum(kGGA));
  answers = client.Read(1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_NE(answers[0].find("RTCMTransformationMesssage.1025"), std::string::npos);
  EXPECT_EQ(m.RequestsSinceStart(), 4);
  EXPECT_EQ(m.TotalNumberOfRequests(), 5 + 4);  // the re-read kept the 2 counted before it

  host.Stop();
  EXPECT_FALSE(host.IsRunning());
  EXPECT_FALSE(host.StartTime().has_value());
}

TEST_F(LiveModule, InvalidModuleDoesNotStart) {
  WriteIni("Nord", EditIni(BaseModuleIni(), {{"ActiveMessages", "1022"}}));
  CRTCMTransformationMessageModule m("Nord", Folder("Nord"));
  ModuleHost host(m);
  m.ReadConfiguration(general_);
  EXPECT_EQ(host.Start(), -3);
  EXPECT_FALSE(host.IsRunning());
}

}  // namespace
}  // namespace tarvik::testing
