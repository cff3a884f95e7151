// Projection state, angle notation, geographic/Cartesian/ellipsoidal-harmonic
// conversions and the shared arc and isometric-latitude operations.

#include <gtest/gtest.h>
#include <GeographicLib/Geocentric.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "Ellipsoid.h"
#include "EllipsoidConversions.h"
#include "ProjectionTestSupport.h"

using namespace projection_test;

TEST(ProjectionState, InitializeDLLOrderAndFreshThreads) {
  InitializeDLL(1.5, 7, 2.5, 6378137.0, 6356752.0, 3.5, 4.5, 111.0, 222.0, 5, 6, 8);
  EXPECT_EQ(GetL0(), 1.5);
  EXPECT_EQ(GetL0Auto(), 7);
  EXPECT_EQ(GetB0(), 2.5);
  EXPECT_EQ(GetA(), 6378137.0);
  EXPECT_EQ(GetB(), 6356752.0);
  EXPECT_EQ(GetBNord(), 3.5);
  EXPECT_EQ(GetBSued(), 4.5);
  EXPECT_EQ(GetFalseNorth(), 111.0);  // FalseNorth comes before FalseEast
  EXPECT_EQ(GetFalseEast(), 222.0);
  EXPECT_EQ(GetLambType(), 5);
  EXPECT_EQ(GetLambCase(), 6);
  EXPECT_EQ(GetGKCase(), 8);
  // Another thread starts from the load-time values, not from ours.
  std::thread([] {
    EXPECT_EQ(GetA(), 0.0);
    EXPECT_EQ(GetB(), 0.0);
    EXPECT_EQ(GetL0(), 0.0);
    EXPECT_EQ(GetLambCase() + GetGKCase() + GetL0Auto(), 0);
  }).join();
  EXPECT_EQ(GetGKCase(), 8);
}

TEST(AngleNotation, SignOnTheFirstNonZeroPartAndRoundTrip) {
  struct Case {
    double value;
    int d, m;
    double s;
  };
  for (const Case& c :
       {Case{-0.5, 0, -30, 0}, Case{-10.25, -10, 15, 0}, Case{-0.001, 0, 0, -3.6}, Case{10.5, 10, 30, 0}}) {
    int d, m;
    double s, back;
    DEZGMS(c.value, &d, &m, &s);
    EXPECT_EQ(d, c.d) << c.value;
    EXPECT_EQ(m, c.m) << c.value;
    EXPECT_NEAR(s, c.s, 1e-9) << c.value;
    GMSDEZ(c.d, c.m, c.s, &back);
    EXPECT_DOUBLE_EQ(back, c.value);
  }
  // Negative values below one degree with minutes and seconds come back too.
  for (double v : {-0.5083, -0.9999, -0.0001, -12.3456789, 0.0, 47.1234567, -179.99}) {
    int d, m;
    double s, back;
    DEZGMS(v, &d, &m, &s);
    GMSDEZ(d, m, s, &back);
    EXPECT_NEAR(back, v, 1e-12) << v;
  }
}

TEST(GeographicCartesian, AxesPolarCapAndQuadrants) {
  StateValues{.axes = kGRS80}.Push();
  double x, y, z;
  BLH_to_XYZ(0, 0, 0, &x, &y, &z);
  EXPECT_NEAR(x, kGRS80.a, 1e-9);
  EXPECT_NEAR(y + z, 0, 1e-9);
  BLH_to_XYZ(90, 0, 0, &x, &y, &z);
  EXPECT_NEAR(x, 0, 1e-6);
  EXPECT_NEAR(z, kGRS80.b, 1e-6);
  double b = -1, l = -1, h = -1;
  XYZ_to_BLH(kGRS80.a, 0, 0, &b, &l, &h);
  EXPECT_NEAR(std::fabs(b) + std::fabs(l) + std::fabs(h), 0, 1e-6);

  // Within 95 km of the north pole's Z nothing is written; the boundary
  // belongs to the cap, and there is no such cap in the south.
  b = 11, l = 22, h = 33;
  XYZ_to_BLH(1000, 1000, kGRS80.b - 94999, &b, &l, &h);
  XYZ_to_BLH(1000, 1000, kGRS80.b - 95000, &b, &l, &h);
  EXPECT_EQ(b + l + h, 66);
  XYZ_to_BLH(1000, 1000, -kGRS80.b + 10, &b, &l, &h);
  EXPECT_NEAR(b, -89.99, 0.01);
}

