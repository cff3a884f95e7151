#include "service/NtripUsers.h"

#include <crypt.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace tarvik {

namespace {

// The hash scheme of new entries: SHA-512 crypt, which every libcrypt
// verifies and which costs a few milliseconds per check, once per
// connection.
constexpr const char* kHashPrefix = "$6$";

bool HasControlCharacter(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// mount, user and hash of an entry line; false for anything else.
bool SplitEntry(const std::string& line, NtripUserEntry& entry) {
  const std::size_t first = line.find(':');
  if (first == std::string::npos) return false;
  const std::size_t second = line.find(':', first + 1);
  if (second == std::string::npos) return false;
  entry.mountPoint = line.substr(0, first);
  entry.user = line.substr(first + 1, second - first - 1);
  entry.hash = line.substr(second + 1);
  return !entry.mountPoint.empty() && !entry.user.empty() && !entry.hash.empty() &&
         !HasControlCharacter(line);
}

bool IsCommentOrBlank(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  return start == std::string::npos || line[start] == '#';
}

}  // namespace

NtripUsers NtripUsers::Parse(const std::string& text, std::vector<std::string>& problems) {
  NtripUsers users;
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (IsCommentOrBlank(lines[i])) continue;
    NtripUserEntry e;
    if (!SplitEntry(lines[i], e)) {
      problems.push_back("line " + std::to_string(i + 1) + " is not MOUNT:USER:HASH; it is ignored");
      continue;
    }
    if (e.hash[0] != '$') {
      // A plain password would be accepted by no check; say so instead of
      // leaving the operator to wonder.
      problems.push_back("line " + std::to_string(i + 1) +
                         " holds no crypt hash (it must begin with '$'); it is ignored");
      continue;
    }
    users.entries_.push_back(std::move(e));
  }
  return users;
}

NtripUsers NtripUsers::ClosedToAll() {
  NtripUsers users;
  users.closedToAll_ = true;
  return users;
}

bool NtripUsers::RequiresAuthentication(const std::string& mountPoint) const {
  if (closedToAll_) return true;
  for (const NtripUserEntry& e : entries_)
    if (e.mountPoint == "*" || e.mountPoint == mountPoint) return true;
  return false;
}

bool NtripUsers::Check(const std::string& mountPoint, const std::string& user,
                       const std::string& password) const {
  if (closedToAll_) return false;
  for (const NtripUserEntry& e : entries_)
    if ((e.mountPoint == "*" || e.mountPoint == mountPoint) && e.user == user && Verify(password, e.hash))
      return true;
  return false;
}

bool NtripUsers::Verify(const std::string& password, const std::string& hash) {
  if (hash.empty() || hash[0] != '$' || password.find('\0') != std::string::npos) return false;
  auto data = std::make_unique<crypt_data>();
  std::memset(data.get(), 0, sizeof(crypt_data));
  const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
  // A failed hash starts with '*' and can never equal a stored one.
  if (result == nullptr || result[0] == '*') return false;
  const std::size_t n = std::strlen(result);
  if (n != hash.size()) return false;
  // Compared in full whatever differs, so the time taken tells nothing.
  unsigned char differ = 0;
  for (std::size_t i = 0; i < n; ++i)
    differ |= static_cast<unsigned char>(result[i] ^ static_cast<unsigned char>(hash[i]));
  return differ == 0;
}

std::string NtripUsers::HashPassword(const std::string& password) {
  if (password.find('\0') != std::string::npos) return {};
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (crypt_gensalt_rn(kHashPrefix, 0, nullptr, 0, salt, sizeof salt) == nullptr) return {};
  auto data = std::make_unique<crypt_data>();
  std::memset(data.get(), 0, sizeof(crypt_data));
  const char* result = crypt_r(password.c_str(), salt, data.get());
  if (result == nullptr || result[0] != '$') return {};
  return result;
}

std::string NtripUsers::WithEntry(const std::string& text, const NtripUserEntry& entry) {
  const std::string line = entry.mountPoint + ":" + entry.user + ":" + entry.hash;
  std::string out;
  bool replaced = false;
  for (const std::string& l : Lines(text)) {
    NtripUserEntry e;
    if (!replaced && !IsCommentOrBlank(l) && SplitEntry(l, e) && e.mountPoint == entry.mountPoint &&
        e.user == entry.user) {
      out += line + "\n";
      replaced = true;
      continue;
    }
    out += l + "\n";
  }
  if (!replaced) out += line + "\n";
  return out;
}

NtripUsersFile::NtripUsersFile(std::filesystem::path file)
    : file_(std::move(file)), users_(std::make_shared<NtripUsers>()) {}

std::shared_ptr<const NtripUsers> NtripUsersFile::Current(std::vector<std::string>& problems) {
  std::lock_guard<std::mutex> g(mutex_);
  std::error_code ec;
  const bool exists = std::filesystem::is_regular_file(file_, ec);
  const auto stamp = exists ? std::filesystem::last_write_time(file_, ec) : std::filesystem::file_time_type{};
  const std::uintmax_t size = exists ? std::filesystem::file_size(file_, ec) : 0;
  if (read_ && exists == existed_ && stamp == stamp_ && size == size_) return users_;
  read_ = true;
  existed_ = exists;
  stamp_ = stamp;
  size_ = size;
  if (!exists) {
    users_ = std::make_shared<NtripUsers>();
    return users_;
  }
  std::ifstream in(file_, std::ios::binary);
  std::stringstream text;
  if (!in.is_open()) {
    problems.push_back("the file cannot be read; every mount point is closed until it can");
    users_ = std::make_shared<NtripUsers>(NtripUsers::ClosedToAll());
    return users_;
  }
  text << in.rdbuf();  // an empty file sets failbit here and is simply empty
  users_ = std::make_shared<NtripUsers>(NtripUsers::Parse(text.str(), problems));
  return users_;
}

}  // namespace tarvik
