#pragma once
// The whole chain on real data against an outside reference: rover
// positions in Germany sent to a running DemoGermany, the received messages
// applied as a rover does (tools/client's rover library), the Marlo database
// evaluated at the same position, and PROJ as the oracle (ETRS89 to DHDN
// with BETA2007.gsb, Gauss-Krueger zone 3, EGM96 heights). Shared by the
// accuracy test and the accuracy benchmark; PROJ is linked into these two
// only.

#include <memory>
#include <string>
#include <vector>

namespace e2etest {

// The largest error of one kind and the rover position where it occurred.
struct WorstPosition {
  double value = 0.0, lat = 0.0, lon = 0.0;
  void Take(double v, double atLat, double atLon) {
    if (v > value) *this = {v, atLat, atLon};
  }
};

struct AccuracyErrors {
  // Millimetres. Horizontal errors are distances on the ground.
  std::vector<double> databaseVsProj;   // (a) the database itself at the rover position
  std::vector<double> roverVsDatabase;  // (b) the rover's result against the database
  std::vector<double> roverVsProj;      // easting/northing of the rover against PROJ's
  std::vector<double> heightVsProj;     // the rover's height against PROJ's
  // Height split alike: (a) the configuration's height grid (OrvelMan4)
  // against PROJ's geoid at the rover position, (b) the rover's height
  // against that height grid.
  std::vector<double> heightGridVsProj, roverHeightVsGrid;
  WorstPosition worstDatabase, worstRover, worstTotal, worstHeight, worstHeightGrid, worstRoverHeight;
  int failedRequests = 0;
  std::vector<std::string> failures;  // first few reasons
};

struct Percentiles {
  double p50 = 0, p95 = 0, max = 0;
};
Percentiles Summarise(std::vector<double> values);

class GermanyAccuracy {
 public:
  GermanyAccuracy();
  ~GermanyAccuracy();
  // PROJ and the grids are there, and PROJ applies the datum shift (checked
  // against the published seven-parameter set); otherwise why.
  bool OracleReady(std::string& why);
  // Loads the database and the height grid the server uses, with the
  // interpolation the configuration switches on.
  bool LoadDatabase(const std::string& databaseFile, const std::string& heightGridFile, std::string& why);
  // Random rover positions inside the grid's coverage, each sent to the port.
  AccuracyErrors Run(int port, int count, unsigned seed);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace e2etest
