#pragma once
// The configurations the NTRIP caster can reach: each running configuration
// is listed while it runs, so a client is handed only to a configuration
// that is there, and a configuration that stops is never handed another.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik {

class TCPSocketExt;

// What the caster knows of one configuration.
struct NtripMountState {
  std::string mountPoint;     // "" when the configuration has none
  std::string configuration;  // its name (and log)
  int format = 0;             // kRTCMFormatBinary, ...
  std::vector<int> activeMessages;
  double latitude = 0.0;  // centre of its area, degrees
  double longitude = 0.0;
};

// What the caster hands over with an admitted client.
struct NtripClientStart {
  bool ntrip2 = false;   // answer as NTRIP 2.0 (HTTP/1.1, chunked)
  std::string firstGga;  // the Ntrip-GGA field: the first request ("" when none)
  std::string user;      // the authenticated user, for the log ("" when none)
  std::string mountPoint;
  // The client sends its lines in chunked transfer encoding (some NTRIP
  // 2.0 clients do): the chunk size lines are no NMEA and are passed over.
  bool chunkedUpload = false;
};

// A configuration as the caster sees it.
class INtripMount {
 public:
  virtual ~INtripMount() = default;
  virtual NtripMountState ntripState() const = 0;
  // Starts a session of the configuration for a client whose request head
  // has been read. False with the reason when a session limit refuses it or
  // the configuration does not run; the client then stays with the caller.
  virtual bool admitNtripClient(std::unique_ptr<TCPSocketExt>& client, const std::string& address,
                                const NtripClientStart& start, std::string& refusal) = 0;
};

class NtripMountDirectory {
 public:
  // Lists a running configuration. Returns the configuration that already
  // serves the same mount point ("" when none): clients of that mount point
  // keep reaching the one listed first.
  std::string add(INtripMount& mount);
  // Unlists it; waits while a client is being handed to it.
  void remove(INtripMount& mount);

  // The states of the listed configurations, in the order they were listed.
  std::vector<NtripMountState> states() const;

  // Runs `use` with the first listed configuration of that mount point,
  // which cannot be unlisted meanwhile; false when there is none.
  bool withMount(const std::string& mountPoint,
                 const std::function<void(INtripMount&, const NtripMountState&)>& use);

 private:
  mutable std::mutex mutex_;
  std::vector<INtripMount*> mounts_;
};

}  // namespace tarvik
