// orvelgen: writes a smooth height reference surface over a latitude /
// longitude box in two formats: the grid file of OrvelMan4 and the geoid
// grid text file read by the server (CGeoidGrid).
//
//   orvelgen [--orvel FILE] [--geoid FILE] [--south D] [--north D]
//            [--west D] [--east D] [--step D]
//
// Defaults cover the demo region (46.8..48.6 N, 13.0..16.8 E) with a margin:
// 46.5..49.0 N, 12.5..17.5 E at 0.05 degrees. The surface is an analytic
// undulation of 47..48.2 m, shaped like a geoid over the Eastern Alps:
// highest in the south-west, falling towards the Pannonian basin in the east,
// with a gentle wave along the Alpine arc. Its slopes stay below 0.7 m a
// degree, so the heights of a 0.3 x 0.5 degree residual grid stay within
// 0.2 m of their mean, inside the 1023 message's height residual field.
// Both files describe the same surface.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double Surface(double lat, double lon) {
  const double x = lon - 15.0, y = lat - 47.7;
  const double relief = -0.55 * x + 0.35 * y + 0.9 * std::sin(0.9 * x + 0.6) * std::cos(1.4 * y) -
                        0.08 * x * x + 0.25 * std::cos(2.2 * x - 1.3 * y);
  return 47.6 + 0.4 * relief;
}

struct Box {
  double south = 46.5, north = 49.0, west = 12.5, east = 17.5, step = 0.05;
  int Rows() const { return static_cast<int>(std::lround((north - south) / step)) + 1; }
  int Columns() const { return static_cast<int>(std::lround((east - west) / step)) + 1; }
};

bool WriteOrvel(const std::string& path, const Box& box) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const int rows = box.Rows(), columns = box.Columns();
  std::fprintf(f, "# Demo height reference surface written by orvelgen (metres).\n");
  std::fprintf(f, "ORVELGRID 1\n");
  std::fprintf(f, "south %.6f north %.6f west %.6f east %.6f\n", box.south, box.south + (rows - 1) * box.step,
               box.west, box.west + (columns - 1) * box.step);
  std::fprintf(f, "dlat %.6f dlon %.6f\n", box.step, box.step);
  std::fprintf(f, "rows %d columns %d\n", rows, columns);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c)
      std::fprintf(f, c == 0 ? "%.4f" : " %.4f", Surface(box.south + r * box.step, box.west + c * box.step));
    std::fprintf(f, "\n");
  }
  return std::fclose(f) == 0;
}

bool WriteGeoid(const std::string& path, const Box& box) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const int rows = box.Rows(), columns = box.Columns();
  const double north = box.south + (rows - 1) * box.step;
  std::fprintf(f, "; Demo geoid grid written by orvelgen: geoid heights in metres.\n");
  std::fprintf(f, "; north west / south east / spacing / rows columns, then one node a line,\n");
  std::fprintf(f, "; northern row first, each row west to east.\n");
  std::fprintf(f, "%.6f %.6f\n", north, box.west);
  std::fprintf(f, "%.6f %.6f\n", box.south, box.west + (columns - 1) * box.step);
  std::fprintf(f, "%.6f %.6f\n", box.step, box.step);
  std::fprintf(f, "%d %d\n", rows, columns);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double lat = north - r * box.step, lon = box.west + c * box.step;
      std::fprintf(f, "%.6f %.6f %.4f\n", lat, lon, Surface(lat, lon));
    }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Box box;
  std::string orvel, geoid;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "orvelgen: %s needs a value\n", option.c_str());
      return 2;
    }
    const char* value = argv[++i];
    if (option == "--orvel")
      orvel = value;
    else if (option == "--geoid")
      geoid = value;
    else if (option == "--south")
      box.south = std::atof(value);
    else if (option == "--north")
      box.north = std::atof(value);
    else if (option == "--west")
      box.west = std::atof(value);
    else if (option == "--east")
      box.east = std::atof(value);
    else if (option == "--step")
      box.step = std::atof(value);
    else {
      std::fprintf(stderr, "orvelgen: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  if (!(box.step > 0) || !(box.north > box.south) || !(box.east > box.west) || box.south < -90 ||
      box.north > 90 || box.Rows() * static_cast<long long>(box.Columns()) > 25'000'000) {
    std::fprintf(stderr, "orvelgen: unusable box\n");
    return 2;
  }
  if (orvel.empty() && geoid.empty()) {
    std::fprintf(stderr,
                 "usage: orvelgen [--orvel FILE] [--geoid FILE] [--south D] [--north D] "
                 "[--west D] [--east D] [--step D]\n");
    return 2;
  }
  if (!orvel.empty() && !WriteOrvel(orvel, box)) {
    std::fprintf(stderr, "orvelgen: cannot write %s\n", orvel.c_str());
    return 1;
  }
  if (!geoid.empty() && !WriteGeoid(geoid, box)) {
    std::fprintf(stderr, "orvelgen: cannot write %s\n", geoid.c_str());
    return 1;
  }
  return 0;
}
