#include "app/NtripPasswordCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "module/CConfigurationSettings.h"
#include "service/NtripUsers.h"

namespace tarvik {

namespace {

bool HasControlCharacter(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// Writes through a temporary file and a rename, so the caster never reads
// half a file; the file holds hashes and is kept from other users.
bool WriteWhole(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path temp = file;
  temp += ".new" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  std::error_code ec;
  if (written) std::filesystem::rename(temp, file, ec);
  if (!written || ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

}  // namespace

int SetNtripPassword(const std::filesystem::path& usersFile, const std::string& mountAndUser,
                     std::istream& input, std::ostream& out, std::ostream& err) {
  const std::size_t colon = mountAndUser.find(':');
  const std::string mount = mountAndUser.substr(0, colon);
  const std::string user = colon == std::string::npos ? std::string() : mountAndUser.substr(colon + 1);
  if (mount != "*" && !IsNtripMountPointName(mount)) {
    err << "\"" << mount
        << "\" is not a mount point (1 to 100 letters, digits, '-', '_', '.' or '~', or *).\n";
    return 1;
  }
  if (user.empty() || user.find(':') != std::string::npos || HasControlCharacter(user)) {
    err << "A user name must not be empty and must not contain ':' or control characters.\n";
    return 1;
  }
  std::string password;
  std::getline(input, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) {
    err << "No password was given on standard input.\n";
    return 1;
  }
  const std::string hash = NtripUsers::HashPassword(password);
  if (hash.empty()) {
    err << "The password could not be hashed.\n";
    return 1;
  }
  std::string text;
  std::error_code ec;
  if (std::filesystem::exists(usersFile, ec)) {
    std::ifstream in(usersFile, std::ios::binary);
    if (!in.is_open()) {
      err << "The users file " << usersFile.string() << " cannot be read.\n";
      return 1;
    }
    std::stringstream s;
    s << in.rdbuf();
    text = s.str();
  } else {
    text =
        "# NTRIP caster users: MOUNT:USER:HASH (MOUNT \"*\" for every mount point).\n"
        "# Set entries with: Tarvik --ntrip-passwd MOUNT:USER (the password on standard input).\n";
  }
  if (!WriteWhole(usersFile, NtripUsers::WithEntry(text, {mount, user, hash}))) {
    err << "The users file " << usersFile.string() << " cannot be written.\n";
    return 1;
  }
  out << "Password of user " << user << " on mount point " << mount << " set in " << usersFile.string()
      << ".\n";
  return 0;
}

}  // namespace tarvik
