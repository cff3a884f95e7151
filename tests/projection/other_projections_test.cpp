// Soldner, Lambert, Mercator, EOV and the Swiss projection: origins, the
// Lambert state rules, and agreement with PROJ inside the national areas.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "ProjectionTestSupport.h"

using namespace projection_test;

namespace {

using Conversion = std::function<void(double, double, double*, double*)>;

struct Box {
  double latMin, latMax, lonMin, lonMax;
};

// Compares a projection with PROJ on random points of a box to 1 mm, and
// checks that the inverse brings every point back to 1e-9 degrees. A grid
// whose published reference definition rounds its origin may differ from it
// by a constant translation of at most maxShift metres; its shape must still
// agree to 1 mm.
void CrossCheck(const Conversion& forward, const Conversion& inverse, const std::string& definition,
                const Axes& axes, const Box& box, double maxShift = 0.0) {
  const OracleProjection oracle(definition, axes);
  double shiftE = 0.0, shiftN = 0.0, e, n, re, rn, b, l;
  if (maxShift > 0.0) {
    const double B = (box.latMin + box.latMax) / 2, L = (box.lonMin + box.lonMax) / 2;
    forward(B, L, &e, &n);
    oracle.Forward(B, L, re, rn);
    shiftE = e - re;
    shiftN = n - rn;
    ASSERT_LE(std::hypot(shiftE, shiftN), maxShift) << definition;
  }
  PointSource pts(box.latMin, box.latMax, box.lonMin, box.lonMax, 61);
  for (int i = 0; i < kRandomPoints; ++i) {
    const double B = pts.Lat(), L = pts.Lon();
    forward(B, L, &e, &n);
    oracle.Forward(B, L, re, rn);
    ASSERT_NEAR(e - shiftE, re, 1e-3) << definition << " at " << B << " " << L;
    ASSERT_NEAR(n - shiftN, rn, 1e-3) << definition << " at " << B << " " << L;
    inverse(e, n, &b, &l);
    ASSERT_NEAR(b, B, 1e-9) << definition << " at " << B << " " << L;
    ASSERT_NEAR(l, L, 1e-9) << definition << " at " << B << " " << L;
  }
}

void ExpectMapsTo(const Conversion& forward, double B, double L, double E, double N, double tol) {
  double e, n;
  forward(B, L, &e, &n);
  EXPECT_NEAR(e, E, tol) << B << " " << L;
  EXPECT_NEAR(n, N, tol) << B << " " << L;
}

const Conversion kLambert = [](double B, double L, double* E, double* N) {
  ASSERT_EQ(BL_to_EN_Lambert(B, L, E, N), 0);
};
const Conversion kLambertBack = [](double E, double N, double* B, double* L) {
  ASSERT_EQ(EN_to_BL_Lambert(E, N, B, L), 0);
};

Conversion Swiss(int variant, bool inverse) {
  return [=](double u, double v, double* p, double* q) {
    if (inverse)
      EN_to_BL_Switzerland_Conformal_DoubleProjection(u, v, p, q, variant);
    else
      BL_to_EN_Switzerland_Conformal_DoubleProjection(u, v, p, q, variant);
  };
}

double Dms(int d, int m, double s) {
  double v;
  GMSDEZ(d, m, s, &v);
  return v;
}

}  // namespace

TEST(Soldner, OriginAndAgreementNearTheMeridianNorthAndSouth) {
  StateValues{.L0 = 13.5, .B0 = 47.0, .axes = kBessel, .FalseNorth = 5000, .FalseEast = 70000}.Push();
  ExpectMapsTo(BL_to_EN_Soldner, 47.0, 13.5, 70000, 5000, 1e-9);
  CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner, "+proj=cass +lat_0=47 +lon_0=13.5 +x_0=70000 +y_0=5000",
             kBessel, {44, 50, 12.5, 14.5});
  // Southern origins, and points on both sides of the equator.
  StateValues{.L0 = 18, .B0 = -30.0}.Push();
  CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner, "+proj=cass +lat_0=-30 +lon_0=18", kGRS80,
             {-34, -26, 17, 19});
  StateValues{.L0 = 30, .B0 = 2.0}.Push();
  CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner, "+proj=cass +lat_0=2 +lon_0=30", kGRS80, {-3, 3, 29, 31});
}

TEST(Lambert, NationalPresetsAtTheirOriginsAndInTheirAreas) {
  StateValues{.LambCase = 3}.Push();
  ExpectMapsTo(kLambert, 46.5, 3.0, 700000, 6600000, 1e-6);
  EXPECT_EQ(GetLambType(), 1);
  EXPECT_EQ(GetL0(), 3.0);
  CrossCheck(kLambert, kLambertBack,
             "+proj=lcc +lat_1=49 +lat_2=44 +lat_0=46.5 +lon_0=3 +x_0=700000 +y_0=6600000", kGRS80,
             {41.3, 51.1, -5.2, 9.6});

  StateValues{.LambCase = 1}.Push();
  ExpectMapsTo(kLambert, Dms(57, 31, 3.19415), 24.0, 500000, 6375000, 1e-6);
  EXPECT_EQ(GetBNord(), 58.0);
  double b, l;
  kLambertBack(500000, 6375000, &b, &l);
  EXPECT_NEAR(GetBNord(), Dms(59, 20, 0), 1e-12);  // the inverse stores them swapped
  EXPECT_EQ(GetBSued(), 58.0);
  CrossCheck(kLambert, kLambertBack,
             "+proj=lcc +lat_1=59.33333333333334 +lat_2=58 +lat_0=57.51755393055556 +lon_0=24 "
             "+x_0=500000 +y_0=6375000",
             kGRS80, {57.5, 59.8, 21.7, 28.3});

  StateValues{.axes = kHayford, .LambCase = 2}.Push();
  ExpectMapsTo(kLambert, Dms(50, 47, 52.134), Dms(4, 21, 33.177), 150328, 166262, 1e-6);
  CrossCheck(kLambert, kLambertBack,
             "+proj=lcc +lat_1=51.16666666666666 +lat_2=49.83333333333334 +lat_0=50.797815 "
             "+lon_0=4.359215833333333 +x_0=150328 +y_0=166262",
             kHayford, {49.4, 51.6, 2.4, 6.5});
}

