// Projection state, angle notation, geographic/Cartesian/ellipsoidal-harmonic
// conversions and the shared arc and isometric-latitude operations.

#include <GeographicLib/Geocentric.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "Ellipsoid.h"
#include "PelProjection.h"
#include "ProjectionTestSupport.h"

using namespace projection_test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Dms {
    int d;
    int m;
    double s;
};

Dms ToDms(double v) {
    Dms r{};
    DEZGMS(v, &r.d, &r.m, &r.s);
    return r;
}

double FromDms(int d, int m, double s) {
    double v = 0.0;
    GMSDEZ(d, m, s, &v);
    return v;
}

}  // namespace

TEST(ProjectionState, FreshThreadStartsFromLoadTimeValues) {
    // Set something here first: a new thread must not see it.
    StateValues{.L0 = 9, .L0Auto = 1, .B0 = 3, .LambType = 1, .LambCase = 2, .GKCase = 4}.Push();
    std::thread([] {
        EXPECT_EQ(GetA(), 0.0);
        EXPECT_EQ(GetB(), 0.0);
        EXPECT_EQ(GetL0(), 0.0);
        EXPECT_EQ(GetL0Auto(), 0);
        EXPECT_EQ(GetB0(), 0.0);
        EXPECT_EQ(GetLambType(), 0);
        EXPECT_EQ(GetLambCase(), 0);
        EXPECT_EQ(GetGKCase(), 0);
    }).join();
    EXPECT_EQ(GetGKCase(), 4);
}

TEST(ProjectionState, InitializeDLLStoresEveryValueInItsPlace) {
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

    SetEllipDim(1.0, 2.0);
    SetFalseEast(-1.0);
    SetFalseNorth(-2.0);
    EXPECT_EQ(GetA(), 1.0);
    EXPECT_EQ(GetB(), 2.0);
    EXPECT_EQ(GetFalseEast(), -1.0);
    EXPECT_EQ(GetFalseNorth(), -2.0);
}

TEST(AngleNotation, SignSitsOnTheFirstNonZeroPart) {
    Dms r = ToDms(-0.5);
    EXPECT_EQ(r.d, 0);
    EXPECT_EQ(r.m, -30);
    EXPECT_NEAR(r.s, 0.0, 1e-9);
    r = ToDms(-10.25);
    EXPECT_EQ(r.d, -10);
    EXPECT_EQ(r.m, 15);
    EXPECT_NEAR(r.s, 0.0, 1e-9);
    r = ToDms(-0.001);
    EXPECT_EQ(r.d, 0);
    EXPECT_EQ(r.m, 0);
    EXPECT_NEAR(r.s, -3.6, 1e-9);
    r = ToDms(10.5);
    EXPECT_EQ(r.d, 10);
    EXPECT_EQ(r.m, 30);
    EXPECT_NEAR(r.s, 0.0, 1e-9);

    EXPECT_DOUBLE_EQ(FromDms(0, -30, 0), -0.5);
    EXPECT_DOUBLE_EQ(FromDms(-10, 15, 0), -10.25);
    EXPECT_DOUBLE_EQ(FromDms(0, 0, -36), -0.01);
    EXPECT_DOUBLE_EQ(FromDms(46, 30, 0), 46.5);
}

TEST(AngleNotation, EveryValueSurvivesTheRoundTrip) {
    // Includes negative values below one degree with minutes and seconds.
    for (double v : {-0.5083, -0.9999, -0.0001, -12.3456789, 0.0, 0.75, 47.1234567, -179.99}) {
        const Dms r = ToDms(v);
        EXPECT_NEAR(FromDms(r.d, r.m, r.s), v, 1e-12) << v;
        EXPECT_GE(r.s, v < 0 && r.d == 0 && r.m == 0 ? -60.0 : 0.0) << v;
    }
}

