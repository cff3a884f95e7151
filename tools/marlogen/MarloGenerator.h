#pragma once
// Builds the text of a Marlo database for the demo region: a Gauss-Krüger
// index grid, a mesh of polygonal transformation areas, per-area parameter
// sets derived from a published ETRS89 -> MGI (Bessel) seven-parameter set
// with smooth regional variation, identical points with residuals, and
// related areas.
//
// The demo database describes one continuous transformation
// (DemoTransformation): each area's set is the regional set at the area's
// centre, and what it misses of the transformation inside the area (the
// regional variation and the network's distortion) is carried by support
// points on two circles around the area, for the library's 1/d^2 interpolation
// over the points of the containing area. With that interpolation on,
// neighbouring areas agree along their borders to a fraction of a
// millimetre; without it the database is the patchwork of the sets.

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
  // Uniform and zero: identical points at random positions inside each area.
  int pointsPerArea = 5;
  // Demo: support points per area, on two circles around it.
  int supportPointsPerArea = 16;
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

struct GenerationReport {
  // Demo: the largest horizontal misfit of the support points at their
  // samples (metres).
  double supportMisfitMax = 0.0;
};

// The text of the database; empty when the demo's support points cannot be
// computed (PelProjection.so missing beside the program).
std::string GenerateDatabase(const Options& options, GenerationReport* report = nullptr);

// The transformation the demo database describes, source (ETRS89, GRS80) to
// target (MGI, Bessel), degrees and metres: the regional set at the position
// itself as a 3D Helmert transformation plus the distortion of the network.
void DemoTransformation(double lat, double lon, double h, double& outLat, double& outLon, double& outH);

}  // namespace marlogen
