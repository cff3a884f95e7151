// The computation chain on hand-made configurations: grid layout, height
// surfaces, the Helmert adjustment and the range checks of the residuals.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

#include "geodesy/C3DTrafo.h"
#include "geodesy/CGeoidGrid.h"
#include "geodesy/CORVELDll.h"
#include "geodesy/CPelProjectionDll.h"
#include "module/CComputationChain.h"
#include "module/CConfigurationSettings.h"
#include "runtime/ProgramFolder.h"
#include "service/ResultText.h"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
constexpr double kGRS80a = 6378137.0, kGRS80b = 6356752.314140;
constexpr double kBesselA = 6377397.155, kBesselB = 6356078.962818;

class Chain : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tarvik_chain_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    cfg_.ModeCode = kModeOther;
    cfg_.PlanCode = kPlanNone;
    cfg_.HeightCode = kHeightNone;
    HelmertMessageData& h = cfg_.Helmert;
    h.LatitudeOfOriginAreaOfValidity = 50.0;
    h.LongitudeOfOriginAreaOfValidity = 10.0;
    h.LatitudeExtensionAreaOfValidity = 0.3;
    h.LongitudeExtensionAreaOfValidity = 0.6;
    h.ComputationIndicator = 1;
    SetEllipsoids(kGRS80a, kGRS80b, kGRS80a, kGRS80b);
  }
  void TearDown() override { fs::remove_all(dir_); }

  void SetEllipsoids(double sa, double sb, double ta, double tb) {
    cfg_.Helmert.SemimajorAxisOfSourceSystemEllipsoid = sa;
    cfg_.Helmert.SemiminorAxisOfSourceSystemEllipsoid = sb;
    cfg_.Helmert.SemimajorAxisOfTargetSystemEllipsoid = ta;
    cfg_.Helmert.SemiminorAxisOfTargetSystemEllipsoid = tb;
  }
  // A 1 x 1 degree geoid grid around (50, 10) with heights rising east and north.
  fs::path WriteGeoid() {
    fs::path file = dir_ / "geoid.grd";
    std::ofstream out(file);
    out << "51.0 9.0\n49.0 11.0\n0.5 0.5\n5 5\n";
    for (int r = 0; r < 5; ++r)
      for (int c = 0; c < 5; ++c)
        out << 51.0 - 0.5 * r << " " << 9.0 + 0.5 * c << " " << 45.0 + c * 0.2 - r * 0.15 << "\n";
    return file;
  }

  fs::path dir_;
  CConfigurationSettings cfg_;
  CPelProjectionDll projection_;
  std::vector<CGeoPoint> nodes_;
};

TEST_F(Chain, GridRunsNorthWestFirstAcrossTheWholeExtension) {
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_TRUE(projection_.IsReady()) << projection_.LoadError();
  ASSERT_EQ(chain.Run(47.0, 13.0, 300.0), 1);  // mode other: the configured origin is used
  ASSERT_EQ(nodes_.size(), 16u);
  EXPECT_NEAR(nodes_[0].sourceLatitude, 50.15, 1e-9);
  EXPECT_NEAR(nodes_[0].sourceLongitude, 9.7, 1e-9);
  EXPECT_NEAR(nodes_[3].sourceLatitude, 50.15, 1e-9);
  EXPECT_NEAR(nodes_[3].sourceLongitude, 10.3, 1e-9);
  EXPECT_NEAR(nodes_[5].sourceLatitude, 50.05, 1e-9);
  EXPECT_NEAR(nodes_[5].sourceLongitude, 9.9, 1e-9);
  EXPECT_NEAR(nodes_[15].sourceLatitude, 49.85, 1e-9);
  EXPECT_NEAR(nodes_[15].sourceLongitude, 10.3, 1e-9);
  EXPECT_NEAR(nodes_[15].sourceHeight, 300.0, 1e-6);
  EXPECT_DOUBLE_EQ(cfg_.Helmert.LatitudeOfOriginAreaOfValidity, 50.0);
  EXPECT_NEAR(cfg_.ResidualGrid.GridOriginLatitude, 50.0, 1e-9);
  EXPECT_DOUBLE_EQ(cfg_.ResidualGrid.GridExtensionLongitude, 0.6);
  for (const CGeoPoint& n : nodes_) EXPECT_EQ(n.latitudeResidual, 0.0);

  // LOCAL mode takes the request's position as the origin.
  cfg_.ModeCode = kModeLocal;
  ASSERT_EQ(chain.Run(47.0, 13.0, 300.0), 1);
  EXPECT_DOUBLE_EQ(cfg_.Helmert.LatitudeOfOriginAreaOfValidity, 47.0);
  EXPECT_NEAR(nodes_[0].sourceLatitude, 47.15, 1e-9);
  EXPECT_NEAR(nodes_[0].sourceLongitude, 12.7, 1e-9);

  cfg_.ModeCode = kModeRegional;
  nodes_.assign(3, CGeoPoint{});
  EXPECT_EQ(chain.Run(47.0, 13.0, 300.0), kResultRegionalNotImplemented);
  EXPECT_EQ(nodes_.size(), 3u);  // ends before the grid
}

