#pragma once
// The conformal transverse Mercator mapping (scale 1 on the central meridian)
// as complete Taylor series: the forward series through l¹², the inverse
// through y¹³.
//
// Accuracy, against the exact transverse Mercator (GRS80, latitudes 0-80°;
// pinned by TransverseMercatorAccuracy.ForwardSeriesErrorGrowsWithTheDistance-
// FromTheMeridian): about 1e-8 m within 6° of the central meridian (rounding,
// not truncation), 3.7 mm within 20°, 0.77 m within 30°, 175 m within 45°.
// Gauss-Krüger and UTM zones (±3°) are therefore exact for every purpose; the
// series are not meant for strips much wider than 20°. The inverse series
// is checked against the exact inverse within 3° (1e-9°) and, 3,000-5,000 km
// from the meridian, bounded in TransverseMercatorSeries.InverseFarFromThe-
// MeridianNeedsEveryOrder.
//
// Where the coefficients come from. Both series are the Taylor expansions of
// the complex mapping x + i·y = G(q + i·l) (G the meridian arc as a function
// of the isometric latitude q) in the longitude difference l, and of its
// inverse in y. GaussKruegerSeries.cpp derives every order at compile time
// by differentiating along the meridian, as exact integer polynomials in
// c = cos φ and e = e'² (the recurrences are stated above each generator).
// The tests check them three ways: term by term against the classical
// coefficient polynomials of the forward series written out by hand
// (tests/projection/PublishedSeriesCoefficients.h), against reference
// coordinates of PROJ's exact transverse Mercator (+proj=tmerc +ellps=GRS80
// +k=1: 52°N 6°E gives 411885.3175 m, 5780365.4474 m), and against
// GeographicLib's TransverseMercatorExact at random points.
//
// Changing the orders: the loop bounds of ForwardPolynomials() and
// InversePolynomials() and the array sizes below set them; kMaxEPower and
// kMaxWPower must hold the largest powers of e and c that appear (the
// generator stops the compilation on overflow). Then run the accuracy test
// above, which prints the largest error per band, and the far inverse test.

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
