#include "runtime/PelLog.h"

#include "runtime/ProgramFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#ifndef TARVIK_VERSION
#define TARVIK_VERSION ""
#endif

namespace tarvik {
namespace {

const std::string& Rule() {
  static const std::string rule(119, '_');
  return rule;
}

// One writer per file at a time inside this process, so that threads wait
// for each other on a mutex instead of sleeping in the retry loop; flock()
// separates the writers of other processes. Files are spread over a few
// mutexes so that a file held by another process does not stall the logs
// of the other configurations.
std::mutex& WriteMutex(const std::filesystem::path& path) {
  static std::mutex stripes[16];
  return stripes[std::hash<std::string>{}(path.native()) % 16];
}

std::string FormatTime(std::time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf, n);
}

std::string ApplicationName() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.stem().string();
}

// Writes all of text, continuing after partial writes and signals.
bool WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// A log that cannot be written must not go unnoticed, and must not flood the
// console either: the first lost line of a file is reported on standard
// error, and so is the first line written again, with the count of lines
// lost in between.
class LostLines {
 public:
  void Lost(const std::filesystem::path& path, int error) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto [it, first] = lost_.try_emplace(path.native(), 0);
    ++it->second;
    any_.store(true, std::memory_order_release);
    if (first)
      std::fprintf(stderr, "Log file %s cannot be written (%s); its lines are lost until it can be.\n",
                   path.c_str(), std::strerror(error));
  }
  void Written(const std::filesystem::path& path) {
    if (!any_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = lost_.find(path.native());
    if (it == lost_.end()) return;
    std::fprintf(stderr, "Log file %s is written again; %lu lines were lost.\n", path.c_str(), it->second);
    lost_.erase(it);
    any_.store(!lost_.empty(), std::memory_order_release);
  }

 private:
  std::mutex mutex_;
  std::map<std::string, unsigned long> lost_;
  std::atomic<bool> any_{false};
};

LostLines& Lost() {
  static LostLines* lost = new LostLines;  // outlives every static log
  return *lost;
}

}  // namespace

std::string LocalDateText(std::time_t t) { return FormatTime(t, "%d.%m.%Y"); }
std::string LocalDateTimeText(std::time_t t) { return FormatTime(t, "[%d.%m.%Y-%H:%M:%S]"); }

PelLog::PelLog() = default;

PelLog::PelLog(const std::string& configuration) { setConfiguration(configuration); }

PelLog::~PelLog() = default;

void PelLog::setConfiguration(const std::string& configuration) {
  configuration_ = configuration;
  prefix_ = "PelLog_" + configuration;
  currentPath_.clear();
}

std::time_t PelLog::now() const { return std::time(nullptr); }

std::filesystem::path PelLog::pathFor(std::time_t t) const {
  std::filesystem::path dir = ProgramFolder() / "Log";
  if (!configuration_.empty()) dir /= configuration_;
  return dir / (prefix_ + "_" + LocalDateText(t) + ".log");
}

std::filesystem::path PelLog::currentPath() {
  currentPath_ = pathFor(now());
  return currentPath_;
}

std::string PelLog::headerText() const {
  std::string h;
  h += Rule() + "\n\n";
  h += "Application:      " + ApplicationName() + "\n";
  std::string version = TARVIK_VERSION;
  h += "Version:          " + (version.empty() ? std::string() : "Version: " + version) + "\n";
  h += "Tarvik transformation message server, made by the Tarvik developers\n";
  if (!configuration_.empty()) h += "Configuration:    " + configuration_ + "\n";
  h += Rule() + "\n\n";
  return h;
}

std::string PelLog::formatLine(int severity, const std::string& source, const std::string& message) {
  const char* sev = "";
  switch (severity) {
    case PelLogError:
      sev = "[ERROR]";
      break;
    case PelLogWarning:
      sev = "[WARNING]";
      break;
    case PelLogInfo:
      sev = "[INFO]";
      break;
    default:
      break;
  }
  std::string src = "[" + source + "]";
  std::string time = LocalDateTimeText(now());
  // "%10s%-10s%-30s%s\n" without a size limit on source or message.
  std::string line;
  line.reserve(time.size() + 40 + src.size() + message.size() + 1);
  if (time.size() < 10) line.append(10 - time.size(), ' ');
  line += time;
  line += sev;
  line.append(10 - std::char_traits<char>::length(sev), ' ');
  line += src;
  if (src.size() < 30) line.append(30 - src.size(), ' ');
  line += message;
  line += '\n';
  return line;
}

void PelLog::writeHeader() { append(std::string(), true); }

void PelLog::write(int detail, int severity, const std::string& source, const std::string& message) {
  if (verbosity_ == 0 && (detail == 1 || detail == 2)) return;
  if (verbosity_ == 1 && detail == 2) return;
  append(formatLine(severity, source, message), false);
}

void PelLog::append(const std::string& line, bool headerOnly) {
  // The path is recomputed for every line, so the file changes at midnight.
  std::filesystem::path path = currentPath();

  std::lock_guard<std::mutex> guard(WriteMutex(path));
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ENOENT) {
    // The folder is made on the first line (or again after it was removed).
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    Lost().Lost(path, errno);
    return;
  }
  int attempts = 0;
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      Lost().Lost(path, errno);
      ::close(fd);
      return;
    }
    if (++attempts >= retryAttempts_) {
      Lost().Lost(path, EWOULDBLOCK);
      ::close(fd);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(retryDelayMs_));
  }
  // A file that is still empty under the lock was just created (by us or
  // by a writer that gave up): it starts with the header block.
  struct stat st {};
  std::string text;
  bool fresh = ::fstat(fd, &st) == 0 && st.st_size == 0;
  if (fresh || headerOnly) text = headerText();
  if (!headerOnly) text += line;
  if (WriteAll(fd, text))
    Lost().Written(path);
  else
    Lost().Lost(path, errno);
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

}  // namespace tarvik
