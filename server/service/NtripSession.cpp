#include "service/NtripSession.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <vector>

#include "module/CConfigurationSettings.h"
#include "runtime/LogText.h"
#include "runtime/PelLog.h"
#include "runtime/PelThreadArgument.h"
#include "runtime/TCPSocketExt.h"
#include "service/ClientSession.h"
#include "service/ISessionHost.h"
#include "service/NtripAnswers.h"
#include "service/SessionMetrics.h"
#include "service/SessionParts.h"

namespace tarvik {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool AddressIsGga(std::string_view sentence) {
  const std::size_t end = sentence.find_first_of(",*");
  const std::string_view address = sentence.substr(0, end);
  if (address.size() < 5) return false;  // "$", a talker of one letter at least, "GGA"
  const std::string_view tail = address.substr(address.size() - 3);
  return std::toupper(static_cast<unsigned char>(tail[0])) == 'G' &&
         std::toupper(static_cast<unsigned char>(tail[1])) == 'G' &&
         std::toupper(static_cast<unsigned char>(tail[2])) == 'A';
}

// "1F", "1f;ext=x": the size line of a chunk (the CR may still follow).
bool IsChunkSizeLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  line = line.substr(0, line.find(';'));
  if (line.empty() || line.size() > 8) return false;
  for (char c : line)
    if (HexDigit(c) < 0) return false;
  return true;
}

}  // namespace

RoverLine ClassifyRoverLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  RoverLine r;
  if (line.empty()) return r;
  r.kind = RoverLine::kOther;
  if (line.front() != '$') return r;
  const std::size_t star = line.find('*');
  if (star == std::string_view::npos) {
    if (AddressIsGga(line)) r.kind = RoverLine::kGgaWithoutChecksum;
    return r;
  }
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  const std::string_view digits = line.substr(star + 1);
  if (digits.size() != 2 || HexDigit(digits[0]) < 0 || HexDigit(digits[1]) < 0 ||
      static_cast<unsigned>(HexDigit(digits[0]) * 16 + HexDigit(digits[1])) != (sum & 0xFFu)) {
    r.kind = RoverLine::kWrongChecksum;
    return r;
  }
  if (AddressIsGga(line)) {
    r.kind = RoverLine::kGga;
    r.request = std::string(line.substr(0, star + 1));
  }
  return r;
}

namespace {

class NtripSession {
 public:
  NtripSession(PelThreadArgument& arg, const NtripClientStart& start)
      : arg_(arg),
        start_(start),
        host_(*arg.module),
        socket_(*arg.socket),
        metrics_(host_.metrics()),
        open_(metrics_),
        log_(host_.configurationName()),
        source_("Tarvik:" + host_.configurationName()) {}

  void run() {
    NameClient(arg_);
    info("Client " + arg_.name + " is connected (NTRIP " + (start_.ntrip2 ? "2.0" : "1.0") +
         ", mount point " + start_.mountPoint +
         (start_.user.empty() ? "" : ", user " + LogSafeText(start_.user)) + ")");
    if (socket_.send(NtripStreamStart(start_.ntrip2, std::time(nullptr))) != TCPSocket::kSendOK) {
      sendFailed();
      return;
    }
    // The position of the request head counts as the first request.
    if (!start_.firstGga.empty() && !handle(start_.firstGga)) return;
    for (;;) {
      std::string line;
      if (!readLine(line)) return;
      if (!handle(line)) return;
    }
  }

 private:
  // false when the session ends (the reason is logged).
  bool readLine(std::string& line) {
    const int received = socket_.receiveLine(line, kRoverLineLimit);
    if (received == kLineRead) return true;
    if (received == kLineTooLong) {
      error("Line of more than " + std::to_string(kRoverLineLimit) + " bytes from client " + arg_.name +
            "; session ended.");
      return false;
    }
    const SessionEndLine end = ReceiveEndLine(received);
    log_.write(0, end.level, source_, end.text);
    return false;
  }

  // false when the session ends.
  bool handle(const std::string& text) {
    if (start_.chunkedUpload && IsChunkSizeLine(text)) return true;
    const RoverLine line = ClassifyRoverLine(text);
    switch (line.kind) {
      case RoverLine::kEmpty:
        return true;  // a keep-alive some clients send
      case RoverLine::kWrongChecksum:
        error("NMEA-checksum-failure!!.");
        endStream();
        return false;
      case RoverLine::kOther:
        info("Line from client " + arg_.name + " ignored (not a GGA sentence): " + LogSafeText(text));
        return true;
      case RoverLine::kGgaWithoutChecksum:
        info("Line from client " + arg_.name +
             " ignored (GGA sentence without checksum): " + LogSafeText(text));
        return true;
      case RoverLine::kGga:
        break;
    }
    const auto read = std::chrono::steady_clock::now();
    host_.countRequest();
    std::vector<SessionReply> replies;
    int format = 0;
    int resultCode = 0;
    // Logged before the lock is taken, which only the computation needs.
    info("Received request from client " + arg_.name + " at " + SessionTimestamp() + ": " +
         LogSafeText(line.request));
    {
      RequestLock lock(*arg_.semaphore);
      format = host_.answerRequest(line.request, replies, resultCode);
    }
    if (format != kRTCMFormatBinary) {
      // The configuration was read again with another format while the
      // rover was connected: text has no place in an RTCM stream.
      error("Session of client " + arg_.name +
            " ended: the configuration no longer answers in binary frames.");
      endStream();
      return false;
    }
    // The frames' lines in one write, the frames in one send.
    std::string stream;
    std::vector<std::string> lines;
    for (const SessionReply& r : replies) {
      lines.push_back("Sending RTCM-message " + std::to_string(r.messageNumber) + " to client " + arg_.name +
                      ".");
      stream += r.bytes;
    }
    log_.writeLines(0, PelLogInfo, source_, lines);
    const bool sent =
        stream.empty() || socket_.send(start_.ntrip2 ? NtripChunk(stream) : stream) == TCPSocket::kSendOK;
    if (metrics_) metrics_->RequestAnswered(resultCode, std::chrono::steady_clock::now() - read);
    if (sent) return true;
    sendFailed();
    return false;
  }

  // A stream whose send failed cannot go on: part of it may have left, and
  // the rover would read the rest as garbage.
  void sendFailed() {
    info("Error sending Message to client");
    const bool timedOut = socket_.sendTimedOut();
    if (metrics_ && timedOut) metrics_->SendTimedOut();
    if (metrics_ && !timedOut) metrics_->SendFailed();
    if (timedOut) error("Session of client " + arg_.name + " ended: the client did not take its replies.");
  }

  // The server ends the stream: NTRIP 2.0 closes the chunked body properly.
  void endStream() {
    if (start_.ntrip2) socket_.send(NtripChunk({}));
  }

  void info(const std::string& m) { log_.write(0, PelLogInfo, source_, m); }
  void error(const std::string& m) { log_.write(0, PelLogError, source_, m); }

  PelThreadArgument& arg_;
  NtripClientStart start_;
  ISessionHost& host_;
  TCPSocketExt& socket_;
  SessionMetrics* metrics_;
  OpenSessionCount open_;
  PelLog log_;
  std::string source_;
};

}  // namespace

int RunNtripSession(PelThreadArgument* argument, const NtripClientStart& start) {
  return RunSessionToItsEnd(*argument, [argument, &start] {
    NtripSession session(*argument, start);
    session.run();
  });
}

}  // namespace tarvik
