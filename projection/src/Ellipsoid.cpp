#include "Ellipsoid.h"

#include <bit>
#include <cstdint>

#include "ProjectionState.h"

namespace pel {

namespace {

// Every iteration of the library ends after a fixed number of rounds, so
// non-finite or absurd input returns in bounded time.
constexpr int kMaxArcRounds = 100;
constexpr int kMaxIsometricRounds = 100;

// Angles up to this size (radians) are turned by their Taylor polynomials.
constexpr double kSmallTurn = 0.01;

// sin d and cos d − 1 for |d| ≤ kSmallTurn, exact to double precision (the
// first neglected terms are below 3e-24). Moving a known sine and cosine by
// such a d costs a few multiplications instead of two library calls.
struct SmallTurn {
  double sin;
  double cosMinusOne;
};

inline SmallTurn TurnBy(double d) {
  const double d2 = d * d;
  // Below 1e-6 rad (a Newton step's final correction) the first terms
  // suffice: what they leave is below 2e-19.
  if (std::fabs(d) <= 1e-6) return {d, -0.5 * d2};
  const double d4 = d2 * d2;
  SmallTurn t;
  t.sin = d + d * d2 * ((-1.0 / 6 + d2 * (1.0 / 120)) + d4 * (-1.0 / 5040));
  t.cosMinusOne = d2 * ((-1.0 / 2 + d2 * (1.0 / 24)) + d4 * (-1.0 / 720 + d2 * (1.0 / 40320)));
  return t;
}

// The latitude `from` moved by d, its sine and cosine from the angle sum.
inline Latitude Turned(const Latitude& from, double d) {
  Latitude to;
  to.phi = from.phi + d;
  if (std::fabs(d) <= kSmallTurn) {
    const SmallTurn t = TurnBy(d);
    to.sin = from.sin + (from.sin * t.cosMinusOne + from.cos * t.sin);
    to.cos = from.cos + (from.cos * t.cosMinusOne - from.sin * t.sin);
  } else {
    to.sin = std::sin(to.phi);
    to.cos = std::cos(to.phi);
  }
  return to;
}

// atanh for the small arguments e·sinφ (|x| ≤ e ≈ 0.08 on the Earth's
// ellipsoids): its odd power series, exact to double precision for |x| ≤ 0.1
// (and its first five terms for |x| ≤ 0.01).
inline double AtanhOfEccentricTerm(double x) {
  const double x2 = x * x;
  if (std::fabs(x) <= 0.01) {
    const double x4 = x2 * x2;
    return x + x * x2 * ((1.0 / 3 + x2 * (1.0 / 5)) + x4 * (1.0 / 7 + x2 * (1.0 / 9)));
  }
  if (!(std::fabs(x) <= 0.1)) return std::atanh(x);
  static constexpr double kInverseOdd[10] = {1.0,      1.0 / 3,  1.0 / 5,  1.0 / 7,  1.0 / 9,
                                             1.0 / 11, 1.0 / 13, 1.0 / 15, 1.0 / 17, 1.0 / 19};
  double sum = kInverseOdd[9];
  for (int k = 8; k >= 0; --k) sum = sum * x2 + kInverseOdd[k];
  return x * sum;
}

// asinh through the plain logarithm, which is markedly cheaper than the
// library's asinh; odd symmetry keeps it free of cancellation. Below 0.01
// its power series (neglected terms below 3e-22 relative) needs no logarithm.
inline double Asinh(double x) {
  const double ax = std::fabs(x);
  if (ax <= 0.01) {
    const double x2 = x * x;
    const double x4 = x2 * x2;
    return x + x * x2 * ((-1.0 / 6 + x2 * (3.0 / 40)) + x4 * (-5.0 / 112 + x2 * (35.0 / 1152)));
  }
  if (!(ax <= 1e8)) return std::asinh(x);
  const double r = std::log(ax + std::sqrt(ax * ax + 1.0));
  return x < 0.0 ? -r : r;
}

}  // namespace

Ellipsoid Ellipsoid::FromState() {
  ProjectionState& s = State();
  EllipsoidCache& cache = s.ellipsoids;
  // Compared bit for bit: ±0 and NaN axes derive different values.
  const std::uint64_t a = std::bit_cast<std::uint64_t>(s.A);
  const std::uint64_t b = std::bit_cast<std::uint64_t>(s.B);
  const auto matches = [a, b](const Ellipsoid& e) {
    return std::bit_cast<std::uint64_t>(e.a) == a && std::bit_cast<std::uint64_t>(e.b) == b;
  };
  if (cache.filled > 0 && matches(cache.entries[cache.last])) return cache.entries[cache.last];
  for (int i = 0; i < cache.filled; ++i) {
    if (matches(cache.entries[i])) {
      cache.last = i;
      return cache.entries[i];
    }
  }
  const Ellipsoid derived = FromAxes(s.A, s.B);
  if (cache.filled < EllipsoidCache::kEntries) {
    cache.last = cache.filled++;
  } else {
    cache.last = cache.next;
    cache.next = (cache.next + 1) % EllipsoidCache::kEntries;
  }
  cache.entries[cache.last] = derived;
  return derived;
}

// c·∫₀^φ (1 + e'²cos²ψ)^(−3/2) dψ, binomial series through e'¹²:
// G = c·Σ k_n·e'^(2n)·I_n with I_n = sinφ·cos^(2n−1)φ/(2n) + (2n−1)/(2n)·I_(n−1).
double MeridianArcLength(const Ellipsoid& el, double phiDeg) {
  const double phi = phiDeg / kRho;
  return MeridianArcLength(el, phi, std::sin(phi), std::cos(phi));
}

double MeridianArcLength(const Ellipsoid& el, double phi, double s, double co) {
  // Binomial coefficients of the exponent −3/2, 1/(2n) and (2n−1)/(2n).
  static constexpr double k[7] = {1.0, -1.5, 1.875, -2.1875, 2.4609375, -2.70703125, 2.9326171875};
  static constexpr double kHalfInverse[7] = {0.0, 1.0 / 2, 1.0 / 4, 1.0 / 6, 1.0 / 8, 1.0 / 10, 1.0 / 12};
  static constexpr double kRatio[7] = {0.0, 1.0 / 2, 3.0 / 4, 5.0 / 6, 7.0 / 8, 9.0 / 10, 11.0 / 12};
  const double co2 = co * co;
  double integral = phi;  // I_0
  double cosPow = co;     // cos^(2n−1)
  double ep2Pow = 1.0;
  double sum = integral;
  for (int n = 1; n <= 6; ++n) {
    integral = s * cosPow * kHalfInverse[n] + kRatio[n] * integral;
    cosPow *= co2;
    ep2Pow *= el.ep2;
    sum += k[n] * ep2Pow * integral;
  }
  return std::fabs(el.c * sum);
}

double LatitudeFromArc(const Ellipsoid& el, double x) { return FootpointLatitude(el, x).phi * kRho; }

namespace {

// What the footpoint latitude needs of one ellipsoid: the coefficients of
// its start series and the meridian arc regrouped as
// G = A·φ + sinφ·cosφ·Σ_j g_j·cos^(2j)φ (the same binomial series, its
// recurrence for I_n unrolled once). They depend on the semi-axes alone and
// are kept per thread for the last ellipsoid seen, so a caller that keeps to
// one ellipsoid derives them once.
struct FootpointSeries {
  bool filled = false;
  double a = 0.0;
  double b = 0.0;
  // φ = μ + Σ b_k·sin 2kμ written as μ + sin 2μ·Σ p_j·cos^j 2μ, since
  // sin 2kμ = sin 2μ·U_(k−1)(cos 2μ) with the Chebyshev polynomials U.
  double start[5] = {};
  double muPerMetre = 0;  // 1/A
  double arcLinear = 0;   // A
  double arcPeriodic[6] = {};
  double inverseC = 0;  // 1/c
};

const FootpointSeries& FootpointSeriesFor(const Ellipsoid& el) {
  thread_local FootpointSeries f;
  // Compared bit for bit: ±0 and NaN axes derive different values.
  const auto same = [](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  };
  if (f.filled && same(f.a, el.a) && same(f.b, el.b)) return f;
  // The series inverse of the rectifying latitude μ in the third
  // flattening n, through n⁵; what it leaves, of the order n⁶, is some
  // 1e-17 rad on the Earth's ellipsoids.
  const double n = (el.a - el.b) / (el.a + el.b);
  const double n2 = n * n;
  const double b1 = n * (1.5 + n2 * (-27.0 / 32 + n2 * (269.0 / 512)));
  const double b2 = n2 * (21.0 / 16 + n2 * (-55.0 / 32));
  const double b3 = n2 * n * (151.0 / 96 + n2 * (-417.0 / 128));
  const double b4 = n2 * n2 * (1097.0 / 512);
  const double b5 = n2 * n2 * n * (8011.0 / 2560);
  f.start[0] = b1 - b3 + b5;
  f.start[1] = 2.0 * b2 - 4.0 * b4;
  f.start[2] = 4.0 * b3 - 12.0 * b5;
  f.start[3] = 8.0 * b4;
  f.start[4] = 16.0 * b5;
  // I_n = r_n·φ + sinφ·Σ_{j≤n} α_nj·cos^(2j−1)φ with α_nn = 1/(2n) and
  // α_nj = (2n−1)/(2n)·α_(n−1)j, r_n = (2n−1)/(2n)·r_(n−1).
  static constexpr double k[7] = {1.0, -1.5, 1.875, -2.1875, 2.4609375, -2.70703125, 2.9326171875};
  double alpha[7] = {};
  double r = 1.0;
  double ep2Pow = 1.0;
  double linear = 1.0;
  double periodic[6] = {};
  for (int m = 1; m <= 6; ++m) {
    const double ratio = (2.0 * m - 1.0) / (2.0 * m);
    for (int j = 1; j < m; ++j) alpha[j] *= ratio;
    alpha[m] = 1.0 / (2.0 * m);
    r *= ratio;
    ep2Pow *= el.ep2;
    linear += k[m] * ep2Pow * r;
    for (int j = 1; j <= m; ++j) periodic[j - 1] += k[m] * ep2Pow * alpha[j];
  }
  f.arcLinear = el.c * linear;
  f.muPerMetre = 1.0 / f.arcLinear;
  for (int j = 0; j < 6; ++j) f.arcPeriodic[j] = el.c * periodic[j];
  f.inverseC = 1.0 / el.c;
  f.a = el.a;
  f.b = el.b;
  f.filled = true;
  return f;
}

// The regrouped arc, its polynomial in cos²φ in Estrin's form.
double RegroupedArc(const FootpointSeries& f, const Latitude& at) {
  const double w = at.cos * at.cos;
  const double w2 = w * w;
  const double* g = f.arcPeriodic;
  const double sum = (g[0] + g[1] * w) + w2 * ((g[2] + g[3] * w) + w2 * (g[4] + g[5] * w));
  return f.arcLinear * at.phi + at.sin * at.cos * sum;
}

}  // namespace

Latitude FootpointLatitude(const Ellipsoid& el, double x) {
  const FootpointSeries& series = FootpointSeriesFor(el);
  const double mu = x * series.muPerMetre;
  const double sinMu = std::sin(mu);
  const double cosMu = std::cos(mu);
  const double cos2Mu = (cosMu - sinMu) * (cosMu + sinMu);
  const double cos2Mu2 = cos2Mu * cos2Mu;
  const double* p = series.start;
  const double sum = (p[0] + p[1] * cos2Mu) + cos2Mu2 * ((p[2] + p[3] * cos2Mu) + cos2Mu2 * p[4]);
  Latitude f = Turned({mu, sinMu, cosMu}, 2.0 * sinMu * cosMu * sum);
  for (int round = 0; round < kMaxArcRounds; ++round) {
    // Newton steps: the arc grows by the meridian radius M(φ) = c/V(φ)³.
    // (The radius at φ/2 would converge to the same latitude, only
    // linearly and in about twice the rounds.)
    const double v = el.V(f.cos);
    const double delta = (x - RegroupedArc(series, f)) * v * v * v * series.inverseC;
    // Done once a step falls below 1e-15 rad, or once the quadratic
    // convergence of Newton's method bounds the error left after this
    // step, (3/4)·e'²·Δ², below 1e-17 rad; NaN ends it too.
    if (!(std::fabs(delta) >= 1e-15) || !(0.75 * el.ep2 * delta * delta >= 1e-17)) {
      f = Turned(f, delta);
      break;
    }
    f.phi += delta;
    f.sin = std::sin(f.phi);
    f.cos = std::cos(f.phi);
  }
  return f;
}

double SignedMeridianArc(const Ellipsoid& el, double phiDeg) {
  const double g = MeridianArcLength(el, phiDeg);
  return phiDeg < 0.0 ? -g : g;
}

double LatitudeFromSignedArc(const Ellipsoid& el, double x) {
  const double phi = LatitudeFromArc(el, std::fabs(x));
  return x < 0.0 ? -phi : phi;
}

double IsometricLatitude(const Ellipsoid& el, double phi) {
  // ln tan(π/4 + φ/2) − (e/2)·ln((1 + e·sinφ)/(1 − e·sinφ)), written as
  // asinh(tan φ) − e·atanh(e·sinφ): the same function, exact at the equator
  // and as well conditioned near the poles.
  return IsometricLatitude(el, std::sin(phi), std::cos(phi));
}

double IsometricLatitude(const Ellipsoid& el, double s, double c) {
  return Asinh(s / c) - el.e * AtanhOfEccentricTerm(el.e * s);
}

double LatitudeFromIsometric(const Ellipsoid& el, double q) {
  return LatitudeFromIsometric(el, q, 2.0 * std::atan(std::exp(q)) - 2.0 * (kPi / 4.0));
}

double LatitudeFromIsometric(const Ellipsoid& el, double q, double start) {
  const double ep2 = el.e2 / (1.0 - el.e2);
  auto step = [&](double phi) {
    const double s = std::sin(phi);
    const double co = std::cos(phi);
    return phi + co * (q - IsometricLatitude(el, s, co)) * (1.0 + ep2 * co * co);
  };
  double phi = start;
  double next = step(phi);
  double lastChange = std::fabs(next - phi);
  for (int round = 1; round <= kMaxIsometricRounds && lastChange > 1e-16; ++round) {
    phi = next;
    next = step(phi);
    const double change = std::fabs(next - phi);
    // Converged to the last bit: a step that no longer shrinks is
    // rounding noise bouncing between neighbouring doubles.
    if (change < 1e-14 && change >= lastChange) {
      lastChange = change;
      break;
    }
    lastChange = change;
  }
  return next;
}

double LatitudeFromIsometricOffset(const Ellipsoid& el, const Latitude& from, double dq, double start) {
  const double ep2 = el.e2 / (1.0 - el.e2);
  double phi = start;
  for (int round = 0; round <= kMaxIsometricRounds; ++round) {
    // φ with its sine and cosine, and sin φ − sin φ' kept apart from the
    // rounding of sin φ itself.
    const double d = phi - from.phi;
    Latitude at;
    double rise;
    if (std::fabs(d) <= kSmallTurn) {
      const SmallTurn t = TurnBy(d);
      rise = from.sin * t.cosMinusOne + from.cos * t.sin;
      at.sin = from.sin + rise;
      at.cos = from.cos + (from.cos * t.cosMinusOne - from.sin * t.sin);
    } else {
      at.sin = std::sin(phi);
      at.cos = std::cos(phi);
      // The product form: near a pole the two sines agree in many
      // leading digits.
      rise = 2.0 * std::cos(0.5 * (phi + from.phi)) * std::sin(0.5 * d);
    }
    double residual;
    if (at.cos > 0.0 && from.cos > 0.0) {
      // asinh(tan φ) − asinh(tan φ') = asinh((sin φ − sin φ')/(cos φ·cos φ'))
      // and atanh a − atanh b = atanh((a − b)/(1 − a·b)).
      // One division serves both quotients.
      const double cosines = at.cos * from.cos;
      const double sines = 1.0 - el.e2 * at.sin * from.sin;
      const double scaled = rise / (cosines * sines);
      const double spherical = Asinh(scaled * sines);
      const double eccentric = AtanhOfEccentricTerm(el.e * scaled * cosines);
      residual = dq - (spherical - el.e * eccentric);
    } else {
      // At or beyond a pole the identities do not hold.
      residual = IsometricLatitude(el, from.sin, from.cos) + dq - IsometricLatitude(el, at.sin, at.cos);
    }
    const double step = at.cos * residual * (1.0 + ep2 * at.cos * at.cos);
    phi += step;
    // Newton's error after a step Δ is about (tan φ / 2)·Δ²: stop once
    // Δ²·(|tan φ| + 1) is below 1e-17 rad (NaN stops too).
    const double absCos = std::fabs(at.cos);
    if (!(step * step * (std::fabs(at.sin) + absCos) >= 1e-17 * absCos)) break;
  }
  return phi;
}

}  // namespace pel
