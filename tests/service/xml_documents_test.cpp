#include "service/XMLResponseDocument.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <vector>

namespace tarvik {
namespace {

// Parses a document (without its final "*") for structural checks.
class Parsed {
public:
    explicit Parsed(const std::string& text) {
        EXPECT_EQ(text.back(), '*');
        doc_.Parse(text.substr(0, text.size() - 1).c_str());
        EXPECT_FALSE(doc_.Error()) << doc_.ErrorDesc();
    }
    TiXmlElement* root() { return doc_.RootElement(); }
    TiXmlElement* message() { return root() ? root()->FirstChildElement() : nullptr; }
    std::vector<std::string> childNames(TiXmlElement* e) {
        std::vector<std::string> names;
        for (TiXmlElement* c = e->FirstChildElement(); c; c = c->NextSiblingElement()) names.push_back(c->Value());
        return names;
    }
    std::string attr(TiXmlElement* parent, const char* child, const char* name) {
        TiXmlElement* c = parent->FirstChildElement(child);
        if (!c) return "<missing " + std::string(child) + ">";
        const char* v = c->Attribute(name);
        return v ? v : "<missing " + std::string(name) + ">";
    }

private:
    TiXmlDocument doc_;
};

const RenderRequest kExecuted{1, 1, kErrorHandlingErrorMessages, 0, {}, {}, {}};

TEST(XMLDocuments, Document1025ByteForByte) {
    ProjectionMessageData p;
    p.SystemIdentificationNumber = 7;
    p.ProjectionType = 2;
    p.LatitudeOfNaturalOrigin = 48.1;
    p.LongitudeOfNaturalOrigin = 13.333333333;
    p.ScaleFactorAtNaturalOrigin = 0.9996;
    p.FalseEasting = 450000;
    p.FalseNorthing = -5000000.125;
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
    h.SourceNameCounter = 6;
    h.SourceName = "ETRS89";
    h.TargetNameCounter = 5;
    h.TargetName = "A&B<C";
    h.SystemIdentificationNumber = 7;
    h.InvolvedTransformationMessages = "1010000000";
    h.PlateNumber = 17;
    h.ComputationIndicator = 1;
    h.HeightIndicator = 2;
    h.LatitudeOfOriginAreaOfValidity = 48.1;
    h.LongitudeOfOriginAreaOfValidity = -11.51667;
    h.LatitudeExtensionAreaOfValidity = 0.05;
    h.LongitudeExtensionAreaOfValidity = 0.075;
    h.DX = -577.3256;
    h.DY = 90.1;
    h.DZ = 0;
    h.R1 = 5.137 / 3600;
    h.R2 = -1.474 / 3600;
    h.R3 = 0;
    h.ScaleFactor = 1 + 2.4232e-6;
    h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0;
    h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.3141;
    h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155;
    h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
    h.HorizontalHelmertMolodenskiQualityIndicator = 5;
    h.VerticalHelmertMolodenskiQualityIndicator = 3;
    // Plan code 0 still writes the parameters from the record.
    Parsed d(xml1021(h, kExecuted));
    TiXmlElement* m = d.message();
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->Value(), "RTCMTransformationMesssage.1021");
    EXPECT_EQ(d.childNames(m),
              (std::vector<std::string>{"Message", "Source", "Target", "System", "TransformationMessages", "Plate",
                                        "Computation", "Origin", "AreaExtension", "TransformationParameters",
                                        "SourceEllipsoid", "TargetEllipsoid", "Quality"}));
    EXPECT_EQ(d.attr(m, "Message", "MessgaeNumber"), "1021");
    EXPECT_EQ(d.attr(m, "Source", "SourceNameCounter"), "6");
    EXPECT_EQ(d.attr(m, "Source", "SourceName"), "ETRS89");
    EXPECT_EQ(d.attr(m, "Target", "TargetName"), "A&B<C");  // escaped on the wire, intact after parsing
    EXPECT_EQ(d.attr(m, "TransformationMessages", "InvolvedTransformationMessage"), "1010000000");
    EXPECT_EQ(d.attr(m, "Computation", "HeightIndicator"), "2");
    EXPECT_EQ(d.attr(m, "Origin", "Latitude"), "48.1000");
    EXPECT_EQ(d.attr(m, "Origin", "Longitude"), "-11.5167");
    EXPECT_EQ(d.attr(m, "AreaExtension", "Longitude"), "0.0750");
    EXPECT_EQ(d.attr(m, "TransformationParameters", "DX"), "-577.326");
    EXPECT_EQ(d.attr(m, "TransformationParameters", "DZ"), "0.000");
    EXPECT_EQ(d.attr(m, "TransformationParameters", "R1"), "5.13700");
    EXPECT_EQ(d.attr(m, "TransformationParameters", "R2"), "-1.47400");
    EXPECT_EQ(d.attr(m, "TransformationParameters", "DS"), "0.24232");
    EXPECT_EQ(d.attr(m, "SourceEllipsoid", "a"), "8137.000");
    EXPECT_EQ(d.attr(m, "SourceEllipsoid", "b"), "6752.314");
    EXPECT_EQ(d.attr(m, "TargetEllipsoid", "b"), "6078.963");
    EXPECT_EQ(d.attr(m, "Quality", "Horizontal7PQualityIndicator"), "5");
    EXPECT_EQ(d.attr(m, "Quality", "Vertical7PQualityIndicator"), "3");
}

TEST(XMLDocuments, Document1023ResidualsAndDoubleForms) {
    ResidualGridMessageData g;
    g.SystemIdentificationNumber = 7;
    g.HorizontalShiftIndicator = 1;
    g.GridOriginLatitude = 48.1;
    g.GridOriginLongitude = 11.5;
    g.GridExtensionLatitude = 0.05;
    g.MeanLatitudeOffset = 0.05;
    g.MeanLongitudeOffset = -0.127;
    g.MeanHeightOffset = 1.5;
    g.HorizontalInterpolationMethodIndicator = 1;
    g.VerticalGridQualityIndicator = 4;
    std::vector<GridResidual> nodes;
    for (int i = 0; i < 16; ++i) nodes.push_back({0.001 * i, -0.002 * i, 0.0105 * i});
    const std::string text = xml1023(g, nodes, kExecuted);
    EXPECT_LT(text.size(), 4096u);
    Parsed d(text);
    TiXmlElement* m = d.message();
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->Value(), "RTCMTransformationMesssage.1023");
    EXPECT_EQ(d.childNames(m), (std::vector<std::string>{"Message", "System", "Shift", "Origin", "AreaExtension",
                                                         "Offset", "Residuals", "Interpolation", "Quality", "MJD"}));
    EXPECT_EQ(d.attr(m, "Origin", "Latitude"), "48.1000");
    EXPECT_EQ(d.attr(m, "Offset", "MeanLatitudeOffset"), "0.050000");
    EXPECT_EQ(d.attr(m, "Offset", "MeanLogitudeOffset"), "-0.127000");
    EXPECT_EQ(d.attr(m, "Offset", "MeanHeightOffset"), "1.500000");
    EXPECT_EQ(d.attr(m, "Interpolation", "HorizontalInterpolationMethodIndicaton"), "1.000000");
    EXPECT_EQ(d.attr(m, "Interpolation", "VerticalInterpolationMethodIndicator"), "0.000000");
    EXPECT_EQ(d.attr(m, "Quality", "VerticalGridQualityIndicator"), "4.000000");
    EXPECT_EQ(d.attr(m, "MJD", "ModifiedJulianDayNumber"), "???");
    int id = 0;
    for (TiXmlElement* r = m->FirstChildElement("Residuals")->FirstChildElement(); r; r = r->NextSiblingElement()) {
        EXPECT_STREQ(r->Value(), "Residual");
        EXPECT_EQ(std::string(r->Attribute("ID")), std::to_string(id + 1));
        if (id == 15) {
            EXPECT_STREQ(r->Attribute("dLatitude"), "0.01500");
            EXPECT_STREQ(r->Attribute("dLongitude"), "-0.03000");
            EXPECT_STREQ(r->Attribute("dHeight"), "0.158");
        }
        ++id;
    }
    EXPECT_EQ(id, 16);
}

