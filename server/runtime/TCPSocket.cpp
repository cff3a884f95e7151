#include "runtime/TCPSocket.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "runtime/HostEntry.h"
#include "runtime/SocketErrors.h"
#include "runtime/TCPException.h"
#include "runtime/TCPSocketExt.h"

namespace tarvik {

namespace {

// Users of the network stack: every successful start plus every live
// connected socket. Starts are never undone, so once started the stack stays
// usable for every socket still open, whatever order sockets die in.
std::atomic<int> g_networkUsers{0};

// Bytes fetched per recv. Requests are short; one read usually holds a
// whole sentence and its line end.
constexpr size_t kReadChunk = 4096;

int sentenceCodeFor(int winsockCode) {
  if (winsockCode == wsa::ECONNABORTED_) return kSentenceAborted;
  if (winsockCode == wsa::ECONNRESET_) return kSentenceReset;
  return kSentenceError;
}

}  // namespace

bool startNetworking() {
  g_networkUsers.fetch_add(1);
  return true;
}

bool networkingStarted() { return g_networkUsers.load() > 0; }

namespace detail {
void acquireNetworking() { g_networkUsers.fetch_add(1); }
void releaseNetworking() { g_networkUsers.fetch_sub(1); }
}  // namespace detail

TCPSocket::TCPSocket(uint16_t port) : port_(port) {
  address_.sin_family = AF_INET;
  address_.sin_port = htons(port);
  address_.sin_addr.s_addr = htonl(INADDR_ANY);
  try {
    if (!networkingStarted())
      throw TCPException(wsa::NOTINITIALISED_, SocketErrorText(SocketCall::Create, wsa::NOTINITIALISED_));
    handle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle_ < 0) {
      int code = WinSockErrorFromErrno(errno);
      throw TCPException(code, SocketErrorText(SocketCall::Create, code));
    }
  } catch (const TCPException& e) {
    handle_ = -1;
    recordError(e.code(), e.message());
  }
}

TCPSocket::TCPSocket(AdoptHandle, int handle) : handle_(handle) { address_.sin_family = AF_INET; }

TCPSocket::~TCPSocket() { closeHandle(); }

void TCPSocket::closeHandle() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

void TCPSocket::recordError(int code, const std::string& message) {
  lastErrorCode_ = code;
  lastErrorText_ = message;
}

bool TCPSocket::bind() {
  try {
    int on = 1;
    if (handle_ >= 0) ::setsockopt(handle_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(handle_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0) {
      int code = WinSockErrorFromErrno(errno);
      throw TCPException(code, "error calling bind(): " + SocketErrorText(SocketCall::Bind, code));
    }
    return true;
  } catch (const TCPException& e) {
    recordError(e.code(), e.message());
    return false;
  }
}

bool TCPSocket::listen(int backlog) {
  try {
    if (::listen(handle_, backlog) != 0) {
      int code = WinSockErrorFromErrno(errno);
      throw TCPException(code, "error calling listen(): " + SocketErrorText(SocketCall::Listen, code));
    }
    return true;
  } catch (const TCPException& e) {
    recordError(e.code(), e.message());
    return false;
  }
}

std::unique_ptr<TCPSocketExt> TCPSocket::accept(std::string& peer) {
  std::string dotted;
  std::unique_ptr<TCPSocketExt> client = acceptAddress(dotted);
  if (!client) return nullptr;
  HostEntry host(dotted, HostEntry::ByAddress);
  peer += host.valid() && !host.officialName().empty() ? host.officialName() : dotted;
  return client;
}

std::unique_ptr<TCPSocketExt> TCPSocket::acceptAddress(std::string& dottedAddress) {
  try {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    int fd;
    do {
      fd = ::accept4(handle_, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR && !aborted_.load());
    if (fd < 0) {
      int code = aborted_.load() ? wsa::EINTR_ : WinSockErrorFromErrno(errno);
      throw TCPException(code, "error calling accept():  " + SocketErrorText(SocketCall::Accept, code));
    }
    if (aborted_.load()) {  // woken for shutdown, a late client gets no session
      ::close(fd);
      throw TCPException(wsa::EINTR_,
                         "error calling accept():  " + SocketErrorText(SocketCall::Accept, wsa::EINTR_));
    }
    // Every response goes out in its own send; without this, the second
    // frame of an answer waits for the client's delayed acknowledgement.
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
    dottedAddress += dotted;
    return TCPSocketExt::adopt(fd);
  } catch (const TCPException& e) {
    recordError(e.code(), e.message());
    return nullptr;
  }
}

int TCPSocket::waitForClient(std::chrono::milliseconds limit) {
  if (handle_ < 0 || aborted_.load()) return kWaitFailed;
  pollfd p{handle_, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, static_cast<int>(limit.count()));
  } while (n < 0 && errno == EINTR && !aborted_.load());
  if (aborted_.load() || n < 0) return kWaitFailed;
  if (n == 0) return kWaitTimedOut;
  // A listening socket shut down by abort() reports POLLHUP; so does a
  // socket that never listened.
  if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return kWaitFailed;
  return kClientWaiting;
}

int TCPSocket::send(const void* bytes, int length) { return send(bytes, length, false); }

int TCPSocket::send(const std::string& text, bool moreFollows) {
  return send(text.data(), static_cast<int>(text.size()), moreFollows);
}

int TCPSocket::send(const void* bytes, int length, bool moreFollows) {
  try {
    const bool limited = sendLimit_.count() > 0;
    const auto deadline = std::chrono::steady_clock::now() + sendLimit_;
    // With a time limit the socket is never waited on inside send(), only in
    // poll() with the time that is left.
    const int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0) | (limited ? MSG_DONTWAIT : 0);
    const char* p = static_cast<const char*>(bytes);
    size_t left = length > 0 ? static_cast<size_t>(length) : 0;
    while (left > 0) {
      ssize_t n = ::send(handle_, p, left, flags);
      if (n < 0) {
        if (errno == EINTR && !aborted_.load()) continue;
        if (limited && (errno == EAGAIN || errno == EWOULDBLOCK) && !aborted_.load()) {
          if (waitWritable(deadline)) continue;
          if (!aborted_.load() && std::chrono::steady_clock::now() >= deadline)
            throw TCPException(kSendTimeoutCode, "error calling send(): " +
                                                     SocketErrorText(SocketCall::Send, kSendTimeoutCode));
          continue;  // woken by abort() or an error: the next send reports it
        }
        int code = aborted_.load() ? wsa::ECONNABORTED_ : WinSockErrorFromErrno(errno);
        throw TCPException(code, "error calling send(): " + SocketErrorText(SocketCall::Send, code));
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    return kSendOK;
  } catch (const TCPException& e) {
    recordError(e.code(), e.message());
    return kSendFailed;
  }
}

bool TCPSocket::waitWritable(std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || aborted_.load()) return false;
    pollfd p{handle_, POLLOUT, 0};
    int n = ::poll(&p, 1, static_cast<int>(left.count()) + 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    return !aborted_.load() && (p.revents & POLLOUT) != 0 && (p.revents & (POLLERR | POLLHUP)) == 0;
  }
}

int TCPSocket::send(const std::string& text) { return send(text, false); }

bool TCPSocket::waitReadable(Deadline deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{handle_, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left.count() + 1, 60000)));
    if (n < 0 && errno == EINTR && !aborted_.load()) continue;
    // Readable, closed, failed or aborted: the recv that follows tells which.
    if (n != 0 || aborted_.load()) return true;
  }
}

