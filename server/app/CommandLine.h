#pragma once
// The program's command line.
//
//   Tarvik [--home DIR] [--panel-address ADDR] [--panel-port PORT]
//          [--start NAME|all]... [--panel] [--edit NAME]
//          [--ntrip-passwd MOUNT:USER] [--metrics-address ADDR:PORT] [--help]
//
// Without --start the program serves the control panel until the operator
// exits there. With --start it runs headless: the named configurations
// start at once and the program serves until SIGINT or SIGTERM; --panel
// serves the control panel as well. --edit opens one configuration file in
// the text editor of the general settings and ends when the editor returns.
// --ntrip-passwd sets a password of the NTRIP caster's users file (read
// from standard input) and ends. --metrics-address serves the metrics page
// alone on an address of its own.

#include <string>
#include <vector>

namespace tarvik {

struct CommandLine {
  bool help = false;
  std::string home;  // program folder override
  std::string panelAddress = "127.0.0.1";
  int panelPort = -1;              // -1: the default port
  std::vector<std::string> start;  // names; "all" stands for every one
  bool panel = false;              // panel also while headless
  std::string edit;                // configuration to edit
  std::string ntripPasswd;         // MOUNT:USER whose password is set
  std::string metricsAddress;      // with metricsPort, when served
  int metricsPort = -1;            // -1: no metrics server

  bool Headless() const { return !start.empty(); }
  bool ServesPanel() const { return edit.empty() && ntripPasswd.empty() && (!Headless() || panel); }
  bool StartsAll() const;
  bool ServesMetrics() const { return metricsPort >= 0; }
};

// Parses argv[1..]. On a mistake returns false and sets `error`.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string CommandLineHelp();

// Splits "ADDR:PORT" ("[v6]:PORT" for an IPv6 address) into an address and
// a port from 0 to 65535; false when the text is not of that form.
bool SplitListenAddress(const std::string& text, std::string& address, int& port);

}  // namespace tarvik
