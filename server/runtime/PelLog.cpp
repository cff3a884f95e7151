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

// One day's file, kept open for appending and shared by every PelLog that
// writes into it. Lines go out in single write(2) calls on an O_APPEND
// descriptor, made while holding an advisory lock (flock) on the file, so
// lines of other threads and other processes never mix into them.
//
// The threads of this process take turns: the one that finds the file free
// writes its own line together with every line that other threads handed
// over meanwhile, in one write under one lock, and only then lets those
// threads return. So a busy file costs a few system calls per batch rather
// than per line, and still nothing is held back in memory: when Append
// returns, the line is in the kernel's hands, and a crash or kill of the
// program cannot lose it.
class OpenLogFile {
 public:
  explicit OpenLogFile(std::string path) : path_(std::move(path)) {}
  ~OpenLogFile() { Close(); }
  OpenLogFile(const OpenLogFile&) = delete;
  OpenLogFile& operator=(const OpenLogFile&) = delete;

  // Appends the line, preceded by the header block when the file is still
  // empty (and always when headerOnly, which writes nothing else). Returns
  // when the line was written or given up.
  void Append(const std::string& line, bool headerOnly, const PelLog& owner, int attempts, int delayMs) {
    Handover mine{&line, headerOnly, attempts, delayMs, Handover::kWaiting, {}};
    std::unique_lock<std::mutex> lock(mutex_);
    waiting_.push_back(&mine);
    if (writing_) {
      // Another thread writes: it takes this line into its next batch or
      // hands the turn to this thread.
      mine.wake.wait(lock, [&mine] { return mine.state != Handover::kWaiting; });
      if (mine.state == Handover::kWritten) return;
    }
    writing_ = true;
    batch_.swap(waiting_);
    lock.unlock();
    WriteBatch(owner);
    lock.lock();
    // Each woken thread returns only after taking mutex_, so its Handover
    // is not touched once this thread lets the mutex go.
    for (Handover* h : batch_) {
      if (h == &mine) continue;
      h->state = Handover::kWritten;
      h->wake.notify_one();
    }
    batch_.clear();
    if (waiting_.empty()) {
      writing_ = false;
    } else {
      waiting_.front()->state = Handover::kYourTurn;
      waiting_.front()->wake.notify_one();
    }
  }

  bool IdleSince(SteadyClock::time_point limit) const {
    return lastUse_.load(std::memory_order_relaxed) < limit.time_since_epoch().count();
  }

 private:
  // One caller's line, waiting to be written.
  struct Handover {
    enum State { kWaiting, kWritten, kYourTurn };
    const std::string* line;
    bool headerOnly;
    int attempts;
    int delayMs;
    State state = kWaiting;
    std::condition_variable wake;
  };

  // Writes batch_; runs in one thread at a time (writing_).
  void WriteBatch(const PelLog& owner) {
    lastUse_.store(SteadyClock::now().time_since_epoch().count(), std::memory_order_relaxed);
    // The most patient caller decides how long a lock held by another
    // process is waited for.
    const Handover* patient = batch_.front();
    for (const Handover* h : batch_)
      if (h->attempts > patient->attempts) patient = h;
    const unsigned long count = batch_.size();

    // A second pass only when the name no longer led to the open file.
    for (int pass = 0; pass < 2; ++pass) {
      int error = 0;
      if (fd_ < 0 && !Open(error)) {
        Lost().Lost(path_, error, count);
        return;
      }
      if (!Lock(patient->attempts, patient->delayMs, error)) {
        Lost().Lost(path_, error, count);
        return;
      }
      // Under the lock, through the name rather than the descriptor: a file
      // that was removed, renamed away (rotated) or replaced while we held
      // it open is left for the file under its name, made anew if need be,
      // and a file that is still empty starts with the header (another
      // process may have created it, or someone emptied it).
      struct stat st {};
      const bool named = ::stat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
      if (!named && pass == 0) {
        Close();
        continue;
      }
      if (!named && ::fstat(fd_, &st) != 0) {
        Lost().Lost(path_, errno, count);
        Close();
        return;
      }
      bool written;
      if (count == 1 && st.st_size != 0 && !batch_.front()->headerOnly) {
        written = WriteAll(fd_, batch_.front()->line->data(), batch_.front()->line->size());
      } else {
        text_.clear();
        if (st.st_size == 0 && !batch_.front()->headerOnly) text_ += owner.headerText();
        for (const Handover* h : batch_) text_ += h->headerOnly ? owner.headerText() : *h->line;
        written = WriteAll(fd_, text_.data(), text_.size());
        if (text_.capacity() > 1 << 16) std::string().swap(text_);
      }
      error = errno;
      ::flock(fd_, LOCK_UN);
      if (written)
        Lost().Written(path_);
      else
        Lost().Lost(path_, error, count);
      return;
    }
  }

  bool Open(int& error) {
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
    fd_ = ::open(path_.c_str(), flags, 0644);
    if (fd_ < 0 && errno == ENOENT) {
      // The folder is made on the first line (or again after it was removed).
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
      fd_ = ::open(path_.c_str(), flags, 0644);
    }
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
      error = errno;
      Close();
      return false;
    }
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Waits for the file lock while another process holds it, up to the
  // given number of attempts.
  bool Lock(int attempts, int delayMs, int& error) {
    for (int attempt = 1;; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = errno;
        Close();
        return false;
      }
      if (attempt >= attempts) {
        error = EWOULDBLOCK;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
  }

  std::mutex mutex_;  // guards waiting_, writing_ and the Handover states
  std::vector<Handover*> waiting_;
  bool writing_ = false;
  // Owned by the writing thread.
  std::vector<Handover*> batch_;
  std::string text_;
  const std::string path_;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::atomic<SteadyClock::rep> lastUse_{0};
};

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

// A forked child starts with a set of its own: it shares the parent's
// descriptors (and with them the parent's file locks), and a mutex of the
// parent's set may have been held by a thread that does not exist in it.
void AfterForkInChild() { files = new OpenLogFiles(files); }

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
  const SecondTexts& time = TextsOf(now());
  const std::size_t sevLength = std::char_traits<char>::length(sev);
  const std::size_t srcLength = source.size() + 2;
  // "%10s%-10s%-30s%s\n" without a size limit on source or message.
  std::string line;
  line.reserve(10 + time.stampLength + 10 + 30 + srcLength + message.size() + 1);
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
  return line;
}

void PelLog::writeHeader() { append(std::string(), true); }

void PelLog::write(int detail, int severity, const std::string& source, const std::string& message) {
  if (verbosity_ == 0 && (detail == 1 || detail == 2)) return;
  if (verbosity_ == 1 && detail == 2) return;
  append(formatLine(severity, source, message), false);
}

void PelLog::append(const std::string& line, bool headerOnly) {
  // The path follows today's date, so the file changes at midnight.
  const std::string path = pathTextFor(now());
  Files().Get(path)->Append(line, headerOnly, *this, retryAttempts_, retryDelayMs_);
}

}  // namespace tarvik
