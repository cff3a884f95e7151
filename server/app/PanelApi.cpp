#include "app/PanelApi.h"

#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/CConfigurationSet.h"
#include "app/PanelButtons.h"
#include "app/SecurityToken.h"
#include "runtime/CFileIni.h"
#include "runtime/PelLog.h"

#ifndef TARVIK_VERSION
#define TARVIK_VERSION "1.0.0"
#endif

namespace tarvik {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr std::size_t kMaxFileBytes = 1024 * 1024;

PanelResponse Json(const json& j, int status = 200) {
  return {status, j.dump(-1, ' ', false, json::error_handler_t::replace), "application/json"};
}

PanelResponse Error(int status, const std::string& message) {
  return Json({{"ok", false}, {"message", message}}, status);
}

// An operation refused with a text for the operator (not a protocol error).
PanelResponse Refused(const std::string& message) { return Json({{"ok", false}, {"message", message}}); }

PanelResponse Done(const std::string& message = {}) { return Json({{"ok", true}, {"message", message}}); }

std::string StartTimeText(const IConfigurationModule& m) {
  auto t = m.StartTime();
  if (!m.IsRunning() || !t) return {};
  std::time_t tt = std::chrono::system_clock::to_time_t(*t);
  std::tm tmv{};
  localtime_r(&tt, &tmv);
  char buf[64];
  std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tmv);
  return buf;
}

json ButtonsJson(const PanelButtons& b) {
  return {{"add", b.add},
          {"copy", b.copy},
          {"remove", b.remove},
          {"configure", b.configure},
          {"problems", b.problems},
          {"startStop", b.startStop},
          {"startStopText", b.startStopReadsStop ? "Stop" : "Start"},
          {"exit", b.exit}};
}

// Body fields; a missing or mistyped field gives the fallback.
std::string Text(const json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The port of a body: kNoPort when none is given (the set chooses one),
// kBadPort when the value is not a port.
constexpr int kNoPort = 0;
constexpr int kBadPort = -1;

int Port(const json& j) {
  auto it = j.find("port");
  if (it == j.end()) return kNoPort;
  if (it->is_number_integer()) {
    long long v = it->get<long long>();
    return v < 0 || v > 65535 ? kBadPort : static_cast<int>(v);
  }
  if (it->is_string()) {
    const std::string s = it->get<std::string>();
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) return kBadPort;
    int v = std::stoi(s);
    return v > 65535 ? kBadPort : v;
  }
  return kBadPort;
}

bool ParseBody(const std::string& body, json& out) {
  out = json::parse(body, nullptr, false);
  return !out.is_discarded() && out.is_object();
}

// The configuration a POST body names in `key` ("" when none).
std::string BodyName(const std::string& body, const char* key) {
  json j;
  return ParseBody(body, j) ? Text(j, key) : std::string();
}

}  // namespace

LogChunk ReadLogChunk(const fs::path& file, std::uintmax_t offset, bool first) {
  LogChunk chunk;
  std::error_code ec;
  std::uintmax_t size = fs::file_size(file, ec);
  if (ec) {
    chunk.reset = first || offset > 0;
    return chunk;
  }
  if (offset > size) {
    offset = 0;
    chunk.reset = true;
  }
  if (first) {
    chunk.reset = true;
    offset = size > kLogChunkBytes ? size - kLogChunkBytes : 0;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    chunk.offset = offset;
    return chunk;
  }
  in.seekg(static_cast<std::streamoff>(offset));
  std::uintmax_t want = std::min<std::uintmax_t>(size - offset, kLogChunkBytes);
  std::string text(static_cast<std::size_t>(want), '\0');
  in.read(text.data(), static_cast<std::streamsize>(want));
  text.resize(static_cast<std::size_t>(in.gcount()));
  std::size_t begin = 0;
  if (first && offset > 0) {
    // Start the view at a whole line.
    std::size_t nl = text.find('\n');
    begin = nl == std::string::npos ? 0 : nl + 1;
  }
  // Hand out whole lines only; a line being written comes with the next read.
  std::size_t end = text.rfind('\n');
  end = end == std::string::npos || end < begin ? begin : end + 1;
  chunk.text = text.substr(begin, end - begin);
  chunk.offset = offset + end;
  return chunk;
}

PanelApi::PanelApi(CConfigurationSet& set, std::string token, PelLog& log)
    : set_(set), token_(std::move(token)), log_(log) {}

