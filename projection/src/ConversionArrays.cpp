// The ellipsoid conversions for whole arrays of points.
//
// XYZ_to_BLH is a chain of dependent divisions and square roots, so one
// point leaves the CPU's division and square-root units mostly idle. Here
// several points run through the same rounds side by side, two to a vector
// register, and the units work on all of them at once. Every lane performs
// exactly the operations of the single-point function in the same order
// (IEEE division and square root round the same in vector and scalar form),
// keeps its own rounds and stops by the same test; a lane that has stopped
// keeps its values while the others go on. So each point's result is that of
// XYZ_to_BLH, bit for bit, and so is the rule that the north polar cap leaves
// a point's outputs untouched.

#include <bit>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Ellipsoid.h"
#include "EllipsoidConversions.h"
#include "PelProjection.h"

using pel::Ellipsoid;
using pel::kRho;

namespace {

// The single-point iteration's bound on rounds.
constexpr int kMaxBLHRounds = 100;
// The cap the single-point function refuses: b - Z <= this (metres).
constexpr double kPolarCap = 95000.0;
// Stopping tolerances of the iteration (metres of height; the tangent's is
// this over a, scaled by 1 + t²).
constexpr double kTolerance = 0.00005;

// Two lanes per register; a group is up to kMaxRegisters registers wide.
// Four registers (eight points) keep the units busy across the chain's
// latency; fewer points take fewer registers.
// Lane masks are registers of the same type, all bits set or clear per lane.
using Lanes = double __attribute__((vector_size(16)));
constexpr int kLanesPerRegister = 2;
constexpr int kMaxRegisters = 4;
constexpr int kMaxGroup = kLanesPerRegister * kMaxRegisters;

inline Lanes Splat(double v) { return Lanes{v, v}; }

#if defined(__SSE2__)
inline __m128d M(Lanes x) { return reinterpret_cast<__m128d>(x); }
inline Lanes V(__m128d x) { return reinterpret_cast<Lanes>(x); }
inline Lanes Sqrt(Lanes x) { return V(_mm_sqrt_pd(M(x))); }
inline Lanes Less(Lanes x, Lanes y) { return V(_mm_cmplt_pd(M(x), M(y))); }
inline Lanes And(Lanes x, Lanes y) { return V(_mm_and_pd(M(x), M(y))); }
inline Lanes AndNot(Lanes x, Lanes notY) { return V(_mm_andnot_pd(M(notY), M(x))); }
inline Lanes Or(Lanes x, Lanes y) { return V(_mm_or_pd(M(x), M(y))); }
inline bool Any(Lanes mask) { return _mm_movemask_pd(M(mask)) != 0; }
#else
using Bits = long long __attribute__((vector_size(16)));
inline Bits I(Lanes x) { return reinterpret_cast<Bits>(x); }
inline Lanes D(Bits x) { return reinterpret_cast<Lanes>(x); }
inline Lanes Sqrt(Lanes x) { return Lanes{std::sqrt(x[0]), std::sqrt(x[1])}; }
inline Lanes Less(Lanes x, Lanes y) { return D(Bits{x[0] < y[0] ? -1LL : 0LL, x[1] < y[1] ? -1LL : 0LL}); }
inline Lanes And(Lanes x, Lanes y) { return D(I(x) & I(y)); }
inline Lanes AndNot(Lanes x, Lanes notY) { return D(I(x) & ~I(notY)); }
inline Lanes Or(Lanes x, Lanes y) { return D(I(x) | I(y)); }
inline bool Any(Lanes mask) { return (I(mask)[0] | I(mask)[1]) != 0; }
#endif

// |x| as std::fabs gives it: the sign bit cleared.
inline Lanes Abs(Lanes x) { return AndNot(x, Splat(-0.0)); }
inline Lanes Select(Lanes mask, Lanes ifSet, Lanes ifClear) {
  return Or(And(mask, ifSet), AndNot(ifClear, mask));
}
inline Lanes Mask(bool first, bool second) {
  const double set = std::bit_cast<double>(~0ULL);
  return Lanes{first ? set : 0.0, second ? set : 0.0};
}

// Up to kGroup points (count of them, 1..kGroup) from index 0 of the arrays.
template <int kRegisters>
void CartesianToGeographicGroup(const Ellipsoid& el, int count, const double* X, const double* Y,
                                const double* Z, double* B, double* L, double* H) {
  // Read everything first: an output array may be one of the input arrays.
  constexpr int kGroup = kLanesPerRegister * kRegisters;
  double x[kGroup], y[kGroup], z[kGroup];
  bool convert[kGroup];
  for (int i = 0; i < kGroup; ++i) {
    // Lanes beyond count carry a harmless point and are never written.
    const bool real = i < count;
    x[i] = real ? X[i] : 1.0;
    y[i] = real ? Y[i] : 0.0;
    z[i] = real ? Z[i] : 0.0;
    convert[i] = real && !(el.b - z[i] <= kPolarCap);
  }

  // The longitudes do not depend on the iteration: worked out first, they
  // run beside its chain of divisions and roots.
  double longitude[kGroup];
  for (int i = 0; i < kGroup; ++i)
    if (convert[i]) longitude[i] = std::atan2(y[i], x[i]) * kRho;

  const double onePlusEp2 = 1.0 + el.ep2;
  const Lanes ep2 = Splat(el.ep2), c = Splat(el.c), a = Splat(el.a);
  const Lanes one = Splat(1.0), tolerance = Splat(kTolerance);
  Lanes p[kRegisters], t0[kRegisters], t[kRegisters], h[kRegisters];
  Lanes active[kRegisters];
  for (int r = 0; r < kRegisters; ++r) {
    const int i = r * kLanesPerRegister;
    const Lanes xv{x[i], x[i + 1]}, yv{y[i], y[i + 1]}, zv{z[i], z[i + 1]};
    p[r] = Sqrt(xv * xv + yv * yv);
    t0[r] = zv * onePlusEp2 / p[r];
    t[r] = t0[r];
    h[r] = Splat(0.0);
    active[r] = Mask(convert[i], convert[i + 1]);
  }

  for (int round = 0; round < kMaxBLHRounds; ++round) {
    Lanes any = active[0];
    for (int r = 1; r < kRegisters; ++r) any = Or(any, active[r]);
    if (!Any(any)) break;
#pragma GCC unroll 4
    for (int r = 0; r < kRegisters; ++r) {
      // The division and root units are what limits the group: a register
      // whose points have all stopped leaves them to the others.
      if (!Any(active[r])) continue;
      const Lanes cos2 = one / (one + t[r] * t[r]);
      const Lanes n = c / Sqrt(one + ep2 * cos2);
      const Lanes hNew = p[r] / Sqrt(cos2) - n;
      const Lanes tNew = t0[r] / (one + ep2 * hNew / (n + hNew));
      // The tangent's test decides only where the height's has passed (as
      // the single-point function's && skips it), so its division waits
      // for a lane that needs it.
      Lanes done = And(Less(Abs(hNew - h[r]), tolerance), active[r]);
      if (Any(done)) done = And(done, Less(Abs(tNew - t[r]), (one + tNew * tNew) * tolerance / a));
      h[r] = Select(active[r], hNew, h[r]);
      t[r] = Select(active[r], tNew, t[r]);
      active[r] = AndNot(active[r], done);
    }
  }

  for (int r = 0; r < kRegisters; ++r) {
    for (int k = 0; k < kLanesPerRegister; ++k) {
      const int i = r * kLanesPerRegister + k;
      if (!convert[i]) continue;
      H[i] = h[r][k];
      L[i] = longitude[i];
      B[i] = std::atan(t[r][k]) * kRho;
    }
  }
}

// The sines and cosines of the last few angles seen, by the bits of the
// angle in degrees: the points of a grid share their rows' latitudes and
// their columns' longitudes, and the same angle gives the same bits.
class RecentSinCos {
 public:
  // The values of an angle seen lately, or null.
  const pel::SinCos* Find(double degrees) const {
    const std::uint64_t key = std::bit_cast<std::uint64_t>(degrees);
    for (int k = 0; k < filled_; ++k)
      if (keys_[k] == key) return &values_[k];
    return nullptr;
  }
  void Note(double degrees, const pel::SinCos& value) {
    keys_[next_] = std::bit_cast<std::uint64_t>(degrees);
    values_[next_] = value;
    next_ = (next_ + 1) % kEntries;
    if (filled_ < kEntries) ++filled_;
  }

