#ifndef PELPROJECTION_H
#define PELPROJECTION_H
/*
 * PelProjection: map projections and ellipsoid conversions.
 *
 * Loaded at run time by file name (PelProjection.so) and bound by name; every
 * export below has C linkage. Angles are decimal degrees (north and east
 * positive), lengths metres. Results are written through caller-owned
 * pointers; nothing is allocated for the caller.
 *
 * Projection state: every conversion reads its parameters (ellipsoid, L0,
 * L0Auto, B0, standard parallels, false easting/northing, LambType, LambCase,
 * GKCase) from the projection state at the moment of the call.
 *
 * Concurrency: the state is kept per calling thread. Each thread starts from
 * the load-time values (all zero, LambCase = GKCase = 0) and sees only what it
 * set itself. Callers push the whole state with InitializeDLL before each
 * call, so a push and the conversion after it can never be disturbed by
 * another thread's push, without a lock shared between the server and the
 * database library. The writes some conversions make (UTM with L0Auto stores
 * the meridian into L0; Lambert presets overwrite several fields) stay in the
 * calling thread's state as well.
 *
 * Valid range and accuracy (what the tests pin; outside the range results
 * are computed but degrade):
 *  - Ellipsoid conversions: exact to rounding on and near the ellipsoid;
 *    XYZ_to_BLH iterates to 0.05 mm in height and refuses the north polar
 *    cap (b - Z <= 95 km).
 *  - Gauss-Krüger and UTM: series through the 12th (forward) and 13th
 *    (inverse) order of the longitude difference. Against the exact
 *    transverse Mercator (GRS80, latitudes 0-80°): about 1e-8 m within 6° of
 *    the central meridian, 3.7 mm within 20°, 0.77 m within 30°, 175 m
 *    within 45°. Within ±3° of the meridian both agree with GeographicLib's
 *    exact mapping to 0.1 mm, the inverse back to 1e-9°.
 *  - Soldner, Lambert (tangent, secant, national presets), Mercator, EOV and
 *    the Swiss projection: closed formulas, checked against PROJ to 1 mm
 *    inside the national areas they are defined for (Soldner about ±1° of
 *    its meridian), the inverse back to 1e-9°.
 */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define PELPROJECTION_API __attribute__((visibility("default")))
#else
#define PELPROJECTION_API
#endif

/* ---- state: setters and getters ---------------------------------------- */

/* Stores all twelve values at once. Note FalseNorth before FalseEast. */
PELPROJECTION_API void InitializeDLL(double L0, int L0Auto, double B0, double a, double b, double BNord,
                                     double BSued, double FalseNorth, double FalseEast, int LambType,
                                     int LambCase, int GKCase);

PELPROJECTION_API void SetL0(double L0);
PELPROJECTION_API double GetL0(void);
PELPROJECTION_API void SetL0Auto(int L0Auto);
PELPROJECTION_API int GetL0Auto(void);
PELPROJECTION_API void SetB0(double B0);
PELPROJECTION_API double GetB0(void);
PELPROJECTION_API void SetEllipDim(double a, double b);
PELPROJECTION_API double GetA(void);
PELPROJECTION_API double GetB(void);
PELPROJECTION_API void SetBNord(double BNord);
PELPROJECTION_API double GetBNord(void);
PELPROJECTION_API void SetBSued(double BSued);
PELPROJECTION_API double GetBSued(void);
PELPROJECTION_API void SetFalseNorth(double FalseNorth);
PELPROJECTION_API double GetFalseNorth(void);
PELPROJECTION_API void SetFalseEast(double FalseEast);
PELPROJECTION_API double GetFalseEast(void);
PELPROJECTION_API void SetLambType(int LambType);
PELPROJECTION_API int GetLambType(void);
PELPROJECTION_API void SetLambCase(int LambCase);
PELPROJECTION_API int GetLambCase(void);
PELPROJECTION_API void SetGKCase(int GKCase);
PELPROJECTION_API int GetGKCase(void);

/* ---- angle notation ------------------------------------------------------ */

/* Decimal degrees to degrees, minutes, seconds; the sign sits on the first
 * non-zero part (-0.5 -> 0, -30, 0). */
PELPROJECTION_API void DEZGMS(double value, int* degrees, int* minutes, double* seconds);
/* Inverse of DEZGMS; only the sign of the degrees (or of the first non-zero
 * part when degrees are 0) decides. */
PELPROJECTION_API void GMSDEZ(int degrees, int minutes, double seconds, double* value);

/* ---- ellipsoid conversions ----------------------------------------------- */

PELPROJECTION_API void BLH_to_XYZ(double B, double L, double H, double* X, double* Y, double* Z);
/* Leaves B, L, H untouched when b - Z <= 95000 m (north polar cap). */
PELPROJECTION_API void XYZ_to_BLH(double X, double Y, double Z, double* B, double* L, double* H);
PELPROJECTION_API void EllipsoidalCoordinates_to_XYZ(double beta, double lambda, double u, double* X,
                                                     double* Y, double* Z);