TEST(GeographicCartesian, AgreesWithGeocentricReferenceBothWays) {
  StateValues{.axes = kBessel}.Push();
  const GeographicLib::Geocentric ref(kBessel.a, 1.0 / kBessel.rf);
  // Longitudes all round (atan2 quadrants); north of about 80° is the cap.
  PointSource pts(-89.9, 79.5, -180, 180, 7);
  for (int i = 0; i < kRandomPoints; ++i) {
    const double lat = pts.Lat(), lon = pts.Lon(), hgt = (lat + 90) * 50 - 500;
    double x, y, z, rx, ry, rz, b, l, h;
    BLH_to_XYZ(lat, lon, hgt, &x, &y, &z);
    ref.Forward(lat, lon, hgt, rx, ry, rz);
    ASSERT_NEAR(std::hypot(x - rx, y - ry, z - rz), 0, 1e-6);
    XYZ_to_BLH(x, y, z, &b, &l, &h);
    ASSERT_NEAR(b, lat, 1e-9) << lat << " " << lon;
    ASSERT_NEAR(l, lon, 1e-9) << lat << " " << lon;
    ASSERT_NEAR(h, hgt, 1e-4) << lat << " " << lon;
  }
}

TEST(EllipsoidalHarmonic, SurfacePointsRoundTripAndQuotientLongitude) {
  StateValues{.axes = kGRS80}.Push();
  // On the reference ellipsoid (u = b) the reduced latitude gives (a·cosβ, b·sinβ).
  double x, y, z, rb, rl, ru;
  EllipsoidalCoordinates_to_XYZ(40, 0, kGRS80.b, &x, &y, &z);
  EXPECT_NEAR(x, kGRS80.a * std::cos(40 / pel::kRho), 1e-6);
  EXPECT_NEAR(z, kGRS80.b * std::sin(40 / pel::kRho), 1e-6);
  for (double beta : {-60.0, 0.5, 75.0})
    for (double lambda : {-80.0, 10.0}) {
      EllipsoidalCoordinates_to_XYZ(beta, lambda, 6400000.0, &x, &y, &z);
      XYZ_to_EllipsoidalCoordinates(x, y, z, &rb, &rl, &ru);
      EXPECT_NEAR(rb, beta, 1e-9);
      EXPECT_NEAR(rl, lambda, 1e-9);
      EXPECT_NEAR(ru, 6400000.0, 1e-5);
    }
  // Behind the pole axis the quotient arctangent folds into ±90°.
  EllipsoidalCoordinates_to_XYZ(20, 135, 6400000.0, &x, &y, &z);
  XYZ_to_EllipsoidalCoordinates(x, y, z, &rb, &rl, &ru);
  EXPECT_NEAR(rl, -45, 1e-9);
}

TEST(MeridianArcsAndIsometricLatitude, SymmetryQuadrantAndInverses) {
  const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
  EXPECT_NEAR(pel::MeridianArcLength(el, 90.0), 10001965.7293, 1e-4);  // GRS80 quadrant
  for (double phi = 0.5; phi < 90; phi += 7.3) {
    const double g = pel::MeridianArcLength(el, phi);
    EXPECT_EQ(pel::MeridianArcLength(el, -phi), g);
    EXPECT_NEAR(pel::LatitudeFromArc(el, g), phi, 3e-14);  // ~5e-16 rad
  }
  EXPECT_NEAR(pel::IsometricLatitude(el, 0.0), 0.0, 1e-18);
  for (double deg = -89.0; deg <= 89.0; deg += 0.37) {
    const double phi = deg / pel::kRho;
    const double back = pel::LatitudeFromIsometric(el, pel::IsometricLatitude(el, phi));
    EXPECT_NEAR(back, phi, 4 * std::numeric_limits<double>::epsilon()) << deg;
  }
}

