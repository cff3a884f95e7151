#include "rtcm/ASCIIRendering.h"

#include <cstdarg>
#include <cstdio>

namespace tarvik {
namespace {

// Appends one printf-formatted line and its line break.
class Lines {
 public:
  explicit Lines(std::size_t reserve) { text_.reserve(reserve); }

  __attribute__((format(printf, 2, 3))) void add(const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n > 0)
      text_.append(buf,
                   static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
    text_ += '\n';
  }
  void text(std::string_view s) {
    text_ += s;
    text_ += '\n';
  }
  std::string finish() {
    text_ += '*';
    return std::move(text_);
  }

 private:
  std::string text_;
};

bool ErrorForm(const RenderRequest& request) {
  return !request.executed && request.errorHandling == kErrorHandlingErrorMessages;
}

}  // namespace

std::string renderASCIIError(std::string_view errorText) {
  std::string s = "Error: ";
  s += errorText;
  s += "\n*";
  return s;
}

std::string renderASCII1021(const HelmertMessageData& r, const RenderRequest& request) {
  if (ErrorForm(request)) return renderASCIIError(request.errorText);
  const bool area = request.executed != 0;
  const bool helmert = request.planCode == 1;
  Lines l(512);
  l.text("1021");
  l.add("%d", r.SourceNameCounter);
  l.text(r.SourceName);
  l.add("%d", r.TargetNameCounter);
  l.text(r.TargetName);
  l.add("%d", r.SystemIdentificationNumber);
  l.text(r.InvolvedTransformationMessages);
  l.add("%d", r.PlateNumber);
  l.add("%d", r.ComputationIndicator);
  l.add("%d", r.HeightIndicator);
  l.add("%6.4f", area ? r.LatitudeOfOriginAreaOfValidity : 90.0);
  l.add("%6.4f", area ? r.LongitudeOfOriginAreaOfValidity : 0.0);
  l.add("%7.4f", area ? r.LatitudeExtensionAreaOfValidity : 0.0);
  l.add("%7.4f", area ? r.LongitudeExtensionAreaOfValidity : 0.0);
  l.add("%7.3f", helmert ? r.DX : 0.0);
  l.add("%7.3f", helmert ? r.DY : 0.0);
  l.add("%7.3f", helmert ? r.DZ : 0.0);
  l.add("%10.5f", helmert ? r.R1 * 3600 : 0.0);
  l.add("%10.5f", helmert ? r.R2 * 3600 : 0.0);
  l.add("%10.5f", helmert ? r.R3 * 3600 : 0.0);
  l.add("%8.5f", helmert ? (r.ScaleFactor - 1) / 0.00001 : 0.0);
  l.add("%8.3f", r.SemimajorAxisOfSourceSystemEllipsoid - 6370000);
  l.add("%8.3f", r.SemiminorAxisOfSourceSystemEllipsoid - 6350000);
  l.add("%8.3f", r.SemimajorAxisOfTargetSystemEllipsoid - 6370000);
  l.add("%8.3f", r.SemiminorAxisOfTargetSystemEllipsoid - 6350000);
  l.add("%d", r.HorizontalHelmertMolodenskiQualityIndicator);
  l.add("%d", r.VerticalHelmertMolodenskiQualityIndicator);
  return l.finish();
}

std::string renderASCII1023(const ResidualGridMessageData& r, std::span<const GridResidual> residuals,
                            const RenderRequest& request) {
  if (ErrorForm(request)) return renderASCIIError(request.errorText);
  const bool area = request.executed != 0;
  Lines l(1024);
  l.text("1023");
  l.add("%d", r.SystemIdentificationNumber);
  l.add("%d", r.HorizontalShiftIndicator);
  l.add("%d", r.VerticalShiftIndicator);
  l.add("%6.4f", area ? r.GridOriginLatitude : 90.0);
  l.add("%6.4f", area ? r.GridOriginLongitude : 0.0);
  l.add("%7.4f", area ? r.GridExtensionLatitude : 0.0);
  l.add("%7.4f", area ? r.GridExtensionLongitude : 0.0);
  l.add("%4.3f", r.MeanLatitudeOffset);
  l.add("%4.3f", r.MeanLongitudeOffset);
  l.add("%4.3f", r.MeanHeightOffset);
  for (std::size_t i = 0; i < static_cast<std::size_t>(kResidualGridNodes); ++i) {
    const GridResidual g = i < residuals.size() ? residuals[i] : GridResidual{};
    l.add("%6.5f", g.dLatitude);
    l.add("%6.5f", g.dLongitude);
    l.add("%4.3f", g.dHeight);
  }
  l.add("%d", r.HorizontalInterpolationMethodIndicator);
  l.add("%d", r.VerticalInterpolationMethodIndicator);
  l.add("%d", r.HorizontalGridQualityIndicator);
  l.add("%d", r.VerticalGridQualityIndicator);
  l.text("0");  // the day number is not part of the text form
  return l.finish();
}

std::string renderASCII1025(const ProjectionMessageData& r, const RenderRequest& request) {
  if (ErrorForm(request)) return renderASCIIError(request.errorText);
  Lines l(256);
  l.text("1025");
  l.add("%d", r.SystemIdentificationNumber);
  l.add("%lf", r.LatitudeOfNaturalOrigin);
  l.add("%lf", r.LongitudeOfNaturalOrigin);
  l.add("%lf", r.ScaleFactorAtNaturalOrigin);
  // The projection type has no other line in the text; it goes here
  // rather than a second copy of the latitude.
  l.add("%d", r.ProjectionType);
  l.add("%lf", r.FalseEasting);
  l.add("%lf", r.FalseNorthing);
  return l.finish();
}

}  // namespace tarvik
