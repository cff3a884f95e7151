// One configuration served in-process to the load client over loopback,
// with its full session logging into a temporary program folder. The module
// is a stand-in that answers every request with frames of the sizes of
// messages 1021, 1023 and 1025, so the figures are those of the server
// (sockets, threads, lock, log) and not of the geodesy.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "LoadClient.h"
#include "module/CConfigurationSettings.h"
#include "runtime/ProgramFolder.h"
#include "service/ModuleServer.h"
#include "service/SessionMetrics.h"

namespace {

// Frame of an RTCM 3 message: preamble, length, payload, CRC.
std::vector<unsigned char> Frame(int number, size_t payload) {
  std::vector<unsigned char> f{0xD3, static_cast<unsigned char>(payload >> 8),
                               static_cast<unsigned char>(payload & 0xFF)};
  for (size_t i = 0; i < payload; ++i) f.push_back(static_cast<unsigned char>(number * 7 + i));
  f.insert(f.end(), {0x5A, 0xA5, 0x5A});
  return f;
}

class StandInModule : public tarvik::ISessionHost {
 public:
  std::string configurationName() const override { return "Load"; }
  int port() const override { return 0; }
  int responseFormat() const override { return tarvik::kRTCMFormatBinary; }
  void countRequest() override {
    ++sinceStart_;
    ++total_;
  }
  // Counted like a real configuration, so the figures include the counting.
  tarvik::SessionMetrics* metrics() override { return &counted_; }
  int answerRequest(const std::string&, std::vector<tarvik::SessionReply>& out, int& resultCode) override {
    resultCode = 1;
    // Payload sizes of 1021 (with two short datum names), 1023 and 1025.
    for (auto [number, payload] : {std::pair{1021, 62}, {1023, 74}, {1025, 25}}) {
      std::vector<unsigned char> frame = Frame(number, static_cast<size_t>(payload));
      out.push_back({number, std::string(frame.begin(), frame.end())});
    }
    return tarvik::kRTCMFormatBinary;
  }

 private:
  std::atomic<long> sinceStart_{0}, total_{0};
  tarvik::SessionMetrics counted_;
};

class ServedConfiguration {
 public:
  ServedConfiguration()
      : home_(std::filesystem::temp_directory_path() / ("tarvik-load-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(home_);
    tarvik::SetProgramFolder(home_);
    server_.Start(0);
  }
  ~ServedConfiguration() {
    server_.Stop();
    tarvik::SetProgramFolder({});
    std::filesystem::remove_all(home_);
  }
  uint16_t port() const { return server_.boundPort(); }

 private:
  std::filesystem::path home_;
  StandInModule module_;
  tarvik::ModuleServer server_{module_};
};

void Report(benchmark::State& state, const tarvik::bench::LoadOptions& o,
            const tarvik::bench::LoadResult& r) {
  state.counters["req_per_s"] = r.requestsPerSecond;
  state.counters["p50_ms"] = r.p50Ms;
  state.counters["p99_ms"] = r.p99Ms;
  state.counters["max_ms"] = r.maxMs;
  state.counters["failures"] = static_cast<double>(r.failures);
  if (o.idle > 0) state.counters["idle_alive"] = r.idleAlive;
  std::fprintf(stderr, "%s\n", tarvik::bench::Describe(o, r).c_str());
  if (!r.error.empty()) state.SkipWithError(r.error.c_str());
}

// N clients, binary format, three active messages, every log line written.
void BM_BinaryClients(benchmark::State& state) {
  for (auto _ : state) {
    ServedConfiguration served;
    tarvik::bench::LoadOptions o;
    o.port = served.port();
    o.clients = static_cast<int>(state.range(0));
    o.seconds = 3.0;
    tarvik::bench::LoadResult r = tarvik::bench::RunLoad(o);
    Report(state, o, r);
  }
}
BENCHMARK(BM_BinaryClients)->Arg(1)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// One client served while 1000 idle connections are held open.
void BM_IdleConnectionsHeld(benchmark::State& state) {
  for (auto _ : state) {
    ServedConfiguration served;
    tarvik::bench::LoadOptions o;
    o.port = served.port();
    o.clients = 1;
    o.idle = static_cast<int>(state.range(0));
    o.seconds = 3.0;
    tarvik::bench::LoadResult r = tarvik::bench::RunLoad(o);
    Report(state, o, r);
  }
}
BENCHMARK(BM_IdleConnectionsHeld)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