TEST(BoundedIterations, NonFiniteAndAbsurdInputReturns) {
  // None of these may hang (or trip the sanitizers); the values are
  // whatever the arithmetic gives.
  const double inf = std::numeric_limits<double>::infinity();
  const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
  StateValues{.axes = kGRS80}.Push();
  double o1 = 0, o2 = 0, o3 = 0;
  int d, m, zone;
  char band;
  for (double v : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e300, -1e300}) {
    (void)pel::LatitudeFromArc(el, std::fabs(v));
    (void)pel::LatitudeFromIsometric(el, v);
    XYZ_to_BLH(v, v, -v, &o1, &o2, &o3);
    XYZ_to_BLH(v, 1.0, 0.0, &o1, &o2, &o3);
    EN_to_BL_GK(v, v, &o1, &o2);
    EN_to_BL_Soldner(v, v, &o1, &o2);
    EN_to_BL_Mercator(v, v, &o1, &o2);
    EN_to_BL_EOV(v, v, &o1, &o2);
    EN_to_BL_Switzerland_Conformal_DoubleProjection(v, v, &o1, &o2, 0);
    (void)EN_to_BL_Lambert(v, v, &o1, &o2);
    DEZGMS(v, &d, &m, &o1);
    SetL0Auto(1);
    BL_to_EN_UTM_With_Zone(v, v, &o1, &o2, &zone, &band);
    EN_to_BL_UTM_With_Zone(v, v, 33, "x", &o1, &o2);
    SetL0Auto(0);
  }
  InitializeDLL(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);  // ellipsoid never set
  EN_to_BL_GK(1, 2, &o1, &o2);
}

TEST(MeridianArcsAndIsometricLatitude, FootpointOnFlatAndRoundEllipsoids) {
  // The start series is exact to the order n⁶ only; the Newton step must
  // finish the job on strongly flattened ellipsoids too, and the sine and
  // cosine handed on must belong to the latitude returned.
  const Axes flat = MakeAxes(6378137.0, 30.0);
  const Axes sphere{6371000.0, 6371000.0, 0.0};
  for (const Axes& axes : {kGRS80, kBessel, flat, sphere}) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(axes.a, axes.b);
    for (double deg = 0.0; deg <= 135.0; deg += 2.9) {
      const double x = pel::MeridianArcLength(el, deg);
      const pel::Latitude f = pel::FootpointLatitude(el, x);
      EXPECT_NEAR(f.phi * pel::kRho, deg, 1e-13) << axes.rf << " " << deg;
      EXPECT_NEAR(f.sin, std::sin(f.phi), 6e-16) << axes.rf << " " << deg;
      EXPECT_NEAR(f.cos, std::cos(f.phi), 6e-16) << axes.rf << " " << deg;
    }
  }
}

TEST(MeridianArcsAndIsometricLatitude, OffsetFromALatitudeMatchesTheDirectInverse) {
  // Small offsets take the closed-form difference, large ones and those
  // that reach a pole the plain isometric latitudes; all must land where
  // the inverse of the summed isometric latitude does.
  const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kBessel.a, kBessel.b);
  for (double deg = -89.5; deg <= 89.5; deg += 1.3) {
    pel::Latitude from;
    from.phi = deg / pel::kRho;
    from.sin = std::sin(from.phi);
    from.cos = std::cos(from.phi);
    const double q = pel::IsometricLatitude(el, from.phi);
    for (double dq : {-0.4, -0.03, -2e-3, -1e-6, 0.0, 3e-9, 5e-4, 0.008, 0.05, 1.5}) {
      const double expected = pel::LatitudeFromIsometric(el, q + dq);
      // A poorer start costs rounds, not accuracy: the footpoint
      // itself for small offsets, the spherical inverse for any.
      const double spherical = 2.0 * std::atan(std::exp(q + dq)) - pel::kPi / 2;
      for (double start : {std::fabs(dq) <= 0.01 ? from.phi : spherical, spherical, expected + 1e-7}) {
        const double got = pel::LatitudeFromIsometricOffset(el, from, dq, start);
        EXPECT_NEAR(got, expected, 1e-15) << deg << " " << dq << " " << start;
      }
    }
  }
}

namespace {

// Distance of got from the exact value in units of the last place of got.
double UnitsInLastPlace(double got, long double exact) {
  const double ulp = std::nextafter(std::fabs(got), INFINITY) - std::fabs(got);
  return static_cast<double>(std::fabs(static_cast<long double>(got) - exact) / ulp);
}

}  // namespace