TEST(XMLDocuments, FailedRequestGetsTheErrorElementWhateverTheErrorHandling) {
    HelmertMessageData h;
    ResidualGridMessageData g;
    ProjectionMessageData p;
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
        "<Response Version=\"\" User=\"\" Password=\"\">\n"
        "\t<Error ErrorMessage=\"Invalid NMEA-String.\" />\n"
        "</Response>\n*";
    for (int handling : {kErrorHandlingErrorMessages, kErrorHandlingInvalidArea}) {
        RenderRequest failed{0, -1003, handling, 1, {}, {}, {}};
        EXPECT_EQ(xml1021(h, failed), expected);
        EXPECT_EQ(xml1023(g, {}, failed), expected);
        EXPECT_EQ(xml1025(p, failed), expected);
    }
    RenderRequest named{0, -2009, kErrorHandlingErrorMessages, 1, "2", "u\"", "p"};
    Parsed d(xml1021(h, named));
    EXPECT_STREQ(d.root()->Attribute("User"), "u\"");
    EXPECT_STREQ(d.message()->Attribute("ErrorMessage"),
                 "Error: The computation mode 'regional' is not yet implemented.");
}

TEST(XMLDocuments, NumberForms) {
    EXPECT_EQ(XMLFixed(48.1, 4), "48.1000");
    EXPECT_EQ(XMLFixed(-0.00001, 3), "-0.000");
    EXPECT_EQ(XMLFixed(0.9996, 2), "1.00");
    EXPECT_EQ(XMLDouble(1), "1.000000");
    EXPECT_EQ(XMLFixed(1e300, 2).size(), 301u + 3u);  // no truncation of wide numbers
}

}  // namespace
}  // namespace tarvik
