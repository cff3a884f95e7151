// Databases built from grids and control points: the library must read what
// the builder writes and reproduce the source through its own search and
// interpolation; broken input must be refused with a reason; the rover's
// grid interpolation must reproduce what each method is exact for.

#include <gtest/gtest.h>

#include <array>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ControlPoints.h"
#include "DatabaseBuilder.h"
#include "GridMesh.h"
#include "Ntv2Grid.h"
#include "RoverTransformation.h"

using namespace marlobuild;

namespace {

void Record(std::string& out, const char* key, const void* value, std::size_t size) {
  char r[16] = {};
  std::memcpy(r, key, std::min<std::size_t>(8, std::strlen(key)));
  for (std::size_t i = std::strlen(key); i < 8; ++i) r[i] = ' ';
  std::memcpy(r + 8, value, size);
  out.append(r, 16);
}
void Text(std::string& out, const char* key, const char* text) {
  char v[8];
  std::memset(v, ' ', 8);
  std::memcpy(v, text, std::min<std::size_t>(8, std::strlen(text)));
  Record(out, key, v, 8);
}
void Int(std::string& out, const char* key, int v) { Record(out, key, &v, 4); }
void Double(std::string& out, const char* key, double v) { Record(out, key, &v, 8); }

// A small NTv2 file over central Germany, 50..50.5 N, 8..9 E at 0.1 x 0.2
// degrees, with shifts that vary like a real datum's plus a local wave.
std::string SmallGrid(float nanAt = -1) {
  std::string g;
  Int(g, "NUM_OREC", 11);
  Int(g, "NUM_SREC", 11);
  Int(g, "NUM_FILE", 1);
  Text(g, "GS_TYPE", "SECONDS");
  Text(g, "VERSION", "NTv2.0");
  Text(g, "SYSTEM_F", "DHDN90");
  Text(g, "SYSTEM_T", "ETRS89");
  Double(g, "MAJOR_F", 6377397.155);
  Double(g, "MINOR_F", 6356078.963);
  Double(g, "MAJOR_T", 6378137.0);
  Double(g, "MINOR_T", 6356752.314);
  Text(g, "SUB_NAME", "TEST");
  Text(g, "PARENT", "NONE");
  Text(g, "CREATED", "");
  Text(g, "UPDATED", "");
  Double(g, "S_LAT", 50.0 * 3600);
  Double(g, "N_LAT", 50.5 * 3600);
  Double(g, "E_LONG", -9.0 * 3600);
  Double(g, "W_LONG", -8.0 * 3600);
  Double(g, "LAT_INC", 0.1 * 3600);
  Double(g, "LONG_INC", 0.2 * 3600);
  Int(g, "GS_COUNT", 6 * 6);
  for (int r = 0; r < 6; ++r)
    for (int k = 0; k < 6; ++k) {  // eastern column first
      const double lat = 50.0 + 0.1 * r, lon = 9.0 - 0.2 * k;
      float v[4] = {static_cast<float>(-4.2 + 0.3 * (lat - 50) + 0.002 * std::sin(7 * lon)),
                    static_cast<float>(-(-3.6 + 0.5 * (lon - 8) + 0.002 * std::cos(9 * lat))), 0.f, 0.f};
      if (nanAt == r * 6 + k) v[0] = NAN;
      g.append(reinterpret_cast<const char*>(v), 16);
    }
  g.append("END     ", 8);
  g.append(8, '\0');
  return g;
}

BuildSettings GridSettings(const Ntv2Grid& grid) {
  BuildSettings s;
  s.source = {grid.toSystem, grid.toA, grid.toB};
  s.target = {grid.fromSystem, grid.fromA, grid.fromB};
  s.centralMeridian = 9.0;
  return s;
}

}  // namespace

