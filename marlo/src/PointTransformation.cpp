#include "PointTransformation.h"

#include <cmath>
#include <limits>

#include "AreaSearch.h"

namespace marlo {

bool ToDatabasePlane(const DatabaseHeader& header, const ProjectionBinding& projection, double B, double L,
                     double& easting, double& northing) {
  ProjectionBinding plane = projection;
  plane.SetL0(header.centralMeridian);
  plane.SetBNord(header.originLatitude);
  plane.SetBSued(header.originLatitude);
  plane.SetEllipDim(header.sourceA, header.sourceB);
  easting = 0.0;
  northing = 0.0;
  switch (header.projectionType) {
    case 2:
      return plane.BL_to_EN_GK(B, L, &easting, &northing) == 1;
    case 3:
      return plane.BL_to_EN_UTM_Raw(B, L, &easting, &northing) == 1;
    case 4:
      return plane.BL_to_EN_Lambert(B, L, &easting, &northing) == 1;
    default:
      return plane.Usable();  // no projection: the plane origin
  }
}

int TransformGeographic(const LibraryState& state, const ProjectionBinding& projection, const Geographic& in,
                        Geographic& out) {
  const DatabaseHeader& header = state.db.header;
  double easting = 0.0, northing = 0.0;
  if (!ToDatabasePlane(header, projection, in.B, in.L, easting, northing)) return kAreaNotFound;
  const CMasche* area = FindArea(state.db, easting, northing);
  if (area == nullptr) return kAreaNotFound;
  return TransformInArea(state, projection, *area, easting, northing, in, out);
}

int TransformInArea(const LibraryState& state, const ProjectionBinding& projection, const CMasche& area,
                    double easting, double northing, const Geographic& in, Geographic& out) {
  const DatabaseHeader& header = state.db.header;
  if (!(in.L >= -180.0 && in.L <= 180.0) || !(in.B >= -90.0 && in.B <= 90.0)) return kAreaNotSupported;

  const EllipsoidQuantities q = QuantitiesAt(header.sourceA, header.sourceB, in.B);

  ProjectionBinding source = projection;
  source.SetL0(header.centralMeridian);
  source.SetBNord(header.originLatitude);
  source.SetBSued(header.originLatitude);
  source.SetEllipDim(header.sourceA, header.sourceB);

  // Geocentric shift of the area. The conversion back leaves its outputs
  // untouched near the pole and far above the ellipsoid; starting them as
  // NaN turns that into a failure instead of a point that silently lacks
  // the shift (or, below, the change of ellipsoid).
  constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
  double X = 0.0, Y = 0.0, Z = 0.0;
  source.BLH_to_XYZ(in.B, in.L, in.h, &X, &Y, &Z);
  double B1 = kUnset, L1 = kUnset, h1 = kUnset;
  source.XYZ_to_BLH(X + area.shiftX, Y + area.shiftY, Z + area.shiftZ, &B1, &L1, &h1);

  // Differential similarity transformation (coordinate frame rotations).
  const double phi = B1 / kRhoDegrees, lambda = L1 / kRhoDegrees;
  const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
  const double sinLam = std::sin(lambda), cosLam = std::cos(lambda);
  const double tx = area.tx, ty = area.ty, tz = area.tz;
  const double rx = area.rx, ry = area.ry, rz = area.rz;
  const double N = q.N, M = q.M, W = q.W, e2 = q.e2;
  const int type = area.parameterType;
  const double heightScale = (type == 0 || type == 2 || type == 4) ? area.heightScale : area.scale;

  const double dPhi = (-sinPhi * cosLam * tx - sinPhi * sinLam * ty + cosPhi * tz) / (M + h1) +
                      (N * W * W + h1) / (M + h1) * (-sinLam * rx + cosLam * ry) / kRhoSeconds -
                      N * e2 * sinPhi * cosPhi / (M + h1) * area.scale * 1e-7;
  const double dLambda =
      (-sinLam * tx + cosLam * ty) / ((N + h1) * cosPhi) +
      ((1.0 - e2) * N + h1) / ((N + h1) * cosPhi) * sinPhi * (cosLam * rx + sinLam * ry) / kRhoSeconds -
      rz / kRhoSeconds;
  const double dH = cosPhi * cosLam * tx + cosPhi * sinLam * ty + sinPhi * tz +
                    N * e2 * sinPhi * cosPhi * (cosLam * ry - sinLam * rx) / kRhoSeconds +
                    (N * W * W + h1) * heightScale * 1e-7;
  Geographic result{L1 + kRhoDegrees * dLambda, B1 + kRhoDegrees * dPhi, h1 + dH};

  // Ellipsoid change.
  ProjectionBinding target = source;
  target.SetEllipDim(header.targetA, header.targetB);
  double X1 = 0.0, Y1 = 0.0, Z1 = 0.0;
  source.BLH_to_XYZ(B1, L1, h1, &X1, &Y1, &Z1);
  double B2 = kUnset, L2 = kUnset, h2 = kUnset;
  target.XYZ_to_BLH(X1, Y1, Z1, &B2, &L2, &h2);
  result.B += B2 - B1;
  result.L += L2 - L1;
  result.h += h2 - h1;

  // Residual interpolation, measured from the untransformed input point.
  const InterpolationSettings& ip = state.interpolation;
  if (ip.onOff != 0) {
    if (ip.weightFunction == 0) {
      double dLat = 0.0, dLon = 0.0;
      EvaluateCoefficients(state.coefficients, easting, northing, dLat, dLon);
      ApplyMetricCorrection(header.targetA, header.targetB, dLat, dLon, 0.0, result.L, result.B, result.h);
    } else {
      ResidualMeans means;
      if (InterpolateResiduals(state.db, ip, area, easting, northing, means))
        ApplyMetricCorrection(header.targetA, header.targetB, means.lat, means.lon, means.height, result.L,
                              result.B, result.h);
    }
  }
  // A height that is not finite, or parameters and residuals so large that
  // the arithmetic overflows or leaves the globe, give no usable point: the
  // area cannot serve it, and no NaN or latitude beyond the poles goes out
  // as a success.
  if (!std::isfinite(result.L) || !(std::fabs(result.B) <= 90.0) || !std::isfinite(result.h))
    return kAreaNotSupported;
  out = result;
  return kSuccess;
}

}  // namespace marlo
