// Conversions per second of BL_to_EN_GK, EN_to_BL_GK, BLH_to_XYZ and
// XYZ_to_BLH, each next to PROJ's tmerc or cart on the same points; and the
// array conversions next to single calls with the state pushed before each,
// as the server converts a request's 16 grid nodes.

#include <benchmark/benchmark.h>
#include <proj.h>

#include <random>
#include <vector>

#include "PelProjection.h"

namespace {

constexpr double kA = 6377397.155;  // Bessel 1841
constexpr double kRf = 299.1528128;
const double kB = kA * (1.0 - 1.0 / kRf);
constexpr double kL0 = 13.333333333333334;
constexpr int kPoints = 4096;

struct Points {
  std::vector<double> lat, lon, h;  // degrees, metres
  std::vector<double> e, n;         // GK of the points
  std::vector<double> x, y, z;      // Cartesian of the points
};

void PushState() { InitializeDLL(kL0, 0, 0, kA, kB, 0, 0, 0, 0, 0, 0, 99); }

const Points& SamplePoints() {
  static const Points p = [] {
    Points q;
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> lat(46.0, 49.0), dl(-3.0, 3.0), h(0.0, 3000.0);
    PushState();
    for (int i = 0; i < kPoints; ++i) {
      q.lat.push_back(lat(rng));
      q.lon.push_back(kL0 + dl(rng));
      q.h.push_back(h(rng));
      double e, n, x, y, z;
      BL_to_EN_GK(q.lat.back(), q.lon.back(), &e, &n);
      BLH_to_XYZ(q.lat.back(), q.lon.back(), q.h.back(), &x, &y, &z);
      q.e.push_back(e);
      q.n.push_back(n);
      q.x.push_back(x);
      q.y.push_back(y);
      q.z.push_back(z);
    }
    return q;
  }();
  return p;
}

class ProjOperation {
 public:
  explicit ProjOperation(const char* definition)
      : ctx_(proj_context_create()), pj_(proj_create(ctx_, definition)) {}
  ~ProjOperation() {
    proj_destroy(pj_);
    proj_context_destroy(ctx_);
  }
  PJ* get() const { return pj_; }

