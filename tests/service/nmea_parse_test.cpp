#include "runtime/ProgramFolder.h"
#include "service/RTCMMessageRequest.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarvik {
namespace {

// The request's execution members are not needed for parsing.
class ParseOnlyRequest : public RTCMMessageRequest {
 public:
  int Execute() override { return 1; }
  int CreateASCIIResponses(std::vector<CRTCMASCIIResponse>&) override { return 1; }
  int CreateXMLResponses(std::vector<CRTCMXMLResponse>&) override { return 1; }
  int CreateBinaryResponses(std::vector<CRTCMBinaryResponse>&) override { return 1; }
};

class NmeaParse : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::filesystem::temp_directory_path() /
            ("tarvik_nmea_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(home_);
    SetProgramFolder(home_);
    req_.setLogConfiguration("ParseTest");
  }
  void TearDown() override {
    SetProgramFolder({});
    std::filesystem::remove_all(home_);
  }
  // Log lines below the header (lines carrying a source column).
  std::vector<std::string> LogLines() {
    std::ifstream in(req_.log().currentPath());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
      if (line.find("[RTCMMessageRequest]") != std::string::npos) lines.push_back(line);
    return lines;
  }
  int Count(const std::string& severity, const std::string& text) {
    int n = 0;
    for (const auto& l : LogLines())
      if (l.find(severity) != std::string::npos && l.find(text) != std::string::npos) ++n;
    return n;
  }

  std::filesystem::path home_;
  ParseOnlyRequest req_;
};

const char* kSentence = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*";

TEST_F(NmeaParse, FullSentenceGivesPositionAndTextFields) {
  EXPECT_EQ(req_.Parse(kSentence), 1);
  EXPECT_EQ(req_.resultCode, 1);
  EXPECT_EQ(req_.messageType, 1);
  EXPECT_NEAR(req_.latitude, 48.1173, 1e-12);
  EXPECT_NEAR(req_.longitude, 11.516666666666667, 1e-12);
  EXPECT_NEAR(req_.height, 592.3, 1e-9);
  EXPECT_NEAR(req_.geoidalSeparation, 46.9, 1e-12);
  EXPECT_EQ(req_.UTC, "123519");
  EXPECT_EQ(req_.quality, "1");
  EXPECT_EQ(req_.numberOfSatellites, "08");
  EXPECT_EQ(req_.HDOP, "0.9");
  EXPECT_EQ(req_.ageOfData, "");
  EXPECT_EQ(req_.referenceStation, "");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Count("[WARNING]", "AgeOfData missing in NMEA-String"), 1);
  EXPECT_EQ(Count("[WARNING]", "ReferenceStation information missing in NMEA-String"), 1);
}

TEST_F(NmeaParse, HemispheresTalkersCaseAndLeadingCharacters) {
  EXPECT_EQ(req_.Parse("\r\n  $gngga,123519,4807.038,s,01131.000,w,1,08,0.9,545.4,M,46.9,M,2.5,0042*"), 1);
  EXPECT_NEAR(req_.latitude, -48.1173, 1e-12);
  EXPECT_NEAR(req_.longitude, -11.516666666666667, 1e-12);
  EXPECT_EQ(req_.ageOfData, "2.5");
  EXPECT_EQ(req_.referenceStation, "0042");
  EXPECT_TRUE(LogLines().empty());

  // Hemisphere letters other than S/W count as north/east.
  ParseOnlyRequest other;
  EXPECT_EQ(other.Parse("$GPGGA,1,4807.038,X,01131.000,Q,1,08,0.9,545.4,M,46.9,M,,*"), 1);
  EXPECT_GT(other.latitude, 0);
  EXPECT_GT(other.longitude, 0);
}

TEST_F(NmeaParse, OptionalFieldsMissing) {
  EXPECT_EQ(req_.Parse("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,,M,,*"), 1);
  EXPECT_NEAR(req_.height, 545.4, 1e-12);
  EXPECT_EQ(req_.geoidalSeparation, 0.0);
  EXPECT_EQ(Count("[ERROR]", "GeoidalSeparation missing in NMEA-String"), 1);

  ParseOnlyRequest r;
  r.setLogConfiguration("ParseTest");
  EXPECT_EQ(r.Parse("$GPGGA,,4807.038,N,01131.000,E,,,,545.4,M,x,M,,*"), 1);
  EXPECT_NEAR(r.height, 545.4, 1e-12);  // a separation that is no number counts as missing
  EXPECT_EQ(Count("[WARNING]", "UTC missing"), 1);
  EXPECT_EQ(Count("[WARNING]", "Quality missing in NMEA-String"), 1);
  EXPECT_EQ(Count("[WARNING]", "Number of satellites missing in NMEA-String"), 1);
  EXPECT_EQ(Count("[WARNING]", "HorizontalDilutionOfPrecision missing in NMEA-String"), 1);
  EXPECT_EQ(Count("[ERROR]", "GeoidalSeparation missing"), 2);
}

TEST_F(NmeaParse, NotGGAIsUnknownRequest) {
  EXPECT_EQ(req_.Parse("$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*"), -1000);
  EXPECT_EQ(req_.resultCode, -1000);
  EXPECT_EQ(req_.messageType, -1);
  EXPECT_EQ(Count("[ERROR]", "MessageType is not NMEA. Other message types are not supported."), 1);
  EXPECT_EQ(req_.CheckMessageType("xxggayy"), 1);  // the letters anywhere make it GGA
  EXPECT_EQ(req_.messageType, 1);
  // In any case, also at the very end; an interrupted or cut-off GGA is none.
  for (const char* text : {"gGa", "$GPRMC,gGA", "ggaG"}) EXPECT_EQ(req_.CheckMessageType(text), 1) << text;
  for (const char* text : {"GG", "G GA", "GGB", "\xc7\xc7\xc1", "", "gg-a"})
    EXPECT_EQ(req_.CheckMessageType(text), -1000) << text;
}

