#pragma once
// Multiquadric interpolation of the horizontal residuals: coefficient vectors
// solved from all identical points, written to and read from AX_0.dat and
// AY_0.dat, and their evaluation at a plane position.

#include <string>
#include <vector>

#include "MarloDatabase.h"

namespace marlo {

// Plane position and horizontal residuals of one list point.
struct ListPoint {
  std::string name;
  double easting = 0.0, northing = 0.0;
  double residualLat = 0.0, residualLon = 0.0;
};

// The identical points of every area in area order, each area followed by
// its related areas. Every point enters once: an area reached again through
// a related list, or a point at exactly the position of an earlier one, adds
// nothing, so the matrix never gets two equal rows.
std::vector<ListPoint> BuildIdenticalPointList(const MarloDatabase& db);

// Smallest distance between two list points of different name and position,
// ignoring distances below 0.1 m; 1 000 000 when no pair qualifies.
double DerivedParamD(const std::vector<ListPoint>& points);

// Multiquadric kernel in kilometres.
double Kernel(double dE, double dN, double paramF, double paramD);

// Solves A x = r for both residual components (Gauss-Jordan with row
// exchange). False when the matrix is singular; the vectors are then zero.
bool SolveCoefficients(const std::vector<ListPoint>& points, double paramF, double paramD,
                       std::vector<double>& ax, std::vector<double>& ay);

// "%25.10f" per line and one empty line at the end. False when the file
// cannot be created.
bool WriteVectorFile(const std::string& path, const std::vector<double>& values);
// Non-empty lines, each parsed like "%lf". False (and values unchanged) when
// the file cannot be read, is no regular file, is larger than a database may
// be, or holds a line without a number or with a number that is not finite.
bool ReadVectorFile(const std::string& path, std::vector<double>& values);

struct CoefficientModel {
  double paramF = 0.0;
  double paramD = 0.0;
  std::vector<double> ax;  // latitude direction
  std::vector<double> ay;  // longitude direction
  std::vector<ListPoint> points;
};

// Metric corrections at a plane position; list points beyond the shorter
// vector are not used.
void EvaluateCoefficients(const CoefficientModel& model, double easting, double northing, double& dLat,
                          double& dLon);

// Settings of the coefficient vectors, section "Params" of an INI file.
struct CoefficientSettings {
  int definitionType = 0;
  int areaType = 0;
  double paramF = 0.0;
  double paramD = 0.0;
};
// 1 read; -1006 the file cannot be opened (or is no regular file); -1007 a
// required key is missing, or ParamF or ParamD is not finite, or ParamF < 0.
int ReadCoefficientSettings(const std::string& path, CoefficientSettings& settings);

// Folder part of a path (up to its last '\' or '/'), without the separator.
std::string ParentOf(const std::string& path);

}  // namespace marlo