TEST_F(Chain, ConfiguredTransformationPlacesTheGridInTheTargetFrame) {
  // Source GRS80, target Bessel, a shift of some hundred metres with small
  // rotations: each node's source position mapped forwards lands on the
  // regular grid around the target origin.
  SetEllipsoids(kGRS80a, kGRS80b, kBesselA, kBesselB);
  cfg_.RX = 4.5 / 3600.0;
  cfg_.RY = -1.2 / 3600.0;
  cfg_.RZ = 5.0 / 3600.0;
  cfg_.TX = -577.3;
  cfg_.TY = -90.1;
  cfg_.TZ = -463.9;
  cfg_.S = 1.0 - 2.4e-6;
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(0.0, 0.0, 500.0), 1);
  const double rho = 180.0 / M_PI;
  C3DTrafo forward;
  forward.SetParameters(cfg_.RX / rho, cfg_.RY / rho, cfg_.RZ / rho, cfg_.TX, cfg_.TY, cfg_.TZ, cfg_.S);
  const double north = cfg_.ResidualGrid.GridOriginLatitude + 0.15;
  const double west = cfg_.ResidualGrid.GridOriginLongitude - 0.3;
  EXPECT_GT(std::fabs(cfg_.ResidualGrid.GridOriginLatitude - 50.0), 1e-4);  // datum shift applied
  for (int k = 0; k < 16; ++k) {
    double x, y, z, xt, yt, zt, lat, lon, h;
    ASSERT_EQ(projection_.SetEllipsoid(kGRS80a, kGRS80b), 1);
    projection_.GeographicToCartesian(nodes_[k].sourceLatitude, nodes_[k].sourceLongitude,
                                      nodes_[k].sourceHeight, x, y, z);
    forward.TransformForward(x, y, z, xt, yt, zt);
    projection_.SetEllipsoid(kBesselA, kBesselB);
    projection_.CartesianToGeographic(xt, yt, zt, lat, lon, h);
    EXPECT_NEAR(lat, north - (k / 4) * 0.1, 1e-9) << k;
    EXPECT_NEAR(lon, west + (k % 4) * 0.2, 1e-9) << k;
  }
}

TEST_F(Chain, GeoidHeightsGiveMeanFreeHeightResiduals) {
  ASSERT_EQ(cfg_.GeoidGrid().Load(WriteGeoid()), 1);
  cfg_.HeightCode = kHeightGeoidGrid;
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(0.0, 0.0, 300.0), 1);
  double sum = 0.0, mean = cfg_.ResidualGrid.MeanHeightOffset;
  for (const CGeoPoint& n : nodes_) {
    double expected = 0.0;
    ASSERT_EQ(cfg_.GeoidGrid().Lookup(n.sourceLatitude, n.sourceLongitude, expected), 1);
    EXPECT_DOUBLE_EQ(n.heightAnomaly, expected);
    EXPECT_DOUBLE_EQ(n.heightResidual, n.heightAnomaly - mean);
    EXPECT_EQ(n.latitudeResidual, 0.0);  // plan code 0: no adjustment
    sum += n.heightResidual;
  }
  EXPECT_NEAR(sum, 0.0, 1e-9);
  EXPECT_GT(mean, 44.0);
  EXPECT_LT(mean, 47.0);
  EXPECT_NE(nodes_[0].heightResidual, nodes_[15].heightResidual);

  cfg_.Helmert.LatitudeOfOriginAreaOfValidity = 49.0;  // southern nodes beyond the grid
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultGeoidGridAccess);
}

