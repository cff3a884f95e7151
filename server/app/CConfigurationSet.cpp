#include "app/CConfigurationSet.h"

#include <algorithm>
#include <ctime>
#include <system_error>
#include <thread>
#include <utility>

#include "app/ConfigurationName.h"
#include "runtime/CFileIni.h"
#include "runtime/PelLog.h"

namespace tarvik {
namespace fs = std::filesystem;

namespace {

const char* const kSource = "Tarvik";

// Fills the %s of a message pattern in order.
std::string Format(std::string pattern, const std::string& a, const std::string& b = {}) {
  std::size_t at = 0;
  for (const std::string* arg : {&a, &b}) {
    std::size_t pos = pattern.find("%s", at);
    if (pos == std::string::npos) break;
    pattern.replace(pos, 2, *arg);
    at = pos + arg->size();
  }
  return pattern;
}

}  // namespace

std::string DeletedFolderTimeText(std::time_t t) {
  std::tm tmv{};
  localtime_r(&t, &tmv);
  char buf[64];
  std::strftime(buf, sizeof buf, "%d.%m.%Y_%H.%M.%S", &tmv);
  return buf;
}

CConfigurationSet::CConfigurationSet(ConfigurationSetPaths paths, ConfigurationModuleFactory factory,
                                     PelLog& log)
    : paths_(std::move(paths)), factory_(std::move(factory)), log_(log) {}

CConfigurationSet::~CConfigurationSet() {
  StopAll();
  // Each module writes its total back as it goes.
  for (auto& m : modules_) m.reset();
}

void CConfigurationSet::Log(int severity, const std::string& text) const {
  log_.write(0, severity, kSource, text);
}

fs::path CConfigurationSet::FolderOf(const std::string& name) const {
  return paths_.configurationsPath / name;
}

fs::path CConfigurationSet::IniFileOf(const std::string& name) const {
  return FolderOf(name) / (name + ".ini");
}

void CConfigurationSet::LoadConfigurations(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::string why = CheckConfigurationName(name);
    if (!why.empty()) {
      Log(PelLogError, "LoadConfigurations: configuration \"" + name + "\" refused: " + why);
      continue;
    }
    if (Find(name)) {
      Log(PelLogError,
          "LoadConfigurations: configuration " + name + " is listed twice; the second entry is ignored.");
      continue;
    }
    auto module = factory_(name, FolderOf(name), 0);
    if (!module) continue;
    module->ReadConfiguration();
    names_.push_back(name);
    modules_.push_back(std::move(module));
  }
}

IConfigurationModule* CConfigurationSet::Find(const std::string& name) const {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return modules_[i].get();
  return nullptr;
}

bool CConfigurationSet::IsPortFree(int port) const {
  return std::none_of(modules_.begin(), modules_.end(), [port](const auto& m) { return m->Port() == port; });
}

bool CConfigurationSet::AnyRunning() const {
  return std::any_of(modules_.begin(), modules_.end(), [](const auto& m) { return m->IsRunning(); });
}

void CConfigurationSet::StopAll() {
  std::vector<std::thread> stops;
  for (auto& m : modules_)
    if (m && m->IsRunning()) stops.emplace_back([module = m.get()] { module->Stop(); });
  for (auto& t : stops) t.join();
}

// Through the module, so that it knows what its file holds: a later read of
// the file must not count these requests a second time.
bool CConfigurationSet::WriteBackTotal(const std::string& name) const {
  IConfigurationModule* m = Find(name);
  return m && m->WriteTotal();
}

int CConfigurationSet::WriteBackChangedTotals() const {
  int failed = 0;
  for (const auto& m : modules_) {
    if (!m->HasUnwrittenTotal()) continue;
    if (!m->WriteTotal()) {
      ++failed;
      Log(PelLogError, "Configuration " + m->Name() + ": TotalNumberOfRequests could not be written into " +
                           IniFileOf(m->Name()).string() + ".");
    }
  }
  return failed;
}

bool CConfigurationSet::RenameFolder(const fs::path& from, const fs::path& to, std::string& why) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) why = ec.message();
  return !ec;
}

namespace {

// Section "Configurations" with `names` under Configuration1.. and the keys
// up to `keys` emptied.
std::vector<std::pair<std::string, std::string>> ConfigurationKeys(const std::vector<std::string>& names,
                                                                   std::size_t keys) {
  std::vector<std::pair<std::string, std::string>> out;
  for (std::size_t i = 0; i < std::max(keys, names.size()); ++i)
    out.emplace_back("Configuration" + std::to_string(i + 1), i < names.size() ? names[i] : std::string());
  return out;
}

}  // namespace

std::string CConfigurationSet::CheckNew(const std::string& name, int port) const {
  std::string why = CheckConfigurationName(name);
  if (!why.empty()) return why;
  if (Find(name)) return "A configuration named " + name + " already exists. Please choose another name.";
  if (port < 1 || port > 65535) return "Please specify a port between 1 and 65535.";
  if (!IsPortFree(port))
    return "Port " + std::to_string(port) + " is already in use. Please choose another port.";
  return {};
}

SetOperationResult CConfigurationSet::AddConfiguration(const std::string& name, int port) {
  std::string why = CheckNew(name, port);
  if (!why.empty()) return {false, why};
  return Create(name, port, paths_.templateFile, false);
}

