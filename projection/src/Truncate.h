#pragma once
// Conversion of a double to int toward zero that is defined for every input:
// NaN gives 0, values beyond the int range give its limits.

#include <climits>
#include <cmath>

namespace pel {

inline int TruncateToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return static_cast<int>(v);
}

}  // namespace pel
