// The NTRIP caster's texts: request heads and credentials as clients send
// them, the source table and answers, chunks, and the lines of a rover.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "runtime/LoopbackPeer.h"
#include "service/NtripAnswers.h"
#include "service/NtripRequest.h"
#include "service/NtripSession.h"
#include "service/NtripSourceTable.h"

namespace tarvik {
namespace {

using testing::WithChecksum;

TEST(NtripRequestHead, RequestLinesOfBothVersionsAndWhatIsRefused) {
  NtripRequestHead h;
  ASSERT_EQ(ParseNtripRequestLine("GET /DemoBinary HTTP/1.0\r", h), kNtripHeadOK);
  EXPECT_EQ(h.method, "GET");
  EXPECT_EQ(h.target, "/DemoBinary");
  EXPECT_EQ(h.httpVersion, "HTTP/1.0");
  ASSERT_EQ(ParseNtripRequestLine("SOURCE /x HTTP/1.1", h), kNtripHeadOK);  // the caster refuses it later
  EXPECT_EQ(h.method, "SOURCE");
  // A proxy's absolute form keeps its path only.
  ASSERT_EQ(ParseNtripRequestLine("GET http://caster.example:2101/M HTTP/1.1", h), kNtripHeadOK);
  EXPECT_EQ(h.target, "/M");
  ASSERT_EQ(ParseNtripRequestLine("GET http://caster.example HTTP/1.1", h), kNtripHeadOK);
  EXPECT_EQ(h.target, "/");

  for (const char* bad : {"", "GET", "GET /", "GET / HTTP/1.0 extra", "GET  / HTTP/1.0", "GET / HTTP/2.0",
                          "GET / RTSP/1.0", "GET M HTTP/1.0", "G(T / HTTP/1.0", "GET /a\tb HTTP/1.0",
                          "GET /\x80 HTTP/1.0", " GET / HTTP/1.0", "GET / http/1.0"}) {
    NtripRequestHead b;
    EXPECT_EQ(ParseNtripRequestLine(bad, b), kNtripHeadMalformed) << bad;
  }
}

TEST(NtripRequestHead, FieldsVersionAndMountPoint) {
  NtripRequestHead h;
  ASSERT_EQ(ParseNtripRequestLine("GET /Demo%42inary?x=1 HTTP/1.1", h), kNtripHeadOK);
  ASSERT_EQ(ParseNtripHeaderField("Host: caster:2101\r", h), kNtripHeadOK);
  ASSERT_EQ(ParseNtripHeaderField("ntrip-version:   Ntrip/2.0  ", h), kNtripHeadOK);
  ASSERT_EQ(ParseNtripHeaderField("Empty:", h), kNtripHeadOK);
  EXPECT_EQ(h.field("HOST"), "caster:2101");
  EXPECT_TRUE(h.ntrip2());
  EXPECT_TRUE(h.hasField("empty"));
  EXPECT_EQ(h.field("Empty"), "");
  EXPECT_FALSE(h.hasField("Authorization"));
  std::string mount;
  ASSERT_EQ(h.mountPoint(mount), kNtripHeadOK);
  EXPECT_EQ(mount, "DemoBinary");

  NtripRequestHead one;
  ASSERT_EQ(ParseNtripRequestLine("GET / HTTP/1.1", one), kNtripHeadOK);
  EXPECT_FALSE(one.ntrip2());  // HTTP/1.1 alone is not NTRIP 2.0
  ASSERT_EQ(ParseNtripHeaderField("Ntrip-Version: Ntrip/1.0", one), kNtripHeadOK);
  EXPECT_FALSE(one.ntrip2());
  ASSERT_EQ(one.mountPoint(mount), kNtripHeadOK);
  EXPECT_EQ(mount, "");

  for (const char* target : {"/%4", "/%zz", "/%"}) {
    NtripRequestHead b;
    b.target = target;
    EXPECT_EQ(b.mountPoint(mount), kNtripHeadMalformed) << target;
  }
  for (const char* bad :
       {"NoColon", " Folded: line", "Name : value", ": value", "Na me: v", "Bell: a\x07z"}) {
    NtripRequestHead b;
    EXPECT_EQ(ParseNtripHeaderField(bad, b), kNtripHeadMalformed) << bad;
  }
}

TEST(NtripCredentialsTest, BasicAuthorizationAndItsMalformations) {
  std::string bytes;
  ASSERT_TRUE(DecodeBase64("dXNlcjpwYXNz", bytes));
  EXPECT_EQ(bytes, "user:pass");
  ASSERT_TRUE(DecodeBase64("YTpi", bytes));
  EXPECT_EQ(bytes, "a:b");
  ASSERT_TRUE(DecodeBase64("YTpiYw==", bytes));
  EXPECT_EQ(bytes, "a:bc");
  ASSERT_TRUE(DecodeBase64("YTpiYw", bytes));  // padding left out
  EXPECT_EQ(bytes, "a:bc");
  for (const char* bad : {"YTpiYw=", "YTpiY===", "Y", "YTp!", "YTpiYx==", "YT=i"})
    EXPECT_FALSE(DecodeBase64(bad, bytes)) << bad;

  NtripCredentials c = ParseNtripAuthorization("Basic dXNlcjpwYTpzcw==");  // user:pa:ss
  EXPECT_EQ(c.kind, NtripCredentials::kBasic);
  EXPECT_EQ(c.user, "user");
  EXPECT_EQ(c.password, "pa:ss");
  c = ParseNtripAuthorization("bAsIc   Ojo=");  // "::": empty user, password ":"
  EXPECT_EQ(c.kind, NtripCredentials::kBasic);
  EXPECT_EQ(c.user, "");
  EXPECT_EQ(c.password, ":");
  EXPECT_EQ(ParseNtripAuthorization("Digest username=\"x\"").kind, NtripCredentials::kOtherScheme);
  for (const char* bad :
       {"Basic", "Basic ", "Basic bm9jb2xvbg==", "Basic dXNlcjpwYXNz extra", "Basic ***", "B@sic abc"})
    EXPECT_EQ(ParseNtripAuthorization(bad).kind, NtripCredentials::kMalformed) << bad;
}

TEST(NtripSourceTableTest, LinesAndTheirFields) {
  NtripStreamEntry a{"DemoBinary", "DemoBinary", {1021, 1023, 1025}, 47.7, 14.9, true};
  NtripStreamEntry b{"Germany", "Demo;Germany", {1023}, 51.1, 10.1, false};
  const std::string strA = NtripStrLine(a);
  EXPECT_EQ(
      strA,
      "STR;DemoBinary;DemoBinary;RTCM 3.x;1021(1),1023(1),1025(1);0;;Tarvik;;47.70;14.90;1;0;Tarvik;none;B;"
      "N;0;Transformation messages\r\n");
  // 19 fields, whatever the values.
  const std::string strB = NtripStrLine(b);
  EXPECT_EQ(std::count(strB.begin(), strB.end(), ';'), 18);
  EXPECT_NE(strB.find(";Demo_Germany;RTCM 3.x;1023(1);"), std::string::npos);
  EXPECT_NE(strB.find(";51.10;10.10;1;0;Tarvik;none;N;"), std::string::npos);

  NtripCasterEntry caster;
  caster.host = "caster.example";
  caster.port = 2100;
  const std::string table = NtripSourceTable({a, b}, caster);
  EXPECT_EQ(table,
            strA + strB +
                "CAS;caster.example;2100;Tarvik;Tarvik;1;;49.40;12.50;0.0.0.0;0;Transformation messages "
                "1021 1023 1025\r\nENDSOURCETABLE\r\n");
  EXPECT_EQ(NtripSourceTable({}, caster).rfind("CAS;caster.example;2100;Tarvik;Tarvik;1;;0.00;0.00;", 0), 0u);
  EXPECT_EQ(NtripFormatDetails({}), "");
}

TEST(NtripAnswersTest, StreamStartsTablesRefusalsAndChunks) {
  const std::time_t t = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT
  EXPECT_EQ(HttpDate(t), "Tue, 14 Nov 2023 22:13:20 GMT");
  EXPECT_EQ(NtripStreamStart(false, t), "ICY 200 OK\r\n");
  const std::string start2 = NtripStreamStart(true, t);
  EXPECT_EQ(start2.rfind("HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u);
  EXPECT_NE(start2.find("Content-Type: gnss/data\r\n"), std::string::npos);
  EXPECT_NE(start2.find("Transfer-Encoding: chunked\r\n"), std::string::npos);
  EXPECT_EQ(start2.substr(start2.size() - 4), "\r\n\r\n");

  const std::string table = "CAS;h;1;Tarvik;Tarvik;1;;0.00;0.00;0.0.0.0;0;x\r\nENDSOURCETABLE\r\n";
  const std::string one = NtripSourceTableAnswer(false, 404, table, t);
  EXPECT_EQ(one.rfind("SOURCETABLE 200 OK\r\n", 0), 0u);  // NTRIP 1.0 has no 404
  EXPECT_EQ(one.substr(one.size() - table.size()), table);
  EXPECT_NE(one.find("Content-Length: " + std::to_string(table.size()) + "\r\n\r\n"), std::string::npos);
  const std::string two = NtripSourceTableAnswer(true, 404, table, t);
  EXPECT_EQ(two.rfind("HTTP/1.1 404 Not Found\r\nNtrip-Version: Ntrip/2.0\r\n", 0), 0u);
  EXPECT_NE(two.find("Content-Type: gnss/sourcetable\r\n"), std::string::npos);
  EXPECT_EQ(two.substr(two.size() - table.size()), table);

  const std::string refusal = NtripHttpRefusal("HTTP/1.0", false, 405, "Allow: GET\r\n", t);
  EXPECT_EQ(refusal.rfind("HTTP/1.0 405 Method Not Allowed\r\n", 0), 0u);
  EXPECT_EQ(refusal.find("Ntrip-Version"), std::string::npos);
  EXPECT_NE(refusal.find("Allow: GET\r\n"), std::string::npos);
  const std::size_t body = refusal.find("\r\n\r\n") + 4;
  EXPECT_NE(refusal.find("Content-Length: " + std::to_string(refusal.size() - body) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(NtripBadPassword(), "ERROR - Bad Password\r\n");

  EXPECT_EQ(NtripChunk("abc"), "3\r\nabc\r\n");
  EXPECT_EQ(NtripChunk(std::string(300, 'x')).substr(0, 5), "12C\r\n");
  EXPECT_EQ(NtripChunk({}), "0\r\n\r\n");
  const std::string binary("\xD3\x00\r\n\x00", 5);
  EXPECT_EQ(NtripChunk(binary), "5\r\n" + binary + "\r\n");
}

TEST(RoverLines, GgaSentencesOtherLinesAndChecksums) {
  const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,";
  RoverLine r = ClassifyRoverLine(WithChecksum(gga) + "\r");
  EXPECT_EQ(r.kind, RoverLine::kGga);
  EXPECT_EQ(r.request, gga + "*");  // as the own protocol reads a request
  // Any talker, any case, trailing blanks, lower-case checksum digits.
  std::string gn = WithChecksum("$gngga,1,4807.0,n,01131.0,e,1,08,0.9,545.4,m,46.9,m,,");
  for (char& c : gn) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // the digits
  EXPECT_EQ(ClassifyRoverLine(gn + "  \r").kind, RoverLine::kGga);

  EXPECT_EQ(ClassifyRoverLine("").kind, RoverLine::kEmpty);
  EXPECT_EQ(ClassifyRoverLine("\r").kind, RoverLine::kEmpty);
  EXPECT_EQ(ClassifyRoverLine(WithChecksum("$GPRMC,123519,A,4807.038,N")).kind, RoverLine::kOther);
  EXPECT_EQ(ClassifyRoverLine("hello").kind, RoverLine::kOther);
  EXPECT_EQ(ClassifyRoverLine("3A").kind, RoverLine::kOther);  // a chunk size from a chunked upload
  // "GGA" somewhere else than the address field does not make a GGA sentence.
  EXPECT_EQ(ClassifyRoverLine(WithChecksum("$GPRMC,GGA")).kind, RoverLine::kOther);
  EXPECT_EQ(ClassifyRoverLine(WithChecksum("$GGA,1")).kind, RoverLine::kOther);
  EXPECT_EQ(ClassifyRoverLine(gga).kind, RoverLine::kGgaWithoutChecksum);

  std::string wrong = WithChecksum(gga);
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  EXPECT_EQ(ClassifyRoverLine(wrong).kind, RoverLine::kWrongChecksum);
  EXPECT_EQ(ClassifyRoverLine(gga + "*").kind, RoverLine::kWrongChecksum);
  EXPECT_EQ(ClassifyRoverLine(gga + "*4").kind, RoverLine::kWrongChecksum);
  EXPECT_EQ(ClassifyRoverLine(WithChecksum(gga) + "0").kind, RoverLine::kWrongChecksum);
  EXPECT_EQ(ClassifyRoverLine(gga + "*G0").kind, RoverLine::kWrongChecksum);
  EXPECT_EQ(ClassifyRoverLine(WithChecksum("$GPRMC,1") + "x").kind, RoverLine::kWrongChecksum);
}

}  // namespace
}  // namespace tarvik