TEST_F(NmeaParse, MandatoryFieldsMissingEndTheParse) {
  struct Case {
    const char* text;
    const char* error;
    int warnings;
  };
  const Case cases[] = {
      {"$GPGGA,,,,,,,,,,,,,,*", "Latitude missing in NMEA-String", 1},
      {"$GPGGA,1,4807.038,,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*", "Latitude missing in NMEA-String", 0},
      {"$GPGGA,1,4807.038,N,,E,1,08,0.9,545.4,M,46.9,M,,*", "Longitude missing in NMEA-String", 0},
      {"$GPGGA,1,4807.038,N,01131.000,,1,08,0.9,545.4,M,46.9,M,,*", "Longitude missing in NMEA-String", 0},
      {"$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,,M,46.9,M,,*", "Height missing in NMEA-String", 0},
      {"$GPGGA,1,4807.038,N", "Latitude missing in NMEA-String", 0},  // no separator after N
      {"GGA*", "Latitude missing in NMEA-String", 1},
  };
  for (const Case& c : cases) {
    ParseOnlyRequest r;
    r.setLogConfiguration("ParseTest");
    std::filesystem::remove_all(home_);
    EXPECT_EQ(r.Parse(c.text), -1003) << c.text;
    EXPECT_EQ(r.resultCode, -1003) << c.text;
    EXPECT_EQ(Count("[ERROR]", c.error), 1) << c.text;
    EXPECT_EQ(static_cast<int>(LogLines().size()), 1 + c.warnings) << c.text;
  }
}

TEST_F(NmeaParse, MalformedNumbersAreRejectedNotInvented) {
  const char* bad[] = {
      "$GPGGA,1,4807,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*",      // no decimal point
      "$GPGGA,1,07.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*",    // no degree digits
      "$GPGGA,1,48a7.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*",  // not a number
      "$GPGGA,1,4867.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*",  // 67 minutes
      "$GPGGA,1,9107.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*",  // beyond the pole
      "$GPGGA,1,4807.038,N,18131.000,E,1,08,0.9,545.4,M,46.9,M,,*",  // beyond 180
      "$GPGGA,1,4807.038,N,.5,E,1,08,0.9,545.4,M,46.9,M,,*",
      "$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,abc,M,46.9,M,,*",  // altitude not a number
      "$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,nan,M,46.9,M,,*",
      "$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,inf,M,46.9,M,,*",
      "$GPGGA,1,4807.038,N,01131.000,E,1,08,0.9,1e999,M,46.9,M,,*",
  };
  for (const char* text : bad) {
    ParseOnlyRequest r;
    EXPECT_EQ(r.Parse(text), -1003) << text;
  }
  // Trailing characters after a number are ignored, as the C conversion does.
  ParseOnlyRequest r;
  EXPECT_EQ(r.Parse("$GPGGA,1,4807.038xyz,N,01131.,E,1,08,0.9,545.4M,M,+46.9 ,M,,*"), 1);
  EXPECT_NEAR(r.latitude, 48.1173, 1e-12);
  EXPECT_NEAR(r.longitude, 11.516666666666667, 1e-12);
  EXPECT_NEAR(r.height, 592.3, 1e-9);
}

TEST_F(NmeaParse, GarbageAndEmbeddedNulNeverCrash) {
  std::string garbage;
  unsigned state = 12345;
  for (int i = 0; i < 8192; ++i) {
    state = state * 1103515245u + 12345u;
    garbage += static_cast<char>(state >> 16);
  }
  ParseOnlyRequest a;
  int rc = a.Parse(garbage);
  EXPECT_TRUE(rc == -1000 || rc == -1003);
  ParseOnlyRequest b;
  rc = b.Parse("GGA" + garbage + std::string(",,,\0,*", 6));
  EXPECT_TRUE(rc == -1000 || rc == -1003);

  std::string withNul("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*", 63);
  withNul[16] = '\0';  // inside the degrees and minutes of the latitude
  ParseOnlyRequest c;
  EXPECT_EQ(c.Parse(withNul), -1003);
  ParseOnlyRequest d;
  EXPECT_EQ(d.Parse(std::string("\0\0\0", 3)), -1000);
}

TEST(NextNMEAField, SeparatorsAndTrimming) {
  std::string rest = "  a , b*c ";
  EXPECT_EQ(RTCMMessageRequest::NextNMEAField(rest), "a");
  EXPECT_EQ(rest, " b*c");
  EXPECT_EQ(RTCMMessageRequest::NextNMEAField(rest), "b");
  EXPECT_EQ(rest, "c");
  EXPECT_EQ(RTCMMessageRequest::NextNMEAField(rest), "");
  EXPECT_EQ(rest, "c");  // no separator: nothing is taken
  rest = "";
  EXPECT_EQ(RTCMMessageRequest::NextNMEAField(rest), "");
}

TEST(ConvertNMEAAngle, DegreesAndMinutes) {
  EXPECT_NEAR(RTCMMessageRequest::ConvertNMEAAngle("4807.038"), 48.1173, 1e-12);
  EXPECT_NEAR(RTCMMessageRequest::ConvertNMEAAngle("01131.000"), 11.516666666666667, 1e-12);
  EXPECT_NEAR(RTCMMessageRequest::ConvertNMEAAngle("-4830.0"), -48.5, 1e-12);
  EXPECT_NEAR(RTCMMessageRequest::ConvertNMEAAngle("000.5"), 0.5 / 60, 1e-15);
  EXPECT_EQ(RTCMMessageRequest::ConvertNMEAAngle("4807"), 0.0);
}

}  // namespace
}  // namespace tarvik
