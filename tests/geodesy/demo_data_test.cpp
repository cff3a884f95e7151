// The committed demo height data: both files load with their readers, cover
// the demo region and describe the same surface.

#include <gtest/gtest.h>

#include "GeodesyTestFiles.h"
#include "geodesy/CGeoidGrid.h"
#include "geodesy/CORVELDll.h"

namespace tarvik {
namespace {

const std::filesystem::path kData = std::filesystem::path(TARVIK_SOURCE_DIR) / "demo" / "data";

TEST(DemoHeightData, BothSurfacesCoverTheDemoRegionAndAgree) {
  CGeoidGrid geoid;
  ASSERT_EQ(geoid.Load(kData / "geoid" / "demo_geoid.grd"), 1);
  CORVELDll orvel;
  ASSERT_TRUE(orvel.Load(testing::BuiltLibrary("OrvelMan4"))) << orvel.LoadError();
  ASSERT_EQ(orvel.InitOrvelDB((kData / "orvel" / "demo_surface.orvel").string()), 1);

  for (double lat = 46.8; lat <= 48.6 + 1e-9; lat += 0.0377) {
    for (double lon = 13.0; lon <= 16.8 + 1e-9; lon += 0.0413) {
      double n = 0;
      ASSERT_EQ(geoid.Lookup(lat, lon, n), 1) << lat << " " << lon;
      OrvelSurfaceValues surface;
      ASSERT_EQ(orvel.GetNFEMbyLatLongH(lat, lon, 500.0, 1.0, surface), 0);
      OrvelSurfaceValues wrapped;  // the 0..360 convention gives the same value here
      ASSERT_EQ(orvel.GetNFEMbyLatLongH(lat, lon + 360.0, 500.0, 1.0, wrapped), 0);
      EXPECT_NEAR(wrapped.surfaceHeight, surface.surfaceHeight, 1e-9);
      EXPECT_GT(n, 45.0);
      EXPECT_LT(n, 50.0);
      // Different interpolations of the same nodes: centimetres apart at most.
      EXPECT_NEAR(n, 500.0 - surface.surfaceHeight, 0.03) << lat << " " << lon;
    }
  }
}

}  // namespace
}  // namespace tarvik
