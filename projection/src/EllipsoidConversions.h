#pragma once
// The geographic to Cartesian conversion on a given ellipsoid, shared by the
// single-point export and the array export so both compute the same bits.

#include <cmath>

#include "Ellipsoid.h"
#include "PelDegreeTrig.h"

namespace pel {

// From the sines and cosines of latitude and longitude.
inline void GeographicToCartesian(const Ellipsoid& el, const SinCos& latitude, const SinCos& longitude,
                                  double H, double& X, double& Y, double& Z) {
  const double sp = latitude.sin;
  const double cp = latitude.cos;
  const double ba = el.b / el.a;
  const double n = el.a / std::sqrt(el.b * ba / el.a * sp * sp + cp * cp);
  X = (n + H) * cp * longitude.cos;
  Y = (n + H) * cp * longitude.sin;
  Z = sp * (H + ba * ba * n);
}

inline void GeographicToCartesian(const Ellipsoid& el, double B, double L, double H, double& X, double& Y,
                                  double& Z) {
  SinCos latitude, longitude;
  SinCosOfDegrees(B, L, latitude, longitude);
  GeographicToCartesian(el, latitude, longitude, H, X, Y, Z);
}

}  // namespace pel
