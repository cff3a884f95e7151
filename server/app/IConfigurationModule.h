#pragma once
// What the configuration set and the control panel need of one configuration.
//
// The transformation module itself lives in the module layer; the set only
// creates, reads, starts, stops and destroys configurations and shows their
// statistics, so it talks to them through this small interface. That keeps
// the set testable with a stand-in and keeps the panel free of the module's
// computation details.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tarvik {

class IConfigurationModule {
 public:
  virtual ~IConfigurationModule() = default;

  virtual std::string Name() const = 0;
  virtual int Port() const = 0;

  // Reads (again) the configuration file <folder>/<name>.ini. 1 when the
  // file was found and read, 0 when it is missing; problems clear IsValid().
  virtual int ReadConfiguration() = 0;

  virtual bool IsValid() const = 0;
  // Collected problem texts, each followed by "\n\n"; empty when none.
  virtual std::string Problems() const = 0;

  // 1 when the server runs afterwards, anything else when it could not start.
  virtual int Start() = 0;
  virtual void Stop() = 0;
  virtual bool IsRunning() const = 0;

  // Local time of the last start while running.
  virtual std::optional<std::chrono::system_clock::time_point> StartTime() const = 0;
  virtual long RequestsSinceStart() const = 0;
  virtual long TotalRequests() const = 0;

  // Writes TotalNumberOfRequests into the configuration's file now; false
  // when the file is missing or cannot be written. A later read of the file
  // keeps the requests counted since.
  virtual bool WriteTotal() = 0;
  // True while requests were counted that the file does not hold yet.
  virtual bool HasUnwrittenTotal() const = 0;
};

// Creates the module of configuration `name` whose folder is `folder`
// (configurations path / name). `port` is the port of a configuration being
// added, 0 for one loaded from the list. The module does not read its file
// yet.
using ConfigurationModuleFactory = std::function<std::unique_ptr<IConfigurationModule>(
    const std::string& name, const std::filesystem::path& folder, int port)>;

}  // namespace tarvik
