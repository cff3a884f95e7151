#include "service/XMLResponseDocument.h"

#include <tinyxml.h>

#include <cstdio>

namespace tarvik {
namespace {

// The document with its declaration and root; the message or error element
// is appended to root().
class ResponseDocument {
 public:
  explicit ResponseDocument(const RenderRequest& request) {
    doc_.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", ""));
    TiXmlElement response("Response");
    response.SetAttribute("Version", std::string(request.Version));
    response.SetAttribute("User", std::string(request.User));
    response.SetAttribute("Password", std::string(request.Password));
    root_ = doc_.InsertEndChild(response)->ToElement();
  }

  TiXmlElement* root() { return root_; }

  // Appends a child element to parent and returns it.
  static TiXmlElement* Add(TiXmlElement* parent, const char* name) {
    return parent->InsertEndChild(TiXmlElement(name))->ToElement();
  }

  std::string print() {
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    doc_.Accept(&printer);
    std::string text = printer.Str();
    text += '*';
    return text;
  }

 private:
  TiXmlDocument doc_;
  TiXmlElement* root_ = nullptr;
};

void SetFixed(TiXmlElement* e, const char* name, double value, int decimals) {
  e->SetAttribute(name, XMLFixed(value, decimals));
}

void SetDouble(TiXmlElement* e, const char* name, double value) { e->SetAttribute(name, XMLDouble(value)); }

// Non-executed requests: one Error element, whatever the error handling.
bool AddErrorIfNotExecuted(ResponseDocument& doc, const RenderRequest& request) {
  if (request.executed) return false;
  TiXmlElement* error = ResponseDocument::Add(doc.root(), "Error");
  error->SetAttribute("ErrorMessage", std::string(request.errorText));
  return true;
}

}  // namespace

std::string XMLFixed(double value, int decimals) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  if (n < 0) return std::string();
  return std::string(buf,
                     static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

std::string XMLDouble(double value) { return XMLFixed(value, 6); }

std::string xml1021(const HelmertMessageData& r, const RenderRequest& request) {
  ResponseDocument doc(request);
  if (AddErrorIfNotExecuted(doc, request)) return doc.print();
  TiXmlElement* m = ResponseDocument::Add(doc.root(), "RTCMTransformationMesssage.1021");
  ResponseDocument::Add(m, "Message")->SetAttribute("MessgaeNumber", "1021");
  TiXmlElement* e = ResponseDocument::Add(m, "Source");
  e->SetAttribute("SourceNameCounter", r.SourceNameCounter);
  e->SetAttribute("SourceName", r.SourceName);
  e = ResponseDocument::Add(m, "Target");
  e->SetAttribute("TargetNameCounter", r.TargetNameCounter);
  e->SetAttribute("TargetName", r.TargetName);
  ResponseDocument::Add(m, "System")
      ->SetAttribute("SystemIdentificationNumber", r.SystemIdentificationNumber);
  ResponseDocument::Add(m, "TransformationMessages")
      ->SetAttribute("InvolvedTransformationMessage", r.InvolvedTransformationMessages);
  ResponseDocument::Add(m, "Plate")->SetAttribute("PlateNumber", r.PlateNumber);
  e = ResponseDocument::Add(m, "Computation");
  e->SetAttribute("ComputationIndicator", r.ComputationIndicator);
  e->SetAttribute("HeightIndicator", r.HeightIndicator);
  e = ResponseDocument::Add(m, "Origin");
  SetFixed(e, "Latitude", r.LatitudeOfOriginAreaOfValidity, 4);
  SetFixed(e, "Longitude", r.LongitudeOfOriginAreaOfValidity, 4);
  e = ResponseDocument::Add(m, "AreaExtension");
  SetFixed(e, "Latitude", r.LatitudeExtensionAreaOfValidity, 4);
  SetFixed(e, "Longitude", r.LongitudeExtensionAreaOfValidity, 4);
  e = ResponseDocument::Add(m, "TransformationParameters");
  SetFixed(e, "DX", r.DX, 3);
  SetFixed(e, "DY", r.DY, 3);
  SetFixed(e, "DZ", r.DZ, 3);
  SetFixed(e, "R1", r.R1 * 3600, 5);
  SetFixed(e, "R2", r.R2 * 3600, 5);
  SetFixed(e, "R3", r.R3 * 3600, 5);
  SetFixed(e, "DS", (r.ScaleFactor - 1) * 100000, 5);
  e = ResponseDocument::Add(m, "SourceEllipsoid");
  SetFixed(e, "a", r.SemimajorAxisOfSourceSystemEllipsoid - 6370000, 3);
  SetFixed(e, "b", r.SemiminorAxisOfSourceSystemEllipsoid - 6350000, 3);
  e = ResponseDocument::Add(m, "TargetEllipsoid");
  SetFixed(e, "a", r.SemimajorAxisOfTargetSystemEllipsoid - 6370000, 3);
  SetFixed(e, "b", r.SemiminorAxisOfTargetSystemEllipsoid - 6350000, 3);
  e = ResponseDocument::Add(m, "Quality");
  e->SetAttribute("Horizontal7PQualityIndicator", r.HorizontalHelmertMolodenskiQualityIndicator);
  e->SetAttribute("Vertical7PQualityIndicator", r.VerticalHelmertMolodenskiQualityIndicator);
  return doc.print();
}

std::string xml1023(const ResidualGridMessageData& r, std::span<const GridResidual> residuals,
                    const RenderRequest& request) {
  ResponseDocument doc(request);
  if (AddErrorIfNotExecuted(doc, request)) return doc.print();
  TiXmlElement* m = ResponseDocument::Add(doc.root(), "RTCMTransformationMesssage.1023");
  ResponseDocument::Add(m, "Message")->SetAttribute("MessgaeNumber", 1023);
  ResponseDocument::Add(m, "System")
      ->SetAttribute("SystemIdentificationNumber", r.SystemIdentificationNumber);
  TiXmlElement* e = ResponseDocument::Add(m, "Shift");
  e->SetAttribute("HorizontalShiftIndicator", r.HorizontalShiftIndicator);
  e->SetAttribute("VerticalShiftIndicator", r.VerticalShiftIndicator);
  e = ResponseDocument::Add(m, "Origin");
  SetFixed(e, "Latitude", r.GridOriginLatitude, 4);
  SetFixed(e, "Longitude", r.GridOriginLongitude, 4);
  e = ResponseDocument::Add(m, "AreaExtension");
  SetFixed(e, "Latitude", r.GridExtensionLatitude, 4);
  SetFixed(e, "Longitude", r.GridExtensionLongitude, 4);
  e = ResponseDocument::Add(m, "Offset");
  SetDouble(e, "MeanLatitudeOffset", r.MeanLatitudeOffset);
  SetDouble(e, "MeanLogitudeOffset", r.MeanLongitudeOffset);
  SetDouble(e, "MeanHeightOffset", r.MeanHeightOffset);
  TiXmlElement* list = ResponseDocument::Add(m, "Residuals");
  int id = 1;
  for (const GridResidual& g : residuals) {
    e = ResponseDocument::Add(list, "Residual");
    e->SetAttribute("ID", id++);
    SetFixed(e, "dLatitude", g.dLatitude, 5);
    SetFixed(e, "dLongitude", g.dLongitude, 5);
    SetFixed(e, "dHeight", g.dHeight, 3);
  }
  e = ResponseDocument::Add(m, "Interpolation");
  SetDouble(e, "HorizontalInterpolationMethodIndicaton", r.HorizontalInterpolationMethodIndicator);
  SetDouble(e, "VerticalInterpolationMethodIndicator", r.VerticalInterpolationMethodIndicator);
  e = ResponseDocument::Add(m, "Quality");
  SetDouble(e, "HorizontalGridQualityIndicator", r.HorizontalGridQualityIndicator);
  SetDouble(e, "VerticalGridQualityIndicator", r.VerticalGridQualityIndicator);
  ResponseDocument::Add(m, "MJD")->SetAttribute("ModifiedJulianDayNumber", "???");
  return doc.print();
}

std::string xml1025(const ProjectionMessageData& r, const RenderRequest& request) {
  ResponseDocument doc(request);
  if (AddErrorIfNotExecuted(doc, request)) return doc.print();
  TiXmlElement* m = ResponseDocument::Add(doc.root(), "RTCMTransformationMesssage.1025");
  ResponseDocument::Add(m, "Message")->SetAttribute("MessgaeNumber", 1025);
  ResponseDocument::Add(m, "System")
      ->SetAttribute("SystemIdentificationNumber", r.SystemIdentificationNumber);
  ResponseDocument::Add(m, "ProjectionType")->SetAttribute("ProjectionType", r.ProjectionType);
  SetFixed(ResponseDocument::Add(m, "LatitudeOfNaturalOrigin"), "LatitudeOfNaturalOrigin",
           r.LatitudeOfNaturalOrigin, 4);
  SetFixed(ResponseDocument::Add(m, "LongitudeOfNaturalOrigin"), "LongitudeOfNaturalOrigin",
           r.LongitudeOfNaturalOrigin, 4);
  SetFixed(ResponseDocument::Add(m, "ScaleFactorAtNaturalOrigin"), "ScaleFactorAtNaturalOrigin",
           r.ScaleFactorAtNaturalOrigin, 2);
  SetFixed(ResponseDocument::Add(m, "FalseEasting"), "FalseEasting", r.FalseEasting, 2);
  SetFixed(ResponseDocument::Add(m, "FalseNorthing"), "FalseNorthing", r.FalseNorthing, 2);
  return doc.print();
}

}  // namespace tarvik
