#pragma once
// The control panel's HTTP server, bounded against slow and hostile peers.
//
// The HTTP library reads a request with a time limit per read only, on a
// small pool of workers, and it reads every header before any handler can
// look at the token: a few peers that each send a header line now and then
// would hold every worker for as long as they like. Here instead
//   - each connection carries one request, and the whole request (line,
//     headers and body) must arrive within RequestReadTime, or the
//     connection is closed;
//   - every connection has a thread of its own, up to MaxConnections at a
//     time; connections beyond that are closed at once, so a flood cannot
//     use up threads or descriptors;
//   - a peer address other than loopback holds at most MaxPerPeer of them.
//     Loopback peers are not counted per address: on a panel that listens
//     on loopback every peer is 127.0.0.1, and a cap per address would let
//     a local peer lock the operator's own browser out.
// So slow peers hold a connection for a few seconds at most and never more
// than a bounded share of the threads, and Close() ends every request still
// being read at once.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace tarvik {

class PanelHttpServer : public httplib::Server {
 public:
  struct Limits {
    std::chrono::milliseconds requestReadTime{5000};
    std::chrono::milliseconds writeTime{10000};  // the whole answer
    int maxConnections = 64;
    int maxPerPeer = 8;
  };

  PanelHttpServer();
  explicit PanelHttpServer(Limits limits);

  // Stops serving: requests still being read and answers the peer does not
  // take end at once, the listen loop ends, answers being computed are
  // finished.
  void Close();

  // Connections in progress now.
  int OpenConnections() const;

 private:
  class ConnectionThreads;
  class RequestStream;

  bool process_and_close_socket(int sock) override;
  bool Admit(const std::string& peer);
  void Release(const std::string& peer);

  Limits limits_;
  std::atomic<bool> closing_{false};
  mutable std::mutex mutex_;
  std::map<std::string, int> perPeer_;  // non-loopback peers
  int open_ = 0;
};

}  // namespace tarvik
