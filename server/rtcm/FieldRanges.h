#pragma once
// What each scaled field of messages 1021, 1023 and 1025 can carry. A value
// goes on the wire as value × scale truncated toward zero, in `bits` bits
// (two's complement when signed); a value whose integer does not fit would
// wrap, and a rover would apply the wrapped value as valid. Callers check
// values with Fits() before they reach the encoders: configured values when
// the configuration is read, computed ones when the request is computed.

#include <cmath>
#include <cstdint>

namespace tarvik {

struct FieldRange {
  double scale;   // field units per unit of the value
  double offset;  // subtracted from the value before scaling
  int bits;
  bool isSigned;

  std::int64_t lowest() const { return isSigned ? -(std::int64_t{1} << (bits - 1)) : 0; }
  std::int64_t highest() const {
    return isSigned ? (std::int64_t{1} << (bits - 1)) - 1 : (std::int64_t{1} << bits) - 1;
  }
  // The smallest and largest value that fit (for messages to the operator).
  double lowestValue() const { return static_cast<double>(lowest()) / scale + offset; }
  double highestValue() const { return static_cast<double>(highest()) / scale + offset; }

  // False for values that are not finite or whose truncated integer lies
  // outside the field.
  bool fits(double value) const {
    const double scaled = std::trunc((value - offset) * scale);
    return std::isfinite(scaled) && scaled >= static_cast<double>(lowest()) &&
           scaled <= static_cast<double>(highest());
  }
};

// Message 1021.
inline constexpr FieldRange k1021OriginLatitude{1800.0, 0.0, 19, true};        // degrees
inline constexpr FieldRange k1021OriginLongitude{1800.0, 0.0, 20, true};       // degrees
inline constexpr FieldRange k1021Extension{1800.0, 0.0, 14, false};            // degrees
inline constexpr FieldRange k1021Translation{1000.0, 0.0, 23, true};           // metres
inline constexpr FieldRange k1021Rotation{3600.0 * 50000.0, 0.0, 32, true};    // degrees
inline constexpr FieldRange k1021Scale{1e11, 1.0, 25, true};                   // factor (1e-5 ppm units)
inline constexpr FieldRange k1021SemimajorAxis{1000.0, 6370000.0, 24, false};  // metres
inline constexpr FieldRange k1021SemiminorAxis{1000.0, 6350000.0, 25, false};  // metres
// Message 1023.
inline constexpr FieldRange k1023OriginLatitude{7200.0, 0.0, 21, true};                  // degrees
inline constexpr FieldRange k1023OriginLongitude{7200.0, 0.0, 22, true};                 // degrees
inline constexpr FieldRange k1023Extension{7200.0, 0.0, 12, false};                      // degrees
inline constexpr FieldRange k1023MeanHorizontalOffset{1000.0, 0.0, 8, true};             // arc-seconds
inline constexpr FieldRange k1023MeanHeightOffset{100.0, 0.0, 15, true};                 // metres
inline constexpr FieldRange k1023HorizontalResidual{33333.0 + 1.0 / 3.0, 0.0, 9, true};  // arc-seconds
inline constexpr FieldRange k1023HeightResidual{1000.0, 0.0, 9, true};                   // metres
// Message 1025.
inline constexpr FieldRange k1025OriginLatitude{1.0 / 0.000000011, 0.0, 34, true};   // degrees
inline constexpr FieldRange k1025OriginLongitude{1.0 / 0.000000011, 0.0, 35, true};  // degrees
inline constexpr FieldRange k1025ScaleFactor{1e11, 0.993, 30, false};                // factor
inline constexpr FieldRange k1025FalseEasting{1000.0, 0.0, 36, false};               // metres
inline constexpr FieldRange k1025FalseNorthing{1000.0, 0.0, 35, true};               // metres

// Unsigned integer fields: a configured number must lie in 0 .. 2^bits - 1.
constexpr bool FitsUnsigned(int value, int bits) { return value >= 0 && value < (1 << bits); }

}  // namespace tarvik
