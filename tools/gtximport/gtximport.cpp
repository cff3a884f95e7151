// gtximport: a published geoid model in the GTX format (as PROJ's data
// packages ship them, e.g. egm96_15.gtx) cut to a latitude/longitude box and
// written as the height surface grid of OrvelMan4 and as the server's geoid
// grid file, node for node, so both height sources serve the model's own
// undulations (OrvelMan4 interpolates them bilinearly, as PROJ does).
//
//   gtximport GTX --south D --north D --west D --east D [--orvel FILE] [--geoid FILE]
//
// GTX: a big-endian header (south latitude, west longitude, latitude and
// longitude spacing as doubles, rows and columns as 32-bit integers), then
// rows x columns big-endian floats in metres, southern row first, each row
// west to east; -88.8888 marks a node without a value. A global model may
// start at -180 or 0 degrees of longitude and wraps around.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

double BigDouble(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}
std::int32_t BigInt(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[i];
  return static_cast<std::int32_t>(v);
}
float BigFloat(const unsigned char* p) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[i];
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "gtximport: %s; nothing written\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, orvel, geoid;
  double south = NAN, north = NAN, west = NAN, east = NAN;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool value = i + 1 < argc;
    if (arg == "--orvel" && value)
      orvel = argv[++i];
    else if (arg == "--geoid" && value)
      geoid = argv[++i];
    else if (arg == "--south" && value)
      south = std::atof(argv[++i]);
    else if (arg == "--north" && value)
      north = std::atof(argv[++i]);
    else if (arg == "--west" && value)
      west = std::atof(argv[++i]);
    else if (arg == "--east" && value)
      east = std::atof(argv[++i]);
    else if (!arg.empty() && arg[0] != '-' && input.empty())
      input = arg;
    else
      input.clear(), i = argc;
  }
  if (input.empty() || (orvel.empty() && geoid.empty()) || !(north > south) || !(east > west) ||
      south < -90 || north > 90 || east - west > 360) {
    std::fprintf(
        stderr, "usage: gtximport GTX --south D --north D --west D --east D [--orvel FILE] [--geoid FILE]\n");
    return 2;
  }
  std::ifstream in(input, std::ios::binary);
  if (!in) return Fail("cannot open " + input);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 40) return Fail(input + " is shorter than a GTX header");
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const double s0 = BigDouble(b), w0 = BigDouble(b + 8), dlat = BigDouble(b + 16), dlon = BigDouble(b + 24);
  const std::int32_t rows = BigInt(b + 32), columns = BigInt(b + 36);
  if (!std::isfinite(s0) || !std::isfinite(w0) || !(dlat > 0) || !(dlon > 0) || rows < 2 || columns < 2 ||
      static_cast<long long>(rows) * columns > 100'000'000)
    return Fail(input + " has an unusable header");
  if (bytes.size() < 40 + 4ull * rows * columns) return Fail(input + " is truncated");
  const bool global = std::fabs(columns * dlon - 360.0) < 1e-9;

  // The box widened to whole nodes of the model.
  const int r0 = static_cast<int>(std::floor((south - s0) / dlat + 1e-9));
  const int r1 = static_cast<int>(std::ceil((north - s0) / dlat - 1e-9));
  const int c0 = static_cast<int>(std::floor((west - w0) / dlon + 1e-9));
  const int c1 = static_cast<int>(std::ceil((east - w0) / dlon - 1e-9));
  if (r0 < 0 || r1 >= rows || (!global && (c0 < 0 || c1 >= columns)))
    return Fail("the box reaches beyond the model's coverage");
  const int outRows = r1 - r0 + 1, outColumns = c1 - c0 + 1;
  std::vector<double> values;
  values.reserve(static_cast<std::size_t>(outRows) * outColumns);
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) {
      const int cc = ((c % columns) + columns) % columns;
      const float v = BigFloat(b + 40 + 4ull * (static_cast<std::size_t>(r) * columns + cc));
      if (!std::isfinite(v) || std::fabs(v + 88.8888f) < 1e-3f || std::fabs(v) > 1000.0f)
        return Fail("the model has no value at latitude " + std::to_string(s0 + r * dlat) + ", longitude " +
                    std::to_string(w0 + c * dlon));
      values.push_back(v);
    }
  const double outSouth = s0 + r0 * dlat, outWest = w0 + c0 * dlon;
  auto at = [&](int r, int c) { return values[static_cast<std::size_t>(r) * outColumns + c]; };

  if (!orvel.empty()) {
    FILE* f = std::fopen(orvel.c_str(), "w");
    if (f == nullptr) return Fail("cannot write " + orvel);
    std::fprintf(f, "# Height reference surface from %s (undulations in metres)\n", input.c_str());
    std::fprintf(f, "ORVELGRID 1\nsouth %.10g north %.10g west %.10g east %.10g\n", outSouth,
                 outSouth + (outRows - 1) * dlat, outWest, outWest + (outColumns - 1) * dlon);
    std::fprintf(f, "dlat %.10g dlon %.10g\nrows %d columns %d\n", dlat, dlon, outRows, outColumns);
    for (int r = 0; r < outRows; ++r) {
      for (int c = 0; c < outColumns; ++c) std::fprintf(f, c == 0 ? "%.9g" : " %.9g", at(r, c));
      std::fprintf(f, "\n");
    }
    if (std::fclose(f) != 0) return Fail("cannot write " + orvel);
  }
  if (!geoid.empty()) {
    FILE* f = std::fopen(geoid.c_str(), "w");
    if (f == nullptr) return Fail("cannot write " + geoid);
    const double outNorth = outSouth + (outRows - 1) * dlat;
    std::fprintf(f, "; Geoid heights from %s in metres: north west / south east / spacing /\n",
                 input.c_str());
    std::fprintf(f, "; rows columns, then one node a line, northern row first, each row west to east.\n");
    std::fprintf(f, "%.10g %.10g\n%.10g %.10g\n%.10g %.10g\n%d %d\n", outNorth, outWest, outSouth,
                 outWest + (outColumns - 1) * dlon, dlat, dlon, outRows, outColumns);
    for (int r = outRows - 1; r >= 0; --r)
      for (int c = 0; c < outColumns; ++c)
        std::fprintf(f, "%.10g %.10g %.9g\n", outSouth + r * dlat, outWest + c * dlon, at(r, c));
    if (std::fclose(f) != 0) return Fail("cannot write " + geoid);
  }
  std::printf("gtximport: %d x %d nodes, %.4f..%.4f N, %.4f..%.4f E, spacing %g x %g deg\n", outRows,
              outColumns, outSouth, outSouth + (outRows - 1) * dlat, outWest,
              outWest + (outColumns - 1) * dlon, dlat, dlon);
  return 0;
}
