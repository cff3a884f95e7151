#include "service/XMLResponseDocument.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace tarvik {
namespace {

struct Expect {
  const char* element;
  const char* attribute;
  const char* value;
};

// Parses a document (without its final "*") and checks message children.
class Parsed {
 public:
  explicit Parsed(const std::string& text) {
    EXPECT_EQ(text.back(), '*');
    doc_.Parse(text.substr(0, text.size() - 1).c_str());
    EXPECT_FALSE(doc_.Error()) << doc_.ErrorDesc();
  }
  TiXmlElement* root() { return doc_.RootElement(); }
  TiXmlElement* message() { return root()->FirstChildElement(); }
  std::vector<std::string> childNames() {
    std::vector<std::string> names;
    for (TiXmlElement* c = message()->FirstChildElement(); c; c = c->NextSiblingElement())
      names.push_back(c->Value());
    return names;
  }
  void check(std::initializer_list<Expect> expected) {
    for (const Expect& e : expected) {
      TiXmlElement* c = message()->FirstChildElement(e.element);
      ASSERT_NE(c, nullptr) << e.element;
      const char* v = c->Attribute(e.attribute);
      EXPECT_STREQ(v ? v : "<missing>", e.value) << e.element << " " << e.attribute;
    }
  }

 private:
  TiXmlDocument doc_;
};

const RenderRequest kExecuted{1, "Success", kErrorHandlingErrorMessages, 0, {}, {}, {}};

TEST(XMLDocuments, Document1025ByteForByte) {
  ProjectionMessageData p;
  p.SystemIdentificationNumber = 7, p.ProjectionType = 2, p.LatitudeOfNaturalOrigin = 48.1;
  p.LongitudeOfNaturalOrigin = 13.333333333, p.ScaleFactorAtNaturalOrigin = 0.9996;
  p.FalseEasting = 450000, p.FalseNorthing = -5000000.125;
  EXPECT_EQ(xml1025(p, kExecuted),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<Response Version=\"\" User=\"\" Password=\"\">\n"
            "\t<RTCMTransformationMesssage.1025>\n"
            "\t\t<Message MessgaeNumber=\"1025\" />\n"
            "\t\t<System SystemIdentificationNumber=\"7\" />\n"
            "\t\t<ProjectionType ProjectionType=\"2\" />\n"
            "\t\t<LatitudeOfNaturalOrigin LatitudeOfNaturalOrigin=\"48.1000\" />\n"
            "\t\t<LongitudeOfNaturalOrigin LongitudeOfNaturalOrigin=\"13.3333\" />\n"
            "\t\t<ScaleFactorAtNaturalOrigin ScaleFactorAtNaturalOrigin=\"1.00\" />\n"
            "\t\t<FalseEasting FalseEasting=\"450000.00\" />\n"
            "\t\t<FalseNorthing FalseNorthing=\"-5000000.12\" />\n"
            "\t</RTCMTransformationMesssage.1025>\n"
            "</Response>\n*");
}

TEST(XMLDocuments, Document1021ValuesAndOrder) {
  HelmertMessageData h;
  h.SourceNameCounter = 6, h.SourceName = "ETRS89", h.TargetNameCounter = 5, h.TargetName = "A&B<C";
  h.SystemIdentificationNumber = 7, h.InvolvedTransformationMessages = "1010000000";
  h.PlateNumber = 17, h.ComputationIndicator = 1, h.HeightIndicator = 2;
  h.LatitudeOfOriginAreaOfValidity = 48.1, h.LongitudeOfOriginAreaOfValidity = -11.51667;
  h.LatitudeExtensionAreaOfValidity = 0.05, h.LongitudeExtensionAreaOfValidity = 0.075;
  h.DX = -577.3256, h.R1 = 5.137 / 3600, h.R2 = -1.474 / 3600, h.ScaleFactor = 1 + 2.4232e-6;
  h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0, h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.3141;
  h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155, h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
  h.HorizontalHelmertMolodenskiQualityIndicator = 5, h.VerticalHelmertMolodenskiQualityIndicator = 3;
  Parsed d(xml1021(h, kExecuted));  // plan code 0 still writes the parameters
  EXPECT_STREQ(d.message()->Value(), "RTCMTransformationMesssage.1021");
  EXPECT_EQ(d.childNames(), (std::vector<std::string>{"Message", "Source", "Target", "System",
                                                      "TransformationMessages", "Plate", "Computation",
                                                      "Origin", "AreaExtension", "TransformationParameters",
                                                      "SourceEllipsoid", "TargetEllipsoid", "Quality"}));
  d.check({{"Message", "MessgaeNumber", "1021"},
           {"Source", "SourceNameCounter", "6"},
           {"Source", "SourceName", "ETRS89"},
           {"Target", "TargetName", "A&B<C"},
           {"TransformationMessages", "InvolvedTransformationMessage", "1010000000"},
           {"Computation", "HeightIndicator", "2"},
           {"Origin", "Latitude", "48.1000"},
           {"Origin", "Longitude", "-11.5167"},
           {"AreaExtension", "Longitude", "0.0750"},
           {"TransformationParameters", "DX", "-577.326"},
           {"TransformationParameters", "DZ", "0.000"},
           {"TransformationParameters", "R1", "5.13700"},
           {"TransformationParameters", "R2", "-1.47400"},
           {"TransformationParameters", "DS", "0.24232"},
           {"SourceEllipsoid", "a", "8137.000"},
           {"SourceEllipsoid", "b", "6752.314"},
           {"TargetEllipsoid", "b", "6078.963"},
           {"Quality", "Horizontal7PQualityIndicator", "5"},
           {"Quality", "Vertical7PQualityIndicator", "3"}});
}

TEST(XMLDocuments, Document1023ResidualsAndDoubleForms) {
  ResidualGridMessageData g;
  g.GridOriginLatitude = 48.1, g.MeanLatitudeOffset = 0.05, g.MeanLongitudeOffset = -0.127,
  g.MeanHeightOffset = 1.5;
  g.HorizontalInterpolationMethodIndicator = 1, g.VerticalGridQualityIndicator = 4;
  std::vector<GridResidual> nodes;
  for (int i = 0; i < 16; ++i) nodes.push_back({0.001 * i, -0.002 * i, 0.0105 * i});
  const std::string text = xml1023(g, nodes, kExecuted);
  EXPECT_LT(text.size(), 4096u);  // fits the session's send buffer
  Parsed d(text);
  EXPECT_EQ(d.childNames(),
            (std::vector<std::string>{"Message", "System", "Shift", "Origin", "AreaExtension", "Offset",
                                      "Residuals", "Interpolation", "Quality", "MJD"}));
  d.check({{"Message", "MessgaeNumber", "1023"},
           {"Origin", "Latitude", "48.1000"},
           {"Offset", "MeanLatitudeOffset", "0.050000"},
           {"Offset", "MeanLogitudeOffset", "-0.127000"},
           {"Offset", "MeanHeightOffset", "1.500000"},
           {"Interpolation", "HorizontalInterpolationMethodIndicaton", "1.000000"},
           {"Interpolation", "VerticalInterpolationMethodIndicator", "0.000000"},
           {"Quality", "VerticalGridQualityIndicator", "4.000000"},
           {"MJD", "ModifiedJulianDayNumber", "???"}});
  int id = 0;
  for (TiXmlElement* r = d.message()->FirstChildElement("Residuals")->FirstChildElement(); r;
       r = r->NextSiblingElement()) {
    EXPECT_STREQ(r->Value(), "Residual");
    EXPECT_EQ(std::string(r->Attribute("ID")), std::to_string(++id));
  }
  EXPECT_EQ(id, 16);
  EXPECT_NE(
      text.find("<Residual ID=\"16\" dLatitude=\"0.01500\" dLongitude=\"-0.03000\" dHeight=\"0.158\" />"),
      std::string::npos);
}

// The whole 1021 document, every field with a value of its own, so that a
// value in the wrong attribute, a missing or extra attribute, a wrong form
// or order shows. Expected text written out by hand.
TEST(XMLDocuments, Document1021WholeDocument) {
  HelmertMessageData h;
  h.SourceNameCounter = 6, h.SourceName = "ETRS89", h.TargetNameCounter = 5, h.TargetName = "A&B<C>";
  h.SystemIdentificationNumber = 7, h.InvolvedTransformationMessages = "1010000000";
  h.PlateNumber = 17, h.ComputationIndicator = 1, h.HeightIndicator = 2;
  h.LatitudeOfOriginAreaOfValidity = 48.1, h.LongitudeOfOriginAreaOfValidity = -11.51667;
  h.LatitudeExtensionAreaOfValidity = 0.05, h.LongitudeExtensionAreaOfValidity = 0.075;
  h.DX = -577.3256, h.DY = 90.1294, h.DZ = 463.9192;
  h.R1 = 5.137 / 3600, h.R2 = -1.474 / 3600, h.R3 = 5.297 / 3600, h.ScaleFactor = 1 + 2.4232e-6;
  h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0, h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.3141;
  h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155, h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
  h.HorizontalHelmertMolodenskiQualityIndicator = 5, h.VerticalHelmertMolodenskiQualityIndicator = 3;
  EXPECT_EQ(xml1021(h, kExecuted),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<Response Version=\"\" User=\"\" Password=\"\">\n"
            "\t<RTCMTransformationMesssage.1021>\n"
            "\t\t<Message MessgaeNumber=\"1021\" />\n"
            "\t\t<Source SourceNameCounter=\"6\" SourceName=\"ETRS89\" />\n"
            "\t\t<Target TargetNameCounter=\"5\" TargetName=\"A&amp;B&lt;C&gt;\" />\n"
            "\t\t<System SystemIdentificationNumber=\"7\" />\n"
            "\t\t<TransformationMessages InvolvedTransformationMessage=\"1010000000\" />\n"
            "\t\t<Plate PlateNumber=\"17\" />\n"
            "\t\t<Computation ComputationIndicator=\"1\" HeightIndicator=\"2\" />\n"
            "\t\t<Origin Latitude=\"48.1000\" Longitude=\"-11.5167\" />\n"
            "\t\t<AreaExtension Latitude=\"0.0500\" Longitude=\"0.0750\" />\n"
            "\t\t<TransformationParameters DX=\"-577.326\" DY=\"90.129\" DZ=\"463.919\" R1=\"5.13700\" "
            "R2=\"-1.47400\" R3=\"5.29700\" DS=\"0.24232\" />\n"
            "\t\t<SourceEllipsoid a=\"8137.000\" b=\"6752.314\" />\n"
            "\t\t<TargetEllipsoid a=\"7397.155\" b=\"6078.963\" />\n"
            "\t\t<Quality Horizontal7PQualityIndicator=\"5\" Vertical7PQualityIndicator=\"3\" />\n"
            "\t</RTCMTransformationMesssage.1021>\n"
            "</Response>\n*");
}

// The whole 1023 document in the same way, its 16 residuals included.
TEST(XMLDocuments, Document1023WholeDocument) {
  ResidualGridMessageData g;
  g.SystemIdentificationNumber = 7, g.HorizontalShiftIndicator = 1, g.VerticalShiftIndicator = 0;
  g.GridOriginLatitude = 48.1, g.GridOriginLongitude = 11.51234;
  g.GridExtensionLatitude = 0.0625, g.GridExtensionLongitude = 0.0875;
  g.MeanLatitudeOffset = 0.05, g.MeanLongitudeOffset = -0.127, g.MeanHeightOffset = 1.5;
  g.HorizontalInterpolationMethodIndicator = 1, g.VerticalInterpolationMethodIndicator = 2;
  g.HorizontalGridQualityIndicator = 3, g.VerticalGridQualityIndicator = 4;
  std::vector<GridResidual> nodes;
  for (int i = 1; i <= 16; ++i) nodes.push_back({0.00125 * i, -0.0031 * i, 0.0112 * i - 0.08});
  EXPECT_EQ(xml1023(g, nodes, kExecuted),
            "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
            "<Response Version=\"\" User=\"\" Password=\"\">\n"
            "\t<RTCMTransformationMesssage.1023>\n"
            "\t\t<Message MessgaeNumber=\"1023\" />\n"
            "\t\t<System SystemIdentificationNumber=\"7\" />\n"
            "\t\t<Shift HorizontalShiftIndicator=\"1\" VerticalShiftIndicator=\"0\" />\n"
            "\t\t<Origin Latitude=\"48.1000\" Longitude=\"11.5123\" />\n"
            "\t\t<AreaExtension Latitude=\"0.0625\" Longitude=\"0.0875\" />\n"
            "\t\t<Offset MeanLatitudeOffset=\"0.050000\" MeanLogitudeOffset=\"-0.127000\" "
            "MeanHeightOffset=\"1.500000\" />\n"
            "\t\t<Residuals>\n"
            "\t\t\t<Residual ID=\"1\" dLatitude=\"0.00125\" dLongitude=\"-0.00310\" dHeight=\"-0.069\" />\n"
            "\t\t\t<Residual ID=\"2\" dLatitude=\"0.00250\" dLongitude=\"-0.00620\" dHeight=\"-0.058\" />\n"
            "\t\t\t<Residual ID=\"3\" dLatitude=\"0.00375\" dLongitude=\"-0.00930\" dHeight=\"-0.046\" />\n"
            "\t\t\t<Residual ID=\"4\" dLatitude=\"0.00500\" dLongitude=\"-0.01240\" dHeight=\"-0.035\" />\n"
            "\t\t\t<Residual ID=\"5\" dLatitude=\"0.00625\" dLongitude=\"-0.01550\" dHeight=\"-0.024\" />\n"
            "\t\t\t<Residual ID=\"6\" dLatitude=\"0.00750\" dLongitude=\"-0.01860\" dHeight=\"-0.013\" />\n"
            "\t\t\t<Residual ID=\"7\" dLatitude=\"0.00875\" dLongitude=\"-0.02170\" dHeight=\"-0.002\" />\n"
            "\t\t\t<Residual ID=\"8\" dLatitude=\"0.01000\" dLongitude=\"-0.02480\" dHeight=\"0.010\" />\n"
            "\t\t\t<Residual ID=\"9\" dLatitude=\"0.01125\" dLongitude=\"-0.02790\" dHeight=\"0.021\" />\n"
            "\t\t\t<Residual ID=\"10\" dLatitude=\"0.01250\" dLongitude=\"-0.03100\" dHeight=\"0.032\" />\n"
            "\t\t\t<Residual ID=\"11\" dLatitude=\"0.01375\" dLongitude=\"-0.03410\" dHeight=\"0.043\" />\n"
            "\t\t\t<Residual ID=\"12\" dLatitude=\"0.01500\" dLongitude=\"-0.03720\" dHeight=\"0.054\" />\n"
            "\t\t\t<Residual ID=\"13\" dLatitude=\"0.01625\" dLongitude=\"-0.04030\" dHeight=\"0.066\" />\n"
            "\t\t\t<Residual ID=\"14\" dLatitude=\"0.01750\" dLongitude=\"-0.04340\" dHeight=\"0.077\" />\n"
            "\t\t\t<Residual ID=\"15\" dLatitude=\"0.01875\" dLongitude=\"-0.04650\" dHeight=\"0.088\" />\n"
            "\t\t\t<Residual ID=\"16\" dLatitude=\"0.02000\" dLongitude=\"-0.04960\" dHeight=\"0.099\" />\n"
            "\t\t</Residuals>\n"
            "\t\t<Interpolation HorizontalInterpolationMethodIndicaton=\"1.000000\" "
            "VerticalInterpolationMethodIndicator=\"2.000000\" />\n"
            "\t\t<Quality HorizontalGridQualityIndicator=\"3.000000\" "
            "VerticalGridQualityIndicator=\"4.000000\" />\n"
            "\t\t<MJD ModifiedJulianDayNumber=\"???\" />\n"
            "\t</RTCMTransformationMesssage.1023>\n"
            "</Response>\n*");
}

TEST(XMLDocuments, FailedRequestGetsTheErrorElementWhateverTheErrorHandling) {
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
      "<Response Version=\"\" User=\"\" Password=\"\">\n"
      "\t<Error ErrorMessage=\"Invalid NMEA-String.\" />\n"
      "</Response>\n*";
  for (int handling : {kErrorHandlingErrorMessages, kErrorHandlingInvalidArea}) {
    RenderRequest failed{0, "Invalid NMEA-String.", handling, 1, {}, {}, {}};
    EXPECT_EQ(xml1021({}, failed), expected);
    EXPECT_EQ(xml1023({}, {}, failed), expected);
    EXPECT_EQ(xml1025({}, failed), expected);
  }
  Parsed d(xml1021({}, RenderRequest{0, "Error: The computation mode 'regional' is not yet implemented.",
                                     kErrorHandlingErrorMessages, 1, "2", "u\"", "p"}));
  EXPECT_STREQ(d.root()->Attribute("User"), "u\"");
  EXPECT_STREQ(d.message()->Attribute("ErrorMessage"),
               "Error: The computation mode 'regional' is not yet implemented.");
}

TEST(XMLDocuments, NumberForms) {
  EXPECT_EQ(XMLFixed(-0.00001, 3), "-0.000");
  EXPECT_EQ(XMLDouble(1), "1.000000");
  EXPECT_EQ(XMLFixed(1e300, 2).size(), 301u + 3u);  // wide numbers are not cut
  // The same text as printf's "%.*f": halfway cases, signed zero, the
  // extremes and values that are not finite, then random magnitudes.
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {0.0,
                                -0.0,
                                0.5,
                                2.5,
                                0.125,
                                -0.00005,
                                1.0000005,
                                4.35,
                                0.0000049,
                                1e-300,
                                5e-324,
                                1e300,
                                -1.7e308,
                                123456.78905,
                                inf,
                                -inf,
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(17);
  for (int i = 0; i < 3000; ++i) {
    const double magnitude = std::pow(10.0, std::uniform_real_distribution<double>(-8, 9)(random));
    values.push_back(std::uniform_real_distribution<double>(-1, 1)(random) * magnitude);
  }
  for (double v : values)
    for (int decimals : {0, 2, 3, 4, 5, 6, 17}) {
      char expected[512];
      std::snprintf(expected, sizeof expected, "%.*f", decimals, v);
      ASSERT_EQ(XMLFixed(v, decimals), expected) << decimals;
    }
}

// The documents are written directly; TinyXML printing the same tree is the
// reference, above all for the encoding of texts that need entities,
// character references or the other quote.
TEST(XMLDocuments, LaidOutAsTinyXMLPrintsTheSameTree) {
  auto print = [](TiXmlDocument& doc) {
    TiXmlPrinter printer;
    printer.SetIndent("\t");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return std::string(printer.Str()) + "*";
  };
  auto withRoot = [](TiXmlDocument& doc, const RenderRequest& request) {
    doc.InsertEndChild(TiXmlDeclaration("1.0", "UTF-8", ""));
    TiXmlElement root("Response");
    root.SetAttribute("Version", std::string(request.Version));
    root.SetAttribute("User", std::string(request.User));
    root.SetAttribute("Password", std::string(request.Password));
    return doc.InsertEndChild(root)->ToElement();
  };
  const std::vector<std::string> texts = {"",           "ETRS89",    "A&B",      "&#x41;",     "&#x41",
                                          "say \"hi\"", "it's",      "<tag>",    "a\tb",       "\x01\x1f",
                                          "\xc3\xbc",   "both ' \"", "&amp;lt;", "trailing &", "&#x"};
  for (const std::string& text : texts) {
    const std::string nul = text + std::string(1, '\0') + "x";
    HelmertMessageData h;
    h.SourceName = text, h.TargetName = nul, h.InvolvedTransformationMessages = text;
    h.SourceNameCounter = -7, h.DX = -0.0005, h.ScaleFactor = 1.0 / 3;
    const RenderRequest executed{1, "", kErrorHandlingErrorMessages, 1, text, nul, "p"};
    TiXmlDocument expected;
    TiXmlElement* m = withRoot(expected, executed)
                          ->InsertEndChild(TiXmlElement("RTCMTransformationMesssage.1021"))
                          ->ToElement();
    auto add = [m](const char* name) { return m->InsertEndChild(TiXmlElement(name))->ToElement(); };
    add("Message")->SetAttribute("MessgaeNumber", "1021");
    TiXmlElement* e = add("Source");
    e->SetAttribute("SourceNameCounter", h.SourceNameCounter);
    e->SetAttribute("SourceName", h.SourceName);
    e = add("Target");
    e->SetAttribute("TargetNameCounter", h.TargetNameCounter);
    e->SetAttribute("TargetName", h.TargetName);
    add("System")->SetAttribute("SystemIdentificationNumber", h.SystemIdentificationNumber);
    add("TransformationMessages")
        ->SetAttribute("InvolvedTransformationMessage", h.InvolvedTransformationMessages);
    add("Plate")->SetAttribute("PlateNumber", h.PlateNumber);
    e = add("Computation");
    e->SetAttribute("ComputationIndicator", h.ComputationIndicator);
    e->SetAttribute("HeightIndicator", h.HeightIndicator);
    e = add("Origin");
    e->SetAttribute("Latitude", "0.0000");
    e->SetAttribute("Longitude", "0.0000");
    e = add("AreaExtension");
    e->SetAttribute("Latitude", "0.0000");
    e->SetAttribute("Longitude", "0.0000");
    e = add("TransformationParameters");
    for (const char* name : {"DX", "DY", "DZ"}) e->SetAttribute(name, name[1] == 'X' ? "-0.001" : "0.000");
    for (const char* name : {"R1", "R2", "R3"}) e->SetAttribute(name, "0.00000");
    e->SetAttribute("DS", "-66666.66667");
    e = add("SourceEllipsoid");
    e->SetAttribute("a", "-6370000.000");
    e->SetAttribute("b", "-6350000.000");
    e = add("TargetEllipsoid");
    e->SetAttribute("a", "-6370000.000");
    e->SetAttribute("b", "-6350000.000");
    e = add("Quality");
    e->SetAttribute("Horizontal7PQualityIndicator", 0);
    e->SetAttribute("Vertical7PQualityIndicator", 0);
    EXPECT_EQ(xml1021(h, executed), print(expected)) << text;

    const RenderRequest failed{0, nul, kErrorHandlingErrorMessages, 1, text, "", nul};
    TiXmlDocument error;
    withRoot(error, failed)
        ->InsertEndChild(TiXmlElement("Error"))
        ->ToElement()
        ->SetAttribute("ErrorMessage", nul);
    EXPECT_EQ(xml1025({}, failed), print(error)) << text;
  }
  // A 1023 document without residuals has an empty Residuals element.
  const std::string empty = xml1023({}, {}, kExecuted);
  EXPECT_NE(empty.find("\t\t<Residuals />\n\t\t<Interpolation "), std::string::npos) << empty;
}

}  // namespace
}  // namespace tarvik
