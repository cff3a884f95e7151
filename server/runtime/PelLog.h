#pragma once
// The server's diagnostic log: one text file per configuration and per day
// below <program folder>/Log/.
//
// PelLog objects are cheap and short-lived: code that wants to log makes one,
// writes and lets it go. The files themselves stay open: every PelLog of a
// file shares one O_APPEND descriptor of this process, reopened when the
// date changes or the name no longer leads to it (removed, renamed away or
// replaced; looked up before every write). Each text goes out in a single
// write(2), which Linux appends to a regular file as a whole, so lines of
// any number of threads and processes never interleave and the threads of
// this process never wait for each other. Only a file that is still empty
// is written under an advisory lock (flock, with a bounded retry while
// another process holds it), so that exactly one writer puts the header at
// its top. Nothing waits in memory: a line is in the kernel when write()
// returns, so a crash or kill loses none of them.

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvik {

// Severity column values.
enum PelLogSeverity : int {
  PelLogError = 0,    // "[ERROR]"
  PelLogWarning = 1,  // "[WARNING]"
  PelLogInfo = 2,     // "[INFO]"
};

class PelLog {
 public:
  // Program-wide log: Log/PelLog_<dd.mm.yyyy>.log
  PelLog();
  // Log of one configuration: Log/<name>/PelLog_<name>_<dd.mm.yyyy>.log
  explicit PelLog(const std::string& configuration);
  virtual ~PelLog();

  PelLog(const PelLog&) = default;
  PelLog& operator=(const PelLog&) = default;

  // Replaces the configuration name (and with it the file prefix).
  void setConfiguration(const std::string& configuration);
  const std::string& configuration() const { return configuration_; }
  const std::string& prefix() const { return prefix_; }

  // Lines of detail above the verbosity are dropped (0 at construction;
  // detail 0 lines are always written).
  void setVerbosity(int verbosity) { verbosity_ = verbosity; }
  int verbosity() const { return verbosity_; }

  // Appends the header block to today's file, creating it when missing.
  void writeHeader();

  // Appends one line "%10s%-10s%-30s%s\n" (time, severity, [source],
  // message). Failures lose the line silently.
  void write(int detail, int severity, const std::string& source, const std::string& message);

  // Appends one such line per message, all in one write: no line of
  // another writer comes between them.
  void writeLines(int detail, int severity, const std::string& source,
                  const std::vector<std::string>& messages);

  // Path of today's file (computed from the current local date).
  std::filesystem::path currentPath();

  // The formatted line without writing it (exposed for callers that
  // mirror log lines elsewhere, e.g. a control panel).
  std::string formatLine(int severity, const std::string& source, const std::string& message);
  // The same line added to the end of `out`.
  void appendLine(std::string& out, int severity, const std::string& source, const std::string& message);

  // The header block as written to a file.
  std::string headerText() const;

  // How long the first write into an empty file keeps retrying while
  // another process holds the file's lock.
  void setRetry(int attempts, int delayMilliseconds) {
    retryAttempts_ = attempts;
    retryDelayMs_ = delayMilliseconds;
  }

 protected:
  // Current time; tests override it to cross midnight.
  virtual std::time_t now() const;

 private:
  std::filesystem::path pathFor(std::time_t t) const;
  std::string pathTextFor(std::time_t t) const;
  void append(const std::string& text, bool headerOnly);

  std::string configuration_;
  std::string prefix_ = "PelLog";
  std::filesystem::path currentPath_;
  int verbosity_ = 0;
  int retryAttempts_ = 10000;
  int retryDelayMs_ = 100;
};

// Local date/time texts used by the log and by the session's time stamps.
std::string LocalDateText(std::time_t t);      // "%d.%m.%Y"
std::string LocalDateTimeText(std::time_t t);  // "[%d.%m.%Y-%H:%M:%S]"

}  // namespace tarvik
