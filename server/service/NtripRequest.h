#pragma once
// The head of a request to the NTRIP caster: the request line and the
// header fields, as NTRIP 1.0 clients (HTTP/1.0 style, answered with
// "ICY 200 OK") and NTRIP 2.0 clients (HTTP/1.1 with the header
// "Ntrip-Version: Ntrip/2.0") send them.
//
// Parsing is strict: what a conforming client never sends is refused with
// 400 rather than guessed at, so a malformed head cannot reach a mount.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik {

// Longest request head: request line and header fields with their line ends.
constexpr std::size_t kNtripHeadLimit = 8192;

// Results of the parsers below.
constexpr int kNtripHeadOK = 1;
constexpr int kNtripHeadMalformed = -1;  // answered 400 Bad Request

struct NtripRequestHead {
  std::string method;                                       // as sent, e.g. "GET"
  std::string target;                                       // as sent, e.g. "/" or "/MOUNT"
  std::string httpVersion;                                  // "HTTP/1.0" or "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> fields;  // name as sent, value trimmed

  // The value of the first field of that name (names compare without
  // regard to case); "" when there is none.
  std::string field(std::string_view name) const;
  bool hasField(std::string_view name) const;
  // The client asked for NTRIP 2.0 ("Ntrip-Version: Ntrip/2.0").
  bool ntrip2() const;
  // The mount point named by the target: "" for "/", otherwise the path
  // after the first "/" with %XX escapes decoded and without a query.
  // kNtripHeadMalformed for a target that is not a path (or a broken escape).
  int mountPoint(std::string& mount) const;
};

// "METHOD SP target SP HTTP/1.x" (a CR at the end is ignored). The method
// must be a token; any method is accepted here, the caster decides which
// it serves. The target is an origin path ("/...") or an absolute
// "http://host[:port]/..." whose path is kept.
int ParseNtripRequestLine(std::string_view line, NtripRequestHead& head);

// One "Name: value" field (a CR at the end is ignored): the name a token
// directly followed by ":", the value without blanks around it and without
// control characters. Folded continuation lines are refused.
int ParseNtripHeaderField(std::string_view line, NtripRequestHead& head);

// What an Authorization field holds.
struct NtripCredentials {
  static constexpr int kNone = 0;         // no Authorization field
  static constexpr int kBasic = 1;        // user and password below
  static constexpr int kOtherScheme = 2;  // a scheme the caster does not take (answered like none)
  static constexpr int kMalformed = -1;   // "Basic" with a broken value: 400
  int kind = kNone;
  std::string user;
  std::string password;
};

// Reads an Authorization value: scheme "Basic" (any case), blanks, then
// base64 of "user:password" (padding optional, nothing else allowed).
NtripCredentials ParseNtripAuthorization(std::string_view value);

// Strict base64 (RFC 4648 alphabet; "=" padding optional but, when present,
// complete). False on anything else.
bool DecodeBase64(std::string_view text, std::string& bytes);

}  // namespace tarvik
