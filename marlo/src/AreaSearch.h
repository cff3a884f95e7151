#pragma once
// Finding the transformation area that contains a plane position: the index
// grid names the candidate areas, an exact point-in-polygon test decides.

#include "MarloDatabase.h"

namespace marlo {

// Orders the boundary ring of every area and picks its reference point.
// Called once after a database was read; ends on any edge set.
void PreparePolygons(MarloDatabase& db);

// Orientation of P2 relative to the directed segment P0 -> P1 (see the
// implementation for the collinear cases).
int Orient(const PlanePoint& p0, const PlanePoint& p1, const PlanePoint& p2);

// True when segments P-Q and R-S touch or cross.
bool SegmentsIntersect(const PlanePoint& p, const PlanePoint& q, const PlanePoint& r, const PlanePoint& s);

// True when the point (easting, northing) lies inside or on the boundary of
// the area's polygon.
bool AreaContains(const CMasche& area, double easting, double northing);

// Index cell number of a plane position, or -1 when it lies outside the grid.
long long CellNumber(const DatabaseHeader& header, std::size_t storedCells, double easting, double northing);

// The first area of the position's index cell that contains it, or nullptr.
const CMasche* FindArea(const MarloDatabase& db, double easting, double northing);

}  // namespace marlo
