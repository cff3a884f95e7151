// Swiss oblique conformal double projection: ellipsoid to sphere, oblique
// rotation about the origin in Bern, Mercator on the rotated sphere.

#include <cmath>

#include "Ellipsoid.h"
#include "PelProjection.h"

using pel::Ellipsoid;
using pel::kPi;
using pel::kRho;

namespace {

constexpr int kMaxLatitudeRounds = 100;

struct SwissConstants {
  double e = 0.0;        // first eccentricity
  double phi0 = 0.0;     // origin latitude, radians
  double lambda0 = 0.0;  // origin longitude, radians
  double R = 0.0;        // radius of the projection sphere
  double alpha = 0.0;
  double b0 = 0.0;  // origin latitude on the sphere
  double K = 0.0;
};

SwissConstants MakeConstants(const Ellipsoid& el) {
  SwissConstants k;
  double phi0 = 0.0;
  double lambda0 = 0.0;
  GMSDEZ(46, 57, 8.66, &phi0);
  GMSDEZ(7, 26, 22.50, &lambda0);
  k.phi0 = phi0 / kRho;
  k.lambda0 = lambda0 / kRho;
  const double e2 = (el.a * el.a - el.b * el.b) / (el.a * el.a);
  k.e = std::sqrt(e2);
  const double s0 = std::sin(k.phi0);
  const double c0 = std::cos(k.phi0);
  k.R = el.a * std::sqrt(1.0 - e2) / (1.0 - e2 * s0 * s0);
  k.alpha = std::sqrt(1.0 + e2 / (1.0 - e2) * c0 * c0 * c0 * c0);
  k.b0 = std::asin(s0 / k.alpha);
  k.K = std::log(std::tan(kPi / 4.0 + k.b0 / 2.0)) - k.alpha * std::log(std::tan(kPi / 4.0 + k.phi0 / 2.0)) +
        k.alpha * k.e / 2.0 * std::log((1.0 + k.e * s0) / (1.0 - k.e * s0));
  return k;
}

void VariantOffsets(int variant, double& east, double& north) {
  east = 0.0;
  north = 0.0;
  if (variant == 0) {
    east = 2600000.0;
    north = 1200000.0;
  } else if (variant == 1) {
    east = 600000.0;
    north = 200000.0;
  }
}

}  // namespace

extern "C" {

void BL_to_EN_Switzerland_Conformal_DoubleProjection(double B, double L, double* E, double* N, int variant) {
  const SwissConstants k = MakeConstants(Ellipsoid::FromState());
  const double phi = B / kRho;
  const double es = k.e * std::sin(phi);
  const double S = k.alpha * std::log(std::tan(kPi / 4.0 + phi / 2.0)) -
                   k.alpha * k.e / 2.0 * std::log((1.0 + es) / (1.0 - es)) + k.K;
  const double b = 2.0 * (std::atan(std::exp(S)) - kPi / 4.0);
  const double l = k.alpha * (L / kRho - k.lambda0);
  const double lBar = std::atan(std::sin(l) / (std::sin(k.b0) * std::tan(b) + std::cos(k.b0) * std::cos(l)));
  const double sinBBar = std::cos(k.b0) * std::sin(b) - std::sin(k.b0) * std::cos(b) * std::cos(l);
  double east = 0.0;
  double north = 0.0;
  VariantOffsets(variant, east, north);
  *E = k.R * lBar + east;
  *N = k.R / 2.0 * std::log((1.0 + sinBBar) / (1.0 - sinBBar)) + north;
}

void EN_to_BL_Switzerland_Conformal_DoubleProjection(double E, double N, double* B, double* L, int variant) {
  const SwissConstants k = MakeConstants(Ellipsoid::FromState());
  double east = 0.0;
  double north = 0.0;
  VariantOffsets(variant, east, north);
  const double y = E - east;
  const double x = N - north;
  const double bBar = 2.0 * (std::atan(std::exp(x / k.R)) - kPi / 4.0);
  const double lBar = y / k.R;
  const double b =
      std::asin(std::cos(k.b0) * std::sin(bBar) + std::sin(k.b0) * std::cos(bBar) * std::cos(lBar));
  const double l =
      std::atan(std::sin(lBar) / (std::cos(k.b0) * std::cos(lBar) - std::sin(k.b0) * std::tan(bBar)));
  *L = (k.lambda0 + l / k.alpha) * kRho;
  const double S = (std::log(std::tan(kPi / 4.0 + b / 2.0)) - k.K) / k.alpha;
  // Fixed-point iteration on the ellipsoidal latitude; it ends when two
  // successive values agree, and after a fixed number of rounds at most.
  double phi = b;
  for (int round = 0; round < kMaxLatitudeRounds; ++round) {
    const double next = 2.0 * std::atan(std::exp(S + k.e * std::atanh(k.e * std::sin(phi)))) - kPi / 2.0;
    const bool settled = !(std::fabs(next - phi) >= 1e-20);
    phi = next;
    if (settled) break;
  }
  *B = phi * kRho;
}

}  // extern "C"
