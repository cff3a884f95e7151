#include "LoadClient.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

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

// Reads until `count` complete answers units have arrived: RTCM 3 frames
// (0xD3, 10-bit length, payload, 3 CRC bytes) or "*"-terminated texts.
class AnswerReader {
 public:
  AnswerReader(int fd, AnswerFormat f) : fd_(fd), format_(f) {}

  bool read(int count) {
    int done = 0;
    while (done < count) {
      if (!complete(done)) {
        if (!fill()) return false;
      }
    }
    return true;
  }

 private:
  // Consumes complete units from the buffer; true when none is pending.
  bool complete(int& done) {
    bool progressed = false;
    for (;;) {
      size_t avail = end_ - pos_;
      if (format_ == AnswerFormat::Binary) {
        if (avail < 3) break;
        size_t len = ((static_cast<unsigned char>(buf_[pos_ + 1]) & 0x03) << 8) |
                     static_cast<unsigned char>(buf_[pos_ + 2]);
        if (avail < len + 6) break;
        pos_ += len + 6;
      } else {
        const char* star = static_cast<const char*>(std::memchr(buf_ + pos_, '*', avail));
        if (!star) break;
        pos_ = static_cast<size_t>(star - buf_) + 1;
      }
      ++done;
      progressed = true;
    }
    return progressed;
  }

  bool fill() {
    if (pos_ == end_) pos_ = end_ = 0;
    if (end_ == sizeof buf_) {
      std::memmove(buf_, buf_ + pos_, end_ - pos_);
      end_ -= pos_;
      pos_ = 0;
    }
    ssize_t n = ::recv(fd_, buf_ + end_, sizeof buf_ - end_, 0);
    if (n <= 0) return false;
    end_ += static_cast<size_t>(n);
    return true;
  }

  int fd_;
  AnswerFormat format_;
  char buf_[65536];
  size_t pos_ = 0, end_ = 0;
};

double Percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace

std::string DefaultRequest() {
  std::string body = "$GPGGA,101530.00,4748.1234,N,01503.5678,E,1,09,0.9,412.3,M,46.2,M,,";
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

  std::atomic<bool> stop{false};
  std::vector<std::vector<double>> latencies(fds.size());
  std::vector<long> failures(fds.size(), 0);
  std::vector<std::thread> threads;
  const auto begin = Clock::now();
  for (size_t c = 0; c < fds.size(); ++c) {
    threads.emplace_back([&, c] {
      AnswerReader reader(fds[c], o.format);
      latencies[c].reserve(1 << 16);
      while (!stop.load(std::memory_order_relaxed)) {
        auto t0 = Clock::now();
        if (!SendAll(fds[c], request) || !reader.read(o.messagesPerAnswer)) {
          ++failures[c];
          return;
        }
        latencies[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(o.seconds));
  stop = true;
  for (auto& t : threads) t.join();
  r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();

  std::vector<double> all;
  for (size_t c = 0; c < fds.size(); ++c) {
    all.insert(all.end(), latencies[c].begin(), latencies[c].end());
    r.failures += failures[c];
    ::close(fds[c]);
  }
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
