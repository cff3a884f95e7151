#pragma once
// The parameter set every conversion reads at the moment of its call.

namespace pel {

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
};

// The calling thread's state. Every thread starts from the load-time values
// above and only ever sees its own writes, so a caller's "push everything,
// then convert" cannot be interleaved with another thread's push.
ProjectionState& State();

}  // namespace pel
