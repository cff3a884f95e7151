// Gauss-Krüger and UTM: the series coefficients, zone conventions, bands,
// and agreement with the exact transverse Mercator.

#include <gtest/gtest.h>
#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/TransverseMercatorExact.hpp>

#include <cmath>
#include <map>
#include <tuple>
#include <utility>

#include "GaussKruegerSeries.h"
#include "ProjectionTestSupport.h"
#include "PublishedSeriesCoefficients.h"

using namespace projection_test;

namespace {

struct EN {
  double E, N;
};

EN GK(double B, double L) {
  EN r{};
  BL_to_EN_GK(B, L, &r.E, &r.N);
  return r;
}

}  // namespace

TEST(TransverseMercatorSeries, CoefficientsEqualThePublishedPolynomials) {
  // (order, e power, c power) → coefficient, zeros left out.
  std::map<std::tuple<int, int, int>, long long> published, generated;
  for (const PublishedTerm& t : kPublishedForwardTerms)
    published[{t.order, t.ePower, t.cPower}] = t.coefficient;
  for (int k = 1; k <= 12; ++k) {
    const pel::series::OrderPolynomial& p = pel::series::ForwardOrder(k);
    for (int j = 0; j <= pel::series::kMaxEPower; ++j)
      for (int m = 0; m <= pel::series::kMaxWPower; ++m)
        if (p.coef[j][m] != 0.0) generated[{k, j, 2 * m}] = static_cast<long long>(p.coef[j][m]);
  }
  EXPECT_EQ(generated, published);
}

TEST(TransverseMercatorSeries, ReferenceValuesAndCentralMeridian) {
  const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
  pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, 52, 6);
  EXPECT_NEAR(p.y, 411885.3175, 1e-4);
  EXPECT_NEAR(p.x, 5780365.4474, 1e-4);
  p = pel::GaussKruegerSeriesForward(el, 48, 3);
  EXPECT_NEAR(p.y, 223865.4616, 1e-4);
  EXPECT_NEAR(p.x, 5322784.9030, 1e-4);
  p = pel::GaussKruegerSeriesForward(el, -35, 0);  // signed arc in the south
  EXPECT_EQ(p.y, 0.0);
  EXPECT_EQ(p.x, -pel::MeridianArcLength(el, 35));
  EXPECT_NEAR(pel::GaussKruegerSeriesInverse(el, 0, p.x).B, -35, 1e-12);
}

TEST(TransverseMercatorSeries, InverseUndoesForwardWithinAZone) {
  // Inside ±3.5° of the meridian the two truncated series agree to far
  // better than they match the exact mapping; what is left is rounding
  // and the last orders, some 1e-13°. Hemispheres and the equator alike.
  for (const Axes& axes : {kBessel, kGRS80}) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(axes.a, axes.b);
    for (double B = -85.0; B <= 85.0; B += 1.7)
      for (double l = -3.5; l <= 3.5; l += 0.35) {
        const pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, B, l);
        const pel::GeoPoint g = pel::GaussKruegerSeriesInverse(el, p.y, p.x);
        ASSERT_NEAR(g.B, B, 1e-12) << B << " " << l;
        ASSERT_NEAR(g.l, l, 1e-12) << B << " " << l;
      }
  }
}

TEST(TransverseMercatorSeries, InverseFarFromTheMeridianNeedsEveryOrder) {
  // 3,000 to 5,000 km from the meridian the orders above the seventh carry
  // metres to kilometres: the ninth alone 28 m to 2.7 km at the points below,
  // the eleventh 2 m to 590 m, the twelfth and thirteenth together 0.14 m to
  // 98 m. What the series still lacks there (the orders from y^14 on) is far
  // less; each bound holds that remainder with some room and stays below what
  // the thirteenth order contributes at that point. Reference: the exact
  // transverse Mercator mapping; distances on the ellipsoid.
  struct Case {
    double y, x;   // km
    double bound;  // metres
  } cases[] = {{3000, 0, 0.03}, {3000, 1000, 0.2},  {3000, 2000, 1.0}, {3500, 1500, 4.0},
               {4000, 0, 2.0},  {4000, 1000, 10.0}, {4500, 500, 25.0}, {5000, 0, 50.0}};
  for (const Axes& axes : {kGRS80, kBessel}) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(axes.a, axes.b);
    const GeographicLib::TransverseMercatorExact exact(axes.a, 1.0 / axes.rf, 1.0);
    const GeographicLib::Geodesic geodesic(axes.a, 1.0 / axes.rf);
    for (const Case& c : cases)
      for (double ySign : {1.0, -1.0})
        for (double xSign : {1.0, -1.0}) {
          const double y = ySign * c.y * 1000.0, x = xSign * c.x * 1000.0;
          double lat = 0, lon = 0;
          exact.Reverse(0.0, y, x, lat, lon);
          const pel::GeoPoint g = pel::GaussKruegerSeriesInverse(el, y, x);
          double distance = 0;
          geodesic.Inverse(lat, lon, g.B, g.l, distance);
          EXPECT_LT(distance, c.bound) << "y " << y << " x " << x << " on a = " << axes.a;
        }
  }
}