PanelResponse PanelApi::Handle(const PanelRequest& r) {
  if (!TokensEqual(token_, r.token)) return Error(403, "The control panel needs its access token.");
  // A stop may wait for its sessions; it runs without the lock so that the
  // panel goes on answering meanwhile.
  if (r.method == "POST" && r.path == "/api/stop") return Stop(r.body);
  std::lock_guard<std::mutex> lock(set_.Mutex());
  auto param = [&r](const char* key) {
    auto it = r.params.find(key);
    return it == r.params.end() ? std::string() : it->second;
  };
  if (r.method == "GET") {
    if (r.path == "/api/state") return State();
    if (r.path == "/api/problems") return Problems(param("name"));
    if (r.path == "/api/file") return ReadFile(param("name"));
    if (r.path == "/api/log") return Log(r);
    if (r.path == "/api/about") return About();
  } else if (r.method == "POST") {
    if (r.path == "/api/add") return Add(r.body);
    const std::string name = BodyName(r.body, r.path == "/api/copy" ? "source" : "name");
    if (stopping_.count(name) &&
        (r.path == "/api/copy" || r.path == "/api/remove" || r.path == "/api/start" || r.path == "/api/file"))
      return Refused("Configuration " + name + " is being stopped. Please try again in a moment.");
    if (r.path == "/api/copy") return Copy(r.body);
    if (r.path == "/api/remove") return Remove(r.body);
    if (r.path == "/api/start") return Start(r.body);
    if (r.path == "/api/file") return SaveFile(r.body);
    if (r.path == "/api/exit") return Exit();
  }
  return Error(404, "Unknown request.");
}

PanelResponse PanelApi::State() {
  json list = json::array();
  const bool anyRunning = set_.AnyRunning();
  for (std::size_t i = 0; i < set_.Count(); ++i) {
    const IConfigurationModule& m = *set_.At(i);
    SelectedState s{m.IsValid(), m.IsRunning(), !m.Problems().empty()};
    const char* state = s.running ? "running" : (s.valid ? "ready" : "problems");
    list.push_back({{"name", m.Name()},
                    {"port", m.Port()},
                    {"startTime", StartTimeText(m)},
                    {"requestsSinceStart", m.RequestsSinceStart()},
                    {"totalRequests", m.TotalRequests()},
                    {"state", state},
                    {"icon", s.running ? 0 : (s.valid ? 2 : 1)},
                    {"buttons", ButtonsJson(ComputePanelButtons(&s, anyRunning))}});
  }
  return Json({{"configurations", list},
               {"anyRunning", anyRunning},
               {"noSelection", ButtonsJson(ComputePanelButtons(nullptr, anyRunning))}});
}

PanelResponse PanelApi::Add(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string name = Text(j, "name");
  if (name.empty()) return Refused("Please specify a name.");
  int port = Port(j);
  if (port > 0 && !set_.IsPortFree(port))
    return Refused("Port " + std::to_string(port) + " is already in use. Please choose another port.");
  SetOperationResult r = set_.AddConfiguration(name, port);
  return r.ok ? Done(r.message) : Refused(r.message);
}

PanelResponse PanelApi::Copy(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string source = Text(j, "source");
  const std::string name = Text(j, "name");
  if (!set_.Find(source)) return Error(404, "There is no configuration named " + source + ".");
  if (name.empty()) return Refused("Please specify a name.");
  int port = Port(j);
  if (port > 0 && !set_.IsPortFree(port))
    return Refused("Port " + std::to_string(port) + " is already in use. Please choose another port.");
  SetOperationResult r = set_.CopyConfiguration(source, name, port);
  return r.ok ? Done(r.message) : Refused(r.message);
}

PanelResponse PanelApi::Remove(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string name = Text(j, "name");
  if (!set_.Find(name)) return Error(404, "There is no configuration named " + name + ".");
  SetOperationResult r = set_.RemoveConfiguration(name);
  return r.ok ? Done(r.message) : Refused(r.message);
}

PanelResponse PanelApi::Start(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string name = Text(j, "name");
  IConfigurationModule* m = set_.Find(name);
  if (!m) return Error(404, "There is no configuration named " + name + ".");
  if (m->IsRunning()) return Done();
  if (!m->IsValid())
    return Refused("Configuration " + name + " has problems and cannot be started. See \"Problems ...\".");
  if (m->Start() != 1 || !m->IsRunning())
    return Refused("Configuration " + name + " could not be started on port " + std::to_string(m->Port()) +
                   ". For details see its log.");
  return Done();
}

