#include "service/ClientSession.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/HostEntry.h"
#include "runtime/LogText.h"
#include "runtime/PelLog.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/TCPSocketExt.h"
#include "service/ModuleServer.h"
#include "service/SessionMetrics.h"
#include "service/SessionParts.h"

namespace tarvik {

const char* ModeWord(int format) {
  switch (format) {
    case kRTCMFormatBinary:
      return "Binary*";
    case kRTCMFormatASCII:
      return "ASCII*";
    case kRTCMFormatXML:
      return "XML*";
    default:
      return "Unknown*";
  }
}

std::string SessionTimestamp() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::strftime(text, sizeof text, "Date: %d.%m.%Y Time: %H:%M:%S", &local);
  return text;
}

SessionEndLine ReceiveEndLine(int receiveResult) {
  switch (receiveResult) {
    case kSentenceReset:
      return {PelLogInfo, "Connection was reset."};
    case kSentenceAborted:
      return {PelLogInfo, "Connection was aborted."};
    case kSentenceChecksum:
      return {PelLogError, "NMEA-checksum-failure!!."};
    case kSentenceClosed:
      return {PelLogInfo, "Connection was closed."};
    default:
      return {PelLogError, "Error reading message from client."};
  }
}

const std::string& NameClient(PelThreadArgument& argument) {
  if (argument.name.empty())
    argument.name =
        LogSafeText(PeerHostName(argument.address, kNameLookupLimit)) + "-" + std::to_string(argument.number);
  return argument.name;
}

namespace {

// The parts one after the other, in one allocation.
std::string Joined(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string text;
  text.reserve(size);
  for (std::string_view part : parts) text += part;
  return text;
}

class Session {
 public:
  explicit Session(PelThreadArgument& arg)
      : arg_(arg),
        host_(*arg.module),
        socket_(*arg.socket),
        metrics_(host_.metrics()),
        open_(metrics_),
        log_(host_.configurationName()),
        source_("Tarvik:" + host_.configurationName()) {}
  ~Session() {
    try {
      if (!lines_.empty()) writeLines();
    } catch (...) {
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void run() {
    NameClient(arg_);
    info("Client " + arg_.name + " is connected");
    for (;;) {
      std::string request;
      if (!readRequest(request)) return;
      const auto read = std::chrono::steady_clock::now();
      host_.countRequest();
      if (!prepareReplies(request)) {
        lines_.push_back("Client " + arg_.name + " was disconnected.");
        writeLines();
        return;
      }
      const bool kept = sendReplies();
      // Commands (getmode*) and an unknown format have no result code.
      if (answered_ && metrics_)
        metrics_->RequestAnswered(resultCode_, std::chrono::steady_clock::now() - read);
      if (!kept) return;
    }
  }

 private:
  // false when the session ends (the reason is logged).
  bool readRequest(std::string& request) {
    const int received = socket_.receiveSentence(request);
    if (received == kSentenceRead) return true;
    const SessionEndLine end = ReceiveEndLine(received);
    log_.write(0, end.level, source_, end.text);
    return false;
  }

  // The request is answered into replies_ under the configuration's lock,
  // which is held only while it is computed: nothing is logged or sent
  // meanwhile, so a client that does not read holds up nobody but itself.
  // false for "quit*".
  bool prepareReplies(const std::string& request) {
    replies_.clear();
    binary_ = false;
    answered_ = false;
    // Written with the lines of the replies, in one append before they are
    // sent (a request costs one write to the log, not two).
    lines_.push_back(Joined({"Received request from client ", arg_.name, " at ", SessionTimestamp(), ": ",
                             LogSafeText(request)}));
    // The two commands in any case; a sentence is longer than both.
    std::string lower;
    if (request.size() <= sizeof "getmode*") {
      lower = request;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    if (lower == "quit*") return false;
    if (lower == "getmode*") {
      mode_ = true;
      replies_.push_back(SessionReply{0, ModeWord(host_.responseFormat())});
      return true;
    }
    mode_ = false;
    const int configured = host_.responseFormat();
    if (configured != kRTCMFormatASCII && configured != kRTCMFormatXML && configured != kRTCMFormatBinary)
      return true;  // unknown format: nothing is computed or sent
    RequestLock lock(*arg_.semaphore);
    binary_ = host_.answerRequest(request, replies_, resultCode_) == kRTCMFormatBinary;
    answered_ = true;
    return true;
  }

  // The replies of one request are logged in one write and sent in one
  // call (the same bytes as one send each, without a system call per
  // message). false when the client did not take them within the time
  // limit: its session ends. Any other failed send is logged and the
  // session reads on.
  bool sendReplies() {
    outgoing_.clear();
    for (const SessionReply& reply : replies_) {
      if (mode_) {
        // The mode word goes out without a line of its own.
      } else if (binary_) {
        char number[16];
        const int digits = std::snprintf(number, sizeof number, "%d", reply.messageNumber);
        lines_.push_back(
            Joined({"Sending RTCM-message ", std::string_view(number, static_cast<std::size_t>(digits)),
                    " to client ", arg_.name, "."}));
      } else {
        std::string flat = reply.bytes;
        std::replace(flat.begin(), flat.end(), '\n', ' ');
        lines_.push_back("Sending RTCM-messsage to client " + arg_.name + ":\n" + flat);
      }
      outgoing_ += reply.bytes;
    }
    replies_.clear();
    writeLines();
    if (outgoing_.empty()) return true;  // unknown format: nothing to send
    // Text responses go out whole, however long they are.
    if (socket_.send(outgoing_) == TCPSocket::kSendOK) return true;
    info("Error sending Message to client");
    const bool timedOut = socket_.sendTimedOut();
    if (metrics_ && timedOut) metrics_->SendTimedOut();
    if (metrics_ && !timedOut) metrics_->SendFailed();
    if (timedOut) {
      error("Session of client " + arg_.name + " ended: the client did not take its replies.");
      return false;
    }
    return true;
  }

  // The request's lines so far, in one append.
  void writeLines() {
    log_.writeLines(0, PelLogInfo, source_, lines_);
    lines_.clear();
  }

  void info(const std::string& m) { log_.write(0, PelLogInfo, source_, m); }
  void error(const std::string& m) { log_.write(0, PelLogError, source_, m); }

  PelThreadArgument& arg_;
  ISessionHost& host_;
  TCPSocketExt& socket_;
  SessionMetrics* metrics_;
  OpenSessionCount open_;
  PelLog log_;
  std::string source_;
  std::vector<SessionReply> replies_;
  // Lines of the current request not yet written; a session that ends by
  // an unexpected failure still writes them.
  std::vector<std::string> lines_;
  std::string outgoing_;
  bool mode_ = false;    // replies_ holds the mode word
  bool binary_ = false;  // replies_ holds frames
  // replies_ answer a request through the request path, with this result code.
  bool answered_ = false;
  int resultCode_ = 0;
};

}  // namespace

int RunSessionToItsEnd(PelThreadArgument& argument, const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    try {
      const std::string name = argument.module->configurationName();
      PelLog(name).write(0, PelLogError, "Tarvik:" + name,
                         "Session of client " + (argument.name.empty() ? argument.address : argument.name) +
                             " ended after an unexpected failure.");
    } catch (...) {
    }
  }
  argument.socket->abort();
  argument.event->setEvent();
  argument.finished.store(1);
  return kSessionEnded;
}

int RunClientSession(PelThreadArgument* argument) {
  return RunSessionToItsEnd(*argument, [argument] {
    Session session(*argument);
    session.run();
  });
}

}  // namespace tarvik
