#pragma once
// Identical points from a CSV file and their mesh: a Delaunay triangulation
// in the database plane, one area per triangle, its set fitted to its three
// corners. Inside a triangle the transformation is taken as linear between
// the corners (in source latitude and longitude), and the area's support
// points carry what the set misses of that: the database reproduces every
// control point and is continuous across the triangles' edges. A frame of
// eight nodes a little beyond the outermost points (each with the shift of
// its nearest point) keeps those points off the border of the mesh.
//
// CSV: one point a line, "name,source latitude,source longitude,source
// height,target latitude,target longitude,target height" (degrees, metres);
// ';' or tabs may separate the fields; a first line whose numbers do not
// parse is taken as the column titles; '#' starts a comment line.

#include <string>
#include <vector>

#include "DatabaseBuilder.h"

namespace marlobuild {

bool ParseControlPoints(const std::string& text, std::vector<IdenticalPosition>& points, std::string& error);
bool ReadControlPoints(const std::string& path, std::vector<IdenticalPosition>& points, std::string& error);

struct Triangle {
  int a, b, c;  // indices into the point list
};
// Delaunay triangulation of plane points (Bowyer-Watson); an empty result
// for fewer than three points or points on one line.
std::vector<Triangle> Triangulate(const std::vector<double>& easting, const std::vector<double>& northing);

bool BuildPointMesh(const std::vector<IdenticalPosition>& points, DatabaseBuilder& builder,
                    std::string& error);

}  // namespace marlobuild
