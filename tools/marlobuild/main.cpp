// marlobuild: builds a Marlo database from an operator's national
// transformation, either an NTv2 grid shift file or a list of identical
// points (control points known in both systems).
//
//   marlobuild --ntv2 FILE [--forward] [--tolerance MM] OUTPUT
//   marlobuild --points FILE.csv --source-ellipsoid E --target-ellipsoid E OUTPUT
//   common: [--projection gk|utm|lambert] [--central-meridian DEG]
//           [--origin-latitude DEG] [--index-cell M] [--check N]
//
// The mesh. An NTv2 grid is bilinear inside each cell but far from affine
// across cells, and a seven-parameter set of the database bends a cell's
// shifts only as a similarity does. So every grid cell becomes one area
// (split 2 x 2 or 4 x 4 only where the database would still miss the cell
// by more than the tolerance, 0.2 mm by default; on BETA2007 54 of its
// 5 063 cells are split 2 x 2 and 4 split 4 x 4: 5 285 areas). Each area's
// set is fitted to the grid's shifts on a 9 x 9 lattice of the cell; what
// the set leaves there is handed to the library's inverse distance
// interpolation through 16 support points on two circles around the area
// (two and four times its size away), whose values are fitted by least
// squares to those 81 samples. Seen from inside the area, points that far
// away blend smoothly: one circle follows every field that satisfies
// Laplace's equation (every bilinear cell among them), the second adds the
// curvature alike in both directions, so the database reproduces the cell
// to hundredths of a millimetre and agrees with its neighbours along every
// border, as the grid does. (Points inside the area, each with its own
// residual, would give the interpolation a flat spot at every point and a
// jump at every border: millimetres to centimetres on BETA2007.) Control
// points are triangulated (Delaunay in the database plane), one area per
// triangle with its set fitted to the corners and its support points to the
// transformation taken as linear between them (45 samples): the database
// reproduces every point and is continuous across the triangles' edges.
//
// The sets. Each area carries the grid's mean geocentric shift and a
// parameter set (type 0: translations, rotations, scale; height scale 0)
// fitted by least squares at the ellipsoidal heights 0 m and 1000 m: a grid
// shift knows no height, and a set fitted at one height alone would move
// the horizontal result by centimetres per hundred metres of height.
//
// Ellipsoids. The grid's header gives the semi-axes rounded to millimetres;
// where they match a known ellipsoid to a millimetre, the known values are
// written, so that the database, the configuration's 1021 axes and an
// outside reference such as PROJ work on the same ellipsoid.
//
// The interpolation the configuration must switch on (the module INI's
// [MarloInterpolation] section): OnOff=1, WeightFunction=2 (1/d^2),
// NeighbourMode=0 (the points of the containing area). Without it the
// database is off by the residuals (millimetres to decimetres) and jumps
// across the borders of its areas.
//
// The fit report gives the areas, the points, the residuals and, checked
// with the library's own reader and transformation at random positions,
// the database against the grid. Broken input writes no file.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "ControlPoints.h"
#include "DatabaseBuilder.h"
#include "GridMesh.h"
#include "Ntv2Grid.h"

using namespace marlobuild;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: marlobuild --ntv2 FILE [--forward] [--tolerance MM] OUTPUT\n"
               "       marlobuild --points FILE.csv --source-ellipsoid E --target-ellipsoid E OUTPUT\n"
               "  common: [--projection gk|utm|lambert] [--central-meridian DEG] [--origin-latitude DEG]\n"
               "          [--index-cell M] [--check N]\n"
               "  ellipsoids: GRS80, WGS84, Bessel, Krassowsky, International, Clarke1866, Airy,\n"
               "              or NAME:A,B with the semi-axes in metres\n");
  return 2;
}

bool ParseEllipsoid(const std::string& text, Ellipsoid& e) {
  struct Known {
    const char* name;
    double a, b;
  };
  static const Known known[] = {
      {"GRS80", 6378137.0, 6356752.314140356},         {"WGS84", 6378137.0, 6356752.314245179},
      {"Bessel", 6377397.155, 6356078.962818189},      {"Krassowsky", 6378245.0, 6356863.018773047},
      {"International", 6378388.0, 6356911.946127947}, {"Clarke1866", 6378206.4, 6356583.8},
      {"Airy", 6377563.396, 6356256.909237285}};
  for (const Known& k : known)
    if (strcasecmp(text.c_str(), k.name) == 0) {
      e = {k.name, k.a, k.b};
      return true;
    }
  const auto colon = text.find(':'), comma = text.find(',');
  if (colon == std::string::npos || comma == std::string::npos || comma < colon) return false;
  e.name = text.substr(0, colon);
  char* end = nullptr;
  e.a = std::strtod(text.c_str() + colon + 1, &end);
  if (end != text.c_str() + comma) return false;
  e.b = std::strtod(text.c_str() + comma + 1, &end);
  return *end == '\0' && e.a > 6.0e6 && e.a < 7.0e6 && e.b > 6.0e6 && e.b <= e.a && !e.name.empty();
}

