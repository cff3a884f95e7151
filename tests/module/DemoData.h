#pragma once
// Data of a complete configuration for tests and benchmarks: the committed
// demo Marlo database, a geoid grid and a height surface grid over the demo
// region, and a complete module INI text.

#include <filesystem>
#include <fstream>
#include <string>

namespace tarvik::testing {

namespace fs = std::filesystem;

// The committed demo database of the Austrian-style region, found from this
// header's own location in the source tree.
inline fs::path DemoMarloDatabase() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "demo" / "data" / "marlo" /
         "Demo.mdb";
}

// A geoid grid over the demo region (46.5..49 N, 12.5..17.5 E, 0.25 degrees)
// with heights around 48 m, sloping by a few decimetres a degree as a real
// geoid does (the residuals of a 0.3 x 0.5 degree grid stay in the 1023 field).
inline void WriteDemoGeoidGrid(const fs::path& file) {
  std::ofstream out(file);
  out << "; test geoid grid\n49.0 12.5\n46.5 17.5\n0.25 0.25\n11 21\n";
  for (int r = 0; r < 11; ++r)
    for (int c = 0; c < 21; ++c)
      out << 49.0 - 0.25 * r << " " << 12.5 + 0.25 * c << " "
          << 48.0 + 0.06 * c - 0.08 * r + 0.02 * ((r * c) % 3) << "\n";
}

// A height surface grid for OrvelMan4 over the same region, longitudes in
// 0..360 degrees.
inline void WriteDemoOrvelGrid(const fs::path& file) {
  std::ofstream out(file);
  out << "ORVELGRID 1\nsouth 46.5 north 49 west 12.5 east 17.5\ndlat 0.25 dlon 0.25\nrows 11 columns 21\n";
  for (int r = 0; r < 11; ++r) {
    for (int c = 0; c < 21; ++c) out << 47.0 + 0.1 * c + 0.12 * r << " ";
    out << "\n";
  }
}

// The base configuration: Austrian-style demo area, identity ITRF-to-target
// transformation, geoid grid heights.
inline std::string BaseModuleIni() {
  return R"([Settings]
PORTNUM=0
RequestType=1
TotalNumberOfRequests=5
ActiveMessages=1021;1023;1025
Mode=LOCAL
PlanType=SAPEN_DB
PlanDB=Demo.mdb
HeightType=GEOIDGRID
HeightDB=Demo.grd
MeanGeoidHeight=48.5

[Transformation_ITRF_To_Target]
RX=0.0
RY=0.0
RZ=0.0
TX=0.0
TY=0.0
TZ=0.0
S=1.0

[1021]
SourceNameCounter=6
SourceName=ETRS89
TargetNameCounter=3
TargetName=MGI
SystemIdentificationNumber=1
InvolvedTransformationMessages=1010000000
PlateNumber=7
ComputationIndicator=1
HeightIndicator=1
LatitudeOfOriginAreaOfValidity=47.7
LongitudeOfOriginAreaOfValidity=14.9
LatitudeExtensionAreaOfValidity=0.3
LongitudeExtensionAreaOfValidity=0.5
SemimajorAxisOfSourceSystemEllipsoid=6378137.0
SemiminorAxisOfSourceSystemEllipsoid=6356752.314140
SemimajorAxisOfTargetSystemEllipsoid=6377397.155
SemiminorAxisOfTargetSystemEllipsoid=6356078.962818
HorizontalHelmertMolodenskiQualityIndicator=1
VerticalHelmertMolodenskiQualityIndicator=1

[1023]
SystemIdentificationNumber=1
HorizontalShiftIndicator=1
VerticalShiftIndicator=1
HorizontalInterpolationMethodIndicator=1
VerticalInterpolationMethodIndicator=1
HorizontalGridQualityIndicator=1
VerticalGridQualityIndicator=1

[1025]
SystemIdentificationNumber=1
ProjectionType=1
LatitudeOfNaturalOrigin=0.0
LongitudeOfNaturalOrigin=13.333333333
ScaleFactorAtNaturalOrigin=1.0
FalseEasting=450000.0
FalseNorthing=-5000000.0
)";
}

}  // namespace tarvik::testing
