#pragma once
// Program start: the program-wide log with its header, "Starting Tarvik....",
// the general settings, the configurations, then the control panel and/or
// the headless start of configurations, until the operator exits or the
// process is asked to end (SIGINT, SIGTERM). Meanwhile the request totals
// that change are written back every TotalsWriteInterval seconds. At the end
// the panel's requests finish, the configurations stop (all at once) and the
// totals are written; a second signal during that writes the totals and
// ends the program at once (exit status 128 + signal).

#include <functional>
#include <string>
#include <vector>

#include "app/IConfigurationModule.h"

namespace tarvik {

class CTarvikSettings;
struct CommandLine;

class CTarvikApp {
 public:
  // Makes the factory of transformation modules once the settings are read.
  using FactoryMaker = std::function<ConfigurationModuleFactory(const CTarvikSettings&)>;

  explicit CTarvikApp(FactoryMaker makeFactory);

  // argv without the program name. Returns the process exit status.
  int Run(const std::vector<std::string>& args);

  // Name of the token file beside the general settings file.
  static constexpr const char* kTokenFileName = "Tarvik_Panel.token";

 private:
  FactoryMaker makeFactory_;
};

// The factory of the real transformation module.
ConfigurationModuleFactory MakeTransformationModuleFactory(const CTarvikSettings& settings);

}  // namespace tarvik
