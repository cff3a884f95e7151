#ifndef MARLODLL_H
#define MARLODLL_H
/*
 * MarloDLL: point transformation with locally valid parameter sets kept in one
 * text database (transformation areas, index grid, identical points).
 *
 * Loaded at run time by full path (MarloDLL.so) and bound by name; every
 * export below has C linkage. Angles are decimal degrees, lengths metres.
 * Results are written through caller-owned pointers, and only on success.
 *
 * State: one database per loaded copy of the library. Each module of the
 * server loads its own copy from its own path, so two copies never share a
 * database. There is no lock: InitDB, ExitDB and the setters must not run
 * while a transformation of the same copy runs; transformations may run
 * concurrently with each other.
 *
 * The projection arithmetic is done by PelProjection.so, which this library
 * loads by full path from the host program's folder (falling back to its own
 * folder). Without it no area can be found and transformations return -1000.
 *
 * Result codes:
 *    1     success
 *   -1000  no area contains the point (or the projection library is missing)
 *   -1001  latitude outside -90..90 or longitude outside -180..180; also a
 *          point the area cannot serve: a height that is not finite, a
 *          position so far above the ellipsoid or so near the pole that the
 *          Cartesian conversions give up, or parameters so large that the
 *          result is not finite or lies beyond the poles
 *   -1002  database file cannot be opened, is no regular file (a FIFO or
 *          device is never read) or is larger than 1 GiB
 *   -1003  a database line is missing or malformed (longer than 4096
 *          characters, a number that is not finite), an area id is unknown,
 *          an ellipsoid axis is <= 0 or the semi-minor axis exceeds the
 *          semi-major one, or the projection type is not 2, 3 or 4
 *   -1004  the index grid has no columns or no rows
 *   -1005  the database holds no area
 *   -1006  database version below 4.0
 *   -1007  no database loaded
 * CreateCoefficientVector has codes of its own (see there).
 */

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of the database and transformation exports. */
#define MARLO_OK 1
#define MARLO_AREA_NOT_FOUND (-1000)  /* no area contains the point */
#define MARLO_OUT_OF_RANGE (-1001)    /* latitude or longitude outside its range */
#define MARLO_CANNOT_OPEN (-1002)     /* database file cannot be opened */
#define MARLO_BAD_DATABASE (-1003)    /* a line missing or malformed, an unknown area id */
#define MARLO_NO_GRID (-1004)         /* the index grid has no columns or no rows */
#define MARLO_NO_AREAS (-1005)        /* the database holds no area */
#define MARLO_BAD_VERSION (-1006)     /* database version below 4.0 */
#define MARLO_NOT_INITIALIZED (-1007) /* no database loaded */
/* Codes of CreateCoefficientVector. */
#define MARLO_SETTINGS_CANNOT_OPEN (-1006) /* settings file cannot be opened */
#define MARLO_SETTINGS_KEY_MISSING (-1007) /* a required key is missing or empty */
#define MARLO_VECTOR_CANNOT_WRITE (-1008)  /* a vector file cannot be created */

#if defined(__GNUC__)
#define MARLODLL_API __attribute__((visibility("default")))
#else
#define MARLODLL_API
#endif

/* ---- database lifecycle ------------------------------------------------- */

/* Reads the database file; 1 or a negative code. Always discards the previous
 * content first, switches interpolation off and forgets the vector path. */
MARLODLL_API int InitDB(const char* path);
/* Frees every table. */
MARLODLL_API void ExitDB(void);

/* ---- residual interpolation --------------------------------------------- */

/* onOff: 0 off, other on. weightFunction: 0 coefficient vectors, 1 inverse
 * distance, 2 inverse squared distance, 3 exponential. neighbourMode: 0 the
 * containing area, 1 plus its related areas, 2 all points within
 * searchRadiusKm, 3 all points. shapeDistance (metres) scales function 3. */
MARLODLL_API void SetInterpolationType(int onOff, int weightFunction, int neighbourMode,
                                       double searchRadiusKm, double shapeDistance);

/* Reads <dir>/<last component of dir>.ini and, for AreaType 3, the vectors
 * <dir>/AX_0.dat and <dir>/AY_0.dat. 1 when the settings were read, else 0.
 * A vector file that is no regular file or holds a line that is not a finite
 * number is not taken (the vector read before stays). */
