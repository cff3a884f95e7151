// Cassini-Soldner about the meridian L0 with origin latitude B0.

#include <cmath>

#include "Ellipsoid.h"
#include "PelProjection.h"
#include "ProjectionState.h"

using pel::Ellipsoid;
using pel::kRho;

namespace {
// The series' 1/k! factors, multiplied in the forward direction; the inverse
// divides by the same numbers. Folded at compile time to the doubles nearest
// 1/6, 1/24 and 1/120, so either way gives the same bits.
constexpr double kInverseFactorial3 = 1.0 / 6.0;
constexpr double kInverseFactorial4 = 1.0 / 24.0;
constexpr double kInverseFactorial5 = 1.0 / 120.0;
static_assert(kInverseFactorial4 == 0.041666666666666664);
}  // namespace

extern "C" {

void BL_to_EN_Soldner(double B, double L, double* E, double* N) {
  const pel::ProjectionState& s = pel::State();
  const Ellipsoid el = Ellipsoid::FromState();
  const double phi = B / kRho;
  const double l = (L - s.L0) / kRho;
  // Signed arcs, so that points and origins south of the equator measure
  // their distance along the meridian correctly as well.
  const double g = pel::SignedMeridianArc(el, B) - pel::SignedMeridianArc(el, s.B0);
  const double sp = std::sin(phi);
  const double cp = std::cos(phi);
  const double t = sp / cp;
  const double eta2 = el.ep2 * cp * cp;
  const double n = el.N(cp);
  const double l2 = l * l;
  *N = g + n * sp * cp * l2 * 0.5 +
       n * sp * cp * cp * cp * (5.0 - t * t + 5.0 * eta2) * l2 * l2 * kInverseFactorial4 + s.FalseNorth;
  *E = n * cp * l - n * cp * sp * sp * l2 * l * kInverseFactorial3 -
       n * cp * cp * cp * sp * sp * (8.0 - t * t) * l2 * l2 * l * kInverseFactorial5 + s.FalseEast;
}

void EN_to_BL_Soldner(double E, double N, double* B, double* L) {
  const pel::ProjectionState& s = pel::State();
  const Ellipsoid el = Ellipsoid::FromState();
  const double phiF =
      pel::LatitudeFromSignedArc(el, pel::SignedMeridianArc(el, s.B0) + (N - s.FalseNorth)) / kRho;
  const double cf = std::cos(phiF);
  const double tf = std::tan(phiF);
  const double tf2 = tf * tf;
  const double eta2 = el.ep2 * cf * cf;
  const double nf = el.N(cf);
  const double dE = E - s.FalseEast;
  const double m = dE / nf;
  const double m2 = m * m;
  *B = phiF * kRho +
       kRho * m2 *
           (tf * m2 * (3.0 * tf2 + 2.0 * eta2 + 1.0 - 6.0 * eta2 * tf2) / 24.0 - tf * (1.0 + eta2) / 2.0);
  // The fifth-order term of the longitude is (1 + 3t²)·t²/15, the exact
  // series of the Cassini inverse; (1 + 2t²) would leave centimetres at 1°.
  *L = s.L0 +
       kRho *
           (m - (dE * dE * dE * tf2 / (nf * nf * nf)) / 3.0 + m2 * m2 * m * tf2 * (1.0 + 3.0 * tf2) / 15.0) /
           cf;
}

}  // extern "C"
