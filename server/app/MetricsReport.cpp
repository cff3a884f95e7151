#include "app/MetricsReport.h"

#include <mutex>

#include "app/CConfigurationSet.h"
#include "app/MetricsExposition.h"

#ifndef TARVIK_VERSION
#define TARVIK_VERSION "1.0.0"
#endif

namespace tarvik {
namespace {

// Taken while the program is loaded, before main runs.
const std::chrono::steady_clock::time_point gProcessStart = std::chrono::steady_clock::now();

constexpr const char* kStates[] = {"running", "ready", "problems"};

MetricLabels Of(const ConfigurationFigures& c) { return {{"configuration", c.name}}; }

// One family with one sample per configuration.
template <typename Value>
void PerConfiguration(MetricsExposition& out, const std::vector<ConfigurationFigures>& configurations,
                      const char* name, const char* type, const char* help, Value value) {
  out.Family(name, type, help);
  for (const ConfigurationFigures& c : configurations) out.Sample(name, Of(c), value(c.figures));
}

}  // namespace

const char* ConfigurationState(const IConfigurationModule& module) {
  if (module.IsRunning()) return "running";
  return module.IsValid() ? "ready" : "problems";
}

std::string RenderMetrics(const std::vector<ConfigurationFigures>& configurations,
                          const ProcessFigures& process) {
  MetricsExposition out;
  out.Family("tarvik_build_info", "gauge", "Version of the running program (always 1).");
  out.Sample("tarvik_build_info", {{"version", process.version}}, std::uint64_t{1});
  out.Family("tarvik_uptime_seconds", "gauge", "Seconds since the program started.");
  out.Sample("tarvik_uptime_seconds", {}, process.uptimeSeconds);

  out.Family("tarvik_configuration_state", "gauge",
             "State of the configuration: 1 for the state it is in (running, ready to start, or "
             "stopped with problems), 0 for the others.");
  for (const ConfigurationFigures& c : configurations)
    for (const char* state : kStates)
      out.Sample("tarvik_configuration_state", {{"configuration", c.name}, {"state", state}},
                 std::uint64_t{c.state == state ? 1u : 0u});

  out.Family("tarvik_requests_total", "counter",
             "Requests answered through the request path, by result code (1 = success); the commands "
             "getmode* and quit* are not counted.");
  for (const ConfigurationFigures& c : configurations) {
    const ResultCodeCounts::Snapshot& r = c.figures.sessions.requests;
    for (const auto& [code, count] : r.byCode)
      out.Sample("tarvik_requests_total", {{"configuration", c.name}, {"code", std::to_string(code)}}, count);
    if (r.other > 0)
      out.Sample("tarvik_requests_total", {{"configuration", c.name}, {"code", "other"}}, r.other);
  }

  out.Family("tarvik_request_duration_seconds", "histogram",
             "Time from reading a request to sending the last byte of its replies.");
  for (const ConfigurationFigures& c : configurations)
    out.Histogram("tarvik_request_duration_seconds", Of(c), c.figures.sessions.latency);

  PerConfiguration(out, configurations, "tarvik_sessions_open", "gauge", "Client sessions open now.",
                   [](const ModuleFigures& f) { return f.sessions.openSessions; });
  PerConfiguration(out, configurations, "tarvik_sessions_total", "counter", "Client sessions opened.",
                   [](const ModuleFigures& f) { return f.sessions.sessions; });
  PerConfiguration(out, configurations, "tarvik_send_failures_total", "counter",
                   "Replies whose send failed for another reason than the send time limit.",
                   [](const ModuleFigures& f) { return f.sessions.sendFailures; });
  PerConfiguration(out, configurations, "tarvik_send_timeouts_total", "counter",
                   "Replies the client did not take within the send time limit (each ends its session).",
                   [](const ModuleFigures& f) { return f.sessions.sendTimeouts; });
  PerConfiguration(out, configurations, "tarvik_database_loads_total", "counter",
                   "Loads of the configuration's databases (at start and at every read of its file).",
                   [](const ModuleFigures& f) { return f.databases.loads; });
  PerConfiguration(out, configurations, "tarvik_database_load_failures_total", "counter",
                   "Loads in which a database of the configuration could not be opened.",
                   [](const ModuleFigures& f) { return f.databases.failures; });
  return out.Text();
}

std::vector<ConfigurationFigures> CollectConfigurationFigures(const CConfigurationSet& set) {
  std::vector<ConfigurationFigures> out;
  std::lock_guard<std::mutex> lock(set.Mutex());
  out.reserve(set.Count());
  for (std::size_t i = 0; i < set.Count(); ++i) {
    const IConfigurationModule& m = *set.At(i);
    out.push_back({m.Name(), ConfigurationState(m), m.Figures()});
  }
  return out;
}

ProcessFigures CollectProcessFigures() {
  const std::chrono::duration<double> up = std::chrono::steady_clock::now() - gProcessStart;
  return {TARVIK_VERSION, up.count()};
}

std::string MetricsPage(const CConfigurationSet& set) {
  return RenderMetrics(CollectConfigurationFigures(set), CollectProcessFigures());
}

}  // namespace tarvik
