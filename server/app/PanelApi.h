#pragma once
// The control panel's operations behind its HTTP routes: the list with its
// statistics, the configuration operations, start and stop, the problem
// text, the configuration file editor, the log view and the exit.
//
// Independent of the HTTP library: a request is a method, a path, query
// parameters, the token header and a body; the answer is a status and a JSON
// body. All calls are serialised by the configuration set's mutex, so the set
// sees one operation at a time whatever the number of browser connections.
// A stop is the exception: it runs without the mutex (it may wait for the
// configuration's sessions), and the configuration is marked as stopping
// meanwhile, so nothing removes, copies, starts or rewrites it.
//
// Every /api/ call needs the token. Configurations are addressed by name and
// the name must be one of the set, so no request reaches a file outside the
// configurations folder.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace tarvik {

class CConfigurationSet;
class PelLog;

struct PanelRequest {
  std::string method;  // "GET", "POST"
  std::string path;    // "/api/state", ...
  std::map<std::string, std::string> params;
  std::string token;  // value of the token header
  std::string body;   // JSON for POST
};

struct PanelResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
};

// Bytes of a log file sent in one answer at most.
constexpr std::uintmax_t kLogChunkBytes = 256 * 1024;

struct LogChunk {
  std::string text;
  std::uintmax_t offset = 0;  // where the next read starts
  bool reset = false;         // the text starts the view afresh
};

// Reads what `file` holds from `offset` on (at most kLogChunkBytes, ending at
// a line end when possible). A file shorter than `offset` (a new file or a
// truncated one) is read from its start with reset set; a first read of a
// large file starts at a line inside its last kLogChunkBytes.
LogChunk ReadLogChunk(const std::filesystem::path& file, std::uintmax_t offset, bool first);

class PanelApi {
 public:
  static constexpr const char* kTokenHeader = "X-Tarvik-Token";

  PanelApi(CConfigurationSet& set, std::string token, PelLog& log);

  PanelResponse Handle(const PanelRequest& request);

  // Set by a successful "Exit"; `onExit` is called once then.
  bool ExitRequested() const { return exitRequested_; }
  void SetOnExit(std::function<void()> onExit) { onExit_ = std::move(onExit); }

 private:
  PanelResponse State();
  PanelResponse Add(const std::string& body);
  PanelResponse Copy(const std::string& body);
  PanelResponse Remove(const std::string& body);
  PanelResponse Start(const std::string& body);
  PanelResponse Stop(const std::string& body);
  PanelResponse Problems(const std::string& name);
  PanelResponse ReadFile(const std::string& name);
  PanelResponse SaveFile(const std::string& body);
  PanelResponse Log(const PanelRequest& request);
  PanelResponse About();
  PanelResponse Exit();

  CConfigurationSet& set_;
  std::string token_;
  PelLog& log_;
  std::set<std::string> stopping_;  // guarded by the set's mutex
  std::atomic<bool> exitRequested_{false};
  std::function<void()> onExit_;
};

}  // namespace tarvik
