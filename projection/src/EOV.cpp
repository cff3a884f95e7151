// Hungarian oblique conformal cylindrical projection (EOV): ellipsoid to the
// Gauss sphere, rotation about the fundamental point, cylinder.

#include <cmath>

#include "Ellipsoid.h"
#include "PelProjection.h"

using pel::Ellipsoid;

namespace {

const double kRhoLocal = 180.0 / (2.0 * std::acos(0.0));
constexpr double kPiQuarter = pel::kPi / 4.0;
constexpr double kN = 1.00071970493409;          // sphere exponent
constexpr double kNInverse = 0.999280812668581;  // 1/n
constexpr double kK = 1.00311000771353;          // sphere constant
constexpr double kRadius = 6379296.41898993;     // sphere radius times the grid scale
constexpr double kRadiusInverse = 1.5675709895266718e-7;
constexpr double kFalseEast = 650000.0;
constexpr double kFalseNorth = 200000.0;

double SphereOriginLatitude() { return 47.1 / kRhoLocal; }  // 47°06′
double CentralMeridian() { return 19.04857178 / kRhoLocal; }

}  // namespace

extern "C" {

void BL_to_EN_EOV(double B, double L, double* E, double* N) {
  const Ellipsoid el = Ellipsoid::FromState();
  const double phi = B / kRhoLocal;
  const double es = el.e * std::sin(phi);
  const double phiS = 2.0 * (std::atan(kK * std::pow(std::tan(kPiQuarter + phi / 2.0), kN) *
                                       std::pow((1.0 - es) / (1.0 + es), kN * el.e / 2.0)) -
                             kPiQuarter);
  const double lambdaS = kN * (L / kRhoLocal - CentralMeridian());
  const double p0 = SphereOriginLatitude();
  const double phiR =
      std::asin(std::sin(phiS) * std::cos(p0) - std::cos(lambdaS) * std::sin(p0) * std::cos(phiS));
  const double lambdaR = std::asin(std::sin(lambdaS) * std::cos(phiS) / std::cos(phiR));
  *E = kRadius * lambdaR + kFalseEast;
  *N = kRadius * std::log(std::tan(kPiQuarter + phiR / 2.0)) + kFalseNorth;
}

void EN_to_BL_EOV(double E, double N, double* B, double* L) {
  const Ellipsoid el = Ellipsoid::FromState();
  const double phiR = 2.0 * std::atan(std::exp((N - kFalseNorth) * kRadiusInverse)) - pel::kPi / 2.0;
  const double lambdaR = (E - kFalseEast) * kRadiusInverse;
  // Undo the rotation about the fundamental point on the sphere.
  const double p0 = SphereOriginLatitude();
  const double xr = std::cos(phiR) * std::cos(lambdaR);
  const double yr = std::cos(phiR) * std::sin(lambdaR);
  const double zr = std::sin(phiR);
  const double x = xr * std::cos(p0) - zr * std::sin(p0);
  const double z = zr * std::cos(p0) + xr * std::sin(p0);
  const double phiS = std::asin(z);
  const double lambdaS = std::atan2(yr, x);
  *L = (lambdaS * kNInverse + CentralMeridian()) * kRhoLocal;
  // The sphere latitude satisfies ln tan(π/4 + φ'/2) = ln k + n·q(φ); the
  // ellipsoidal latitude follows from its isometric latitude by Newton steps.
  const double q = (std::log(std::tan(kPiQuarter + phiS / 2.0)) - std::log(kK)) * kNInverse;
  *B = pel::LatitudeFromIsometric(el, q) * kRhoLocal;
}

}  // extern "C"
