#pragma once
// Load client for a running configuration: N connections sending GGA
// requests as fast as the answers come back, optionally with many idle
// connections held open alongside.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::bench {

enum class AnswerFormat { Binary, Text };

struct LoadOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 0;
  int clients = 8;
  double seconds = 3.0;
  int idle = 0;               // idle connections opened before the load starts
  int messagesPerAnswer = 3;  // frames (binary) or "*"-terminated texts per request
  AnswerFormat format = AnswerFormat::Binary;
  std::string request;  // GGA sentence with checksum; a default is used when empty
};

struct LoadResult {
  long requests = 0;     // answered completely
  long failures = 0;     // connections lost or short answers
  double seconds = 0.0;  // measured wall time
  double requestsPerSecond = 0.0;
  double p50Ms = 0.0, p90Ms = 0.0, p99Ms = 0.0, maxMs = 0.0;
  int idleOpened = 0;  // idle connections established
  int idleAlive = 0;   // of those, still answering "getmode*" after the load
  std::string error;   // set when the load could not run at all
};

// A GGA sentence inside the demo region with its checksum.
std::string DefaultRequest();

LoadResult RunLoad(const LoadOptions& options);

std::string Describe(const LoadOptions& options, const LoadResult& result);

}  // namespace tarvik::bench
