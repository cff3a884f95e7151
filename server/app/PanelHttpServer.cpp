#include "app/PanelHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <memory>
#include <thread>

#include "app/LoopbackHost.h"

namespace tarvik {
namespace {

using Clock = std::chrono::steady_clock;

// Set while the listen loop hands over a connection that is to be refused.
thread_local bool tRefuseConnection = false;

// Address and port of either end of a socket.
bool Endpoint(int sock, bool peer, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t len = sizeof a;
  const int rc = peer ? getpeername(sock, reinterpret_cast<sockaddr*>(&a), &len)
                      : getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len);
  if (rc != 0) return false;
  char text[INET6_ADDRSTRLEN] = {};
  if (a.ss_family == AF_INET) {
    auto* in = reinterpret_cast<sockaddr_in*>(&a);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    port = ntohs(in->sin_port);
  } else if (a.ss_family == AF_INET6) {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  ip = text;
  // An IPv4 peer on a dual-stack socket.
  if (ip.rfind("::ffff:", 0) == 0 && ip.find('.') != std::string::npos) ip = ip.substr(7);
  return true;
}

}  // namespace

// One thread per connection, the finished ones joined as new ones come; the
// listen loop's shutdown waits for all of them.
class PanelHttpServer::ConnectionThreads : public httplib::TaskQueue {
 public:
  explicit ConnectionThreads(int max) : max_(max) {}
  ~ConnectionThreads() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    Reap();
    if (static_cast<int>(threads_.size()) >= max_) {
      // Run here: the server sees the flag and closes the socket at once.
      tRefuseConnection = true;
      fn();
      tRefuseConnection = false;
      return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    threads_.push_back({std::thread([fn = std::move(fn), done] {
                          fn();
                          *done = true;
                        }),
                        done});
  }

  void shutdown() override {
    for (auto& w : threads_)
      if (w.thread.joinable()) w.thread.join();
    threads_.clear();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void Reap() {
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (*it->done) {
        it->thread.join();
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
  }

  int max_;
  std::list<Worker> threads_;  // only the listen loop's thread touches it
};

// The socket of one request: every read waits at most until the request's
// deadline, every write until the answer's deadline, and neither waits once
// the server closes.
class PanelHttpServer::RequestStream : public httplib::Stream {
 public:
  RequestStream(int sock, Clock::time_point readDeadline, std::chrono::milliseconds writeTime,
                const std::atomic<bool>& closing)
      : sock_(sock), readDeadline_(readDeadline), writeTime_(writeTime), closing_(closing) {}

  bool is_readable() const override { return Wait(POLLIN, readDeadline_); }
  bool is_writable() const override { return Wait(POLLOUT, WriteDeadline()); }

  ssize_t read(char* ptr, size_t size) override {
    if (begin_ == end_) {
      if (!Wait(POLLIN, readDeadline_)) return -1;
      ssize_t n;
      do n = recv(sock_, buffer_, sizeof buffer_, 0);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, end_ - begin_);
    std::copy(buffer_ + begin_, buffer_ + begin_ + n, ptr);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!Wait(POLLOUT, WriteDeadline())) return -1;
    ssize_t n;
    do n = send(sock_, ptr, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { Endpoint(sock_, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { Endpoint(sock_, false, ip, port); }
  int socket() const override { return sock_; }

 private:
  Clock::time_point WriteDeadline() const {
    if (!writeStarted_) {
      writeDeadline_ = Clock::now() + writeTime_;
      writeStarted_ = true;
    }
    return writeDeadline_;
  }

  // Polls in short steps so that a closing server is noticed at once: what
  // the peer has sent is still read and what it takes is still written
  // (the answer to Exit among it), but nothing waits for a peer any more.
  bool Wait(short events, Clock::time_point deadline) const {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      pollfd p{sock_, events, 0};
      const int rc = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
      if (rc > 0) return true;
      if (rc < 0 && errno != EINTR) return false;
      if (closing_) return false;
    }
  }

  int sock_;
  Clock::time_point readDeadline_;
  std::chrono::milliseconds writeTime_;
  mutable Clock::time_point writeDeadline_{};
  mutable bool writeStarted_ = false;
  const std::atomic<bool>& closing_;
  char buffer_[4096];
  std::size_t begin_ = 0, end_ = 0;
};

PanelHttpServer::PanelHttpServer() : PanelHttpServer(Limits{}) {}

PanelHttpServer::PanelHttpServer(Limits limits) : limits_(limits) {
  new_task_queue = [this] { return new ConnectionThreads(limits_.maxConnections); };
}

void PanelHttpServer::Close() {
  closing_ = true;
  stop();
}

int PanelHttpServer::OpenConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

bool PanelHttpServer::Admit(const std::string& peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closing_ || open_ >= limits_.maxConnections) return false;
  if (!IsLoopbackAddress(peer)) {
    int& n = perPeer_[peer];
    if (n >= limits_.maxPerPeer) return false;
    ++n;
  }
  ++open_;
  return true;
}

void PanelHttpServer::Release(const std::string& peer) {
  std::lock_guard<std::mutex> lock(mutex_);
  --open_;
  auto it = perPeer_.find(peer);
  if (it != perPeer_.end() && --it->second <= 0) perPeer_.erase(it);
}

bool PanelHttpServer::process_and_close_socket(int sock) {
  std::string peer;
  int peerPort = 0;
  const bool known = Endpoint(sock, true, peer, peerPort);
  if (known && !tRefuseConnection && Admit(peer)) {
    RequestStream stream(sock, Clock::now() + limits_.requestReadTime, limits_.writeTime, closing_);
    bool closed = false;
    process_request(stream, true, closed, [](httplib::Request&) {});
    Release(peer);
  }
  shutdown(sock, SHUT_RDWR);
  close(sock);
  return true;
}

}  // namespace tarvik
