// Stand-in for the projection library: every export present and inert,
// except that one variant lacks the last export and the other throws from
// the ellipsoid conversions.

#include <stdexcept>

#include "PelProjection.h"

#ifdef FAKE_PROJECTION_THROWS
#define FAKE_BODY throw std::runtime_error("projection")
#else
#define FAKE_BODY
#endif

extern "C" {
void InitializeDLL(double, int, double, double, double, double, double, double, double, int, int, int) {}
void SetL0(double) {}
double GetL0(void) { return 0; }
void SetL0Auto(int) {}
int GetL0Auto(void) { return 0; }
void SetB0(double) {}
double GetB0(void) { return 0; }
void SetEllipDim(double, double) {}
double GetA(void) { return 0; }
double GetB(void) { return 0; }
void SetBNord(double) {}
double GetBNord(void) { return 0; }
void SetBSued(double) {}
double GetBSued(void) { return 0; }
void SetFalseNorth(double) {}
double GetFalseNorth(void) { return 0; }
void SetFalseEast(double) {}
double GetFalseEast(void) { return 0; }
void SetLambType(int) {}
int GetLambType(void) { return 0; }
void SetLambCase(int) {}
int GetLambCase(void) { return 0; }
void SetGKCase(int) {}
int GetGKCase(void) { return 0; }
void DEZGMS(double, int*, int*, double*) {}
void GMSDEZ(int, int, double, double*) {}
void BLH_to_XYZ(double, double, double, double* X, double* Y, double* Z) {
  FAKE_BODY;
  *X = *Y = *Z = 1.0;
}
void XYZ_to_BLH(double, double, double, double* B, double* L, double* H) {
  FAKE_BODY;
  *B = *L = *H = 1.0;
}
void EllipsoidalCoordinates_to_XYZ(double, double, double, double*, double*, double*) {}
void XYZ_to_EllipsoidalCoordinates(double, double, double, double*, double*, double*) {}
void BL_to_EN_Soldner(double, double, double*, double*) {}
void EN_to_BL_Soldner(double, double, double*, double*) {}
void BL_to_EN_UTM_Raw(double, double, double*, double*) {}
void EN_to_BL_UTM_Raw(double, double, double*, double*) {}
void BL_to_EN_UTM_With_Zone(double, double, double*, double*, int*, char*) {}
void EN_to_BL_UTM_With_Zone(double, double, int, const char*, double*, double*) {}
void BL_to_EN_GK(double, double, double*, double*) {}
void EN_to_BL_GK(double, double, double*, double*) {}
int BL_to_EN_Lambert(double, double, double*, double*) { return 0; }
int EN_to_BL_Lambert(double, double, double*, double*) { return 0; }
void BL_to_EN_Mercator(double, double, double*, double*) {}
void EN_to_BL_Mercator(double, double, double*, double*) {}
void BL_to_EN_EOV(double, double, double*, double*) {}
void EN_to_BL_EOV(double, double, double*, double*) {}
void BL_to_EN_Switzerland_Conformal_DoubleProjection(double, double, double*, double*, int) {}
#ifndef FAKE_PROJECTION_OMIT_LAST
void EN_to_BL_Switzerland_Conformal_DoubleProjection(double, double, double*, double*, int) {}
#endif
}
