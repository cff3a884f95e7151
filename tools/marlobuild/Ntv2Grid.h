#pragma once
// Reader of NTv2 grid shift files (.gsb): the overview header, every
// sub-grid with its latitude and longitude shifts, and the bilinear shift at
// a position as survey agencies define it (finest sub-grid that holds the
// position). Longitudes are east-positive here; the file counts them
// west-positive in arc-seconds.

#include <string>
#include <vector>

namespace marlobuild {

struct Ntv2SubGrid {
  std::string name, parent;
  double south = 0, north = 0, west = 0, east = 0;  // degrees, east-positive
  double dlat = 0, dlon = 0;                        // degrees
  int rows = 0, columns = 0;
  // Shifts in arc-seconds (latitude north-positive, longitude east-positive),
  // row 0 in the south, column 0 in the west.
  std::vector<float> shiftLat, shiftLon;
  int parentIndex = -1;

  bool Contains(double lat, double lon) const {
    return lat >= south && lat <= north && lon >= west && lon <= east;
  }
  // Bilinear shift in arc-seconds; the position must be inside.
  void ShiftAt(double lat, double lon, double& dLat, double& dLon) const;
};

struct Ntv2Grid {
  std::string fromSystem, toSystem;
  double fromA = 0, fromB = 0, toA = 0, toB = 0;
  std::vector<Ntv2SubGrid> subGrids;

  // Index of the finest sub-grid holding the position, or -1.
  int SubGridAt(double lat, double lon) const;
  // Shift of a position of the "from" system (degrees); false outside.
  bool Forward(double lat, double lon, double& toLat, double& toLon) const;
  // Position of the "from" system whose forward shift lands on the given
  // "to" position, by fixed-point iteration; false outside or when the
  // iteration does not settle.
  bool Inverse(double toLat, double toLon, double& fromLat, double& fromLon) const;
};

// Reads the file; on failure returns false and sets error to a sentence that
// names the problem (truncated file, bad record, non-finite shift, ...).
bool ReadNtv2(const std::string& path, Ntv2Grid& grid, std::string& error);
// The same from the bytes of a file (tests, fuzzing).
bool ParseNtv2(const std::string& bytes, Ntv2Grid& grid, std::string& error);

}  // namespace marlobuild
