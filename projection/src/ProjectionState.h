#pragma once
// The parameter set every conversion reads at the moment of its call.

#include "Ellipsoid.h"

namespace pel {

// The derived quantities of the last few ellipsoids a thread converted on.
// Callers push their whole state before every conversion and switch between
// a few ellipsoids (a request uses the source and target ellipsoids and the
// same two with the axes as message 1021 carries them), so a handful of
// entries keeps every conversion from deriving them anew. Entries are
// matched on the bits of the semi-axes, so a hit gives exactly what
// Ellipsoid::FromAxes would compute.
struct EllipsoidCache {
  static constexpr int kEntries = 8;
  Ellipsoid entries[kEntries] = {};
  int filled = 0;  // entries in use
  int next = 0;    // the entry replaced next once all are in use
  int last = 0;    // the entry found last, tried first
};

struct ProjectionState {
  double L0 = 0.0;          // central meridian, degrees
  int L0Auto = 0;           // non-zero: GK and UTM take the meridian from the point
  double B0 = 0.0;          // latitude of origin, degrees
  double BNord = 0.0;       // northern standard parallel, degrees
  double BSued = 0.0;       // southern standard parallel, degrees
  double FalseEast = 0.0;   // metres
  double FalseNorth = 0.0;  // metres
  double A = 0.0;           // semi-major axis, metres
  double B = 0.0;           // semi-minor axis, metres
  int LambType = 0;
  int LambCase = 0;
  int GKCase = 0;
  // Not a parameter: what Ellipsoid::FromState derived from A and B.
  EllipsoidCache ellipsoids;
};

// The calling thread's state. Every thread starts from the load-time values
// above and only ever sees its own writes, so a caller's "push everything,
// then convert" cannot be interleaved with another thread's push.
ProjectionState& State();

}  // namespace pel