TEST(GeographicCartesian, AxesAndPoles) {
    StateValues{.axes = kGRS80}.Push();
    double x, y, z;
    BLH_to_XYZ(0, 0, 0, &x, &y, &z);
    EXPECT_NEAR(x, kGRS80.a, 1e-9);
    EXPECT_NEAR(y, 0, 1e-9);
    EXPECT_NEAR(z, 0, 1e-9);
    BLH_to_XYZ(90, 0, 0, &x, &y, &z);
    EXPECT_NEAR(x, 0, 1e-6);
    EXPECT_NEAR(z, kGRS80.b, 1e-6);

    double b = -1, l = -1, h = -1;
    XYZ_to_BLH(kGRS80.a, 0, 0, &b, &l, &h);
    EXPECT_NEAR(b, 0, 1e-12);
    EXPECT_NEAR(l, 0, 1e-12);
    EXPECT_NEAR(h, 0, 1e-6);

    // Behind the pole axis the longitude keeps its quadrant.
    BLH_to_XYZ(30, 135, 100, &x, &y, &z);
    XYZ_to_BLH(x, y, z, &b, &l, &h);
    EXPECT_NEAR(l, 135, 1e-10);
    BLH_to_XYZ(-30, -120, 100, &x, &y, &z);
    XYZ_to_BLH(x, y, z, &b, &l, &h);
    EXPECT_NEAR(l, -120, 1e-10);
    EXPECT_NEAR(b, -30, 1e-10);

    // The south has no polar cap.
    BLH_to_XYZ(-89.5, 10, 0, &x, &y, &z);
    XYZ_to_BLH(x, y, z, &b, &l, &h);
    EXPECT_NEAR(b, -89.5, 1e-9);
}

TEST(GeographicCartesian, NorthPolarCapLeavesTheOutputsAlone) {
    StateValues{.axes = kGRS80}.Push();
    double b = 11, l = 22, h = 33;
    XYZ_to_BLH(1000, 1000, kGRS80.b - 94999, &b, &l, &h);
    EXPECT_EQ(b, 11);
    EXPECT_EQ(l, 22);
    EXPECT_EQ(h, 33);
    XYZ_to_BLH(1000, 1000, kGRS80.b - 95000, &b, &l, &h);  // the boundary belongs to the cap
    EXPECT_EQ(h, 33);
    XYZ_to_BLH(150000, 0, kGRS80.b - 95001, &b, &l, &h);
    EXPECT_NE(b, 11);
}

TEST(GeographicCartesian, AgreesWithGeocentricReferenceBothWays) {
    StateValues{.axes = kBessel}.Push();
    const GeographicLib::Geocentric ref(kBessel.a, 1.0 / kBessel.inverseFlattening);
    // North of about 80° the polar-cap rule leaves the outputs alone.
    PointSource pts(-89.9, 79.5, -180, 180, 7);
    std::uniform_real_distribution<double> heights(-500.0, 9000.0);
    std::mt19937_64 rng(3);
    for (int i = 0; i < kRandomPoints; ++i) {
        const double lat = pts.Lat(), lon = pts.Lon(), hgt = heights(rng);
        double x, y, z, rx, ry, rz;
        BLH_to_XYZ(lat, lon, hgt, &x, &y, &z);
        ref.Forward(lat, lon, hgt, rx, ry, rz);
        ASSERT_NEAR(x, rx, 1e-6);
        ASSERT_NEAR(y, ry, 1e-6);
        ASSERT_NEAR(z, rz, 1e-6);
        double b, l, h;
        XYZ_to_BLH(x, y, z, &b, &l, &h);
        ASSERT_NEAR(b, lat, 1e-9) << lat << " " << lon;
        ASSERT_NEAR(l, lon, 1e-9);
        ASSERT_NEAR(h, hgt, 1e-4);
    }
}

