#include "app/CTarvikApp.h"

#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/CConfigurationSet.h"
#include "app/CTarvikDlg.h"
#include "app/CTarvikSettings.h"
#include "app/CommandLine.h"
#include "app/LoopbackHost.h"
#include "app/SecurityToken.h"
#include "app/SignalWatcher.h"
#include "app/TotalsWriter.h"
#include "runtime/CFileIni.h"
#include "runtime/LogRetention.h"
#include "runtime/PelLog.h"
#include "runtime/ProgramFolder.h"

namespace tarvik {
namespace {

const char* const kSource = "Tarvik";

// Exit status of the program: 0 done, 1 failed, 2 command line not understood.
constexpr int kExitOK = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Set once the program is asked to end (a signal, or Exit on the panel).
class EndRequest {
 public:
  void Set(int signal) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (set_) return;
      set_ = true;
      signal_ = signal;
    }
    cv_.notify_all();
  }
  bool IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  int Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
    return signal_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
  int signal_ = 0;
};

const char* SignalName(int sig) { return sig == SIGINT ? "SIGINT" : "SIGTERM"; }

std::string OneLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (char& c : text)
    if (c == '\n') c = ' ';
  std::string out;
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

// Starts the configurations named on the command line; logs and prints what
// it refused. Returns the number started.
int StartHeadless(const CommandLine& cl, CConfigurationSet& set, PelLog& log) {
  std::vector<std::string> names = cl.StartsAll() ? set.Names() : cl.start;
  int started = 0;
  for (const std::string& name : names) {
    IConfigurationModule* m = set.Find(name);
    std::string refusal;
    if (!m) {
      refusal = "Headless start: configuration " + name + " is not in the configuration list; not started.";
    } else if (m->IsRunning()) {
      continue;
    } else if (!m->IsValid()) {
      refusal = "Headless start: configuration " + name +
                " has problems and is not started: " + OneLine(m->Problems());
    } else if (m->Start() != 1 || !m->IsRunning()) {
      refusal = "Headless start: configuration " + name + " could not be started on port " +
                std::to_string(m->Port()) + ". For details see its log.";
    }
    if (!refusal.empty()) {
      log.write(0, PelLogError, kSource, refusal);
      std::cerr << refusal << "\n";
      continue;
    }
    ++started;
    std::string text =
        "Headless start: configuration " + name + " serves on port " + std::to_string(m->Port()) + ".";
    log.write(0, PelLogInfo, kSource, text);
    std::cout << text << "\n";
  }
  std::cout.flush();
  return started;
}

int Edit(const CTarvikSettings& settings, CConfigurationSet& set, const std::string& name) {
  IConfigurationModule* m = set.Find(name);
  if (!m) {
    std::cerr << "There is no configuration named " << name << ".\n";
    return kExitFailure;
  }
  if (settings.TextEditor.empty()) {
    std::cerr << "No TextEditor in section ApplicationSettings of " << settings.GeneralSettingsFile().string()
              << ".\n";
    return kExitFailure;
  }
  set.WriteBackTotal(name);
  const std::string editor = CFileIni::NormalisedPath(settings.TextEditor);
  const std::string file = set.IniFileOf(name).string();
  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    execlp(editor.c_str(), editor.c_str(), file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = kExitOK;
  if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) {
    std::cerr << "The text editor " << editor << " could not be run.\n";
    return kExitFailure;
  }
  // As after the editor of the control window: the module reads its file again.
  m->ReadConfiguration();
  if (m->IsValid())
    std::cout << "Configuration " << name << " read without problems.\n";
  else
    std::cout << "Problems in configuration: \n\n" << m->Problems();
  return kExitOK;
}

}  // namespace

CTarvikApp::CTarvikApp(FactoryMaker makeFactory) : makeFactory_(std::move(makeFactory)) {}

