#include "service/XMLResponseDocument.h"

#include <tinyxml.h>

#include <charconv>
#include <cstdio>
#include <string_view>

namespace tarvik {
namespace {

// The documents are written straight into their text, byte for byte as
// TinyXML's printer lays out the same tree (declaration, one tab per level,
// "\n" after every tag, "<name attributes />" for an element without
// children), without building the tree and without a formatted print per
// number: a response is written for every request.
class ResponseWriter {
 public:
  // The declaration and the opening of the root element.
  explicit ResponseWriter(const RenderRequest& request) {
    text_.reserve(kTypicalSize);
    text_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Response";
    // These three end at a NUL character as in TinyXML's document, whose
    // root element is a copy that takes each attribute value as a C string
    // (the other texts keep it, encoded).
    Text("Version", UpToNul(request.Version));
    Text("User", UpToNul(request.User));
    Text("Password", UpToNul(request.Password));
    text_ += ">\n";
  }

  // "<name" at the given depth below the root's children; attributes follow.
  ResponseWriter& Start(int depth, std::string_view name) {
    text_.append(static_cast<std::size_t>(depth), '\t');
    text_ += '<';
    text_ += name;
    return *this;
  }
  // Ends the element started last: without children, or opened for them.
  void Leaf() { text_ += " />\n"; }
  void Open() { text_ += ">\n"; }
  void Close(int depth, std::string_view name) {
    text_.append(static_cast<std::size_t>(depth), '\t');
    text_ += "</";
    text_ += name;
    text_ += ">\n";
  }

  // A text attribute, its value encoded by TinyXML's own rules; a value
  // holding a double quote is put in single quotes, as TinyXML does.
  ResponseWriter& Text(std::string_view name, std::string_view value) {
    const char quote = value.find('"') == std::string_view::npos ? '"' : '\'';
    text_ += ' ';
    text_ += name;
    text_ += '=';
    text_ += quote;
    if (NeedsEncoding(value)) {
      encoded_.clear();
      TiXmlBase::EncodeString(std::string(value), &encoded_);
      text_ += encoded_;
    } else {
      text_ += value;
    }
    text_ += quote;
    return *this;
  }
  // Numbers contain no character that needs encoding.
  ResponseWriter& Int(std::string_view name, int value) {
    char buffer[16];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return Number(name, std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
  }
  ResponseWriter& Fixed(std::string_view name, double value, int decimals) {
    char buffer[kFixedBuffer];
    return Number(name, FormatFixed(value, decimals, buffer));
  }
  // TinyXML's double attribute form "%f".
  ResponseWriter& Double(std::string_view name, double value) { return Fixed(name, value, 6); }

  // Closes the root; the text with the final "*".
  std::string Finish() {
    text_ += "</Response>\n*";
    return std::move(text_);
  }

  static constexpr std::size_t kFixedBuffer = 512;
  // "%.*f" of value into buffer, cut to the buffer less one character as
  // snprintf cuts it. std::to_chars gives the same text as printf in the
  // "C" locale; a number too wide for the buffer goes through snprintf.
  static std::string_view FormatFixed(double value, int decimals, char (&buffer)[kFixedBuffer]) {
    const auto [end, error] =
        std::to_chars(buffer, buffer + kFixedBuffer - 1, value, std::chars_format::fixed, decimals);
    if (error == std::errc()) return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
    const int n = std::snprintf(buffer, kFixedBuffer, "%.*f", decimals, value);
    if (n < 0) return {};
    return std::string_view(
        buffer, static_cast<std::size_t>(n) < kFixedBuffer ? static_cast<std::size_t>(n) : kFixedBuffer - 1);
  }

 private:
  // Enough for the 1023 document with its 16 residuals.
  static constexpr std::size_t kTypicalSize = 2048;

  static std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

  // The characters TinyXML replaces by an entity or a character reference;
  // every other byte is copied as it is.
  static bool NeedsEncoding(std::string_view value) {
    for (const char c : value) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 32 || c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return true;
    }
    return false;
  }

  ResponseWriter& Number(std::string_view name, std::string_view value) {
    text_ += ' ';
    text_ += name;
    text_ += "=\"";
    text_ += value;
    text_ += '"';
    return *this;
  }

