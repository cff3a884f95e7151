#include "service/ClientSession.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <string>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/PelLog.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/TCPSocketExt.h"
#include "service/ModuleServer.h"

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

namespace {

// The configuration's lock from after a request was read until its
// responses are out, released on every path.
class RequestLock {
 public:
  explicit RequestLock(PelSemaphore& s) : s_(s) { s_.wait(1); }
  ~RequestLock() { release(); }
  void release() {
    if (held_) s_.release();
    held_ = false;
  }
  RequestLock(const RequestLock&) = delete;
  RequestLock& operator=(const RequestLock&) = delete;

 private:
  PelSemaphore& s_;
  bool held_ = true;
};

class Session {
 public:
  explicit Session(PelThreadArgument& arg)
      : arg_(arg),
        host_(*arg.module),
        socket_(*arg.socket),
        log_(host_.configurationName()),
        source_("Tarvik:" + host_.configurationName()) {}

  void run() {
    for (;;) {
      std::string request;
      if (!readRequest(request)) return;
      host_.countRequest();
      RequestLock lock(*arg_.semaphore);
      info("Received request from client " + arg_.name + " at " + SessionTimestamp() + ": " + request);
      std::string lower = request;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (lower == "quit*") {
        lock.release();
        info("Client " + arg_.name + " was disconnected.");
        return;
      }
      if (lower == "getmode*") {
        if (socket_.send(std::string(ModeWord(host_.responseFormat()))) != 0)
          info("Error sending Message to client");
        continue;
      }
      answer(request);
    }
  }

 private:
  // false when the session ends (the reason is logged).
  bool readRequest(std::string& request) {
    switch (socket_.receiveSentence(request)) {
      case kSentenceRead:
        return true;
      case kSentenceReset:
        info("Connection was reset.");
        return false;
      case kSentenceAborted:
        info("Connection was aborted.");
        return false;
      case kSentenceChecksum:
        error("NMEA-checksum-failure!!.");
        return false;
      case kSentenceClosed:
        info("Connection was closed.");
        return false;
      default:
        error("Error reading message from client.");
        return false;
    }
  }

  void answer(const std::string& request) {
    const int configured = host_.responseFormat();
    if (configured != kRTCMFormatASCII && configured != kRTCMFormatXML && configured != kRTCMFormatBinary)
      return;  // unknown format: nothing is computed or sent
    replies_.clear();
    const int format = host_.answerRequest(request, replies_);
    for (size_t i = 0; i < replies_.size(); ++i) {
      const SessionReply& reply = replies_[i];
      if (format == kRTCMFormatBinary) {
        info("Sending RTCM-message " + std::to_string(reply.messageNumber) + " to client " + arg_.name + ".");
      } else {
        std::string flat = reply.bytes;
        std::replace(flat.begin(), flat.end(), '\n', ' ');
        info("Sending RTCM-messsage to client " + arg_.name + ":\n" + flat);
      }
      // Text responses go out whole, however long they are.
      if (socket_.send(reply.bytes, i + 1 < replies_.size()) != 0) info("Error sending Message to client");
    }
    replies_.clear();
  }

  void info(const std::string& m) { log_.write(0, PelLogInfo, source_, m); }
  void error(const std::string& m) { log_.write(0, PelLogError, source_, m); }

  PelThreadArgument& arg_;
  ISessionHost& host_;
  TCPSocketExt& socket_;
  PelLog log_;
  std::string source_;
  std::vector<SessionReply> replies_;
};

}  // namespace

int RunClientSession(PelThreadArgument* argument) {
  try {
    Session session(*argument);
    session.run();
  } catch (...) {
    // A failing lock or handler must not leave the session unreapable; the
    // client simply loses its connection when the session is reaped.
  }
  // The connection ends with the session, so the client learns at once that
  // nothing more will be answered; the descriptor itself is released when
  // the accept loop reaps the session.
  argument->socket->abort();
  argument->event->setEvent();
  argument->finished.store(1);
  return 1;
}

}  // namespace tarvik