TEST(Ntv2Reading, ReadsShiftsAndRefusesBrokenFiles) {
  Ntv2Grid grid;
  std::string error;
  ASSERT_TRUE(ParseNtv2(SmallGrid(), grid, error)) << error;
  ASSERT_EQ(grid.subGrids.size(), 1u);
  EXPECT_EQ(grid.subGrids[0].rows, 6);
  EXPECT_EQ(grid.subGrids[0].columns, 6);
  EXPECT_NEAR(grid.subGrids[0].west, 8.0, 1e-12);
  // A node: the file's west-positive longitude shift comes back east-positive.
  double lat, lon;
  ASSERT_TRUE(grid.Forward(50.2, 8.4, lat, lon));
  EXPECT_NEAR((lat - 50.2) * 3600, -4.2 + 0.06 + 0.002 * std::sin(7 * 8.4), 1e-5);
  EXPECT_NEAR((lon - 8.4) * 3600, -3.6 + 0.2 + 0.002 * std::cos(9 * 50.2), 1e-5);
  // The inverse lands where the forward shift came from.
  double backLat, backLon;
  ASSERT_TRUE(grid.Inverse(lat, lon, backLat, backLon));
  EXPECT_NEAR(backLat, 50.2, 1e-10);
  EXPECT_NEAR(backLon, 8.4, 1e-10);
  EXPECT_FALSE(grid.Forward(49.9, 8.4, lat, lon));

  const std::string whole = SmallGrid();
  EXPECT_FALSE(ParseNtv2(whole.substr(0, whole.size() - 200), grid, error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  EXPECT_FALSE(ParseNtv2(SmallGrid(14), grid, error));
  EXPECT_NE(error.find("non-finite"), std::string::npos) << error;
  EXPECT_FALSE(ParseNtv2(whole.substr(0, 100), grid, error));
  EXPECT_FALSE(ParseNtv2("", grid, error));
}

TEST(GridDatabase, LibraryReproducesTheGridBetweenItsNodes) {
  Ntv2Grid grid;
  std::string error;
  ASSERT_TRUE(ParseNtv2(SmallGrid(), grid, error));
  DatabaseBuilder builder(GridSettings(grid));
  GridMeshOptions options;
  GridMeshReport report;
  ASSERT_TRUE(BuildGridMesh(grid, options, builder, report, error)) << error;
  EXPECT_EQ(report.cells, 25u);
  std::string text;
  FitStatistics stats;
  ASSERT_TRUE(builder.Build(text, stats, error)) << error;
  // Positions everywhere in the grid, at heights from sea level to a
  // mountain: the sets were fitted so that the height hardly matters.
  std::vector<double> atSeaLevel;
  for (double h : {0.0, 400.0, 1500.0}) {
    const auto checks = GridCheckPositions(grid, true, 300, h, 3u);
    std::vector<double> errors;
    ASSERT_TRUE(VerifyDatabase(text, checks, errors, error)) << error;
    if (h == 0.0) atSeaLevel = errors;
    for (std::size_t i = 0; i < errors.size(); ++i) {
      ASSERT_GE(errors[i], 0.0) << "a position inside the grid found no area";
      EXPECT_LT(errors[i], 0.004) << "height " << h;
      EXPECT_NEAR(errors[i], atSeaLevel[i], 0.0005) << "the result depends on the height " << h;
    }
  }
}

TEST(ControlPointDatabase, ReproducesEveryPointAndRefusesBrokenLists) {
  std::string csv = "name,lat,lon,h,lat2,lon2,h2\n";
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      const double lat = 47.0 + 0.1 * i + 0.01 * j, lon = 13.0 + 0.15 * j + 0.02 * i;
      char line[200];
      std::snprintf(line, sizeof line, "P%d%d,%.8f,%.8f,%.3f,%.8f,%.8f,%.3f\n", i, j, lat, lon, 400.0 + i,
                    lat + (1.5 + 0.02 * i * j) / 3600, lon + (3.2 - 0.03 * i) / 3600, 352.0 + i);
      csv += line;
    }
  std::vector<IdenticalPosition> points;
  std::string error;
  ASSERT_TRUE(ParseControlPoints(csv, points, error)) << error;
  ASSERT_EQ(points.size(), 25u);
  BuildSettings s;
  s.source = {"GRS80", 6378137.0, 6356752.314140356};
  s.target = {"Bessel", 6377397.155, 6356078.962818189};
  s.centralMeridian = 13.5;
  s.heightsGiven = true;
  DatabaseBuilder builder(s);
  ASSERT_TRUE(BuildPointMesh(points, builder, error)) << error;
  std::string text;
  FitStatistics stats;
  ASSERT_TRUE(builder.Build(text, stats, error)) << error;
  std::vector<double> errors;
  ASSERT_TRUE(VerifyDatabase(text, points, errors, error)) << error;
  // Every point, the outermost ones included, lies inside an area (-1
  // when none holds it) and is reproduced.
  for (std::size_t i = 0; i < errors.size(); ++i) {
    EXPECT_GE(errors[i], 0.0) << points[i].name << " lies in no area";
    EXPECT_LT(errors[i], 0.0005) << points[i].name << " is not reproduced";
  }
  // Between the points the database is linear in each triangle, so it
  // agrees with itself across every shared edge: positions inside the
  // triangles and close to every edge, from both sides of a shared one.
  std::vector<double> e, n;
  for (const IdenticalPosition& p : points) {
    double pe, pn;
    ASSERT_TRUE(ToPlane(s, p.sourceLat, p.sourceLon, pe, pn));
    e.push_back(pe);
    n.push_back(pn);
  }
  std::vector<IdenticalPosition> between;
  for (const Triangle& t : Triangulate(e, n))
    for (const auto& w : std::vector<std::array<double, 3>>{
             {0.495, 0.495, 0.01}, {0.01, 0.3, 0.69}, {0.25, 0.01, 0.74}, {0.2, 0.3, 0.5}, {0.6, 0.3, 0.1}}) {
      const IdenticalPosition* c[3] = {&points[t.a], &points[t.b], &points[t.c]};
      IdenticalPosition q;
      q.name = c[0]->name + "/" + c[1]->name + "/" + c[2]->name;
      for (int k = 0; k < 3; ++k) {
        q.sourceLat += w[k] * c[k]->sourceLat;
        q.sourceLon += w[k] * c[k]->sourceLon;
        q.sourceHeight += w[k] * c[k]->sourceHeight;
        q.targetLat += w[k] * c[k]->targetLat;
        q.targetLon += w[k] * c[k]->targetLon;
      }
      between.push_back(q);
    }
  ASSERT_TRUE(VerifyDatabase(text, between, errors, error)) << error;
  double worst = 0.0;
  for (std::size_t i = 0; i < errors.size(); ++i) {
    EXPECT_GE(errors[i], 0.0) << between[i].name << " lies in no area";
    worst = std::max(worst, errors[i]);
  }
  EXPECT_LT(worst, 0.0002);
  std::printf("control points: database against the linear triangles %.3f mm\n", worst * 1000);

  EXPECT_FALSE(ParseControlPoints("a,1,2,3,4,5\n", points, error));
  EXPECT_NE(error.find("7 columns"), std::string::npos) << error;
  EXPECT_FALSE(
      ParseControlPoints("a,47,13,0,47,13,0\nb,47.1,13,0,47.1,13,0\na,47,13.1,0,47,13.1,0\n", points, error));
  EXPECT_NE(error.find("twice"), std::string::npos) << error;
  EXPECT_FALSE(ParseControlPoints("a,47,13,0,47,13,nan\nb,1,1,1,1,1,1\nc,2,2,2,2,2,2\n", points, error));
  EXPECT_FALSE(ParseControlPoints("a,47,13,0,47,13,0\n", points, error));
  // Points on one line form no area.
  ASSERT_TRUE(
      ParseControlPoints("a,47,13,0,47,13,0\nb,47.1,13,0,47.1,13,0\nc,47.2,13,0,47.2,13,0\n", points, error));
  DatabaseBuilder line(s);
  EXPECT_FALSE(BuildPointMesh(points, line, error));
}

TEST(RoverGridInterpolation, EachMethodIsExactForWhatItCanRepresent) {
  double plane[16], quadratic[16], cubic[16];
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) {
      plane[r * 4 + c] = 1.0 + 2.0 * c - 3.0 * r + 0.5 * r * c;
      quadratic[r * 4 + c] = 0.3 * c * c - 0.2 * r * r + r * c;
      cubic[r * 4 + c] = 0.1 * c * c * c;
    }
  for (double x : {0.0, 0.4, 1.5, 2.7, 3.0})
    for (double y : {0.0, 1.2, 2.5, 3.0}) {
      EXPECT_NEAR(tarvikclient::InterpolateGrid(plane, x, y, 0), 1.0 + 2.0 * x - 3.0 * y + 0.5 * x * y,
                  1e-12);
      EXPECT_NEAR(tarvikclient::InterpolateGrid(quadratic, x, y, 1), 0.3 * x * x - 0.2 * y * y + x * y,
                  1e-12);
      // A natural spline is exact at the nodes and for straight lines.
      EXPECT_NEAR(tarvikclient::InterpolateGrid(plane, x, y, 2), 1.0 + 2.0 * x - 3.0 * y + 0.5 * x * y,
                  1e-12);
    }
  EXPECT_NEAR(tarvikclient::InterpolateGrid(cubic, 2.0, 1.0, 2), 0.8, 1e-12);
  // Transverse Mercator: on the central meridian no easting and the
  // northing is the meridian arc (integrated here numerically).
  const double a = 6377397.155, b = 6356078.962818, e2 = 1 - b * b / (a * a);
  double arc = 0;
  const int steps = 20000;
  for (int i = 0; i < steps; ++i) {
    const double phi = (i + 0.5) * (50.0 * M_PI / 180) / steps, s2 = std::sin(phi) * std::sin(phi);
    arc += a * (1 - e2) / std::pow(1 - e2 * s2, 1.5) * (50.0 * M_PI / 180) / steps;
  }
  double x, y;
  tarvikclient::TransverseMercator(a, b, 0.0, 9.0, 50.0, 9.0, x, y);
  EXPECT_NEAR(x, 0.0, 1e-6);
  EXPECT_NEAR(y, arc, 0.001);
}
