#include "GaussKruegerSeries.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "PelDegreeTrig.h"

namespace pel {
namespace series {
namespace {

// Exact integer polynomials in e (= e'²) and c (= cos φ), generated at compile
// time by differentiating along the meridian; an overflow would stop the
// compilation rather than give a wrong coefficient.
constexpr int kE = 15;
constexpr int kC = 52;
struct IntPoly {
  std::int64_t a[kE][kC] = {};  // a[j][m]: coefficient of e^j·c^m
};

// out += factor·e^de·c^dc·in
constexpr void AddScaled(IntPoly& out, const IntPoly& in, std::int64_t factor, int de, int dc) {
  for (int j = 0; j + de < kE; ++j)
    for (int m = 0; m + dc < kC; ++m)
      if (in.a[j][m] != 0) out.a[j + de][m + dc] += factor * in.a[j][m];
}

constexpr IntPoly DerivativeC(const IntPoly& p) {
  IntPoly d;
  for (int j = 0; j < kE; ++j)
    for (int m = 1; m < kC; ++m) d.a[j][m - 1] = m * p.a[j][m];
  return d;
}

// d/dq of the derivatives of the meridian arc G(q), with the sign of i^k
// folded in. Odd order k: N·c·P; even order: N·s·c·P.
//   odd → even:  P' = P + c(1 + e c²)·dP/dc
//   even → odd:  P' = (2c² − 1 + e c⁴)·P − c(1 − c²)(1 + e c²)·dP/dc
constexpr std::array<IntPoly, 13> ForwardPolynomials() {
  std::array<IntPoly, 13> p{};
  p[1].a[0][0] = 1;
  for (int k = 1; k < 12; ++k) {
    const IntPoly d = DerivativeC(p[k]);
    IntPoly& n = p[k + 1];
    if (k % 2 == 1) {
      AddScaled(n, p[k], 1, 0, 0);
      AddScaled(n, d, 1, 0, 1);
      AddScaled(n, d, 1, 1, 3);
    } else {
      AddScaled(n, p[k], 2, 0, 2);
      AddScaled(n, p[k], -1, 0, 0);
      AddScaled(n, p[k], 1, 1, 4);
      AddScaled(n, d, -1, 0, 1);
      AddScaled(n, d, -1, 1, 3);
      AddScaled(n, d, 1, 0, 3);
      AddScaled(n, d, 1, 1, 5);
    }
  }
  return p;
}

// d/dx of the derivatives of the isometric latitude Q(x) along the meridian:
// order k is s^(k even)·R_k / (N·c)^k.
//   odd k → even:  R' = k·R − c(1 + e c²)·dR/dc
//   even k → odd:  R' = (1 + e c²)·(k·R + (1 − k)c²·R − c·dR/dc + c³·dR/dc)
//                       − k·e·c²(1 − c²)·R
// The sign of i^k is applied afterwards.
constexpr std::array<IntPoly, 14> InversePolynomials() {
  std::array<IntPoly, 14> r{};
  r[1].a[0][0] = 1;
  for (int k = 1; k < 13; ++k) {
    const IntPoly d = DerivativeC(r[k]);
    IntPoly& n = r[k + 1];
    if (k % 2 == 1) {
      AddScaled(n, r[k], k, 0, 0);
      AddScaled(n, d, -1, 0, 1);
      AddScaled(n, d, -1, 1, 3);
    } else {
      IntPoly t;
      AddScaled(t, r[k], k, 0, 0);
      AddScaled(t, r[k], 1 - k, 0, 2);
      AddScaled(t, d, -1, 0, 1);
      AddScaled(t, d, 1, 0, 3);
      AddScaled(n, t, 1, 0, 0);
      AddScaled(n, t, 1, 1, 2);
      AddScaled(n, r[k], -k, 1, 2);
      AddScaled(n, r[k], k, 1, 4);
    }
  }
  for (int k = 1; k < 14; ++k) {
    // Re(i^k) for the even orders, Im(i^k) for the odd ones.
    const int quarter = (k % 2 == 0) ? k / 2 : (k - 1) / 2;
    if (quarter % 2 == 1)
      for (auto& row : r[k].a)
        for (auto& v : row) v = -v;
  }
  return r;
}

// Only even powers of c occur; store them as powers of w = c².
constexpr OrderPolynomial Flatten(const IntPoly& p) {
  OrderPolynomial out;
  for (int j = 0; j < kE && j <= kMaxEPower; ++j)
    for (int m = 0; m < kC && m / 2 <= kMaxWPower; m += 2) {
      if (p.a[j][m] == 0) continue;
      out.coef[j][m / 2] = static_cast<double>(p.a[j][m]);
      out.ePowers = j + 1;
    }
  return out;
}

constexpr bool OnlyEvenPowersWithinBounds(const IntPoly& p) {
  for (int j = 0; j < kE; ++j)
    for (int m = 0; m < kC; ++m) {
      if (p.a[j][m] == 0) continue;
      if (m % 2 != 0 || j > kMaxEPower || m / 2 > kMaxWPower) return false;
    }
  return true;
}

template <std::size_t K>
constexpr bool AllFit(const std::array<IntPoly, K>& polys) {
  for (const IntPoly& p : polys)
    if (!OnlyEvenPowersWithinBounds(p)) return false;
  return true;
}

template <std::size_t K>
constexpr std::array<OrderPolynomial, K> FlattenAll(const std::array<IntPoly, K>& polys) {
  std::array<OrderPolynomial, K> out{};
  for (std::size_t k = 0; k < K; ++k) out[k] = Flatten(polys[k]);
  return out;
}

constexpr auto kForwardInt = ForwardPolynomials();
constexpr auto kInverseInt = InversePolynomials();
static_assert(AllFit(kForwardInt), "forward coefficient table too small");
static_assert(AllFit(kInverseInt), "inverse coefficient table too small");
constexpr auto kForward = FlattenAll(kForwardInt);
constexpr auto kInverse = FlattenAll(kInverseInt);

}  // namespace

const OrderPolynomial& ForwardOrder(int k) { return kForward[static_cast<std::size_t>(k)]; }
const OrderPolynomial& InverseOrder(int k) { return kInverse[static_cast<std::size_t>(k)]; }

}  // namespace series

namespace {

constexpr std::array<double, 14> InverseFactorials() {
  std::array<double, 14> f{};
  double k = 1.0;
  f[0] = 1.0;
  for (int i = 1; i < 14; ++i) {
    k *= i;
    f[static_cast<std::size_t>(i)] = 1.0 / k;
  }
  return f;
}
constexpr auto kInvFactorial = InverseFactorials();

// The series of one ellipsoid: every order collapsed to a polynomial in
// w = cos²φ alone, with 1/k! folded in. Rebuilt only when e'² changes, which
// for callers that keep to one ellipsoid is never; the values are the same
// as evaluating the two-variable tables at every call.
struct CollapsedOrder {
  double coef[series::kMaxWPower + 1] = {};
  int degree = -1;
};

// Powers of w = cos²φ in order k of the inverse series, read off the table.
constexpr int InverseTerms(int k) {
  const series::OrderPolynomial& p = series::kInverse[static_cast<std::size_t>(k)];
  int terms = 0;
  for (int j = 0; j < p.ePowers; ++j)
    for (int m = 0; m <= series::kMaxWPower; ++m)
      if (p.coef[j][m] != 0.0 && m + 1 > terms) terms = m + 1;
  return terms;
}

// The inverse orders 2j + 2 and 2j + 3 side by side, the shorter padded with
// zeros, so that one pair of lanes evaluates both.
typedef double DoublePair __attribute__((vector_size(16)));
constexpr int kForwardPairs = 6;
constexpr int kInversePairs = 6;
constexpr int kPairTerms = InverseTerms(13);

constexpr bool OddOrderIsTheLongerOfEachPair() {
  for (int j = 0; j < kInversePairs; ++j)
    if (InverseTerms(2 * j + 2) > InverseTerms(2 * j + 3)) return false;
  return InverseTerms(1) == 1;
}
static_assert(OddOrderIsTheLongerOfEachPair(), "pairs of inverse orders sized by the odd one");
static_assert(kPairTerms <= 32, "the powers w, w², w⁴, w⁸, w¹⁶ reach 32 terms only");

struct CollapsedSeries {
  double ep2 = std::numeric_limits<double>::quiet_NaN();
  CollapsedOrder forward[13];
  // The forward orders two at a time, each pair one step of the two sums
  // in l²: lane 0 the even order 2j+2 (northing), lane 1 the odd order 2j+1
  // (easting); a pair runs to the higher degree of its two orders.
  DoublePair forwardPairs[kForwardPairs][series::kMaxWPower + 1] = {};
  int forwardPairDegree[kForwardPairs] = {};
  CollapsedOrder inverse[14];
  DoublePair inversePairs[kInversePairs][kPairTerms] = {};
};

CollapsedOrder Collapse(const series::OrderPolynomial& p, double e, double factor) {
  CollapsedOrder c;
  for (int m = 0; m <= series::kMaxWPower; ++m) {
    double v = 0.0;
    for (int j = p.ePowers - 1; j >= 0; --j) v = v * e + p.coef[j][m];
    c.coef[m] = v * factor;
    if (v != 0.0) c.degree = m;
  }
  return c;
}

const CollapsedSeries& SeriesFor(double ep2) {
  thread_local CollapsedSeries s;
  if (!(s.ep2 == ep2)) {
    for (int k = 1; k <= 12; ++k)
      s.forward[k] = Collapse(series::ForwardOrder(k), ep2, kInvFactorial[static_cast<std::size_t>(k)]);
    for (int j = 0; j < kForwardPairs; ++j) {
      const CollapsedOrder &north = s.forward[2 * j + 2], &east = s.forward[2 * j + 1];
      s.forwardPairDegree[j] = std::max(north.degree, east.degree);
      for (int m = 0; m <= series::kMaxWPower; ++m)
        s.forwardPairs[j][m] = DoublePair{north.coef[m], east.coef[m]};
    }
    for (int k = 1; k <= 13; ++k)
      s.inverse[k] = Collapse(series::InverseOrder(k), ep2, kInvFactorial[static_cast<std::size_t>(k)]);
    for (int j = 0; j < kInversePairs; ++j)
      for (int m = 0; m < kPairTerms; ++m)
        s.inversePairs[j][m] = DoublePair{s.inverse[2 * j + 2].coef[m], s.inverse[2 * j + 3].coef[m]};
    s.ep2 = ep2;
  }
  return s;
}

// Estrin's scheme: c[0] + c[1]·w + … + c[N−1]·w^(N−1) from the powers
// p[k] = w^(2^k), the two halves evaluated side by side, so that the chain of
// dependent operations grows with log N rather than with N.
template <int N, class T>
inline T Estrin(const T* c, const double* p) {
  if constexpr (N == 1) {
    return c[0];
  } else if constexpr (N == 2) {
    return c[0] + c[1] * p[0];
  } else {
    constexpr int half = static_cast<int>(std::bit_floor(static_cast<unsigned>(N - 1)));
    constexpr int level = std::countr_zero(static_cast<unsigned>(half));
    return Estrin<half>(c, p) + Estrin<N - half>(c + half, p) * p[level];
  }
}

template <int J>
inline DoublePair InversePairAt(const CollapsedSeries& series, const double* powersOfW) {
  return Estrin<InverseTerms(2 * J + 3)>(series.inversePairs[J], powersOfW);
}

}  // namespace

PlanePoint GaussKruegerSeriesForward(const Ellipsoid& el, double B, double l) {
  const CollapsedSeries& series = SeriesFor(el.ep2);
  const double phi = B / kRho;
  const double lr = l / kRho;
  const SinCos latitude = SinCosOfDegrees(B);
  const double c = latitude.cos;
  const double s = latitude.sin;
  const double w = c * c;
  const double n = el.N(c);
  const double l2 = lr * lr;

  // Horner in l² over the even (northing) and odd (easting) orders, the
  // two sums side by side, each order itself by Horner in w. Where an order
  // is of lower degree than its pair, its leading coefficients are zero and
  // leave its lane at +0 until its own begin, so every lane takes exactly
  // the steps of the order alone.
  const DoublePair wPair = {w, w}, l2Pair = {l2, l2};
  DoublePair sums = {0.0, 0.0};
  for (int j = kForwardPairs - 1; j >= 0; --j) {
    const DoublePair* coef = series.forwardPairs[j];
    DoublePair order = {0.0, 0.0};
    for (int m = series.forwardPairDegree[j]; m >= 0; --m) order = order * wPair + coef[m];
    sums = sums * l2Pair + order;
  }
  const double north = sums[0] * l2;
  const double east = sums[1] * lr;

  PlanePoint p;
  const double arc = MeridianArcLength(el, phi, s, c);
  p.x = (B < 0.0 ? -arc : arc) + n * s * c * north;
  p.y = n * c * east;
  return p;
}

GeoPoint GaussKruegerSeriesInverse(const Ellipsoid& el, double y, double x) {
  const CollapsedSeries& series = SeriesFor(el.ep2);
  Latitude foot = FootpointLatitude(el, std::fabs(x));
  if (x < 0.0) {
    foot.phi = -foot.phi;
    foot.sin = -foot.sin;
  }
  const double c = foot.cos;
  const double s = foot.sin;
  const double w = c * c;
  // u = y/(N·cosφ) with N = c/V: the root and the division side by side.
  const double u = y * el.V(c) / (el.c * c);
  const double u2 = u * u;

  // q − qf (even orders) and l (odd orders), each a polynomial in u².
  const double w2 = w * w;
  const double w4 = w2 * w2;
  const double w8 = w4 * w4;
  const double powersOfW[5] = {w, w2, w4, w8, w8 * w8};
  const DoublePair pairs[kInversePairs] = {
      InversePairAt<0>(series, powersOfW), InversePairAt<1>(series, powersOfW),
      InversePairAt<2>(series, powersOfW), InversePairAt<3>(series, powersOfW),
      InversePairAt<4>(series, powersOfW), InversePairAt<5>(series, powersOfW)};
  const double u4 = u2 * u2;
  const double powersOfU2[3] = {u2, u4, u4 * u4};
  // Lane 0: Σ P_(2j+2)·u^(2j); lane 1: Σ P_(2j+3)·u^(2j), P_1 being 1.
  const DoublePair sum = Estrin<kInversePairs>(pairs, powersOfU2);
  const double q = u2 * s * sum[0];
  const double l = u * (series.inverse[1].coef[0] + u2 * sum[1]);

  // Start the iteration next to its root: the Taylor expansion of φ(q)
  // about the footpoint through the third order. With g = dφ/dq =
  // cosφ·(1 + e'²cos²φ), the next derivatives are g·g' and
  // g·(g'² + g·g''), where g' = −sinφ·(1 + 3e'²cos²φ) and
  // g'' = −cosφ·(1 − 6e'² + 9e'²cos²φ) are taken along φ.
  const double e = el.ep2;
  const double g = c * (1.0 + e * w);
  const double g1 = -s * (1.0 + 3.0 * e * w);
  const double g2 = -c * (1.0 - 6.0 * e + 9.0 * e * w);
  const double d2 = g * g1;
  const double d3 = g * (g1 * g1 + g * g2);
  const double start = foot.phi + q * (g + q * (0.5 * d2 + q * (d3 * (1.0 / 6))));
  GeoPoint p;
  p.B = LatitudeFromIsometricOffset(el, foot, q, start) * kRho;
  p.l = l * kRho;
  return p;
}

}  // namespace pel
