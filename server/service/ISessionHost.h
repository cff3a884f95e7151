#pragma once
// What a client session needs of the configuration it serves.

#include <string>
#include <vector>

namespace tarvik {

class SessionMetrics;

// One reply to send: a complete RTCM 3 frame (messageNumber set), or a text
// response (ASCII rendering or XML document, messageNumber 0).
struct SessionReply {
  int messageNumber = 0;
  std::string bytes;
};

// Called from the accept thread and from every session thread of the
// configuration at the same time, except where noted.
class ISessionHost {
 public:
  virtual ~ISessionHost() = default;

  // Configuration name: log folder and log source "Tarvik:" + name.
  virtual std::string configurationName() const = 0;
  // PORTNUM of the configuration.
  virtual int port() const = 0;
  // Response format of this configuration: kRTCMFormatASCII,
  // kRTCMFormatBinary or kRTCMFormatXML; any other value answers "getmode*"
  // with "Unknown*" and sends nothing for requests.
  virtual int responseFormat() const = 0;

  // Counts one request read from a client (requests since start and
  // TotalNumberOfRequests). Called without the lock, from several sessions
  // at once.
  virtual void countRequest() = 0;

  // Turns one request text (as read, "*" included) into the replies of the
  // configuration's format, one per active message or the error reply, and
  // returns the format they are in; `resultCode` gets the request's result
  // code (1 = success), or 0 when the format is unknown and nothing ran.
  // Called with the configuration's lock held, so never twice at once.
  virtual int answerRequest(const std::string& request, std::vector<SessionReply>& replies,
                            int& resultCode) = 0;

  // Where the sessions count for monitoring; nullptr counts nothing. The
  // counters outlive every session of the host.
  virtual SessionMetrics* metrics() { return nullptr; }
};

}  // namespace tarvik
