#pragma once
// Sine and cosine of angles in degrees, for PelProjection and for the
// libraries that call it (MarloDLL works in degrees as well), so that both
// sides of a conversion take the same values. Header only: nothing of it is
// exported from a library.

#include <cmath>

namespace pel {

inline constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
inline constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

// Sine and cosine of one angle.
struct SinCos {
  double sin = 0.0;
  double cos = 1.0;
};

template <class T>
struct SinCosOf {
  T sin;
  T cos;
};

// Sine and cosine of x for |x| <= pi/4 (a little beyond is fine): the
// Taylor series, whose first left-out terms are below 1e-18 there. The
// cosine keeps the rounding error of 1 - x²/2 (exact by Sterbenz) so that
// both stay within about one unit in the last place. For one angle
// (T = double) or two side by side (T = a two-lane vector of doubles):
// every lane takes exactly the operations of the single angle, so both
// forms give the same bits.
template <class T>
inline SinCosOf<T> SinCosOfReducedLanes(T x) {
  const T z = x * x;
  constexpr double s3 = -1.0 / 6.0, s5 = 1.0 / 120.0, s7 = -1.0 / 5040.0, s9 = 1.0 / 362880.0,
                   s11 = -1.0 / 39916800.0, s13 = 1.0 / 6227020800.0, s15 = -1.0 / 1307674368000.0,
                   s17 = 1.0 / 355687428096000.0;
  constexpr double c4 = 1.0 / 24.0, c6 = -1.0 / 720.0, c8 = 1.0 / 40320.0, c10 = -1.0 / 3628800.0,
                   c12 = 1.0 / 479001600.0, c14 = -1.0 / 87178291200.0, c16 = 1.0 / 20922789888000.0;
  // Estrin's scheme: the powers of z side by side instead of one long chain.
  const T z2 = z * z, z4 = z2 * z2;
  const T sinTail = ((s3 + z * s5) + z2 * (s7 + z * s9)) + z4 * ((s11 + z * s13) + z2 * (s15 + z * s17));
  const T cosTail = ((c4 + z * c6) + z2 * (c8 + z * c10)) + z4 * ((c12 + z * c14) + z2 * c16);
  const T half = 0.5 * z;
  const T w = 1.0 - half;
  return SinCosOf<T>{x + x * z * sinTail, w + (((1.0 - w) - half) + z2 * cosTail)};
}

// The angle reduced to within 45° of k·90°, in degrees; false where the
// library's functions take over (see SinCosOfDegrees).
inline bool ReduceDegrees(double degrees, long long& k, double& reduced) {
  // Beyond this, or not finite: the library's functions.
  constexpr double kReducible = 1e9;
  if (!(std::fabs(degrees) <= kReducible)) return false;
  const double quarters = degrees * (1.0 / 90.0);
  k = static_cast<long long>(quarters + (quarters >= 0.0 ? 0.5 : -0.5));
  reduced = degrees - 90.0 * static_cast<double>(k);
  // On a multiple of 90° the library's functions of the rounded radians,
  // whose tiny non-zero values carry the angle's side: a longitude of
  // +180° or -180° comes back from atan2 as given even after a shift adds
  // zero to the coordinate.
  return reduced != 0.0;
}

inline SinCos SinCosOfRadians(double degrees) {
  const double radians = degrees / kDegreesPerRadian;
  return SinCos{std::sin(radians), std::cos(radians)};
}

// The reduced angle's sine and cosine turned to the quadrant k.
inline SinCos ToQuadrant(long long k, double sin, double cos) {
  switch (k & 3) {
    case 0:
      return SinCos{sin, cos};
    case 1:
      return SinCos{cos, -sin};
    case 2:
      return SinCos{-sin, -cos};
    default:
      return SinCos{-cos, sin};
  }
}

// Sine and cosine of an angle in degrees. The angle is reduced to within
// 45° of a multiple of 90° in degrees, where the subtraction is exact, so
// only the one conversion to radians rounds: any latitude or longitude
// gets both within about one unit in the last place, about twice as fast
// as the library's sin and cos.
inline SinCos SinCosOfDegrees(double degrees) {
  long long k = 0;
  double reduced = 0.0;
  if (!ReduceDegrees(degrees, k, reduced)) return SinCosOfRadians(degrees);
  const SinCosOf<double> r = SinCosOfReducedLanes(reduced * kRadiansPerDegree);
  return ToQuadrant(k, r.sin, r.cos);
}

// Two angles at once, the series for both in one register pair: the same
// bits as two calls of SinCosOfDegrees.
inline void SinCosOfDegrees(double first, double second, SinCos& firstOut, SinCos& secondOut) {
  long long k0 = 0, k1 = 0;
  double r0 = 0.0, r1 = 0.0;
  if (!ReduceDegrees(first, k0, r0) || !ReduceDegrees(second, k1, r1)) {
    firstOut = SinCosOfDegrees(first);
    secondOut = SinCosOfDegrees(second);
    return;
  }
  typedef double Pair __attribute__((vector_size(16)));
  const SinCosOf<Pair> r = SinCosOfReducedLanes(Pair{r0, r1} * kRadiansPerDegree);
  firstOut = ToQuadrant(k0, r.sin[0], r.cos[0]);
  secondOut = ToQuadrant(k1, r.sin[1], r.cos[1]);
}

}  // namespace pel
