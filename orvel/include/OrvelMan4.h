#ifndef ORVELMAN4_H
#define ORVELMAN4_H
/*
 * OrvelMan4: height reference surface from a regular grid file.
 *
 * Loaded at run time by file name (OrvelMan4.so) and bound by name; both
 * exports have C linkage and never let an exception out. The library holds
 * one grid per loaded instance; InitOrvelDB replaces it. Calls may come from
 * any thread.
 *
 * Grid file (text, "#" starts a comment line, blank lines ignored):
 *   ORVELGRID 1
 *   south <deg> north <deg> west <deg> east <deg>
 *   dlat <deg> dlon <deg>
 *   rows <n> columns <n>
 *   <rows * columns surface undulations in metres (height of the reference
 *    surface above the ellipsoid), southern row first, each row west to
 *    east, any number a line>
 * with north = south + (rows - 1) * dlat and east = west + (columns - 1) * dlon.
 * Longitudes of the grid may be given in 0..360 or -180..180; a query
 * longitude is accepted in either convention (it is moved by whole turns
 * into the grid's span).
 */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ORVELMAN4_API __attribute__((visibility("default")))
#else
#define ORVELMAN4_API
#endif

/* Results of InitOrvelDB. */
#define ORVEL_INIT_OK 1
#define ORVEL_INIT_CANNOT_OPEN (-1)  /* missing, unreadable or no regular file (FIFO, device) */
#define ORVEL_INIT_BAD_HEADER (-2)   /* header lines missing or inconsistent */
#define ORVEL_INIT_BAD_VALUES (-3)   /* too few, too many or non-numeric heights */
#define ORVEL_INIT_TOO_LARGE (-4)    /* more than 25 million nodes, or out of memory */
#define ORVEL_INIT_BAD_ARGUMENT (-5) /* null path */

/* Results of GetNFEMbyLatLongH. */
#define ORVEL_OK 0
#define ORVEL_NOT_INITIALIZED (-1) /* no grid loaded */
#define ORVEL_OUTSIDE_GRID (-2)    /* position outside the grid */
#define ORVEL_BAD_ARGUMENT (-3)    /* non-finite input, factor <= 0, null output */

/* Loads the grid file; 1 on success, else a negative code above. A failed
 * load keeps the grid loaded before. */
ORVELMAN4_API int InitOrvelDB(const char* path);

/* Surface at (latitude, longitude) in degrees, ellipsoidal height h in
 * metres. `factor` is the length unit of the results in metres (1.0: results
 * in metres). Outputs:
 *   undulation           height of the reference surface above the ellipsoid
 *   heightAboveSurface   the point's height counted from the surface, that is
 *                        h minus the undulation: its height in the surface's
 *                        height system
 *   slopeNorth           surface gradient northwards, per degree of latitude
 *   slopeEast            surface gradient eastwards, per degree of longitude
 * Bilinear interpolation in the cell around the position; positions on the
 * grid's border are inside. Returns 0 on success, else a negative code above
 * (outputs then untouched). */
ORVELMAN4_API int GetNFEMbyLatLongH(double latitude, double longitude, double h, double factor,
                                    double* undulation, double* heightAboveSurface, double* slopeNorth,
                                    double* slopeEast);

#ifdef __cplusplus
}
#endif

#endif /* ORVELMAN4_H */
