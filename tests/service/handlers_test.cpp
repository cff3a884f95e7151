// The request path of a configuration read from disk: request text in,
// responses of each format out.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "module/CRTCMTransformationMessageModule.h"
#include "module/ModuleFixture.h"
#include "rtcm/RtcmTestDecoder.h"
#include "service/RequestAnswer.h"
#include "service/Responses.h"
#include "service/ResultText.h"

namespace tarvik::testing {
namespace {

constexpr const char* kGGA = "$GPGGA,123519,4742.000,N,01454.000,E,1,08,0.9,545.4,M,46.9,M,,*";
constexpr const char* kGGANoAltitude = "$GPGGA,123519,4742.000,N,01454.000,E,1,08,0.9,,M,46.9,M,,*";
constexpr const char* kNotGGA = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Handlers : public ModuleHome {
 protected:
  void SetUp() override {
    ModuleHome::SetUp();
    // Geoid grid over the demo area; heights rise to the north-east.
    std::ofstream out(fs::path(general_.GeoidGridPath) / "geoid.grd");
    out << "48.5 13.5\n47.0 16.0\n0.5 0.5\n4 6\n";
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 6; ++c)
        out << 48.5 - 0.5 * r << " " << 13.5 + 0.5 * c << " " << 47.0 + 0.2 * c - 0.3 * r << "\n";
  }
  // A module without plan database: heights from the geoid grid only.
  std::unique_ptr<CRTCMTransformationMessageModule> Module(std::map<std::string, std::string> edits) {
    edits.emplace("PlanType", "NONE");
    edits.emplace("HeightDB", "geoid.grd");
    WriteIni("Nord", EditIni(BaseModuleIni(), edits));
    auto m = std::make_unique<CRTCMTransformationMessageModule>("Nord", Folder("Nord"));
    EXPECT_EQ(m->ReadConfiguration(general_), 1);
    return m;
  }
  std::string LogText() { return ReadFile(PelLog("Nord").currentPath()); }
};

TEST_F(Handlers, ExecutedRequestGivesOneResponsePerActiveMessageInOrder) {
  auto m =
      Module({{"ActiveMessages", "1025;1021;1024;1023"}, {"InvolvedTransformationMessages", "1010000000"}});
  std::vector<CRTCMASCIIResponse> ascii;
  EXPECT_EQ(AnswerInASCII(kGGA, ascii, m->Settings()), 1);
  ASSERT_EQ(ascii.size(), 3u);  // 1024 gives nothing
  EXPECT_EQ(ascii[0].text.rfind("1025\n", 0), 0u);
  EXPECT_EQ(ascii[1].text.rfind("1021\n", 0), 0u);
  auto lines1023 = Lines(ascii[2].text);
  ASSERT_EQ(lines1023.size(), 65u);  // 64 lines and the end mark
  EXPECT_EQ(lines1023[0], "1023");
  EXPECT_EQ(Lines(ascii[1].text)[10], "47.7000");  // LOCAL: 1021 origin at the request
  EXPECT_EQ(lines1023[4], "47.6994");              // the same in the Bessel frame
  EXPECT_EQ(lines1023[64], "*");
  // Plan code 0: no adjustment, latitude residuals 0; heights from the grid.
  EXPECT_EQ(lines1023[11], "0.00000");
  EXPECT_NE(lines1023[13], "0.000");
  EXPECT_EQ(lines1023[12], "0.00000");

  std::vector<CRTCMXMLResponse> xml;
  AnswerInXML(kGGA, xml, m->Settings());
  ASSERT_EQ(xml.size(), 3u);
  EXPECT_NE(xml[0].text.find("RTCMTransformationMesssage.1025"), std::string::npos);
  EXPECT_EQ(xml[0].text.back(), '*');

  std::vector<CRTCMBinaryResponse> frames;
  AnswerInBinary(kGGA, frames, m->Settings());
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].messageNumber, 1025);
  EXPECT_EQ(frames[2].messageNumber, 1023);
  for (const auto& f : frames) {
    FrameHeader h = DecodeHeader(f.bytes);
    EXPECT_TRUE(h.crcOk && h.sizeOk);
    EXPECT_EQ(f.length(), static_cast<int>(f.bytes.size()));
  }
  Decoded1021 d = Decode1021(frames[1].bytes);
  EXPECT_EQ(d.lat, static_cast<std::int64_t>(47.7 * 1800));
  EXPECT_EQ(d.lon, static_cast<std::int64_t>(14.9 * 1800));
  EXPECT_EQ(d.dx, 0);  // plan code 0: no Helmert parameters
}

