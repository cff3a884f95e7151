#pragma once
// Builds the text of a Marlo database for the demo region: a Gauss-Krüger
// index grid, a mesh of polygonal transformation areas, per-area parameter
// sets derived from a published ETRS89 -> MGI (Bessel) seven-parameter set
// with smooth regional variation, identical points with residuals, and
// related areas.

#include <string>

namespace marlogen {

struct Options {
  enum class Mode {
    Demo,     // regional variation, several parameter types, residuals
    Uniform,  // every area carries the one published set (type 1)
    Zero,     // all parameters 0, no shift, target ellipsoid = source
  };
  Mode mode = Mode::Demo;
  int meshColumns = 20;
  int meshRows = 16;
  int pointsPerArea = 5;
  unsigned seed = 20261208u;
};

// The published set, ETRS89 -> MGI, coordinate frame rotations.
struct Helmert {
  double tx, ty, tz;  // metres
  double rx, ry, rz;  // arc seconds
  double ppm;         // scale, parts per million
};
Helmert PublishedEtrs89ToMgi();

// Region and projection of the generated databases.
constexpr double kLatMin = 46.8, kLatMax = 48.6;
constexpr double kLonMin = 13.0, kLonMax = 16.8;
constexpr double kCentralMeridian = 13.0 + 20.0 / 60.0;
constexpr double kGrs80A = 6378137.0, kGrs80B = 6356752.314140356;
constexpr double kBesselA = 6377397.155, kBesselB = 6356078.962818189;
constexpr int kCellSize = 10000;

std::string GenerateDatabase(const Options& options);

}  // namespace marlogen
