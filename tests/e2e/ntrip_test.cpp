// The NTRIP caster of the real program with real clients: RTKLIB's str2str
// as a rover (NTRIP 1.0 with GGA every second) and curl for the source
// table, the chunked stream of NTRIP 2.0 and the refusals.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "GgaSentence.h"
#include "RtcmDecoder.h"
#include "TarvikProcess.h"
#include "runtime/CFileIni.h"

using namespace e2etest;
namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Cuts a byte stream into RTCM 3 frames; false (with the offset) when any
// byte belongs to no frame or a frame's CRC-24Q fails.
bool CutFrames(const std::string& bytes, std::vector<tarvikclient::Frame>& frames, std::string& why) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (static_cast<unsigned char>(bytes[at]) != 0xD3 || at + 3 > bytes.size()) {
      why = "no frame at byte " + std::to_string(at);
      return false;
    }
    const std::size_t length =
        (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1]) & 0x03u) << 8) |
        static_cast<unsigned char>(bytes[at + 2]);
    if (at + length + 6 > bytes.size()) {
      why = "frame at byte " + std::to_string(at) + " is cut off";
      return false;
    }
    std::vector<std::uint8_t> raw(bytes.begin() + static_cast<long>(at),
                                  bytes.begin() + static_cast<long>(at + length + 6));
    std::optional<tarvikclient::Frame> f = tarvikclient::DecodeFrame(raw);
    if (!f || !f->crcOk) {
      why = "frame at byte " + std::to_string(at) + " fails its CRC-24Q";
      return false;
    }
    frames.push_back(*f);
    at += length + 6;
  }
  return true;
}

// Every field of two decoded messages, raw value by raw value.
void ExpectSameFields(const tarvikclient::DecodedMessage& got, const tarvikclient::DecodedMessage& want) {
  EXPECT_EQ(got.number, want.number);
  EXPECT_TRUE(got.problems.empty());
  ASSERT_EQ(got.fields.size(), want.fields.size()) << got.number;
  for (std::size_t i = 0; i < want.fields.size(); ++i) {
    EXPECT_EQ(got.fields[i].name, want.fields[i].name);
    EXPECT_EQ(got.fields[i].raw, want.fields[i].raw) << got.number << " " << want.fields[i].name;
    EXPECT_EQ(got.fields[i].text, want.fields[i].text) << got.number << " " << want.fields[i].name;
  }
}

class NtripCaster : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<DemoHome>();
    ASSERT_TRUE(home_->Ok());
    tarvik::CFileIni ini(home_->Path() / "Tarvik_General.ini");
    ASSERT_TRUE(ini.WriteString("NtripCaster", "HeadTimeLimit", "1"));
    server_ = std::make_unique<TarvikProcess>(
        home_->Path(),
        std::vector<int>{home_->BinaryPort(), home_->AsciiPort(), home_->XmlPort(), home_->CasterPort()});
    ASSERT_TRUE(server_->Running()) << server_->Output();
    caster_ = "127.0.0.1:" + std::to_string(home_->CasterPort());
  }
  void TearDown() override {
    if (server_) server_->Stop(SIGKILL);
  }
  // curl with its exit status; `out` holds what it wrote.
  int Curl(std::vector<std::string> args, std::string& out, int seconds = 10) {
    args.insert(args.begin(), {"curl", "-s", "--max-time", std::to_string(seconds)});
    return RunBounded(args, out, std::chrono::seconds(seconds + 5), SIGKILL);
  }
  fs::path Temp(const std::string& name) const { return home_->Path().parent_path() / name; }

  std::unique_ptr<DemoHome> home_;
  std::unique_ptr<TarvikProcess> server_;
  std::string caster_;
};