SetOperationResult CConfigurationSet::CopyConfiguration(const std::string& source, const std::string& name,
                                                        int port) {
  IConfigurationModule* src = Find(source);
  if (!src) return {false, "There is no configuration named " + source + "."};
  if (src->IsRunning()) return {false, "Please stop configuration " + source + " before copying it."};
  std::string why = CheckNew(name, port);
  if (!why.empty()) return {false, why};
  return Create(name, port, IniFileOf(source), true);
}

SetOperationResult CConfigurationSet::Create(const std::string& name, int port, const fs::path& sourceFile,
                                             bool isCopy) {
  const fs::path folder = FolderOf(name);
  const fs::path file = IniFileOf(name);
  std::error_code ec;
  const bool existed = fs::exists(folder, ec);
  const bool fileExisted = existed && fs::exists(file, ec);
  fs::create_directories(folder, ec);
  bool copied = !ec && fs::is_regular_file(sourceFile, ec);
  if (copied) copied = fs::copy_file(sourceFile, file, fs::copy_options::overwrite_existing, ec) && !ec;
  // Leaves nothing behind that the failed attempt created.
  auto undo = [&] {
    if (!existed)
      fs::remove_all(folder, ec);
    else if (!fileExisted)
      fs::remove(file, ec);
  };
  if (!copied) {
    undo();
    std::string text = Format("Error copying file %s to %s. Please check your permissions for those folders.",
                              sourceFile.string(), file.string());
    Log(PelLogError, text);
    return {false, text};
  }

  auto failed = [&](const fs::path& unwritten) {
    undo();
    std::string text = "The configuration " + name + " was not " + (isCopy ? "copied" : "added") +
                       ": the file " + unwritten.string() + " could not be written.";
    Log(PelLogError, text);
    return SetOperationResult{false, text};
  };
  if (!CFileIni(file).WriteStrings("Settings",
                                   {{"PORTNUM", std::to_string(port)}, {"TotalNumberOfRequests", "0"}}))
    return failed(file);
  // The new name goes under key Configuration<n>. The keys before it are
  // written too, in the same rewrite: when the loader refused a listed name,
  // the file's numbering differs from the set's, and key <n> could hold a
  // name still in use.
  std::vector<std::string> names = names_;
  names.push_back(name);
  if (!CFileIni(paths_.generalSettingsFile).WriteStrings("Configurations", ConfigurationKeys(names, 0)))
    return failed(paths_.generalSettingsFile);

  auto module = factory_(name, folder, port);
  if (!module) return failed(file);
  names_.push_back(name);
  modules_.push_back(std::move(module));
  // A new configuration reads its file at once, so that its port, its
  // problems and its state are those of the file on disk.
  modules_.back()->ReadConfiguration();

  std::string text =
      isCopy ? "The configuration " + name + " was copied."
             : Format("The configuration %s was added. Please configure the module before start.", name);
  Log(PelLogInfo, text);
  // The copy shows no message of its own.
  return {true, isCopy ? std::string() : text};
}

SetOperationResult CConfigurationSet::RemoveConfiguration(const std::string& name) {
  auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) return {false, "There is no configuration named " + name + "."};
  std::size_t index = static_cast<std::size_t>(it - names_.begin());
  if (modules_[index]->IsRunning())
    return {false, "Please stop configuration " + name + " before removing it."};

  auto failed = [&](const std::string& why) {
    std::string text = "The configuration " + name + " was not removed: " + why;
    Log(PelLogError, "RemoveConfiguration: " + text);
    return SetOperationResult{false, text};
  };

  const fs::path folder = FolderOf(name);
  std::error_code ec;
  fs::path renamedTo;
  if (fs::exists(folder, ec)) {
    // The count goes into the file before the file moves with its folder.
    modules_[index]->WriteTotal();
    std::string target = folder.string() + "__deleted__" + DeletedFolderTimeText(std::time(nullptr));
    // Two removals of the same name within one second must not collide.
    std::string candidate = target;
    for (int n = 2; fs::exists(fs::symlink_status(candidate, ec)) && n < 1000; ++n)
      candidate = target + "_" + std::to_string(n);
    std::string why;
    if (!RenameFolder(folder, candidate, why))
      return failed("its folder " + folder.string() + " could not be renamed (" + why + ").");
    renamedTo = candidate;
  }

  std::vector<std::string> remaining = names_;
  remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(index));
  if (!CFileIni(paths_.generalSettingsFile)
           .WriteStrings(
               "Configurations",
               ConfigurationKeys(remaining, std::max<std::size_t>(kRewrittenKeys, names_.size())))) {
    // The configuration stays, so its folder goes back where it was.
    std::string why;
    if (!renamedTo.empty() && !RenameFolder(renamedTo, folder, why))
      Log(PelLogError, "RemoveConfiguration: folder " + renamedTo.string() +
                           " could not be renamed back to " + folder.string() + " (" + why + ").");
    return failed("the file " + paths_.generalSettingsFile.string() + " could not be written.");
  }

  modules_.erase(modules_.begin() + static_cast<std::ptrdiff_t>(index));
  names_.erase(names_.begin() + static_cast<std::ptrdiff_t>(index));
  if (!renamedTo.empty())
    Log(PelLogInfo,
        "RemoveConfiguration: configuration " + name + " removed, its folder is now " + renamedTo.string());
  return {true, {}};
}

}  // namespace tarvik
