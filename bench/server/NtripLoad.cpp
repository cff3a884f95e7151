#include "NtripLoad.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <sstream>
#include <vector>

#include "GgaSentence.h"
#include "NtripClient.h"

namespace tarvik::bench {

namespace {

using Clock = std::chrono::steady_clock;

struct Rover {
  int fd = -1;
  bool streaming = false;
  bool ended = false;
  std::string head;  // the answer head while it arrives
  tarvikclient::NtripAnswerHead answer;
  tarvikclient::ChunkedDecoder chunks;
  std::vector<std::uint8_t> stream;       // stream bytes not yet cut into frames
  int frames = 0;                         // frames of the answer under way
  std::deque<Clock::time_point> waiting;  // send times of unanswered sentences
  Clock::time_point next;
  std::string gga;
};

int Connect(const NtripLoadOptions& o, int index) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (o.sourceAddresses > 1) {
    // Rovers come from different addresses, as in the field.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + static_cast<uint32_t>(index % o.sourceAddresses));
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(o.port);
  ::inet_pton(AF_INET, o.host.c_str(), &to.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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

// Complete frames at the front of the stream bytes, removed.
int CutFrames(std::vector<std::uint8_t>& s) {
  int n = 0;
  size_t at = 0;
  while (s.size() - at >= 3) {
    const size_t length = ((s[at + 1] & 0x03u) << 8) | s[at + 2];
    if (s.size() - at < length + 6) break;
    at += length + 6;
    ++n;
  }
  s.erase(s.begin(), s.begin() + static_cast<long>(at));
  return n;
}

// utime + stime of a process in clock ticks; -1 when unknown.
long CpuTicks(int pid) {
  if (pid <= 0) return -1;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stol(f);
    if (i == 15) stime = std::stol(f);
  }
  return utime + stime;
}

double OwnCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0.0;
  const size_t i = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(i, sorted.size() - 1)];
}

}  // namespace

