#include "rtcm/MessageData.h"
#include "rtcm/RtcmTestDecoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvik {
namespace {

using namespace tarvik::testing;

HelmertMessageData SampleHelmert() {
    HelmertMessageData h;
    h.SourceName = "ETRS89";
    h.SourceNameCounter = 6;
    h.TargetName = "MGI";
    h.TargetNameCounter = 3;
    h.MessageLength = 52 + 6 + 3;
    h.SystemIdentificationNumber = 201;
    h.InvolvedTransformationMessages = "1010000000";
    h.PlateNumber = 17;
    h.ComputationIndicator = 1;
    h.HeightIndicator = 2;
    h.LatitudeOfOriginAreaOfValidity = 48.1173;
    h.LongitudeOfOriginAreaOfValidity = -11.516667;
    h.LatitudeExtensionAreaOfValidity = 0.5;
    h.LongitudeExtensionAreaOfValidity = 0.75;
    h.DX = -577.326;
    h.DY = -90.129;
    h.DZ = -463.9199;
    h.R1 = -0.0001;
    h.R2 = 0.0009765625;      // 2^-10 degrees: 175781.25 units
    h.R3 = -0.00048828125;   // -87890.625 units
    h.ScaleFactor = 1 - 0.00000095367431640625;  // 1 - 2^-20
    h.SemimajorAxisOfSourceSystemEllipsoid = 6378137.0;
    h.SemiminorAxisOfSourceSystemEllipsoid = 6356752.314;
    h.SemimajorAxisOfTargetSystemEllipsoid = 6377397.155;
    h.SemiminorAxisOfTargetSystemEllipsoid = 6356078.963;
    h.HorizontalHelmertMolodenskiQualityIndicator = 5;
    h.VerticalHelmertMolodenskiQualityIndicator = 3;
    return h;
}

TEST(Encode1021, EveryFieldOfAnExecutedRequest) {
    RTCMFrame fr = encode1021(SampleHelmert(), 1, 1);
    EXPECT_EQ(fr.messageNumber, 1021);
    FrameHeader h = DecodeHeader(fr.bytes);
    EXPECT_EQ(h.preamble, 0xD3);
    EXPECT_EQ(h.reserved, 0);
    EXPECT_EQ(h.length, 61);
    EXPECT_TRUE(h.sizeOk);
    EXPECT_TRUE(h.crcOk);

    Decoded1021 d = Decode1021(fr.bytes);
    EXPECT_EQ(d.number, 1021);
    EXPECT_EQ(d.source, "ETRS89");
    EXPECT_EQ(d.target, "MGI");
    EXPECT_EQ(d.system, 201);
    EXPECT_EQ(d.involved, 0b0000000101);  // character 1 (1023) is the last bit
    EXPECT_EQ(d.plate, 17);
    EXPECT_EQ(d.computation, 1);
    EXPECT_EQ(d.height, 2);
    EXPECT_EQ(d.lat, 86611);    // 48.1173 * 1800 = 86611.14
    EXPECT_EQ(d.lon, -20730);   // truncated toward zero, not -20731
    EXPECT_EQ(d.extLat, 900);
    EXPECT_EQ(d.extLon, 1350);
    EXPECT_EQ(d.dx, -577326);
    EXPECT_EQ(d.dy, -90129);
    EXPECT_EQ(d.dz, -463919);
    EXPECT_EQ(d.r1, -18000);
    EXPECT_EQ(d.r2, 175781);
    EXPECT_EQ(d.r3, -87890);  // toward zero
    EXPECT_EQ(d.ds, -95367);
    EXPECT_EQ(d.srcA, 8137000);
    EXPECT_EQ(d.srcB, 6752314);
    EXPECT_EQ(d.tgtA, 7397155);
    EXPECT_EQ(d.tgtB, 6078963);
    EXPECT_EQ(d.hq, 5);
    EXPECT_EQ(d.vq, 3);
    EXPECT_EQ(d.padding, 0);
    EXPECT_EQ(d.bodyBits, 412u + 8u * 9u + 4u);
    EXPECT_EQ(d.bodyBits, 8u * 61u);
}

TEST(Encode1021, InvalidAreaAndPlanCodeZero) {
    HelmertMessageData rec = SampleHelmert();
    Decoded1021 d = Decode1021(encode1021(rec, 0, 0).bytes);
    EXPECT_EQ(d.lat, 162000);
    EXPECT_EQ(d.lon, 0);
    EXPECT_EQ(d.extLat, 0);
    EXPECT_EQ(d.extLon, 0);
    EXPECT_EQ(d.dx, 0);
    EXPECT_EQ(d.dy, 0);
    EXPECT_EQ(d.dz, 0);
    EXPECT_EQ(d.r1, 0);
    EXPECT_EQ(d.r2, 0);
    EXPECT_EQ(d.r3, 0);
    EXPECT_EQ(d.ds, 0);
    EXPECT_EQ(d.srcA, 8137000);
    EXPECT_EQ(d.tgtB, 6078963);
    EXPECT_EQ(d.hq, 5);

    // Not executed but plan code 1: parameters still written from the record.
    d = Decode1021(encode1021(rec, 1, 0).bytes);
    EXPECT_EQ(d.lat, 162000);
    EXPECT_EQ(d.r1, -18000);
}

TEST(Encode1021, InvolvedMessagesAndNamesThatDoNotFit) {
    HelmertMessageData rec = SampleHelmert();
    rec.InvolvedTransformationMessages = "1";  // short text: the rest counts as 0
    EXPECT_EQ(Decode1021(encode1021(rec, 1, 1).bytes).involved, 1);
    rec.InvolvedTransformationMessages = "0000000001";
    EXPECT_EQ(Decode1021(encode1021(rec, 1, 1).bytes).involved, 0b1000000000);
    rec.InvolvedTransformationMessages = "1x11111111";
    EXPECT_EQ(Decode1021(encode1021(rec, 1, 1).bytes).involved, 0b1111111101);

    // Counter and name disagree: the frame stays consistent with its counter.
    rec.SourceName = "ETRS89/ITRF2014";
    rec.SourceNameCounter = 6;
    rec.TargetName = "";
    rec.TargetNameCounter = 2;
    RTCMFrame fr = encode1021(rec, 1, 1);
    FrameHeader h = DecodeHeader(fr.bytes);
    EXPECT_EQ(h.length, 60);
    EXPECT_TRUE(h.sizeOk);
    EXPECT_TRUE(h.crcOk);
    Decoded1021 d = Decode1021(fr.bytes);
    EXPECT_EQ(d.source, "ETRS89");
    EXPECT_EQ(d.target, "  ");
    EXPECT_EQ(d.tgtB, 6078963);

    // The longest representable names give the largest frame.
    rec.SourceName = std::string(40, 'S');
    rec.SourceNameCounter = 40;
    rec.TargetName = std::string(31, 'T');
    rec.TargetNameCounter = 31;
    fr = encode1021(rec, 1, 1);
    EXPECT_EQ(fr.bytes.size(), 120u);
    EXPECT_TRUE(DecodeHeader(fr.bytes).crcOk);
    EXPECT_EQ(Decode1021(fr.bytes).vq, 3);
}

ResidualGridMessageData SampleGrid() {
    ResidualGridMessageData g;
    g.SystemIdentificationNumber = 201;
    g.HorizontalShiftIndicator = 1;
    g.VerticalShiftIndicator = 3;  // only the low bit goes out
    g.GridOriginLatitude = 48.1173;
    g.GridOriginLongitude = -11.516667;
    g.GridExtensionLatitude = 0.05;
    g.GridExtensionLongitude = 0.075;
    g.MeanLatitudeOffset = 0.05;
    g.MeanLongitudeOffset = -0.127;
    g.MeanHeightOffset = -0.019;
    g.HorizontalInterpolationMethodIndicator = 1;
    g.VerticalInterpolationMethodIndicator = 2;
    g.HorizontalGridQualityIndicator = 6;
    g.VerticalGridQualityIndicator = 7;
    return g;
}

TEST(Encode1023, EveryFieldAndResidualOrder) {
    std::vector<GridResidual> nodes(16);
    for (int i = 0; i < 16; ++i) {
        nodes[static_cast<std::size_t>(i)] = {0.00003 * (i + 1) + 1e-12, -0.00003 * (i + 1) - 1e-12, -0.001 * i - 0.0005};
    }
    nodes[15] = {0.00764, -0.00767, 0.255};
    RTCMFrame fr = encode1023(SampleGrid(), 1, nodes, 61382);
    EXPECT_EQ(fr.messageNumber, 1023);
    ASSERT_EQ(fr.bytes.size(), 79u);
    FrameHeader h = DecodeHeader(fr.bytes);
    EXPECT_EQ(h.length, 73);
    EXPECT_TRUE(h.crcOk);

    Decoded1023 d = Decode1023(fr.bytes);
    EXPECT_EQ(d.number, 1023);
    EXPECT_EQ(d.system, 201);
    EXPECT_EQ(d.hShift, 1);
    EXPECT_EQ(d.vShift, 1);
    EXPECT_EQ(d.lat, 346444);  // 48.1173 * 7200 = 346444.56
    EXPECT_EQ(d.lon, -82920);
    EXPECT_EQ(d.extLat, 360);
    EXPECT_EQ(d.extLon, 540);
    EXPECT_EQ(d.meanLat, 50);
    EXPECT_EQ(d.meanLon, -127);
    EXPECT_EQ(d.meanHeight, -1);  // -1.9 truncated toward zero
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(d.res[i][0], i + 1) << i;
        EXPECT_EQ(d.res[i][1], -(i + 1)) << i;
        EXPECT_EQ(d.res[i][2], -i) << i;
    }
    EXPECT_EQ(d.res[15][0], 254);
    EXPECT_EQ(d.res[15][1], -255);
    EXPECT_EQ(d.res[15][2], 255);
    EXPECT_EQ(d.hInterp, 1);
    EXPECT_EQ(d.vInterp, 2);
    EXPECT_EQ(d.hQuality, 6);
    EXPECT_EQ(d.vQuality, 7);
    EXPECT_EQ(d.mjd, 61382);
    EXPECT_EQ(d.padding, 0);
    EXPECT_EQ(d.bodyBits, 8u * 73u);
}

