#include "runtime/CFileIni.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "runtime/IniText.h"

namespace tarvik {

namespace {

std::mutex& WriteMutex() {
  static std::mutex m;
  return m;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::optional<std::string> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buffer.str();
}

// Writes the whole buffer, going on after short writes and interruptions.
bool WriteFully(int fd, const std::string& content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// The rename is only durable once the folder's entry is on disk too.
void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// A temporary file of its own beside `dest`: the name carries the process
// and a counter, and the open refuses anything already there (a file left
// by a crash, another writer's file, a planted link), so two writers never
// share one and nothing outside the folder is ever written through it.
int CreateTemporary(const std::filesystem::path& dest, std::filesystem::path& temp, mode_t mode) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = dest;
    temp += ".tmp" + std::to_string(::getpid()) + "." + std::to_string(counter++);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Replaces `target` by `content` so that, whenever the process dies, the
// file holds either the old or the new content in full: the content goes
// into a temporary file that is synced to disk and then renamed over the
// target. The file keeps its permissions (and, where allowed, its owner).
bool WriteAtomically(const std::filesystem::path& target, const std::string& content) {
  std::filesystem::path dest = target;
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    auto resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) dest = resolved;
  }
  struct stat old {};
  const bool existed = ::stat(dest.c_str(), &old) == 0;

  // A new file gets what a plain create gives (0666 less the umask); an
  // existing one its own mode, set before any content is written.
  std::filesystem::path temp;
  const int fd = CreateTemporary(dest, temp, existed ? 0600 : 0666);
  if (fd < 0) return false;
  bool ok = !existed || ::fchmod(fd, old.st_mode & 07777) == 0;
  if (ok && existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // Best effort: only a privileged writer can hand the file back.
    [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
  }
  ok = ok && WriteFully(fd, content) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), dest.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(dest.parent_path());
  return true;
}

// Holds an exclusive lock on a folder while one read-change-write of a file
// in it runs, so writers in other processes do not lose each other's keys.
// No lock file is needed: the lock sits on the folder itself.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder)
      : fd_(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0)
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  int fd_;
};

}  // namespace

CFileIni::CFileIni(std::filesystem::path path) : path_(std::move(path)) {}

bool CFileIni::CanRead() const {
  std::error_code ec;
  if (std::filesystem::is_directory(path_, ec)) return false;
  std::ifstream in(path_, std::ios::binary);
  return static_cast<bool>(in);
}

std::string CFileIni::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
  auto content = ReadAll(path_);
  if (!content) return std::string(def);
  auto value = IniText(*content).Value(section, key);
  if (!value || value->empty()) return std::string(def);
  return *value;
}

long CFileIni::ParseLong(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate towards the negative side, which has the larger range.
  long value = 0;
  bool clamped = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (clamped) continue;
    if (value < (LONG_MIN + digit) / 10) {
      clamped = true;
      value = LONG_MIN;
      continue;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == LONG_MIN) return LONG_MAX;
  return -value;
}

double CFileIni::ParseDouble(std::string_view text) {
  std::string copy(text.substr(0, std::min<std::size_t>(text.size(), ValueBufferSize)));
  return std::strtod(copy.c_str(), nullptr);
}

std::string CFileIni::UpperTrimmed(std::string_view text) {
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
  };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string CFileIni::NormalisedPath(std::string value) {
  for (char& c : value)
    if (c == '\\') c = '/';
  return value;
}

int CFileIni::ReadInt(std::string_view section, std::string_view key, int def) const {
  std::string s = ReadString(section, key);
  if (s.empty()) return def;
  long v = ParseLong(s);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

long CFileIni::ReadLong(std::string_view section, std::string_view key, long def) const {
  std::string s = ReadString(section, key);
  if (s.empty()) return def;
  return ParseLong(s);
}

double CFileIni::ReadDouble(std::string_view section, std::string_view key, double def) const {
  std::string s = ReadString(section, key);
  if (s.empty()) return def;
  return ParseDouble(s);
}

std::vector<std::string> CFileIni::ReadSectionNames() const {
  auto content = ReadAll(path_);
  if (!content) return {};
  return IniText(*content).SectionNames();
}

std::vector<std::string> CFileIni::ReadKeyNames(std::string_view section) const {
  auto content = ReadAll(path_);
  if (!content) return {};
  return IniText(*content).KeyNames(section);
}

bool CFileIni::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  return WriteStrings(section, {{std::string(key), std::string(value)}});
}

bool CFileIni::WriteStrings(std::string_view section,
                            const std::vector<std::pair<std::string, std::string>>& values) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  FolderLock folderLock(path_.parent_path());
  auto content = ReadAll(path_);
  if (!content) {
    std::error_code ec;
    if (std::filesystem::exists(path_, ec)) return false;  // exists but unreadable
  }
  std::string text = content ? std::move(*content) : std::string();
  for (const auto& [key, value] : values) {
    auto written = IniText(text).WithValue(section, key, value);
    if (!written) return false;
    text = std::move(*written);
  }
  return WriteAtomically(path_, text);
}

bool CFileIni::WriteWhole(const std::string& content) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  FolderLock folderLock(path_.parent_path());
  return WriteAtomically(path_, content);
}

bool CFileIni::WriteInt(std::string_view section, std::string_view key, long value) {
  return WriteString(section, key, std::to_string(value));
}

bool CFileIni::WriteDouble(std::string_view section, std::string_view key, double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return WriteString(section, key, buf);
}

}  // namespace tarvik