MARLODLL_API unsigned char SetInterpolationVectorPath(const char* directory);

/* Computes the multiquadric coefficient vectors from the loaded database and
 * writes AX_0.dat and AY_0.dat next to the settings file. 1 success; -1006
 * settings file cannot be opened (or is no regular file); -1007 a required
 * key is missing or empty, ParamF or ParamD is not finite, or ParamF < 0;
 * -1008 a vector file cannot be created. */
MARLODLL_API int CreateCoefficientVector(const char* settingsPath);

/* Writes "Hallo" to standard error; returns 1. */
MARLODLL_API int TestFunc(void);

/* ---- point transformations ---------------------------------------------- */
/* Inputs: BLH (L, B, h); XYZ (X, Y, Z); GKH, UTMH, EOVH (meridian in, E, N, h;
 * EOVH ignores the meridian). Projected outputs take their meridian next
 * (EOVH ignores it). Then the three results: BLH (L, B, h), projected
 * (E, N, h). */

MARLODLL_API int TransformPoint_BLH_in_BLH_out(double L, double B, double h, double* Lout, double* Bout,
                                               double* hout);
MARLODLL_API int TransformPoint_BLH_in_GKH_out(double L, double B, double h, double L0out, double* E,
                                               double* N, double* hout);
MARLODLL_API int TransformPoint_BLH_in_UTMH_out(double L, double B, double h, double L0out, double* E,
                                                double* N, double* hout);
MARLODLL_API int TransformPoint_BLH_in_EOVH_out(double L, double B, double h, double L0out, double* E,
                                                double* N, double* hout);

MARLODLL_API int TransformPoint_XYZ_in_BLH_out(double X, double Y, double Z, double* Lout, double* Bout,
                                               double* hout);
MARLODLL_API int TransformPoint_XYZ_in_GKH_out(double X, double Y, double Z, double L0out, double* E,
                                               double* N, double* hout);
MARLODLL_API int TransformPoint_XYZ_in_UTMH_out(double X, double Y, double Z, double L0out, double* E,
                                                double* N, double* hout);
MARLODLL_API int TransformPoint_XYZ_in_EOVH_out(double X, double Y, double Z, double L0out, double* E,
                                                double* N, double* hout);

MARLODLL_API int TransformPoint_GKH_in_BLH_out(double L0in, double Ein, double Nin, double h, double* Lout,
                                               double* Bout, double* hout);
MARLODLL_API int TransformPoint_GKH_in_GKH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                               double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_GKH_in_UTMH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_GKH_in_EOVH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                double* E, double* N, double* hout);

MARLODLL_API int TransformPoint_UTMH_in_BLH_out(double L0in, double Ein, double Nin, double h, double* Lout,
                                                double* Bout, double* hout);
MARLODLL_API int TransformPoint_UTMH_in_GKH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_UTMH_in_UTMH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                 double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_UTMH_in_EOVH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                 double* E, double* N, double* hout);

MARLODLL_API int TransformPoint_EOVH_in_BLH_out(double L0in, double Ein, double Nin, double h, double* Lout,
                                                double* Bout, double* hout);
MARLODLL_API int TransformPoint_EOVH_in_GKH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_EOVH_in_UTMH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                 double* E, double* N, double* hout);
MARLODLL_API int TransformPoint_EOVH_in_EOVH_out(double L0in, double Ein, double Nin, double h, double L0out,
                                                 double* E, double* N, double* hout);

/* TransformPoint_BLH_in_BLH_out for count points at once (arrays of count
 * values; count <= 0: nothing). results[i] (results may be NULL) and the
 * outputs of point i are what the single call for point i gives, outputs
 * written only on success; faster, as each stage runs for all points before
 * the next. Returns 1 when every point succeeded, else the code of the first
 * point that did not. An output array may be an input array; nothing else
 * may overlap. Not among the single-point exports of older copies of this
 * library: callers that must work with those look it up and fall back. */
MARLODLL_API int TransformPoints_BLH_in_BLH_out(int count, const double* L, const double* B, const double* h,
                                                double* Lout, double* Bout, double* hout, int* results);

#ifdef __cplusplus
}
#endif

#endif /* MARLODLL_H */
