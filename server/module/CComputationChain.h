#pragma once
// The computation of one request's message contents: a 4 x 4 grid around the
// area origin, mapped into the source frame with the configured Helmert
// transformation, the nodes' plan positions from the Marlo database, heights
// from the height library or the geoid grid, and a least-squares Helmert
// adjustment whose parameters fill message 1021 and whose remainders, in
// arc-seconds, fill the residual grid of message 1023.
//
// Each step returns 1 to go on or the negative result code that ends the
// request. Run() calls them in their order and stops at the first failure.
//
// Choices made here:
//  - The grid step already ends the chain with -2002 when the projection
//    binding is not ready (or a conversion fails): without it the node
//    positions would be undefined, and with plan code 0 such a request would
//    otherwise be reported as executed with meaningless height residuals.
//  - The 1023 grid extension is set to the 1021 area extension in every mode,
//    not only in LOCAL mode: the grid always spans that extension, so the
//    message then describes the grid actually sent.
//  - The 1023 grid origin is moved to the nearest value its field carries
//    (half arc-seconds) and the grid is laid around that, and the residuals
//    are taken against the 1021 parameters and ellipsoids as their fields
//    send them (truncated): a rover rebuilds the grid and the Helmert
//    transformation from the message, and must find the residuals valid
//    for exactly those.
//  - The mean offsets of message 1023 are sent as the nearest value their
//    fields carry (0.001" and 0.01 m) and the residuals are taken from
//    those: the rover adds mean and residual, and the residuals' finer
//    fields then carry what the mean's resolution cannot.
//  - The residuals themselves are sent as the nearest value their fields
//    carry (0.00003" and 1 mm), not truncated toward zero.
//  - Every conversion's outputs must come back as numbers, and a grid must
//    not reach over a pole: near the poles and far above the ellipsoid the
//    projection library leaves its outputs as they were, so such a request
//    ends with -2002 instead of being sent with stale values.
//  - Every range check fails for NaN too, and the estimated Helmert
//    parameters are checked against their 1021 fields (-2044): nothing
//    computed may wrap on the wire.
//  - Heights are range checked like the plan residuals: a mean height offset
//    beyond the 15-bit field of message 1023 (163.83 m) ends the request with
//    -2043 and a height residual beyond its 9-bit field (0.255 m) with -2040,
//    instead of sending a wrapped value that a rover would apply as valid.

#include <cstddef>
#include <vector>

#include "module/CGeoPoint.h"
#include "rtcm/MessageData.h"

namespace tarvik {

class CConfigurationSettings;
class CPelProjectionDll;
class C3DTrafo;
class CoordinateArrays;

// Results of the chain's steps: 1 to go on, or the code that ends the
// request (its text is ResultText's).
enum ComputationResult : int {
  kResultSuccess = 1,
  kResultMarloAccess = -2001,              // a database failure other than the position outside it
  kResultPelProjectionAccess = -2002,      // projection binding not ready, or a conversion failed
  kResultHelmertFailed = -2003,            // the adjustment found no solution
  kResultComputationNotSupported = -2005,  // ComputationIndicator is not 1
  kResultOutsideDatabase = -2007,          // no area of the database contains a node
  kResultRegionalNotImplemented = -2009,   // Mode REGIONAL
  kResultOrvelAccess = -2020,              // the height library failed
  kResultGeoidGridAccess = -2030,          // a node outside the geoid grid
  kResultResidualOverrun = -2040,          // a residual beyond its field
  kResultMeanLatitudeOverrun = -2041,
  kResultMeanLongitudeOverrun = -2042,
  kResultMeanHeightOverrun = -2043,
  kResultHelmertParameterOverrun = -2044,  // an estimated parameter beyond its 1021 field
};

// The one ComputationIndicator of message 1021 the chain computes for: the
// strict seven-parameter Helmert transformation.
constexpr int kComputationStrictHelmert = 1;

// Range bounds of the residual grid (arc-seconds); a value exactly at a
// bound passes.
constexpr double kMaxMeanOffset = 0.127;
constexpr double kMaxResidual = 0.00765;
// The same for heights (metres).
constexpr double kMaxMeanHeightOffset = 163.83;
constexpr double kMaxHeightResidual = 0.255;

class CComputationChain {
 public:
  CComputationChain(CConfigurationSettings& configuration, CPelProjectionDll& projection,
                    std::vector<CGeoPoint>& nodes);

  // The whole chain for a position (degrees, degrees, ellipsoidal metres).
  int Run(double latitude, double longitude, double height);

  int OriginByMode(double latitude, double longitude);
  int Grid(double height);
  int PlanPositions(double height);
  int HeightLibrary();
  int GeoidGrid();
  int HelmertAdjustment();

  // Longitude as handed to the height library: 0..360 for ORVEL_DB.
  static double HeightLibraryLongitude(int heightCode, double longitude);
  // Removes the means and checks the bounds: 1, -2040, -2041 or -2042.
  static int CheckResiduals(std::vector<CGeoPoint>& nodes, double meanLatitudeOffset,
                            double meanLongitudeOffset);
  // Checks the estimated parameters against their 1021 fields: 1 or -2044.
  static int CheckHelmertParameters(const HelmertMessageData& parameters);
  // Checks the height residuals and their mean: 1, -2040 or -2043.
  static int CheckHeightResiduals(const std::vector<CGeoPoint>& nodes, double meanHeightOffset);
  // The value nearest to value that a field of the given resolution
  // carries exactly, as a double that the encoder's truncation turns into
  // exactly that field value.
  static double Sendable(double value, double unitsPerValue);

 private:
  bool UseEllipsoid(double a, double b);
  bool ToCartesian(double a, double b, double lat, double lon, double h, double& x, double& y, double& z);
  bool ToGeographic(double a, double b, double x, double y, double z, double& lat, double& lon, double& h);
  // The same for arrays of points: the outputs start as NaN; the result is
  // how many leading points converted to numbers, i.e. where the single
  // conversions in order would have stopped.
  std::size_t ToCartesian(double a, double b, const CoordinateArrays& geographic,
                          CoordinateArrays& cartesian);
  std::size_t ToGeographic(double a, double b, const CoordinateArrays& cartesian,
                           CoordinateArrays& geographic);
  int MeanHeightResiduals();

  CConfigurationSettings& cfg_;
  CPelProjectionDll& projection_;
  std::vector<CGeoPoint>& nodes_;
};

}  // namespace tarvik
