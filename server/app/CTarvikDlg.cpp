#include "app/CTarvikDlg.h"

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>

#include "app/LoopbackHost.h"
#include "app/PanelHttpServer.h"
#include "runtime/PelLog.h"

namespace tarvik {

namespace {

void SecurityHeaders(httplib::Response& res) {
  res.set_header("Cache-Control", "no-store");
  res.set_header("X-Content-Type-Options", "nosniff");
  res.set_header("X-Frame-Options", "DENY");
  res.set_header("Referrer-Policy", "no-referrer");
  res.set_header(
      "Content-Security-Policy",
      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
      "img-src data:; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
}

}  // namespace

CTarvikDlg::CTarvikDlg(CConfigurationSet& set, std::string token, PelLog& log)
    : api_(set, token, log), token_(std::move(token)), server_(std::make_unique<PanelHttpServer>()) {
  api_.SetOnExit([this] { Close(); });
  server_->set_payload_max_length(2 * 1024 * 1024);
  // The library's default adds SO_REUSEPORT, which would let a second
  // program bind the same panel port and take over part of its connections.
  server_->set_socket_options([](int sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  Route();
}

CTarvikDlg::~CTarvikDlg() {
  Close();
  // A stop that came before the listen loop was running is repeated until
  // the loop has seen it.
  while (thread_.joinable() && !finished_) {
    server_->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (thread_.joinable()) thread_.join();
}

bool CTarvikDlg::HostAllowed(const std::string& host) const { return !loopback_ || IsLoopbackHost(host); }

void CTarvikDlg::Route() {
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    SecurityHeaders(res);
    if (!HostAllowed(req.get_header_value("Host"))) {
      res.status = 403;
      res.set_content("{\"ok\":false,\"message\":\"Host not allowed.\"}", "application/json");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server_->Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(PanelPageHtml(), "text/html; charset=utf-8");
  });
  auto api = [this](const httplib::Request& req, httplib::Response& res) {
    PanelRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [k, v] : req.params) r.params.emplace(k, v);
    r.token = req.get_header_value(PanelApi::kTokenHeader);
    r.body = req.body;
    PanelResponse out = api_.Handle(r);
    res.status = out.status;
    res.set_content(out.body, out.contentType.c_str());
  };
  server_->Get(R"(/api/.*)", api);
  server_->Post(R"(/api/.*)", api);
}

int CTarvikDlg::Bind(const std::string& address, int port) {
  address_ = address;
  loopback_ = IsLoopbackAddress(address);
  if (port == 0)
    port_ = server_->bind_to_any_port(address.c_str());
  else
    port_ = server_->bind_to_port(address.c_str(), port) ? port : -1;
  return port_;
}

void CTarvikDlg::Start() {
  thread_ = std::thread([this] {
    if (!closed_) server_->listen_after_bind();
    finished_ = true;
  });
}

void CTarvikDlg::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return closed_.load(); });
}

void CTarvikDlg::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    closed_ = true;
  }
  server_->Close();
  cv_.notify_all();
}

std::string CTarvikDlg::Url() const {
  std::string host = address_.find(':') != std::string::npos ? "[" + address_ + "]" : address_;
  return "http://" + host + ":" + std::to_string(port_) + "/#token=" + token_;
}

}  // namespace tarvik
