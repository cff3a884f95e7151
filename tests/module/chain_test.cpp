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
  // The grid is laid around an origin its field carries exactly.
  EXPECT_NEAR(cfg_.ResidualGrid.GridOriginLatitude,
              std::round(cfg_.ResidualGrid.GridOriginLatitude * 7200) / 7200, 1e-12);
  EXPECT_NEAR(cfg_.ResidualGrid.GridOriginLongitude,
              std::round(cfg_.ResidualGrid.GridOriginLongitude * 7200) / 7200, 1e-12);
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
  double sum = 0.0, mean = cfg_.ResidualGrid.MeanHeightOffset, exactMean = 0.0;
  for (const CGeoPoint& n : nodes_) exactMean += n.heightAnomaly / 16.0;
  for (const CGeoPoint& n : nodes_) {
    double expected = 0.0;
    ASSERT_EQ(cfg_.GeoidGrid().Lookup(n.sourceLatitude, n.sourceLongitude, expected), 1);
    EXPECT_DOUBLE_EQ(n.heightAnomaly, expected);
    // Mean plus residual give the anomaly to the nearest millimetre.
    EXPECT_NEAR(n.heightResidual, n.heightAnomaly - mean, 0.0005 + 1e-12);
    EXPECT_NEAR(n.heightResidual * 1000, std::round(n.heightResidual * 1000), 1e-9);
    EXPECT_EQ(n.latitudeResidual, 0.0);  // plan code 0: no adjustment
    // Free of the exact mean; the sent mean is that mean to the nearest cm.
    sum += n.heightResidual - (exactMean - mean);
  }
  EXPECT_NEAR(sum, 0.0, 16 * 0.0005);
  EXPECT_LE(std::fabs(exactMean - mean), 0.005 + 1e-12);
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
  double sum = 0.0, exactMean = 0.0;
  for (const CGeoPoint& n : nodes_) exactMean += n.heightAnomaly / 16.0;
  for (const CGeoPoint& n : nodes_)
    sum += n.heightResidual - (exactMean - cfg_.ResidualGrid.MeanHeightOffset);
  EXPECT_NEAR(sum, 0.0, 16 * 0.0005);  // each residual to the nearest millimetre

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

// A rover applies the mean offset as its field carries it (height in whole
// centimetres) plus each node's residual (millimetres): the two together
// must give the node's undulation to the residual's resolution, not lose
// up to a centimetre to the mean's resolution.
TEST_F(Chain, MeanHeightResolutionTravelsInTheResiduals) {
  for (double offset : {0.0, 0.0049, 0.0051, 0.0099, -90.0037}) {
    fs::path file = dir_ / "geoid_offset.grd";
    {
      std::ofstream out(file);
      out << "51.0 9.0\n49.0 11.0\n0.5 0.5\n5 5\n";
      for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
          out << 51.0 - 0.5 * r << " " << 9.0 + 0.5 * c << " " << 45.0 + offset + c * 0.0137 - r * 0.0093
              << "\n";
    }
    ASSERT_EQ(cfg_.GeoidGrid().Load(file), 1);
    cfg_.HeightCode = kHeightGeoidGrid;
    CComputationChain chain(cfg_, projection_, nodes_);
    ASSERT_EQ(chain.Run(0.0, 0.0, 300.0), 1) << offset;
    const double mean = cfg_.ResidualGrid.MeanHeightOffset;
    // The record holds what the 15-bit field sends, and encodes to it.
    const double units = std::trunc(mean * 100);
    EXPECT_NEAR(mean, units / 100, 1e-12) << offset;
    EXPECT_NEAR(mean, 45.0 + offset, 0.05) << offset;
    for (const CGeoPoint& n : nodes_) {
      const double applied = units / 100 + std::trunc(n.heightResidual * 1000) / 1000;
      EXPECT_NEAR(applied, n.heightAnomaly, 0.001) << offset;
    }
  }
}

