// Residual interpolation (weight functions 1 to 3, neighbour modes 0 to 3)
// and the coefficient vectors of weight function 0, from the solve to the
// files and back through the loaded library.

#include <gtest/gtest.h>
#include <GeographicLib/Ellipsoid.hpp>

#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>

#include "AreaSearch.h"
#include "CoefficientVector.h"
#include "FifoFeeder.h"
#include "MarloGenerator.h"
#include "ResidualInterpolation.h"
#include "marlo/MarloLibrary.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;
using marlo::InterpolationSettings;
using marlo::MarloDatabase;
using marlo::ResidualMeans;

namespace {

// Area 1 with points A (0,0) and B (100,0); area 2 related to 1 with C
// (1000,0); area 3 unrelated with D (5000,0).
MarloDatabase Points() {
  const std::string text =
      PlaneHeader("V41", 1) + Cell(1, {1}) + "3\n" +
      RectangleArea(1, 0, 0, 10, 10, 10, 100, {{"A", 0, 0, 1.0, 2.0, 3.0}, {"B", 100, 0, 3.0, 6.0, 9.0}}) +
      RectangleArea(2, 0, 0, 10, 10, 20, 200, {{"C", 1000, 0, 10.0, 10.0, 10.0}}) +
      RectangleArea(3, 0, 0, 10, 10, 30, 300, {{"D", 5000, 0, 50.0, 50.0, 50.0}}) + "1\n1\n1\n2\n";
  MarloDatabase db;
  EXPECT_EQ(marlo::ParseDatabase(text, db), 1);
  return db;
}

ResidualMeans Means(const MarloDatabase& db, int weight, int mode, double e, double n, double radius = 0.0,
                    double shape = 100.0) {
  InterpolationSettings s{1, weight, mode, radius, shape};
  ResidualMeans m;
  EXPECT_TRUE(marlo::InterpolateResiduals(db, s, db.areas.at(1), e, n, m));
  return m;
}

TEST(MarloInterpolation, WeightFunctions) {
  const MarloDatabase db = Points();
  // Midway between A and B all functions give the plain mean.
  for (int w : {1, 2, 3}) {
    const ResidualMeans m = Means(db, w, 0, 50, 0);
    EXPECT_NEAR(m.lon, 2.0, 1e-12) << w;
    EXPECT_NEAR(m.lat, 4.0, 1e-12) << w;
    EXPECT_NEAR(m.height, 6.0, 1e-12) << w;
  }
  // At 25 m from A and 75 m from B.
  EXPECT_NEAR(Means(db, 1, 0, 25, 0).lon, (1.0 / 25 + 3.0 / 75) / (1.0 / 25 + 1.0 / 75), 1e-12);
  EXPECT_NEAR(Means(db, 2, 0, 25, 0).lon, (1.0 / 625 + 3.0 / 5625) / (1.0 / 625 + 1.0 / 5625), 1e-12);
  const double wa = 1.0 / std::expm1(0.25), wb = 1.0 / std::expm1(0.75);
  EXPECT_NEAR(Means(db, 3, 0, 25, 0).lon, (wa + 3 * wb) / (wa + wb), 1e-12);
  // Exactly on an identical point: its residuals.
  for (int w : {1, 2, 3}) {
    const ResidualMeans m = Means(db, w, 0, 100, 0);
    EXPECT_NEAR(m.lon, 3.0, 1e-9) << w;
    EXPECT_NEAR(m.height, 9.0, 1e-9) << w;
  }
  // Function 3: a far point dilutes but adds no residual; a tiny shape
  // distance makes every point far.
  const ResidualMeans far = Means(db, 3, 0, 50, 0, 0.0, 1.0);
  EXPECT_EQ(far.lon, 0.0);
  // Out of range: no correction.
  InterpolationSettings s{1, 4, 0, 0, 0};
  ResidualMeans m;
  EXPECT_FALSE(marlo::InterpolateResiduals(db, s, db.areas.at(1), 0, 0, m));
  s = {1, 1, 4, 0, 0};
  EXPECT_FALSE(marlo::InterpolateResiduals(db, s, db.areas.at(1), 0, 0, m));
}

TEST(MarloInterpolation, ExponentialWeightsWithNearAndFarPoints) {
  // Shape distance 100 m: exp(d / 100) reaches 1e8 at d = 1842 m. Points
  // below that distance add weight and residual, points beyond it add only
  // their weight; they come in mixed order.
  const std::vector<TestPoint> points{{"F1", 1850, 0, 100.0, 100.0, 100.0},
                                      {"N1", 1800, 0, 1.0, 2.0, 3.0},
                                      {"F2", 1900, 0, 1000.0, 1000.0, 1000.0},
                                      {"N2", 1820, 0, 3.0, 4.0, 5.0}};
  const std::string text =
      PlaneHeader("V41", 1) + Cell(1, {1}) + "1\n" + RectangleArea(1, 0, 0, 10, 10, 10, 100, points) + "0\n";
  MarloDatabase db;
  ASSERT_EQ(marlo::ParseDatabase(text, db), 1);
  auto w = [](double d) { return 0.5 * (std::exp(1.0) - 1.0) / (std::exp(d / 100.0) - 1.0); };
  const double wN1 = w(1800), wN2 = w(1820), wF1 = w(1850), wF2 = w(1900);
  // The far weights are of the same order as the near ones here.
  ASSERT_GT(wF1 + wF2, 0.4 * (wN1 + wN2));
  const double sum = wN1 + wN2 + wF1 + wF2;
  const ResidualMeans m = Means(db, 3, 0, 0, 0, 0.0, 100.0);
  EXPECT_NEAR(m.lon, (wN1 * 1.0 + wN2 * 3.0) / sum, 1e-9);
  EXPECT_NEAR(m.lat, (wN1 * 2.0 + wN2 * 4.0) / sum, 1e-9);
  EXPECT_NEAR(m.height, (wN1 * 3.0 + wN2 * 5.0) / sum, 1e-9);
}

TEST(MarloInterpolation, NeighbourModes) {
  const MarloDatabase db = Points();
  const double e = 3000, n = 0;  // far from all, so the weights differ little
  auto weighted = [&](std::initializer_list<std::pair<double, double>> pts) {
    double sw = 0, s = 0;
    for (auto [x, r] : pts) {
      const double w = 1.0 / std::fabs(x - e);
      sw += w;
      s += w * r;
    }
    return s / sw;
  };
  EXPECT_NEAR(Means(db, 1, 0, e, n).lon, weighted({{0, 1}, {100, 3}}), 1e-12);
  EXPECT_NEAR(Means(db, 1, 1, e, n).lon, weighted({{0, 1}, {100, 3}, {1000, 10}}), 1e-12);
  EXPECT_NEAR(Means(db, 1, 3, e, n).lon, weighted({{0, 1}, {100, 3}, {1000, 10}, {5000, 50}}), 1e-12);
  // Radius in kilometres: 2.5 km reaches C and D only.
  EXPECT_NEAR(Means(db, 1, 2, e, n, 2.5).lon, weighted({{1000, 10}, {5000, 50}}), 1e-12);
  // Radius 0: only a point at distance 0.
  EXPECT_NEAR(Means(db, 1, 2, 1000, 0, 0.0).lon, 10.0, 1e-9);
  EXPECT_EQ(Means(db, 1, 2, 1001, 0, 0.0).lon, 0.0);
}

// The points as loading lays them out side by side give the sums of the
// area's point map, bit for bit: every weight function and neighbour mode,
// positions anywhere and right on a point (where one by one takes over).
TEST(MarloInterpolation, PreparedPointsGiveTheSumsOfThePointMap) {
  MarloDatabase prepared;
  ASSERT_EQ(marlo::ParseDatabase(marlogen::GenerateDatabase({}), prepared), 1);
  marlo::PreparePolygons(prepared);
  MarloDatabase fromMap = prepared;
  for (auto& [id, area] : fromMap.areas) area.residualPoints.clear();
  const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  int compared = 0;
  for (const auto& [id, area] : prepared.areas) {
    if (id % 7 != 0 || area.points.empty()) continue;
    ASSERT_EQ(area.residualPoints.size(), area.points.size());
    const marlo::IdenticalPoint& first = area.points.begin()->second;
    const std::pair<double, double> positions[] = {{first.easting, first.northing},
                                                   {first.easting + 3e-5, first.northing},
                                                   {first.easting + 1234.5, first.northing - 987.25},
                                                   {first.easting - 20000.0, first.northing + 15000.0}};
    for (int weight : {1, 2, 3})
      for (int mode : {0, 1, 3})
        for (const auto& [e, n] : positions) {
          const InterpolationSettings s{1, weight, mode, 0.0, 5000.0};
          ResidualMeans a, b;
          ASSERT_TRUE(marlo::InterpolateResiduals(prepared, s, area, e, n, a));
          ASSERT_TRUE(marlo::InterpolateResiduals(fromMap, s, fromMap.areas.at(id), e, n, b));
          EXPECT_EQ(bits(a.lon), bits(b.lon)) << id << " " << weight << " " << mode;
          EXPECT_EQ(bits(a.lat), bits(b.lat)) << id << " " << weight << " " << mode;
          EXPECT_EQ(bits(a.height), bits(b.height)) << id << " " << weight << " " << mode;
          ++compared;
        }
  }
  EXPECT_GT(compared, 100);
}

TEST(MarloCoefficients, SolveReproducesResidualsAtThePoints) {
  // A single point: ax = r / kernel(0).
  std::vector<marlo::ListPoint> one{{"A", 10, 20, 0.5, -0.25}};
  std::vector<double> ax, ay;
  ASSERT_TRUE(marlo::SolveCoefficients(one, 2.0, 300.0, ax, ay));
  const double k0 = 0.001 * std::sqrt(2.0 * 300.0 * 300.0);
  EXPECT_NEAR(ax[0], 0.5 / k0, 1e-12);
  EXPECT_NEAR(ay[0], -0.25 / k0, 1e-12);

  // The demo database: the surface passes through every residual.
  MarloDatabase db;
  marlogen::Options small;
  small.meshColumns = 6;
  small.meshRows = 5;
  ASSERT_EQ(marlo::ParseDatabase(marlogen::GenerateDatabase(small), db), 1);
  marlo::CoefficientModel model;
  model.points = marlo::BuildIdenticalPointList(db);
  // Related areas add no duplicates.
  EXPECT_EQ(model.points.size(), 30u * static_cast<std::size_t>(small.supportPointsPerArea));
  model.paramF = 1.0;
  model.paramD = marlo::DerivedParamD(model.points);
  EXPECT_GT(model.paramD, 0.1);
  EXPECT_LT(model.paramD, 1000000.0);
  ASSERT_TRUE(marlo::SolveCoefficients(model.points, model.paramF, model.paramD, model.ax, model.ay));
  for (const marlo::ListPoint& p : model.points) {
    double dLat = 0, dLon = 0;
    marlo::EvaluateCoefficients(model, p.easting, p.northing, dLat, dLon);
    EXPECT_NEAR(dLat, p.residualLat, 1e-6) << p.name;
    EXPECT_NEAR(dLon, p.residualLon, 1e-6) << p.name;
  }
  // Points with equal positions and no second pair at all.
  std::vector<marlo::ListPoint> same{
      {"A", 0, 0, 1, 1}, {"B", 0, 0, 2, 2}, {"C", 0, 0.05, 0, 0}, {"A", 6, 8, 0, 0}};
  EXPECT_DOUBLE_EQ(marlo::DerivedParamD(same), std::hypot(6.0, 7.95));  // C to the second A
  same.pop_back();
  EXPECT_EQ(marlo::DerivedParamD(same), 1000000.0);
}

TEST(MarloCoefficients, VectorFiles) {
  TempFolder folder;
  const std::string path = (folder.Path() / "v.dat").string();
  ASSERT_TRUE(marlo::WriteVectorFile(path, {1.5, -2.25}));
  std::ifstream in(path);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(all, "             1.5000000000\n            -2.2500000000\n\n");
  std::vector<double> v;
  ASSERT_TRUE(marlo::ReadVectorFile(folder.Write("w.dat", "\n1.5\n\n  \n-2.25\r\n\n"), v));
  EXPECT_EQ(v, (std::vector<double>{1.5, -2.25}));
  v = {7};
  EXPECT_FALSE(marlo::ReadVectorFile((folder.Path() / "none.dat").string(), v));
  EXPECT_EQ(v, (std::vector<double>{7}));
  EXPECT_FALSE(marlo::WriteVectorFile((folder.Path() / "no" / "dir.dat").string(), {1}));
}

TEST(MarloCoefficients, SettingsCodes) {
  TempFolder folder;
  marlo::CoefficientSettings s;
  EXPECT_EQ(marlo::ReadCoefficientSettings((folder.Path() / "x.ini").string(), s), -1006);
  EXPECT_EQ(marlo::ReadCoefficientSettings(
                folder.Write("a.ini", "[Params]\nDefinitionType=2\nAreaType=3\nParamF=1\n"), s),
            -1007);
  EXPECT_EQ(marlo::ReadCoefficientSettings(
                folder.Write("b.ini", "[Params]\nDefinitionType=1\nAreaType=\nParamF=1\n"), s),
            -1007);
  ASSERT_EQ(marlo::ReadCoefficientSettings(
                folder.Write("c.ini", "[Params]\nDefinitionType=1\nAreaType=3\nParamF=0.5\n"), s),
            1);
  EXPECT_EQ(s.areaType, 3);
  EXPECT_EQ(s.paramF, 0.5);
}

// Through the library: create, read back, evaluate at an identical point.
TEST(MarloCoefficients, LibraryRoundTrip) {
  MarloLibrary lib((ExecutableFolder() / "MarloDLL.so").string());
  ASSERT_TRUE(lib.Loaded());
  TempFolder folder;
  marlogen::Options small;
  small.meshColumns = 6;
  small.meshRows = 5;
  const std::string db = folder.Write("small.mdb", marlogen::GenerateDatabase(small));
  ASSERT_EQ(lib.InitDB(db.c_str()), 1);

  const std::filesystem::path dir = folder.Path() / "vectors";
  std::filesystem::create_directories(dir);
  folder.Write("vectors/other.ini", "[Params]\nDefinitionType=1\nAreaType=1\nParamF=1\n");
  EXPECT_EQ(lib.CreateCoefficientVector((dir / "other.ini").c_str()), 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "AX_0.dat"));  // AreaType not 3
  EXPECT_EQ(lib.CreateCoefficientVector((dir / "none.ini").c_str()), -1006);
  std::filesystem::create_directories(folder.Path() / "ro");
  folder.Write("vectors/vectors.ini", "[Params]\nDefinitionType=1\nAreaType=3\nParamF=1\n");
  ASSERT_EQ(lib.CreateCoefficientVector((dir / "vectors.ini").c_str()), 1);
  EXPECT_TRUE(std::filesystem::exists(dir / "AX_0.dat"));
  EXPECT_TRUE(std::filesystem::exists(dir / "AY_0.dat"));

