#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "geodesy/C3DTrafo.h"
#include "geodesy/CGeoidGrid.h"
#include "geodesy/CORVELDll.h"
#include "geodesy/CPelProjectionDll.h"
#include "runtime/ProgramFolder.h"

namespace {

using namespace tarvik;

std::filesystem::path Scratch(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("tarvik_bench_geodesy_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir / name;
}

// Creating the binding as a request does, with each way of loading.
void BM_ProjectionBindingCreate(benchmark::State& state) {
  const auto loading = state.range(0) == 0 ? PelProjectionLoading::Shared : PelProjectionLoading::PerBinding;
  CPelProjectionDll keepLoaded;  // the program keeps the file loaded anyway
  for (auto _ : state) {
    CPelProjectionDll binding(CPelProjectionDll::DefaultLibraryFile(), loading);
    benchmark::DoNotOptimize(binding.IsReady());
  }
}
BENCHMARK(BM_ProjectionBindingCreate)->Arg(0)->Arg(1)->ArgName("perBinding");

// One request's conversions: 16 nodes, each to Cartesian on two ellipsoids
// and back once, with the ellipsoid set before every conversion.
void BM_ProjectionRequestConversions(benchmark::State& state) {
  const auto loading = state.range(0) == 0 ? PelProjectionLoading::Shared : PelProjectionLoading::PerBinding;
  CPelProjectionDll keepLoaded;
  for (auto _ : state) {
    CPelProjectionDll binding(CPelProjectionDll::DefaultLibraryFile(), loading);
    for (int i = 0; i < 16; ++i) {
      double X, Y, Z, lat, lon, h;
      binding.SetEllipsoid(6378137.0, 6356752.314140347);
      binding.GeographicToCartesian(47.0 + 0.01 * i, 15.0, 400.0, X, Y, Z);
      binding.SetEllipsoid(6377397.155, 6356078.962818189);
      binding.CartesianToGeographic(X, Y, Z, lat, lon, h);
      binding.SetEllipsoid(6377397.155, 6356078.962818189);
      binding.GeographicToCartesian(lat, lon, h, X, Y, Z);
      benchmark::DoNotOptimize(X);
    }
  }
}
BENCHMARK(BM_ProjectionRequestConversions)->Arg(0)->Arg(1)->ArgName("perBinding");

void BM_HelmertAdjust16(benchmark::State& state) {
  C3DTrafo forward;
  forward.SetParameters(1.2e-5, -0.8e-5, 2.3e-5, -577.3, -90.1, -463.9, 1.0 - 2.4e-6);
  C3DTrafo trafo;
  for (int i = 0; i < 16; ++i) {
    const double lat = (47.0 + 0.03 * (i / 4)) * M_PI / 180, lon = (15.0 + 0.04 * (i % 4)) * M_PI / 180;
    const double r = 6378537.0;
    const double X = r * std::cos(lat) * std::cos(lon), Y = r * std::cos(lat) * std::sin(lon),
                 Z = r * std::sin(lat);
    double x, y, z;
    forward.TransformForward(X, Y, Z, x, y, z);
    trafo.AddSourcePoint(std::to_string(i + 1), X, Y, Z);
    trafo.AddTargetPoint(std::to_string(i + 1), x + 0.001 * (i % 3), y, z);
  }
  for (auto _ : state) benchmark::DoNotOptimize(trafo.Adjust());
  state.counters["passes"] = trafo.Passes();
}
BENCHMARK(BM_HelmertAdjust16);

// A country-size geoid grid: 1000 x 1000 nodes.
const std::filesystem::path& LargeGeoidFile() {
  static const std::filesystem::path file = [] {
    const auto path = Scratch("geoid_1000.grd");
    FILE* f = std::fopen(path.c_str(), "w");
    std::fprintf(f, "; benchmark grid\n55 5\n45.01 14.99\n0.01 0.01\n1000 1000\n");
    for (int r = 0; r < 1000; ++r)
      for (int c = 0; c < 1000; ++c)
        std::fprintf(f, "%.6f %.6f %.4f\n", 55 - 0.01 * r, 5 + 0.01 * c,
                     45 + std::sin(r * 0.01) + std::cos(c * 0.013));
    std::fclose(f);
    return path;
  }();
  return file;
}

void BM_GeoidLoad1000x1000(benchmark::State& state) {
  const auto& file = LargeGeoidFile();
  for (auto _ : state) {
    CGeoidGrid grid;
    benchmark::DoNotOptimize(grid.Load(file));
  }
}
BENCHMARK(BM_GeoidLoad1000x1000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_GeoidLookup(benchmark::State& state) {
  static CGeoidGrid grid;
  static const int loaded = grid.Load(LargeGeoidFile());
  if (loaded != 1) state.SkipWithError("load failed");
  double lat = 50.0, lon = 10.0, n = 0.0;
  for (auto _ : state) {
    lat += 0.000137;
    if (lat > 54.0) lat = 46.0;
    benchmark::DoNotOptimize(grid.Lookup(lat, lon, n));
  }
}
BENCHMARK(BM_GeoidLookup);

void BM_OrvelSurface(benchmark::State& state) {
  const auto file = Scratch("surface.orvel");
  {
    FILE* f = std::fopen(file.c_str(), "w");
    std::fprintf(
        f, "ORVELGRID 1\nsouth 46 north 49 west 12 east 18\ndlat 0.05 dlon 0.05\nrows 61 columns 121\n");
    for (int i = 0; i < 61 * 121; ++i) std::fprintf(f, "%.3f\n", 47.0 + 0.001 * i);
    std::fclose(f);
  }
  CORVELDll orvel;
  if (!orvel.Load(ExecutableFolder() / "OrvelMan4.so") || orvel.InitOrvelDB(file.string()) != 1)
    state.SkipWithError("OrvelMan4 not usable");
  OrvelSurfaceValues out;
  double lat = 47.0;
  for (auto _ : state) {
    lat += 0.0001;
    if (lat > 48.5) lat = 47.0;
    benchmark::DoNotOptimize(orvel.GetNFEMbyLatLongH(lat, 15.2, 500.0, 1.0, out));
  }
}
BENCHMARK(BM_OrvelSurface);

}  // namespace
