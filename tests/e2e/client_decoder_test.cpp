// The rover client's frame decoder, scanner and GGA builder against frames
// and sentences built by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "FrameBuilder.h"
#include "GgaSentence.h"
#include "NtripClient.h"
#include "ReplyScanner.h"
#include "RtcmDecoder.h"

using namespace tarvikclient;
using e2etest::FrameBuilder;

namespace {

std::vector<std::uint8_t> Frame1025() {
  FrameBuilder b;
  b.Put(1025, 12);
  b.Put(7, 8);
  b.Put(3, 6);
  b.Put(4727272727, 34);   // 52 deg in units of 0.000000011 deg
  b.Put(-1212121212, 35);  // about -13.33 deg
  b.Put(660000000, 30);    // 0.9996
  b.Put(4500000000, 36);   // 4500000 m
  b.Put(-5000000000, 35);  // -5000000 m
  b.Put(0, 4);
  return b.Frame();
}

std::vector<std::uint8_t> Frame1021(const std::string& src, const std::string& dst, int srcCounter,
                                    int lengthOverride = -1) {
  FrameBuilder b;
  b.Put(1021, 12);
  b.Put(srcCounter, 5);
  b.Text(src);
  b.Put(static_cast<int>(dst.size()), 5);
  b.Text(dst);
  b.Put(4, 8);
  b.Put(0b0000000101, 10);  // "1010000000": 1023 and 1025
  b.Put(15, 5);
  b.Put(1, 4);
  b.Put(2, 2);
  b.Put(static_cast<std::int64_t>(48.2 * 1800), 19);
  b.Put(static_cast<std::int64_t>(-16.5 * 1800), 20);
  b.Put(540, 14);
  b.Put(900, 14);
  b.Put(-577326, 23);
  b.Put(90129, 23);
  b.Put(-463919, 23);
  b.Put(-250000, 32);  // -5 arcsec
  b.Put(0x7FFFFFFF, 32);
  b.Put(1, 32);
  b.Put(-2423000, 25);  // -24.23 ppm
  b.Put(8137000, 24);
  b.Put(6752314, 25);
  b.Put(7397155, 24);
  b.Put(6078963, 25);
  b.Put(5, 3);
  b.Put(7, 3);
  b.Put(0, 4);
  return b.Frame(lengthOverride);
}

}  // namespace

TEST(ClientCrc, KnownCheckValueAndSelfCheck) {
  const char* digits = "123456789";
  EXPECT_EQ(Crc24q(reinterpret_cast<const std::uint8_t*>(digits), 9), 0xCDE703u);
  auto f = Frame1025();
  EXPECT_EQ(Crc24q(f.data(), f.size()), 0u);  // a frame checked with its own CRC
  EXPECT_EQ(Crc24q(nullptr, 0), 0u);
}

TEST(ClientDecoder, Message1025FieldsAndUnits) {
  auto f = Frame1025();
  ASSERT_EQ(f.size(), 31u);
  EXPECT_EQ(f[1], 0x00);
  EXPECT_EQ(f[2], 0x19);
  auto frame = DecodeFrame(f);
  ASSERT_TRUE(frame);
  ASSERT_TRUE(frame->crcOk);
  const auto& m = frame->message;
  EXPECT_EQ(m.number, 1025);
  EXPECT_TRUE(m.problems.empty());
  EXPECT_EQ(m.Find("ProjectionType")->raw, 3);
  EXPECT_NEAR(m.Value("LatitudeOfNaturalOrigin"), 52.0, 1e-8);
  EXPECT_NEAR(m.Value("LongitudeOfNaturalOrigin"), -13.333333, 1e-6);
  EXPECT_NEAR(m.Value("ScaleFactorAtNaturalOrigin"), 0.9996, 1e-12);
  EXPECT_DOUBLE_EQ(m.Value("FalseEasting"), 4500000.0);  // 36-bit field beyond 32 bits
  EXPECT_DOUBLE_EQ(m.Value("FalseNorthing"), -5000000.0);
}