TEST(Encode1023, InvalidAreaAndMissingNodesKeepTheLength) {
    std::vector<GridResidual> nodes(16, GridResidual{0.0003, 0.0006, 0.002});
    Decoded1023 d = Decode1023(encode1023(SampleGrid(), 0, nodes, 1).bytes);
    EXPECT_EQ(d.lat, 0);
    EXPECT_EQ(d.lon, 0);
    EXPECT_EQ(d.extLat, 0);
    EXPECT_EQ(d.extLon, 0);
    EXPECT_EQ(d.meanLat, 50);  // offsets and residuals still written
    EXPECT_EQ(d.res[7][1], 20);
    EXPECT_EQ(d.res[7][2], 2);

    // A request that failed before its grid existed: 16 zero triples.
    RTCMFrame fr = encode1023(SampleGrid(), 0, {}, 1);
    ASSERT_EQ(fr.bytes.size(), 79u);
    EXPECT_TRUE(DecodeHeader(fr.bytes).crcOk);
    d = Decode1023(fr.bytes);
    for (auto& n : d.res) EXPECT_EQ(n[0] | n[1] | n[2], 0);
    EXPECT_EQ(d.vQuality, 7);

    // More than 16 nodes: only the first 16 fit the message.
    std::vector<GridResidual> many(20, GridResidual{0.00003, 0, 0});
    EXPECT_EQ(encode1023(SampleGrid(), 1, many, 1).bytes.size(), 79u);
}