TEST(EllipsoidalHarmonic, SurfacePointsAndQuadrants) {
    StateValues{.axes = kGRS80}.Push();
    // On the reference ellipsoid (u = b) the reduced latitude gives (a·cosβ, b·sinβ).
    double x, y, z;
    EllipsoidalCoordinates_to_XYZ(40, 0, kGRS80.b, &x, &y, &z);
    EXPECT_NEAR(x, kGRS80.a * std::cos(40 / pel::kRho), 1e-6);
    EXPECT_NEAR(y, 0, 1e-9);
    EXPECT_NEAR(z, kGRS80.b * std::sin(40 / pel::kRho), 1e-6);

    for (double beta : {-60.0, -5.0, 0.5, 33.0, 75.0}) {
        for (double lambda : {-80.0, 10.0, 89.0}) {
            EllipsoidalCoordinates_to_XYZ(beta, lambda, 6400000.0, &x, &y, &z);
            double rb, rl, ru;
            XYZ_to_EllipsoidalCoordinates(x, y, z, &rb, &rl, &ru);
            EXPECT_NEAR(rb, beta, 1e-9);
            EXPECT_NEAR(rl, lambda, 1e-9);
            EXPECT_NEAR(ru, 6400000.0, 1e-5);
        }
    }
    // Behind the pole axis the quotient arctangent folds into ±90°.
    EllipsoidalCoordinates_to_XYZ(20, 135, 6400000.0, &x, &y, &z);
    double rb, rl, ru;
    XYZ_to_EllipsoidalCoordinates(x, y, z, &rb, &rl, &ru);
    EXPECT_NEAR(rl, -45, 1e-9);
}

TEST(MeridianArcs, SymmetryQuadrantAndInverse) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
    EXPECT_NEAR(pel::MeridianArcLength(el, 90.0), 10001965.7293, 1e-4);  // GRS80 quadrant
    EXPECT_EQ(pel::MeridianArcLength(el, 0.0), 0.0);
    for (double phi = 0.5; phi < 90; phi += 7.3) {
        const double g = pel::MeridianArcLength(el, phi);
        EXPECT_EQ(pel::MeridianArcLength(el, -phi), g);
        EXPECT_NEAR(pel::LatitudeFromArc(el, g), phi, 1e-12);
        EXPECT_NEAR(pel::LatitudeFromSignedArc(el, -g), -phi, 1e-12);
    }
}

TEST(MeridianArcs, IsometricLatitudeInvertsToTheLastBits) {
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kBessel.a, kBessel.b);
    EXPECT_NEAR(pel::IsometricLatitude(el, 0.0), 0.0, 1e-15);
    for (double deg = -89.0; deg <= 89.0; deg += 0.37) {
        const double phi = deg / pel::kRho;
        const double back = pel::LatitudeFromIsometric(el, pel::IsometricLatitude(el, phi));
        EXPECT_NEAR(back, phi, 4 * std::numeric_limits<double>::epsilon()) << deg;
    }
}

TEST(BoundedIterations, NonFiniteAndAbsurdInputReturns) {
    // None of these may hang; the values are whatever the arithmetic gives.
    const pel::Ellipsoid el = pel::Ellipsoid::FromAxes(kGRS80.a, kGRS80.b);
    for (double v : {kNaN, kInf, -kInf, 1e300}) {
        (void)pel::LatitudeFromArc(el, std::fabs(v));
        (void)pel::LatitudeFromIsometric(el, v);
    }
    StateValues{.axes = kGRS80}.Push();
    double o1 = 0, o2 = 0, o3 = 0;
    for (double v : {kNaN, kInf, -kInf, 1e300, -1e300}) {
        XYZ_to_BLH(v, v, -v, &o1, &o2, &o3);
        XYZ_to_BLH(v, 1.0, 0.0, &o1, &o2, &o3);
        EN_to_BL_GK(v, v, &o1, &o2);
        EN_to_BL_UTM_Raw(v, v, &o1, &o2);
        EN_to_BL_Soldner(v, v, &o1, &o2);
        EN_to_BL_Mercator(v, v, &o1, &o2);
        EN_to_BL_EOV(v, v, &o1, &o2);
        EN_to_BL_Switzerland_Conformal_DoubleProjection(v, v, &o1, &o2, 0);
        (void)EN_to_BL_Lambert(v, v, &o1, &o2);
        // Conversions to int stay defined for such values as well.
        int d, m, zone;
        char band;
        DEZGMS(v, &d, &m, &o1);
        SetL0Auto(1);
        BL_to_EN_UTM_With_Zone(v, v, &o1, &o2, &zone, &band);
        EN_to_BL_UTM_With_Zone(v, v, 33, "x", &o1, &o2);
        SetL0Auto(0);
    }
    // Uninitialised ellipsoid (a = b = 0).
    InitializeDLL(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    XYZ_to_BLH(1, 2, 3, &o1, &o2, &o3);
    EN_to_BL_GK(1, 2, &o1, &o2);
    SUCCEED();
}
