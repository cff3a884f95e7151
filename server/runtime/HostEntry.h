#pragma once
// Host-name resolver over the system's IPv4 host database.

#include <netinet/in.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class HostEntry {
 public:
  // Kinds of host text.
  static constexpr int ByName = 0;
  static constexpr int ByAddress = 1;

  // The local host: its name (at most 64 characters), then a lookup by name.
  HostEntry();
  // kind 0: lookup by name; kind 1: dotted IPv4 text, then reverse lookup;
  // any other kind resolves nothing. Failures are swallowed: valid() is false.
  HostEntry(const std::string& host, int kind);

  bool valid() const { return record_.has_value(); }
  // Official host name ("" without a record).
  std::string officialName() const;
  // IPv4 addresses of the record, network byte order (empty without a record).
  std::vector<in_addr> addresses() const;

  // Code and text of the last swallowed failure (0 and "" after success).
  int errorCode() const { return errorCode_; }
  const std::string& errorText() const { return errorText_; }

 private:
  struct Record {
    std::string name;
    std::vector<in_addr> addresses;
  };
  void lookupByName(const std::string& name);
  void lookupByAddress(const std::string& dotted);

  std::optional<Record> record_;
  int errorCode_ = 0;
  std::string errorText_;
};

// The host name of a dotted IPv4 address (reverse look-up), or the address
// itself when there is none or the look-up takes longer than `limit`: a slow
// resolver must not hold up a session or a stop. A late look-up finishes on
// a thread of its own and its answer is dropped.
std::string PeerHostName(const std::string& dottedAddress, std::chrono::milliseconds limit);

}  // namespace tarvik
