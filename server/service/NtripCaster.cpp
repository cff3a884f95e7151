#include "service/NtripCaster.h"

#include <sys/socket.h>

#include <cctype>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/HostEntry.h"
#include "runtime/LogText.h"
#include "runtime/PelLog.h"
#include "runtime/PelThread.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/TCPException.h"
#include "runtime/TCPSocketExt.h"
#include "service/ModuleServer.h"
#include "service/NtripAnswers.h"
#include "service/NtripRequest.h"
#include "service/NtripSourceTable.h"

namespace tarvik {

namespace {

const char* const kSource = "Tarvik";
constexpr auto kAcceptRetryPause = std::chrono::milliseconds(50);
constexpr auto kReapInterval = std::chrono::milliseconds(500);
// After a refusal the client gets this long to take the answer and close;
// what it still sends meanwhile is read and dropped, so that the answer is
// not lost to a reset.
constexpr auto kDrainTime = std::chrono::milliseconds(1000);
constexpr std::size_t kDrainBytes = 64 * 1024;
// Client text quoted in a log line is cut to this length.
constexpr std::size_t kQuotedLength = 200;

std::string Quoted(const std::string& text) {
  if (text.size() <= kQuotedLength) return "\"" + LogSafeText(text) + "\"";
  return "\"" + LogSafeText(text.substr(0, kQuotedLength)) + "...\" (" + std::to_string(text.size()) +
         " bytes)";
}

std::string Seconds(std::chrono::milliseconds t) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(t.count()) / 1000.0);
  return text;
}