TEST(GaussKrueger, GermanZonesRoundHalvesTowardZero) {
  StateValues{.L0Auto = 1, .axes = kBessel, .GKCase = 0}.Push();
  EXPECT_NEAR(GK(50, 9).E, 3500000.0, 1e-6);
  // 10.5 is exactly half-way: zone 3 (9°), east of its meridian; 10.6 is zone 4.
  const EN half = GK(50, 10.5);
  EXPECT_GT(half.E, 3500000.0);
  EXPECT_LT(half.E, 3700000.0);
  EXPECT_NEAR(GK(50, 10.6).E, 4500000.0 - (GK(50, 13.4).E - 4500000.0), 1e-3);
  EXPECT_GT(GK(50, -1.5).E, 300000.0);   // −0.5 zones: meridian 0
  EXPECT_LT(GK(50, -1.6).E, -300000.0);  // meridian −3: −1000000 + 500000 + y
  double b, l;
  EN_to_BL_GK(half.E, half.N, &b, &l);  // zone from the millions
  EXPECT_NEAR(b, 50, 1e-9);
  EXPECT_NEAR(l, 10.5, 1e-9);
  StateValues{.L0 = 12, .axes = kBessel, .GKCase = 0}.Push();  // set meridian, zone 4 prefix
  EXPECT_NEAR(GK(50, 12).E, 4500000.0, 1e-6);
}

TEST(GaussKrueger, AustrianStripsBothWays) {
  const double strips[] = {31.0 / 3.0, 40.0 / 3.0, 49.0 / 3.0};
  const std::pair<double, int> points[] = {{11.8, 0}, {12.0, 1}, {15.0, 2}};
  for (const auto& [L, strip] : points) {
    StateValues{.L0 = strips[strip], .axes = kBessel, .GKCase = 99}.Push();  // raw y
    const double y = GK(47, L).E;
    StateValues{.L0Auto = 1, .axes = kBessel, .GKCase = 4}.Push();
    EXPECT_NEAR(GK(47, L).E, y + 150000 + 300000 * strip, 1e-6) << L;
  }
  // Every Austrian point comes back from its strip coordinates.
  PointSource pts(46.3, 49.1, 9.4, 17.3, 11);
  for (int i = 0; i < kRandomPoints; ++i) {
    const double B = pts.Lat(), L = pts.Lon();
    const EN en = GK(B, L);
    double b, l;
    EN_to_BL_GK(en.E, en.N, &b, &l);
    ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
    ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
  }
}

TEST(UTM, AutomaticZonesWriteTheMeridian) {
  StateValues{.L0 = 77, .L0Auto = 1, .axes = kGRS80}.Push();
  const std::pair<double, double> cases[] = {{9.5, 9}, {-2, -3}, {0, 3}};
  for (const auto& [L, meridian] : cases) {
    double e, n;
    BL_to_EN_UTM_Raw(48, L, &e, &n);
    EXPECT_EQ(GetL0(), meridian) << L;
    EXPECT_EQ(std::floor(e / 1e6), (meridian + 183) / 6) << L;
  }
  double b, l;
  EN_to_BL_UTM_Raw(32500000.0, 5316000.0, &b, &l);
  EXPECT_EQ(GetL0(), 9.0);
  EXPECT_NEAR(l, 9.0, 1e-12);
  // A later GK call without L0Auto uses the meridian UTM stored.
  SetL0Auto(0);
  EXPECT_NEAR(GK(48, 9).E, 3500000.0, 1e-6);
}

