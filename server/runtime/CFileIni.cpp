#include "runtime/CFileIni.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

namespace tarvik {

namespace {

std::mutex& WriteMutex() {
  static std::mutex m;
  return m;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// One line of the file, split into its text and its line end.
struct Line {
  std::string text;  // without line end
  std::string end;   // "\n", "\r\n" or "" (last line without newline)
};

struct Document {
  std::string bom;  // UTF-8 byte order mark, kept as found
  std::vector<Line> lines;
};

std::optional<std::string> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buffer.str();
}

Document Split(const std::string& content) {
  Document doc;
  std::string_view rest(content);
  if (rest.size() >= 3 && rest.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.bom = "\xEF\xBB\xBF";
    rest.remove_prefix(3);
  }
  while (!rest.empty()) {
    std::size_t nl = rest.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(rest);
      rest = {};
    } else {
      std::string_view t = rest.substr(0, nl);
      if (!t.empty() && t.back() == '\r') {
        t.remove_suffix(1);
        line.end = "\r\n";
      } else {
        line.end = "\n";
      }
      line.text = std::string(t);
      rest.remove_prefix(nl + 1);
    }
    doc.lines.push_back(std::move(line));
  }
  return doc;
}

// Section name of a "[name]" line, if it is one.
std::optional<std::string_view> SectionOf(std::string_view text) {
  std::string_view t = Trim(text);
  if (t.empty() || t.front() != '[') return std::nullopt;
  std::size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view text) {
  std::string_view t = Trim(text);
  return !t.empty() && t.front() == ';';
}

// Key and raw value of a "key=value" line, if it is one.
bool KeyValueOf(std::string_view text, std::string_view& key, std::string_view& value) {
  if (IsComment(text)) return false;
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(text.substr(0, eq));
  if (key.empty()) return false;
  value = Trim(text.substr(eq + 1));
  return true;
}

std::string CleanValue(std::string_view raw) {
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw.remove_prefix(1);
    raw.remove_suffix(1);
  }
  if (raw.size() > CFileIni::ValueBufferSize - 1) raw = raw.substr(0, CFileIni::ValueBufferSize - 1);
  return std::string(raw);
}

// Index range [begin, end) of the body of the first section with that name;
// begin == header index + 1. Returns false when the section is missing.
bool FindSection(const Document& doc, std::string_view section, std::size_t& header,
                 std::size_t& end) {
  for (std::size_t i = 0; i < doc.lines.size(); ++i) {
    auto name = SectionOf(doc.lines[i].text);
    if (!name || !EqualNoCase(*name, section)) continue;
    header = i;
    end = doc.lines.size();
    for (std::size_t j = i + 1; j < doc.lines.size(); ++j) {
      if (SectionOf(doc.lines[j].text)) {
        end = j;
        break;
      }
    }
    return true;
  }
  return false;
}

std::optional<std::string> Lookup(const Document& doc, std::string_view section,
                                  std::string_view key) {
  std::size_t header = 0, end = 0;
  if (!FindSection(doc, section, header, end)) return std::nullopt;
  std::string_view k, v;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (KeyValueOf(doc.lines[i].text, k, v) && EqualNoCase(k, Trim(key))) return CleanValue(v);
  }
  return std::nullopt;
}

bool HasLineBreak(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

std::string LineEndOf(const Document& doc) {
  for (const Line& l : doc.lines)
    if (!l.end.empty()) return l.end;
  return "\n";
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

std::string CFileIni::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  auto content = ReadAll(path_);
  if (!content) return std::string(def);
  auto value = Lookup(Split(*content), Trim(section), key);
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
  std::vector<std::string> names;
  auto content = ReadAll(path_);
  if (!content) return names;
  for (const Line& l : Split(*content).lines) {
    auto name = SectionOf(l.text);
    if (!name) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || EqualNoCase(n, *name);
    if (!seen) names.emplace_back(*name);
  }
  return names;
}

std::vector<std::string> CFileIni::ReadKeyNames(std::string_view section) const {
  std::vector<std::string> names;
  auto content = ReadAll(path_);
  if (!content) return names;
  Document doc = Split(*content);
  std::size_t header = 0, end = 0;
  if (!FindSection(doc, Trim(section), header, end)) return names;
  std::string_view k, v;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (!KeyValueOf(doc.lines[i].text, k, v)) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || EqualNoCase(n, k);
    if (!seen) names.emplace_back(k);
  }
  return names;
}

bool CFileIni::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || key.find('=') != std::string_view::npos ||
      section.find(']') != std::string_view::npos || key.front() == ';' || key.front() == '[')
    return false;

  std::lock_guard<std::mutex> lock(WriteMutex());
  Document doc;
  if (auto content = ReadAll(path_)) {
    doc = Split(*content);
  } else {
    std::error_code ec;
    if (std::filesystem::exists(path_, ec)) return false;  // exists but unreadable
  }
  const std::string eol = LineEndOf(doc);
  std::string entry = std::string(key) + "=" + std::string(value);

  std::size_t header = 0, end = 0;
  if (FindSection(doc, section, header, end)) {
    std::size_t lastEntry = header;
    std::string_view k, v;
    for (std::size_t i = header + 1; i < end; ++i) {
      if (!KeyValueOf(doc.lines[i].text, k, v)) continue;
      if (EqualNoCase(k, key)) {
        // Keep the key as spelled in the file; only the value changes.
        std::string& text = doc.lines[i].text;
        text = text.substr(0, text.find('=') + 1) + std::string(value);
        lastEntry = std::string::npos;
        break;
      }
      lastEntry = i;
    }
    if (lastEntry != std::string::npos) {
      // New key goes right after the section's last entry (or its header).
      if (doc.lines[lastEntry].end.empty()) doc.lines[lastEntry].end = eol;
      doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1),
                       Line{entry, eol});
    }
  } else {
    if (!doc.lines.empty() && doc.lines.back().end.empty()) doc.lines.back().end = eol;
    doc.lines.push_back(Line{"[" + std::string(section) + "]", eol});
    doc.lines.push_back(Line{entry, eol});
  }

  std::string out = doc.bom;
  for (const Line& l : doc.lines) {
    out += l.text;
    out += l.end;
  }
  return WriteAtomically(path_, out);
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
