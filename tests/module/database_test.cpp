// The whole chain on the demo Marlo database: Helmert parameters, residual
// grid and the promise to users that parameters plus residuals give back
// the database's own target positions.
#include <gtest/gtest.h>

#include <cmath>

#include "geodesy/CMarloDll.h"
#include "geodesy/CPelProjectionDll.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "module/ModuleFixture.h"
#include "service/RTCMMessageRequest.h"
#include "service/ResultText.h"

namespace tarvik::testing {
namespace {

// X' = m R X + T with R = R3(kappa) R2(phi) R1(omega), written out from the
// rotation matrices rather than taken from the adjustment class.
void ApplyHelmert(const HelmertMessageData& p, const double in[3], double out[3]) {
  const double rho = 180.0 / M_PI;
  const double w = p.R1 / rho, f = p.R2 / rho, k = p.R3 / rho;
  const double cw = std::cos(w), sw = std::sin(w), cf = std::cos(f), sf = std::sin(f), ck = std::cos(k),
               sk = std::sin(k);
  const double R[3][3] = {{cf * ck, cw * sk + sw * sf * ck, sw * sk - cw * sf * ck},
                          {-cf * sk, cw * ck - sw * sf * sk, cw * sf * sk + sw * ck},
                          {sf, -sw * cf, cw * cf}};
  const double t[3] = {p.DX, p.DY, p.DZ};
  for (int i = 0; i < 3; ++i)
    out[i] = p.ScaleFactor * (R[i][0] * in[0] + R[i][1] * in[1] + R[i][2] * in[2]) + t[i];
}

class Database : public ModuleHome {
 protected:
  std::unique_ptr<CRTCMTransformationMessageModule> Module(const std::map<std::string, std::string>& edits) {
    WriteIni("Nord", EditIni(BaseModuleIni(), edits));
    auto m = std::make_unique<CRTCMTransformationMessageModule>("Nord", Folder("Nord"));
    EXPECT_EQ(m->ReadConfiguration(general_), 1);
    EXPECT_TRUE(m->ModuleValid()) << m->ModuleProblems();
    return m;
  }
  // Parses and executes one GGA sentence for latitude/longitude "ddmm.mmm".
  int Execute(CRTCMTransformationMessageModule& m, RTCMMessageRequest& r, const std::string& lat,
              const std::string& lon) {
    r.SetConfiguration(m.Settings());
    EXPECT_EQ(r.Parse("$GPGGA,101010," + lat + ",N," + lon + ",E,1,08,0.9,400.0,M,48.0,M,,*"), 1);
    return r.Execute();
  }
};

TEST_F(Database, ParametersAndResidualsReproduceTheDatabase) {
  auto m = Module({});
  RTCMMessageRequest r;
  ASSERT_EQ(Execute(*m, r, "4742.000", "01454.000"), 1);
  EXPECT_EQ(r.executed, 1);
  const CConfigurationSettings& c = m->Settings();
  // Over a small area translations and rotations trade off against each
  // other, so only the size of the datum shift is checked here.
  EXPECT_GT(std::hypot(c.Helmert.DX, c.Helmert.DY, c.Helmert.DZ), 300.0);
  EXPECT_NEAR(c.Helmert.ScaleFactor, 1.0, 1e-4);
  EXPECT_DOUBLE_EQ(c.Helmert.LatitudeOfOriginAreaOfValidity, 47.7);
  ASSERT_EQ(r.gridPoints.size(), 16u);

  // The rover applies the parameters and ellipsoids as 1021 carries them
  // (truncated to their fields); the residuals are taken against exactly
  // those.
  HelmertMessageData h = c.Helmert;
  const HelmertFieldValues sent = HelmertFields(c.Helmert);
  h.DX = sent.DX();
  h.DY = sent.DY();
  h.DZ = sent.DZ();
  h.R1 = sent.R1();
  h.R2 = sent.R2();
  h.R3 = sent.R3();
  h.ScaleFactor = sent.ScaleFactor();
  h.SemimajorAxisOfSourceSystemEllipsoid = sent.SourceA();
  h.SemiminorAxisOfSourceSystemEllipsoid = sent.SourceB();
  h.SemimajorAxisOfTargetSystemEllipsoid = sent.TargetA();
  h.SemiminorAxisOfTargetSystemEllipsoid = sent.TargetB();
  CPelProjectionDll projection;
  double sumLat = 0.0, sumExact = 0.0;
  for (std::size_t k = 0; k < 16; ++k) {
    const CGeoPoint& n = r.gridPoints[k];
    // The database's own answer for the node.
    double lon = 0, lat = 0, hh = 0;
    ASSERT_EQ(m->Settings().Marlo().TransformPoint_BLH_in_BLH_out(n.sourceLongitude, n.sourceLatitude,
                                                                  n.sourceHeight, lon, lat, hh),
              1);
    // What a rover computes: the 1021 transformation, then the residual.
    double src[3], dst[3], blh[3];
    projection.SetEllipsoid(h.SemimajorAxisOfSourceSystemEllipsoid, h.SemiminorAxisOfSourceSystemEllipsoid);
    projection.GeographicToCartesian(n.sourceLatitude, n.sourceLongitude, n.sourceHeight, src[0], src[1],
                                     src[2]);
    ApplyHelmert(h, src, dst);
    projection.SetEllipsoid(h.SemimajorAxisOfTargetSystemEllipsoid, h.SemiminorAxisOfTargetSystemEllipsoid);
    projection.CartesianToGeographic(dst[0], dst[1], dst[2], blh[0], blh[1], blh[2]);
    const double roverLat = blh[0] + (n.latitudeResidual + c.ResidualGrid.MeanLatitudeOffset) / 3600.0;
    const double roverLon = blh[1] + (n.longitudeResidual + c.ResidualGrid.MeanLongitudeOffset) / 3600.0;
    const double northMetres = (roverLat - lat) * M_PI / 180.0 * 6.37e6;
    const double eastMetres = (roverLon - lon) * M_PI / 180.0 * 6.37e6 * std::cos(lat * M_PI / 180.0);
    EXPECT_LT(std::hypot(northMetres, eastMetres), 0.001) << "node " << k;
    EXPECT_LE(std::fabs(n.latitudeResidual), 0.00765);
    sumLat += n.latitudeResidual;
    sumExact += (lat - blh[0]) * 3600.0;
  }
  // Means removed: the residuals are free of the mean of what the sent
  // parameters leave, up to the part the mean's field cannot carry and
  // half a unit of each residual's field.
  EXPECT_NEAR(sumLat / 16 + c.ResidualGrid.MeanLatitudeOffset, sumExact / 16, 0.000015);
  EXPECT_LT(std::fabs(sumLat / 16), 0.001);
}

TEST_F(Database, EveryHeightSourceExecutes) {
  for (const auto& [type, file] : std::vector<std::pair<std::string, std::string>>{{"GEOIDGRID", "Demo.grd"},
                                                                                   {"ORVEL_DB", "Demo.orv"},
                                                                                   {"ORVEL_DB2", "Demo.orv"},
                                                                                   {"SAPEN_DB", ""}}) {
    auto m = Module({{"HeightType", type}, {"HeightDB", file}});
    RTCMMessageRequest r;
    EXPECT_EQ(Execute(*m, r, "4800.000", "01530.000"), 1) << type;
    // Free of the mean: the sent mean (whole centimetres) plus the
    // residuals (nearest millimetres) give back every node's anomaly.
    double sum = 0.0;
    const bool heights = type != "SAPEN_DB";
    for (const CGeoPoint& n : r.gridPoints)
      sum +=
          n.heightResidual + (heights ? m->Settings().ResidualGrid.MeanHeightOffset - n.heightAnomaly : 0.0);
    EXPECT_NEAR(sum, 0.0, 16 * 0.0005) << type;
    if (type != "SAPEN_DB") {
      EXPECT_GT(std::fabs(m->Settings().ResidualGrid.MeanHeightOffset), 1.0) << type;
    }
  }
}

TEST_F(Database, PositionsOutsideTheDatabase) {
  auto m = Module({});
  RTCMMessageRequest r;
  EXPECT_EQ(Execute(*m, r, "4500.000", "01454.000"), kResultOutsideDatabase);
  EXPECT_EQ(r.executed, 0);
  EXPECT_EQ(r.resultCode, kResultOutsideDatabase);

  // East of the region.
  RTCMMessageRequest edge;
  EXPECT_EQ(Execute(*m, edge, "4742.000", "01730.000"), kResultOutsideDatabase);
}

TEST_F(Database, WideAreaOverrunsTheResidualRange) {
  // Over a 1.5 x 3 degree area one Helmert set no longer fits the regional
  // variation of the database within the 1023 residual range. (Message
  // 1023 itself cannot describe so wide a grid, so only 1021 is sent.)
  auto m = Module({{"LatitudeExtensionAreaOfValidity", "1.5"},
                   {"LongitudeExtensionAreaOfValidity", "3.0"},
                   {"ActiveMessages", "1021"}});
  RTCMMessageRequest r;
  int result = Execute(*m, r, "4742.000", "01454.000");
  EXPECT_TRUE(result == kResultResidualOverrun || result == kResultMeanLatitudeOverrun ||
              result == kResultMeanLongitudeOverrun)
      << result;
}

}  // namespace
}  // namespace tarvik::testing
