// DemoGermany against PROJ on 200 random rover positions: what a rover makes
// of the messages must reach the accuracy the transformation is sold with
// (horizontal p95 5 mm, max 20 mm; height p95 10 mm), and the database must
// follow the published grid.

#include <gtest/gtest.h>

#include <cstdio>

#include "GermanyAccuracy.h"
#include "TarvikProcess.h"

using namespace e2etest;

namespace {

void Print(const char* what, const Percentiles& p) {
  std::printf("%-34s p50 %6.2f mm  p95 %6.2f mm  max %6.2f mm\n", what, p.p50, p.p95, p.max);
}

}  // namespace

TEST(GermanyAccuracy, RoverAndDatabaseFollowThePublishedGrid) {
  GermanyAccuracy accuracy;
  std::string why;
  if (!accuracy.OracleReady(why)) GTEST_SKIP() << why;
  DemoHome home(true);
  ASSERT_TRUE(home.Ok());
  ASSERT_NE(home.GermanyPort(), 0);
  const auto database = home.Path() / "data" / "marlo" / "germany_beta2007.mdb";
  const auto heightGrid = home.Path() / "data" / "orvel" / "germany_egm96.orvel";
  ASSERT_TRUE(std::filesystem::exists(database)) << "make_demo_home.sh built no DemoGermany database";
  ASSERT_TRUE(accuracy.LoadDatabase(database.string(), heightGrid.string(), why)) << why;
  TarvikProcess server(home.Path(), {home.GermanyPort()});
  ASSERT_TRUE(server.Running()) << server.Output();

  const AccuracyErrors e = accuracy.Run(home.GermanyPort(), 200, 7u);
  // Every position inside the grid's coverage is served: the area of
  // validity is small enough for the residuals to fit their fields even
  // where BETA2007 bends most.
  for (const std::string& f : e.failures) std::printf("refused: %s\n", f.c_str());
  EXPECT_EQ(e.failedRequests, 0);
  const Percentiles db = Summarise(e.databaseVsProj), rover = Summarise(e.roverVsDatabase),
                    total = Summarise(e.roverVsProj), height = Summarise(e.heightVsProj);
  Print("database against PROJ", db);
  Print("rover against database", rover);
  Print("rover against PROJ (E, N)", total);
  Print("rover height against PROJ", height);
  Print("height grid against PROJ", Summarise(e.heightGridVsProj));
  Print("rover height against height grid", Summarise(e.roverHeightVsGrid));
  EXPECT_LE(total.p95, 5.0);
  EXPECT_LE(total.max, 20.0);
  EXPECT_LE(height.p95, 10.0);
  // The database's own share.
  EXPECT_LE(db.p95, 2.0);
  EXPECT_LE(db.max, 20.0);
  EXPECT_LE(rover.p95, 5.0);
}