std::string WithoutCR(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The host part of a Host field when it is a plain name or address (it goes
// into the CAS line); "" otherwise.
std::string PlainHost(const std::string& field) {
  std::string host = field.substr(0, field.find(':'));
  if (host.empty() || host.size() > 253) return {};
  for (unsigned char c : host)
    if (!std::isalnum(c) && c != '.' && c != '-') return {};
  return host;
}

// One client of the caster, from its request head to the answer or the
// hand-over.
class CasterRequest {
 public:
  // `handOverMutex` guards the argument's socket against a stop of the
  // caster while the client is handed over; `stopped` says the caster stops.
  CasterRequest(PelThreadArgument& argument, NtripMountDirectory& directory, NtripUsersFile& users,
                const NtripCasterSettings& settings, const std::string& hostName, uint16_t port,
                std::mutex& handOverMutex, const bool& stopped)
      : arg_(argument),
        handOverMutex_(handOverMutex),
        stopped_(stopped),
        socket_(*argument.socket),
        directory_(directory),
        users_(users),
        settings_(settings),
        hostName_(hostName),
        port_(port),
        client_(argument.address) {}

  void serve() {
    if (!readHead()) return;
    if (head_.method != "GET") {
      refuse(405, "Allow: GET\r\n", "method " + Quoted(head_.method) + " is not served");
      return;
    }
    NtripCredentials credentials;
    if (head_.hasField("Authorization")) credentials = ParseNtripAuthorization(head_.field("Authorization"));
    if (credentials.kind == NtripCredentials::kMalformed) {
      refuse(400, "", "malformed Authorization field");
      return;
    }
    std::string mount;
    if (head_.mountPoint(mount) != kNtripHeadOK) {
      refuse(400, "", "malformed request target " + Quoted(head_.target));
      return;
    }
    if (mount.empty()) {
      program(PelLogInfo, "source table sent to " + client_ + ".");
      sendSourceTable(200);
      return;
    }
    NtripMountState state;
    const bool known =
        directory_.withMount(mount, [&](INtripMount&, const NtripMountState& s) { state = s; });
    if (!known || state.format != kRTCMFormatBinary) {
      program(PelLogWarning, "mount point " + Quoted(mount) + " requested by " + client_ +
                                 (known ? " does not answer in binary frames" : " is not served") +
                                 "; the source table is sent.");
      sendSourceTable(404);
      return;
    }
    if (!authorised(mount, credentials, state.configuration)) return;
    handOver(mount, credentials);
  }

 private:
  // false when the head could not be read (answered and logged).
  bool readHead() {
    const auto deadline = std::chrono::steady_clock::now() + settings_.headTimeLimit;
    std::size_t used = 0;
    std::string line;
    bool requestLine = true;
    for (;;) {
      const int r = socket_.receiveLine(line, kNtripHeadLimit - used, deadline);
      if (r != kLineRead) {
        headFailed(r, requestLine);
        return false;
      }
      used += line.size() + 1;
      line = WithoutCR(line);
      if (requestLine) {
        requestLine = false;
        if (ParseNtripRequestLine(line, head_) != kNtripHeadOK) {
          refuse(400, "", "malformed request line " + Quoted(line));
          return false;
        }
        continue;
      }
      if (line.empty()) return true;
      if (ParseNtripHeaderField(line, head_) != kNtripHeadOK) {
        refuse(400, "", "malformed header field " + Quoted(line));
        return false;
      }
    }
  }

  void headFailed(int result, bool onRequestLine) {
    switch (result) {
      case kLineTooLong:
        refuse(onRequestLine ? 414 : 431, "",
               std::string(onRequestLine ? "request line" : "request head") + " longer than " +
                   std::to_string(kNtripHeadLimit) + " bytes");
        return;
      case kLineTimedOut:
        refuse(408, "", "request head not complete within " + Seconds(settings_.headTimeLimit) + " s");
        return;
      case kSentenceAborted:
        program(PelLogInfo,
                "client " + client_ + " dropped before its request head was complete: the caster stops.");
        return;
      default:
        program(PelLogWarning,
                "client " + client_ + " closed the connection before its request head was complete.");
        return;
    }
  }

  bool authorised(const std::string& mount, const NtripCredentials& credentials,
                  const std::string& configuration) {
    std::vector<std::string> problems;
    const std::shared_ptr<const NtripUsers> users = users_.Current(problems);
    for (const std::string& p : problems)
      program(PelLogWarning, "users file " + users_.Path().string() + ": " + p + ".");
    if (!users->RequiresAuthentication(mount)) return true;
    std::string why;
    if (credentials.kind != NtripCredentials::kBasic)
      why = "no credentials";
    else if (!users->Check(mount, credentials.user, credentials.password))
      why = "wrong user name or password (user " + Quoted(credentials.user) + ")";
    else
      return true;
    PelLog(configuration)
        .write(0, PelLogWarning, "Tarvik:" + configuration,
               "NTRIP client " + client_ + " refused on mount point " + mount + ": " + why + ".");
    if (head_.ntrip2())
      answer(NtripHttpRefusal(head_.httpVersion, true, 401,
                              "WWW-Authenticate: Basic realm=\"" + mount + "\"\r\n", std::time(nullptr)));
    else
      answer(NtripBadPassword());
    return false;
  }

  void handOver(const std::string& mount, const NtripCredentials& credentials) {
    NtripClientStart start;
    start.ntrip2 = head_.ntrip2();
    start.firstGga = head_.field("Ntrip-GGA");
    start.user = credentials.kind == NtripCredentials::kBasic ? credentials.user : std::string();
    start.mountPoint = mount;
    std::string encoding = head_.field("Transfer-Encoding");
    for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    start.chunkedUpload = encoding.find("chunked") != std::string::npos;
    bool admitted = false;
    std::string refusal = "the configuration stopped";
    {
      std::lock_guard<std::mutex> g(handOverMutex_);
      if (stopped_) return;  // the caster stops: the client goes with it
      directory_.withMount(mount, [&](INtripMount& m, const NtripMountState& s) {
        if (s.format != kRTCMFormatBinary) {
          refusal = "the configuration no longer answers in binary frames";
          return;
        }
        admitted = m.admitNtripClient(arg_.socket, client_, start, refusal);
      });
    }
    if (admitted || !arg_.socket) return;
    refuse(503, "", "mount point " + mount + " cannot take the client: " + refusal);
  }

  void sendSourceTable(int status) {
    std::vector<NtripStreamEntry> streams;
    std::vector<std::string> problems;
    const std::shared_ptr<const NtripUsers> users = users_.Current(problems);
    for (const std::string& p : problems)
      program(PelLogWarning, "users file " + users_.Path().string() + ": " + p + ".");
    for (const NtripMountState& s : directory_.states()) {
      if (s.mountPoint.empty() || s.format != kRTCMFormatBinary) continue;
      bool listed = false;
      for (const NtripStreamEntry& e : streams) listed = listed || e.mountPoint == s.mountPoint;
      if (listed) continue;  // the first configuration of a mount point is the one served
      streams.push_back({s.mountPoint, s.configuration, s.activeMessages, s.latitude, s.longitude,
                         users->RequiresAuthentication(s.mountPoint)});
    }
    NtripCasterEntry caster;
    caster.host = PlainHost(head_.field("Host"));
    if (caster.host.empty()) caster.host = hostName_;
    caster.port = port_;
    answer(NtripSourceTableAnswer(head_.ntrip2(), status, NtripSourceTable(streams, caster),
                                  std::time(nullptr)));
  }

  // An HTTP refusal in the client's version (HTTP/1.1 before its request
  // line was read), logged in the program-wide log.
  void refuse(int status, const std::string& extraFields, const std::string& why) {
    const std::string version = head_.httpVersion.empty() ? "HTTP/1.1" : head_.httpVersion;
    program(PelLogWarning, "client " + client_ + " refused with " + std::to_string(status) + " " +
                               NtripReasonPhrase(status) + ": " + why + ".");
    answer(NtripHttpRefusal(version, head_.ntrip2(), status, extraFields, std::time(nullptr)));
  }

  // Sends the answer, ends the sending direction and lets the client read
  // it in peace.
  void answer(const std::string& text) {
    if (socket_.send(text) != TCPSocket::kSendOK) return;
    socket_.shutdownSend();
    const auto until = std::chrono::steady_clock::now() + kDrainTime;
    std::size_t drained = 0;
    std::string rest;
    while (drained < kDrainBytes && socket_.receiveLine(rest, kDrainBytes, until) == kLineRead)
      drained += rest.size() + 1;
  }

  void program(int severity, const std::string& message) {
    PelLog().write(0, severity, kSource, "NTRIP caster: " + message);
  }

  PelThreadArgument& arg_;
  std::mutex& handOverMutex_;
  const bool& stopped_;
  TCPSocketExt& socket_;
  NtripMountDirectory& directory_;
  NtripUsersFile& users_;
  const NtripCasterSettings& settings_;
  const std::string& hostName_;
  uint16_t port_;
  std::string client_;  // dotted address
  NtripRequestHead head_;
};

}  // namespace

NtripCaster::NtripCaster(NtripMountDirectory& directory, NtripCasterSettings settings)
    : directory_(directory), settings_(std::move(settings)), users_(settings_.usersFile) {}

NtripCaster::~NtripCaster() { Stop(); }

int NtripCaster::Start() {
  std::lock_guard<std::mutex> control(control_);
  if (running_.load()) return kStartAlreadyRunning;
  PelLog log;
  startNetworking();
  hostName_ = HostEntry().officialName();
  auto listener = std::make_unique<TCPSocketExt>(settings_.port);
  // The listening socket is made by the same class that adopts clients; it
  // binds and listens like a configuration's.
  if (!listener->bind() || !listener->listen(SOMAXCONN)) {
    log.write(0, PelLogError, kSource,
              "NTRIP caster: port " + std::to_string(settings_.port) +
                  " cannot be used: " + listener->lastErrorText());
    return kStartPortFailed;
  }
  listener_ = std::move(listener);
  stopping_.store(false);
  {
    std::lock_guard<std::mutex> g(clientsMutex_);
    clientsStopped_ = false;
    nextNumber_ = 0;
  }
  acceptThread_ = std::make_unique<PelThread>(
      [this](PelThreadArgument*) {
        run();
        return 1;
      },
      nullptr, 0, 0, 0);
  try {
    acceptThread_->start();
  } catch (const TCPException& e) {
    log.write(0, PelLogError, kSource, "NTRIP caster: " + e.message());
    acceptThread_.reset();
    listener_.reset();
    return kStartPortFailed;
  }
  boundPort_.store(listener_->localPort());
  running_.store(true);
  log.write(0, PelLogInfo, kSource,
            "NTRIP caster is ready on port " + std::to_string(boundPort_.load()) + " (users file " +
                settings_.usersFile.string() + ").");
  return kStartOK;
}

void NtripCaster::Stop() {
  std::lock_guard<std::mutex> control(control_);
  if (!running_.load()) return;
  running_.store(false);
  stopping_.store(true);
  listener_->abort();
  acceptThread_.reset();  // joins
  {
    std::lock_guard<std::mutex> g(clientsMutex_);
    clientsStopped_ = true;
    for (Client& c : clients_)
      if (c.argument->socket) c.argument->socket->abort();
  }
  // Joined outside the lock: a client thread never takes it, but a long
  // join should not hold it either.
  std::list<Client> ending;
  {
    std::lock_guard<std::mutex> g(clientsMutex_);
    ending.swap(clients_);
    perAddress_.clear();
  }
  ending.clear();
  listener_.reset();
  boundPort_.store(0);
  PelLog().write(0, PelLogInfo, kSource, "NTRIP caster stopped.");
}

void NtripCaster::run() {
  while (!stopping_.load()) {
    const int waited = listener_->waitForClient(kReapInterval);
    if (stopping_.load()) break;
    if (waited == TCPSocket::kWaitTimedOut) {
      reapFinished();
      continue;
    }
    std::string address;
    std::unique_ptr<TCPSocketExt> client =
        waited == TCPSocket::kClientWaiting ? listener_->acceptAddress(address) : nullptr;
    if (stopping_.load()) break;
    if (!client) {
      std::this_thread::sleep_for(kAcceptRetryPause);
      continue;
    }
    reapFinished();
    admit(std::move(client), address);
  }
}

void NtripCaster::admit(std::unique_ptr<TCPSocketExt> client, const std::string& address) {
  std::lock_guard<std::mutex> g(clientsMutex_);
  if (clientsStopped_) return;
  const int total = static_cast<int>(clients_.size());
  const int ofAddress = perAddress_.count(address) ? perAddress_[address] : 0;
  std::string refusal;
  if (settings_.limits.maxSessions > 0 && total >= settings_.limits.maxSessions)
    refusal =
        std::to_string(total) + " clients are sending their request heads (MaxSessionsPerConfiguration)";
  else if (settings_.limits.maxSessionsPerAddress > 0 && ofAddress >= settings_.limits.maxSessionsPerAddress)
    refusal = std::to_string(ofAddress) +
              " clients of that address are sending their request heads "
              "(MaxSessionsPerAddress)";
  if (!refusal.empty()) {
    PelLog().write(0, PelLogWarning, kSource,
                   "NTRIP caster: connection from " + address + " refused: " + refusal + ".");
    return;
  }
  client->setSendTimeLimit(settings_.limits.sendTimeLimit);
  auto argument = std::make_unique<PelThreadArgument>();
  argument->socket = std::move(client);
  argument->address = address;
  argument->number = nextNumber_++;
  auto thread = std::make_unique<PelThread>(
      [this](PelThreadArgument* a) {
        serve(*a);
        return 1;
      },
      argument.get(), 0, 0, 0);
  try {
    thread->start();
  } catch (const TCPException& e) {
    PelLog().write(0, PelLogError, kSource,
                   "NTRIP caster: could not start a thread for client " + address + ": " + e.message());
    return;
  }
  ++perAddress_[address];
  clients_.push_back(Client{std::move(argument), std::move(thread)});
}

void NtripCaster::serve(PelThreadArgument& argument) {
  try {
    CasterRequest request(argument, directory_, users_, settings_, hostName_, boundPort_.load(),
                          clientsMutex_, clientsStopped_);
    request.serve();
  } catch (...) {
    try {
      PelLog().write(0, PelLogError, kSource,
                     "NTRIP caster: client " + argument.address + " dropped after an unexpected failure.");
    } catch (...) {
    }
  }
  // A client handed over belongs to its configuration now; any other ends
  // here.
  {
    std::lock_guard<std::mutex> g(clientsMutex_);
    if (argument.socket) argument.socket->abort();
  }
  argument.finished.store(1);
}

void NtripCaster::reapFinished() {
  std::list<Client> finished;
  {
    std::lock_guard<std::mutex> g(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
      if (it->argument->finished.load() == 0) {
        ++it;
        continue;
      }
      auto count = perAddress_.find(it->argument->address);
      if (count != perAddress_.end() && --count->second <= 0) perAddress_.erase(count);
      auto next = std::next(it);
      finished.splice(finished.end(), clients_, it);
      it = next;
    }
  }
  finished.clear();  // joins threads whose routine has returned; closes sockets not handed over
}

}  // namespace tarvik
