#pragma once
// The geographic to Cartesian conversion on a given ellipsoid, shared by the
// single-point export and the array export so both compute the same bits.

#include <cmath>

#include "Ellipsoid.h"

namespace pel {

inline void GeographicToCartesian(const Ellipsoid& el, double B, double L, double H, double& X, double& Y,
                                  double& Z) {
  const double phi = B / kRho;
  const double lambda = L / kRho;
  const double sp = std::sin(phi);
  const double cp = std::cos(phi);
  const double ba = el.b / el.a;
  const double n = el.a / std::sqrt(el.b * ba / el.a * sp * sp + cp * cp);
  X = (n + H) * cp * std::cos(lambda);
  Y = (n + H) * cp * std::sin(lambda);
  Z = sp * (H + ba * ba * n);
}

}  // namespace pel
