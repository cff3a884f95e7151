#include "runtime/IniText.h"

#include <algorithm>
#include <unordered_set>

namespace tarvik {

namespace {

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

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

using Line = IniText::Line;

void Split(std::string_view content, std::string_view& bom, std::vector<Line>& lines) {
  std::string_view rest(content);
  if (rest.size() >= 3 && rest.substr(0, 3) == "\xEF\xBB\xBF") {
    bom = rest.substr(0, 3);
    rest.remove_prefix(3);
  }
  while (!rest.empty()) {
    const std::size_t nl = rest.find('\n');
    if (nl == std::string_view::npos) {
      lines.push_back(Line{rest, {}});
      break;
    }
    const bool crlf = nl > 0 && rest[nl - 1] == '\r';
    const std::size_t textLength = crlf ? nl - 1 : nl;
    lines.push_back(Line{rest.substr(0, textLength), rest.substr(textLength, nl + 1 - textLength)});
    rest.remove_prefix(nl + 1);
  }
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
  if (raw.size() > IniText::ValueBufferSize - 1) raw = raw.substr(0, IniText::ValueBufferSize - 1);
  return std::string(raw);
}

// Index range [begin, end) of the body of the first section with that name;
// begin == header index + 1. Returns false when the section is missing.
bool FindSection(const std::vector<Line>& lines, std::string_view section, std::size_t& header,
                 std::size_t& end) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionOf(lines[i].text);
    if (!name || !EqualNoCase(*name, section)) continue;
    header = i;
    end = lines.size();
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      if (SectionOf(lines[j].text)) {
        end = j;
        break;
      }
    }
    return true;
  }
  return false;
}

bool HasLineBreak(std::string_view s) {
  return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

std::string_view LineEndOf(const std::vector<Line>& lines) {
  for (const Line& l : lines)
    if (!l.end.empty()) return l.end;
  return "\n";
}

}  // namespace

IniText::IniText(std::string_view content) : content_(content) {
  lines_.reserve(static_cast<std::size_t>(std::count(content_.begin(), content_.end(), '\n')) + 1);
  Split(content_, bom_, lines_);
}

std::optional<std::string> IniText::Value(std::string_view section, std::string_view key) const {
  std::size_t header = 0, end = 0;
  if (!FindSection(lines_, Trim(section), header, end)) return std::nullopt;
  key = Trim(key);
  std::string_view k, v;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (KeyValueOf(lines_[i].text, k, v) && EqualNoCase(k, key)) return CleanValue(v);
  }
  return std::nullopt;
}

std::vector<std::string> IniText::SectionNames() const {
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;  // lower case: first spelling wins
  for (const Line& l : lines_) {
    auto name = SectionOf(l.text);
    if (!name) continue;
    if (seen.insert(LowerCopy(*name)).second) names.emplace_back(*name);
  }
  return names;
}

std::vector<std::string> IniText::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  std::size_t header = 0, end = 0;
  if (!FindSection(lines_, Trim(section), header, end)) return names;
  std::unordered_set<std::string> seen;
  std::string_view k, v;
  for (std::size_t i = header + 1; i < end; ++i) {
    if (!KeyValueOf(lines_[i].text, k, v)) continue;
    if (seen.insert(LowerCopy(k)).second) names.emplace_back(k);
  }
  return names;
}

std::optional<std::string> IniText::WithValue(std::string_view section, std::string_view key,
                                              std::string_view value) const {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
      key.find('=') != std::string_view::npos || section.find(']') != std::string_view::npos ||
      key.front() == ';' || key.front() == '[')
    return std::nullopt;

  const std::string_view eol = LineEndOf(lines_);

  // Where the entry goes: the key's own line, a new line after the section's
  // last entry (or its header), or a new section at the end.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t replace = kNone, insertAfter = kNone;
  std::size_t header = 0, end = 0;
  if (FindSection(lines_, section, header, end)) {
    insertAfter = header;
    std::string_view k, v;
    for (std::size_t i = header + 1; i < end; ++i) {
      if (!KeyValueOf(lines_[i].text, k, v)) continue;
      if (EqualNoCase(k, key)) {
        replace = i;
        break;
      }
      insertAfter = i;
    }
  }

  std::string out;
  out.reserve(content_.size() + section.size() + key.size() + value.size() + 8);
  out += bom_;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];
    if (i == replace) {
      // Keep the key as spelled in the file; only the value changes.
      out += l.text.substr(0, l.text.find('=') + 1);
      out += value;
    } else {
      out += l.text;
    }
    const bool lineFollows = (i == insertAfter && replace == kNone) ||
                             (insertAfter == kNone && replace == kNone && i + 1 == lines_.size());
    out += (l.end.empty() && lineFollows) ? eol : l.end;
    if (i == insertAfter && replace == kNone) {
      out.append(key).append("=").append(value).append(eol);
    }
  }
  if (insertAfter == kNone && replace == kNone) {
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(value).append(eol);
  }
  return out;
}

}  // namespace tarvik