PanelResponse PanelApi::Stop(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string name = Text(j, "name");
  IConfigurationModule* m = nullptr;
  {
    std::lock_guard<std::mutex> lock(set_.Mutex());
    m = set_.Find(name);
    if (!m) return Error(404, "There is no configuration named " + name + ".");
    if (stopping_.count(name)) return Done();
    // While it stops, nothing may remove the module or start it again.
    stopping_.insert(name);
  }
  if (m->IsRunning()) m->Stop();
  std::lock_guard<std::mutex> lock(set_.Mutex());
  stopping_.erase(name);
  set_.WriteBackTotal(name);
  return Done();
}

PanelResponse PanelApi::Problems(const std::string& name) {
  IConfigurationModule* m = set_.Find(name);
  if (!m) return Error(404, "There is no configuration named " + name + ".");
  return Json({{"ok", true}, {"text", "Problems in configuration: \n\n" + m->Problems()}});
}

PanelResponse PanelApi::ReadFile(const std::string& name) {
  IConfigurationModule* m = set_.Find(name);
  if (!m) return Error(404, "There is no configuration named " + name + ".");
  // The editor shows the count as it stands, so saving keeps it.
  if (!m->IsRunning()) set_.WriteBackTotal(name);
  std::ifstream in(set_.IniFileOf(name), std::ios::binary);
  if (!in) return Refused("The file " + set_.IniFileOf(name).string() + " cannot be read.");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Json({{"ok", true}, {"text", text}, {"path", set_.IniFileOf(name).string()}});
}

PanelResponse PanelApi::SaveFile(const std::string& body) {
  json j;
  if (!ParseBody(body, j)) return Error(400, "Malformed request.");
  const std::string name = Text(j, "name");
  IConfigurationModule* m = set_.Find(name);
  if (!m) return Error(404, "There is no configuration named " + name + ".");
  if (m->IsRunning()) return Refused("Please stop configuration " + name + " before changing its file.");
  // Without its text the request would empty the configuration's file.
  auto field = j.find("text");
  if (field == j.end() || !field->is_string())
    return Error(400, "Malformed request: the file's text is missing.");
  const std::string text = field->get<std::string>();
  if (text.size() > kMaxFileBytes) return Refused("The file is too large.");
  const fs::path file = set_.IniFileOf(name);
  if (!CFileIni(file).WriteWhole(text)) return Refused("The file " + file.string() + " cannot be written.");
  m->ReadConfiguration();
  log_.write(0, PelLogInfo, "Tarvik",
             "Configuration " + name + " was edited in the control panel and read again.");
  return Json({{"ok", true}, {"valid", m->IsValid()}, {"problems", m->Problems()}});
}

PanelResponse PanelApi::Log(const PanelRequest& r) {
  auto get = [&r](const char* key) {
    auto it = r.params.find(key);
    return it == r.params.end() ? std::string() : it->second;
  };
  const std::string name = get("name");
  if (!set_.Find(name)) return Error(404, "There is no configuration named " + name + ".");
  PelLog configurationLog(name);
  const fs::path file = configurationLog.currentPath();
  const std::string fileName = file.filename().string();
  std::uintmax_t offset = 0;
  const std::string off = get("offset");
  if (!off.empty() && off.size() < 20 && off.find_first_not_of("0123456789") == std::string::npos)
    offset = std::stoull(off);
  // A new day's file, or a first look, starts the view from the beginning.
  const bool first = get("file") != fileName;
  LogChunk c = ReadLogChunk(file, first ? 0 : offset, first);
  return Json({{"file", fileName}, {"offset", c.offset}, {"reset", c.reset || first}, {"text", c.text}});
}

PanelResponse PanelApi::About() {
  return Json(
      {{"name", "Tarvik"},
       {"version", TARVIK_VERSION},
       {"family", "Tarvik transformation message server: RTCM 3 messages 1021, 1023 and 1025"},
       {"notice",
        "Made by the Tarvik developers. Served by the program itself; no data leaves this machine."}});
}

PanelResponse PanelApi::Exit() {
  if (set_.AnyRunning() || !stopping_.empty())
    return Refused("Please stop every configuration before you exit.");
  if (!exitRequested_.exchange(true) && onExit_) onExit_();
  return Done();
}

}  // namespace tarvik