NtripLoadResult RunNtripLoad(const NtripLoadOptions& o) {
  NtripLoadResult r;
  std::vector<Rover> rovers(static_cast<size_t>(o.rovers));
  const int ep = ::epoll_create1(EPOLL_CLOEXEC);
  const std::string request = tarvikclient::NtripRequest(o.host, o.mount, o.user, o.ntrip2);
  const auto connectBegin = Clock::now();
  for (size_t i = 0; i < rovers.size(); ++i) {
    Rover& v = rovers[i];
    v.fd = Connect(o, static_cast<int>(i));
    if (v.fd < 0 || !SendAll(v.fd, request)) {
      r.error = "rover " + std::to_string(i) + " cannot connect to " + o.host + ":" + std::to_string(o.port);
      break;
    }
    // Positions a few hundred metres apart, as rovers of one region are.
    const double dLat = 0.002 * static_cast<double>(i % 50), dLon = 0.003 * static_cast<double>(i / 50 % 20);
    v.gga = tarvikclient::MakeGga(o.latitude + dLat, o.longitude + dLon, o.height) + "\r\n";
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, v.fd, &ev);
  }

  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(o.rovers) *
                    static_cast<size_t>(o.seconds * 1000.0 / o.intervalMs + 2));
  auto receive = [&](Rover& v, Clock::time_point now) {
    std::uint8_t buf[16384];
    const ssize_t got = ::recv(v.fd, buf, sizeof buf, 0);
    if (got <= 0) {
      if (!v.ended && v.streaming) ++r.lostRovers;
      v.ended = true;
      ::epoll_ctl(ep, EPOLL_CTL_DEL, v.fd, nullptr);
      return;
    }
    const std::uint8_t* data = buf;
    size_t size = static_cast<size_t>(got);
    if (!v.streaming) {
      v.head.append(reinterpret_cast<const char*>(buf), size);
      v.answer = tarvikclient::ReadNtripAnswerHead(v.head);
      if (!v.answer.complete) return;
      if (!v.answer.stream) {
        v.ended = true;
        return;
      }
      v.streaming = true;
      ++r.streaming;
      const std::string rest = v.head.substr(v.answer.length);
      v.stream.assign(rest.begin(), rest.end());
      if (v.answer.chunked) v.stream = v.chunks.Feed(v.stream.data(), v.stream.size());
      size = 0;
    }
    if (size > 0) {
      if (v.answer.chunked) {
        std::vector<std::uint8_t> out = v.chunks.Feed(data, size);
        v.stream.insert(v.stream.end(), out.begin(), out.end());
      } else {
        v.stream.insert(v.stream.end(), data, data + size);
      }
    }
    v.frames += CutFrames(v.stream);
    while (v.frames >= o.messagesPerAnswer && !v.waiting.empty()) {
      v.frames -= o.messagesPerAnswer;
      latencies.push_back(std::chrono::duration<double, std::milli>(now - v.waiting.front()).count());
      v.waiting.pop_front();
      ++r.answered;
    }
  };

  // Every stream starts before the clock runs.
  epoll_event events[256];
  while (r.error.empty() && r.streaming < o.rovers &&
         Clock::now() - connectBegin < std::chrono::seconds(60)) {
    const int n = ::epoll_wait(ep, events, 256, 100);
    for (int i = 0; i < n; ++i) receive(rovers[events[i].data.u64], Clock::now());
    int settled = 0;
    for (const Rover& v : rovers) settled += v.streaming || v.ended;
    if (settled == o.rovers) break;
  }
  r.connectSeconds = std::chrono::duration<double>(Clock::now() - connectBegin).count();
  if (r.error.empty() && r.streaming < o.rovers)
    r.error = std::to_string(o.rovers - r.streaming) + " rovers got no stream";

  const auto interval = std::chrono::milliseconds(o.intervalMs);
  const auto begin = Clock::now();
  const auto until =
      begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
  for (size_t i = 0; i < rovers.size(); ++i)  // spread over the interval, as rovers switched on at random
    rovers[i].next = begin + interval * static_cast<long>(i) / static_cast<long>(rovers.size());
  const long cpuBegin = CpuTicks(o.serverPid);
  const double ownBegin = OwnCpuSeconds();
  for (;;) {
    const auto now = Clock::now();
    if (now >= until) break;
    for (Rover& v : rovers) {
      if (!v.streaming || v.ended || now < v.next) continue;
      v.waiting.push_back(Clock::now());
      ++r.sent;
      if (!SendAll(v.fd, v.gga)) {
        v.ended = true;
        ++r.lostRovers;
      }
      v.next += interval;
    }
    const int n = ::epoll_wait(ep, events, 256, 2);
    for (int i = 0; i < n; ++i) receive(rovers[events[i].data.u64], Clock::now());
  }
  const long cpuEnd = CpuTicks(o.serverPid);
  r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  r.clientCpuPercent = 100.0 * (OwnCpuSeconds() - ownBegin) / r.seconds;
  if (cpuBegin >= 0 && cpuEnd >= 0)
    r.serverCpuPercent = 100.0 * static_cast<double>(cpuEnd - cpuBegin) /
                         static_cast<double>(::sysconf(_SC_CLK_TCK)) / r.seconds;
  // The answers still under way get five seconds.
  const auto drain = Clock::now() + std::chrono::seconds(5);
  while (r.answered < r.sent && Clock::now() < drain) {
    const int n = ::epoll_wait(ep, events, 256, 50);
    for (int i = 0; i < n; ++i) receive(rovers[events[i].data.u64], Clock::now());
  }
  ::close(ep);
  for (Rover& v : rovers)
    if (v.fd >= 0) ::close(v.fd);
  std::sort(latencies.begin(), latencies.end());
  r.p50Ms = Percentile(latencies, 0.50);
  r.p90Ms = Percentile(latencies, 0.90);
  r.p99Ms = Percentile(latencies, 0.99);
  r.maxMs = latencies.empty() ? 0.0 : latencies.back();
  return r;
}

std::string Describe(const NtripLoadOptions& o, const NtripLoadResult& r) {
  char line[1024];
  std::snprintf(line, sizeof line,
                "%d NTRIP %s rovers on mount point %s, one GGA every %d ms for %.1f s: %d streams started in "
                "%.2f s; %ld GGA sent, %ld answered (%ld missing), %ld streams lost; latency p50 %.3f ms, "
                "p90 %.3f ms, p99 %.3f ms, max %.3f ms; server CPU %s, load client CPU %.1f %%%s%s",
                o.rovers, o.ntrip2 ? "2.0" : "1.0", o.mount.c_str(), o.intervalMs, r.seconds, r.streaming,
                r.connectSeconds, r.sent, r.answered, r.sent - r.answered, r.lostRovers, r.p50Ms, r.p90Ms,
                r.p99Ms, r.maxMs,
                r.serverCpuPercent < 0
                    ? "not measured"
                    : (std::to_string(static_cast<int>(r.serverCpuPercent + 0.5)) + " % of one core").c_str(),
                r.clientCpuPercent, r.error.empty() ? "" : "; ", r.error.c_str());
  return line;
}

}  // namespace tarvik::bench
