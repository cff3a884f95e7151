#pragma once
// Test helpers: a plain POSIX client on 127.0.0.1 and a polling log reader.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tarvik::testing {

class LoopbackPeer {
 public:
  explicit LoopbackPeer(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    // Reads give up after a while so a broken server fails the test
    // instead of hanging it.
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
  }
  ~LoopbackPeer() { close(); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  bool connected() const { return connected_; }

  bool send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }

  // Up to n bytes; fewer when the server closed or went quiet.
  std::string read(size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }

  // What arrives within `limit` (at most n bytes).
  std::string readWithin(size_t n, std::chrono::milliseconds limit) {
    std::string out;
    char buf[4096];
    auto until = std::chrono::steady_clock::now() + limit;
    while (out.size() < n) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.append(buf, static_cast<size_t>(r));
    }
    return out;
  }

  // A small receive buffer, for a client that lets replies pile up.
  void shrinkReceiveBuffer(int bytes) { ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

  // True when the server ends the connection (and sends nothing before).
  bool closedByServer(std::string* extra = nullptr) {
    char buf[256];
    for (;;) {
      ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
      if (r == 0) return true;
      if (r < 0) return errno == ECONNRESET;
      if (extra) extra->append(buf, static_cast<size_t>(r));
    }
  }

  // Ends the connection with a reset instead of an orderly close.
  void reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
  }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// Waits (up to 10 s) until `what` occurs at least `times` times in the file.
inline bool WaitForText(const std::filesystem::path& p, const std::string& what, int times = 1) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    if (CountOf(ReadFile(p), what) >= times) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// NMEA sentence with its correct checksum appended.
inline std::string WithChecksum(const std::string& body) {
  unsigned sum = 0;
  for (size_t i = 1; i < body.size(); ++i) sum ^= static_cast<unsigned char>(body[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return body + "*" + hex;
}

}  // namespace tarvik::testing
