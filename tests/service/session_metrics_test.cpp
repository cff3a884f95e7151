// The lock-free counters of the sessions: result codes counted exactly from
// many threads at once, also beyond the table's room, and durations sorted
// into the right buckets at and around their bounds.

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "service/SessionMetrics.h"

namespace tarvik {
namespace {

using std::chrono::nanoseconds;

TEST(ResultCodeCountsTest, ManyThreadsCountEveryCodeExactlyAndTheSurplusAsOther) {
  ResultCodeCounts counts;
  // More distinct codes than the table has slots, several of them landing
  // on the same first slot (they differ by multiples of the table size).
  std::vector<int> codes = {1, -1000, -1003, -2001, -2007, -2007 - ResultCodeCounts::kSlots, INT_MIN};
  for (int i = 0; codes.size() < ResultCodeCounts::kSlots + 10; ++i) codes.push_back(-3000 - i);
  constexpr int kThreads = 4, kRounds = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r)
        for (std::size_t i = 0; i < codes.size(); ++i)
          // Code i is counted i % 3 + 1 times per round, from rotating starts.
          for (std::size_t k = 0; k <= i % 3; ++k) counts.Count(codes[(i + t) % codes.size()]);
    });
  for (auto& t : threads) t.join();

  std::map<int, std::uint64_t> expected;
  for (int t = 0; t < kThreads; ++t)
    for (std::size_t i = 0; i < codes.size(); ++i)
      expected[codes[(i + t) % codes.size()]] += kRounds * (i % 3 + 1);

  const ResultCodeCounts::Snapshot s = counts.Read();
  EXPECT_EQ(s.byCode.size(), static_cast<std::size_t>(ResultCodeCounts::kSlots));
  std::uint64_t inTable = 0, all = 0;
  for (const auto& [code, n] : s.byCode) {
    EXPECT_EQ(n, expected.at(code)) << code;  // a code is counted in its slot only
    EXPECT_NE(code, INT_MIN);
    inTable += n;
  }
  for (const auto& [code, n] : expected) all += n;
  EXPECT_EQ(inTable + s.other, all);
  EXPECT_GE(s.other, expected.at(INT_MIN));  // the table's free marker is never a code
  for (std::size_t i = 1; i < s.byCode.size(); ++i) EXPECT_LT(s.byCode[i - 1].first, s.byCode[i].first);
}

TEST(ResultCodeCountsTest, CodesSharingAFirstSlotKeepTheirOwnCounts) {
  ResultCodeCounts counts;
  const int a = -2007, b = a - ResultCodeCounts::kSlots, c = a - 2 * ResultCodeCounts::kSlots;
  counts.Count(b);
  counts.Count(a);
  counts.Count(a);
  counts.Count(c);
  counts.Count(a);
  const auto s = counts.Read();
  ASSERT_EQ(s.byCode.size(), 3u);
  EXPECT_EQ(s.byCode[0], std::make_pair(c, std::uint64_t{1}));
  EXPECT_EQ(s.byCode[1], std::make_pair(b, std::uint64_t{1}));
  EXPECT_EQ(s.byCode[2], std::make_pair(a, std::uint64_t{3}));
  EXPECT_EQ(s.other, 0u);
}

TEST(LatencyHistogramTest, ADurationGoesIntoTheFirstBucketWhoseBoundItDoesNotExceed) {
  LatencyHistogram h;
  const auto& bounds = LatencyHistogram::kUpperBoundsNs;
  h.Observe(nanoseconds(0));
  h.Observe(nanoseconds(-5));  // a clock that went back counts as nothing
  h.Observe(nanoseconds(bounds[0]));
  h.Observe(nanoseconds(bounds[0] + 1));
  h.Observe(nanoseconds(bounds[7]));
  h.Observe(nanoseconds(bounds.back()));
  h.Observe(nanoseconds(bounds.back() + 1));
  h.Observe(std::chrono::hours(2));

  const HistogramSnapshot s = h.Read();
  ASSERT_EQ(s.upperBounds.size(), bounds.size());
  ASSERT_EQ(s.counts.size(), bounds.size() + 1);
  EXPECT_EQ(s.upperBounds.front(), 0.0001);  // the decimal bound exactly, in seconds
  EXPECT_EQ(s.upperBounds[3], 0.001);
  EXPECT_EQ(s.upperBounds.back(), 10.0);
  EXPECT_EQ(s.counts[0], 3u);
  EXPECT_EQ(s.counts[1], 1u);
  EXPECT_EQ(s.counts[7], 1u);
  EXPECT_EQ(s.counts[bounds.size() - 1], 1u);
  EXPECT_EQ(s.counts.back(), 2u);
  EXPECT_EQ(s.Count(), 8u);
  const double expectedSum = (2.0 * bounds[0] + 1 + bounds[7] + 2.0 * bounds.back() + 1) / 1e9 + 7200.0;
  EXPECT_NEAR(s.sum, expectedSum, 1e-9);
}

TEST(SessionMetricsTest, TheOpenGaugeFollowsItsGuardsAndCountersOnlyGrow) {
  SessionMetrics m;
  {
    OpenSessionCount one(&m), two(&m);
    OpenSessionCount none(nullptr);  // a host without metrics counts nothing
    EXPECT_EQ(m.Read().openSessions, 2);
  }
  m.SendFailed();
  m.SendTimedOut();
  m.SendTimedOut();
  m.RequestAnswered(1, std::chrono::milliseconds(2));
  const SessionMetricsSnapshot s = m.Read();
  EXPECT_EQ(s.openSessions, 0);
  EXPECT_EQ(s.sessions, 2u);
  EXPECT_EQ(s.sendFailures, 1u);
  EXPECT_EQ(s.sendTimeouts, 2u);
  EXPECT_EQ(s.latency.Count(), 1u);
  ASSERT_EQ(s.requests.byCode.size(), 1u);
  EXPECT_EQ(s.requests.byCode[0].second, 1u);
}

}  // namespace
}  // namespace tarvik