// str2str connects with NTRIP 1.0 and Basic authentication and sends its GGA
// every second; everything it writes out is whole frames that decode to
// exactly what the own protocol answers for the same sentence.
TEST_F(NtripCaster, Str2strRoverGetsTheFramesOfTheOwnProtocol) {
  const fs::path out = Temp("str2str.rtcm3");
  std::string log;
  RunBounded({"str2str", "-in", "ntrip://demo:demo@" + caster_ + "/DemoBinary", "-p", "47.8", "14.9", "500",
              "-n", "1000", "-out", "file://" + out.string()},
             log, std::chrono::milliseconds(3500), SIGINT);

  std::vector<tarvikclient::Frame> frames;
  std::string why;
  const std::string bytes = ReadBytes(out);
  ASSERT_TRUE(CutFrames(bytes, frames, why)) << why << "\n" << log;
  ASSERT_GE(frames.size(), 6u) << "at least two answers in 3.5 s\n" << log;
  ASSERT_EQ(frames.size() % 3, 0u);

  // The sentences str2str sent, as the configuration's log holds them.
  const std::string logs = home_->AllLogs();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(logs, m, std::regex(R"(\(NTRIP 1\.0, mount point DemoBinary, user demo\))")));
  std::vector<std::string> sentences;
  const std::regex request(
      R"(Received request from client \S+ at Date: [^:]+: [\d:]+: (\$G[NP]GGA[^*\n]*\*))");
  for (auto it = std::sregex_iterator(logs.begin(), logs.end(), request); it != std::sregex_iterator(); ++it)
    sentences.push_back((*it)[1]);
  ASSERT_EQ(sentences.size() * 3, frames.size()) << logs;

  // The same sentence through the own protocol of the configuration.
  const std::string sentence = sentences.front() + tarvikclient::NmeaChecksum(sentences.front());
  Connection own(home_->BinaryPort());
  ASSERT_TRUE(own.Send(sentence));
  std::vector<tarvikclient::Frame> expected;
  ASSERT_TRUE(CutFrames(own.ReadReplies(3), expected, why)) << why;
  ASSERT_EQ(expected.size(), 3u);
  EXPECT_NEAR(expected[0].message.Value("LatitudeOfOriginAreaOfValidity"), 47.8, 0.001);
  for (std::size_t i = 0; i < frames.size(); ++i)
    ExpectSameFields(frames[i].message, expected[i % 3].message);
}

