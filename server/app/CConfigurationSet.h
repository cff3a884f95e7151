#pragma once
// The set of named configurations: one folder and one INI file per
// configuration below the common configurations path, the ordered list of
// names in section "Configurations" of the general settings file, and one
// module per name in the same order.
//
// Every operation that changes the set writes the general settings file at
// once, so that the next start sees the same set. Every check (name, port,
// state) happens before any file is touched, and an operation that fails
// half-way undoes what it did: it reports the failure, logs it and leaves
// the set, the folders and the files as they were.
//
// The class is not thread-safe by itself: whoever uses the set from more
// than one thread (the control panel, the totals writer, the signal
// watcher) holds Mutex() around each operation.

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/IConfigurationModule.h"

namespace tarvik {

class PelLog;

struct ConfigurationSetPaths {
  std::filesystem::path configurationsPath;   // one sub-folder per configuration
  std::filesystem::path generalSettingsFile;  // holds section "Configurations"
  std::filesystem::path templateFile;         // copied for a new configuration
};

// Outcome of an operation with the text to show the operator (also on
// success, where the operation has one).
struct SetOperationResult {
  bool ok = false;
  std::string message;
};

class CConfigurationSet {
 public:
  // Keys Configuration1.. that a removal rewrites (more when more are listed).
  static constexpr int kRewrittenKeys = 49;

  CConfigurationSet(ConfigurationSetPaths paths, ConfigurationModuleFactory factory, PelLog& log);
  // Stops running configurations and destroys the modules in list order.
  virtual ~CConfigurationSet();
  CConfigurationSet(const CConfigurationSet&) = delete;
  CConfigurationSet& operator=(const CConfigurationSet&) = delete;

  // One module per listed name, in order, each reading its file. A name that
  // fails CheckConfigurationName is logged and skipped (no folder outside
  // the configurations path is ever read); so is a repeated name.
  void LoadConfigurations(const std::vector<std::string>& names);

  SetOperationResult AddConfiguration(const std::string& name, int port);
  SetOperationResult CopyConfiguration(const std::string& source, const std::string& name, int port);
  SetOperationResult RemoveConfiguration(const std::string& name);

  // False when any configuration of the set already uses that port.
  bool IsPortFree(int port) const;

  const std::vector<std::string>& Names() const { return names_; }
  std::size_t Count() const { return modules_.size(); }
  IConfigurationModule* Find(const std::string& name) const;
  IConfigurationModule* At(std::size_t index) const { return modules_.at(index).get(); }
  bool AnyRunning() const;
  // Stops every running configuration, all at the same time, so that the
  // whole takes as long as the slowest stop.
  void StopAll();

  std::filesystem::path FolderOf(const std::string& name) const;
  std::filesystem::path IniFileOf(const std::string& name) const;
  const ConfigurationSetPaths& Paths() const { return paths_; }

  // Writes the module's current TotalNumberOfRequests into its INI file, so
  // that an edit of the file followed by a new read keeps the count.
  bool WriteBackTotal(const std::string& name) const;
  // Writes the total of every configuration that counted requests since its
  // last write; returns the number of writes that failed (each is logged).
  int WriteBackChangedTotals() const;

  // Held around every use of the set when several threads share it.
  std::mutex& Mutex() const { return mutex_; }

 protected:
  // Renames a configuration's folder; false with the reason when it fails.
  virtual bool RenameFolder(const std::filesystem::path& from, const std::filesystem::path& to,
                            std::string& why);

 private:
  // Checks shared by add and copy; empty when fine.
  std::string CheckNew(const std::string& name, int port) const;
  // Steps shared by add and copy once the file is in place.
  SetOperationResult Create(const std::string& name, int port, const std::filesystem::path& sourceFile,
                            bool isCopy);
  void Log(int severity, const std::string& text) const;

  ConfigurationSetPaths paths_;
  ConfigurationModuleFactory factory_;
  PelLog& log_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<IConfigurationModule>> modules_;
  mutable std::mutex mutex_;
};

// "%d.%m.%Y_%H.%M.%S" of the local time, as appended to a removed folder.
std::string DeletedFolderTimeText(std::time_t t);

}  // namespace tarvik
