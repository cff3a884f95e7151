#include "app/CommandLine.h"

#include <algorithm>

namespace tarvik {

namespace {
constexpr int kHighestPort = 65535;
}

bool CommandLine::StartsAll() const { return std::find(start.begin(), start.end(), "all") != start.end(); }

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  out = CommandLine{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::string value;
    bool inlineValue = false;
    // --option=value is accepted as well as --option value.
    if (arg.rfind("--", 0) == 0) {
      std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        inlineValue = true;
      }
    }
    auto needValue = [&](std::string& into) {
      if (!inlineValue) {
        if (i + 1 >= args.size()) {
          error = "Option " + arg + " needs a value.";
          return false;
        }
        value = args[++i];
      }
      if (value.empty()) {
        error = "Option " + arg + " needs a value.";
        return false;
      }
      into = value;
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      out.help = true;
    } else if (arg == "--home") {
      if (!needValue(out.home)) return false;
    } else if (arg == "--panel-address") {
      if (!needValue(out.panelAddress)) return false;
    } else if (arg == "--panel-port") {
      std::string p;
      if (!needValue(p)) return false;
      if (p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos || std::stoi(p) > 65535) {
        error = "Option --panel-port needs a port number from 0 to 65535.";
        return false;
      }
      out.panelPort = std::stoi(p);
    } else if (arg == "--start") {
      std::string name;
      if (!needValue(name)) return false;
      out.start.push_back(name);
    } else if (arg == "--panel") {
      out.panel = true;
    } else if (arg == "--edit") {
      if (!needValue(out.edit)) return false;
    } else if (arg == "--ntrip-passwd") {
      if (!needValue(out.ntripPasswd)) return false;
      const std::size_t colon = out.ntripPasswd.find(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == out.ntripPasswd.size()) {
        error = "Option --ntrip-passwd needs MOUNT:USER.";
        return false;
      }
    } else if (arg == "--metrics-address") {
      std::string a;
      if (!needValue(a)) return false;
      if (!SplitListenAddress(a, out.metricsAddress, out.metricsPort)) {
        error = "Option --metrics-address needs ADDR:PORT, e.g. 0.0.0.0:9464 or [::1]:9464.";
        return false;
      }
    } else {
      error = "Unknown option " + args[i] + ". See --help.";
      return false;
    }
  }
  if (!out.edit.empty() && out.Headless()) {
    error = "Options --edit and --start cannot be combined.";
    return false;
  }
  if (!out.ntripPasswd.empty() && (out.Headless() || !out.edit.empty())) {
    error = "Option --ntrip-passwd cannot be combined with --start or --edit.";
    return false;
  }
  return true;
}

std::string CommandLineHelp() {
  return "Usage: Tarvik [options]\n"
         "\n"
         "Transformation message server: answers NMEA GGA requests with RTCM 3\n"
         "transformation messages 1021, 1023 and 1025, one TCP port per configuration.\n"
         "\n"
         "Without --start the control panel is served on the panel address and the\n"
         "program runs until \"Exit\" is pressed there (or SIGINT/SIGTERM).\n"
         "\n"
         "  --home DIR            program folder: Tarvik_General.ini, ConfigurationTemplate.ini,\n"
         "                        Log/ and relative paths (default: the executable's folder)\n"
         "  --panel-address ADDR  address of the control panel (default 127.0.0.1; any other\n"
         "                        address makes the panel reachable from the network)\n"
         "  --panel-port PORT     port of the control panel (default 8470; 0 picks a free one)\n"
         "  --start NAME|all      run headless: start this configuration (repeatable) or all,\n"
         "                        serve until SIGINT/SIGTERM, then stop cleanly\n"
         "  --panel               with --start: serve the control panel as well\n"
         "  --edit NAME           open the configuration file of NAME in the TextEditor of the\n"
         "                        general settings and end when the editor returns\n"
         "  --ntrip-passwd MOUNT:USER\n"
         "                        set the password of USER on the NTRIP mount point MOUNT (\"*\":\n"
         "                        every mount point) in the caster's users file; the password\n"
         "                        is read from standard input and stored hashed\n"
         "  --metrics-address ADDR:PORT\n"
         "                        serve the metrics page (Prometheus text format) at\n"
         "                        http://ADDR:PORT/metrics, read-only and without token, for a\n"
         "                        scraper on another host ([v6]:PORT for IPv6; port 0 picks one)\n"
         "  --help                this text\n"
         "\n"
         "The panel's URL and its access token are printed at start; the token is also\n"
         "stored in Tarvik_Panel.token beside the general settings file. Every panel\n"
         "request must carry it in the header X-Tarvik-Token; so must /metrics on the\n"
         "panel's port.\n";
}

bool SplitListenAddress(const std::string& text, std::string& address, int& port) {
  std::string host, digits;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
    host = text.substr(1, close - 1);
    digits = text.substr(close + 2);
  } else {
    const std::size_t colon = text.rfind(':');
    // More than one colon: an IPv6 address without its brackets.
    if (colon == std::string::npos || text.find(':') != colon) return false;
    host = text.substr(0, colon);
    digits = text.substr(colon + 1);
  }
  if (host.empty() || digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int value = std::stoi(digits);
  if (value > kHighestPort) return false;
  address = host;
  port = value;
  return true;
}

}  // namespace tarvik
