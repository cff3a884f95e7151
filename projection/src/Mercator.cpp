// Normal Mercator: no scale factor, no false easting or northing.

#include "Ellipsoid.h"
#include "PelProjection.h"
#include "ProjectionState.h"

using pel::Ellipsoid;
using pel::kRho;

extern "C" {

void BL_to_EN_Mercator(double B, double L, double* E, double* N) {
  const Ellipsoid el = Ellipsoid::FromState();
  *E = (L - pel::State().L0) / kRho * el.a;
  *N = pel::IsometricLatitude(el, B / kRho) * el.a;
}

void EN_to_BL_Mercator(double E, double N, double* B, double* L) {
  const Ellipsoid el = Ellipsoid::FromState();
  *L = E / el.a * kRho + pel::State().L0;
  *B = pel::LatitudeFromIsometric(el, N / el.a) * kRho;
}

}  // extern "C"
