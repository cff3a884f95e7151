#pragma once
// Geoid heights at the nodes of a regular latitude/longitude grid, read from
// a text file, with inverse-distance interpolation between the four corners
// of the cell around a position.
//
// File (one item a line; empty lines and lines starting with ';' after
// trimming are skipped anywhere; a line of blanks is an item that fails):
//   north-latitude west-longitude
//   south-latitude east-longitude
//   latitude-spacing longitude-spacing
//   rows columns
//   latitude longitude geoid-height      (one line per node, northern row
//   ...                                   first, each row west to east)
// Text after the expected numbers on a line is ignored.
//
// A position exactly on the eastern border is interpolated within the last
// cell of its row; one exactly on the southern border is outside (no row
// below it).

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tarvik {

struct tGeoidPoint {
  double Latitude = 0.0;   // degrees
  double Longitude = 0.0;  // degrees
  double Height = 0.0;     // geoid height, metres
};

constexpr int kGeoidOK = 1;
constexpr int kGeoidNotAccessible = -1000;  // file cannot be opened
constexpr int kGeoidOutside = -1001;        // position not served by the grid
constexpr int kGeoidFormatError = -1002;    // a node line fails, or 3 nodes or fewer
constexpr int kGeoidHeaderError = -1003;    // a header line missing or unusable

class CGeoidGrid {
 public:
  // 1 on success, else -1000 (also for anything but a regular file: a FIFO
  // or device is never read), -1002 (also when memory runs out) or -1003.
  // Replaces what was held before; a failed load leaves whatever was read.
  // Never throws.
  int Load(const std::filesystem::path& file);

  // 1 and the interpolated geoid height, or -1001.
  int Lookup(double latitude, double longitude, double& geoidHeight) const;

  double NorthLatitude() const { return north_; }
  double WestLongitude() const { return west_; }
  double SouthLatitude() const { return south_; }
  double EastLongitude() const { return east_; }
  double LatitudeSpacing() const { return latSpacing_; }
  double LongitudeSpacing() const { return lonSpacing_; }
  int Rows() const { return rows_; }
  int Columns() const { return columns_; }
  std::size_t NodeCount() const { return nodes_.size(); }
  bool IsLoaded() const { return loaded_; }

 private:
  void Clear();
  int LoadFrom(const std::filesystem::path& file);

  double north_ = 0.0, west_ = 0.0, south_ = 0.0, east_ = 0.0;
  double latSpacing_ = 0.0, lonSpacing_ = 0.0;
  int rows_ = 0, columns_ = 0;
  bool loaded_ = false;
  // The node lines in file order: node k is line k after the header.
  std::vector<tGeoidPoint> nodes_;
};

}  // namespace tarvik