 private:
  static constexpr int kEntries = 4;
  std::uint64_t keys_[kEntries] = {};
  pel::SinCos values_[kEntries];
  int filled_ = 0;
  int next_ = 0;
};

// The latitude's and the longitude's values from the recent ones where
// there, the others worked out (both at once where both are new).
void SinCosOfPoint(RecentSinCos& latitudes, RecentSinCos& longitudes, double b, double l,
                   pel::SinCos& latitude, pel::SinCos& longitude) {
  const pel::SinCos* seenB = latitudes.Find(b);
  const pel::SinCos* seenL = longitudes.Find(l);
  if (seenB != nullptr && seenL != nullptr) {
    latitude = *seenB;
    longitude = *seenL;
    return;
  }
  if (seenB == nullptr && seenL == nullptr) {
    pel::SinCosOfDegrees(b, l, latitude, longitude);
  } else {
    latitude = seenB != nullptr ? *seenB : pel::SinCosOfDegrees(b);
    longitude = seenL != nullptr ? *seenL : pel::SinCosOfDegrees(l);
  }
  if (seenB == nullptr) latitudes.Note(b, latitude);
  if (seenL == nullptr) longitudes.Note(l, longitude);
}

}  // namespace

extern "C" {

void BLH_to_XYZ_Points(int count, const double* B, const double* L, const double* H, double* X, double* Y,
                       double* Z) {
  if (count <= 0) return;
  const Ellipsoid el = Ellipsoid::FromState();
  RecentSinCos latitudes, longitudes;
  for (int i = 0; i < count; ++i) {
    // Copied first: an output array may be one of the input arrays.
    const double b = B[i], l = L[i], h = H[i];
    pel::SinCos latitude, longitude;
    SinCosOfPoint(latitudes, longitudes, b, l, latitude, longitude);
    pel::GeographicToCartesian(el, latitude, longitude, h, X[i], Y[i], Z[i]);
  }
}

void XYZ_to_BLH_Points(int count, const double* X, const double* Y, const double* Z, double* B, double* L,
                       double* H) {
  if (count <= 0) return;
  const Ellipsoid el = Ellipsoid::FromState();
  for (int i = 0; i < count; i += kMaxGroup) {
    const int n = count - i < kMaxGroup ? count - i : kMaxGroup;
    // As few registers as the points need.
    if (n > 8)
      CartesianToGeographicGroup<kMaxRegisters>(el, n, X + i, Y + i, Z + i, B + i, L + i, H + i);
    else if (n > 4)
      CartesianToGeographicGroup<4>(el, n, X + i, Y + i, Z + i, B + i, L + i, H + i);
    else if (n > 2)
      CartesianToGeographicGroup<2>(el, n, X + i, Y + i, Z + i, B + i, L + i, H + i);
    else
      CartesianToGeographicGroup<1>(el, n, X + i, Y + i, Z + i, B + i, L + i, H + i);
  }
}

}  // extern "C"
