#pragma once
// The mesh of transformation areas for an NTv2 grid: every cell of the
// top-level sub-grids becomes one area, or 2 x 2 or 4 x 4 areas where one
// parameter set with interpolated residuals follows the cell's shifts less
// well than the tolerance. Each area's identical points are a 3 x 3 lattice
// of the grid's own shifts (corners, edge midpoints, centre); a coarse
// area's polygon also runs through the corners of finer neighbours on its
// border, so the areas tile the plane without gaps.

#include <string>

#include "DatabaseBuilder.h"
#include "Ntv2Grid.h"

namespace marlobuild {

struct GridMeshOptions {
  // True: the database's source is the grid's "to" system (as for grids
  // that shift the national datum to ETRS89 while the rover measures in
  // ETRS89); the shifts are then inverted.
  bool inverse = true;
  double tolerance = 0.010;  // metres: largest residual accepted without splitting
};

struct GridMeshReport {
  std::size_t cells = 0, split2 = 0, split4 = 0;
};

bool BuildGridMesh(const Ntv2Grid& grid, const GridMeshOptions& options, DatabaseBuilder& builder,
                   GridMeshReport& report, std::string& error);

// Random positions inside the grid's coverage (in the database's source
// system) with their target positions from the grid, for the fit report.
std::vector<IdenticalPosition> GridCheckPositions(const Ntv2Grid& grid, bool inverse, int count,
                                                  double height, unsigned seed);

}  // namespace marlobuild
