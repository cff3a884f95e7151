// Soldner, Lambert, Mercator, EOV and the Swiss projection: origins, the
// Lambert state rules, and agreement with PROJ inside the national areas.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "OracleProjection.h"
#include "PelProjection.h"
#include "ProjectionTestSupport.h"

using namespace projection_test;

namespace {

using Forward = std::function<void(double, double, double*, double*)>;
using Inverse = std::function<void(double, double, double*, double*)>;

struct Box {
    double latMin, latMax, lonMin, lonMax;
};

// Compares a projection with PROJ on random points of a box to 1 mm and
// checks that the inverse brings every point back to 1e-9 degrees. A grid
// whose published reference definition rounds its origin may differ from it
// by a constant translation of at most maxShift metres; the shape must still
// agree to 1 mm everywhere.
void CrossCheck(const Forward& forward, const Inverse& inverse, const std::string& definition,
                const Axes& axes, const Box& box, unsigned seed, double maxShift = 0.0) {
    const OracleProjection oracle(definition + AxesDefinition(axes.a, axes.b));
    double shiftE = 0.0, shiftN = 0.0;
    if (maxShift > 0.0) {
        const double B = (box.latMin + box.latMax) / 2, L = (box.lonMin + box.lonMax) / 2;
        double e, n, re, rn;
        forward(B, L, &e, &n);
        oracle.Forward(B, L, re, rn);
        shiftE = e - re;
        shiftN = n - rn;
        ASSERT_LE(std::hypot(shiftE, shiftN), maxShift) << definition;
    }
    PointSource pts(box.latMin, box.latMax, box.lonMin, box.lonMax, seed);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double B = pts.Lat(), L = pts.Lon();
        double e, n, re, rn;
        forward(B, L, &e, &n);
        oracle.Forward(B, L, re, rn);
        ASSERT_NEAR(e - shiftE, re, 1e-3) << definition << " at " << B << " " << L;
        ASSERT_NEAR(n - shiftN, rn, 1e-3) << definition << " at " << B << " " << L;
        double b, l;
        inverse(e, n, &b, &l);
        ASSERT_NEAR(b, B, 1e-9) << definition << " at " << B << " " << L;
        ASSERT_NEAR(l, L, 1e-9) << definition << " at " << B << " " << L;
    }
}

int Lambert(double B, double L, double* E, double* N) { return BL_to_EN_Lambert(B, L, E, N); }

void LambertForward(double B, double L, double* E, double* N) {
    ASSERT_EQ(BL_to_EN_Lambert(B, L, E, N), 0);
}
void LambertInverse(double E, double N, double* B, double* L) {
    ASSERT_EQ(EN_to_BL_Lambert(E, N, B, L), 0);
}

Forward Swiss(int variant) {
    return [variant](double B, double L, double* E, double* N) {
        BL_to_EN_Switzerland_Conformal_DoubleProjection(B, L, E, N, variant);
    };
}
Inverse SwissBack(int variant) {
    return [variant](double E, double N, double* B, double* L) {
        EN_to_BL_Switzerland_Conformal_DoubleProjection(E, N, B, L, variant);
    };
}

}  // namespace

TEST(Soldner, OriginAndAgreementNearTheMeridian) {
    StateValues{.L0 = 13.5, .B0 = 47.0, .axes = kBessel, .FalseNorth = 5000, .FalseEast = 70000}.Push();
    double e, n;
    BL_to_EN_Soldner(47.0, 13.5, &e, &n);
    EXPECT_NEAR(e, 70000, 1e-9);
    EXPECT_NEAR(n, 5000, 1e-9);
    CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner,
               "+proj=cass +lat_0=47 +lon_0=13.5 +x_0=70000 +y_0=5000", kBessel,
               {44.0, 50.0, 12.5, 14.5}, 31);
}

TEST(Soldner, SouthernOriginsAndPointsAcrossTheEquator) {
    StateValues{.L0 = 18, .B0 = -30.0, .axes = kGRS80}.Push();
    CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner, "+proj=cass +lat_0=-30 +lon_0=18", kGRS80,
               {-34.0, -26.0, 17.0, 19.0}, 32);
    StateValues{.L0 = 30, .B0 = 2.0, .axes = kGRS80}.Push();
    CrossCheck(BL_to_EN_Soldner, EN_to_BL_Soldner, "+proj=cass +lat_0=2 +lon_0=30", kGRS80,
               {-3.0, 3.0, 29.0, 31.0}, 33);
}

