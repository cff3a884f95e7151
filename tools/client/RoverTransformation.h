#pragma once
// What a rover does with the three transformation messages: the 1021
// Helmert transformation of its Cartesian position from the source to the
// target ellipsoid, the 1023 residuals interpolated at the transformed
// position with the method the message announces, plus the mean offsets,
// the height from the 1023 height corrections, and the 1025 projection to
// easting and northing.
//
// Written from the message definitions alone, with no code of the server,
// so that a disagreement between server and rover shows up as an error.

#include <string>

#include "RtcmDecoder.h"

namespace tarvikclient {

struct HelmertMessage {                                                     // 1021
  double originLat = 0, originLon = 0, extensionLat = 0, extensionLon = 0;  // degrees
  double dx = 0, dy = 0, dz = 0;                                            // metres
  double r1 = 0, r2 = 0, r3 = 0;                                            // arc-seconds
  double scalePpm = 0;
  double sourceA = 0, sourceB = 0, targetA = 0, targetB = 0;
};

struct ResidualGridMessage {  // 1023
  bool horizontalShift = true, verticalShift = true;
  double originLat = 0, originLon = 0, extensionLat = 0, extensionLon = 0;  // degrees
  double meanLat = 0, meanLon = 0;                                          // arc-seconds
  double meanHeight = 0;                                                    // metres
  // Nodes north-west first, row by row southwards, each row west to east.
  double dLat[16] = {}, dLon[16] = {};           // arc-seconds
  double dHeight[16] = {};                       // metres
  int horizontalMethod = 0, verticalMethod = 0;  // 0 bilinear, 1 biquadratic, 2 bispline
};

struct ProjectionMessage {  // 1025
  int type = 0;             // 1 transverse Mercator
  double originLat = 0, originLon = 0, scale = 1, falseEasting = 0, falseNorthing = 0;
};

struct RoverMessages {
  HelmertMessage helmert;
  ResidualGridMessage grid;
  ProjectionMessage projection;
  bool haveProjection = false;
};

struct RoverPosition {
  double lat = 0, lon = 0;       // target system, degrees
  double ellipsoidalHeight = 0;  // on the target ellipsoid after the Helmert transformation
  double height = 0;             // with the 1023 height corrections: source height minus the undulation
  double easting = 0, northing = 0;
  bool projected = false;
};

// Fills the messages from decoded frames; false with a reason when one is
// missing, is another message or announces an area that is not valid.
bool ReadMessages(const DecodedMessage& m1021, const DecodedMessage& m1023, const DecodedMessage* m1025,
                  RoverMessages& out, std::string& error);

// Applies the messages to a source position (degrees, ellipsoidal metres).
// False with a reason when the position lies outside the area of validity
// or the residual grid, or the projection is not supported.
bool ApplyMessages(const RoverMessages& messages, double lat, double lon, double h, RoverPosition& out,
                   std::string& error);

// The interpolation of one 4 x 4 field at fractional node coordinates
// (x eastwards from the west column, y southwards from the north row, both
// 0..3), as the 1023 methods define it. Exposed for the tests.
double InterpolateGrid(const double values[16], double x, double y, int method);

// Transverse Mercator on an ellipsoid (Krueger series to the sixth order);
// easting and northing without false values and scale.
void TransverseMercator(double a, double b, double lat0, double lon0, double lat, double lon, double& x,
                        double& y);

}  // namespace tarvikclient