TEST(ModifiedJulianDay, DayChangesAtUtcMidnight) {
    EXPECT_EQ(ModifiedJulianDay(0), 40587);
    EXPECT_EQ(ModifiedJulianDay(946684800), 51544);  // 2000-01-01 00:00:00 UTC
    const std::int64_t midnight = 1796688000;         // 2026-12-08 00:00:00 UTC
    EXPECT_EQ(ModifiedJulianDay(midnight - 1), 61381);
    EXPECT_EQ(ModifiedJulianDay(midnight), 61382);
    EXPECT_EQ(ModifiedJulianDay(-1), 40586);

    GridResidual none[1]{};
    Decoded1023 a = Decode1023(encode1023(SampleGrid(), 1, none, static_cast<std::uint32_t>(ModifiedJulianDay(midnight - 1))).bytes);
    Decoded1023 b = Decode1023(encode1023(SampleGrid(), 1, none, static_cast<std::uint32_t>(ModifiedJulianDay(midnight))).bytes);
    EXPECT_NE(a.mjd, b.mjd);
    // The clock-driven encoder writes today's day number.
    std::int64_t before = ModifiedJulianDayNow();
    Decoded1023 now = Decode1023(encode1023(SampleGrid(), 1, none).bytes);
    std::int64_t after = ModifiedJulianDayNow();
    EXPECT_TRUE(now.mjd == (before & 0xFFFF) || now.mjd == (after & 0xFFFF));
}