  std::string text_;
  std::string encoded_;
};

// Depths of the elements below the root.
constexpr int kMessageDepth = 1;
constexpr int kFieldDepth = 2;
constexpr int kResidualDepth = 3;

// Non-executed requests: one Error element, whatever the error handling.
bool ErrorIfNotExecuted(ResponseWriter& doc, const RenderRequest& request) {
  if (request.executed) return false;
  doc.Start(kMessageDepth, "Error").Text("ErrorMessage", request.errorText).Leaf();
  return true;
}

}  // namespace

std::string XMLFixed(double value, int decimals) {
  char buffer[ResponseWriter::kFixedBuffer];
  return std::string(ResponseWriter::FormatFixed(value, decimals, buffer));
}

std::string XMLDouble(double value) { return XMLFixed(value, 6); }

std::string xml1021(const HelmertMessageData& r, const RenderRequest& request) {
  ResponseWriter doc(request);
  if (ErrorIfNotExecuted(doc, request)) return doc.Finish();
  constexpr std::string_view kMessage = "RTCMTransformationMesssage.1021";
  constexpr int d = kFieldDepth;
  doc.Start(kMessageDepth, kMessage).Open();
  doc.Start(d, "Message").Text("MessgaeNumber", "1021").Leaf();
  doc.Start(d, "Source")
      .Int("SourceNameCounter", r.SourceNameCounter)
      .Text("SourceName", r.SourceName)
      .Leaf();
  doc.Start(d, "Target")
      .Int("TargetNameCounter", r.TargetNameCounter)
      .Text("TargetName", r.TargetName)
      .Leaf();
  doc.Start(d, "System").Int("SystemIdentificationNumber", r.SystemIdentificationNumber).Leaf();
  doc.Start(d, "TransformationMessages")
      .Text("InvolvedTransformationMessage", r.InvolvedTransformationMessages)
      .Leaf();
  doc.Start(d, "Plate").Int("PlateNumber", r.PlateNumber).Leaf();
  doc.Start(d, "Computation")
      .Int("ComputationIndicator", r.ComputationIndicator)
      .Int("HeightIndicator", r.HeightIndicator)
      .Leaf();
  doc.Start(d, "Origin")
      .Fixed("Latitude", r.LatitudeOfOriginAreaOfValidity, 4)
      .Fixed("Longitude", r.LongitudeOfOriginAreaOfValidity, 4)
      .Leaf();
  doc.Start(d, "AreaExtension")
      .Fixed("Latitude", r.LatitudeExtensionAreaOfValidity, 4)
      .Fixed("Longitude", r.LongitudeExtensionAreaOfValidity, 4)
      .Leaf();
  doc.Start(d, "TransformationParameters")
      .Fixed("DX", r.DX, 3)
      .Fixed("DY", r.DY, 3)
      .Fixed("DZ", r.DZ, 3)
      .Fixed("R1", r.R1 * 3600, 5)
      .Fixed("R2", r.R2 * 3600, 5)
      .Fixed("R3", r.R3 * 3600, 5)
      .Fixed("DS", (r.ScaleFactor - 1) * 100000, 5)
      .Leaf();
  doc.Start(d, "SourceEllipsoid")
      .Fixed("a", r.SemimajorAxisOfSourceSystemEllipsoid - 6370000, 3)
      .Fixed("b", r.SemiminorAxisOfSourceSystemEllipsoid - 6350000, 3)
      .Leaf();
  doc.Start(d, "TargetEllipsoid")
      .Fixed("a", r.SemimajorAxisOfTargetSystemEllipsoid - 6370000, 3)
      .Fixed("b", r.SemiminorAxisOfTargetSystemEllipsoid - 6350000, 3)
      .Leaf();
  doc.Start(d, "Quality")
      .Int("Horizontal7PQualityIndicator", r.HorizontalHelmertMolodenskiQualityIndicator)
      .Int("Vertical7PQualityIndicator", r.VerticalHelmertMolodenskiQualityIndicator)
      .Leaf();
  doc.Close(kMessageDepth, kMessage);
  return doc.Finish();
}

std::string xml1023(const ResidualGridMessageData& r, std::span<const GridResidual> residuals,
                    const RenderRequest& request) {
  ResponseWriter doc(request);
  if (ErrorIfNotExecuted(doc, request)) return doc.Finish();
  constexpr std::string_view kMessage = "RTCMTransformationMesssage.1023";
  constexpr int d = kFieldDepth;
  doc.Start(kMessageDepth, kMessage).Open();
  doc.Start(d, "Message").Int("MessgaeNumber", 1023).Leaf();
  doc.Start(d, "System").Int("SystemIdentificationNumber", r.SystemIdentificationNumber).Leaf();
  doc.Start(d, "Shift")
      .Int("HorizontalShiftIndicator", r.HorizontalShiftIndicator)
      .Int("VerticalShiftIndicator", r.VerticalShiftIndicator)
      .Leaf();
  doc.Start(d, "Origin")
      .Fixed("Latitude", r.GridOriginLatitude, 4)
      .Fixed("Longitude", r.GridOriginLongitude, 4)
      .Leaf();
  doc.Start(d, "AreaExtension")
      .Fixed("Latitude", r.GridExtensionLatitude, 4)
      .Fixed("Longitude", r.GridExtensionLongitude, 4)
      .Leaf();
  doc.Start(d, "Offset")
      .Double("MeanLatitudeOffset", r.MeanLatitudeOffset)
      .Double("MeanLogitudeOffset", r.MeanLongitudeOffset)
      .Double("MeanHeightOffset", r.MeanHeightOffset)
      .Leaf();
  // An element without children is printed as an empty-element tag.
  doc.Start(d, "Residuals");
  if (residuals.empty()) {
    doc.Leaf();
  } else {
    doc.Open();
    int id = 1;
    for (const GridResidual& g : residuals)
      doc.Start(kResidualDepth, "Residual")
          .Int("ID", id++)
          .Fixed("dLatitude", g.dLatitude, 5)
          .Fixed("dLongitude", g.dLongitude, 5)
          .Fixed("dHeight", g.dHeight, 3)
          .Leaf();
    doc.Close(d, "Residuals");
  }
  doc.Start(d, "Interpolation")
      .Double("HorizontalInterpolationMethodIndicaton", r.HorizontalInterpolationMethodIndicator)
      .Double("VerticalInterpolationMethodIndicator", r.VerticalInterpolationMethodIndicator)
      .Leaf();
  doc.Start(d, "Quality")
      .Double("HorizontalGridQualityIndicator", r.HorizontalGridQualityIndicator)
      .Double("VerticalGridQualityIndicator", r.VerticalGridQualityIndicator)
      .Leaf();
  doc.Start(d, "MJD").Text("ModifiedJulianDayNumber", "???").Leaf();
  doc.Close(kMessageDepth, kMessage);
  return doc.Finish();
}

std::string xml1025(const ProjectionMessageData& r, const RenderRequest& request) {
  ResponseWriter doc(request);
  if (ErrorIfNotExecuted(doc, request)) return doc.Finish();
  constexpr std::string_view kMessage = "RTCMTransformationMesssage.1025";
  constexpr int d = kFieldDepth;
  doc.Start(kMessageDepth, kMessage).Open();
  doc.Start(d, "Message").Int("MessgaeNumber", 1025).Leaf();
  doc.Start(d, "System").Int("SystemIdentificationNumber", r.SystemIdentificationNumber).Leaf();
  doc.Start(d, "ProjectionType").Int("ProjectionType", r.ProjectionType).Leaf();
  doc.Start(d, "LatitudeOfNaturalOrigin")
      .Fixed("LatitudeOfNaturalOrigin", r.LatitudeOfNaturalOrigin, 4)
      .Leaf();
  doc.Start(d, "LongitudeOfNaturalOrigin")
      .Fixed("LongitudeOfNaturalOrigin", r.LongitudeOfNaturalOrigin, 4)
      .Leaf();
  doc.Start(d, "ScaleFactorAtNaturalOrigin")
      .Fixed("ScaleFactorAtNaturalOrigin", r.ScaleFactorAtNaturalOrigin, 2)
      .Leaf();
  doc.Start(d, "FalseEasting").Fixed("FalseEasting", r.FalseEasting, 2).Leaf();
  doc.Start(d, "FalseNorthing").Fixed("FalseNorthing", r.FalseNorthing, 2).Leaf();
  doc.Close(kMessageDepth, kMessage);
  return doc.Finish();
}

}  // namespace tarvik
