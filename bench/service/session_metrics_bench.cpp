// What counting costs a request: one request answered (its code and its
// duration) from one thread and from several at once, every thread on the
// same configuration's counters as the sessions are; and a scrape's
// snapshot of them.
#include <benchmark/benchmark.h>

#include <chrono>

#include "service/SessionMetrics.h"

namespace {

tarvik::SessionMetrics gShared;

void BM_RequestAnswered(benchmark::State& state) {
  // Mostly successes, now and then a position outside the database.
  int i = 0;
  for (auto _ : state) {
    ++i;
    gShared.RequestAnswered(i % 16 == 0 ? -2007 : 1, std::chrono::microseconds(300 + i % 700));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestAnswered)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

void BM_Snapshot(benchmark::State& state) {
  tarvik::SessionMetrics m;
  for (int code = -2044; code <= -2001; ++code) m.RequestAnswered(code, std::chrono::milliseconds(1));
  for (auto _ : state) benchmark::DoNotOptimize(m.Read());
}
BENCHMARK(BM_Snapshot);

}  // namespace