TEST(ClientDecoder, Message1021SignedFieldsNamesAndFlags) {
  auto frame = DecodeFrame(Frame1021("ETRS89", "MGI", 6));
  ASSERT_TRUE(frame && frame->crcOk);
  EXPECT_EQ(frame->bytes.size(), 58u + 9u);
  const auto& m = frame->message;
  EXPECT_EQ(m.number, 1021);
  EXPECT_TRUE(m.problems.empty()) << m.problems.front();
  EXPECT_EQ(m.Find("SourceName")->text, "ETRS89");
  EXPECT_EQ(m.Find("TargetName")->text, "MGI");
  EXPECT_EQ(m.Find("InvolvedTransformationMessages")->text, "1010000000");
  EXPECT_EQ(m.Find("HeightIndicator")->raw, 2);
  EXPECT_NEAR(m.Value("LatitudeOfOriginAreaOfValidity"), 48.2, 1e-9);
  EXPECT_NEAR(m.Value("LongitudeOfOriginAreaOfValidity"), -16.5, 1e-9);
  EXPECT_NEAR(m.Value("LatitudeExtensionAreaOfValidity"), 0.3, 1e-12);
  EXPECT_NEAR(m.Value("DX"), -577.326, 1e-9);
  EXPECT_NEAR(m.Value("DZ"), -463.919, 1e-9);
  EXPECT_NEAR(m.Value("R1"), -5.0, 1e-12);
  EXPECT_EQ(m.Find("R2")->raw, 0x7FFFFFFF);  // largest positive stays positive
  EXPECT_NEAR(m.Value("dS"), -24.23, 1e-9);
  EXPECT_NEAR(m.Value("SemimajorAxisOfSourceSystemEllipsoid"), 6378137.0, 1e-6);
  EXPECT_NEAR(m.Value("SemiminorAxisOfTargetSystemEllipsoid"), 6356078.963, 1e-6);
  EXPECT_EQ(m.Find("VerticalHelmertMolodenskiQualityIndicator")->raw, 7);
}

TEST(ClientDecoder, LayoutDisagreementsAreReportedNotHidden) {
  // The counter says 5 while the name has 6 characters: the fields then
  // need one byte more than the frame's length field.
  auto mismatch = DecodeFrame(Frame1021("ETRS89", "MGI", 5, 52 + 5 + 3));
  ASSERT_FALSE(mismatch);  // the frame's size no longer matches its length field
  auto bytes = Frame1021("ETRS89", "MGI", 5);
  auto f = DecodeFrame(bytes);
  ASSERT_TRUE(f && f->crcOk);
  EXPECT_FALSE(f->message.problems.empty());

  // A truncated body reads zeros and says so instead of reading beyond.
  std::uint8_t shortBody[4] = {0x3F, 0xD0, 0, 0};  // 1021, then nothing
  auto m = DecodeMessage(shortBody, sizeof shortBody);
  EXPECT_EQ(m.number, 1021);
  ASSERT_FALSE(m.problems.empty());

  std::uint8_t other[2] = {0x3F, 0xC0};  // 1020 is not ours
  EXPECT_EQ(DecodeMessage(other, 2).number, 1020);
  EXPECT_EQ(DecodeMessage(other, 2).problems.size(), 1u);
}