int CTarvikApp::Run(const std::vector<std::string>& args) {
  CommandLine cl;
  std::string error;
  if (!ParseCommandLine(args, cl, error)) {
    std::cerr << "Tarvik: " << error << "\n";
    return kExitUsage;
  }
  if (cl.help) {
    std::cout << CommandLineHelp();
    return kExitOK;
  }
  if (!cl.home.empty()) SetProgramFolder(cl.home);

  // Before any thread exists: the end signals go to the watcher only, and a
  // client that goes away mid-send must not end the process.
  SignalWatcher::BlockEndSignals();
  signal(SIGPIPE, SIG_IGN);

  PelLog log;
  log.writeHeader();
  log.write(0, PelLogInfo, kSource, "Starting Tarvik....");

  CTarvikSettings settings;
  if (!settings.ReadGeneralSettings()) {
    log.write(0, PelLogError, kSource, "Error reading settings.");
    std::cerr << "Error reading configuration file. For details see log-file " << log.currentPath().string()
              << "\n";
    return kExitFailure;
  }

  const std::filesystem::path general = settings.GeneralSettingsFile();
  CConfigurationSet set({settings.ConfigurationsPath, general, ProgramFolder() / "ConfigurationTemplate.ini"},
                        makeFactory_(settings), log);
  set.LoadConfigurations(settings.Configurations);

  if (!cl.edit.empty()) return Edit(settings, set, cl.edit);

  // Expired daily log files are removed now and once a day while the program runs.
  LogRetentionSchedule retention(ProgramFolder() / "Log", settings.LogRetentionDays);

  int status = kExitOK;
  if (cl.Headless() && StartHeadless(cl, set, log) == 0 && !cl.ServesPanel()) {
    log.write(0, PelLogError, kSource, "Headless start: no configuration could be started.");
    std::cerr << "No configuration could be started.\n";
    return kExitFailure;
  }

  // Totals are written while they change, so that a crash loses at most one
  // interval of counts.
  TotalsWriter totalsWriter(std::chrono::seconds(settings.TotalsWriteInterval), [&set] {
    std::lock_guard<std::mutex> lock(set.Mutex());
    set.WriteBackChangedTotals();
  });

  // The first signal starts the shutdown; a second one during it writes the
  // totals and ends the program at once.
  EndRequest endRequest;
  CTarvikDlg* panel = nullptr;
  std::mutex panelMutex;
  SignalWatcher watcher(
      [&](int sig) {
        endRequest.Set(sig);
        std::lock_guard<std::mutex> lock(panelMutex);
        if (panel) panel->Close();
      },
      [&set, &log](int sig) {
        log.write(
            0, PelLogWarning, kSource,
            std::string(SignalName(sig)) + " during shutdown: the totals are written, the program ends now.");
        std::lock_guard<std::mutex> lock(set.Mutex());
        set.WriteBackChangedTotals();
        _exit(128 + sig);
      });

  if (cl.ServesPanel()) {
    const std::string token = MakeSecurityToken();
    const std::filesystem::path tokenFile = general.parent_path() / kTokenFileName;
    if (!StoreSecurityToken(tokenFile, token))
      log.write(0, PelLogWarning, kSource, "The access token could not be stored in " + tokenFile.string());
    CTarvikDlg dlg(set, token, log);
    const int port = cl.panelPort < 0 ? CTarvikDlg::kDefaultPort : cl.panelPort;
    if (dlg.Bind(cl.panelAddress, port) < 0) {
      std::string text =
          "The control panel cannot listen on " + cl.panelAddress + " port " + std::to_string(port) + ".";
      log.write(0, PelLogError, kSource, text);
      std::cerr << text << "\n";
      status = kExitFailure;
    } else {
      const std::string& a = cl.panelAddress;
      if (!IsLoopbackAddress(a)) {
        std::string text = "The control panel listens on " + a +
                           " and is reachable from the network; the access token is its only protection.";
        log.write(0, PelLogWarning, kSource, text);
        std::cerr << "Warning: " << text << "\n";
      }
      dlg.Start();
      {
        std::lock_guard<std::mutex> lock(panelMutex);
        panel = &dlg;
      }
      // A signal that came before the panel was known to the watcher.
      if (endRequest.IsSet()) dlg.Close();
      log.write(0, PelLogInfo, kSource, "Control panel at " + dlg.Url().substr(0, dlg.Url().find('#')));
      std::cout << "Control panel: " << dlg.Url() << "\n"
                << "Access token: " << token << " (also in " << tokenFile.string() << ")\n";
      std::cout.flush();
      dlg.Wait();
    }
    // The panel's requests in progress finish here, before the
    // configurations stop and the final writes run.
    std::lock_guard<std::mutex> lock(panelMutex);
    panel = nullptr;
  } else {
    // Headless only: serve until asked to end.
    const int sig = endRequest.Wait();
    log.write(0, PelLogInfo, kSource, std::string("Headless operation ends on ") + SignalName(sig) + ".");
  }
  // (dlg is destroyed at the end of its block above: its workers are done.)

  log.write(0, PelLogInfo, kSource, "Stopping Tarvik....");
  totalsWriter.Stop();
  set.StopAll();
  {
    std::lock_guard<std::mutex> lock(set.Mutex());
    for (const std::string& name : set.Names()) set.WriteBackTotal(name);
  }
  return status;
}

}  // namespace tarvik
