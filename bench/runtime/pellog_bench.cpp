// Lines per second that PelLog writes into one configuration's file, from one
// thread and from eight at once (the server's sessions of one configuration).
// Each line is a typical request line; the file lives in a temporary program
// folder that is removed at the end.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace {

namespace fs = std::filesystem;
using tarvik::PelLog;

// Set before any benchmark thread exists, removed after the last one.
class TemporaryHome {
 public:
  TemporaryHome() : home_(fs::temp_directory_path() / ("tarvik_bench_pellog_" + std::to_string(::getpid()))) {
    fs::remove_all(home_);
    fs::create_directories(home_);
    tarvik::SetProgramFolder(home_);
  }
  ~TemporaryHome() {
    tarvik::SetProgramFolder({});
    std::error_code ec;
    fs::remove_all(home_, ec);
  }

 private:
  fs::path home_;
};
const TemporaryHome home;

const std::string kMessage =
    "Request: $GPGGA,123519,4742.000,N,01454.000,E,1,08,0.9,545.4,M,46.9,M,1.0,0001*4F answered with 3 "
    "messages";

// The server's way: a PelLog made where a line is written, used and let go.
void BM_LogLineFreshObject(benchmark::State& state) {
  for (auto _ : state) {
    PelLog log("Bench");
    log.write(0, tarvik::PelLogInfo, "Tarvik:Bench", kMessage);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLineFreshObject)->Threads(1)->Threads(8)->UseRealTime();

// A session's log: one object per thread, many lines.
void BM_LogLineKeptObject(benchmark::State& state) {
  PelLog log("Bench");
  for (auto _ : state) log.write(0, tarvik::PelLogInfo, "Tarvik:Bench", kMessage);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLineKeptObject)->Threads(1)->Threads(8)->UseRealTime();

}  // namespace
