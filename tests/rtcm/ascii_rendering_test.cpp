#include "rtcm/ASCIIRendering.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

namespace tarvik {
namespace {

using Text = std::vector<std::string>;

// The lines of a text that ends in "\n*".
Text Lines(const std::string& text) {
  EXPECT_EQ(text.substr(text.size() - 2), "\n*");
  Text lines;
  std::stringstream ss(text.substr(0, text.size() - 1));
  for (std::string line; std::getline(ss, line);) lines.push_back(line);
  return lines;
}

Text Slice(const Text& t, std::size_t from, std::size_t to) { return Text(t.begin() + from, t.begin() + to); }

HelmertMessageData Helmert() {
  HelmertMessageData h;
  h.SourceNameCounter = 6, h.SourceName = "ETRS89", h.TargetNameCounter = 3, h.TargetName = "MGI";
  h.SystemIdentificationNumber = 7, h.InvolvedTransformationMessages = "1010000000";
  h.PlateNumber = 17, h.ComputationIndicator = 1, h.HeightIndicator = 2;
  h.LatitudeOfOriginAreaOfValidity = 48.1173, h.LongitudeOfOriginAreaOfValidity = 11.516667;
  h.LatitudeExtensionAreaOfValidity = 0.05, h.LongitudeExtensionAreaOfValidity = 0.075;
  h.DX = -577.326, h.DY = 90.1, h.DZ = -463.9199, h.R1 = 5.137 / 3600, h.R2 = -1.474 / 3600, h.R3 = 0;
  h.ScaleFactor = 1 - 2.4232e-6;
  h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0, h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.314;
  h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155, h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
  h.HorizontalHelmertMolodenskiQualityIndicator = 5, h.VerticalHelmertMolodenskiQualityIndicator = 3;
  return h;
}

const RenderRequest kExecuted{1, "Success", kErrorHandlingErrorMessages, 1, {}, {}, {}};

TEST(ASCII1021, NormalFormLineByLine) {
  EXPECT_EQ(Lines(renderASCII1021(Helmert(), kExecuted)),
            (Text{"1021",     "6",        "ETRS89",   "3",          "MGI",        "7",          "1010000000",
                  "17",       "1",        "2",        "48.1173",    "11.5167",    " 0.0500",    " 0.0750",
                  "-577.326", " 90.100",  "-463.920", "   5.13700", "  -1.47400", "   0.00000", "-0.24232",
                  "8137.000", "6752.314", "7397.155", "6078.963",   "5",          "3"}));
  // Plan code 0: lines 15 to 21 are zeros in the same widths.
  RenderRequest plan0 = kExecuted;
  plan0.planCode = 0;
  Text l = Lines(renderASCII1021(Helmert(), plan0));
  ASSERT_EQ(l.size(), 27u);
  EXPECT_EQ(Slice(l, 14, 22), (Text{"  0.000", "  0.000", "  0.000", "   0.00000", "   0.00000", "   0.00000",
                                    " 0.00000", "8137.000"}));
}

TEST(ASCII, ErrorFormAndInvalidArea) {
  RenderRequest failed{0, "Invalid NMEA-String.", kErrorHandlingErrorMessages, 1, {}, {}, {}};
  for (const std::string& text :
       {renderASCII1021(Helmert(), failed), renderASCII1023({}, {}, failed), renderASCII1025({}, failed)})
    EXPECT_EQ(text, "Error: Invalid NMEA-String.\n*");
  // The prefix is added even to texts that already begin with "Error: ".
  failed.errorText = "Error: The computation mode 'regional' is not yet implemented.";
  EXPECT_EQ(renderASCII1021(Helmert(), failed),
            "Error: Error: The computation mode 'regional' is not yet implemented.\n*");

  RenderRequest invalid{0, "", kErrorHandlingInvalidArea, 1, {}, {}, {}};
  Text l = Lines(renderASCII1021(Helmert(), invalid));
  ASSERT_EQ(l.size(), 27u);
  EXPECT_EQ(Slice(l, 10, 15), (Text{"90.0000", "0.0000", " 0.0000", " 0.0000", "-577.326"}));

  ResidualGridMessageData g;
  g.GridOriginLatitude = 48.1, g.GridOriginLongitude = 11.5, g.GridExtensionLatitude = 0.05;
  l = Lines(renderASCII1023(g, {}, invalid));  // failed before the grid existed
  ASSERT_EQ(l.size(), 64u);
  EXPECT_EQ(Slice(l, 4, 8), (Text{"90.0000", "0.0000", " 0.0000", " 0.0000"}));
  EXPECT_EQ(Slice(l, 11, 14), (Text{"0.00000", "0.00000", "0.000"}));

  ProjectionMessageData p;
  p.LatitudeOfNaturalOrigin = 1;
  EXPECT_EQ(Lines(renderASCII1025(p, invalid))[2], "1.000000");  // no area: from the record
}

TEST(ASCII1023, SixtyFourLinesInGridOrder) {
  ResidualGridMessageData g;
  g.SystemIdentificationNumber = 7, g.HorizontalShiftIndicator = 1;
  g.GridOriginLatitude = 48.1, g.GridOriginLongitude = -11.25, g.GridExtensionLatitude = 0.05,
  g.GridExtensionLongitude = 0.075;
  g.MeanLatitudeOffset = 0.05, g.MeanLongitudeOffset = -0.127, g.MeanHeightOffset = 1.5;
  g.HorizontalInterpolationMethodIndicator = 1, g.VerticalInterpolationMethodIndicator = 2;
  g.HorizontalGridQualityIndicator = 3, g.VerticalGridQualityIndicator = 4;
  std::vector<GridResidual> nodes;
  for (int i = 0; i < 16; ++i) nodes.push_back({0.001 * (i + 1), -0.002 * (i + 1), 0.01 * i});
  std::string text = renderASCII1023(g, nodes, kExecuted);
  Text l = Lines(text);
  ASSERT_EQ(l.size(), 64u);
  EXPECT_EQ(Slice(l, 0, 14), (Text{"1023", "7", "1", "0", "48.1000", "-11.2500", " 0.0500", " 0.0750",
                                   "0.050", "-0.127", "1.500", "0.00100", "-0.00200", "0.000"}));
  EXPECT_EQ(Slice(l, 56, 64), (Text{"0.01600", "-0.03200", "0.150", "1", "2", "3", "4", "0"}));
  EXPECT_EQ(text.substr(text.size() - 4), "\n0\n*");
}

TEST(ASCII1025, EightLinesWithTheProjectionTypeOnLineSix) {
  ProjectionMessageData p;
  p.SystemIdentificationNumber = 7, p.ProjectionType = 2, p.LongitudeOfNaturalOrigin = 13.333333333;
  p.ScaleFactorAtNaturalOrigin = 1, p.FalseEasting = 450000, p.FalseNorthing = -5000000;
  EXPECT_EQ(renderASCII1025(p, kExecuted),
            "1025\n7\n0.000000\n13.333333\n1.000000\n2\n450000.000000\n-5000000.000000\n*");
}

// The numbers read as printf's "%W.Pf" and "%lf" print them: padding,
// halfway cases, signed zero, huge and non-finite values.
TEST(ASCII, NumbersInThePrintfForms) {
  auto printed = [](const char* format, double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, format, v);
    return std::string(buf);
  };
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> values = {0.0,
                                -0.0,
                                0.0005,
                                -0.0005,
                                0.000005,
                                2.5e-6,
                                99999.99999,
                                -1e300,
                                1e300,
                                1.7e308,
                                inf,
                                -inf,
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 random(5);
  for (int i = 0; i < 2000; ++i)
    values.push_back(std::uniform_real_distribution<double>(-2000, 2000)(random));
  for (double v : values) {
    ResidualGridMessageData g;
    g.GridOriginLatitude = v, g.GridExtensionLatitude = v, g.MeanLatitudeOffset = v;
    const std::vector<GridResidual> nodes(16, GridResidual{v, v, v});
    const Text l = Lines(renderASCII1023(g, nodes, kExecuted));
    ASSERT_EQ(l.size(), 64u);
    EXPECT_EQ(l[4], printed("%6.4f", v));
    EXPECT_EQ(l[6], printed("%7.4f", v));
    EXPECT_EQ(l[8], printed("%4.3f", v));
    EXPECT_EQ(l[11], printed("%6.5f", v));
    HelmertMessageData h = Helmert();
    h.DX = v, h.R1 = v / 3600, h.SemimajorAxisOfSourceSystemEllipsoid = v + 6370000;
    const Text t = Lines(renderASCII1021(h, kExecuted));
    EXPECT_EQ(t[14], printed("%7.3f", v));
    EXPECT_EQ(t[17], printed("%10.5f", v / 3600 * 3600));
    EXPECT_EQ(t[21], printed("%8.3f", v + 6370000 - 6370000));
    ProjectionMessageData p;
    p.FalseEasting = v;
    EXPECT_EQ(Lines(renderASCII1025(p, kExecuted))[6], printed("%lf", v));
  }
}

}  // namespace
}  // namespace tarvik
