#include "rtcm/MessageData.h"
#include "rtcm/RtcmTestDecoder.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace tarvik {
namespace {

using namespace tarvik::testing;
using V = std::vector<std::int64_t>;

HelmertMessageData SampleHelmert() {
  HelmertMessageData h;
  h.SourceName = "ETRS89", h.SourceNameCounter = 6, h.TargetName = "MGI", h.TargetNameCounter = 3;
  h.SystemIdentificationNumber = 201, h.InvolvedTransformationMessages = "1010000000";
  h.PlateNumber = 17, h.ComputationIndicator = 1, h.HeightIndicator = 2;
  h.LatitudeOfOriginAreaOfValidity = 48.1173, h.LongitudeOfOriginAreaOfValidity = -11.516667;
  h.LatitudeExtensionAreaOfValidity = 0.5, h.LongitudeExtensionAreaOfValidity = 0.75;
  h.DX = -577.326, h.DY = -90.129, h.DZ = -463.9199;
  // Rotations and scale chosen so that the scaled values are exact in binary.
  h.R1 = -0.0001, h.R2 = 0.0009765625, h.R3 = -0.00048828125;
  h.ScaleFactor = 1 - 0.00000095367431640625;
  h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0, h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.314;
  h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155, h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
  h.HorizontalHelmertMolodenskiQualityIndicator = 5, h.VerticalHelmertMolodenskiQualityIndicator = 3;
  return h;
}

ResidualGridMessageData SampleGrid() {
  ResidualGridMessageData g;
  g.SystemIdentificationNumber = 201, g.HorizontalShiftIndicator = 1, g.VerticalShiftIndicator = 3;
  g.GridOriginLatitude = 48.1173, g.GridOriginLongitude = -11.516667;
  g.GridExtensionLatitude = 0.05, g.GridExtensionLongitude = 0.075;
  g.MeanLatitudeOffset = 0.05, g.MeanLongitudeOffset = -0.127, g.MeanHeightOffset = -0.019;
  g.HorizontalInterpolationMethodIndicator = 1, g.VerticalInterpolationMethodIndicator = 2;
  g.HorizontalGridQualityIndicator = 6, g.VerticalGridQualityIndicator = 7;
  return g;
}

TEST(Encode1021, EveryFieldOfAnExecutedRequest) {
  RTCMFrame fr = encode1021(SampleHelmert(), 1, 1);
  EXPECT_EQ(fr.messageNumber, 1021);
  FrameHeader h = DecodeHeader(fr.bytes);
  EXPECT_EQ(V({h.preamble, h.reserved, h.length}), V({0xD3, 0, 61}));
  EXPECT_TRUE(h.sizeOk && h.crcOk);

  Decoded1021 d = Decode1021(fr.bytes);
  EXPECT_EQ(d.source, "ETRS89");
  EXPECT_EQ(d.target, "MGI");
  // Character 1 of InvolvedTransformationMessages (1023) is the last bit.
  EXPECT_EQ(V({d.number, d.system, d.involved, d.plate, d.computation, d.height}),
            V({1021, 201, 0b0000000101, 17, 1, 2}));
  // Truncation toward zero: -20730.0006 gives -20730.
  EXPECT_EQ(V({d.lat, d.lon, d.extLat, d.extLon}), V({86611, -20730, 900, 1350}));
  // The negative rotation fills exactly its 32 bits: DZ before it is intact.
  EXPECT_EQ(V({d.dx, d.dy, d.dz, d.r1, d.r2, d.r3, d.ds}),
            V({-577326, -90129, -463919, -18000, 175781, -87890, -95367}));
  EXPECT_EQ(V({d.srcA, d.srcB, d.tgtA, d.tgtB, d.hq, d.vq, d.padding}),
            V({8137000, 6752314, 7397155, 6078963, 5, 3, 0}));
  EXPECT_EQ(d.bodyBits, 8u * 61u);
}

TEST(Encode1021, InvalidAreaPlanCodeAndInvolvedMessages) {
  HelmertMessageData rec = SampleHelmert();
  Decoded1021 d = Decode1021(encode1021(rec, 0, 0).bytes);
  EXPECT_EQ(V({d.lat, d.lon, d.extLat, d.extLon}), V({162000, 0, 0, 0}));
  EXPECT_EQ(V({d.dx, d.dy, d.dz, d.r1, d.r2, d.r3, d.ds}), V(7, 0));  // plan code 0: 190 zero bits
  EXPECT_EQ(V({d.srcA, d.tgtB, d.hq}), V({8137000, 6078963, 5}));
  // Not executed with plan code 1: the parameters still come from the record.
  d = Decode1021(encode1021(rec, 1, 0).bytes);
  EXPECT_EQ(V({d.lat, d.r1}), V({162000, -18000}));

  for (auto [flags, bits] :
       {std::pair<const char*, int>{"1", 1}, {"0000000001", 0b1000000000}, {"1x11111111", 0b1111111101}}) {
    rec.InvolvedTransformationMessages = flags;
    EXPECT_EQ(Decode1021(encode1021(rec, 1, 1).bytes).involved, bits) << flags;
  }
}

TEST(Encode1021, NamesThatDisagreeWithTheirCountersKeepTheFrameConsistent) {
  HelmertMessageData rec = SampleHelmert();
  rec.SourceName = "ETRS89/ITRF2014", rec.SourceNameCounter = 6, rec.TargetName = "",
  rec.TargetNameCounter = 2;
  RTCMFrame fr = encode1021(rec, 1, 1);
  FrameHeader h = DecodeHeader(fr.bytes);
  EXPECT_EQ(h.length, 60);
  EXPECT_TRUE(h.sizeOk && h.crcOk);
  Decoded1021 d = Decode1021(fr.bytes);
  EXPECT_EQ(d.source + "|" + d.target, "ETRS89|  ");
  EXPECT_EQ(d.tgtB, 6078963);

  // Counters above 31 cannot be represented: the longest names give 120 bytes.
  rec.SourceName = std::string(40, 'S'), rec.SourceNameCounter = 40;
  rec.TargetName = std::string(31, 'T'), rec.TargetNameCounter = 31;
  fr = encode1021(rec, 1, 1);
  EXPECT_EQ(fr.bytes.size(), 120u);
  EXPECT_TRUE(DecodeHeader(fr.bytes).crcOk);
  EXPECT_EQ(Decode1021(fr.bytes).vq, 3);
}

TEST(Encode1023, EveryFieldAndResidualOrder) {
  std::vector<GridResidual> nodes(16);
  for (int i = 0; i < 15; ++i)
    nodes[static_cast<std::size_t>(i)] = {0.00003 * (i + 1) + 1e-12, -0.00003 * (i + 1) - 1e-12,
                                          -0.001 * i - 0.0005};
  nodes[15] = {0.00764, -0.00767, 0.255};
  RTCMFrame fr = encode1023(SampleGrid(), 1, nodes, 61382);
  EXPECT_EQ(fr.messageNumber, 1023);
  ASSERT_EQ(fr.bytes.size(), 79u);
  EXPECT_EQ(DecodeHeader(fr.bytes).length, 73);
  EXPECT_TRUE(DecodeHeader(fr.bytes).crcOk);

  Decoded1023 d = Decode1023(fr.bytes);
  EXPECT_EQ(V({d.number, d.system, d.hShift, d.vShift}), V({1023, 201, 1, 1}));
  EXPECT_EQ(V({d.lat, d.lon, d.extLat, d.extLon}), V({346444, -82920, 360, 540}));
  EXPECT_EQ(V({d.meanLat, d.meanLon, d.meanHeight}), V({50, -127, -1}));
  for (int i = 0; i < 15; ++i) EXPECT_EQ(V(d.res[i], d.res[i] + 3), V({i + 1, -(i + 1), -i})) << i;
  EXPECT_EQ(V(d.res[15], d.res[15] + 3), V({254, -255, 255}));
  EXPECT_EQ(V({d.hInterp, d.vInterp, d.hQuality, d.vQuality, d.mjd, d.padding}), V({1, 2, 6, 7, 61382, 0}));
  EXPECT_EQ(d.bodyBits, 8u * 73u);
}

TEST(Encode1023, InvalidAreaAndMissingNodesKeepTheLength) {
  std::vector<GridResidual> nodes(16, GridResidual{0.0003, 0.0006, 0.002});
  Decoded1023 d = Decode1023(encode1023(SampleGrid(), 0, nodes, 1).bytes);
  EXPECT_EQ(V({d.lat, d.lon, d.extLat, d.extLon}), V(4, 0));
  EXPECT_EQ(V({d.meanLat, d.res[7][1], d.res[7][2]}), V({50, 20, 2}));  // still written

  // A request that failed before its grid existed: 16 zero triples.
  RTCMFrame fr = encode1023(SampleGrid(), 0, {}, 1);
  ASSERT_EQ(fr.bytes.size(), 79u);
  EXPECT_TRUE(DecodeHeader(fr.bytes).crcOk);
  d = Decode1023(fr.bytes);
  for (auto& n : d.res) EXPECT_EQ(V(n, n + 3), V(3, 0));
  EXPECT_EQ(d.vQuality, 7);
  // More than 16 nodes: only the first 16 fit the message.
  EXPECT_EQ(encode1023(SampleGrid(), 1, std::vector<GridResidual>(20), 1).bytes.size(), 79u);
}

TEST(ModifiedJulianDay, DayChangesAtUtcMidnight) {
  EXPECT_EQ(ModifiedJulianDay(0), 40587);
  EXPECT_EQ(ModifiedJulianDay(946684800), 51544);  // 2000-01-01 00:00:00 UTC
  const std::int64_t midnight = 1796688000;        // 2026-12-08 00:00:00 UTC
  EXPECT_EQ(ModifiedJulianDay(midnight - 1), 61381);
  EXPECT_EQ(ModifiedJulianDay(midnight), 61382);
  EXPECT_EQ(ModifiedJulianDay(-1), 40586);
  // The clock-driven encoder writes today's day number.
  std::int64_t before = ModifiedJulianDayNow();
  std::int64_t mjd = Decode1023(encode1023(SampleGrid(), 1, {}).bytes).mjd;
  EXPECT_TRUE(mjd == (before & 0xFFFF) || mjd == ((ModifiedJulianDayNow()) & 0xFFFF));
}

TEST(Encode1025, ProjectionFieldsInTheirWideFields) {
  ProjectionMessageData p;
  p.SystemIdentificationNumber = 201, p.ProjectionType = 1;
  p.LatitudeOfNaturalOrigin = 52.0, p.LongitudeOfNaturalOrigin = -13.333333333;
  p.ScaleFactorAtNaturalOrigin = 0.9996, p.FalseEasting = 4500000.75, p.FalseNorthing = -5000000.1234;
  RTCMFrame fr = encode1025(p);
  EXPECT_EQ(fr.messageNumber, 1025);
  ASSERT_EQ(fr.bytes.size(), 31u);
  EXPECT_EQ(V({fr.bytes[1], fr.bytes[2]}), V({0x00, 0x19}));
  EXPECT_EQ(ReferenceCrc24q(fr.bytes.data(), 28),
            (std::uint32_t{fr.bytes[28]} << 16) | (std::uint32_t{fr.bytes[29]} << 8) | fr.bytes[30]);

  Decoded1025 d = Decode1025(fr.bytes);
  EXPECT_EQ(V({d.number, d.system, d.projection}), V({1025, 201, 1}));
  EXPECT_EQ(d.lat, 4727272727);  // 52 / 0.000000011, beyond 32 bits
  EXPECT_EQ(d.lon, -1212121212);
  EXPECT_EQ(d.scale, 660000000);
  EXPECT_EQ(d.easting, 4500000000);  // whole metres, then millimetres
  EXPECT_EQ(d.northing, -5000000123);
  EXPECT_EQ(d.bodyBits, 200u);
}

TEST(Encoders, NumbersThatDoNotFitStayInsideTheirFields) {
  ProjectionMessageData p;
  p.LatitudeOfNaturalOrigin = std::numeric_limits<double>::quiet_NaN();
  p.FalseEasting = 1e300, p.FalseNorthing = -std::numeric_limits<double>::infinity();
  p.ProjectionType = 70;  // 6 bits
  RTCMFrame fr = encode1025(p);
  ASSERT_EQ(fr.bytes.size(), 31u);
  Decoded1025 d = Decode1025(fr.bytes);
  EXPECT_EQ(V({d.lat, d.projection, d.padding}), V({0, 70 & 63, 0}));

  HelmertMessageData h = SampleHelmert();
  h.DX = 1e30, h.R1 = -1e30;
  Decoded1021 dh = Decode1021(encode1021(h, 1, 1).bytes);
  EXPECT_EQ(V({dh.dy, dh.srcA}), V({-90129, 8137000}));
}

}  // namespace
}  // namespace tarvik
