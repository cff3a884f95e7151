#include "rtcm/ASCIIRendering.h"

#include <charconv>

namespace tarvik {
namespace {

// Appends lines: numbers in the forms of printf's "%d" and "%W.Pf" (right
// aligned in at least W characters), each with its line break. The numbers
// go through std::to_chars, which writes the same digits as printf in the
// "C" locale, without a formatted print per line.
class Lines {
 public:
  explicit Lines(std::size_t reserve) { text_.reserve(reserve); }

  void integer(int value) {
    char buf[16];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    text_.append(buf, static_cast<std::size_t>(end - buf));
    text_ += '\n';
  }
  // "%W.Pf"; "%lf" is fixed(value, 0, 6).
  void fixed(double value, int width, int precision) {
    char buf[kNumberBuffer];
    const auto [end, error] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    // Every double fits (at most 309 digits before the point).
    const std::size_t n = error == std::errc() ? static_cast<std::size_t>(end - buf) : 0;
    if (n < static_cast<std::size_t>(width)) text_.append(static_cast<std::size_t>(width) - n, ' ');
    text_.append(buf, n);
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
  static constexpr std::size_t kNumberBuffer = 400;
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
  l.integer(r.SourceNameCounter);
  l.text(r.SourceName);
  l.integer(r.TargetNameCounter);
  l.text(r.TargetName);
  l.integer(r.SystemIdentificationNumber);
  l.text(r.InvolvedTransformationMessages);
  l.integer(r.PlateNumber);
  l.integer(r.ComputationIndicator);
  l.integer(r.HeightIndicator);
  l.fixed(area ? r.LatitudeOfOriginAreaOfValidity : 90.0, 6, 4);
  l.fixed(area ? r.LongitudeOfOriginAreaOfValidity : 0.0, 6, 4);
  l.fixed(area ? r.LatitudeExtensionAreaOfValidity : 0.0, 7, 4);
  l.fixed(area ? r.LongitudeExtensionAreaOfValidity : 0.0, 7, 4);
  l.fixed(helmert ? r.DX : 0.0, 7, 3);
  l.fixed(helmert ? r.DY : 0.0, 7, 3);
  l.fixed(helmert ? r.DZ : 0.0, 7, 3);
  l.fixed(helmert ? r.R1 * 3600 : 0.0, 10, 5);
  l.fixed(helmert ? r.R2 * 3600 : 0.0, 10, 5);
  l.fixed(helmert ? r.R3 * 3600 : 0.0, 10, 5);
  l.fixed(helmert ? (r.ScaleFactor - 1) / 0.00001 : 0.0, 8, 5);
  l.fixed(r.SemimajorAxisOfSourceSystemEllipsoid - 6370000, 8, 3);
  l.fixed(r.SemiminorAxisOfSourceSystemEllipsoid - 6350000, 8, 3);
  l.fixed(r.SemimajorAxisOfTargetSystemEllipsoid - 6370000, 8, 3);
  l.fixed(r.SemiminorAxisOfTargetSystemEllipsoid - 6350000, 8, 3);
  l.integer(r.HorizontalHelmertMolodenskiQualityIndicator);
  l.integer(r.VerticalHelmertMolodenskiQualityIndicator);
  return l.finish();
}

std::string renderASCII1023(const ResidualGridMessageData& r, std::span<const GridResidual> residuals,
                            const RenderRequest& request) {
  if (ErrorForm(request)) return renderASCIIError(request.errorText);
  const bool area = request.executed != 0;
  Lines l(1024);
  l.text("1023");
  l.integer(r.SystemIdentificationNumber);
  l.integer(r.HorizontalShiftIndicator);
  l.integer(r.VerticalShiftIndicator);
  l.fixed(area ? r.GridOriginLatitude : 90.0, 6, 4);
  l.fixed(area ? r.GridOriginLongitude : 0.0, 6, 4);
  l.fixed(area ? r.GridExtensionLatitude : 0.0, 7, 4);
  l.fixed(area ? r.GridExtensionLongitude : 0.0, 7, 4);
  l.fixed(r.MeanLatitudeOffset, 4, 3);
  l.fixed(r.MeanLongitudeOffset, 4, 3);
  l.fixed(r.MeanHeightOffset, 4, 3);
  for (std::size_t i = 0; i < static_cast<std::size_t>(kResidualGridNodes); ++i) {
    const GridResidual g = i < residuals.size() ? residuals[i] : GridResidual{};
    l.fixed(g.dLatitude, 6, 5);
    l.fixed(g.dLongitude, 6, 5);
    l.fixed(g.dHeight, 4, 3);
  }
  l.integer(r.HorizontalInterpolationMethodIndicator);
  l.integer(r.VerticalInterpolationMethodIndicator);
  l.integer(r.HorizontalGridQualityIndicator);
  l.integer(r.VerticalGridQualityIndicator);
  l.text("0");  // the day number is not part of the text form
  return l.finish();
}

std::string renderASCII1025(const ProjectionMessageData& r, const RenderRequest& request) {
  if (ErrorForm(request)) return renderASCIIError(request.errorText);
  Lines l(256);
  l.text("1025");
  l.integer(r.SystemIdentificationNumber);
  l.fixed(r.LatitudeOfNaturalOrigin, 0, 6);
  l.fixed(r.LongitudeOfNaturalOrigin, 0, 6);
  l.fixed(r.ScaleFactorAtNaturalOrigin, 0, 6);
  // The projection type has no other line in the text; it goes here
  // rather than a second copy of the latitude.
  l.integer(r.ProjectionType);
  l.fixed(r.FalseEasting, 0, 6);
  l.fixed(r.FalseNorthing, 0, 6);
  return l.finish();
}

}  // namespace tarvik
