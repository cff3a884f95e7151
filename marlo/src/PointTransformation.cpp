#include "PointTransformation.h"

#include <cmath>
#include <limits>

#include "AreaSearch.h"
#include "PelDegreeTrig.h"

namespace marlo {

namespace {

// projectionType of a database whose plane is Gauss-Krüger.
constexpr int kGaussKruegerPlane = 2;

// The binding for the database plane: the source ellipsoid with the
// database's projection settings.
ProjectionBinding PlaneBinding(const DatabaseHeader& header, const ProjectionBinding& projection) {
  ProjectionBinding plane = projection;
  plane.SetL0(header.centralMeridian);
  plane.SetBNord(header.originLatitude);
  plane.SetBSued(header.originLatitude);
  plane.SetEllipDim(header.sourceA, header.sourceB);
  return plane;
}

}  // namespace

bool ToDatabasePlane(const DatabaseHeader& header, const ProjectionBinding& projection, double B, double L,
                     double& easting, double& northing) {
  const ProjectionBinding plane = PlaneBinding(header, projection);
  easting = 0.0;
  northing = 0.0;
  switch (header.projectionType) {
    case kGaussKruegerPlane:
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

namespace {

constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();

bool InRange(const Geographic& in) {
  return in.L >= -180.0 && in.L <= 180.0 && in.B >= -90.0 && in.B <= 90.0;
}

// The binding for the source ellipsoid with the database's projection settings.
ProjectionBinding SourceBinding(const DatabaseHeader& header, const ProjectionBinding& projection) {
  ProjectionBinding source = projection;
  source.SetL0(header.centralMeridian);
  source.SetBNord(header.originLatitude);
  source.SetBSued(header.originLatitude);
  source.SetEllipDim(header.sourceA, header.sourceB);
  return source;
}

ProjectionBinding TargetBinding(const DatabaseHeader& header, const ProjectionBinding& source) {
  ProjectionBinding target = source;
  target.SetEllipDim(header.targetA, header.targetB);
  return target;
}

// Differential similarity transformation (coordinate frame rotations) of
// the shifted point (B1, L1, h1), with the ellipsoid quantities of the input
// point.
Geographic Similarity(const CMasche& area, const EllipsoidQuantities& q, double B1, double L1, double h1) {
  pel::SinCos phi, lambda;
  pel::SinCosOfDegrees(B1, L1, phi, lambda);
  const double sinPhi = phi.sin, cosPhi = phi.cos;
  const double sinLam = lambda.sin, cosLam = lambda.cos;
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
  return Geographic{L1 + kRhoDegrees * dLambda, B1 + kRhoDegrees * dPhi, h1 + dH};
}

// The change of ellipsoid from (B1, L1, h1) to (B2, L2, h2), the residual
// interpolation and the final checks; out is written only on success.
int Finish(const LibraryState& state, const CMasche& area, double easting, double northing, Geographic result,
           const Geographic& shifted, const Geographic& changed, Geographic& out) {
  const DatabaseHeader& header = state.db.header;
  result.B += changed.B - shifted.B;
  result.L += changed.L - shifted.L;
  result.h += changed.h - shifted.h;

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

}  // namespace

int TransformInArea(const LibraryState& state, const ProjectionBinding& projection, const CMasche& area,
                    double easting, double northing, const Geographic& in, Geographic& out) {
  const DatabaseHeader& header = state.db.header;
  if (!InRange(in)) return kAreaNotSupported;

  const EllipsoidQuantities q = QuantitiesAt(header.sourceA, header.sourceB, in.B);
  const ProjectionBinding source = SourceBinding(header, projection);

  // Geocentric shift of the area. The conversion back leaves its outputs
  // untouched near the pole and far above the ellipsoid; starting them as
  // NaN turns that into a failure instead of a point that silently lacks
  // the shift (or, below, the change of ellipsoid).
  double X = 0.0, Y = 0.0, Z = 0.0;
  source.BLH_to_XYZ(in.B, in.L, in.h, &X, &Y, &Z);
  Geographic shifted{kUnset, kUnset, kUnset};
  source.XYZ_to_BLH(X + area.shiftX, Y + area.shiftY, Z + area.shiftZ, &shifted.B, &shifted.L, &shifted.h);

  const Geographic result = Similarity(area, q, shifted.B, shifted.L, shifted.h);

  // Ellipsoid change.
  const ProjectionBinding target = TargetBinding(header, source);
  double X1 = 0.0, Y1 = 0.0, Z1 = 0.0;
  source.BLH_to_XYZ(shifted.B, shifted.L, shifted.h, &X1, &Y1, &Z1);
  Geographic changed{kUnset, kUnset, kUnset};
  target.XYZ_to_BLH(X1, Y1, Z1, &changed.B, &changed.L, &changed.h);
  return Finish(state, area, easting, northing, result, shifted, changed, out);
}

namespace {

// Points of one pass of TransformGeographicPoints.
constexpr int kPassPoints = 16;

// One pass over at most kPassPoints points: each stage of TransformInArea
// for all of them before the next, the conversions as array calls.
void TransformPass(const LibraryState& state, const ProjectionBinding& projection, int count,
                   const Geographic* in, Geographic* out, int* results) {
  const DatabaseHeader& header = state.db.header;
  // The points that reach the conversions, with their areas.
  int index[kPassPoints];
  const CMasche* areas[kPassPoints];
  double eastings[kPassPoints], northings[kPassPoints];
  EllipsoidQuantities q[kPassPoints];
  double b[kPassPoints], l[kPassPoints], h[kPassPoints];
  // The source ellipsoid's latitude-free quantities, for every point alike.
  const EllipsoidQuantities sourceEllipsoid = QuantitiesAt(header.sourceA, header.sourceB, 0.0);
  // The plane positions; Gauss-Krüger planes (the usual ones) for all points
  // in one call.
  double planeEasting[kPassPoints], planeNorthing[kPassPoints];
  bool planeDone = false;
  if (header.projectionType == kGaussKruegerPlane) {
    double inB[kPassPoints], inL[kPassPoints];
    for (int i = 0; i < count; ++i) {
      inB[i] = in[i].B;
      inL[i] = in[i].L;
      planeEasting[i] = planeNorthing[i] = 0.0;
    }
    planeDone =
        PlaneBinding(header, projection).BL_to_EN_GK(count, inB, inL, planeEasting, planeNorthing) == 1;
  }
  int n = 0;
  for (int i = 0; i < count; ++i) {
    double easting = 0.0, northing = 0.0;
    const CMasche* area = nullptr;
    if (header.projectionType == kGaussKruegerPlane) {
      easting = planeEasting[i];
      northing = planeNorthing[i];
      if (planeDone) area = FindArea(state.db, easting, northing);
    } else if (ToDatabasePlane(header, projection, in[i].B, in[i].L, easting, northing)) {
      area = FindArea(state.db, easting, northing);
    }
    if (area == nullptr) {
      results[i] = kAreaNotFound;
      continue;
    }
    if (!InRange(in[i])) {
      results[i] = kAreaNotSupported;
      continue;
    }
    index[n] = i;
    areas[n] = area;
    eastings[n] = easting;
    northings[n] = northing;
    q[n] = QuantitiesAt(sourceEllipsoid, header.sourceA, in[i].B);
    b[n] = in[i].B;
    l[n] = in[i].L;
    h[n] = in[i].h;
    ++n;
  }
  if (n == 0) return;

  const ProjectionBinding source = SourceBinding(header, projection);
  const ProjectionBinding target = TargetBinding(header, source);
  // Geocentric shift of each point's area (outputs start as NaN, see
  // TransformInArea).
  double x[kPassPoints] = {}, y[kPassPoints] = {}, z[kPassPoints] = {};
  source.BLH_to_XYZ(n, b, l, h, x, y, z);
  double b1[kPassPoints], l1[kPassPoints], h1[kPassPoints];
  for (int k = 0; k < n; ++k) {
    x[k] += areas[k]->shiftX;
    y[k] += areas[k]->shiftY;
    z[k] += areas[k]->shiftZ;
    b1[k] = l1[k] = h1[k] = kUnset;
  }
  source.XYZ_to_BLH(n, x, y, z, b1, l1, h1);
  // Ellipsoid change.
  source.BLH_to_XYZ(n, b1, l1, h1, x, y, z);
  double b2[kPassPoints], l2[kPassPoints], h2[kPassPoints];
  for (int k = 0; k < n; ++k) b2[k] = l2[k] = h2[k] = kUnset;
  target.XYZ_to_BLH(n, x, y, z, b2, l2, h2);

  for (int k = 0; k < n; ++k) {
    const Geographic result = Similarity(*areas[k], q[k], b1[k], l1[k], h1[k]);
    const int i = index[k];
    results[i] = Finish(state, *areas[k], eastings[k], northings[k], result, Geographic{l1[k], b1[k], h1[k]},
                        Geographic{l2[k], b2[k], h2[k]}, out[i]);
  }
}

}  // namespace

void TransformGeographicPoints(const LibraryState& state, const ProjectionBinding& projection, int count,
                               const Geographic* in, Geographic* out, int* results) {
  for (int i = 0; i < count; i += kPassPoints) {
    const int n = count - i < kPassPoints ? count - i : kPassPoints;
    TransformPass(state, projection, n, in + i, out + i, results + i);
  }
}

}  // namespace marlo