TEST_F(Chain, HeightLibrarySurface) {
  fs::path grid = dir_ / "orvel.grd";
  std::ofstream(grid) << "ORVELGRID 1\nsouth 49 north 51 west 9 east 11\ndlat 1 dlon 1\nrows 3 columns 3\n"
                         "40 40.1 40.2\n40.3 40.4 40.5\n40.6 40.7 40.8\n";
  fs::copy_file(ExecutableFolder() / "OrvelMan4.so", dir_ / "OrvelMan4.so.so");
  ASSERT_TRUE(cfg_.Orvel().Load(dir_ / "OrvelMan4.so.so")) << cfg_.Orvel().LoadError();
  ASSERT_EQ(cfg_.Orvel().InitOrvelDB(grid.string()), 1);
  cfg_.HeightCode = kHeightOrvelDB;
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(0.0, 0.0, 300.0), 1);
  // Node 0 at (50.15, 9.7): bilinear between the rows 50/51 and columns 9/10.
  // The node's source height is near the requested 300 m; its target height is
  // counted from the surface and the anomaly is the undulation there.
  const double undulation = 40.3 + (40.4 - 40.3) * 0.7 + (40.6 - 40.3) * 0.15;
  EXPECT_NEAR(nodes_[0].heightAnomaly, undulation, 1e-6);
  EXPECT_NEAR(nodes_[0].targetHeight, nodes_[0].sourceHeight - undulation, 1e-6);
  double sum = 0.0;
  for (const CGeoPoint& n : nodes_) sum += n.heightResidual;
  EXPECT_NEAR(sum, 0.0, 1e-9);

  cfg_.Helmert.LongitudeOfOriginAreaOfValidity = 20.0;  // outside the surface grid
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultOrvelAccess);
  // ORVEL_DB hands the library 0..360 degrees, ORVEL_DB2 the longitude as it is.
  EXPECT_DOUBLE_EQ(CComputationChain::HeightLibraryLongitude(kHeightOrvelDB, -5.0), 355.0);
  EXPECT_DOUBLE_EQ(CComputationChain::HeightLibraryLongitude(kHeightOrvelDB2, -5.0), -5.0);
  EXPECT_DOUBLE_EQ(CComputationChain::HeightLibraryLongitude(kHeightOrvelDB, 5.0), 5.0);
}

TEST_F(Chain, HeightsBeyondTheMessageFieldsEndTheChain) {
  // The 1023 mean height offset holds +-163.83 m and each height residual
  // +-0.255 m; a surface beyond either must not reach the rover wrapped.
  fs::copy_file(ExecutableFolder() / "OrvelMan4.so", dir_ / "OrvelMan4.so.so");
  ASSERT_TRUE(cfg_.Orvel().Load(dir_ / "OrvelMan4.so.so")) << cfg_.Orvel().LoadError();
  cfg_.HeightCode = kHeightOrvelDB2;
  CComputationChain chain(cfg_, projection_, nodes_);
  auto surface = [&](const std::string& name, const std::string& rows) {
    fs::path grid = dir_ / name;
    std::ofstream(grid) << "ORVELGRID 1\nsouth 49 north 51 west 9 east 11\ndlat 1 dlon 1\n"
                           "rows 3 columns 3\n"
                        << rows;
    return cfg_.Orvel().InitOrvelDB(grid.string());
  };
  ASSERT_EQ(surface("deep.grd", "-170 -170 -170\n-170 -170 -170\n-170 -170 -170\n"), 1);
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultMeanHeightOverrun);
  EXPECT_NEAR(cfg_.ResidualGrid.MeanHeightOffset, -170.0, 1e-9);
  ASSERT_EQ(surface("high.grd", "163 163 163\n163 163 163\n163 163 163\n"), 1);
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), 1);
  // Three metres a degree: about 0.45 m from the mean at the grid's corners.
  ASSERT_EQ(surface("steep.grd", "40 40 40\n43 43 43\n46 46 46\n"), 1);
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultResidualOverrun);
  ASSERT_EQ(surface("gentle.grd", "40 40 40\n40.5 40.5 40.5\n41 41 41\n"), 1);
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), 1);
}