TEST_F(Handlers, UnknownRequest) {
  auto m = Module({});
  std::vector<CRTCMASCIIResponse> ascii;
  AnswerInASCII(kNotGGA, ascii, m->Settings());
  ASSERT_EQ(ascii.size(), 1u);
  EXPECT_EQ(ascii[0].text, "Error: Unknown request.");
  std::string log = LogText();
  EXPECT_NE(log.find("MessageType is not NMEA. Other message types are not supported."), std::string::npos);
  EXPECT_NE(log.find("MessageType is neither not NMEA. Other message types are not supported."),
            std::string::npos);

  std::vector<CRTCMXMLResponse> xml;
  AnswerInXML(kNotGGA, xml, m->Settings());
  ASSERT_EQ(xml.size(), 1u);
  EXPECT_EQ(xml[0].text, "Error: Unknown request.");

  // Binary frames carry the invalid area, one per active message.
  std::vector<CRTCMBinaryResponse> frames;
  AnswerInBinary(kNotGGA, frames, m->Settings());
  ASSERT_EQ(frames.size(), 3u);
  Decoded1021 d = Decode1021(frames[0].bytes);
  EXPECT_EQ(d.lat, 90 * 1800);
  EXPECT_EQ(d.extLat, 0);
  EXPECT_EQ(Decode1023(frames[1].bytes).extLon, 0);
}

// A failed request's frames carry the invalid area and whatever the records
// hold from earlier steps, but never a value beyond its field: the request
// may have failed precisely because one did not fit.
TEST_F(Handlers, FailedRequestSendsNoWrappedValue) {
  auto m = Module({{"PlanType", "SAPEN_DB"}, {"PlanDB", "Demo.mdb"}});
  CConfigurationSettings& c = m->Settings();
  c.ResidualGrid.MeanHeightOffset = -170.0;  // left by a request that overran
  c.ResidualGrid.MeanLatitudeOffset = 0.05;  // fits: sent as it is
  c.Helmert.DX = 5000.0;
  c.Helmert.DY = 12.5;
  std::vector<CRTCMBinaryResponse> frames;
  AnswerInBinary(kGGANoAltitude, frames, c);
  ASSERT_EQ(frames.size(), 3u);
  Decoded1021 h = Decode1021(frames[0].bytes);
  EXPECT_EQ(h.lat, 90 * 1800);  // invalid area
  EXPECT_EQ(h.dx, 0);
  EXPECT_EQ(h.dy, 12500);
  Decoded1023 g = Decode1023(frames[1].bytes);
  EXPECT_EQ(g.meanHeight, 0);
  EXPECT_EQ(g.meanLat, 50);
}

TEST_F(Handlers, FailedRequestsFollowTheErrorHandling) {
  auto m = Module({{"ActiveMessages", "1021;1025"}});
  std::vector<CRTCMXMLResponse> xml;
  AnswerInXML(kGGANoAltitude, xml, m->Settings());
  ASSERT_EQ(xml.size(), 2u);
  for (const auto& doc : xml)
    EXPECT_NE(doc.text.find("ErrorMessage=\"Invalid NMEA-String.\""), std::string::npos);

  m = Module({{"Mode", "REGIONAL"}, {"ActiveMessages", "1021;1025"}});
  std::vector<CRTCMASCIIResponse> ascii;
  AnswerInASCII(kGGA, ascii, m->Settings());
  ASSERT_EQ(ascii.size(), 2u);
  const std::string expected = "Error: " + ResultText(kResultRegionalNotImplemented) + "\n*";
  EXPECT_EQ(ascii[0].text, expected);
  EXPECT_EQ(ascii[1].text, expected);
  EXPECT_NE(LogText().find(ResultText(kResultRegionalNotImplemented)), std::string::npos);

  general_.ErrorHandling = CTarvikSettings::kInvalidArea;
  m = Module({{"Mode", "REGIONAL"}, {"ActiveMessages", "1021;1025"}});
  ascii.clear();
  AnswerInASCII(kGGA, ascii, m->Settings());
  ASSERT_EQ(ascii.size(), 2u);
  auto lines = Lines(ascii[0].text);
  ASSERT_EQ(lines.size(), 28u);
  EXPECT_EQ(lines[10], "90.0000");
  EXPECT_EQ(lines[12], " 0.0000");
  EXPECT_EQ(ascii[1].text.rfind("1025\n", 0), 0u);
}

}  // namespace
}  // namespace tarvik::testing