  // Off, then weight function 0 on: at an identical point the correction
  // equals its residuals (derived ParamD reaches the evaluation too).
  marlo::MarloDatabase parsed;
  ASSERT_EQ(marlo::ParseDatabase(marlogen::GenerateDatabase(small), parsed), 1);
  // An identical point that lies inside the database (the demo's support
  // points stand around their areas, some beyond the mesh).
  void* pel = ::dlopen((ExecutableFolder() / "PelProjection.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(pel, nullptr);
  auto init = reinterpret_cast<void (*)(double, int, double, double, double, double, double, double, double,
                                        int, int, int)>(::dlsym(pel, "InitializeDLL"));
  auto inverse = reinterpret_cast<void (*)(double, double, double*, double*)>(::dlsym(pel, "EN_to_BL_GK"));
  const marlo::IdenticalPoint* inside = nullptr;
  double B = 0, L = 0, Lo = 0, Bo = 0, ho = 0, Li = 0, Bi = 0, hi = 0;
  for (const auto& [id, area] : parsed.areas) {
    for (const auto& [number, point] : area.points) {
      init(marlogen::kCentralMeridian, 0, 0, marlogen::kGrs80A, marlogen::kGrs80B, 0, 0, 0, 0, 0, 0, 0);
      inverse(point.easting, point.northing, &B, &L);
      if (lib.BLH_BLH(L, B, 400.0, &Lo, &Bo, &ho) == 1) {
        inside = &point;
        break;
      }
    }
    if (inside != nullptr) break;
  }
  ::dlclose(pel);
  ASSERT_NE(inside, nullptr);
  const marlo::IdenticalPoint& p = *inside;
  ASSERT_EQ(lib.SetInterpolationVectorPath(dir.c_str()), 1);
  lib.SetInterpolationType(1, 0, 3, 0.0, 0.0);
  ASSERT_EQ(lib.BLH_BLH(L, B, 400.0, &Li, &Bi, &hi), 1);
  const double northShift = (Bi - Bo) * 111140.0;
  const double eastShift = (Li - Lo) * 111320.0 * std::cos(Bo * M_PI / 180.0);
  EXPECT_NEAR(northShift, p.residualLat, 0.002);
  EXPECT_NEAR(eastShift, p.residualLon, 0.002);
  EXPECT_EQ(hi, ho);

  // Inverse distance at the same point: the same residuals, height too.
  lib.SetInterpolationType(1, 2, 3, 0.0, 0.0);
  ASSERT_EQ(lib.BLH_BLH(L, B, 400.0, &Li, &Bi, &hi), 1);
  EXPECT_NEAR((Bi - Bo) * 111140.0, p.residualLat, 0.002);
  EXPECT_NEAR(hi - ho, p.residualHeight, 1e-6);

  // A new InitDB switches interpolation off.
  ASSERT_EQ(lib.InitDB(db.c_str()), 1);
  ASSERT_EQ(lib.BLH_BLH(L, B, 400.0, &Li, &Bi, &hi), 1);
  EXPECT_EQ(Bi, Bo);
  // A folder without its settings file.
  EXPECT_EQ(lib.SetInterpolationVectorPath((folder.Path() / "ro").c_str()), 0);
  lib.ExitDB();
}

}  // namespace

namespace {

// The metric residuals become angles with the radii of curvature of the
// target ellipsoid: the meridian radius M for the latitude, the normal
// radius N for the longitude. Near the equator M is 0.7 % shorter than N, so
// 800 m and 500 m of residual tell the two apart by metres.
TEST(MarloCoefficients, MetricCorrectionUsesTheTargetRadiiOfCurvature) {
  MarloLibrary lib((ExecutableFolder() / "MarloDLL.so").string());
  ASSERT_TRUE(lib.Loaded());
  TempFolder folder;
  const double rLon = 500.0, rLat = 800.0, rHeight = 12.5;
  const std::string db = folder.Write(
      "equator.mdb", GkSquareDatabase(15.0, -200000, -200000, 400000, "1\n0\n0\n0\n0\n0\n0\n0\n",
                                      {{"P", 1000, 2000, rLon, rLat, rHeight}}, kTestGrs80, kTestBessel));
  ASSERT_EQ(lib.InitDB(db.c_str()), 1);
  const GeographicLib::Ellipsoid bessel(kTestBessel.a, (kTestBessel.a - kTestBessel.b) / kTestBessel.a);
  const double rho = 180.0 / M_PI;
  for (const auto& [L, B] : {std::pair{15.4, 1.2}, std::pair{14.1, -1.5}, std::pair{15.0, 0.3}}) {
    double Lo = 0, Bo = 0, ho = 0, Li = 0, Bi = 0, hi = 0;
    lib.SetInterpolationType(0, 1, 0, 0.0, 0.0);
    ASSERT_EQ(lib.BLH_BLH(L, B, 100.0, &Lo, &Bo, &ho), 1);
    // One identical point: inverse distance gives its residuals everywhere.
    lib.SetInterpolationType(1, 1, 0, 0.0, 0.0);
    ASSERT_EQ(lib.BLH_BLH(L, B, 100.0, &Li, &Bi, &hi), 1);
    const double M = bessel.MeridionalCurvatureRadius(Bo), N = bessel.TransverseCurvatureRadius(Bo);
    EXPECT_NEAR(Bi, Bo + rho * rLat / M, 1e-10) << B;
    EXPECT_NEAR(Li, Lo + rho * rLon / (N * std::cos(Bo / rho)), 1e-10) << B;
    EXPECT_NEAR(hi, ho + rHeight, 1e-9) << B;
  }
  lib.ExitDB();
}

TEST(MarloCoefficients, VectorFilesThatCannotBeCreated) {
  MarloLibrary lib((ExecutableFolder() / "MarloDLL.so").string());
  ASSERT_TRUE(lib.Loaded());
  TempFolder folder;
  marlogen::Options small;
  small.meshColumns = 3;
  small.meshRows = 2;
  ASSERT_EQ(lib.InitDB(folder.Write("small.mdb", marlogen::GenerateDatabase(small)).c_str()), 1);
  const std::string settings = "[Params]\nDefinitionType=1\nAreaType=3\nParamF=1\n";
  // Either file standing as a folder in the way.
  for (const char* blocked : {"AX_0.dat", "AY_0.dat"}) {
    const std::string dir = std::string("blocked-") + blocked;
    std::filesystem::create_directories(folder.Path() / dir / blocked);
    const std::string ini = folder.Write(dir + "/s.ini", settings);
    EXPECT_EQ(lib.CreateCoefficientVector(ini.c_str()), -1008) << blocked;
  }
  // Without the obstacle the same settings succeed.
  std::filesystem::create_directories(folder.Path() / "free");
  EXPECT_EQ(lib.CreateCoefficientVector(folder.Write("free/s.ini", settings).c_str()), 1);
  lib.ExitDB();
}

TEST(MarloCoefficients, SettingsAndVectorsThatAreNotUsable) {
  TempFolder folder;
  marlo::CoefficientSettings s;
  // Values whose kernel would be NaN.
  for (const char* values :
       {"DefinitionType=1\nAreaType=3\nParamF=nan\n", "DefinitionType=1\nAreaType=3\nParamF=-1\n",
        "DefinitionType=1\nAreaType=3\nParamF=inf\n", "DefinitionType=2\nAreaType=3\nParamF=1\nParamD=inf\n",
        "DefinitionType=2\nAreaType=3\nParamF=1\nParamD=-nan\n"})
    EXPECT_EQ(marlo::ReadCoefficientSettings(folder.Write("v.ini", std::string("[Params]\n") + values), s),
              -1007)
        << values;
  // A pipe is not read (the INI layer would wait on it).
  {
    testsupport::FifoFeeder pipe(folder.Path() / "p.ini",
                                 "[Params]\nDefinitionType=1\nAreaType=3\nParamF=1\n");
    ASSERT_TRUE(pipe.Created());
    EXPECT_EQ(marlo::ReadCoefficientSettings(pipe.Path().string(), s), -1006);
  }
  // Vector files: a value that is not finite or not a number refuses the
  // whole file and keeps the vector read before; pipes and devices are not
  // read.
  std::vector<double> v{7};
  for (const char* text : {"1.5\nnan\n", "1.5\n-inf\n", "1e999\n", "1.5\nabc\n"}) {
    EXPECT_FALSE(marlo::ReadVectorFile(folder.Write("bad.dat", text), v)) << text;
    EXPECT_EQ(v, (std::vector<double>{7})) << text;
  }
  {
    testsupport::FifoFeeder pipe(folder.Path() / "AX.fifo", "1.5\n2.5\n");
    ASSERT_TRUE(pipe.Created());
    EXPECT_FALSE(marlo::ReadVectorFile(pipe.Path().string(), v));
  }
  EXPECT_FALSE(marlo::ReadVectorFile("/dev/zero", v));
  EXPECT_EQ(v, (std::vector<double>{7}));
}

// Through the library: vector files with NaN in them give no NaN point.
TEST(MarloCoefficients, BrokenVectorFilesCorrectNothing) {
  MarloLibrary lib((ExecutableFolder() / "MarloDLL.so").string());
  ASSERT_TRUE(lib.Loaded());
  TempFolder folder;
  marlogen::Options small;
  small.meshColumns = 3;
  small.meshRows = 2;
  ASSERT_EQ(lib.InitDB(folder.Write("small.mdb", marlogen::GenerateDatabase(small)).c_str()), 1);
  std::string nanLines;
  for (int i = 0; i < 200; ++i) nanLines += "nan\n";
  folder.Write("vectors/vectors.ini", "[Params]\nDefinitionType=1\nAreaType=3\nParamF=1\n");
  folder.Write("vectors/AX_0.dat", nanLines);
  folder.Write("vectors/AY_0.dat", nanLines);
  const double L = 14.0, B = 47.3;
  double Lo = 0, Bo = 0, ho = 0, Li = 0, Bi = 0, hi = 0;
  ASSERT_EQ(lib.BLH_BLH(L, B, 400.0, &Lo, &Bo, &ho), 1);
  ASSERT_EQ(lib.SetInterpolationVectorPath((folder.Path() / "vectors").c_str()), 1);
  lib.SetInterpolationType(1, 0, 3, 0.0, 0.0);
  ASSERT_EQ(lib.BLH_BLH(L, B, 400.0, &Li, &Bi, &hi), 1);
  EXPECT_EQ(Bi, Bo);
  EXPECT_EQ(Li, Lo);
  lib.ExitDB();
}

}  // namespace
