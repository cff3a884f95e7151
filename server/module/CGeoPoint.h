#pragma once
// One node of a request's 4 x 4 grid. A request keeps 16 of them in grid
// order: north-west first, row by row southwards, each row west to east.

namespace tarvik {

struct CGeoPoint {
  // Node in the source frame on the source ellipsoid (degrees, degrees, metres).
  double sourceLatitude = 0.0;
  double sourceLongitude = 0.0;
  double sourceHeight = 0.0;
  // The same as Earth-centred Cartesian coordinates (metres), kept by the
  // grid step so the adjustment need not convert the node again.
  double sourceX = 0.0;
  double sourceY = 0.0;
  double sourceZ = 0.0;
  // Node in the plan (target) frame from the Marlo database (degrees).
  double targetLatitude = 0.0;
  double targetLongitude = 0.0;
  // Request height minus MeanGeoidHeight, or the height surface's value (metres).
  double targetHeight = 0.0;
  // Source height minus surface height, or the geoid grid value (metres).
  double heightAnomaly = 0.0;
  // Residuals with their mean removed: arc-seconds, arc-seconds, metres.
  double latitudeResidual = 0.0;
  double longitudeResidual = 0.0;
  double heightResidual = 0.0;
};

}  // namespace tarvik