TEST(SinCosOfDegrees, WithinTwoUnitsInTheLastPlaceOfTheExactValue) {
  const long double radiansPerDegree = 3.14159265358979323846264338327950288L / 180.0L;
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> wide(-1000.0, 1000.0), near(-1.0, 1.0);
  double worstSin = 0.0, worstCos = 0.0;
  for (int i = 0; i < 400000; ++i) {
    // Anywhere, and close to the multiples of 45° where the reduction and
    // the quadrants change.
    const double degrees =
        i % 2 == 0 ? wide(rng) : 45.0 * static_cast<int>(wide(rng) / 45.0) + near(rng) * 1e-6;
    const pel::SinCos got = pel::SinCosOfDegrees(degrees);
    // The reference reduces by whole quarter turns first (exact in long
    // double too), so that its own rounding stays far below a double's.
    const long double quarters = std::nearbyint(static_cast<long double>(degrees) / 90.0L);
    const long double x = (static_cast<long double>(degrees) - 90.0L * quarters) * radiansPerDegree;
    const long long q = static_cast<long long>(quarters) & 3;
    const long double sr = std::sin(x), cr = std::cos(x);
    const long double s = q == 0 ? sr : q == 1 ? cr : q == 2 ? -sr : -cr;
    const long double c = q == 0 ? cr : q == 1 ? -sr : q == 2 ? -cr : sr;
    if (std::fabs(s) > 1e-3)
      worstSin = std::max(worstSin, UnitsInLastPlace(got.sin, s));
    else
      EXPECT_LT(std::fabs(got.sin - s), 2e-19L) << degrees;
    if (std::fabs(c) > 1e-3)
      worstCos = std::max(worstCos, UnitsInLastPlace(got.cos, c));
    else
      EXPECT_LT(std::fabs(got.cos - c), 2e-19L) << degrees;
  }
  EXPECT_LE(worstSin, 2.0);
  EXPECT_LE(worstCos, 2.0);
}

TEST(SinCosOfDegrees, ExactAnglesSignsAndWhatCannotBeReduced) {
  // Multiples of 90° give what sin and cos of the rounded radians give:
  // their tiny values keep the side of ±180° through atan2.
  for (double degrees : {-720.0, -360.0, -180.0, -90.0, -0.0, 0.0, 90.0, 180.0, 270.0, 360.0, 720.0}) {
    EXPECT_EQ(pel::SinCosOfDegrees(degrees).sin, std::sin(degrees / pel::kRho)) << degrees;
    EXPECT_EQ(pel::SinCosOfDegrees(degrees).cos, std::cos(degrees / pel::kRho)) << degrees;
  }
  EXPECT_TRUE(std::signbit(pel::SinCosOfDegrees(-0.0).sin));
  EXPECT_EQ(std::atan2(pel::SinCosOfDegrees(-180.0).sin + 0.0, -1.0), -pel::kPi);
  EXPECT_NEAR(pel::SinCosOfDegrees(30.0).sin, 0.5, 1e-16);
  EXPECT_NEAR(pel::SinCosOfDegrees(-60.0).cos, 0.5, 1e-16);
  EXPECT_TRUE(std::isnan(pel::SinCosOfDegrees(NAN).sin));
  EXPECT_TRUE(std::isnan(pel::SinCosOfDegrees(INFINITY).cos));
  // Far beyond any angle of the conversions: the library's functions.
  const double huge = 1e12 + 0.25;
  EXPECT_EQ(pel::SinCosOfDegrees(huge).sin, std::sin(huge / pel::kRho));
}

// Two angles at once give the bits of two single calls, signs of zero and
// the angles left to the library's functions included, in either lane.
TEST(SinCosOfDegrees, TwoAtOnceAreTheSingleValues) {
  std::vector<double> angles = {
      0.0,          -0.0, 90.0,        -180.0, 180.0,    45.0,      -45.0,
      1e-300,       1e9,  1e12 + 0.25, NAN,    INFINITY, -INFINITY, 359.99999999999994,
      47.123456789, -13.9};
  std::mt19937_64 rng(29);
  std::uniform_real_distribution<double> wide(-720.0, 720.0);
  for (int i = 0; i < 2000; ++i) angles.push_back(wide(rng));
  const auto same = [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
           (std::isnan(a) && std::isnan(b));
  };
  for (std::size_t i = 0; i < angles.size(); ++i) {
    const double first = angles[i], second = angles[(i * 7 + 3) % angles.size()];
    pel::SinCos a, b;
    pel::SinCosOfDegrees(first, second, a, b);
    const pel::SinCos singleA = pel::SinCosOfDegrees(first), singleB = pel::SinCosOfDegrees(second);
    EXPECT_TRUE(same(a.sin, singleA.sin) && same(a.cos, singleA.cos)) << first;
    EXPECT_TRUE(same(b.sin, singleB.sin) && same(b.cos, singleB.cos)) << second;
  }
}
