#pragma once
// Residual interpolation from the identical points around a transformed point
// (weight functions 1 to 3), and the ellipsoid quantities that turn metric
// corrections into angles.

#include "MarloDatabase.h"

namespace marlo {

struct InterpolationSettings {
  int onOff = 0;
  int weightFunction = 0;
  int neighbourMode = 0;
  double searchRadiusKm = 0.0;
  double shapeDistance = 0.0;
};

// Quantities of an ellipsoid (a, b) at latitude B (degrees).
struct EllipsoidQuantities {
  double e2 = 0.0;   // first eccentricity squared
  double ep2 = 0.0;  // second eccentricity squared
  double c = 0.0;    // polar radius of curvature a^2/b
  double V = 0.0;
  double N = 0.0;  // prime vertical radius
  double M = 0.0;  // meridian radius
  double W = 0.0;
};
EllipsoidQuantities QuantitiesAt(double a, double b, double latitudeDegrees);
// The same at another latitude: the latitude-free quantities (a, b, e2, ep2,
// c) taken from `ellipsoid`, which QuantitiesAt computed for the same axes.
EllipsoidQuantities QuantitiesAt(const EllipsoidQuantities& ellipsoid, double a, double latitudeDegrees);

constexpr double kPi = 3.14159265358979323846;
constexpr double kRhoDegrees = 180.0 / kPi;
constexpr double kRhoSeconds = 648000.0 / kPi;

struct ResidualMeans {
  double lon = 0.0;
  double lat = 0.0;
  double height = 0.0;
};

// Weighted means of the residuals of the identical points chosen by the
// neighbour mode, distances measured from (easting, northing). False (and no
// correction) for weight functions or neighbour modes out of range.
bool InterpolateResiduals(const MarloDatabase& db, const InterpolationSettings& settings, const CMasche& area,
                          double easting, double northing, ResidualMeans& means);

// Adds metric corrections (latitude and longitude direction, height) to a
// point on the target ellipsoid at its latitude B.
void ApplyMetricCorrection(double targetA, double targetB, double dLat, double dLon, double dHeight,
                           double& L, double& B, double& h);

}  // namespace marlo
