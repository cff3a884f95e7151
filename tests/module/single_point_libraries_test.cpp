// The chain with libraries that convert whole arrays and with copies that
// lack the array exports (as older builds of the libraries do): the bindings
// fall back to single calls, and every request ends with the same code, the
// same grid nodes and the same message contents, bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>

#include "geodesy/CMarloDll.h"
#include "geodesy/CPelProjectionDll.h"
#include "module/CComputationChain.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "module/ModuleFixture.h"

namespace tarvik::testing {
namespace {

// One request's outcome: its code, its nodes and the computed message fields.
struct Outcome {
  int result = 0;
  std::vector<CGeoPoint> nodes;
  HelmertMessageData helmert;
  ResidualGridMessageData grid;
};

// Every double of a node, compared by its bits.
std::vector<std::uint64_t> NodeBits(const std::vector<CGeoPoint>& nodes) {
  std::vector<std::uint64_t> bits;
  for (const CGeoPoint& n : nodes)
    for (double v : {n.sourceLatitude, n.sourceLongitude, n.sourceHeight, n.sourceX, n.sourceY, n.sourceZ,
                     n.targetLatitude, n.targetLongitude, n.targetHeight, n.heightAnomaly, n.latitudeResidual,
                     n.longitudeResidual, n.heightResidual})
      bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

std::vector<std::uint64_t> MessageBits(const HelmertMessageData& h, const ResidualGridMessageData& g) {
  std::vector<std::uint64_t> bits;
  for (double v : {h.DX, h.DY, h.DZ, h.R1, h.R2, h.R3, h.ScaleFactor, h.LatitudeOfOriginAreaOfValidity,
                   h.LongitudeOfOriginAreaOfValidity, g.GridOriginLatitude, g.GridOriginLongitude,
                   g.MeanLatitudeOffset, g.MeanLongitudeOffset, g.MeanHeightOffset})
    bits.push_back(std::bit_cast<std::uint64_t>(v));
  return bits;
}

class SinglePointLibraries : public ModuleHome {
 protected:
  // Positions around the demo area and beyond the database; heights from
  // below sea level to far above the ground, some beyond what the
  // conversions accept.
  static std::vector<std::array<double, 3>> Positions() {
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> lat(46.0, 49.5), lon(12.0, 18.0), h(-100.0, 4000.0);
    std::vector<std::array<double, 3>> out;
    for (int i = 0; i < 120; ++i) out.push_back({lat(rng), lon(rng), h(rng)});
    // Heights where the conversions give up for the northern nodes first:
    // the grid ends after some of its nodes.
    for (double h = 2.0e6; h < 2.4e6; h += 20000.0) out.push_back({47.7, 14.9, h});
    out.push_back({47.7, 14.9, 2.0e7});  // far above: the conversions give up
    out.push_back({89.9, 14.9, 0.0});    // a grid over the pole
    return out;
  }

  std::vector<Outcome> RunAll(CRTCMTransformationMessageModule& m, CPelProjectionDll& projection) {
    std::vector<Outcome> outcomes;
    for (const auto& [lat, lon, h] : Positions()) {
      Outcome o;
      CComputationChain chain(m.Settings(), projection, o.nodes);
      o.result = chain.Run(lat, lon, h);
      o.helmert = m.Settings().Helmert;
      o.grid = m.Settings().ResidualGrid;
      outcomes.push_back(o);
    }
    return outcomes;
  }

  void ExpectSame(const std::vector<Outcome>& a, const std::vector<Outcome>& b, const char* what) {
    ASSERT_EQ(a.size(), b.size());
    int succeeded = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].result, b[i].result) << what << " position " << i;
      EXPECT_EQ(NodeBits(a[i].nodes), NodeBits(b[i].nodes)) << what << " position " << i;
      EXPECT_EQ(MessageBits(a[i].helmert, a[i].grid), MessageBits(b[i].helmert, b[i].grid))
          << what << " position " << i;
      if (a[i].result == kResultSuccess) ++succeeded;
    }
    // Both successes and failures were compared.
    EXPECT_GT(succeeded, 10) << what;
    EXPECT_LT(succeeded, static_cast<int>(a.size())) << what;
  }
};

TEST_F(SinglePointLibraries, ChainGivesTheSameBitsThroughSingleCalls) {
  for (const char* height : {"GEOIDGRID", "SAPEN_DB"}) {
    WriteIni("Nord", EditIni(BaseModuleIni(), {{"HeightType", height}}));
    CRTCMTransformationMessageModule m("Nord", Folder("Nord"));
    ASSERT_EQ(m.ReadConfiguration(general_), 1);
    ASSERT_TRUE(m.ModuleValid()) << m.ModuleProblems();
    CMarloDll& marlo = m.Settings().Marlo();
    ASSERT_TRUE(marlo.HasPointArrays());
    marlo.SetInterpolationType(1, 2, 0, 0.0, 0.0);

    CPelProjectionDll arrays;
    ASSERT_TRUE(arrays.IsReady() && arrays.Entries()->XYZ_to_BLH_Points != nullptr);
    const std::vector<Outcome> reference = RunAll(m, arrays);

    CPelProjectionDll single(ExecutableFolder() / "PelProjectionSinglePoints.so");
    ASSERT_TRUE(single.IsReady()) << single.LoadError();
    ASSERT_EQ(single.Entries()->XYZ_to_BLH_Points, nullptr);
    ASSERT_EQ(single.Entries()->BLH_to_XYZ_Points, nullptr);
    ExpectSame(reference, RunAll(m, single), "projection without arrays");

    // The database through a copy without the array transformation.
    const fs::path database = fs::path(general_.SapenDBPath) / "Demo.mdb";
    ASSERT_TRUE(marlo.Load(ExecutableFolder() / "MarloDLLSinglePoints.so")) << marlo.LoadError();
    ASSERT_FALSE(marlo.HasPointArrays());
    ASSERT_EQ(marlo.InitDB(database.string()), 1);
    ASSERT_TRUE(marlo.SetInterpolationType(1, 2, 0, 0.0, 0.0));
    ExpectSame(reference, RunAll(m, arrays), "database without arrays");
    ExpectSame(reference, RunAll(m, single), "neither with arrays");
  }
}

}  // namespace
}  // namespace tarvik::testing
