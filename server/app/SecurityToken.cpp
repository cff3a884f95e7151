#include "app/SecurityToken.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>

namespace tarvik {

std::string MakeSecurityToken() {
  std::random_device rd;  // backed by the kernel's random source on Linux
  static const char* const hex = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    unsigned int v = rd();
    for (int k = 0; k < 8; ++k) {
      token += hex[v & 0xF];
      v >>= 4;
    }
  }
  return token;
}

bool StoreSecurityToken(const std::filesystem::path& file, const std::string& token) {
  std::filesystem::path tmp = file;
  tmp += ".tmp";
  ::unlink(tmp.c_str());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string text = token + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = std::rename(tmp.c_str(), file.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool TokensEqual(std::string_view expected, std::string_view given) {
  if (expected.empty()) return false;
  unsigned char diff = expected.size() == given.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(expected[i] ^ (i < given.size() ? given[i] : 0));
  return diff == 0;
}

}  // namespace tarvik
