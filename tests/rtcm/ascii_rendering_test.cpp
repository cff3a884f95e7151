#include "rtcm/ASCIIRendering.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace tarvik {
namespace {

// The lines of a text (without the final "*"); fails when the text does
// not end in "\n*".
std::vector<std::string> Lines(const std::string& text) {
    EXPECT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\n*");
    std::vector<std::string> lines;
    std::stringstream ss(text.substr(0, text.size() - 1));
    std::string line;
    while (std::getline(ss, line)) lines.push_back(line);
    return lines;
}

HelmertMessageData Helmert() {
    HelmertMessageData h;
    h.SourceNameCounter = 6;
    h.SourceName = "ETRS89";
    h.TargetNameCounter = 3;
    h.TargetName = "MGI";
    h.SystemIdentificationNumber = 7;
    h.InvolvedTransformationMessages = "1010000000";
    h.PlateNumber = 17;
    h.ComputationIndicator = 1;
    h.HeightIndicator = 2;
    h.LatitudeOfOriginAreaOfValidity = 48.1173;
    h.LongitudeOfOriginAreaOfValidity = 11.516667;
    h.LatitudeExtensionAreaOfValidity = 0.05;
    h.LongitudeExtensionAreaOfValidity = 0.075;
    h.DX = -577.326;
    h.DY = 90.1;
    h.DZ = -463.9199;
    h.R1 = 5.137 / 3600;
    h.R2 = -1.474 / 3600;
    h.R3 = 0;
    h.ScaleFactor = 1 - 2.4232e-6;
    h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0;
    h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.314;
    h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155;
    h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
    h.HorizontalHelmertMolodenskiQualityIndicator = 5;
    h.VerticalHelmertMolodenskiQualityIndicator = 3;
    return h;
}

TEST(ASCII1021, NormalFormLineByLine) {
    RenderRequest req{1, 1, kErrorHandlingErrorMessages, 1, {}, {}, {}};
    const std::vector<std::string> expected = {
        "1021", "6", "ETRS89", "3", "MGI", "7", "1010000000", "17", "1", "2",
        "48.1173", "11.5167", " 0.0500", " 0.0750",
        "-577.326", " 90.100", "-463.920",
        "   5.13700", "  -1.47400", "   0.00000",
        "-0.24232",
        "8137.000", "6752.314", "7397.155", "6078.963",
        "5", "3"};
    EXPECT_EQ(Lines(renderASCII1021(Helmert(), req)), expected);

    // Plan code 0: lines 15 to 21 are zeros in the same widths.
    req.planCode = 0;
    std::vector<std::string> l = Lines(renderASCII1021(Helmert(), req));
    ASSERT_EQ(l.size(), 27u);
    EXPECT_EQ(std::vector<std::string>(l.begin() + 14, l.begin() + 21),
              (std::vector<std::string>{"  0.000", "  0.000", "  0.000", "   0.00000", "   0.00000", "   0.00000",
                                        " 0.00000"}));
    EXPECT_EQ(l[21], "8137.000");
}

TEST(ASCII, ErrorFormAndInvalidArea) {
    const std::string error = "Error: Invalid NMEA-String.\n*";
    RenderRequest failed{0, -1003, kErrorHandlingErrorMessages, 1, {}, {}, {}};
    EXPECT_EQ(renderASCII1021(Helmert(), failed), error);
    EXPECT_EQ(renderASCII1023(ResidualGridMessageData{}, {}, failed), error);
    EXPECT_EQ(renderASCII1025(ProjectionMessageData{}, failed), error);
    // The prefix is added even to texts that already begin with "Error: ".
    failed.resultCode = -2009;
    EXPECT_EQ(renderASCII1021(Helmert(), failed),
              "Error: Error: The computation mode 'regional' is not yet implemented.\n*");

    RenderRequest invalid{0, -2009, kErrorHandlingInvalidArea, 1, {}, {}, {}};
    std::vector<std::string> l = Lines(renderASCII1021(Helmert(), invalid));
    ASSERT_EQ(l.size(), 27u);
    EXPECT_EQ(l[10], "90.0000");
    EXPECT_EQ(l[11], "0.0000");
    EXPECT_EQ(l[12], " 0.0000");
    EXPECT_EQ(l[13], " 0.0000");
    EXPECT_EQ(l[14], "-577.326");  // parameters still from the record

    ResidualGridMessageData g;
    g.GridOriginLatitude = 48.1;
    g.GridOriginLongitude = 11.5;
    g.GridExtensionLatitude = 0.05;
    g.GridExtensionLongitude = 0.05;
    l = Lines(renderASCII1023(g, {}, invalid));  // failed before the grid existed
    ASSERT_EQ(l.size(), 64u);
    EXPECT_EQ(std::vector<std::string>(l.begin() + 4, l.begin() + 8),
              (std::vector<std::string>{"90.0000", "0.0000", " 0.0000", " 0.0000"}));
    EXPECT_EQ(l[11], "0.00000");
    EXPECT_EQ(l[58], "0.000");

    ProjectionMessageData p;
    p.LatitudeOfNaturalOrigin = 1;
    EXPECT_EQ(Lines(renderASCII1025(p, invalid))[2], "1.000000");
}

TEST(ASCII1023, SixtyFourLinesInGridOrder) {
    ResidualGridMessageData g;
    g.SystemIdentificationNumber = 7;
    g.HorizontalShiftIndicator = 1;
    g.VerticalShiftIndicator = 0;
    g.GridOriginLatitude = 48.1;
    g.GridOriginLongitude = -11.25;
    g.GridExtensionLatitude = 0.05;
    g.GridExtensionLongitude = 0.075;
    g.MeanLatitudeOffset = 0.05;
    g.MeanLongitudeOffset = -0.127;
    g.MeanHeightOffset = 1.5;
    g.HorizontalInterpolationMethodIndicator = 1;
    g.VerticalInterpolationMethodIndicator = 2;
    g.HorizontalGridQualityIndicator = 3;
    g.VerticalGridQualityIndicator = 4;
    std::vector<GridResidual> nodes;
    for (int i = 0; i < 16; ++i) nodes.push_back({0.001 * (i + 1), -0.002 * (i + 1), 0.01 * i});
    RenderRequest req{1, 1, kErrorHandlingErrorMessages, 1, {}, {}, {}};
    std::string text = renderASCII1023(g, nodes, req);
    std::vector<std::string> l = Lines(text);
    ASSERT_EQ(l.size(), 64u);
    EXPECT_EQ(std::vector<std::string>(l.begin(), l.begin() + 11),
              (std::vector<std::string>{"1023", "7", "1", "0", "48.1000", "-11.2500", " 0.0500", " 0.0750", "0.050",
                                        "-0.127", "1.500"}));
    EXPECT_EQ(l[11], "0.00100");
    EXPECT_EQ(l[12], "-0.00200");
    EXPECT_EQ(l[13], "0.000");
    EXPECT_EQ(l[56], "0.01600");  // node 16
    EXPECT_EQ(l[57], "-0.03200");
    EXPECT_EQ(l[58], "0.150");
    EXPECT_EQ(std::vector<std::string>(l.begin() + 59, l.end()),
              (std::vector<std::string>{"1", "2", "3", "4", "0"}));
    EXPECT_EQ(text.substr(text.size() - 4), "\n0\n*");
}

TEST(ASCII1025, EightLinesWithTheProjectionTypeOnLineSix) {
    ProjectionMessageData p;
    p.SystemIdentificationNumber = 7;
    p.ProjectionType = 2;
    p.LatitudeOfNaturalOrigin = 0;
    p.LongitudeOfNaturalOrigin = 13.333333333;
    p.ScaleFactorAtNaturalOrigin = 1;
    p.FalseEasting = 450000;
    p.FalseNorthing = -5000000;
    RenderRequest req{1, 1, kErrorHandlingErrorMessages, 1, {}, {}, {}};
    EXPECT_EQ(renderASCII1025(p, req),
              "1025\n7\n0.000000\n13.333333\n1.000000\n2\n450000.000000\n-5000000.000000\n*");
}

}  // namespace
}  // namespace tarvik
