// Lambert conformal conic: tangent (LambType 0) or secant (LambType 1) cone,
// with three national parameter sets selected by LambCase 1..3.

#include <cmath>

#include "Ellipsoid.h"
#include "PelProjection.h"
#include "ProjectionState.h"

using pel::Ellipsoid;
using pel::kRho;
using pel::ProjectionState;

namespace {

double Dms(int d, int m, double s) {
  double v = 0.0;
  GMSDEZ(d, m, s, &v);
  return v;
}

struct Preset {
  double L0;
  double firstParallel;
  double secondParallel;
  double falseEast;
  double falseNorth;
  double originLatitude;
};

bool FindPreset(int lambCase, Preset& p) {
  switch (lambCase) {
    case 1:
      p = {24.0, 58.0, Dms(59, 20, 0), 500000.0, 6375000.0, Dms(57, 31, 3.19415)};
      return true;
    case 2:
      p = {Dms(4, 21, 33.177), Dms(51, 10, 0), Dms(49, 50, 0), 150328.0, 166262.0, Dms(50, 47, 52.134)};
      return true;
    case 3:
      p = {3.0, 49.0, 44.0, 700000.0, 6600000.0, Dms(46, 30, 0)};
      return true;
    default:
      return false;
  }
}

// The cone of the current state: R(φ) = K·exp(−n·q(φ)), northing reference R0·k0.
struct Cone {
  double n = 0.0;
  double K = 0.0;
  double R0 = 0.0;
  double k0 = 1.0;
};

// Applies the preset of LambCase (if any) to the state, then builds the cone.
// False when the cone is undefined; the caller then writes nothing.
bool SetUpCone(ProjectionState& s, const Ellipsoid& el, bool inverse, Cone& cone) {
  Preset preset{};
  const bool hasPreset = FindPreset(s.LambCase, preset);
  if (hasPreset) {
    s.L0 = preset.L0;
    s.FalseEast = preset.falseEast;
    s.FalseNorth = preset.falseNorth;
    s.LambType = 1;
    // The inverse has always stored the Estonian parallels the other way
    // round; the cone is symmetric in them, only the getters show it.
    if (inverse && s.LambCase == 1) {
      s.BNord = preset.secondParallel;
      s.BSued = preset.firstParallel;
    } else {
      s.BNord = preset.firstParallel;
      s.BSued = preset.secondParallel;
    }
  }
  const double phi1 = s.BSued / kRho;
  const double phi2 = s.BNord / kRho;
  const double c1 = std::cos(phi1);
  const double q1 = pel::IsometricLatitude(el, phi1);
  const double m1 = el.N(c1) * c1;
  if (s.LambType == 0) {
    if (std::fabs(phi1 - phi2) > 1e-10) return false;
    cone.n = std::sin(phi1);
    cone.R0 = el.N(c1) / std::tan(phi1);
    cone.K = std::exp(cone.n * q1) * cone.R0;
    cone.k0 = 1.0;
    return true;
  }
  if (s.LambType != 1) return false;
  const double c2 = std::cos(phi2);
  const double q2 = pel::IsometricLatitude(el, phi2);
  cone.n = (std::log(c1 / el.V(c1)) - std::log(c2 / el.V(c2))) / (q2 - q1);
  cone.K = std::exp(cone.n * q1) * m1 / cone.n;
  double phi0 = 0.0;
  if (hasPreset)
    phi0 = preset.originLatitude / kRho;
  else if (s.LambCase == 0)
    phi0 = std::asin(cone.n);
  const double q0 = pel::IsometricLatitude(el, phi0);
  cone.R0 = cone.K * std::exp(-cone.n * q0);
  if (hasPreset) {
    cone.k0 = 1.0;
  } else {
    const double c0 = std::cos(phi0);
    cone.k0 = m1 / (el.N(c0) * c0) * std::exp(cone.n * (q1 - q0));
  }
  return true;
}

}  // namespace

extern "C" {

int BL_to_EN_Lambert(double B, double L, double* E, double* N) {
  ProjectionState& s = pel::State();
  const Ellipsoid el = Ellipsoid::FromState();
  Cone cone;
  if (!SetUpCone(s, el, false, cone)) return -1;
  const double r = cone.K * std::exp(-cone.n * pel::IsometricLatitude(el, B / kRho));
  const double theta = (L / kRho - s.L0 / kRho) * cone.n;
  *E = r * std::sin(theta) + s.FalseEast;
  *N = cone.R0 * cone.k0 - r * std::cos(theta) + s.FalseNorth;
  return 0;
}

int EN_to_BL_Lambert(double E, double N, double* B, double* L) {
  ProjectionState& s = pel::State();
  const Ellipsoid el = Ellipsoid::FromState();
  Cone cone;
  if (!SetUpCone(s, el, true, cone)) return -1;
  const double dx = E - s.FalseEast;
  const double dy = cone.R0 * cone.k0 + s.FalseNorth - N;
  const double theta = std::atan(dx / dy);
  *L = (theta / cone.n + s.L0 / kRho) * kRho;
  const double r = std::sqrt(dx * dx + dy * dy);
  const double q = (std::log(std::fabs(cone.K)) - std::log(r)) / cone.n;
  *B = pel::LatitudeFromIsometric(el, q) * kRho;
  return 0;
}

}  // extern "C"