// The known ellipsoid whose semi-axes the given ones round to (within a
// millimetre), with the given name; otherwise the given one.
Ellipsoid KnownAxes(const Ellipsoid& given) {
  static const char* const kNames[] = {"GRS80",         "WGS84",      "Bessel", "Krassowsky",
                                       "International", "Clarke1866", "Airy"};
  for (const char* name : kNames) {
    Ellipsoid known;
    if (!ParseEllipsoid(name, known)) continue;
    if (std::fabs(known.a - given.a) <= 0.001 && std::fabs(known.b - given.b) <= 0.001)
      return {given.name, known.a, known.b};
  }
  return given;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  std::string ntv2, csv, output, projection = "gk";
  Ellipsoid source, target;
  bool haveSource = false, haveTarget = false, forward = false;
  double centralMeridian = NAN, originLatitude = NAN, toleranceMm = 0.2;
  int indexCell = 5000, checks = 2000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--ntv2" && hasValue) {
      ntv2 = argv[++i];
    } else if (arg == "--points" && hasValue) {
      csv = argv[++i];
    } else if (arg == "--forward") {
      forward = true;
    } else if (arg == "--source-ellipsoid" && hasValue) {
      if (!ParseEllipsoid(argv[++i], source)) return Usage();
      haveSource = true;
    } else if (arg == "--target-ellipsoid" && hasValue) {
      if (!ParseEllipsoid(argv[++i], target)) return Usage();
      haveTarget = true;
    } else if (arg == "--projection" && hasValue) {
      projection = argv[++i];
    } else if (arg == "--central-meridian" && hasValue) {
      centralMeridian = std::atof(argv[++i]);
    } else if (arg == "--origin-latitude" && hasValue) {
      originLatitude = std::atof(argv[++i]);
    } else if (arg == "--tolerance" && hasValue) {
      toleranceMm = std::atof(argv[++i]);
    } else if (arg == "--index-cell" && hasValue) {
      indexCell = std::atoi(argv[++i]);
    } else if (arg == "--check" && hasValue) {
      checks = std::atoi(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-' && output.empty()) {
      output = arg;
    } else {
      return Usage();
    }
  }
  if (output.empty() || ntv2.empty() == csv.empty() || !(toleranceMm > 0) || indexCell < 100 ||
      indexCell > 1000000 || checks < 0)
    return Usage();
  const auto start = std::chrono::steady_clock::now();

  BuildSettings settings;
  settings.indexCellSize = indexCell;
  settings.projectionType = projection == "gk"        ? 2
                            : projection == "utm"     ? 3
                            : projection == "lambert" ? 4
                                                      : 0;
  if (settings.projectionType == 0) return Usage();

  Ntv2Grid grid;
  std::vector<IdenticalPosition> points;
  std::string error;
  double south = 90, north = -90, west = 180, east = -180;
  if (!ntv2.empty()) {
    if (!ReadNtv2(ntv2, grid, error)) {
      std::fprintf(stderr, "marlobuild: %s: %s; no database written\n", ntv2.c_str(), error.c_str());
      return 1;
    }
    const Ellipsoid from = KnownAxes({grid.fromSystem, grid.fromA, grid.fromB});
    const Ellipsoid to = KnownAxes({grid.toSystem, grid.toA, grid.toB});
    settings.source = haveSource ? source : (forward ? from : to);
    settings.target = haveTarget ? target : (forward ? to : from);
    for (const Ntv2SubGrid& g : grid.subGrids) {
      south = std::min(south, g.south);
      north = std::max(north, g.north);
      west = std::min(west, g.west);
      east = std::max(east, g.east);
    }
  } else {
    if (!haveSource || !haveTarget) return Usage();
    if (!ReadControlPoints(csv, points, error)) {
      std::fprintf(stderr, "marlobuild: %s: %s; no database written\n", csv.c_str(), error.c_str());
      return 1;
    }
    settings.source = source;
    settings.target = target;
    settings.heightsGiven = true;
    for (const IdenticalPosition& p : points) {
      south = std::min(south, p.sourceLat);
      north = std::max(north, p.sourceLat);
      west = std::min(west, p.sourceLon);
      east = std::max(east, p.sourceLon);
    }
  }
  settings.centralMeridian =
      std::isfinite(centralMeridian) ? centralMeridian : std::round((west + east) / 2.0 * 2.0) / 2.0;
  settings.originLatitude = std::isfinite(originLatitude)
                                ? originLatitude
                                : (settings.projectionType == 4 ? std::round((south + north) / 2.0) : 0.0);
  settings.comments = {"Marlo database built by marlobuild from " +
                           std::filesystem::path(ntv2.empty() ? csv : ntv2).filename().string(),
                       "Source " + settings.source.name + ", target " + settings.target.name,
                       "Meant for residual interpolation on: weight function 2 (1/d^2), neighbour mode 0"};

  DatabaseBuilder builder(settings);
  GridMeshReport meshReport;
  std::vector<IdenticalPosition> checkPositions;
  if (!ntv2.empty()) {
    GridMeshOptions options;
    options.inverse = !forward;
    options.tolerance = toleranceMm / 1000.0;
    if (!BuildGridMesh(grid, options, builder, meshReport, error)) {
      std::fprintf(stderr, "marlobuild: %s; no database written\n", error.c_str());
      return 1;
    }
    checkPositions = GridCheckPositions(grid, options.inverse, checks, 300.0, 20261208u);
  } else {
    if (!BuildPointMesh(points, builder, error)) {
      std::fprintf(stderr, "marlobuild: %s: %s; no database written\n", csv.c_str(), error.c_str());
      return 1;
    }
    checkPositions = points;
  }

  std::string text;
  FitStatistics stats;
  if (!builder.Build(text, stats, error)) {
    std::fprintf(stderr, "marlobuild: %s; no database written\n", error.c_str());
    return 1;
  }
  std::vector<double> errors;
  if (!VerifyDatabase(text, checkPositions, errors, error)) {
    std::fprintf(stderr, "marlobuild: %s; no database written\n", error.c_str());
    return 1;
  }
  std::vector<double> found;
  for (std::size_t i = 0; i < errors.size(); ++i) {
    if (errors[i] >= 0) {
      found.push_back(errors[i]);
      continue;
    }
    if (ntv2.empty()) {
      std::fprintf(stderr, "marlobuild: point %s lies outside every area; no database written\n",
                   checkPositions[i].name.c_str());
      return 1;
    }
  }

  const std::string temporary = output + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
      std::fprintf(stderr, "marlobuild: cannot write %s\n", temporary.c_str());
      std::filesystem::remove(temporary);
      return 1;
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, output, ec);
  if (ec) {
    std::fprintf(stderr, "marlobuild: cannot write %s: %s\n", output.c_str(), ec.message().c_str());
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("marlobuild: %s\n", output.c_str());
  std::printf("  source %s (a %.3f, b %.6f), target %s (a %.3f, b %.6f)\n", settings.source.name.c_str(),
              settings.source.a, settings.source.b, settings.target.name.c_str(), settings.target.a,
              settings.target.b);
  std::printf("  plane: projection type %d, central meridian %.4f, origin latitude %.4f; index cell %d m\n",
              settings.projectionType, settings.centralMeridian, settings.originLatitude, indexCell);
  if (!ntv2.empty())
    std::printf("  grid cells %zu: %zu whole, %zu split 2 x 2, %zu split 4 x 4 (tolerance %.2f mm)\n",
                meshReport.cells, meshReport.cells - meshReport.split2 - meshReport.split4, meshReport.split2,
                meshReport.split4, toleranceMm);
  if (stats.supportAreas > 0)
    std::printf(
        "  areas %zu, support points %zu (values rms %.1f mm, max %.1f mm); largest misfit at the "
        "samples %.3f mm\n",
        stats.areas, stats.points, stats.residualRms * 1000, stats.residualMax * 1000,
        stats.supportMisfitMax * 1000);
  else
    std::printf("  areas %zu, identical points %zu, residuals rms %.1f mm, max %.1f mm\n", stats.areas,
                stats.points, stats.residualRms * 1000, stats.residualMax * 1000);
  std::printf(
      "  database against the %s at %zu positions (library, interpolation on): p50 %.2f mm, "
      "p95 %.2f mm, max %.2f mm; %zu outside every area\n",
      ntv2.empty() ? "identical points" : "grid", checkPositions.size(), Percentile(found, 0.5) * 1000,
      Percentile(found, 0.95) * 1000, Percentile(found, 1.0) * 1000, errors.size() - found.size());
  std::printf("  file %.1f MB, time %.1f s\n", static_cast<double>(text.size()) / 1e6, seconds);
  return 0;
}