// Positions where the conversions have no answer end the chain with a code:
// near the poles the library leaves its outputs untouched, and a grid over a
// pole has no nodes; absurd altitudes likewise. Nothing is computed from
// values the conversion never wrote.
TEST_F(Chain, PositionsWithoutConversionEndTheChain) {
  cfg_.ModeCode = kModeLocal;
  cfg_.HeightCode = kHeightNone;
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(47.7, 14.9, 500.0), 1);
  for (double latitude : {81.0, 85.0, 89.9, -89.9}) {
    cfg_.ResidualGrid.GridOriginLatitude = cfg_.ResidualGrid.GridOriginLongitude = 12345.0;
    EXPECT_EQ(chain.Run(latitude, 14.9, 500.0), kResultPelProjectionAccess) << latitude;
  }
  EXPECT_EQ(chain.Run(47.7, 14.9, 2500000.0), kResultPelProjectionAccess);
  for (const CGeoPoint& n : nodes_) EXPECT_TRUE(std::isfinite(n.sourceLatitude));
}

TEST_F(Chain, MissingLibrariesEndTheChain) {
  CPelProjectionDll none(dir_ / "PelProjection.so", PelProjectionLoading::PerBinding);
  EXPECT_FALSE(none.IsReady());
  CComputationChain broken(cfg_, none, nodes_);
  EXPECT_EQ(broken.Run(0.0, 0.0, 300.0), kResultPelProjectionAccess);  // already in the grid step

  cfg_.PlanCode = kPlanSapenDB;  // Marlo binding never loaded
  CComputationChain chain(cfg_, projection_, nodes_);
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultMarloAccess);
  cfg_.PlanCode = kPlanNone;
  cfg_.HeightCode = kHeightOrvelDB2;
  EXPECT_EQ(chain.Run(0.0, 0.0, 300.0), kResultOrvelAccess);
}

TEST_F(Chain, AdjustmentRecoversTheHelmertParameters) {
  // Targets made from the grid's sources with known parameters: the
  // adjustment returns them (rotations in degrees in the record) and
  // leaves no residual.
  SetEllipsoids(kGRS80a, kGRS80b, kBesselA, kBesselB);
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(0.0, 0.0, 400.0), 1);
  const double rho = 180.0 / M_PI;
  C3DTrafo known;
  known.SetParameters(1.5e-5, -0.8e-5, 2.0e-5, -577.0, -90.0, -464.0, 1.0 + 3e-6);
  for (CGeoPoint& n : nodes_) {
    double x, y, z, xt, yt, zt, h;
    projection_.SetEllipsoid(kGRS80a, kGRS80b);
    projection_.GeographicToCartesian(n.sourceLatitude, n.sourceLongitude, n.sourceHeight, x, y, z);
    known.TransformForward(x, y, z, xt, yt, zt);
    projection_.SetEllipsoid(kBesselA, kBesselB);
    projection_.CartesianToGeographic(xt, yt, zt, n.targetLatitude, n.targetLongitude, h);
    n.targetHeight = h;
  }
  ASSERT_EQ(chain.HelmertAdjustment(), 1);
  const HelmertMessageData& r = cfg_.Helmert;
  EXPECT_NEAR(r.R1, 1.5e-5 * rho, 1e-9);
  EXPECT_NEAR(r.R2, -0.8e-5 * rho, 1e-9);
  EXPECT_NEAR(r.R3, 2.0e-5 * rho, 1e-9);
  EXPECT_NEAR(r.DX, -577.0, 1e-3);
  EXPECT_NEAR(r.DZ, -464.0, 1e-3);
  EXPECT_NEAR(r.ScaleFactor, 1.0 + 3e-6, 1e-10);
  EXPECT_NEAR(cfg_.ResidualGrid.MeanLatitudeOffset, 0.0, 1e-6);
  for (const CGeoPoint& n : nodes_) EXPECT_NEAR(n.longitudeResidual, 0.0, 1e-6);

  cfg_.Helmert.ComputationIndicator = 0;
  EXPECT_EQ(chain.HelmertAdjustment(), kResultComputationNotSupported);
}