TEST(ClientDecoder, Message1023ResidualsInListOrder) {
  FrameBuilder b;
  b.Put(1023, 12);
  b.Put(4, 8);
  b.Put(1, 1);
  b.Put(0, 1);
  b.Put(static_cast<std::int64_t>(47.5 * 7200), 21);
  b.Put(static_cast<std::int64_t>(-15.25 * 7200), 22);
  b.Put(2160, 12);
  b.Put(4095, 12);
  b.Put(-127, 8);
  b.Put(50, 8);
  b.Put(-16384, 15);
  for (int i = 0; i < 16; ++i) {
    b.Put(-255 + i, 9);
    b.Put(i, 9);
    b.Put(i == 15 ? 255 : -i, 9);
  }
  b.Put(1, 2);
  b.Put(2, 2);
  b.Put(3, 3);
  b.Put(4, 3);
  b.Put(61000, 16);
  b.Put(0, 6);
  auto f = DecodeFrame(b.Frame());
  ASSERT_TRUE(f && f->crcOk);
  EXPECT_EQ(f->bytes.size(), 79u);
  const auto& m = f->message;
  EXPECT_TRUE(m.problems.empty());
  EXPECT_NEAR(m.Value("GridOriginLatitude"), 47.5, 1e-12);
  EXPECT_NEAR(m.Value("GridOriginLongitude"), -15.25, 1e-12);
  EXPECT_NEAR(m.Value("GridExtensionLongitude"), 4095.0 / 7200, 1e-12);
  EXPECT_NEAR(m.Value("MeanLatitudeOffset"), -0.127, 1e-12);
  EXPECT_NEAR(m.Value("MeanLongitudeOffset"), 0.05, 1e-12);
  EXPECT_NEAR(m.Value("MeanHeightOffset"), -163.84, 1e-9);
  EXPECT_NEAR(m.Value("dLatitude[1]"), -255 * 0.00003, 1e-12);
  EXPECT_NEAR(m.Value("dLongitude[16]"), 15 * 0.00003, 1e-12);
  EXPECT_NEAR(m.Value("dHeight[2]"), -0.001, 1e-12);
  EXPECT_NEAR(m.Value("dHeight[16]"), 0.255, 1e-12);
  EXPECT_EQ(m.Find("VerticalGridQualityIndicator")->raw, 4);
  EXPECT_EQ(m.Find("ModifiedJulianDayNumber")->raw, 61000);
}

TEST(ClientScanner, FramesAndTextsSurviveAnySplit) {
  auto a = Frame1025();
  auto c = Frame1021("ETRS89", "MGI", 6);
  std::string text = "1025\n7\n*";
  std::vector<std::uint8_t> stream(a);
  stream.insert(stream.end(), text.begin(), text.end());
  stream.insert(stream.end(), c.begin(), c.end());

  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{7}, stream.size()}) {
    ReplyScanner s;
    std::vector<Reply> all;
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
      auto got = s.Feed(stream.data() + i, std::min(chunk, stream.size() - i));
      all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_FALSE(s.Pending());
    std::vector<int> frames;
    std::string joined;
    for (const auto& r : all) {
      if (r.isFrame) {
        EXPECT_TRUE(r.frame.crcOk);
        frames.push_back(r.frame.message.number);
      } else {
        joined += r.text;
      }
    }
    EXPECT_EQ(frames, (std::vector<int>{1025, 1021})) << "chunk " << chunk;
    EXPECT_EQ(joined, text);
  }
}

TEST(ClientScanner, DamagedFrameIsFlaggedAndTheNextOneStillDecodes) {
  auto bad = Frame1025();
  bad[10] ^= 0x04;
  auto good = Frame1025();
  std::vector<std::uint8_t> stream(bad);
  stream.insert(stream.end(), good.begin(), good.end());
  ReplyScanner s;
  auto r = s.Feed(stream.data(), stream.size());
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FALSE(r[0].frame.crcOk);
  EXPECT_TRUE(r[1].frame.crcOk);
  EXPECT_NE(FormatFrame(r[0].frame).find("WRONG"), std::string::npos);

  // A cut-off frame at the end of the connection is reported, not dropped.
  ReplyScanner t;
  EXPECT_TRUE(t.Feed(good.data(), 10).empty());
  auto rest = t.Finish();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_NE(rest[0].text.find("incomplete frame of 10 bytes"), std::string::npos);
}

TEST(ClientGga, SentencesCarryTheirPositionAndChecksum) {
  std::string s = MakeGga(48.1173, 11.516667, 592.3, 46.9, "123519");
  EXPECT_EQ(s.substr(0, 46), "$GPGGA,123519,4807.038000,N,01131.000020,E,4,1");
  EXPECT_NE(s.find(",545.400,M,46.900,M,"), std::string::npos);
  ASSERT_EQ(s[s.size() - 3], '*');
  EXPECT_EQ(s.substr(s.size() - 2), NmeaChecksum(s));

  std::string south = MakeGga(-33.5, -70.75, 10.0, 0.0, "000000");
  EXPECT_NE(south.find(",3330.000000,S,07045.000000,W,"), std::string::npos);
  // Minutes that round up to 60 carry into the degrees.
  std::string carry = MakeGga(47.99999999999, 13.0, 0.0, 0.0, "000000");
  EXPECT_NE(carry.find(",4800.000000,N,"), std::string::npos);

  EXPECT_EQ(NmeaChecksum("$GPGGA,*"), "7A");
  EXPECT_EQ(NmeaChecksum("$\x0A*"), "0A");  // leading zero kept
}