TEST(Lambert, NationalPresetsAtTheirOriginsAndInTheirAreas) {
    StateValues s{.axes = kGRS80, .LambCase = 3};
    s.Push();
    double e, n;
    ASSERT_EQ(BL_to_EN_Lambert(46.5, 3.0, &e, &n), 0);
    EXPECT_NEAR(e, 700000, 1e-6);
    EXPECT_NEAR(n, 6600000, 1e-6);
    EXPECT_EQ(GetLambType(), 1);
    EXPECT_EQ(GetL0(), 3.0);
    CrossCheck(LambertForward, LambertInverse,
               "+proj=lcc +lat_1=49 +lat_2=44 +lat_0=46.5 +lon_0=3 +x_0=700000 +y_0=6600000",
               kGRS80, {41.3, 51.1, -5.2, 9.6}, 41);

    s.LambCase = 1;
    s.Push();
    double origin = 0;
    GMSDEZ(57, 31, 3.19415, &origin);
    ASSERT_EQ(BL_to_EN_Lambert(origin, 24.0, &e, &n), 0);
    EXPECT_NEAR(e, 500000, 1e-6);
    EXPECT_NEAR(n, 6375000, 1e-6);
    EXPECT_EQ(GetBNord(), 58.0);
    double b, l;
    ASSERT_EQ(EN_to_BL_Lambert(e, n, &b, &l), 0);
    EXPECT_NEAR(GetBNord(), 59.0 + 20.0 / 60.0, 1e-12);  // the inverse stores them swapped
    EXPECT_EQ(GetBSued(), 58.0);
    CrossCheck(LambertForward, LambertInverse,
               "+proj=lcc +lat_1=59.33333333333334 +lat_2=58 +lat_0=57.51755393055556 +lon_0=24 "
               "+x_0=500000 +y_0=6375000",
               kGRS80, {57.5, 59.8, 21.7, 28.3}, 42);

    s.axes = kHayford;
    s.LambCase = 2;
    s.Push();
    ASSERT_EQ(BL_to_EN_Lambert(50.0 + 47.0 / 60.0 + 52.134 / 3600.0,
                               4.0 + 21.0 / 60.0 + 33.177 / 3600.0, &e, &n),
              0);
    EXPECT_NEAR(e, 150328, 1e-3);
    EXPECT_NEAR(n, 166262, 1e-3);
    CrossCheck(LambertForward, LambertInverse,
               "+proj=lcc +lat_1=51.16666666666666 +lat_2=49.83333333333334 "
               "+lat_0=50.79781500000000 +lon_0=4.359215833333333 +x_0=150328 +y_0=166262",
               kHayford, {49.4, 51.6, 2.4, 6.5}, 43);
}

TEST(Lambert, TangentConeAsTheDatabaseUsesIt) {
    // One parallel as both standard parallels, LambType 0.
    StateValues{.L0 = 13.333333333333334, .axes = kBessel, .BNord = 47.5, .BSued = 47.5,
                .FalseNorth = 1000, .FalseEast = 2000}
        .Push();
    double e, n;
    ASSERT_EQ(BL_to_EN_Lambert(47.5, 13.333333333333334, &e, &n), 0);
    EXPECT_NEAR(e, 2000, 1e-6);
    EXPECT_NEAR(n, 1000, 1e-6);
    CrossCheck(LambertForward, LambertInverse,
               "+proj=lcc +lat_1=47.5 +lat_0=47.5 +lon_0=13.333333333333334 +k_0=1 +x_0=2000 "
               "+y_0=1000",
               kBessel, {46.0, 49.0, 9.0, 17.5}, 44);
}

TEST(Lambert, UndefinedConesFailAndWriteNothing) {
    double e = 123, n = 456, b = 7, l = 8;
    // Tangent cone with two different parallels.
    StateValues{.L0 = 5, .axes = kGRS80, .BNord = 48, .BSued = 46}.Push();
    EXPECT_EQ(Lambert(47, 5, &e, &n), -1);
    EXPECT_EQ(EN_to_BL_Lambert(1, 2, &b, &l), -1);
    // A cone type that does not exist.
    StateValues{.L0 = 5, .axes = kGRS80, .BNord = 48, .BSued = 46, .LambType = 2}.Push();
    EXPECT_EQ(Lambert(47, 5, &e, &n), -1);
    EXPECT_EQ(EN_to_BL_Lambert(1, 2, &b, &l), -1);
    EXPECT_EQ(e, 123);
    EXPECT_EQ(n, 456);
    EXPECT_EQ(b, 7);
    EXPECT_EQ(l, 8);
    EXPECT_EQ(GetLambType(), 2);
    EXPECT_EQ(GetL0(), 5.0);
    // A preset makes any cone type secant.
    SetLambCase(3);
    EXPECT_EQ(Lambert(47, 5, &e, &n), 0);
    EXPECT_EQ(GetLambType(), 1);
}

