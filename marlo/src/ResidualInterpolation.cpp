#include "ResidualInterpolation.h"

#include <cmath>

#include "PelDegreeTrig.h"

namespace marlo {

namespace {

// The latitude-dependent quantities from the cosine of the latitude.
EllipsoidQuantities QuantitiesWithCosine(const EllipsoidQuantities& ellipsoid, double a, double cosB) {
  EllipsoidQuantities q;
  q.e2 = ellipsoid.e2;
  q.ep2 = ellipsoid.ep2;
  q.c = ellipsoid.c;
  q.V = std::sqrt(1.0 + q.ep2 * cosB * cosB);
  q.N = q.c / q.V;
  q.M = q.c / (q.V * q.V * q.V);
  q.W = a / q.N;
  return q;
}

EllipsoidQuantities LatitudeFreeQuantities(double a, double b) {
  EllipsoidQuantities q;
  q.e2 = (a * a - b * b) / (a * a);
  q.ep2 = (a * a - b * b) / (b * b);
  q.c = a * a / b;
  return q;
}

}  // namespace

EllipsoidQuantities QuantitiesAt(double a, double b, double latitudeDegrees) {
  return QuantitiesAt(LatitudeFreeQuantities(a, b), a, latitudeDegrees);
}

EllipsoidQuantities QuantitiesAt(const EllipsoidQuantities& ellipsoid, double a, double latitudeDegrees) {
  return QuantitiesWithCosine(ellipsoid, a, pel::SinCosOfDegrees(latitudeDegrees).cos);
}

namespace {

// The plane distance of two points. Plane coordinates stay far below the
// range where the squares overflow, so the plain root serves (a quarter of
// the cost of std::hypot); hypot takes over where they would not.
double PlaneDistance(double dEasting, double dNorthing) {
  const double d = std::sqrt(dEasting * dEasting + dNorthing * dNorthing);
  return std::isfinite(d) ? d : std::hypot(dEasting, dNorthing);
}

struct Sums {
  double weights = 0.0;
  double lon = 0.0, lat = 0.0, height = 0.0;
};

template <class Point>
void AddWeighted(const Point& p, double w, bool addResiduals, Sums& sums) {
  sums.weights += w;
  if (!addResiduals) return;
  sums.lon += w * p.residualLon;
  sums.lat += w * p.residualLat;
  sums.height += w * p.residualHeight;
}

// The sums of one point at distance d (before the guard against zero).
template <class Point>
void AddPointAt(const Point& p, const InterpolationSettings& s, double d, Sums& sums) {
  if (std::fabs(d) < 0.0001) d = 1e-14;
  double w = 0.0;
  bool addResiduals = true;
  switch (s.weightFunction) {
    case 1:
      w = 1.0 / d;
      break;
    case 2:
      w = 1.0 / (d * d);
      break;
    case 3: {
      const double x = d / s.shapeDistance;
      const double growth = std::exp(x);
      // expm1 keeps the weight finite for points right on the position.
      w = 0.5 * (std::exp(1.0) - 1.0) / std::expm1(x);
      // Far points only dilute; their residuals are ignored.
      addResiduals = !(growth >= 1e8);
      break;
    }
    default:
      return;
  }
  AddWeighted(p, w, addResiduals, sums);
}

template <class Point>
void AddPoint(const Point& p, const InterpolationSettings& s, double easting, double northing, Sums& sums) {
  AddPointAt(p, s, PlaneDistance(p.easting - easting, p.northing - northing), sums);
}

// The area's points in order. For the weights 1/d and 1/d² two points go
// through the root and the division side by side (each lane exactly the
// one point's operations) and are then added one after the other, so the
// sums are those of the points one by one.
void AddPoints(const std::vector<ResidualPoint>& points, const InterpolationSettings& s, double easting,
               double northing, Sums& sums) {
  typedef double Pair __attribute__((vector_size(16)));
  std::size_t k = 0;
  if (s.weightFunction == 1 || s.weightFunction == 2) {
    for (; k + 1 < points.size(); k += 2) {
      const ResidualPoint &p0 = points[k], &p1 = points[k + 1];
      const Pair de = {p0.easting - easting, p1.easting - easting};
      const Pair dn = {p0.northing - northing, p1.northing - northing};
      const Pair squares = de * de + dn * dn;
      const double d0 = std::sqrt(squares[0]), d1 = std::sqrt(squares[1]);
      // Overflowed squares and points on the position: one by one.
      if (!(std::fabs(d0) >= 0.0001 && std::fabs(d1) >= 0.0001 && d0 < HUGE_VAL && d1 < HUGE_VAL)) {
        AddPoint(p0, s, easting, northing, sums);
        AddPoint(p1, s, easting, northing, sums);
        continue;
      }
      const Pair d = {d0, d1};
      const Pair w = s.weightFunction == 1 ? 1.0 / d : 1.0 / (d * d);
      AddWeighted(p0, w[0], true, sums);
      AddWeighted(p1, w[1], true, sums);
    }
  }
  for (; k < points.size(); ++k) AddPoint(points[k], s, easting, northing, sums);
}

void AddArea(const CMasche& area, const InterpolationSettings& s, double easting, double northing,
             Sums& sums) {
  if (area.residualPoints.size() == area.points.size()) {
    AddPoints(area.residualPoints, s, easting, northing, sums);
    return;
  }
  for (const auto& [index, point] : area.points) AddPoint(point, s, easting, northing, sums);
}

}  // namespace

bool InterpolateResiduals(const MarloDatabase& db, const InterpolationSettings& s, const CMasche& area,
                          double easting, double northing, ResidualMeans& means) {
  if (s.weightFunction < 1 || s.weightFunction > 3) return false;
  Sums sums;
  switch (s.neighbourMode) {
    case 0:
      AddArea(area, s, easting, northing, sums);
      break;
    case 1:
      AddArea(area, s, easting, northing, sums);
      for (int id : area.relatedAreaIds) {
        auto it = db.areas.find(id);
        if (it != db.areas.end()) AddArea(it->second, s, easting, northing, sums);
      }
      break;
    case 2: {
      for (const auto& [id, a] : db.areas)
        for (const auto& [index, p] : a.points)
          if (PlaneDistance(p.easting - easting, p.northing - northing) * 0.001 <= s.searchRadiusKm)
            AddPoint(p, s, easting, northing, sums);
      break;
    }
    case 3:
      for (const auto& [id, a] : db.areas) AddArea(a, s, easting, northing, sums);
      break;
    default:
      return false;
  }
  if (sums.weights != 0.0 && std::isfinite(sums.weights)) {
    means.lon = sums.lon / sums.weights;
    means.lat = sums.lat / sums.weights;
    means.height = sums.height / sums.weights;
  } else {
    means.lon = sums.lon;
    means.lat = sums.lat;
    means.height = sums.height;
    if (!std::isfinite(means.lon + means.lat + means.height)) means = ResidualMeans{};
  }
  return true;
}

void ApplyMetricCorrection(double targetA, double targetB, double dLat, double dLon, double dHeight,
                           double& L, double& B, double& h) {
  // One cosine for the radii and the longitude's scale.
  const double cosB = pel::SinCosOfDegrees(B).cos;
  const EllipsoidQuantities q = QuantitiesWithCosine(LatitudeFreeQuantities(targetA, targetB), targetA, cosB);
  B += kRhoDegrees * dLat / q.M;
  L += kRhoDegrees * dLon / (q.N * cosB);
  h += dHeight;
}

}  // namespace marlo