TEST(MeanOffsets, SendableIsTheNearestFieldValueAndEncodesToIt) {
  EXPECT_EQ(CComputationChain::Sendable(0.0129, 1000.0), 0.013);
  EXPECT_EQ(CComputationChain::Sendable(-0.0129, 1000.0), -0.013);
  EXPECT_EQ(CComputationChain::Sendable(0.0121, 1000.0), 0.012);
  EXPECT_EQ(CComputationChain::Sendable(0.0004, 1000.0), 0.0);
  EXPECT_EQ(static_cast<long long>(CComputationChain::Sendable(45.678, 100.0) * 100), 4568);
  EXPECT_EQ(static_cast<long long>(CComputationChain::Sendable(-45.672, 100.0) * 100), -4567);
  EXPECT_EQ(CComputationChain::Sendable(50.0, 7200.0), 50.0);  // exact values stay
  EXPECT_TRUE(std::isnan(CComputationChain::Sendable(NAN, 100.0)));
  // Every value of both fields, approached from either side: the double
  // encodes (truncating) to exactly the nearest unit and lies within a
  // rounding error of it (e.g. 163.83 * 100 is 16382.999... in doubles).
  for (int k = -16383; k <= 16383; ++k)
    for (double off : {-0.3, 0.3}) {
      const double sent = CComputationChain::Sendable((k + off) / 100.0, 100.0);
      ASSERT_EQ(static_cast<long long>(sent * 100), k) << k;
      ASSERT_NEAR(sent, k / 100.0, 1e-12) << k;
    }
  for (int k = -127; k <= 127; ++k)
    for (double off : {-4e-4, 4e-4}) {
      const double sent = CComputationChain::Sendable(k / 1000.0 + off, 1000.0);
      ASSERT_EQ(static_cast<long long>(sent * 1000), k) << k;
    }
  // Half arc-seconds of the grid origin, over latitudes and longitudes.
  for (int k = -648000; k <= 648000; k += 997) {
    const double sent = CComputationChain::Sendable(k / 7200.0 - 1e-13, 7200.0);
    ASSERT_EQ(static_cast<long long>(sent * 7200), k) << k;
  }
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
  // The parameters lie a hundredth of a unit beyond whole units of the
  // 1021 fields (residuals are taken against the values as sent, and
  // truncation must not cut a whole unit off an estimate that comes out a
  // hair below one).
  SetEllipsoids(kGRS80a, kGRS80b, kBesselA, kBesselB);
  CComputationChain chain(cfg_, projection_, nodes_);
  ASSERT_EQ(chain.Run(0.0, 0.0, 400.0), 1);
  const double rho = 180.0 / M_PI;
  const double unit = 0.00002 / 3600.0 / rho;  // radians of one rotation unit
  const double r1 = 154698.01 * unit, r2 = -82505.01 * unit, r3 = 206264.01 * unit;
  C3DTrafo known;
  known.SetParameters(r1, r2, r3, -577.00001, -90.00001, -464.00001, 1.0 + 3.0000001e-6);
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
  EXPECT_NEAR(r.R1, r1 * rho, 1e-9);
  EXPECT_NEAR(r.R2, r2 * rho, 1e-9);
  EXPECT_NEAR(r.R3, r3 * rho, 1e-9);
  EXPECT_NEAR(r.DX, -577.0, 1e-3);
  EXPECT_NEAR(r.DZ, -464.0, 1e-3);
  EXPECT_NEAR(r.ScaleFactor, 1.0 + 3e-6, 1e-10);
  EXPECT_NEAR(cfg_.ResidualGrid.MeanLatitudeOffset, 0.0, 1e-6);
  for (const CGeoPoint& n : nodes_) EXPECT_NEAR(n.longitudeResidual, 0.0, 1e-6);

  cfg_.Helmert.ComputationIndicator = 0;
  EXPECT_EQ(chain.HelmertAdjustment(), kResultComputationNotSupported);
}

