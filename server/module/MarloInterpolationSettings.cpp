#include "module/MarloInterpolationSettings.h"

#include <cmath>

#include "geodesy/CMarloDll.h"
#include "runtime/CFileIni.h"

namespace tarvik {

namespace {
constexpr const char* kSection = "MarloInterpolation";
}

std::string ApplyMarloInterpolation(const CFileIni& ini, CMarloDll& marlo) {
  const int onOff = ini.ReadInt(kSection, "OnOff");
  if (onOff == 0) return "";
  const int weight = ini.ReadInt(kSection, "WeightFunction");
  const int neighbours = ini.ReadInt(kSection, "NeighbourMode");
  const double radius = ini.ReadDouble(kSection, "SearchRadius");
  const double shape = ini.ReadDouble(kSection, "ShapeDistance");
  if (weight < 0 || weight > 3 || neighbours < 0 || neighbours > 3)
    return "MarloInterpolation: WeightFunction must be 0..3 and NeighbourMode 0..3.";
  if (!std::isfinite(radius) || radius < 0.0 || (neighbours == 2 && radius <= 0.0))
    return "MarloInterpolation: SearchRadius must be a positive number of kilometres.";
  if (!std::isfinite(shape) || (weight == 3 && shape <= 0.0))
    return "MarloInterpolation: ShapeDistance must be a positive number of metres.";
  if (!marlo.SetInterpolationType(1, weight, neighbours, radius, shape))
    return "MarloInterpolation: the Marlo library cannot switch its interpolation on.";
  return "";
}

}  // namespace tarvik
