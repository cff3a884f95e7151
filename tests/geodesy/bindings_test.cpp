// Library bindings against the real libraries and against stand-ins that
// lack an entry or throw.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "GeodesyTestFiles.h"
#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "geodesy/CPelProjectionDll.h"

namespace tarvik {
namespace {

using testing::BuiltLibrary;
using testing::ScratchFolder;

constexpr double kGrs80A = 6378137.0, kGrs80B = 6356752.314140347;
constexpr double kBesselA = 6377397.155, kBesselB = 6356078.962818189;

TEST(MarloBinding, PassesArgumentsAndResultsThrough) {
  CMarloDll marlo;
  ASSERT_TRUE(marlo.Load(BuiltLibrary("FakeMarloGood")));
  EXPECT_EQ(marlo.InitDB("/data/good.db"), 1);
  EXPECT_EQ(marlo.InitDB("/data/other.db"), -1002);

  double lon = 0, lat = 0, h = 0;
  EXPECT_EQ(marlo.TransformPoint_BLH_in_BLH_out(15.0, 47.0, 500.0, lon, lat, h), 1);
  EXPECT_DOUBLE_EQ(lon, 15.001);
  EXPECT_DOUBLE_EQ(lat, 47.002);
  EXPECT_DOUBLE_EQ(h, 460.0);
  EXPECT_EQ(marlo.TransformPoint_BLH_in_BLH_out(-1.0, 47.0, 0.0, lon, lat, h), -1000);

  marlo.Release();
  EXPECT_FALSE(marlo.IsReady());
  EXPECT_EQ(marlo.InitDB("/data/good.db"), -2006);
}

TEST(MarloBinding, MissingLibraryOrEntryIsNotReady) {
  for (const auto& file : {BuiltLibrary("NoSuchLibrary"), BuiltLibrary("FakeMarloNoTransform"),
                           BuiltLibrary("FakeOrvelThrows")}) {
    CMarloDll marlo;
    EXPECT_FALSE(marlo.Load(file)) << file;
    EXPECT_FALSE(marlo.LoadError().empty());
    EXPECT_EQ(marlo.InitDB("/data/good.db"), -2006);
    double lon = 7, lat = 8, h = 9;
    EXPECT_EQ(marlo.TransformPoint_BLH_in_BLH_out(15.0, 47.0, 0.0, lon, lat, h), 0);
    EXPECT_EQ(lon, 7);  // outputs untouched
  }
}

TEST(MarloBinding, ThrowingLibraryGivesCodes) {
  CMarloDll marlo;
  ASSERT_TRUE(marlo.Load(BuiltLibrary("FakeMarloThrows")));
  EXPECT_EQ(marlo.InitDB("/data/good.db"), -2007);
  double lon, lat, h;
  EXPECT_EQ(marlo.TransformPoint_BLH_in_BLH_out(15.0, 47.0, 0.0, lon, lat, h), 0);
}

TEST(MarloBinding, ReloadReplacesTheLibrary) {
  CMarloDll marlo;
  ASSERT_TRUE(marlo.Load(BuiltLibrary("FakeMarloThrows")));
  ASSERT_TRUE(marlo.Load(BuiltLibrary("FakeMarloGood")));
  EXPECT_EQ(marlo.InitDB("x/good.db"), 1);
  EXPECT_FALSE(marlo.Load(BuiltLibrary("FakeMarloNoTransform")));
  EXPECT_EQ(marlo.InitDB("x/good.db"), -2006);
}

TEST(MarloErrorTexts, TableAndCodesOutsideIt) {
  EXPECT_EQ(MarloErrorText(-1000), "Area not found");
  EXPECT_EQ(MarloErrorText(-1002), "Error reading database. Database file might be corrupt.");
  EXPECT_EQ(MarloErrorText(-1006), "Database version is not compatible with current software version.");
  EXPECT_EQ(MarloErrorText(-1007), "Marlo Access DLL is not initialized");
  // Codes of the binding itself and unknown ones still give a text.
  EXPECT_NE(MarloErrorText(-2006), MarloErrorText(-2007));
  EXPECT_NE(MarloErrorText(-2006).find("Marlo"), std::string::npos);
  EXPECT_NE(MarloErrorText(-4711).find("-4711"), std::string::npos);
}

TEST(OrvelBinding, RealLibrarySurfaceHeight) {
  ScratchFolder folder("orvelbinding");
  const auto grid = folder.Write("g.orvel",
                                 "ORVELGRID 1\nsouth 47 north 48 west 13 east 14\n"
                                 "dlat 1 dlon 1\nrows 2 columns 2\n40 42\n44 46\n");
  CORVELDll orvel;
  ASSERT_TRUE(orvel.Load(BuiltLibrary("OrvelMan4"))) << orvel.LoadError();
  EXPECT_EQ(orvel.InitOrvelDB(grid.string()), 1);
  EXPECT_LT(orvel.InitOrvelDB((folder.Path() / "missing").string()), 0);

  OrvelSurfaceValues out;
  ASSERT_EQ(orvel.GetNFEMbyLatLongH(47.5, 13.5, 500.0, 1.0, out), 0);
  EXPECT_DOUBLE_EQ(out.value1, 43.0);
  EXPECT_DOUBLE_EQ(out.surfaceHeight, 457.0);
  EXPECT_NE(orvel.GetNFEMbyLatLongH(50.0, 13.5, 500.0, 1.0, out), 0);
}

TEST(OrvelBinding, MissingOrThrowingLibrary) {
  CORVELDll missing;
  EXPECT_FALSE(missing.Load(BuiltLibrary("NoSuchLibrary")));
  OrvelSurfaceValues out;
  EXPECT_EQ(missing.InitOrvelDB("x"), -2006);
  EXPECT_EQ(missing.GetNFEMbyLatLongH(47, 13, 0, 1.0, out), -2006);

  CORVELDll wrongLibrary;  // loads, but has neither entry
  EXPECT_FALSE(wrongLibrary.Load(BuiltLibrary("FakeMarloGood")));
  EXPECT_EQ(wrongLibrary.InitOrvelDB("x"), -2006);

  CORVELDll throwing;
  ASSERT_TRUE(throwing.Load(BuiltLibrary("FakeOrvelThrows")));
  EXPECT_EQ(throwing.InitOrvelDB("x"), -2007);
  EXPECT_EQ(throwing.GetNFEMbyLatLongH(47, 13, 0, 1.0, out), -2007);
}

TEST(ProjectionBinding, RealLibraryRoundTrip) {
  for (auto loading : {PelProjectionLoading::Shared, PelProjectionLoading::PerBinding}) {
    CPelProjectionDll projection(CPelProjectionDll::DefaultLibraryFile(), loading);
    ASSERT_TRUE(projection.IsReady()) << projection.LoadError();
    ASSERT_EQ(projection.SetEllipsoid(kGrs80A, kGrs80B), 1);
    EXPECT_EQ(projection.State().a, kGrs80A);
    double X, Y, Z, lat, lon, h;
    ASSERT_EQ(projection.GeographicToCartesian(47.5, 14.25, 812.5, X, Y, Z), 1);
    // Spherical sanity: the point lies near the ellipsoid surface.
    EXPECT_NEAR(std::sqrt(X * X + Y * Y + Z * Z), 6367000.0, 10000.0);
    ASSERT_EQ(projection.CartesianToGeographic(X, Y, Z, lat, lon, h), 1);
    EXPECT_NEAR(lat, 47.5, 1e-9);
    EXPECT_NEAR(lon, 14.25, 1e-9);
    EXPECT_NEAR(h, 812.5, 1e-4);
  }
}

TEST(ProjectionBinding, NotReadyLeavesOutputsAlone) {
  for (const auto& file : {BuiltLibrary("NoSuchLibrary"), BuiltLibrary("FakeProjectionMissing")}) {
    CPelProjectionDll projection(file);
    EXPECT_FALSE(projection.IsReady()) << file;
    EXPECT_EQ(projection.Entries(), nullptr);
    double X = 3, Y = 4, Z = 5;
    EXPECT_EQ(projection.SetEllipsoid(kGrs80A, kGrs80B), -1000);
    EXPECT_EQ(projection.GeographicToCartesian(47, 13, 0, X, Y, Z), -1000);
    EXPECT_EQ(projection.CartesianToGeographic(1, 2, 3, X, Y, Z), -1000);
    EXPECT_EQ(X, 3);
    EXPECT_EQ(Z, 5);
  }
  CPelProjectionDll missingOne(BuiltLibrary("FakeProjectionMissing"), PelProjectionLoading::PerBinding);
  EXPECT_NE(missingOne.LoadError().find("EN_to_BL_Switzerland_Conformal_DoubleProjection"),
            std::string::npos);
}

TEST(ProjectionBinding, ThrowingLibraryGivesCode) {
  CPelProjectionDll projection(BuiltLibrary("FakeProjectionThrows"));
  ASSERT_TRUE(projection.IsReady());
  double X, Y, Z;
  EXPECT_EQ(projection.SetEllipsoid(kGrs80A, kGrs80B), 1);
  EXPECT_EQ(projection.GeographicToCartesian(47, 13, 0, X, Y, Z), -2000);
  EXPECT_EQ(projection.CartesianToGeographic(1, 2, 3, X, Y, Z), -2000);
}

// The array operations give the bits of the single ones, through the
// library's array exports, and say how far they got.
TEST(ProjectionBinding, ArraysGiveTheSingleConversionsBits) {
  CPelProjectionDll projection;
  ASSERT_TRUE(projection.IsReady());
  ASSERT_NE(projection.Entries()->XYZ_to_BLH_Points, nullptr);
  ASSERT_EQ(projection.SetEllipsoid(kBesselA, kBesselB), 1);
  constexpr int kCount = 11;
  double lat[kCount], lon[kCount], h[kCount], X[kCount], Y[kCount], Z[kCount];
  for (int i = 0; i < kCount; ++i) {
    lat[i] = -80.0 + 16.5 * i;
    lon[i] = -170.0 + 33.0 * i;
    h[i] = -200.0 + 1000.0 * i;
  }
  lat[kCount - 1] = 89.9;  // on the polar cap: converted to Cartesian, not back
  int converted = -1;
  ASSERT_EQ(projection.GeographicToCartesian(kCount, lat, lon, h, X, Y, Z, converted), 1);
  EXPECT_EQ(converted, kCount);
  double back[3][kCount];
  for (double* b : back) std::fill(b, b + kCount, 7.0);
  ASSERT_EQ(projection.CartesianToGeographic(kCount, X, Y, Z, back[0], back[1], back[2], converted), 1);
  EXPECT_EQ(converted, kCount);
  for (int i = 0; i < kCount; ++i) {
    double x = 0, y = 0, z = 0, b = 7.0, l = 7.0, hh = 7.0;
    ASSERT_EQ(projection.GeographicToCartesian(lat[i], lon[i], h[i], x, y, z), 1);
    EXPECT_TRUE(x == X[i] && y == Y[i] && z == Z[i]) << i;
    ASSERT_EQ(projection.CartesianToGeographic(X[i], Y[i], Z[i], b, l, hh), 1);
    EXPECT_TRUE(b == back[0][i] && l == back[1][i] && hh == back[2][i]) << i;
  }
  EXPECT_EQ(back[0][kCount - 1], 7.0);  // the cap is left alone
}

TEST(ProjectionBinding, ArraysOfANotReadyOrThrowingLibrary) {
  double in[2] = {47.0, 48.0}, out[3][2] = {{3, 3}, {4, 4}, {5, 5}};
  int converted = -1;
  CPelProjectionDll missing(BuiltLibrary("FakeProjectionMissing"));
  EXPECT_EQ(missing.GeographicToCartesian(2, in, in, in, out[0], out[1], out[2], converted), -1000);
  EXPECT_EQ(converted, 0);
  EXPECT_EQ(missing.CartesianToGeographic(2, in, in, in, out[0], out[1], out[2], converted), -1000);
  EXPECT_EQ(out[0][0] + out[1][1] + out[2][0], 12.0);
  // A library without array exports is called point by point; the first
  // call throws, so no point was converted.
  CPelProjectionDll throwing(BuiltLibrary("FakeProjectionThrows"));
  ASSERT_TRUE(throwing.IsReady());
  ASSERT_EQ(throwing.Entries()->BLH_to_XYZ_Points, nullptr);
  converted = -1;
  EXPECT_EQ(throwing.GeographicToCartesian(2, in, in, in, out[0], out[1], out[2], converted), -2000);
  EXPECT_EQ(converted, 0);
  converted = -1;
  EXPECT_EQ(throwing.CartesianToGeographic(2, in, in, in, out[0], out[1], out[2], converted), -2000);
  EXPECT_EQ(converted, 0);
}

TEST(MarloBinding, ArraysPointByPointWithoutTheLibrarysArrayForm) {
  CMarloDll marlo;
  ASSERT_TRUE(marlo.Load(BuiltLibrary("FakeMarloGood")));
  EXPECT_FALSE(marlo.HasPointArrays());
  const double lon[3] = {15.0, -1.0, 16.0}, lat[3] = {47.0, 47.0, 48.0}, h[3] = {500.0, 0.0, 100.0};
  double lonOut[3] = {}, latOut[3] = {}, hOut[3] = {};
  int results[3] = {};
  marlo.TransformPoints_BLH_in_BLH_out(3, lon, lat, h, lonOut, latOut, hOut, results);
  EXPECT_EQ(results[0], 1);
  EXPECT_EQ(results[1], -1000);
  EXPECT_EQ(results[2], 1);
  EXPECT_DOUBLE_EQ(lonOut[0], 15.001);
  EXPECT_DOUBLE_EQ(latOut[2], 48.002);
  // Not ready, or throwing: each point gets the binding's code.
  CMarloDll throwing;
  ASSERT_TRUE(throwing.Load(BuiltLibrary("FakeMarloThrows")));
  throwing.TransformPoints_BLH_in_BLH_out(3, lon, lat, h, lonOut, latOut, hOut, results);
  EXPECT_EQ(results[0] | results[1] | results[2], kMarloCallFailed);
  throwing.Release();
  results[1] = 9;
  throwing.TransformPoints_BLH_in_BLH_out(3, lon, lat, h, lonOut, latOut, hOut, results);
  EXPECT_EQ(results[1], kMarloCallFailed);
}

// Each binding's conversions use its own ellipsoid, whatever another binding
// pushed last, alternating on one thread and racing on two.
TEST(ProjectionBinding, BindingsKeepTheirOwnEllipsoid) {
  CPelProjectionDll grs80, bessel;
  ASSERT_TRUE(grs80.IsReady() && bessel.IsReady());
  ASSERT_EQ(grs80.SetEllipsoid(kGrs80A, kGrs80B), 1);
  ASSERT_EQ(bessel.SetEllipsoid(kBesselA, kBesselB), 1);
  double expectGrs[3], expectBessel[3];
  ASSERT_EQ(grs80.GeographicToCartesian(47.0, 15.0, 300.0, expectGrs[0], expectGrs[1], expectGrs[2]), 1);
  ASSERT_EQ(
      bessel.GeographicToCartesian(47.0, 15.0, 300.0, expectBessel[0], expectBessel[1], expectBessel[2]), 1);
  ASSERT_GT(std::fabs(expectGrs[0] - expectBessel[0]), 100.0);  // the ellipsoids differ
  double X, Y, Z;
  ASSERT_EQ(grs80.GeographicToCartesian(47.0, 15.0, 300.0, X, Y, Z), 1);
  EXPECT_EQ(X, expectGrs[0]);

  auto run = [](CPelProjectionDll* binding, const double* expected, int* mismatches) {
    for (int i = 0; i < 20000; ++i) {
      double x, y, z, lat, lon, h;
      binding->GeographicToCartesian(47.0, 15.0, 300.0, x, y, z);
      binding->CartesianToGeographic(expected[0], expected[1], expected[2], lat, lon, h);
      if (x != expected[0] || y != expected[1] || z != expected[2] || std::fabs(h - 300.0) > 1e-3)
        ++*mismatches;
    }
  };
  int grsMismatches = 0, besselMismatches = 0;
  std::thread a(run, &grs80, expectGrs, &grsMismatches);
  std::thread b(run, &bessel, expectBessel, &besselMismatches);
  a.join();
  b.join();
  EXPECT_EQ(grsMismatches, 0);
  EXPECT_EQ(besselMismatches, 0);
}

}  // namespace
}  // namespace tarvik