TEST(Lambert, SecantConeWithoutPresetComesBack) {
    StateValues{.L0 = -96, .axes = kGRS80, .BNord = 45, .BSued = 33, .FalseNorth = 0,
                .FalseEast = 0, .LambType = 1, .LambCase = 0}
        .Push();
    PointSource pts(25, 50, -120, -70, 45);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double B = pts.Lat(), L = pts.Lon();
        double e, n, b, l;
        ASSERT_EQ(BL_to_EN_Lambert(B, L, &e, &n), 0);
        ASSERT_EQ(EN_to_BL_Lambert(e, n, &b, &l), 0);
        ASSERT_NEAR(b, B, 1e-9);
        ASSERT_NEAR(l, L, 1e-9);
    }
}

TEST(Mercator, OriginAndAgreement) {
    StateValues{.L0 = 10, .axes = kGRS80}.Push();
    double e, n;
    BL_to_EN_Mercator(0, 10, &e, &n);
    EXPECT_NEAR(e, 0, 1e-9);
    EXPECT_NEAR(n, 0, 1e-9);
    CrossCheck(BL_to_EN_Mercator, EN_to_BL_Mercator, "+proj=merc +lon_0=10", kGRS80,
               {-80, 80, -170, 190}, 51);
}

TEST(EOV, FundamentalPointAndHungarianGrid) {
    StateValues{.axes = kGRS67}.Push();
    double e, n;
    // 47°08′39.8174″ on the ellipsoid lies at 47°06′ on the Gauss sphere.
    BL_to_EN_EOV(47.14439372222222, 19.04857178, &e, &n);
    EXPECT_NEAR(e, 650000, 2e-3);
    EXPECT_NEAR(n, 200000, 2e-3);
    double b, l;
    EN_to_BL_EOV(650000, 200000, &b, &l);
    EXPECT_NEAR(b, 47.14439372222222, 1e-7);
    EXPECT_NEAR(l, 19.04857178, 1e-9);
    // The reference definition gives the origin latitude to 0.0001″ (3 mm),
    // hence the allowed translation.
    CrossCheck(BL_to_EN_EOV, EN_to_BL_EOV,
               "+proj=somerc +lat_0=47.14439372222222 +lon_0=19.04857177777778 +k_0=0.99993 "
               "+x_0=650000 +y_0=200000",
               kGRS67, {45.7, 48.6, 16.1, 22.9}, 61, 3e-3);
}

TEST(Swiss, OriginsOfTheVariantsAndTheSwissGrid) {
    StateValues{.axes = kBessel}.Push();
    double phi0, lambda0;
    GMSDEZ(46, 57, 8.66, &phi0);
    GMSDEZ(7, 26, 22.50, &lambda0);
    const std::pair<int, std::pair<double, double>> variants[] = {
        {0, {2600000, 1200000}}, {1, {600000, 200000}}, {7, {0, 0}}};
    for (const auto& [variant, offsets] : variants) {
        double e, n;
        BL_to_EN_Switzerland_Conformal_DoubleProjection(phi0, lambda0, &e, &n, variant);
        EXPECT_NEAR(e, offsets.first, 1e-6) << variant;
        EXPECT_NEAR(n, offsets.second, 1e-6) << variant;
    }
    const Box swiss{45.7, 47.9, 5.8, 10.6};
    CrossCheck(Swiss(0), SwissBack(0),
               "+proj=somerc +lat_0=46.95240555555556 +lon_0=7.439583333333333 +k_0=1 "
               "+x_0=2600000 +y_0=1200000",
               kBessel, swiss, 71);
    CrossCheck(Swiss(1), SwissBack(1),
               "+proj=somerc +lat_0=46.95240555555556 +lon_0=7.439583333333333 +k_0=1 "
               "+x_0=600000 +y_0=200000",
               kBessel, swiss, 72);
}