TEST(ResidualBounds, ExactBoundsPass) {
  // Nodes whose residuals all equal the mean offsets.
  auto uniform = [](double lat, double lon) {
    std::vector<CGeoPoint> nodes(16);
    for (CGeoPoint& n : nodes) {
      n.latitudeResidual = lat;
      n.longitudeResidual = lon;
    }
    return nodes;
  };
  std::vector<CGeoPoint> nodes = uniform(0.127, -0.127);
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.127, -0.127), 1);
  EXPECT_EQ(nodes[5].latitudeResidual, 0.0);
  nodes = uniform(0.1271, 0.0);
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.1271, 0.0), kResultMeanLatitudeOverrun);
  EXPECT_EQ(nodes[5].latitudeResidual, 0.1271);  // bounds of the means come first
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, -0.1271, 0.0), kResultMeanLatitudeOverrun);
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, -0.1271), kResultMeanLongitudeOverrun);

  nodes.assign(16, CGeoPoint{});
  nodes[7].latitudeResidual = 0.00765;
  nodes[8].longitudeResidual = -0.00765;
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, 0.0), 1);
  // The mean is removed before the check.
  nodes.assign(16, CGeoPoint{});
  for (CGeoPoint& n : nodes) n.longitudeResidual = 0.1;
  nodes[3].longitudeResidual = 0.1 + 0.0077;
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, 0.1), kResultResidualOverrun);
  EXPECT_NEAR(nodes[0].longitudeResidual, 0.0, 1e-15);
}

// A residual or mean that is not a number fails like one too large.
TEST(ResidualBounds, NotANumberFails) {
  std::vector<CGeoPoint> nodes(16);
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, NAN, 0.0), kResultMeanLatitudeOverrun);
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, NAN), kResultMeanLongitudeOverrun);
  nodes.assign(16, CGeoPoint{});
  nodes[9].latitudeResidual = NAN;
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, 0.0), kResultResidualOverrun);
  nodes.assign(16, CGeoPoint{});
  nodes[2].longitudeResidual = NAN;
  EXPECT_EQ(CComputationChain::CheckResiduals(nodes, 0.0, 0.0), kResultResidualOverrun);
}

// Estimated parameters go into 23-bit translations (1 mm), 32-bit rotations
// (0.00002") and a 25-bit scale (0.00001 ppm).
TEST(ResidualBounds, HelmertParametersMustFitTheirFields) {
  HelmertMessageData h;
  h.DX = 4194.303, h.DY = -4194.304, h.DZ = 0.0, h.ScaleFactor = 1.0 + 167e-6;
  h.R1 = 42949.0 / 3600.0;
  EXPECT_EQ(CComputationChain::CheckHelmertParameters(h), 1);
  for (auto change : std::vector<std::function<void(HelmertMessageData&)>>{
           [](HelmertMessageData& p) { p.DX = 4194.305; }, [](HelmertMessageData& p) { p.DZ = NAN; },
           [](HelmertMessageData& p) { p.R3 = -43000.0 / 3600.0; },
           [](HelmertMessageData& p) { p.ScaleFactor = 1.0 - 168e-6; },
           [](HelmertMessageData& p) { p.ScaleFactor = INFINITY; }}) {
    HelmertMessageData bad = h;
    change(bad);
    EXPECT_EQ(CComputationChain::CheckHelmertParameters(bad), kResultHelmertParameterOverrun);
  }
}

TEST(ResidualBounds, HeightBounds) {
  std::vector<CGeoPoint> nodes(16);
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, 163.83), 1);
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, -163.83), 1);
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, 163.8301), kResultMeanHeightOverrun);
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, -500.0), kResultMeanHeightOverrun);
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, NAN), kResultMeanHeightOverrun);
  nodes[15].heightResidual = -0.255;
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, 45.0), 1);
  nodes[15].heightResidual = 0.2551;
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, 45.0), kResultResidualOverrun);
  nodes[15].heightResidual = NAN;
  EXPECT_EQ(CComputationChain::CheckHeightResiduals(nodes, 45.0), kResultResidualOverrun);
}

}  // namespace
}  // namespace tarvik
