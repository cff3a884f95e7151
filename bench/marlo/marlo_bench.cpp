// Speed of MarloDLL as a caller sees it, on the generated demo database.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "MarloGenerator.h"
#include "marlo/MarloLibrary.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;

namespace {

struct Fixture {
  TempFolder folder;
  std::string database;
  std::unique_ptr<MarloLibrary> lib;
  Fixture() {
    database = folder.Write("demo.mdb", marlogen::GenerateDatabase({}));
    lib = std::make_unique<MarloLibrary>((ExecutableFolder() / "MarloDLL.so").string());
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

// Positions spread over the region so the search sees different cells.
constexpr int kPositions = 64;
double Lon(int i) { return 13.1 + 3.6 * ((i * 37) % kPositions) / kPositions; }
double Lat(int i) { return 46.9 + 1.6 * ((i * 11) % kPositions) / kPositions; }

void TransformBLH(benchmark::State& state, int onOff, int weight, int mode) {
  Fixture& f = Shared();
  if (f.lib->InitDB(f.database.c_str()) != 1) {
    state.SkipWithError("InitDB failed");
    return;
  }
  f.lib->SetInterpolationType(onOff, weight, mode, 20.0, 5000.0);
  int i = 0;
  for (auto _ : state) {
    double L = 0, B = 0, h = 0;
    const int rc = f.lib->BLH_BLH(Lon(i), Lat(i), 500.0, &L, &B, &h);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(B);
    i = (i + 1) % kPositions;
  }
}
BENCHMARK_CAPTURE(TransformBLH, interpolation_off, 0, 0, 0);
BENCHMARK_CAPTURE(TransformBLH, inverse_distance_area, 1, 1, 0);
BENCHMARK_CAPTURE(TransformBLH, inverse_squared_related, 1, 2, 1);
BENCHMARK_CAPTURE(TransformBLH, exponential_radius_20km, 1, 3, 2);
BENCHMARK_CAPTURE(TransformBLH, inverse_distance_all, 1, 1, 3);

void InitDatabase(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) benchmark::DoNotOptimize(f.lib->InitDB(f.database.c_str()));
}
BENCHMARK(InitDatabase)->Unit(benchmark::kMillisecond);

// 400 areas of 5 identical points: a 2000 x 2000 system, then the evaluation.
void CoefficientVector2000(benchmark::State& state) {
  Fixture& f = Shared();
  marlogen::Options options;
  options.meshColumns = 20;
  options.meshRows = 20;
  options.supportPointsPerArea = 5;
  const std::string db = f.folder.Write("big.mdb", marlogen::GenerateDatabase(options));
  const std::string dir = (f.folder.Path() / "vectors").string();
  const std::string ini =
      f.folder.Write("vectors/vectors.ini", "[Params]\nDefinitionType=1\nAreaType=3\nParamF=1\n");
  if (f.lib->InitDB(db.c_str()) != 1) {
    state.SkipWithError("InitDB failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(f.lib->CreateCoefficientVector(ini.c_str()));
}
BENCHMARK(CoefficientVector2000)->Unit(benchmark::kMillisecond)->Iterations(1);

void TransformBLHCoefficients2000(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string db = (f.folder.Path() / "big.mdb").string();
  const std::string dir = (f.folder.Path() / "vectors").string();
  if (f.lib->InitDB(db.c_str()) != 1 || f.lib->SetInterpolationVectorPath(dir.c_str()) != 1) {
    state.SkipWithError("run CoefficientVector2000 first");
    return;
  }
  f.lib->SetInterpolationType(1, 0, 3, 0.0, 0.0);
  int i = 0;
  for (auto _ : state) {
    double L = 0, B = 0, h = 0;
    benchmark::DoNotOptimize(f.lib->BLH_BLH(Lon(i), Lat(i), 500.0, &L, &B, &h));
    i = (i + 1) % kPositions;
  }
}
BENCHMARK(TransformBLHCoefficients2000);

}  // namespace