PELPROJECTION_API void XYZ_to_EllipsoidalCoordinates(double X, double Y, double Z, double* beta,
                                                     double* lambda, double* u);

/* ---- ellipsoid conversions of whole arrays ------------------------------- */

/* The conversions above for count points at once (count <= 0: nothing),
 * each point's outputs bit for bit those of the single-point function, and
 * XYZ_to_BLH_Points leaves a point's B, L, H untouched where XYZ_to_BLH
 * would. Faster than single calls: the state is read once, and the points
 * of XYZ_to_BLH_Points iterate side by side. An output array may be the
 * same array as an input but must not overlap one otherwise.
 * These two are not part of the original 46 exports: a caller that wants to
 * work with a library lacking them looks them up and falls back to the
 * single-point functions. */
PELPROJECTION_API void BLH_to_XYZ_Points(int count, const double* B, const double* L, const double* H,
                                         double* X, double* Y, double* Z);
PELPROJECTION_API void XYZ_to_BLH_Points(int count, const double* X, const double* Y, const double* Z,
                                         double* B, double* L, double* H);

/* ---- projections: forward (B, L) -> (E, N), inverse (E, N) -> (B, L) ------ */

/* Cassini-Soldner about L0 with origin latitude B0 (either hemisphere). */
PELPROJECTION_API void BL_to_EN_Soldner(double B, double L, double* E, double* N);
PELPROJECTION_API void EN_to_BL_Soldner(double E, double N, double* B, double* L);

/* E carries the zone number in its millions. */
PELPROJECTION_API void BL_to_EN_UTM_Raw(double B, double L, double* E, double* N);
PELPROJECTION_API void EN_to_BL_UTM_Raw(double E, double N, double* B, double* L);

/* E without the zone, zone number and latitude band letter separately;
 * southern points get N + 10000000. */
PELPROJECTION_API void BL_to_EN_UTM_With_Zone(double B, double L, double* E, double* N, int* zone,
                                              char* band);
/* band: text of one letter, any case; southern letters (C..M) subtract the
 * false northing. */
PELPROJECTION_API void EN_to_BL_UTM_With_Zone(double E, double N, int zone, const char* band, double* B,
                                              double* L);

/* GKCase 0: German 3° zones, E = zone·1000000 + 500000 + y; GKCase 4:
 * Austrian strips 10°20′/13°20′/16°20′, E = y + 150000/450000/750000; any
 * other GKCase: E = y. With L0Auto the meridian comes from the point (GKCase 0:
 * nearest multiple of 3°, halves toward zero; GKCase 4: strip boundaries at
 * 11°50′ and 14°50′; the inverse takes the zone from the millions of E, or
 * the strip from E below 300000 / below 600000 / above); other GKCase: L0. */
PELPROJECTION_API void BL_to_EN_GK(double B, double L, double* E, double* N);
PELPROJECTION_API void EN_to_BL_GK(double E, double N, double* B, double* L);
/* BL_to_EN_GK for count points (count <= 0: nothing), each point's bits
 * those of the single call; the state is read once. Like the other array
 * exports not among the original 46: callers look it up and fall back. */
PELPROJECTION_API void BL_to_EN_GK_Points(int count, const double* B, const double* L, double* E, double* N);

/* 0 on success, -1 when the cone is undefined (LambType 0 with different
 * parallels, or a LambType other than 0 and 1); then nothing is written.
 * LambCase 1..3 first load a national parameter set into the state and set
 * LambType to 1. */
PELPROJECTION_API int BL_to_EN_Lambert(double B, double L, double* E, double* N);
PELPROJECTION_API int EN_to_BL_Lambert(double E, double N, double* B, double* L);

PELPROJECTION_API void BL_to_EN_Mercator(double B, double L, double* E, double* N);
PELPROJECTION_API void EN_to_BL_Mercator(double E, double N, double* B, double* L);

PELPROJECTION_API void BL_to_EN_EOV(double B, double L, double* E, double* N);
PELPROJECTION_API void EN_to_BL_EOV(double E, double N, double* B, double* L);

/* variant 0: E + 2600000, N + 1200000; 1: E + 600000, N + 200000; other: none. */
PELPROJECTION_API void BL_to_EN_Switzerland_Conformal_DoubleProjection(double B, double L, double* E,
                                                                       double* N, int variant);
PELPROJECTION_API void EN_to_BL_Switzerland_Conformal_DoubleProjection(double E, double N, double* B,
                                                                       double* L, int variant);

#ifdef __cplusplus
}
#endif

#endif /* PELPROJECTION_H */
