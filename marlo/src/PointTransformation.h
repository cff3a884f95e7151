#pragma once
// The transformation core shared by the twenty exports: area search, the
// area's geocentric shift and differential similarity transformation, the
// ellipsoid change and the optional residual interpolation.

#include <string>

#include "CoefficientVector.h"
#include "MarloDatabase.h"
#include "ProjectionBinding.h"
#include "ResidualInterpolation.h"

namespace marlo {

// Everything one loaded copy of the library holds.
struct LibraryState {
  MarloDatabase db;
  bool ready = false;
  InterpolationSettings interpolation;
  std::string vectorPath;
  CoefficientModel coefficients;
};

struct Geographic {
  double L = 0.0;  // longitude, degrees
  double B = 0.0;  // latitude, degrees
  double h = 0.0;  // ellipsoidal height, metres
};

// Projects a source-ellipsoid position into the database plane (the plane of
// the index grid). False when the projection cannot be computed.
bool ToDatabasePlane(const DatabaseHeader& header, const ProjectionBinding& projection, double B, double L,
                     double& easting, double& northing);

// Transforms a geographic point of the source system into the target system.
// 1, -1000 (no area) or -1001 (out of range, or a result that is not
// finite or has a latitude beyond ±90°); out is written only on success.
// The database must be loaded.
int TransformGeographic(const LibraryState& state, const ProjectionBinding& projection, const Geographic& in,
                        Geographic& out);

// The same with the given area's parameters and identical points, wherever
// the point lies (a tool that builds a database evaluates an area's set at
// positions on and beyond its border). easting and northing are the point
// in the database plane. 1 or -1001.
int TransformInArea(const LibraryState& state, const ProjectionBinding& projection, const CMasche& area,
                    double easting, double northing, const Geographic& in, Geographic& out);

// TransformGeographic for count points: results[i] and out[i] as a call
// for in[i] would give them (out[i] written only on success), each stage
// done for all points before the next so that the projection library
// converts them as arrays.
void TransformGeographicPoints(const LibraryState& state, const ProjectionBinding& projection, int count,
                               const Geographic* in, Geographic* out, int* results);

}  // namespace marlo
