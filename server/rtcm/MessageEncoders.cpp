#include "rtcm/MessageData.h"
#include "rtcm/RTCMFrameWriter.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace tarvik {
namespace {

// A scaled value as a field integer: truncated toward zero. Values that do
// not fit 64 bits (or are not numbers) must not reach the conversion, which
// would be undefined; they are written as 0 / saturated. The field width
// then keeps the low bits as for any other value.
std::int64_t Trunc(double v) {
  if (std::isnan(v)) return 0;
  constexpr double kLimit = 9.2e18;
  if (v >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (v <= -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

// Name counters are 5-bit fields; the frame length and the characters
// written follow the counter that goes on the wire, so the body always
// matches its length even when a configuration's name and counter differ.
int NameCounter(int counter) {
  if (counter < 0) return 0;
  return counter > 31 ? 31 : counter;
}

void PutName(RTCMFrameWriter& w, const std::string& name, int count) {
  for (int i = 0; i < count; ++i) {
    unsigned char c = i < static_cast<int>(name.size())
                          ? static_cast<unsigned char>(name[static_cast<std::size_t>(i)])
                          : ' ';
    w.put(c, 8);
  }
}

// Character 10 first down to character 1 last; positions beyond the text
// count as 0.
std::int64_t InvolvedMessagesBits(const std::string& flags) {
  std::int64_t bits = 0;
  for (int i = 9; i >= 0; --i) {
    bits <<= 1;
    if (static_cast<std::size_t>(i) < flags.size() && flags[static_cast<std::size_t>(i)] == '1') bits |= 1;
  }
  return bits;
}

}  // namespace

std::int64_t ModifiedJulianDay(std::int64_t unixSeconds) {
  // 1970-01-01 is MJD 40587; the day changes at 00:00 UTC.
  constexpr std::int64_t kDay = 86400;
  std::int64_t days = unixSeconds / kDay;
  if (unixSeconds % kDay < 0) --days;
  return 40587 + days;
}

std::int64_t ModifiedJulianDayNow() {
  using namespace std::chrono;
  return ModifiedJulianDay(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

HelmertFieldValues HelmertFields(const HelmertMessageData& r) {
  HelmertFieldValues f;
  f.dx = Trunc(r.DX * 1000);
  f.dy = Trunc(r.DY * 1000);
  f.dz = Trunc(r.DZ * 1000);
  f.r1 = Trunc(r.R1 * 3600 * 50000);
  f.r2 = Trunc(r.R2 * 3600 * 50000);
  f.r3 = Trunc(r.R3 * 3600 * 50000);
  f.scale = Trunc((r.ScaleFactor - 1) / 0.000001 * 100000);
  f.sourceA = Trunc((r.SemimajorAxisOfSourceSystemEllipsoid - f.kSemimajorOffset) * 1000);
  f.sourceB = Trunc((r.SemiminorAxisOfSourceSystemEllipsoid - f.kSemiminorOffset) * 1000);
  f.targetA = Trunc((r.SemimajorAxisOfTargetSystemEllipsoid - f.kSemimajorOffset) * 1000);
  f.targetB = Trunc((r.SemiminorAxisOfTargetSystemEllipsoid - f.kSemiminorOffset) * 1000);
  return f;
}

RTCMFrame encode1021(const HelmertMessageData& r, int planCode, int executed) {
  const int sourceCount = NameCounter(r.SourceNameCounter);
  const int targetCount = NameCounter(r.TargetNameCounter);
  RTCMFrameWriter w;
  w.start(52 + sourceCount + targetCount);
  w.put(1021, 12);
  w.put(sourceCount, 5);
  PutName(w, r.SourceName, sourceCount);
  w.put(targetCount, 5);
  PutName(w, r.TargetName, targetCount);
  w.put(r.SystemIdentificationNumber, 8);
  w.put(InvolvedMessagesBits(r.InvolvedTransformationMessages), 10);
  w.put(r.PlateNumber, 5);
  w.put(r.ComputationIndicator, 4);
  w.put(r.HeightIndicator, 2);
  if (executed) {
    w.put(Trunc(r.LatitudeOfOriginAreaOfValidity * 1800), 19);
    w.put(Trunc(r.LongitudeOfOriginAreaOfValidity * 1800), 20);
    w.put(Trunc(r.LatitudeExtensionAreaOfValidity * 1800), 14);
    w.put(Trunc(r.LongitudeExtensionAreaOfValidity * 1800), 14);
  } else {
    w.put(90 * 1800, 19);
    w.put(0, 20);
    w.put(0, 14);
    w.put(0, 14);
  }
  const HelmertFieldValues fields = HelmertFields(r);
  if (planCode == 1) {
    w.put(fields.dx, 23);
    w.put(fields.dy, 23);
    w.put(fields.dz, 23);
    w.put(fields.r1, 32);
    w.put(fields.r2, 32);
    w.put(fields.r3, 32);
    w.put(fields.scale, 25);
  } else {
    w.pad(3 * 23 + 3 * 32 + 25);
  }
  w.put(fields.sourceA, 24);
  w.put(fields.sourceB, 25);
  w.put(fields.targetA, 24);
  w.put(fields.targetB, 25);
  w.put(r.HorizontalHelmertMolodenskiQualityIndicator, 3);
  w.put(r.VerticalHelmertMolodenskiQualityIndicator, 3);
  w.pad(4);
  return RTCMFrame{1021, w.finish()};
}

RTCMFrame encode1023(const ResidualGridMessageData& r, int executed, std::span<const GridResidual> residuals,
                     std::uint32_t modifiedJulianDay) {
  RTCMFrameWriter w;
  w.start(73);
  w.put(1023, 12);
  w.put(r.SystemIdentificationNumber, 8);
  w.put(r.HorizontalShiftIndicator, 1);
  w.put(r.VerticalShiftIndicator, 1);
  if (executed) {
    w.put(Trunc(r.GridOriginLatitude * 7200), 21);
    w.put(Trunc(r.GridOriginLongitude * 7200), 22);
    w.put(Trunc(r.GridExtensionLatitude * 7200), 12);
    w.put(Trunc(r.GridExtensionLongitude * 7200), 12);
  } else {
    w.pad(21 + 22 + 12 + 12);
  }
  w.put(Trunc(r.MeanLatitudeOffset * 1000), 8);
  w.put(Trunc(r.MeanLongitudeOffset * 1000), 8);
  w.put(Trunc(r.MeanHeightOffset * 100), 15);
  constexpr double kPerArcSecond = 33333.0 + 1.0 / 3.0;  // units of 0.00003"
  for (std::size_t i = 0; i < static_cast<std::size_t>(kResidualGridNodes); ++i) {
    if (i < residuals.size()) {
      w.put(Trunc(residuals[i].dLatitude * kPerArcSecond), 9);
      w.put(Trunc(residuals[i].dLongitude * kPerArcSecond), 9);
      w.put(Trunc(residuals[i].dHeight * 1000), 9);
    } else {
      w.pad(27);
    }
  }
  w.put(r.HorizontalInterpolationMethodIndicator, 2);
  w.put(r.VerticalInterpolationMethodIndicator, 2);
  w.put(r.HorizontalGridQualityIndicator, 3);
  w.put(r.VerticalGridQualityIndicator, 3);
  w.put(modifiedJulianDay & 0xFFFF, 16);
  w.pad(6);
  return RTCMFrame{1023, w.finish()};
}

RTCMFrame encode1023(const ResidualGridMessageData& r, int executed,
                     std::span<const GridResidual> residuals) {
  return encode1023(r, executed, residuals, static_cast<std::uint32_t>(ModifiedJulianDayNow()));
}

RTCMFrame encode1025(const ProjectionMessageData& r) {
  RTCMFrameWriter w;
  w.start(25);
  w.put(1025, 12);
  w.put(r.SystemIdentificationNumber, 8);
  w.put(r.ProjectionType, 6);
  w.put(Trunc(r.LatitudeOfNaturalOrigin / 0.000000011), 34);
  w.put(Trunc(r.LongitudeOfNaturalOrigin / 0.000000011), 35);
  w.put(Trunc((r.ScaleFactorAtNaturalOrigin * 1000000 - 993000) * 100000), 30);
  w.put(Trunc(std::trunc(r.FalseEasting) * 1000.0), 36);
  w.put(Trunc(r.FalseNorthing * 1000), 35);
  w.pad(4);
  return RTCMFrame{1025, w.finish()};
}

}  // namespace tarvik
