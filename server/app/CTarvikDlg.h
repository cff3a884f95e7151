#pragma once
// The control window, served as a web page by the program itself.
//
// An HTTP server (loopback by default) delivers one self-contained page
// (HTML, CSS and script compiled into the program, nothing fetched from
// elsewhere) and the JSON routes of PanelApi. The page shows the list of
// configurations with their states and counters, the buttons with their
// enabling rules, the dialogs and messages, the configuration file editor
// and the log view, and refreshes itself every few seconds.
//
// Requests whose Host header names anything but a loopback address are
// refused while the panel listens on loopback, so a page of another site
// cannot reach the panel through a name that resolves to 127.0.0.1. Slow
// and hostile peers are bounded by PanelHttpServer.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/PanelApi.h"

namespace tarvik {

class PanelHttpServer;

class CTarvikDlg {
 public:
  static constexpr int kDefaultPort = 8470;

  CTarvikDlg(CConfigurationSet& set, std::string token, PelLog& log);
  ~CTarvikDlg();
  CTarvikDlg(const CTarvikDlg&) = delete;
  CTarvikDlg& operator=(const CTarvikDlg&) = delete;

  // Binds the panel; port 0 picks a free port. Returns the bound port, or
  // -1 when the address or port cannot be used.
  int Bind(const std::string& address, int port);
  // Serves in a thread of its own until Exit is pressed on the page or
  // Close() is called; Wait() blocks until then. Close() ends the requests
  // still being read at once; the destructor waits for the answers being
  // computed, so nothing of the panel runs once it is gone.
  void Start();
  void Wait();
  void Close();

  // URL to open, with the token in the fragment (never sent to the server).
  std::string Url() const;
  bool ExitRequested() const { return api_.ExitRequested(); }

 private:
  void Route();
  bool HostAllowed(const std::string& host) const;

  PanelApi api_;
  std::string token_;
  std::unique_ptr<PanelHttpServer> server_;
  std::string address_;
  int port_ = -1;
  bool loopback_ = true;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> finished_{false};
};

// The page, HTML with its style and script inline.
const char* PanelPageHtml();

}  // namespace tarvik
