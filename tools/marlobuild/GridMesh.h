#pragma once
// The mesh of transformation areas for an NTv2 grid: every cell of the
// top-level sub-grids becomes one area (2 x 2 or 4 x 4 areas where the
// database would miss the cell's shifts by more than the tolerance, as
// where finer sub-grids refine it). Each area's set is fitted to the grid's
// shifts on a 9 x 9 lattice of the area, border included, and its support
// points (DatabaseBuilder.h) to what the set leaves there. A grid is
// bilinear inside each cell, so the areas follow its cells: the database
// then reproduces every cell to hundredths of a millimetre and is
// continuous across the cells' borders as the grid is. A coarse area's
// polygon also runs through the corners of finer neighbours on its border,
// so the areas tile the plane without gaps.

#include <string>

#include "DatabaseBuilder.h"
#include "Ntv2Grid.h"

namespace marlobuild {

struct GridMeshOptions {
  // True: the database's source is the grid's "to" system (as for grids
  // that shift the national datum to ETRS89 while the rover measures in
  // ETRS89); the shifts are then inverted.
  bool inverse = true;
  // Metres: the largest misfit at an area's samples accepted without
  // splitting the cell.
  double tolerance = 0.0002;
};

struct GridMeshReport {
  std::size_t cells = 0, split2 = 0, split4 = 0;
  double worstMisfit = 0.0;  // metres, over the accepted areas
};

bool BuildGridMesh(const Ntv2Grid& grid, const GridMeshOptions& options, DatabaseBuilder& builder,
                   GridMeshReport& report, std::string& error);

// Random positions inside the grid's coverage (in the database's source
// system) with their target positions from the grid, for the fit report.
std::vector<IdenticalPosition> GridCheckPositions(const Ntv2Grid& grid, bool inverse, int count,
                                                  double height, unsigned seed);

}  // namespace marlobuild
