#pragma once
// The session of a rover that reached a configuration through the NTRIP
// caster. It runs on a session thread of the configuration like a session
// of the "*"-terminated protocol (same lock, counters, log lines, send time
// limit and stop), but speaks NTRIP: the stream starts with "ICY 200 OK"
// (1.0) or an HTTP/1.1 head with chunked encoding (2.0); the rover sends NMEA
// lines ending in CR LF; every GGA sentence among them is one request,
// answered with the configuration's binary frames in the stream.

#include <string>
#include <string_view>

#include "service/NtripMountDirectory.h"

namespace tarvik {

struct PelThreadArgument;

// Longest line a rover may send (as long as a request of the own protocol).
constexpr std::size_t kRoverLineLimit = 8096;

// What one line from a rover is.
struct RoverLine {
  enum Kind {
    kEmpty,               // nothing but a line end (or blanks)
    kGga,                 // a GGA sentence with a correct checksum
    kOther,               // anything else with a correct checksum, or no "$" sentence at all
    kWrongChecksum,       // a "$" sentence whose checksum is wrong or malformed
    kGgaWithoutChecksum,  // a GGA sentence without "*hh"
  };
  Kind kind = kEmpty;
  // For kGga: the sentence up to and including its "*", as the request
  // path reads requests of the own protocol.
  std::string request;
};

// Classifies one line (its CR and trailing blanks are ignored). The
// checksum of a "$" sentence is the exclusive-or of everything between
// "$" and the first "*", written as two hexadecimal digits (either case)
// that end the line. A GGA sentence is one whose address field ends in
// "GGA" (any talker, any case).
RoverLine ClassifyRoverLine(std::string_view line);

// Thread routine of the session; returns 1 when the session has ended
// (after signalling the argument's event and setting its finished flag).
int RunNtripSession(PelThreadArgument* argument, const NtripClientStart& start);

}  // namespace tarvik