TEST(Lambert, TangentAndPlainSecantCones) {
  // One parallel as both standard parallels, as the coefficient database uses it.
  StateValues{.L0 = 13.333333333333334,
              .axes = kBessel,
              .BNord = 47.5,
              .BSued = 47.5,
              .FalseNorth = 1000,
              .FalseEast = 2000}
      .Push();
  ExpectMapsTo(kLambert, 47.5, 13.333333333333334, 2000, 1000, 1e-6);
  CrossCheck(kLambert, kLambertBack,
             "+proj=lcc +lat_1=47.5 +lat_0=47.5 +lon_0=13.333333333333334 +x_0=2000 +y_0=1000", kBessel,
             {46, 49, 9, 17.5});
  // Secant cone without preset: no reference origin rule, so only the way back.
  StateValues{.L0 = -96, .BNord = 45, .BSued = 33, .LambType = 1}.Push();
  PointSource pts(25, 50, -120, -70, 45);
  for (int i = 0; i < 500; ++i) {
    const double B = pts.Lat(), L = pts.Lon();
    double e, n, b, l;
    kLambert(B, L, &e, &n);
    kLambertBack(e, n, &b, &l);
    ASSERT_NEAR(b, B, 1e-9);
    ASSERT_NEAR(l, L, 1e-9);
  }
}

TEST(Lambert, UndefinedConesFailAndWriteNothing) {
  double e = 123, n = 456, b = 7, l = 8;
  for (int type : {0, 2}) {  // tangent cone with two parallels; unknown type
    StateValues{.L0 = 5, .BNord = 48, .BSued = 46, .LambType = type}.Push();
    EXPECT_EQ(BL_to_EN_Lambert(47, 5, &e, &n), -1);
    EXPECT_EQ(EN_to_BL_Lambert(1, 2, &b, &l), -1);
    EXPECT_EQ(e + n + b + l, 123 + 456 + 7 + 8);
    EXPECT_EQ(GetLambType(), type);
    EXPECT_EQ(GetL0(), 5.0);
  }
  SetLambCase(3);  // a preset makes the cone secant
  EXPECT_EQ(BL_to_EN_Lambert(47, 5, &e, &n), 0);
  EXPECT_EQ(GetLambType(), 1);
}

TEST(Mercator, OriginAndAgreement) {
  StateValues{.L0 = 10}.Push();
  ExpectMapsTo(BL_to_EN_Mercator, 0, 10, 0, 0, 1e-9);
  CrossCheck(BL_to_EN_Mercator, EN_to_BL_Mercator, "+proj=merc +lon_0=10", kGRS80, {-80, 80, -170, 190});
}

TEST(EOV, OriginAndHungarianGrid) {
  StateValues{.axes = kGRS67}.Push();
  // 47°08′39.8174″ on the ellipsoid lies at 47°06′ on the Gauss sphere.
  ExpectMapsTo(BL_to_EN_EOV, 47.14439372222222, 19.04857178, 650000, 200000, 2e-3);
  double b, l;
  EN_to_BL_EOV(650000, 200000, &b, &l);
  EXPECT_NEAR(b, 47.14439372222222, 1e-7);
  EXPECT_NEAR(l, 19.04857178, 1e-9);
  // The reference gives the origin latitude to 0.0001″ (3 mm), hence the shift.
  CrossCheck(BL_to_EN_EOV, EN_to_BL_EOV,
             "+proj=somerc +lat_0=47.14439372222222 +lon_0=19.04857177777778 +k_0=0.99993 "
             "+x_0=650000 +y_0=200000",
             kGRS67, {45.7, 48.6, 16.1, 22.9}, 3e-3);
}

TEST(Swiss, OriginsOfTheVariantsAndTheSwissGrids) {
  StateValues{.axes = kBessel}.Push();
  const double B0 = Dms(46, 57, 8.66), L0 = Dms(7, 26, 22.50);
  ExpectMapsTo(Swiss(0, false), B0, L0, 2600000, 1200000, 1e-6);
  ExpectMapsTo(Swiss(1, false), B0, L0, 600000, 200000, 1e-6);
  ExpectMapsTo(Swiss(7, false), B0, L0, 0, 0, 1e-6);
  const std::string somerc = "+proj=somerc +lat_0=46.95240555555556 +lon_0=7.439583333333333 +k_0=1 ";
  CrossCheck(Swiss(0, false), Swiss(0, true), somerc + "+x_0=2600000 +y_0=1200000", kBessel,
             {45.7, 47.9, 5.8, 10.6});
  CrossCheck(Swiss(1, false), Swiss(1, true), somerc + "+x_0=600000 +y_0=200000", kBessel,
             {45.7, 47.9, 5.8, 10.6});
}
