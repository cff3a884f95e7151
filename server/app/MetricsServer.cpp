#include "app/MetricsServer.h"

#include <httplib.h>

#include <sys/socket.h>

#include <atomic>
#include <chrono>

#include "app/MetricsExposition.h"
#include "app/PanelHttpServer.h"

namespace tarvik {
namespace {

constexpr const char* kPath = "/metrics";
// A request is a line and a few headers; nothing larger is read.
constexpr std::size_t kMaxRequestBody = 4096;

PanelHttpServer::Limits MetricsLimits() {
  PanelHttpServer::Limits limits;
  limits.maxConnections = 16;
  limits.maxPerPeer = 4;
  return limits;
}

void Plain(httplib::Response& res, int status, const char* text) {
  res.status = status;
  res.set_content(text, "text/plain; charset=utf-8");
}

}  // namespace

MetricsServer::MetricsServer(std::function<std::string()> page)
    : page_(std::move(page)), server_(std::make_unique<PanelHttpServer>(MetricsLimits())) {
  server_->set_payload_max_length(kMaxRequestBody);
  // Without the library's SO_REUSEPORT: no second program may share the port.
  server_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
    res.set_header("X-Content-Type-Options", "nosniff");
    if (req.path != kPath) {
      Plain(res, 404, "Not found: this address serves /metrics only.\n");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      Plain(res, 405, "Method not allowed: /metrics is read-only.\n");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get(kPath, [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(page_(), kMetricsContentType);
  });
}

MetricsServer::~MetricsServer() {
  Close();
  // A stop that came before the listen loop was running is repeated until
  // the loop has seen it.
  while (thread_.joinable() && !finished_) {
    server_->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (thread_.joinable()) thread_.join();
}

int MetricsServer::Bind(const std::string& address, int port) {
  if (port == 0) {
    const int bound = server_->bind_to_any_port(address.c_str());
    return bound > 0 ? bound : kNotBound;
  }
  return server_->bind_to_port(address.c_str(), port) ? port : kNotBound;
}

void MetricsServer::Start() {
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    finished_ = true;
  });
}

void MetricsServer::Close() { server_->Close(); }

}  // namespace tarvik
