// The OrvelMan4 grid file reader and the bilinear interpolation.

#include <gtest/gtest.h>

#include "FifoFeeder.h"
#include "OrvelGrid.h"
#include "OrvelMan4.h"
#include "OrvelTestFiles.h"

namespace {

double SurfaceAt(const orvel::Grid& grid, double lat, double lon) {
  orvel::Surface s;
  EXPECT_EQ(orvel::Interpolate(grid, lat, lon, s), ORVEL_OK) << lat << " " << lon;
  return s.height;
}

TEST(OrvelGridFile, ReadsHeaderInAnyOrderAndValuesOnAnyLines) {
  tarvik::testing::ScratchFolder scratch("orvel");
  orvel::Grid grid;
  ASSERT_EQ(orvel::Read(scratch.Write("a", SmallGrid()), grid), ORVEL_INIT_OK);
  EXPECT_EQ(grid.rows, 3);
  EXPECT_EQ(grid.At(2, 0), 44.0);
  ASSERT_EQ(orvel::Read(scratch.Write("b",
                                      "ORVELGRID 1 columns 2 rows 2 dlon 1 dlat 1 "
                                      "east 1 west 0 north 1 south 0 1 2 3 +4e0"),
                        grid),
            ORVEL_INIT_OK);
  EXPECT_EQ(grid.At(1, 1), 4.0);
}

TEST(OrvelGridFile, RejectsBrokenFiles) {
  tarvik::testing::ScratchFolder scratch("orvel");
  orvel::Grid grid;
  const std::string header = "ORVELGRID 1\nsouth 47 north 48 west 13 east 14\ndlat 1 dlon 1\n";
  struct Case {
    const char* what;
    std::string text;
    int code;
  } cases[] = {
      {"magic", "ORVELGRID 2\n" + header.substr(12) + "rows 2 columns 2\n1 2 3 4", ORVEL_INIT_BAD_HEADER},
      {"no magic", "south 47\n", ORVEL_INIT_BAD_HEADER},
      {"empty", "", ORVEL_INIT_BAD_HEADER},
      {"duplicate key", header + "rows 2 rows 2\n1 2 3 4", ORVEL_INIT_BAD_HEADER},
      {"unknown key", header + "rows 2 cols 2\n1 2 3 4", ORVEL_INIT_BAD_HEADER},
      {"north inconsistent", header + "rows 3 columns 2\n1 2 3 4 5 6", ORVEL_INIT_BAD_HEADER},
      {"one row", "ORVELGRID 1 south 47 north 47 west 13 east 14 dlat 1 dlon 1 rows 1 columns 2 1 2",
       ORVEL_INIT_BAD_HEADER},
      {"zero spacing", "ORVELGRID 1 south 47 north 47 west 13 east 13 dlat 0 dlon 0 rows 2 columns 2 1 2 3 4",
       ORVEL_INIT_BAD_HEADER},
      {"huge",
       "ORVELGRID 1 south -90 north 90 west 0 east 360 dlat 0.00001 dlon 0.00001 "
       "rows 18000001 columns 36000001\n1",
       ORVEL_INIT_TOO_LARGE},
      {"too few", header + "rows 2 columns 2\n1 2 3", ORVEL_INIT_BAD_VALUES},
      {"too many", header + "rows 2 columns 2\n1 2 3 4 5", ORVEL_INIT_BAD_VALUES},
      {"not a number", header + "rows 2 columns 2\n1 2 x 4", ORVEL_INIT_BAD_VALUES},
      {"trailing text", header + "rows 2 columns 2\n1 2 3m 4", ORVEL_INIT_BAD_VALUES},
      {"nan", header + "rows 2 columns 2\n1 2 nan 4", ORVEL_INIT_BAD_VALUES},
      {"overlong token", header + "rows 2 columns 2\n1 2 3 " + std::string(100000, '4'),
       ORVEL_INIT_BAD_VALUES},
      {"comment inside a line", header + "rows 2 columns 2\n1 2 # 3 4\n3 4", ORVEL_INIT_BAD_VALUES},
  };
  for (const Case& c : cases) EXPECT_EQ(orvel::Read(scratch.Write("bad", c.text), grid), c.code) << c.what;
  EXPECT_EQ(orvel::Read(scratch.Write("bad", "").string() + ".missing", grid), ORVEL_INIT_CANNOT_OPEN);
  EXPECT_EQ(orvel::Read(scratch.Path().string(), grid), ORVEL_INIT_CANNOT_OPEN);
}

TEST(OrvelGridFile, ReadsOnlyRegularFiles) {
  // A pipe with a valid grid behind it: the reader neither waits for the
  // writer nor reads it, and a failed load keeps nothing of it.
  tarvik::testing::ScratchFolder scratch("orvel");
  testsupport::FifoFeeder pipe(scratch.Path() / "grid.fifo", SmallGrid());
  ASSERT_TRUE(pipe.Created());
  orvel::Grid grid;
  EXPECT_EQ(orvel::Read(pipe.Path().string(), grid), ORVEL_INIT_CANNOT_OPEN);
  EXPECT_EQ(grid.rows, 0);
  EXPECT_EQ(orvel::Read("/dev/zero", grid), ORVEL_INIT_CANNOT_OPEN);
  EXPECT_EQ(orvel::Read("/dev/null", grid), ORVEL_INIT_CANNOT_OPEN);
}

TEST(OrvelInterpolation, BilinearWithinCellsAndOnBorders) {
  tarvik::testing::ScratchFolder scratch("orvel");
  orvel::Grid grid;
  ASSERT_EQ(orvel::Read(scratch.Write("a", SmallGrid()), grid), ORVEL_INIT_OK);
  EXPECT_DOUBLE_EQ(SurfaceAt(grid, 47.0, 13.0), 40.0);
  EXPECT_DOUBLE_EQ(SurfaceAt(grid, 48.0, 14.0), 46.0);  // north-east corner
  EXPECT_DOUBLE_EQ(SurfaceAt(grid, 47.25, 13.25), 41.5);
  EXPECT_DOUBLE_EQ(SurfaceAt(grid, 47.6, 13.9), 40 + 2 * 1.2 + 1.8);  // a plane is reproduced
  orvel::Surface s;
  ASSERT_EQ(orvel::Interpolate(grid, 47.6, 13.9, s), ORVEL_OK);
  EXPECT_DOUBLE_EQ(s.slopeNorth, 4.0);  // 2 m per half degree
  EXPECT_DOUBLE_EQ(s.slopeEast, 2.0);
  EXPECT_EQ(orvel::Interpolate(grid, 46.99, 13.5, s), ORVEL_OUTSIDE_GRID);
  EXPECT_EQ(orvel::Interpolate(grid, 48.01, 13.5, s), ORVEL_OUTSIDE_GRID);
  EXPECT_EQ(orvel::Interpolate(grid, 47.5, 14.01, s), ORVEL_OUTSIDE_GRID);
  EXPECT_EQ(orvel::Interpolate(grid, 47.5, 12.99, s), ORVEL_OUTSIDE_GRID);
}

TEST(OrvelInterpolation, EitherLongitudeConvention) {
  tarvik::testing::ScratchFolder scratch("orvel");
  orvel::Grid west, east;
  // The same area written as -1..0 and as 359..360.
  ASSERT_EQ(orvel::Read(scratch.Write("w", SmallGrid("-1", "0")), west), ORVEL_INIT_OK);
  ASSERT_EQ(orvel::Read(scratch.Write("e", SmallGrid("359", "360")), east), ORVEL_INIT_OK);
  for (double lon : {-0.75, 359.25}) {
    EXPECT_DOUBLE_EQ(SurfaceAt(west, 47.5, lon), 42.5);
    EXPECT_DOUBLE_EQ(SurfaceAt(east, 47.5, lon), 42.5);
  }
  EXPECT_DOUBLE_EQ(SurfaceAt(west, 47.5, 0.0), SurfaceAt(east, 47.5, 360.0));
  EXPECT_DOUBLE_EQ(SurfaceAt(east, 47.5, 0.0), 44.0);  // 0 is 360 on that grid
}

}  // namespace
