#include "OrvelGrid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OrvelMan4.h"

namespace orvel {

namespace {

// Positions this close outside a border (degrees, about 0.1 mm) count as on
// it, so that rounding in the caller's arithmetic does not reject them.
constexpr double kBorderTolerance = 1e-9;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Splits the file into white-space separated tokens, dropping comment lines
// ("#" as the first non-blank character of a line). Reads character by
// character, so neither a long line nor a file without line breaks is ever
// held in memory; a token longer than any number is an error.
class Tokens {
 public:
  explicit Tokens(std::FILE* in) : in_(in) {}

  // False at the end of the file or on an overlong token (then Overlong()).
  bool Next(std::string_view& token) {
    std::size_t length = 0;
    for (int c = std::getc(in_); c != EOF; c = std::getc(in_)) {
      const char ch = static_cast<char>(c);
      if (ch == '\n') {
        lineStart_ = true;
        if (length > 0) break;
        continue;
      }
      if (IsSpace(ch)) {
        if (length > 0) break;
        continue;
      }
      if (lineStart_ && ch == '#' && length == 0) {
        SkipLine();
        continue;
      }
      lineStart_ = false;
      if (length == sizeof(buffer_)) {
        overlong_ = true;
        return false;
      }
      buffer_[length++] = ch;
    }
    if (length == 0) return false;
    token = std::string_view(buffer_, length);
    return true;
  }
  bool Overlong() const { return overlong_; }

 private:
  void SkipLine() {
    for (int c = std::getc(in_); c != EOF; c = std::getc(in_))
      if (c == '\n') break;
    lineStart_ = true;
  }

  std::FILE* in_;
  char buffer_[64];
  bool lineStart_ = true;
  bool overlong_ = false;
};

bool ToDouble(std::string_view token, double& value) {
  const char* begin = token.data();
  const char* end = begin + token.size();
  if (begin < end && *begin == '+') ++begin;
  auto [next, error] = std::from_chars(begin, end, value, std::chars_format::general);
  return error == std::errc() && next == end && std::isfinite(value);
}

bool ToInt(std::string_view token, int& value) {
  auto [next, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  return error == std::errc() && next == token.data() + token.size();
}

// The grid file, open only when it is a regular file: a FIFO would block
// the caller until a writer comes and a device may never end. The check is
// made on the open descriptor (opened without blocking), so the file checked
// is the file read.
class GridFile {
 public:
  explicit GridFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (file_ = ::fdopen(fd, "rb")) == nullptr) {
      ::close(fd);
      return;
    }
    size_ = static_cast<unsigned long long>(info.st_size);
  }
  ~GridFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  GridFile(const GridFile&) = delete;
  GridFile& operator=(const GridFile&) = delete;

  std::FILE* Get() const { return file_; }
  unsigned long long Size() const { return size_; }

 private:
  std::FILE* file_ = nullptr;
  unsigned long long size_ = 0;
};

bool Near(double a, double b, double spacing) { return std::fabs(a - b) <= 1e-6 * spacing; }

}  // namespace

int Read(const std::string& path, Grid& grid) {
  const GridFile file(path);
  if (file.Get() == nullptr) return ORVEL_INIT_CANNOT_OPEN;
  Tokens tokens(file.Get());
  std::string_view token;
  if (!tokens.Next(token) || token != "ORVELGRID") return ORVEL_INIT_BAD_HEADER;
  if (!tokens.Next(token) || token != "1") return ORVEL_INIT_BAD_HEADER;

  Grid g;
  // Eight named header values, in any order.
  bool seen[8] = {};
  static constexpr std::string_view kNames[8] = {"south", "north", "west", "east",
                                                 "dlat",  "dlon",  "rows", "columns"};
  double* doubles[6] = {&g.south, &g.north, &g.west, &g.east, &g.dlat, &g.dlon};
  int* ints[2] = {&g.rows, &g.columns};
  for (int read = 0; read < 8; ++read) {
    if (!tokens.Next(token)) return ORVEL_INIT_BAD_HEADER;
    int key = -1;
    for (int k = 0; k < 8; ++k)
      if (token == kNames[k]) key = k;
    if (key < 0 || seen[key]) return ORVEL_INIT_BAD_HEADER;
    seen[key] = true;
    if (!tokens.Next(token)) return ORVEL_INIT_BAD_HEADER;
    const bool ok = key < 6 ? ToDouble(token, *doubles[key]) : ToInt(token, *ints[key - 6]);
    if (!ok) return ORVEL_INIT_BAD_HEADER;
  }
  if (g.rows < 2 || g.columns < 2 || !(g.dlat > 0.0) || !(g.dlon > 0.0)) return ORVEL_INIT_BAD_HEADER;
  if (!Near(g.north, g.south + (g.rows - 1) * g.dlat, g.dlat) ||
      !Near(g.east, g.west + (g.columns - 1) * g.dlon, g.dlon))
    return ORVEL_INIT_BAD_HEADER;
  if (g.south < -90.0 || g.north > 90.0 || g.east - g.west > 360.0 + 1e-9) return ORVEL_INIT_BAD_HEADER;
  const long long count = static_cast<long long>(g.rows) * g.columns;
  if (count > kMaxNodes) return ORVEL_INIT_TOO_LARGE;

  // Every height takes at least two bytes of the file: the header's counts
  // alone do not decide how much memory is taken.
  g.heights.reserve(static_cast<std::size_t>(std::min<unsigned long long>(count, file.Size() / 2 + 1)));
  while (tokens.Next(token)) {
    double value = 0.0;
    if (static_cast<long long>(g.heights.size()) == count || !ToDouble(token, value))
      return ORVEL_INIT_BAD_VALUES;
    g.heights.push_back(value);
  }
  if (tokens.Overlong() || static_cast<long long>(g.heights.size()) != count) return ORVEL_INIT_BAD_VALUES;
  grid = std::move(g);
  return ORVEL_INIT_OK;
}

int Interpolate(const Grid& grid, double latitude, double longitude, Surface& out) {
  if (latitude < grid.south - kBorderTolerance || latitude > grid.north + kBorderTolerance)
    return ORVEL_OUTSIDE_GRID;
  // Into [west, west + 360): either longitude convention finds the grid.
  double lon = longitude - 360.0 * std::floor((longitude - grid.west + kBorderTolerance) / 360.0);
  if (lon > grid.east + kBorderTolerance) return ORVEL_OUTSIDE_GRID;

  const double y = std::clamp((latitude - grid.south) / grid.dlat, 0.0, double(grid.rows - 1));
  const double x = std::clamp((lon - grid.west) / grid.dlon, 0.0, double(grid.columns - 1));
  // The last row and column belong to the cell before them.
  const int row = std::min(static_cast<int>(y), grid.rows - 2);
  const int column = std::min(static_cast<int>(x), grid.columns - 2);
  const double t = y - row, u = x - column;
  const double v00 = grid.At(row, column), v01 = grid.At(row, column + 1);
  const double v10 = grid.At(row + 1, column), v11 = grid.At(row + 1, column + 1);
  out.height = (1 - t) * (1 - u) * v00 + (1 - t) * u * v01 + t * (1 - u) * v10 + t * u * v11;
  out.slopeNorth = ((1 - u) * (v10 - v00) + u * (v11 - v01)) / grid.dlat;
  out.slopeEast = ((1 - t) * (v01 - v00) + t * (v11 - v10)) / grid.dlon;
  return ORVEL_OK;
}

}  // namespace orvel