TEST_F(NtripCaster, CurlReadsTheSourceTableAndTheChunkedStream) {
  std::string table;
  ASSERT_EQ(Curl({"-H", "Ntrip-Version: Ntrip/2.0", "-D", "-", "http://" + caster_ + "/"}, table), 0);
  EXPECT_EQ(table.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << table;
  EXPECT_NE(table.find("Content-Type: gnss/sourcetable"), std::string::npos);
  EXPECT_NE(
      table.find("\r\nSTR;DemoBinary;DemoBinary;RTCM 3.x;1021(1),1023(1),1025(1);0;;Tarvik;;47.70;14.90;1;0;"
                 "Tarvik;none;B;N;"),
      std::string::npos);
  EXPECT_EQ(table.find("STR;DemoAscii"), std::string::npos);
  EXPECT_EQ(table.find("STR;DemoXml"), std::string::npos);
  EXPECT_NE(table.find("\r\nCAS;127.0.0.1;" + std::to_string(home_->CasterPort()) + ";Tarvik;"),
            std::string::npos);
  EXPECT_EQ(table.substr(table.size() - 16), "ENDSOURCETABLE\r\n");
  std::string one;
  ASSERT_EQ(Curl({"--http0.9", "http://" + caster_ + "/"}, one), 0);
  EXPECT_EQ(one.rfind("SOURCETABLE 200 OK\r\n", 0), 0u) << one;

  // NTRIP 2.0 with the position in the head: curl takes the chunks apart
  // (it fails with 56 on a broken chunk) and stops at its time limit (28).
  const std::string gga = Gga(47.8, 14.9, 500.0);
  const fs::path data = Temp("curl.rtcm3");
  std::string ignored;
  EXPECT_EQ(Curl({"-u", "demo:demo", "-H", "Ntrip-Version: Ntrip/2.0", "-H", "Ntrip-GGA: " + gga, "-o",
                  data.string(), "http://" + caster_ + "/DemoBinary"},
                 ignored, 2),
            28);
  std::vector<tarvikclient::Frame> frames;
  std::string why;
  ASSERT_TRUE(CutFrames(ReadBytes(data), frames, why)) << why;
  ASSERT_EQ(frames.size(), 3u);
  Connection own(home_->BinaryPort());
  ASSERT_TRUE(own.Send(gga));
  std::vector<tarvikclient::Frame> expected;
  ASSERT_TRUE(CutFrames(own.ReadReplies(3), expected, why)) << why;
  for (std::size_t i = 0; i < 3; ++i) ExpectSameFields(frames[i].message, expected[i].message);
}

TEST_F(NtripCaster, RefusalsAnsweredAndLogged) {
  auto status = [&](std::vector<std::string> args) {
    std::string code;
    args.insert(args.begin(), {"-o", "/dev/null", "-w", "%{http_code}", "-H", "Ntrip-Version: Ntrip/2.0"});
    Curl(args, code);
    return code;
  };
  EXPECT_EQ(status({"http://" + caster_ + "/DemoBinary"}), "401");
  EXPECT_EQ(status({"-u", "demo:wrong", "http://" + caster_ + "/DemoBinary"}), "401");
  EXPECT_EQ(status({"-X", "POST", "http://" + caster_ + "/DemoBinary"}), "405");
  EXPECT_EQ(status({"-H", "X-Pad: " + std::string(9000, 'p'), "http://" + caster_ + "/"}), "431");
  EXPECT_EQ(status({"http://" + caster_ + "/" + std::string(9000, 'm')}), "414");
  std::string notFound;
  Curl({"-H", "Ntrip-Version: Ntrip/2.0", "-w", "%{http_code}", "http://" + caster_ + "/DemoAscii"},
       notFound);
  EXPECT_EQ(notFound.substr(notFound.size() - 3), "404");
  EXPECT_NE(notFound.find("STR;DemoBinary;"), std::string::npos);  // 404 with the source table
  std::string bad;
  Curl({"--http0.9", "-u", "demo:wrong", "http://" + caster_ + "/DemoBinary"}, bad);
  EXPECT_EQ(bad, "ERROR - Bad Password\r\n");

  // A head that never ends: 408 after HeadTimeLimit, nobody else waits.
  Connection slow(home_->CasterPort());
  ASSERT_TRUE(slow.Send("GET /DemoBinary HTTP/1.1\r\nNtrip-Version: Ntrip/2.0\r\n"));
  const auto begin = std::chrono::steady_clock::now();
  std::string quick;
  EXPECT_EQ(Curl({"-H", "Ntrip-Version: Ntrip/2.0", "http://" + caster_ + "/"}, quick), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
  EXPECT_EQ(slow.ReadUntilQuiet(std::chrono::seconds(3)).rfind("HTTP/1.1 408 Request Timeout\r\n", 0), 0u);

  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string logs = home_->AllLogs();
  EXPECT_NE(logs.find("NTRIP client 127.0.0.1 refused on mount point DemoBinary: no credentials."),
            std::string::npos);
  EXPECT_NE(logs.find("refused on mount point DemoBinary: wrong user name or password (user \"demo\")."),
            std::string::npos);
  for (const char* line :
       {"refused with 405 Method Not Allowed", "refused with 431 Request Header Fields Too Large",
        "refused with 414 URI Too Long", "refused with 408 Request Timeout",
        "mount point \"DemoAscii\" requested by 127.0.0.1 does not answer in binary frames"})
    EXPECT_NE(logs.find(line), std::string::npos) << line;
  EXPECT_EQ(logs.find("wrong\""), std::string::npos);  // no password in any log
}

// tarvik-client as an NTRIP rover, both versions: the frames it decodes
// and what a rover makes of them, or the caster's refusal.
TEST_F(NtripCaster, TarvikClientIsAnNtripRover) {
  std::string out;
  const std::vector<std::string> position = {"--lat",    "47.8", "--lon",    "14.9",
                                             "--height", "500",  "--expect", "3"};
  for (const char* version : {"1", "2"}) {
    std::vector<std::string> args = {"127.0.0.1",       std::to_string(home_->CasterPort()),
                                     "--ntrip",         "DemoBinary",
                                     "--user",          "demo:demo",
                                     "--ntrip-version", version,
                                     "--repeat",        "2",
                                     "--apply"};
    args.insert(args.end(), position.begin(), position.end());
    EXPECT_EQ(RunClient(args, out), 0) << out;
    int frames = 0;
    for (std::size_t at = out.find("CRC-24Q ok"); at != std::string::npos;
         at = out.find("CRC-24Q ok", at + 1))
      ++frames;
    EXPECT_EQ(frames, 6) << out;
    EXPECT_NE(out.find("rover: target latitude 47.80"), std::string::npos) << out;
  }
  std::vector<std::string> refused = {
      "127.0.0.1", std::to_string(home_->CasterPort()), "--ntrip", "DemoBinary", "--ntrip-version", "1"};
  refused.insert(refused.end(), position.begin(), position.end());
  EXPECT_EQ(RunClient(refused, out), 4);
  EXPECT_NE(out.find("ERROR - Bad Password"), std::string::npos);
  refused[3] = "DemoXml";
  EXPECT_EQ(RunClient(refused, out), 4);
  EXPECT_NE(out.find("SOURCETABLE 200 OK"), std::string::npos);
}

}  // namespace
