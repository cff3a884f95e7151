#include "LoadClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace tarvik::bench {

namespace {

using Clock = std::chrono::steady_clock;

int Connect(const LoadOptions& o) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(o.host.c_str(), std::to_string(o.port).c_str(), &hints, &res) != 0 || !res) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(res);
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{10, 0};  // a stuck server ends the run instead of hanging it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  return fd;
}

bool SendAll(int fd, const std::string& s) {
  size_t off = 0;
  while (off < s.size()) {
    ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// One measured connection: received bytes not yet consumed, complete
// answer units (RTCM 3 frames: 0xD3, 10-bit length, payload, 3 CRC bytes;
// or "*"-terminated texts) not yet matched to a request.
struct Connection {
  int fd = -1;
  bool done = false;
  int units = 0;
  Clock::time_point sent;
  char buf[65536];
  size_t pos = 0, end = 0;

  int consume(AnswerFormat format) {
    int found = 0;
    for (;;) {
      size_t avail = end - pos;
      if (format == AnswerFormat::Binary) {
        if (avail < 3) break;
        size_t len = ((static_cast<unsigned char>(buf[pos + 1]) & 0x03) << 8) |
                     static_cast<unsigned char>(buf[pos + 2]);
        if (avail < len + 6) break;
        pos += len + 6;
      } else {
        const char* star = static_cast<const char*>(std::memchr(buf + pos, '*', avail));
        if (!star) break;
        pos = static_cast<size_t>(star - buf) + 1;
      }
      ++found;
    }
    if (pos == end) pos = end = 0;
    if (end == sizeof buf) {  // keep a partial unit, drop what was consumed
      std::memmove(buf, buf + pos, end - pos);
      end -= pos;
      pos = 0;
    }
    return found;
  }
};

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace

std::string DefaultRequest() {
  // RTK fix with age of corrections and reference station, as a rover sends it.
  std::string body = "$GPGGA,101530.00,4748.1234,N,01503.5678,E,4,12,0.8,412.3,M,46.2,M,1.0,0001";
  unsigned sum = 0;
  for (size_t i = 1; i < body.size(); ++i) sum ^= static_cast<unsigned char>(body[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return body + "*" + hex;
}

LoadResult RunLoad(const LoadOptions& o) {
  LoadResult r;
  const std::string request = o.request.empty() ? DefaultRequest() : o.request;

  std::vector<int> idle;
  for (int i = 0; i < o.idle; ++i) {
    int fd = Connect(o);
    if (fd < 0) break;
    idle.push_back(fd);
  }
  r.idleOpened = static_cast<int>(idle.size());

  std::vector<int> fds;
  for (int i = 0; i < o.clients; ++i) {
    int fd = Connect(o);
    if (fd < 0) {
      r.error = "cannot connect to " + o.host + ":" + std::to_string(o.port);
      for (int f : fds) ::close(f);
      for (int f : idle) ::close(f);
      return r;
    }
    fds.push_back(fd);
  }

  // One thread drives every connection through epoll, so the client costs
  // the machine as little as possible next to the server it measures.
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  std::vector<Connection> conns(fds.size());
  for (size_t c = 0; c < fds.size(); ++c) {
    conns[c].fd = fds[c];
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = c;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, fds[c], &ev);
  }
  std::vector<double> all;
  all.reserve(1 << 20);
  const auto begin = Clock::now();
  const auto until =
      begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  size_t open = conns.size();
  for (Connection& c : conns) {
    c.sent = Clock::now();
    if (!SendAll(c.fd, request)) {
      ++r.failures;
      c.done = true;
      --open;
    }
  }
  epoll_event events[64];
  while (open > 0) {
    int n = ::epoll_wait(ep, events, 64, 1000);
    if (n < 0 && errno != EINTR) break;
    const auto now = Clock::now();
    for (int i = 0; i < n; ++i) {
      Connection& c = conns[events[i].data.u64];
      if (c.done) continue;
      ssize_t got = ::recv(c.fd, c.buf + c.end, sizeof c.buf - c.end, 0);
      if (got <= 0) {
        ++r.failures;
        c.done = true;
        --open;
        continue;
      }
      c.end += static_cast<size_t>(got);
      c.units += c.consume(o.format);
      if (c.units < o.messagesPerAnswer) continue;
      c.units -= o.messagesPerAnswer;
      all.push_back(std::chrono::duration<double, std::milli>(now - c.sent).count());
      if (now >= until) {
        c.done = true;
        --open;
        continue;
      }
      c.sent = Clock::now();
      if (!SendAll(c.fd, request)) {
        ++r.failures;
        c.done = true;
        --open;
      }
    }
    if (n == 0 && Clock::now() > until + std::chrono::seconds(10)) break;  // server went silent
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  ::close(ep);
  for (int fd : fds) ::close(fd);

  std::sort(all.begin(), all.end());
  r.requests = static_cast<long>(all.size());
  r.requestsPerSecond = r.seconds > 0 ? static_cast<double>(r.requests) / r.seconds : 0.0;
  r.p50Ms = Percentile(all, 0.50);
  r.p90Ms = Percentile(all, 0.90);
  r.p99Ms = Percentile(all, 0.99);
  r.maxMs = all.empty() ? 0.0 : all.back();

  // The idle connections must still be served after all that.
  for (int fd : idle) {
    char word[16];
    if (SendAll(fd, "getmode*")) {
      ssize_t n = ::recv(fd, word, sizeof word, 0);
      if (n > 0 && word[n - 1] == '*') ++r.idleAlive;
    }
    ::close(fd);
  }
  return r;
}

std::string Describe(const LoadOptions& o, const LoadResult& r) {
  char line[512];
  std::snprintf(line, sizeof line,
                "clients %d, idle %d (alive %d/%d): %ld requests in %.2f s = %.0f req/s; "
                "latency p50 %.3f ms, p90 %.3f ms, p99 %.3f ms, max %.3f ms; failures %ld%s%s",
                o.clients, o.idle, r.idleAlive, r.idleOpened, r.requests, r.seconds, r.requestsPerSecond,
                r.p50Ms, r.p90Ms, r.p99Ms, r.maxMs, r.failures, r.error.empty() ? "" : "; ", r.error.c_str());
  return line;
}

}  // namespace tarvik::bench
