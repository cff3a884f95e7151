#include "runtime/CFileIni.h"

#include <unistd.h>

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

bool WriteAtomically(const std::filesystem::path& target, const std::string& content) {
  std::filesystem::path dest = target;
  std::error_code ec;
  if (std::filesystem::is_symlink(target, ec)) {
    auto resolved = std::filesystem::weakly_canonical(target, ec);
    if (!ec) dest = resolved;
  }
  std::filesystem::path temp = dest;
  temp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, dest, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

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
  std::lock_guard<std::mutex> lock(WriteMutex());
  auto content = ReadAll(path_);
  if (!content) {
    std::error_code ec;
    if (std::filesystem::exists(path_, ec)) return false;  // exists but unreadable
  }
  auto written = IniText(content ? *content : std::string()).WithValue(section, key, value);
  return written && WriteAtomically(path_, *written);
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
