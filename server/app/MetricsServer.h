#pragma once
// The metrics page on an address of its own (--metrics-address), for a
// scraper on another host: GET (and HEAD) /metrics and nothing else.
//
// It needs no token because it can do nothing but read the figures: there
// is no panel page, no API route and no other path behind it (another path
// gets 404, another method on /metrics 405). Slow and hostile peers are
// bounded as on the panel (PanelHttpServer), with fewer connections, since
// a scraper needs one at a time.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace tarvik {

class PanelHttpServer;

class MetricsServer {
 public:
  // `page` makes the page for each request; it runs on the server's threads.
  explicit MetricsServer(std::function<std::string()> page);
  // Closes and waits for the pages being made.
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  static constexpr int kNotBound = -1;

  // Binds; port 0 picks a free port. Returns the bound port, or kNotBound
  // when the address or port cannot be used.
  int Bind(const std::string& address, int port);
  // Serves in a thread of its own until Close(), which ends the requests
  // still being read at once.
  void Start();
  void Close();

 private:
  std::function<std::string()> page_;
  std::unique_ptr<PanelHttpServer> server_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

}  // namespace tarvik