TEST(UTM, BandsAndSouthernFalseNorthing) {
  StateValues{.L0Auto = 1, .axes = kGRS80}.Push();
  double e, n, b, l;
  int zone = 0;
  char band = '?';
  BL_to_EN_UTM_With_Zone(-0.000001, 15, &e, &n, &zone, &band);
  EXPECT_EQ(zone, 33);
  EXPECT_EQ(band, 'M');
  EXPECT_NEAR(n, 10000000.0, 1.0);
  EXPECT_NEAR(e, 500000.0, 1e-6);
  BL_to_EN_UTM_With_Zone(0, 15, &e, &n, &zone, &band);
  EXPECT_EQ(band, 'N');
  EXPECT_EQ(n, 0.0);
  const std::pair<double, char> bands[] = {{83.9, 'X'}, {72, 'X'},    {71.99, 'W'}, {7.99, 'N'},
                                           {-8, 'M'},   {-8.01, 'L'}, {-72, 'D'},   {-72.01, 'C'}};
  for (const auto& [lat, letter] : bands) {
    BL_to_EN_UTM_With_Zone(lat, 15, &e, &n, &zone, &band);
    EXPECT_EQ(band, letter) << lat;
  }
  // Southern letters in either case subtract the false northing; northern,
  // empty or unknown texts leave N as it is.
  BL_to_EN_UTM_With_Zone(-33.9, 18.4, &e, &n, &zone, &band);
  for (const char* text : {"H", "h"}) {
    EN_to_BL_UTM_With_Zone(e, n, zone, text, &b, &l);
    EXPECT_NEAR(b, -33.9, 1e-9) << text;
    EXPECT_NEAR(l, 18.4, 1e-9) << text;
  }
  for (const char* text : {"N", "", "HX"}) {
    EN_to_BL_UTM_With_Zone(e, n, zone, text, &b, &l);
    EXPECT_GT(b, 0.0) << text;
  }
}

TEST(TransverseMercatorAccuracy, GKAndUTMMatchExactWithinThreeDegrees) {
  const GeographicLib::TransverseMercatorExact gk(kBessel.a, 1.0 / kBessel.rf, 1.0);
  const GeographicLib::TransverseMercatorExact utm(kGRS80.a, 1.0 / kGRS80.rf, 0.9996);
  PointSource pts(-80, 84, -180, 180, 21);
  for (int i = 0; i < kRandomPoints; ++i) {
    const double B = pts.Lat(), L = pts.Lon();
    double x, y, e, n, b, l;
    // Gauss-Krüger, raw convention, about a meridian within 3° of the point.
    const double meridian = std::round(L) + (i % 7 - 3) * 0.42;
    StateValues{.L0 = meridian, .axes = kBessel, .GKCase = 99}.Push();
    gk.Forward(meridian, B, L, x, y);
    const EN en = GK(B, L);
    ASSERT_NEAR(en.E, x, 1e-4) << B << " " << L;
    ASSERT_NEAR(en.N, y, 1e-4) << B << " " << L;
    EN_to_BL_GK(en.E, en.N, &b, &l);
    ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
    ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
    // UTM with automatic zone.
    StateValues{.L0Auto = 1, .axes = kGRS80}.Push();
    int zone;
    char band[2] = {};
    BL_to_EN_UTM_With_Zone(B, L, &e, &n, &zone, band);
    utm.Forward(6.0 * zone - 183.0, B, L, x, y);
    ASSERT_NEAR(e, x + 500000.0, 1e-4) << B << " " << L;
    ASSERT_NEAR(n, B < 0 ? y + 10000000.0 : y, 1e-4) << B << " " << L;
    EN_to_BL_UTM_With_Zone(e, n, zone, band, &b, &l);
    ASSERT_NEAR(b, B, 1e-9) << B << " " << L;
    ASSERT_NEAR(l, L, 1e-9) << B << " " << L;
  }
}

// The forward series' error by distance from the central meridian, the
// figures the library header states: about 1e-8 m within 6°, millimetres at
// 20°, decimetres at 30°, hundreds of metres at 45° (GRS80, latitudes 0-80°,
// against the exact mapping). A change of the series' orders shows here.
TEST(TransverseMercatorAccuracy, ForwardSeriesErrorGrowsWithTheDistanceFromTheMeridian) {
  const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
  const GeographicLib::TransverseMercatorExact exact(kGRS80.a, 1.0 / kGRS80.rf, 1.0);
  struct Band {
    double l;      // degrees from the meridian
    double low;    // the largest error found must exceed this (metres) ...
    double bound;  // ... and stay below this
  } bands[] = {{6, 0.0, 2e-8}, {20, 2e-3, 5e-3}, {30, 0.5, 1.0}, {45, 120.0, 250.0}};
  for (const Band& band : bands) {
    double worst = 0.0;
    for (double B = 0.0; B <= 80.0; B += 0.5)
      for (double f : {0.25, 0.5, 0.75, 1.0}) {
        const double l = band.l * f;
        double x = 0, y = 0;
        exact.Forward(0.0, B, l, x, y);
        const pel::PlanePoint p = pel::GaussKruegerSeriesForward(el, B, l);
        worst = std::max(worst, std::hypot(p.y - x, p.x - y));
      }
    std::printf("within %g deg of the meridian: largest error %.3g m\n", band.l, worst);
    EXPECT_GT(worst, band.low) << band.l;
    EXPECT_LT(worst, band.bound) << band.l;
  }
}
