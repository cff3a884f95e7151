#include "service/SessionMetrics.h"

#include <algorithm>

namespace tarvik {

namespace {
// Dividing (rather than multiplying by 1e-9) gives the double nearest to
// the decimal bound, so 100000 ns is written as 0.0001.
constexpr double kNsPerSecond = 1e9;
}  // namespace

std::uint64_t HistogramSnapshot::Count() const {
  std::uint64_t n = 0;
  for (std::uint64_t c : counts) n += c;
  return n;
}

// Open addressing from the code's own slot on. A slot, once taken, keeps
// its code, so a reader that finds the code may count into it; a free slot
// is taken with one compare-and-swap, and a loser of that race goes on
// with the code that won it.
void ResultCodeCounts::Count(int code) noexcept {
  if (code != kFree) {
    const unsigned start = static_cast<unsigned>(code) % kSlots;
    for (int i = 0; i < kSlots; ++i) {
      Slot& s = slots_[(start + static_cast<unsigned>(i)) % kSlots];
      int held = s.code.load(std::memory_order_acquire);
      if (held == kFree && s.code.compare_exchange_strong(held, code, std::memory_order_acq_rel)) held = code;
      if (held == code) {
        s.count.fetch_add(1, std::memory_order_relaxed);
        return;
      }
    }
  }
  other_.fetch_add(1, std::memory_order_relaxed);
}

ResultCodeCounts::Snapshot ResultCodeCounts::Read() const {
  Snapshot out;
  for (const Slot& s : slots_) {
    const int code = s.code.load(std::memory_order_acquire);
    if (code == kFree) continue;
    // A slot just taken may not hold its first count yet.
    const std::uint64_t n = s.count.load(std::memory_order_relaxed);
    if (n > 0) out.byCode.emplace_back(code, n);
  }
  std::sort(out.byCode.begin(), out.byCode.end());
  out.other = other_.load(std::memory_order_relaxed);
  return out;
}

void LatencyHistogram::Observe(std::chrono::nanoseconds duration) noexcept {
  const std::int64_t ns = std::max<std::int64_t>(duration.count(), 0);
  // The first bucket whose upper bound is not below the duration.
  const auto bound = std::lower_bound(kUpperBoundsNs.begin(), kUpperBoundsNs.end(), ns);
  buckets_[static_cast<std::size_t>(bound - kUpperBoundsNs.begin())].fetch_add(1, std::memory_order_relaxed);
  sumNs_.fetch_add(static_cast<std::uint64_t>(ns), std::memory_order_relaxed);
}

HistogramSnapshot LatencyHistogram::Read() const {
  HistogramSnapshot out;
  for (std::int64_t b : kUpperBoundsNs) out.upperBounds.push_back(static_cast<double>(b) / kNsPerSecond);
  for (const auto& b : buckets_) out.counts.push_back(b.load(std::memory_order_relaxed));
  out.sum = static_cast<double>(sumNs_.load(std::memory_order_relaxed)) / kNsPerSecond;
  return out;
}

SessionMetricsSnapshot SessionMetrics::Read() const {
  SessionMetricsSnapshot out;
  out.requests = requests_.Read();
  out.latency = latency_.Read();
  out.openSessions = openSessions_.load(std::memory_order_relaxed);
  out.sessions = sessions_.load(std::memory_order_relaxed);
  out.sendFailures = sendFailures_.load(std::memory_order_relaxed);
  out.sendTimeouts = sendTimeouts_.load(std::memory_order_relaxed);
  return out;
}

}  // namespace tarvik
