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

// Sine and cosine of x for |x| <= pi/4 (a little beyond is fine): the
// Taylor series, whose first left-out terms are below 1e-18 there. The
// cosine keeps the rounding error of 1 - x²/2 (exact by Sterbenz) so that
// both stay within about one unit in the last place.
inline SinCos SinCosOfReduced(double x) {
  const double z = x * x;
  constexpr double s3 = -1.0 / 6.0, s5 = 1.0 / 120.0, s7 = -1.0 / 5040.0, s9 = 1.0 / 362880.0,
                   s11 = -1.0 / 39916800.0, s13 = 1.0 / 6227020800.0, s15 = -1.0 / 1307674368000.0,
                   s17 = 1.0 / 355687428096000.0;
  constexpr double c4 = 1.0 / 24.0, c6 = -1.0 / 720.0, c8 = 1.0 / 40320.0, c10 = -1.0 / 3628800.0,
                   c12 = 1.0 / 479001600.0, c14 = -1.0 / 87178291200.0, c16 = 1.0 / 20922789888000.0;
  // Estrin's scheme: the powers of z side by side instead of one long chain.
  const double z2 = z * z, z4 = z2 * z2;
  const double sinTail = ((s3 + z * s5) + z2 * (s7 + z * s9)) + z4 * ((s11 + z * s13) + z2 * (s15 + z * s17));
  const double cosTail = ((c4 + z * c6) + z2 * (c8 + z * c10)) + z4 * ((c12 + z * c14) + z2 * c16);
  const double half = 0.5 * z;
  const double w = 1.0 - half;
  return SinCos{x + x * z * sinTail, w + (((1.0 - w) - half) + z2 * cosTail)};
}

// Sine and cosine of an angle in degrees. The angle is reduced to within
// 45° of a multiple of 90° in degrees, where the subtraction is exact, so
// only the one conversion to radians rounds: any latitude or longitude
// gets both within about one unit in the last place, about twice as fast
// as the library's sin and cos.
inline SinCos SinCosOfDegrees(double degrees) {
  // Beyond this, or not finite: the library's functions.
  constexpr double kReducible = 1e9;
  if (!(std::fabs(degrees) <= kReducible)) {
    const double radians = degrees / kDegreesPerRadian;
    return SinCos{std::sin(radians), std::cos(radians)};
  }
  const double quarters = degrees * (1.0 / 90.0);
  const long long k = static_cast<long long>(quarters + (quarters >= 0.0 ? 0.5 : -0.5));
  const double reduced = degrees - 90.0 * static_cast<double>(k);
  // On a multiple of 90° the library's functions of the rounded radians,
  // whose tiny non-zero values carry the angle's side: a longitude of
  // +180° or -180° comes back from atan2 as given even after a shift adds
  // zero to the coordinate.
  if (reduced == 0.0) {
    const double radians = degrees / kDegreesPerRadian;
    return SinCos{std::sin(radians), std::cos(radians)};
  }
  const SinCos r = SinCosOfReduced(reduced * (kRadiansPerDegree));
  switch (k & 3) {
    case 0:
      return r;
    case 1:
      return SinCos{r.cos, -r.sin};
    case 2:
      return SinCos{-r.sin, -r.cos};
    default:
      return SinCos{-r.cos, r.sin};
  }
}

}  // namespace pel
