#pragma once
// The conformal transverse Mercator mapping (scale 1 on the central meridian)
// as complete Taylor series: the forward series through l¹², the inverse
// through y¹³.

#include "Ellipsoid.h"

namespace pel {

struct PlanePoint {
  double y = 0.0;  // easting from the central meridian, metres
  double x = 0.0;  // northing from the equator, metres
};

struct GeoPoint {
  double B = 0.0;  // latitude, degrees
  double l = 0.0;  // longitude relative to the central meridian, degrees
};

PlanePoint GaussKruegerSeriesForward(const Ellipsoid& el, double B, double l);
GeoPoint GaussKruegerSeriesInverse(const Ellipsoid& el, double y, double x);

namespace series {

// Coefficient polynomial of one order: P(c, e) = Σ coef[j][m]·e^j·c^(2m),
// with c = cos φ and e = e'². Integers held exactly in doubles.
inline constexpr int kMaxEPower = 13;
inline constexpr int kMaxWPower = 24;
struct OrderPolynomial {
  double coef[kMaxEPower + 1][kMaxWPower + 1] = {};
  int ePowers = 0;  // number of e powers used
};

// Orders 0..12 of the forward series (index = power of l) and 0..13 of the
// inverse (power of y). The signs of i^k are folded in: the forward rows are
// the polynomials of the northing (even orders, factor N·sinφ·cosφ) and of
// the easting (odd orders, factor N·cosφ); the inverse rows multiply u^k/k!
// with u = y/(Nf·cos φf), the even ones with a further sin φf.
const OrderPolynomial& ForwardOrder(int k);
const OrderPolynomial& InverseOrder(int k);

}  // namespace series
}  // namespace pel
