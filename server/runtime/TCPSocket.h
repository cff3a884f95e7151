#pragma once
// IPv4 stream sockets: a listening or connected socket bound to a port.
//
// Every failing call is turned into a TCPException (WinSock number + a text
// chosen per call and code) and swallowed here; callers see return values.

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvik {

class TCPSocketExt;

// Starts the process's use of the network stack. Sockets created before the
// first start fail as if the stack were missing (handle -1, code 10093).
// Returns true on success; may be called any number of times.
bool startNetworking();
// True once startNetworking() has succeeded and not every user has ended.
bool networkingStarted();

// Results of receiveSentence().
constexpr int kSentenceRead = 8096;     // a sentence was read (the capacity, not the length)
constexpr int kSentenceClosed = -95;    // peer closed the connection
constexpr int kSentenceAborted = -97;   // connection aborted (10053)
constexpr int kSentenceChecksum = -98;  // "$" sentence with a wrong checksum
constexpr int kSentenceReset = -99;     // connection reset by the peer (10054)
constexpr int kSentenceError = -1;      // any other receive error

class TCPSocket {
 public:
  static constexpr int kSentenceCapacity = 8096;

  // Creates an AF_INET stream socket for `port` (host byte order); on failure
  // the handle stays -1. The listening socket gets SO_REUSEADDR so that a
  // stopped server can bind its port again at once.
  explicit TCPSocket(uint16_t port);
  virtual ~TCPSocket();
  TCPSocket(const TCPSocket&) = delete;
  TCPSocket& operator=(const TCPSocket&) = delete;

  bool bind();
  bool listen(int backlog);
  // Waits for a client; appends the peer's host name (reverse lookup; the
  // dotted address when the lookup fails) to `peer`. nullptr on failure.
  std::unique_ptr<TCPSocketExt> accept(std::string& peer);
  // The same without the name look-up (which may take the resolver's time):
  // appends the peer's dotted address.
  std::unique_ptr<TCPSocketExt> acceptAddress(std::string& dottedAddress);

  // Results of waitForClient().
  static constexpr int kClientWaiting = 1;
  static constexpr int kWaitTimedOut = 0;
  static constexpr int kWaitFailed = -1;  // aborted, or the socket is unusable
  // Waits until a client can be accepted, at most `limit`.
  int waitForClient(std::chrono::milliseconds limit);

  // kSendOK on success, kSendFailed on failure. The whole buffer is written
  // (partial writes are continued, so a frame never goes out cut).
  static constexpr int kSendOK = 0;
  static constexpr int kSendFailed = -1;
  int send(const void* bytes, int length);
  int send(const std::string& text);
  // The same, telling the stack that another send follows at once, so the
  // pieces of one answer may leave in one segment instead of one each.
  int send(const void* bytes, int length, bool moreFollows);
  int send(const std::string& text, bool moreFollows);

  // A send that cannot hand all its bytes to the system within `limit`
  // fails (-1, code 10060) instead of waiting for a peer that does not read.
  // Zero (the default) waits without limit.
  void setSendTimeLimit(std::chrono::milliseconds limit) { sendLimit_ = limit; }
  // True when the last failed send failed on that limit.
  bool sendTimedOut() const { return lastErrorCode_ == kSendTimeoutCode; }

  // Reads one "*"-terminated sentence and appends it (including the "*") to
  // `text`. A sentence starting with "$" must be followed by its two-digit
  // upper-case hexadecimal checksum, which is consumed but not returned.
  // Bytes after the sentence stay for the next call. Returns kSentenceRead or
  // one of the negative codes above. Reads through a per-connection buffer.
  int receiveSentence(std::string& text);

  // Ends the connection from this side: wakes a thread blocked in
  // receiveSentence/accept/send on this socket; a blocked or later read then
  // reports an aborted connection (-97). Safe to call from another thread.
  void abort();

  int handle() const { return handle_; }
  uint16_t port() const { return port_; }
  // The port the socket is actually bound to (useful after binding port 0);
  // 0 when unknown.
  uint16_t localPort() const;

  // Code and text of the last swallowed failure.
  int lastErrorCode() const { return lastErrorCode_; }
  const std::string& lastErrorText() const { return lastErrorText_; }

 protected:
  // Wraps an already connected handle (accepted connections).
  struct AdoptHandle {};
  TCPSocket(AdoptHandle, int handle);
  void closeHandle();
  void recordError(int code, const std::string& message);

  uint16_t port_ = 0;
  int handle_ = -1;
  int flag_ = 1;
  sockaddr_in address_{};

 private:
  // Next byte from the connection, refilling the buffer with one recv when
  // empty. Returns kByteRead with the byte, kPeerClosed when the peer closed,
  // or the negative sentence code of a receive error.
  static constexpr int kByteRead = 1;
  static constexpr int kPeerClosed = 0;
  int nextByte(char& byte);

  std::vector<char> readBuffer_;
  size_t readPos_ = 0;
  size_t readEnd_ = 0;
  // Waits until the socket takes more bytes or `deadline` passes; false on
  // the deadline, on abort() or on an error of the socket.
  bool waitWritable(std::chrono::steady_clock::time_point deadline);

  static constexpr int kSendTimeoutCode = 10060;  // WSAETIMEDOUT
  std::atomic<bool> aborted_{false};
  std::chrono::milliseconds sendLimit_{0};
  int lastErrorCode_ = 0;
  std::string lastErrorText_;
};

}  // namespace tarvik