// What a rover rebuilds from the messages: the nodes around the 1023
// origin as sent, the 1021 parameters and ellipsoids as sent, plus mean
// offset and residual as sent, must land on the database's position of
// every node to the residual field's resolution. Parameters, ellipsoids,
// origin and mean are all cut to their fields on the way; none of that may
// reach the rover's result.
TEST_F(Chain, RoverRebuildsEveryNodeFromTheFieldsAsSent) {
  SetEllipsoids(kGRS80a, kGRS80b, kBesselA, kBesselB);
  cfg_.ModeCode = kModeLocal;
  CComputationChain chain(cfg_, projection_, nodes_);
  // A position off the half-arc-second lattice of the grid origin.
  ASSERT_EQ(chain.Run(50.0012345, 10.0023456, 400.0), 1);
  const ResidualGridMessageData& g = cfg_.ResidualGrid;
  EXPECT_NEAR(g.GridOriginLatitude, std::round(g.GridOriginLatitude * 7200) / 7200, 1e-12);
  EXPECT_NEAR(g.GridOriginLongitude, std::round(g.GridOriginLongitude * 7200) / 7200, 1e-12);
  EXPECT_GT(std::fabs(g.GridOriginLatitude * 7200 - 50.0012345 * 7200),
            1e-3);  // not on the lattice by chance
  // Targets: parameters far from whole field units, a shear no similarity
  // follows, and a common offset of 0.0123" north and -0.0087" east.
  C3DTrafo known;
  known.SetParameters(1.53e-5, -0.81e-5, 2.07e-5, -577.1234, -90.5678, -464.9012, 1.0 + 3.456789e-6);
  const double north = g.GridOriginLatitude + 0.15, west = g.GridOriginLongitude - 0.3;
  for (int k = 0; k < 16; ++k) {
    CGeoPoint& n = nodes_[k];
    double x, y, z, xt, yt, zt, h, lat, lon;
    // The configured transformation is the identity: the node's source
    // position on the target ellipsoid is where the rover lays the node.
    projection_.SetEllipsoid(kBesselA, kBesselB);
    projection_.CartesianToGeographic(n.sourceX, n.sourceY, n.sourceZ, lat, lon, h);
    EXPECT_NEAR(lat, north - (k / 4) * 0.1, 1e-9) << k;
    EXPECT_NEAR(lon, west + (k % 4) * 0.2, 1e-9) << k;
    projection_.SetEllipsoid(kGRS80a, kGRS80b);
    projection_.GeographicToCartesian(n.sourceLatitude, n.sourceLongitude, n.sourceHeight, x, y, z);
    known.TransformForward(x, y, z, xt, yt, zt);
    projection_.SetEllipsoid(kBesselA, kBesselB);
    projection_.CartesianToGeographic(xt, yt, zt, n.targetLatitude, n.targetLongitude, h);
    n.targetLatitude += (0.0123 + 0.002 * (k % 4) * (k / 4) / 9.0) / 3600.0;
    n.targetLongitude += -0.0087 / 3600.0;
    n.targetHeight = h;
  }
  ASSERT_EQ(chain.HelmertAdjustment(), 1);
  const HelmertFieldValues f = HelmertFields(cfg_.Helmert);
  const double rho = 180.0 / M_PI;
  C3DTrafo rover;
  rover.SetParameters(f.R1() / rho, f.R2() / rho, f.R3() / rho, f.DX(), f.DY(), f.DZ(), f.ScaleFactor());
  const double perArcSecond = 33333.0 + 1.0 / 3.0;
  const double meanLat = std::trunc(g.MeanLatitudeOffset * 1000) / 1000;
  const double meanLon = std::trunc(g.MeanLongitudeOffset * 1000) / 1000;
  // The rover's ellipsoids are those 1021 sends (semi-axes in whole
  // millimetres, truncated): Bessel's semi-minor axis arrives 0.8 mm short.
  EXPECT_NEAR(f.TargetB(), kBesselB, 0.001);
  EXPECT_NE(f.TargetB(), kBesselB);
  for (int k = 0; k < 16; ++k) {
    const CGeoPoint& n = nodes_[k];
    double x, y, z, xt, yt, zt, lat, lon, h;
    projection_.SetEllipsoid(f.SourceA(), f.SourceB());
    projection_.GeographicToCartesian(n.sourceLatitude, n.sourceLongitude, n.sourceHeight, x, y, z);
    rover.TransformForward(x, y, z, xt, yt, zt);
    projection_.SetEllipsoid(f.TargetA(), f.TargetB());
    projection_.CartesianToGeographic(xt, yt, zt, lat, lon, h);
    lat += (meanLat + std::trunc(n.latitudeResidual * perArcSecond) / perArcSecond) / 3600.0;
    lon += (meanLon + std::trunc(n.longitudeResidual * perArcSecond) / perArcSecond) / 3600.0;
    // Half a unit of the residual field (0.000015", the residual sent as
    // its nearest unit) and a little for the rover's own arithmetic.
    EXPECT_NEAR((lat - n.targetLatitude) * 3600, 0.0, 0.000016) << "node " << k + 1;
    EXPECT_NEAR((lon - n.targetLongitude) * 3600, 0.0, 0.000016) << "node " << k + 1;
  }
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
