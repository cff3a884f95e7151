#pragma once
// Contents of the RTCM 3 transformation messages 1021, 1023 and 1025 and
// their binary encoders.
//
// A configuration holds one record of each; the fixed fields come from its
// INI file, the computed ones from the last request that computed them.
// Units: degrees for latitudes, longitudes, rotations and areas, metres for
// shifts, axes and heights, arc-seconds for the 1023 latitude/longitude
// offsets and residuals, scale as a factor (1.0 = no change).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvik {

// Message 1021: Helmert / abridged Molodenski parameters with their area.
struct HelmertMessageData {
  int MessageLength = 52;  // 52 + SourceNameCounter + TargetNameCounter
  int SourceNameCounter = 0;
  std::string SourceName;
  int TargetNameCounter = 0;
  std::string TargetName;
  int SystemIdentificationNumber = 0;
  // 10 characters "0"/"1": character 1 stands for 1023, 2 for 1024, ...
  std::string InvolvedTransformationMessages = "0000000000";
  int PlateNumber = 0;
  int ComputationIndicator = 0;
  int HeightIndicator = 0;
  double LatitudeOfOriginAreaOfValidity = 0.0;
  double LongitudeOfOriginAreaOfValidity = 0.0;
  double LatitudeExtensionAreaOfValidity = 0.0;
  double LongitudeExtensionAreaOfValidity = 0.0;
  double DX = 0.0, DY = 0.0, DZ = 0.0;  // metres
  double R1 = 0.0, R2 = 0.0, R3 = 0.0;  // degrees
  double ScaleFactor = 1.0;
  double SemimajorAxisOfSourceSystemEllipsoid = 0.0;
  double SemiminorAxisOfSourceSystemEllipsoid = 0.0;
  double SemimajorAxisOfTargetSystemEllipsoid = 0.0;
  double SemiminorAxisOfTargetSystemEllipsoid = 0.0;
  int HorizontalHelmertMolodenskiQualityIndicator = 0;
  int VerticalHelmertMolodenskiQualityIndicator = 0;
};

// Message 1023: residual grid in ellipsoidal coordinates (16 points).
struct ResidualGridMessageData {
  int MessageLength = 73;
  int SystemIdentificationNumber = 0;
  int HorizontalShiftIndicator = 0;
  int VerticalShiftIndicator = 0;
  double GridOriginLatitude = 0.0;      // degrees
  double GridOriginLongitude = 0.0;     // degrees
  double GridExtensionLatitude = 0.0;   // degrees
  double GridExtensionLongitude = 0.0;  // degrees
  double MeanLatitudeOffset = 0.0;      // arc-seconds
  double MeanLongitudeOffset = 0.0;     // arc-seconds
  double MeanHeightOffset = 0.0;        // metres
  int HorizontalInterpolationMethodIndicator = 0;
  int VerticalInterpolationMethodIndicator = 0;
  int HorizontalGridQualityIndicator = 0;
  int VerticalGridQualityIndicator = 0;
};

// Message 1025: projection parameters.
struct ProjectionMessageData {
  int MessageLength = 25;
  int SystemIdentificationNumber = 0;
  int ProjectionType = 0;
  double LatitudeOfNaturalOrigin = 0.0;   // degrees
  double LongitudeOfNaturalOrigin = 0.0;  // degrees
  double ScaleFactorAtNaturalOrigin = 0.0;
  double FalseEasting = 0.0;   // metres
  double FalseNorthing = 0.0;  // metres
};

// The residuals of one grid node as 1023 carries them (the request's
// CGeoPoint list supplies them in grid order: north-west first, row by row
// southwards, each row west to east).
struct GridResidual {
  double dLatitude = 0.0;   // arc-seconds
  double dLongitude = 0.0;  // arc-seconds
  double dHeight = 0.0;     // metres
};

// Number of grid nodes a 1023 message always carries.
constexpr int kResidualGridNodes = 16;

// One encoded RTCM 3 frame holding one message.
struct RTCMFrame {
  int messageNumber = 0;
  std::vector<std::uint8_t> bytes;
};

// Encoders. The frame's length field is always the length of the body that
// is written (MessageLength is not consulted): 1021 writes exactly as many
// name characters as its 5-bit counters say (names cut or padded with
// blanks, counters above 31 limited to 31), so a configuration whose names
// and counters disagree still yields a well-formed frame.
// planCode 1 (PlanType SAPEN_DB) writes the Helmert parameters of
// 1021, any other value writes them as zeros. executed 0 writes the invalid
// area. encode1023 always writes 16 residual triples: missing nodes are sent
// as zeros, nodes beyond 16 are ignored, so the body matches its length.
RTCMFrame encode1021(const HelmertMessageData& record, int planCode, int executed);
RTCMFrame encode1023(const ResidualGridMessageData& record, int executed,
                     std::span<const GridResidual> residuals);
// The same with an explicit Modified Julian Day number (the encoder above
// takes today's from the UTC clock).
RTCMFrame encode1023(const ResidualGridMessageData& record, int executed,
                     std::span<const GridResidual> residuals, std::uint32_t modifiedJulianDay);
RTCMFrame encode1025(const ProjectionMessageData& record);

// The seven Helmert parameters and the ellipsoids of 1021 as their fields
// carry them: the integers encode1021 writes (translations in millimetres,
// rotations in 0.00002", scale in 0.00001 ppm, semi-axes in millimetres
// above 6 370 km and 6 350 km, each truncated toward zero), and the values
// a receiver decodes from them (metres, degrees, factor).
struct HelmertFieldValues {
  std::int64_t dx = 0, dy = 0, dz = 0, r1 = 0, r2 = 0, r3 = 0, scale = 0;
  std::int64_t sourceA = 0, sourceB = 0, targetA = 0, targetB = 0;
  double DX() const { return static_cast<double>(dx) / 1000.0; }
  double DY() const { return static_cast<double>(dy) / 1000.0; }
  double DZ() const { return static_cast<double>(dz) / 1000.0; }
  double R1() const { return static_cast<double>(r1) / (3600.0 * 50000.0); }
  double R2() const { return static_cast<double>(r2) / (3600.0 * 50000.0); }
  double R3() const { return static_cast<double>(r3) / (3600.0 * 50000.0); }
  double ScaleFactor() const { return 1.0 + static_cast<double>(scale) * 1e-11; }
  double SourceA() const { return kSemimajorOffset + static_cast<double>(sourceA) / 1000.0; }
  double SourceB() const { return kSemiminorOffset + static_cast<double>(sourceB) / 1000.0; }
  double TargetA() const { return kSemimajorOffset + static_cast<double>(targetA) / 1000.0; }
  double TargetB() const { return kSemiminorOffset + static_cast<double>(targetB) / 1000.0; }
  static constexpr double kSemimajorOffset = 6370000.0, kSemiminorOffset = 6350000.0;
};
HelmertFieldValues HelmertFields(const HelmertMessageData& record);

// Modified Julian Day of a UTC time (seconds since 1970-01-01 00:00:00 UTC).
std::int64_t ModifiedJulianDay(std::int64_t unixSeconds);
// ... of the current UTC time.
std::int64_t ModifiedJulianDayNow();

}  // namespace tarvik
