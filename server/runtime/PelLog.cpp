#include "runtime/PelLog.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "runtime/ProgramFolder.h"

#ifndef TARVIK_VERSION
#define TARVIK_VERSION ""
#endif

namespace tarvik {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Descriptors of files that nobody wrote for this long are closed (the
// files of past days, configurations that were removed).
constexpr auto kIdleClose = std::chrono::minutes(10);

const std::string& Rule() {
  static const std::string rule(119, '_');
  return rule;
}

// The date and time texts of one second, made once per second and thread:
// localtime and strftime are not free, and every line needs both.
struct SecondTexts {
  std::time_t second = 0;
  bool valid = false;
  char date[16] = {};   // "%d.%m.%Y"
  char stamp[32] = {};  // "[%d.%m.%Y-%H:%M:%S]"
  std::size_t dateLength = 0;
  std::size_t stampLength = 0;
};

const SecondTexts& TextsOf(std::time_t t) {
  thread_local SecondTexts texts;
  if (!texts.valid || texts.second != t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    texts.dateLength = std::strftime(texts.date, sizeof texts.date, "%d.%m.%Y", &tm);
    texts.stampLength = std::strftime(texts.stamp, sizeof texts.stamp, "[%d.%m.%Y-%H:%M:%S]", &tm);
    texts.second = t;
    texts.valid = true;
  }
  return texts;
}

const std::string& ApplicationName() {
  static const std::string name = [] {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.stem().string();
  }();
  return name;
}

// Writes all of text, continuing after partial writes and signals.
bool WriteAll(int fd, const char* p, std::size_t left) {
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
  void Lost(const std::string& path, int error, unsigned long lines) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto [it, first] = lost_.try_emplace(path, 0);
    it->second += lines;
    any_.store(true, std::memory_order_release);
    if (first)
      std::fprintf(stderr, "Log file %s cannot be written (%s); its lines are lost until it can be.\n",
                   path.c_str(), std::strerror(error));
  }
  void Written(const std::string& path) {
    if (!any_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = lost_.find(path);
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

// How many lines a text holds (each ends with a line feed); a header counts
// as one.
unsigned long LinesOf(const std::string& text, bool headerOnly) {
  if (headerOnly) return 1;
  unsigned long n = 0;
  for (char c : text) n += c == '\n' ? 1 : 0;
  return n > 0 ? n : 1;
}

// One open descriptor of a day's file. Shared by the writers that took it
// and closed when the last of them lets go, so a descriptor number is never
// written after another thread replaced the file and closed it (the number
// could by then belong to a socket).
class Descriptor {
 public:
  Descriptor(int fd, dev_t device, ino_t inode) : fd(fd), device(device), inode(inode) {}
  ~Descriptor() { ::close(fd); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  const int fd;
  const dev_t device;
  const ino_t inode;
};

}  // namespace

// One day's file, kept open for appending and shared by every PelLog that
// writes into it.
//
// Every text goes out in one write(2) on an O_APPEND descriptor. Linux
// appends such a write to a regular file as a whole, under the file's own
// lock, so texts of any number of threads and processes never mix, and the
// threads of this process need no lock of their own to write: they never
// wait for each other or hand lines over. Before each write the name is
// looked up: a file that was removed, renamed away (rotated) or replaced is
// left at once for the file under its name, made anew if need be. A file
// that is still empty starts with the header; only then is the advisory
// file lock (flock) taken, so that of several threads or processes that find
// it empty exactly one writes the header. When write() returns, the text is
// in the kernel's hands: a crash or kill of the program loses none of it.
class OpenLogFile {
 public:
  explicit OpenLogFile(std::string path) : path_(std::move(path)) {}
  OpenLogFile(const OpenLogFile&) = delete;
  OpenLogFile& operator=(const OpenLogFile&) = delete;

  const std::string& path() const { return path_; }

  // Appends the text (whole lines), preceded by the header block when the
  // file is still empty (and always when headerOnly, which writes nothing
  // else). Returns when the text was written or given up.
  void Append(const std::string& text, bool headerOnly, const PelLog& owner, int attempts, int delayMs) {
    lastUse_.store(SteadyClock::now().time_since_epoch().count(), std::memory_order_relaxed);
    // A second pass only when the name no longer led to the open file.
    for (int pass = 0; pass < 2; ++pass) {
      int error = 0;
      std::shared_ptr<Descriptor> d = Current(error);
      if (!d) {
        Lost().Lost(path_, error, LinesOf(text, headerOnly));
        return;
      }
      struct stat st {};
      const bool named = ::stat(path_.c_str(), &st) == 0 && st.st_dev == d->device && st.st_ino == d->inode;
      if (!named && pass == 0) {
        Forget(d);
        continue;
      }
      if (!named && ::fstat(d->fd, &st) != 0) {
        Lost().Lost(path_, errno, LinesOf(text, headerOnly));
        Forget(d);
        return;
      }
      bool written;
      if (st.st_size != 0 && !headerOnly) {
        written = WriteAll(d->fd, text.data(), text.size());
        error = errno;
      } else {
        written = AppendWithHeader(*d, text, headerOnly, owner, attempts, delayMs, error);
      }
      if (written)
        Lost().Written(path_);
      else
        Lost().Lost(path_, error, LinesOf(text, headerOnly));
      return;
    }
  }

  bool IdleSince(SteadyClock::time_point limit) const {
    return lastUse_.load(std::memory_order_relaxed) < limit.time_since_epoch().count();
  }

 private:
  // The open descriptor, opened (again) when there is none.
  std::shared_ptr<Descriptor> Current(int& error) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (current_) return current_;
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    int fd = ::open(path_.c_str(), flags, 0644);
    if (fd < 0 && errno == ENOENT) {
      // The folder is made on the first line (or again after it was removed).
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
      fd = ::open(path_.c_str(), flags, 0644);
    }
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      error = errno;
      if (fd >= 0) ::close(fd);
      return nullptr;
    }
    try {
      current_ = std::make_shared<Descriptor>(fd, st.st_dev, st.st_ino);
    } catch (...) {
      ::close(fd);
      error = ENOMEM;
      return nullptr;
    }
    return current_;
  }

  // The name leads elsewhere: the next writer opens it again. Writers still
  // holding the old descriptor finish with it.
  void Forget(const std::shared_ptr<Descriptor>& stale) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (current_ == stale) current_.reset();
  }

  // An empty file (or a header asked for): the header and the text in one
  // write, under the file lock and with the threads of this process taking
  // turns, after looking once more whether someone else wrote first.
  bool AppendWithHeader(const Descriptor& d, const std::string& text, bool headerOnly, const PelLog& owner,
                        int attempts, int delayMs, int& error) {
    std::lock_guard<std::mutex> turn(headerMutex_);
    if (!Lock(d.fd, attempts, delayMs, error)) return false;
    struct stat st {};
    std::string out;
    if (headerOnly || (::fstat(d.fd, &st) == 0 && st.st_size == 0)) out = owner.headerText();
    if (!headerOnly) out += text;
    const bool written = WriteAll(d.fd, out.data(), out.size());
    error = errno;
    ::flock(d.fd, LOCK_UN);
    return written;
  }

  // Waits for the file lock while another process holds it, up to the
  // given number of attempts.
  static bool Lock(int fd, int attempts, int delayMs, int& error) {
    for (int attempt = 1;; ++attempt) {
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = errno;
        return false;
      }
      if (attempt >= attempts) {
        error = EWOULDBLOCK;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
  }

  const std::string path_;
  std::mutex mutex_;  // guards current_
  std::shared_ptr<Descriptor> current_;
  std::mutex headerMutex_;  // one header writer of this process at a time
  std::atomic<SteadyClock::rep> lastUse_{0};
};

namespace {

// The open files of this process by path.
class OpenLogFiles {
 public:
  explicit OpenLogFiles(OpenLogFiles* before = nullptr) : before_(before) {}

  std::shared_ptr<OpenLogFile> Get(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = files_.find(path);
    if (it != files_.end() && SteadyClock::now() < nextIdleCheck_) return it->second;
    CloseIdle();
    it = files_.find(path);
    if (it != files_.end()) return it->second;
    auto file = std::make_shared<OpenLogFile>(path);
    files_.emplace(path, file);
    return file;
  }

 private:
  // A writer still holding an entry finishes its line; the descriptor
  // closes when the last holder lets go.
  void CloseIdle() {
    const SteadyClock::time_point now = SteadyClock::now();
    nextIdleCheck_ = now + kIdleClose;
    for (auto it = files_.begin(); it != files_.end();)
      it = it->second->IdleSince(now - kIdleClose) ? files_.erase(it) : std::next(it);
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::shared_ptr<OpenLogFile>> files_;
  SteadyClock::time_point nextIdleCheck_;
  OpenLogFiles* before_;  // the parent's set in a forked child, left alone
};

OpenLogFiles* files = nullptr;
// Counts the forks into children: a PelLog keeps the file it wrote last only
// within the process that found it.
std::atomic<std::uint64_t> g_forks{0};

// A forked child starts with a set of its own: it shares the parent's
// descriptors (and with them the parent's file locks), and a mutex of the
// parent's set may have been held by a thread that does not exist in it.
void AfterForkInChild() {
  files = new OpenLogFiles(files);
  g_forks.fetch_add(1, std::memory_order_relaxed);
}

OpenLogFiles& Files() {
  static std::once_flag once;
  std::call_once(once, [] {
    files = new OpenLogFiles;  // outlives every static log
    ::pthread_atfork(nullptr, nullptr, AfterForkInChild);
  });
  return *files;
}

}  // namespace

std::string LocalDateText(std::time_t t) {
  const SecondTexts& texts = TextsOf(t);
  return std::string(texts.date, texts.dateLength);
}

std::string LocalDateTimeText(std::time_t t) {
  const SecondTexts& texts = TextsOf(t);
  return std::string(texts.stamp, texts.stampLength);
}

PelLog::PelLog() = default;

PelLog::PelLog(const std::string& configuration) { setConfiguration(configuration); }

PelLog::~PelLog() = default;

void PelLog::setConfiguration(const std::string& configuration) {
  configuration_ = configuration;
  prefix_ = "PelLog_" + configuration;
  currentPath_.clear();
}

std::time_t PelLog::now() const { return std::time(nullptr); }

std::filesystem::path PelLog::pathFor(std::time_t t) const { return pathTextFor(t); }

// Built as text: every line needs it, and std::filesystem::path splits
// itself into parts again on every composition.
std::string PelLog::pathTextFor(std::time_t t) const {
  const std::filesystem::path folder = ProgramFolder();
  const SecondTexts& texts = TextsOf(t);
  std::string path;
  path.reserve(folder.native().size() + 2 * configuration_.size() + 32);
  path = folder.native();
  if (!path.empty() && path.back() != '/') path += '/';
  path += "Log/";
  if (!configuration_.empty()) {
    path += configuration_;
    path += '/';
  }
  path += prefix_;
  path += '_';
  path.append(texts.date, texts.dateLength);
  path += ".log";
  return path;
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

void PelLog::appendLine(std::string& line, int severity, const std::string& source,
                        const std::string& message) {
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
  const SecondTexts& time = TextsOf(now());
  const std::size_t sevLength = std::char_traits<char>::length(sev);
  const std::size_t srcLength = source.size() + 2;
  // "%10s%-10s%-30s%s\n" without a size limit on source or message.
  line.reserve(line.size() + 10 + time.stampLength + 10 + 30 + srcLength + message.size() + 1);
  if (time.stampLength < 10) line.append(10 - time.stampLength, ' ');
  line.append(time.stamp, time.stampLength);
  line.append(sev, sevLength);
  line.append(10 - sevLength, ' ');
  line += '[';
  line += source;
  line += ']';
  if (srcLength < 30) line.append(30 - srcLength, ' ');
  line += message;
  line += '\n';
}

std::string PelLog::formatLine(int severity, const std::string& source, const std::string& message) {
  std::string line;
  appendLine(line, severity, source, message);
  return line;
}

void PelLog::writeHeader() { append(std::string(), true); }

void PelLog::write(int detail, int severity, const std::string& source, const std::string& message) {
  if (verbosity_ == 0 && (detail == 1 || detail == 2)) return;
  if (verbosity_ == 1 && detail == 2) return;
  append(formatLine(severity, source, message), false);
}

void PelLog::writeLines(int detail, int severity, const std::string& source,
                        const std::vector<std::string>& messages) {
  if (verbosity_ == 0 && (detail == 1 || detail == 2)) return;
  if (verbosity_ == 1 && detail == 2) return;
  if (messages.empty()) return;
  // Room for all of them at once: one allocation for the whole append.
  std::size_t room = 0;
  for (const std::string& message : messages) room += 64 + source.size() + message.size();
  std::string text;
  text.reserve(room);
  for (const std::string& message : messages) appendLine(text, severity, source, message);
  append(text, false);
}

namespace {

// The files a thread wrote last, each for the log prefix, date, program
// folder and process it was found for: a session writes into one file all
// day, and this spares its lines the path building and the process-wide
// look-up. Per thread, because one PelLog may be shared by threads.
struct RecentFile {
  std::string prefix;
  std::string date;
  std::uint64_t folderChanges = 0;
  std::uint64_t forks = 0;
  std::shared_ptr<OpenLogFile> file;
};

struct RecentFiles {
  static constexpr int kEntries = 2;
  RecentFile entries[kEntries];
  int next = 0;
};

}  // namespace

void PelLog::append(const std::string& text, bool headerOnly) {
  // The path follows today's date, so the file changes at midnight.
  thread_local RecentFiles recent;
  const std::time_t t = now();
  const SecondTexts& texts = TextsOf(t);
  const std::string_view date(texts.date, texts.dateLength);
  const std::uint64_t folderChanges = ProgramFolderChanges();
  const std::uint64_t forks = g_forks.load(std::memory_order_relaxed);
  RecentFile* found = nullptr;
  for (RecentFile& e : recent.entries)
    if (e.file && e.prefix == prefix_ && e.date == date && e.folderChanges == folderChanges &&
        e.forks == forks)
      found = &e;
  if (found == nullptr) {
    found = &recent.entries[recent.next];
    recent.next = (recent.next + 1) % RecentFiles::kEntries;
    found->file = Files().Get(pathTextFor(t));
    found->prefix = prefix_;
    found->date.assign(date);
    found->folderChanges = folderChanges;
    found->forks = forks;
  }
  // A copy: a write into another file from this thread (a header, say)
  // cannot take the file away while it is written.
  const std::shared_ptr<OpenLogFile> file = found->file;
  file->Append(text, headerOnly, *this, retryAttempts_, retryDelayMs_);
}

}  // namespace tarvik