TEST(Encode1025, ProjectionFieldsInTheirWideFields) {
    ProjectionMessageData p;
    p.SystemIdentificationNumber = 201;
    p.ProjectionType = 1;
    p.LatitudeOfNaturalOrigin = 52.0;
    p.LongitudeOfNaturalOrigin = -13.333333333;
    p.ScaleFactorAtNaturalOrigin = 0.9996;
    p.FalseEasting = 4500000.75;
    p.FalseNorthing = -5000000.1234;
    RTCMFrame fr = encode1025(p);
    EXPECT_EQ(fr.messageNumber, 1025);
    ASSERT_EQ(fr.bytes.size(), 31u);
    EXPECT_EQ(fr.bytes[1], 0x00);
    EXPECT_EQ(fr.bytes[2], 0x19);
    EXPECT_EQ(ReferenceCrc24q(fr.bytes.data(), 28),
              (std::uint32_t{fr.bytes[28]} << 16) | (std::uint32_t{fr.bytes[29]} << 8) | fr.bytes[30]);

    Decoded1025 d = Decode1025(fr.bytes);
    EXPECT_EQ(d.number, 1025);
    EXPECT_EQ(d.system, 201);
    EXPECT_EQ(d.projection, 1);
    EXPECT_EQ(d.lat, static_cast<std::int64_t>(52.0 / 0.000000011));
    EXPECT_GT(d.lat, std::int64_t{1} << 32);  // really needs the 34 bits
    EXPECT_EQ(d.lon, static_cast<std::int64_t>(-13.333333333 / 0.000000011));
    EXPECT_EQ(d.scale, static_cast<std::int64_t>((0.9996 * 1000000 - 993000) * 100000));
    EXPECT_EQ(d.easting, 4500000000);  // whole metres, then millimetres
    EXPECT_EQ(d.northing, -5000000123);
    EXPECT_EQ(d.padding, 0);
    EXPECT_EQ(d.bodyBits, 200u);
}

TEST(Encoders, NumbersThatDoNotFitStayInsideTheirFields) {
    ProjectionMessageData p;
    p.LatitudeOfNaturalOrigin = std::numeric_limits<double>::quiet_NaN();
    p.FalseEasting = 1e300;
    p.FalseNorthing = -std::numeric_limits<double>::infinity();
    p.ProjectionType = 70;  // 6 bits: 70 & 63
    RTCMFrame fr = encode1025(p);
    ASSERT_EQ(fr.bytes.size(), 31u);
    Decoded1025 d = Decode1025(fr.bytes);
    EXPECT_EQ(d.lat, 0);
    EXPECT_EQ(d.projection, 70 & 63);
    EXPECT_EQ(d.padding, 0);

    HelmertMessageData h = SampleHelmert();
    h.DX = 1e30;
    h.R1 = -1e30;
    Decoded1021 dh = Decode1021(encode1021(h, 1, 1).bytes);
    EXPECT_EQ(dh.dy, -90129);
    EXPECT_EQ(dh.srcA, 8137000);
}

}  // namespace
}  // namespace tarvik