 private:
  PJ_CONTEXT* ctx_;
  PJ* pj_;
};

const char* kTmerc =
    "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad +step +proj=tmerc "
    "+lon_0=13.333333333333334 +k_0=1 +ellps=bessel";
const char* kCart =
    "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad +step +proj=cart "
    "+ellps=bessel";

void BM_Pel_BL_to_EN_GK(benchmark::State& state) {
  const Points& p = SamplePoints();
  PushState();
  size_t i = 0;
  for (auto _ : state) {
    double e, n;
    BL_to_EN_GK(p.lat[i], p.lon[i], &e, &n);
    benchmark::DoNotOptimize(e);
    benchmark::DoNotOptimize(n);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Proj_tmerc_forward(benchmark::State& state) {
  const Points& p = SamplePoints();
  ProjOperation op(kTmerc);
  size_t i = 0;
  for (auto _ : state) {
    PJ_COORD c = proj_trans(op.get(), PJ_FWD, proj_coord(p.lon[i], p.lat[i], 0, 0));
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Pel_EN_to_BL_GK(benchmark::State& state) {
  const Points& p = SamplePoints();
  PushState();
  size_t i = 0;
  for (auto _ : state) {
    double b, l;
    EN_to_BL_GK(p.e[i], p.n[i], &b, &l);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(l);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Proj_tmerc_inverse(benchmark::State& state) {
  const Points& p = SamplePoints();
  ProjOperation op(kTmerc);
  size_t i = 0;
  for (auto _ : state) {
    PJ_COORD c = proj_trans(op.get(), PJ_INV, proj_coord(p.e[i], p.n[i], 0, 0));
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Pel_BLH_to_XYZ(benchmark::State& state) {
  const Points& p = SamplePoints();
  PushState();
  size_t i = 0;
  for (auto _ : state) {
    double x, y, z;
    BLH_to_XYZ(p.lat[i], p.lon[i], p.h[i], &x, &y, &z);
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(y);
    benchmark::DoNotOptimize(z);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Proj_cart_forward(benchmark::State& state) {
  const Points& p = SamplePoints();
  ProjOperation op(kCart);
  size_t i = 0;
  for (auto _ : state) {
    PJ_COORD c = proj_trans(op.get(), PJ_FWD, proj_coord(p.lon[i], p.lat[i], p.h[i], 0));
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Pel_XYZ_to_BLH(benchmark::State& state) {
  const Points& p = SamplePoints();
  PushState();
  size_t i = 0;
  for (auto _ : state) {
    double b, l, h;
    XYZ_to_BLH(p.x[i], p.y[i], p.z[i], &b, &l, &h);
    benchmark::DoNotOptimize(b);
    benchmark::DoNotOptimize(l);
    benchmark::DoNotOptimize(h);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Proj_cart_inverse(benchmark::State& state) {
  const Points& p = SamplePoints();
  ProjOperation op(kCart);
  size_t i = 0;
  for (auto _ : state) {
    PJ_COORD c = proj_trans(op.get(), PJ_INV, proj_coord(p.x[i], p.y[i], p.z[i], 0));
    benchmark::DoNotOptimize(c);
    i = (i + 1) % kPoints;
  }
  state.SetItemsProcessed(state.iterations());
}

// count points per iteration (the argument), through single calls with the
// whole state pushed before each, or through one push and the array export.
void BM_Pel_XYZ_to_BLH_Single(benchmark::State& state) {
  const Points& p = SamplePoints();
  const int count = static_cast<int>(state.range(0));
  std::vector<double> b(count), l(count), h(count);
  size_t start = 0;
  for (auto _ : state) {
    for (int k = 0; k < count; ++k) {
      PushState();
      XYZ_to_BLH(p.x[start + k], p.y[start + k], p.z[start + k], &b[k], &l[k], &h[k]);
    }
    benchmark::DoNotOptimize(b.data());
    start = (start + count) % (kPoints - count);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_Pel_XYZ_to_BLH_Points(benchmark::State& state) {
  const Points& p = SamplePoints();
  const int count = static_cast<int>(state.range(0));
  std::vector<double> b(count), l(count), h(count);
  size_t start = 0;
  for (auto _ : state) {
    PushState();
    XYZ_to_BLH_Points(count, &p.x[start], &p.y[start], &p.z[start], b.data(), l.data(), h.data());
    benchmark::DoNotOptimize(b.data());
    start = (start + count) % (kPoints - count);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_Pel_BLH_to_XYZ_Single(benchmark::State& state) {
  const Points& p = SamplePoints();
  const int count = static_cast<int>(state.range(0));
  std::vector<double> x(count), y(count), z(count);
  size_t start = 0;
  for (auto _ : state) {
    for (int k = 0; k < count; ++k) {
      PushState();
      BLH_to_XYZ(p.lat[start + k], p.lon[start + k], p.h[start + k], &x[k], &y[k], &z[k]);
    }
    benchmark::DoNotOptimize(x.data());
    start = (start + count) % (kPoints - count);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void BM_Pel_BLH_to_XYZ_Points(benchmark::State& state) {
  const Points& p = SamplePoints();
  const int count = static_cast<int>(state.range(0));
  std::vector<double> x(count), y(count), z(count);
  size_t start = 0;
  for (auto _ : state) {
    PushState();
    BLH_to_XYZ_Points(count, &p.lat[start], &p.lon[start], &p.h[start], x.data(), y.data(), z.data());
    benchmark::DoNotOptimize(x.data());
    start = (start + count) % (kPoints - count);
  }
  state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_Pel_XYZ_to_BLH_Single)->Arg(1)->Arg(16);
BENCHMARK(BM_Pel_XYZ_to_BLH_Points)->Arg(1)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_Pel_BLH_to_XYZ_Single)->Arg(16);
BENCHMARK(BM_Pel_BLH_to_XYZ_Points)->Arg(16);
BENCHMARK(BM_Pel_BL_to_EN_GK);
BENCHMARK(BM_Proj_tmerc_forward);
BENCHMARK(BM_Pel_EN_to_BL_GK);
BENCHMARK(BM_Proj_tmerc_inverse);
BENCHMARK(BM_Pel_BLH_to_XYZ);
BENCHMARK(BM_Proj_cart_forward);
BENCHMARK(BM_Pel_XYZ_to_BLH);
BENCHMARK(BM_Proj_cart_inverse);
