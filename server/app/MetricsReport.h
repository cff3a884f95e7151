#pragma once
// The program's metrics page: per configuration (label configuration="NAME")
//
//   tarvik_configuration_state{state="running|ready|problems"}  gauge, 1 for
//                                           the configuration's state, else 0
//   tarvik_requests_total{code="1|-2007|..."}  counter, requests answered
//                                           through the request path by result code
//   tarvik_request_duration_seconds         histogram, from reading a request to
//                                           its last byte sent
//   tarvik_sessions_open                    gauge
//   tarvik_sessions_total                   counter
//   tarvik_send_failures_total              counter, failed sends other than time-outs
//   tarvik_send_timeouts_total              counter, replies not taken in time
//   tarvik_database_loads_total             counter
//   tarvik_database_load_failures_total     counter
//
// and for the process tarvik_uptime_seconds and tarvik_build_info{version}.
// Every counter counts since the program started; a configuration removed
// from the set leaves the page with its figures.

#include <chrono>
#include <string>
#include <vector>

#include "app/IConfigurationModule.h"

namespace tarvik {

class CConfigurationSet;

struct ConfigurationFigures {
  std::string name;
  std::string state;  // "running", "ready" or "problems", as the panel shows it
  ModuleFigures figures;
};

struct ProcessFigures {
  std::string version;
  double uptimeSeconds = 0.0;
};

// The state a configuration is shown in.
const char* ConfigurationState(const IConfigurationModule& module);

// The page for these figures.
std::string RenderMetrics(const std::vector<ConfigurationFigures>& configurations,
                          const ProcessFigures& process);

// The figures of every configuration of the set, taken under the set's
// mutex, and of this process.
std::vector<ConfigurationFigures> CollectConfigurationFigures(const CConfigurationSet& set);
ProcessFigures CollectProcessFigures();

// The page as it stands now.
std::string MetricsPage(const CConfigurationSet& set);

}  // namespace tarvik
