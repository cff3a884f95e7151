#pragma once
// Load client of the NTRIP caster: many rovers on their own connections,
// each sending a GGA sentence at a fixed interval (a receiver's duty cycle)
// and reading the frames of every answer from its stream.

#include <cstdint>
#include <string>

namespace tarvik::bench {

struct NtripLoadOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;  // the caster's
  std::string mount = "DemoBinary";
  std::string user;     // "user:password", "" for an open mount point
  bool ntrip2 = false;  // 2.0: chunked stream
  int rovers = 1000;
  double seconds = 30.0;                                     // measured window
  int intervalMs = 1000;                                     // between two GGA of one rover
  int messagesPerAnswer = 3;                                 // frames per answer
  int sourceAddresses = 8;                                   // rovers spread over 127.0.0.1 .. 127.0.0.N
  int serverPid = 0;                                         // whose CPU time is measured (0: none)
  double latitude = 47.8, longitude = 14.9, height = 500.0;  // centre of the rovers' positions
};

struct NtripLoadResult {
  int streaming = 0;          // rovers whose stream started
  double connectSeconds = 0;  // until every stream had started
  long sent = 0;              // GGA sentences sent in the window
  long answered = 0;          // of those, answered completely
  long lostRovers = 0;        // streams that ended during the run
  double seconds = 0;         // the window as measured
  double p50Ms = 0, p90Ms = 0, p99Ms = 0, maxMs = 0;
  double serverCpuPercent = -1;  // of one core, over the window (-1: not measured)
  double clientCpuPercent = 0;
  std::string error;
};

NtripLoadResult RunNtripLoad(const NtripLoadOptions& options);
std::string Describe(const NtripLoadOptions& options, const NtripLoadResult& result);

}  // namespace tarvik::bench
