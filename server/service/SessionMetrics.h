#pragma once
// What the sessions of one configuration count for monitoring: requests by
// result code, the time each request took from being read to its last byte
// sent, open and opened sessions, and failed sends.
//
// The request path is hot and runs on many session threads at once, so
// every event is one relaxed atomic increment: no lock, no allocation. The
// counters only grow (the open-sessions gauge excepted) for as long as the
// configuration exists, across its starts and stops. Readers take a
// Snapshot(), a plain value; its figures are read one by one while sessions
// go on counting, so two figures of one snapshot may be a request apart.

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

namespace tarvik {

// Counts of a histogram: `counts[i]` observations fell into (bound[i-1],
// bound[i]], the last count those above the highest bound.
struct HistogramSnapshot {
  std::vector<double> upperBounds;  // ascending, in the observed unit
  std::vector<std::uint64_t> counts;
  double sum = 0.0;

  std::uint64_t Count() const;
};

// Occurrences of integer codes in a fixed table: a code takes a free slot
// on its first occurrence and keeps it. Codes beyond the table's room are
// counted together as "other".
class ResultCodeCounts {
 public:
  static constexpr int kSlots = 64;

  void Count(int code) noexcept;

  struct Snapshot {
    std::vector<std::pair<int, std::uint64_t>> byCode;  // ascending codes, none with 0
    std::uint64_t other = 0;
  };
  Snapshot Read() const;

 private:
  static constexpr int kFree = INT_MIN;
  struct Slot {
    std::atomic<int> code{kFree};
    std::atomic<std::uint64_t> count{0};
  };
  std::array<Slot, kSlots> slots_;
  std::atomic<std::uint64_t> other_{0};
};

// Durations in fixed buckets from a tenth of a millisecond to ten seconds:
// an answer from memory takes well under a millisecond, one that waits for
// the configuration's lock or a slow client takes seconds.
class LatencyHistogram {
 public:
  static constexpr std::array<std::int64_t, 16> kUpperBoundsNs = {
      100'000,       250'000,       500'000,       1'000'000,     2'500'000,   5'000'000,
      10'000'000,    25'000'000,    50'000'000,    100'000'000,   250'000'000, 500'000'000,
      1'000'000'000, 2'500'000'000, 5'000'000'000, 10'000'000'000};

  void Observe(std::chrono::nanoseconds duration) noexcept;
  // Bounds and sum in seconds.
  HistogramSnapshot Read() const;

 private:
  std::array<std::atomic<std::uint64_t>, kUpperBoundsNs.size() + 1> buckets_{};
  std::atomic<std::uint64_t> sumNs_{0};
};

struct SessionMetricsSnapshot {
  ResultCodeCounts::Snapshot requests;
  HistogramSnapshot latency;  // seconds
  std::int64_t openSessions = 0;
  std::uint64_t sessions = 0;
  std::uint64_t sendFailures = 0;  // failed sends other than time-outs
  std::uint64_t sendTimeouts = 0;  // replies not taken within the send time limit
};

class SessionMetrics {
 public:
  void SessionOpened() noexcept {
    openSessions_.fetch_add(1, std::memory_order_relaxed);
    sessions_.fetch_add(1, std::memory_order_relaxed);
  }
  void SessionClosed() noexcept { openSessions_.fetch_sub(1, std::memory_order_relaxed); }
  // One request answered through the request path, its result code and
  // the time from reading it to its last byte sent (or to the failed send).
  void RequestAnswered(int resultCode, std::chrono::nanoseconds latency) noexcept {
    requests_.Count(resultCode);
    latency_.Observe(latency);
  }
  void SendFailed() noexcept { sendFailures_.fetch_add(1, std::memory_order_relaxed); }
  void SendTimedOut() noexcept { sendTimeouts_.fetch_add(1, std::memory_order_relaxed); }

  SessionMetricsSnapshot Read() const;

 private:
  ResultCodeCounts requests_;
  LatencyHistogram latency_;
  std::atomic<std::int64_t> openSessions_{0};
  std::atomic<std::uint64_t> sessions_{0};
  std::atomic<std::uint64_t> sendFailures_{0};
  std::atomic<std::uint64_t> sendTimeouts_{0};
};

// Counts a session as open for as long as it lives (nothing without metrics).
class OpenSessionCount {
 public:
  explicit OpenSessionCount(SessionMetrics* metrics) : metrics_(metrics) {
    if (metrics_) metrics_->SessionOpened();
  }
  ~OpenSessionCount() {
    if (metrics_) metrics_->SessionClosed();
  }
  OpenSessionCount(const OpenSessionCount&) = delete;
  OpenSessionCount& operator=(const OpenSessionCount&) = delete;

 private:
  SessionMetrics* metrics_;
};

}  // namespace tarvik