TEST(ClientGga, ReceiverLinesAreCleanedAndFiltered) {
  EXPECT_EQ(GgaLineToSend("$GNGGA,1,2*4F\r\n"), "$GNGGA,1,2*4F");
  EXPECT_EQ(GgaLineToSend("\r$gpgga,1*00"), "$gpgga,1*00");
  EXPECT_EQ(GgaLineToSend("$GPRMC,123519,A*6A\r\n"), "");
  EXPECT_EQ(GgaLineToSend("$GPGSV,GGA,1*00"), "");  // GGA elsewhere is not the address
  EXPECT_EQ(GgaLineToSend(""), "");
}

// The NTRIP side of the client: its request, the caster's answer heads and
// a chunked stream in pieces of any size.
TEST(ClientNtrip, RequestAnswerHeadsAndChunks) {
  EXPECT_EQ(Base64Encode("demo:demo"), "ZGVtbzpkZW1v");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode(""), "");
  const std::string two = NtripRequest("h", "M", "demo:demo", true);
  EXPECT_EQ(two.rfind("GET /M HTTP/1.1\r\nHost: h\r\n", 0), 0u);
  EXPECT_NE(two.find("Ntrip-Version: Ntrip/2.0\r\n"), std::string::npos);
  EXPECT_NE(two.find("Authorization: Basic ZGVtbzpkZW1v\r\n"), std::string::npos);
  const std::string one = NtripRequest("h", "M", "", false);
  EXPECT_EQ(one.find("Ntrip-Version"), std::string::npos);
  EXPECT_EQ(one.find("Authorization"), std::string::npos);
  EXPECT_EQ(one.substr(one.size() - 4), "\r\n\r\n");

  EXPECT_FALSE(ReadNtripAnswerHead("ICY 200 O").complete);
  NtripAnswerHead h = ReadNtripAnswerHead("ICY 200 OK\r\n\xD3");
  EXPECT_TRUE(h.complete && h.stream && !h.chunked);
  EXPECT_EQ(h.length, 12u);
  h = ReadNtripAnswerHead("ERROR - Bad Password\r\n");
  EXPECT_TRUE(h.complete);
  EXPECT_FALSE(h.stream);
  EXPECT_FALSE(ReadNtripAnswerHead("HTTP/1.1 200 OK\r\nContent-Type: gnss/data\r\n").complete);
  h = ReadNtripAnswerHead(
      "HTTP/1.1 200 OK\r\ncontent-type: gnss/data\r\nTransfer-Encoding: chunked\r\n\r\n3");
  EXPECT_TRUE(h.complete && h.stream && h.chunked);
  h = ReadNtripAnswerHead("HTTP/1.1 200 OK\r\nContent-Type: gnss/sourcetable\r\n\r\nSTR;");
  EXPECT_TRUE(h.complete);
  EXPECT_FALSE(h.stream);  // a source table is printed, not decoded

  const std::string body = "3\r\nabc\r\n10;ext=1\r\n0123456789ABCDEF\r\n0\r\n\r\n";
  for (std::size_t piece = 1; piece <= body.size(); ++piece) {
    ChunkedDecoder d;
    std::string data;
    for (std::size_t at = 0; at < body.size(); at += piece) {
      const std::size_t n = std::min(piece, body.size() - at);
      auto out = d.Feed(reinterpret_cast<const std::uint8_t*>(body.data() + at), n);
      data.append(out.begin(), out.end());
    }
    EXPECT_EQ(data, "abc0123456789ABCDEF") << piece;
    EXPECT_TRUE(d.Ended());
  }
  for (const char* broken : {"x\r\n", "3\nabc", "3\r\nabcd\r\n", "\r\n"}) {
    ChunkedDecoder d;
    d.Feed(reinterpret_cast<const std::uint8_t*>(broken), std::strlen(broken));
    EXPECT_TRUE(d.Failed()) << broken;
  }
}
