#pragma once
// The height surface grid of OrvelMan4: reading the grid file and bilinear
// interpolation. No exceptions leave these functions except std::bad_alloc
// from Read (the exports catch it).

#include <string>
#include <vector>

namespace orvel {

struct Grid {
  double south = 0.0, north = 0.0, west = 0.0, east = 0.0;
  double dlat = 0.0, dlon = 0.0;
  int rows = 0, columns = 0;
  std::vector<double> heights;  // southern row first, each row west to east

  double At(int row, int column) const {
    return heights[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                   static_cast<std::size_t>(column)];
  }
};

constexpr long long kMaxNodes = 25'000'000;

// 1 or an ORVEL_INIT_ code of OrvelMan4.h.
int Read(const std::string& path, Grid& grid);

struct Surface {
  double height = 0.0;      // metres
  double slopeNorth = 0.0;  // metres per degree of latitude
  double slopeEast = 0.0;   // metres per degree of longitude
};

// 0 or ORVEL_OUTSIDE_GRID. The longitude may be given in 0..360 or
// -180..180 (it is moved by whole turns into the grid's span).
int Interpolate(const Grid& grid, double latitude, double longitude, Surface& out);

}  // namespace orvel
