#pragma once
// Quantities of one reference ellipsoid and the operations on meridian arcs
// and isometric latitudes that all projections share.

#include <cmath>

namespace pel {

inline constexpr double kPi = 3.14159265358979323846;  // 4·atan(1)
inline constexpr double kRho = 180.0 / kPi;            // degrees per radian

// Derived from the semi-axes; the state keeps those of the ellipsoids last
// used (see EllipsoidCache), so a conversion does not derive them anew.
struct Ellipsoid {
  double a = 0.0;    // semi-major axis
  double b = 0.0;    // semi-minor axis
  double ep2 = 0.0;  // second eccentricity squared (a² − b²)/b²
  double e2 = 0.0;   // first eccentricity squared (a² − b²)/a²
  double e = 0.0;    // first eccentricity
  double c = 0.0;    // polar radius of curvature a²/b

  static Ellipsoid FromAxes(double a, double b) {
    Ellipsoid el;
    el.a = a;
    el.b = b;
    el.ep2 = (a * a - b * b) / (b * b);
    el.e2 = (a * a - b * b) / (a * a);
    el.e = std::sqrt(el.e2);
    el.c = a * a / b;
    return el;
  }
  static Ellipsoid FromState();

  // V(φ) = sqrt(1 + e'²cos²φ) from cos φ.
  double V(double cosPhi) const { return std::sqrt(1.0 + ep2 * cosPhi * cosPhi); }
  // Prime-vertical radius N(φ) = c / V(φ).
  double N(double cosPhi) const { return c / V(cosPhi); }
};

// A latitude (radians) together with its sine and cosine.
struct Latitude {
  double phi = 0.0;
  double sin = 0.0;
  double cos = 1.0;
};

// Arc of the meridian from the equator to latitude phiDeg (degrees), always
// non-negative.
double MeridianArcLength(const Ellipsoid& el, double phiDeg);
// The same from φ in radians with its sine and cosine already at hand.
double MeridianArcLength(const Ellipsoid& el, double phi, double sinPhi, double cosPhi);
// Latitude (degrees) whose meridian arc is x (x ≥ 0 metres).
double LatitudeFromArc(const Ellipsoid& el, double x);
// The same in radians with its sine and cosine, for callers that go on
// with them.
Latitude FootpointLatitude(const Ellipsoid& el, double x);
// Signed helpers: negative arcs belong to southern latitudes.
double SignedMeridianArc(const Ellipsoid& el, double phiDeg);
double LatitudeFromSignedArc(const Ellipsoid& el, double x);
// Isometric latitude q of phi (radians).
double IsometricLatitude(const Ellipsoid& el, double phi);
// The same from sin φ and cos φ.
double IsometricLatitude(const Ellipsoid& el, double sinPhi, double cosPhi);
// Latitude (radians) of isometric latitude q, by Newton steps from the
// spherical inverse, or from a start value the caller knows to be close.
double LatitudeFromIsometric(const Ellipsoid& el, double q);
double LatitudeFromIsometric(const Ellipsoid& el, double q, double start);
// Latitude (radians) whose isometric latitude exceeds that of `from` by dq,
// by the same Newton steps from `start`. The residual q − q(φ) is evaluated
// as dq less the difference q(φ) − q(from) in closed form, which near `from`
// needs no logarithm and loses nothing to cancellation.
double LatitudeFromIsometricOffset(const Ellipsoid& el, const Latitude& from, double dq, double start);

}  // namespace pel
