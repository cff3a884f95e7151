// Command line: modes and the mistakes an operator or a unit file makes.
#include <gtest/gtest.h>

#include "app/CommandLine.h"
#include "app/ConfigurationName.h"

namespace tarvik {
namespace {

TEST(CommandLineTest, ModesAndValues) {
  CommandLine cl;
  std::string err;
  ASSERT_TRUE(ParseCommandLine({}, cl, err));
  EXPECT_TRUE(cl.ServesPanel());
  EXPECT_FALSE(cl.Headless());
  EXPECT_EQ(cl.panelAddress, "127.0.0.1");
  EXPECT_EQ(cl.panelPort, -1);

  ASSERT_TRUE(ParseCommandLine({"--home", "/srv/tarvik", "--start", "Nord", "--start=Sued"}, cl, err)) << err;
  EXPECT_EQ(cl.home, "/srv/tarvik");
  EXPECT_EQ(cl.start, (std::vector<std::string>{"Nord", "Sued"}));
  EXPECT_TRUE(cl.Headless());
  EXPECT_FALSE(cl.ServesPanel());
  EXPECT_FALSE(cl.StartsAll());

  ASSERT_TRUE(ParseCommandLine({"--start", "all", "--panel", "--panel-port", "0"}, cl, err));
  EXPECT_TRUE(cl.StartsAll());
  EXPECT_TRUE(cl.ServesPanel());
  EXPECT_EQ(cl.panelPort, 0);

  ASSERT_TRUE(ParseCommandLine({"--edit", "Nord"}, cl, err));
  EXPECT_FALSE(cl.ServesPanel());

  ASSERT_TRUE(ParseCommandLine({"--home", "/srv/tarvik", "--ntrip-passwd", "*:alice"}, cl, err)) << err;
  EXPECT_EQ(cl.ntripPasswd, "*:alice");
  EXPECT_FALSE(cl.ServesPanel());
  EXPECT_FALSE(cl.Headless());
}

TEST(CommandLineTest, MistakesAreReported) {
  CommandLine cl;
  std::string err;
  for (std::vector<std::string> bad :
       std::vector<std::vector<std::string>>{{"--start"},
                                             {"--start="},
                                             {"--home"},
                                             {"--panel-port", "70000"},
                                             {"--panel-port", "-1"},
                                             {"--panel-port", "80a"},
                                             {"--bogus"},
                                             {"Nord"},
                                             {"--edit", "A", "--start", "B"},
                                             {"--ntrip-passwd", "Nord"},
                                             {"--ntrip-passwd", ":alice"},
                                             {"--ntrip-passwd", "Nord:"},
                                             {"--ntrip-passwd", "Nord:a", "--start", "all"}}) {
    err.clear();
    EXPECT_FALSE(ParseCommandLine(bad, cl, err)) << bad[0];
    EXPECT_FALSE(err.empty());
  }
  EXPECT_TRUE(ParseCommandLine({"--help"}, cl, err));
  EXPECT_TRUE(cl.help);
  EXPECT_NE(CommandLineHelp().find("--start NAME|all"), std::string::npos);
}

TEST(CommandLineTest, MetricsAddressIsAnAddressAndAPort) {
  CommandLine cl;
  std::string err;
  ASSERT_TRUE(ParseCommandLine({"--start", "all"}, cl, err));
  EXPECT_FALSE(cl.ServesMetrics());
  struct {
    const char* text;
    const char* address;
    int port;
  } good[] = {{"0.0.0.0:9464", "0.0.0.0", 9464},
              {"127.0.0.1:0", "127.0.0.1", 0},
              {"[::]:9464", "::", 9464},
              {"[fe80::1%eth0]:65535", "fe80::1%eth0", 65535},
              {"monitor.example:00080", "monitor.example", 80}};
  for (const auto& g : good) {
    ASSERT_TRUE(ParseCommandLine({"--start", "all", "--metrics-address", g.text}, cl, err)) << g.text << err;
    EXPECT_TRUE(cl.ServesMetrics());
    EXPECT_EQ(cl.metricsAddress, g.address);
    EXPECT_EQ(cl.metricsPort, g.port);
  }
  ASSERT_TRUE(ParseCommandLine({"--metrics-address=[::1]:1"}, cl, err));
  EXPECT_EQ(cl.metricsAddress, "::1");
  for (const char* bad : {"9464", ":9464", "host:", "host:65536", "host:+80", "host:-1", "host:80x",
                          "::1:9464", "[::1]9464", "[::1]:", "[]:9464", "[::1", "host:123456"}) {
    err.clear();
    EXPECT_FALSE(ParseCommandLine({"--metrics-address", bad}, cl, err)) << bad;
    EXPECT_NE(err.find("--metrics-address"), std::string::npos) << bad;
  }
  EXPECT_NE(CommandLineHelp().find("--metrics-address ADDR:PORT"), std::string::npos);
}

TEST(ConfigurationNameTest, EmptyNameHasTheDialogText) {
  EXPECT_EQ(CheckConfigurationName(""), "Please specify a name.");
  EXPECT_EQ(CheckConfigurationName("Nord-1_Süd"), "");
  EXPECT_NE(CheckConfigurationName(std::string(101, 'a')), "");
}

}  // namespace
}  // namespace tarvik