int TCPSocket::nextByte(char& byte, Deadline deadline) {
  // An aborted socket reads nothing more, not even what is already buffered
  // or queued: a stop must not wait while a backlog of requests is answered.
  if (aborted_.load()) {
    TCPException e(wsa::ECONNABORTED_,
                   "error calling recv(): " + SocketErrorText(SocketCall::Recv, wsa::ECONNABORTED_));
    recordError(e.code(), e.message());
    return sentenceCodeFor(e.code());
  }
  if (readPos_ == readEnd_) {
    if (readBuffer_.empty()) readBuffer_.resize(kReadChunk);
    if (deadline != kNoDeadline && !waitReadable(deadline)) return kLineTimedOut;
    ssize_t n;
    do {
      n = ::recv(handle_, readBuffer_.data(), readBuffer_.size(), 0);
    } while (n < 0 && errno == EINTR && !aborted_.load());
    if (n == 0 && !aborted_.load()) return kPeerClosed;
    if (n <= 0) {
      int code = aborted_.load() ? wsa::ECONNABORTED_ : WinSockErrorFromErrno(errno);
      TCPException e(code, "error calling recv(): " + SocketErrorText(SocketCall::Recv, code));
      recordError(e.code(), e.message());
      return sentenceCodeFor(e.code());
    }
    readPos_ = 0;
    readEnd_ = static_cast<size_t>(n);
  }
  byte = readBuffer_[readPos_++];
  return kByteRead;
}

int TCPSocket::receiveSentence(std::string& text) {
  std::string sentence;
  // Room for a GGA sentence of any receiver at once, not grown byte by byte.
  sentence.reserve(std::min<std::size_t>(kSentenceCapacity, 128));
  while (sentence.size() < kSentenceCapacity) {
    char c;
    int r = nextByte(c);
    if (r == kPeerClosed) return kSentenceClosed;
    if (r < 0) return r;
    sentence.push_back(c);
    if (c != '*') continue;
    if (sentence[0] != '$') break;
    // Checksum: exclusive-or of everything between "$" and "*", as two
    // upper-case hex digits. Both digits are awaited even when the network
    // delivers them separately.
    unsigned sum = 0;
    for (size_t k = 1; k + 1 < sentence.size(); ++k) sum ^= static_cast<unsigned char>(sentence[k]);
    char expected[3];
    std::snprintf(expected, sizeof expected, "%02X", sum & 0xFFu);
    char got[2] = {0, 0};
    for (int n = 0; n < 2; ++n) {
      r = nextByte(got[n]);
      if (r < 0) return r;
      if (r == kPeerClosed) break;  // peer gone before the checksum was complete: it cannot match
    }
    if (got[0] != expected[0] || got[1] != expected[1]) return kSentenceChecksum;
    break;
  }
  // Everything up to the first zero byte is the sentence's text.
  text.append(sentence.c_str());
  return kSentenceRead;
}

int TCPSocket::receiveLine(std::string& line, std::size_t limit, Deadline deadline) {
  line.clear();
  for (std::size_t taken = 0; taken < limit; ++taken) {
    char c;
    const int r = nextByte(c, deadline);
    if (r == kPeerClosed) return kSentenceClosed;
    if (r < 0) return r;
    if (c == '\n') return kLineRead;
    line.push_back(c);
  }
  return kLineTooLong;
}

void TCPSocket::shutdownSend() {
  if (handle_ >= 0) ::shutdown(handle_, SHUT_WR);
}

void TCPSocket::abort() {
  aborted_.store(true);
  if (handle_ >= 0) ::shutdown(handle_, SHUT_RDWR);
}

uint16_t TCPSocket::localPort() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (handle_ < 0 || ::getsockname(handle_, reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace tarvik
