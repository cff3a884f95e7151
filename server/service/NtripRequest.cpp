#include "service/NtripRequest.h"

#include <cctype>

namespace tarvik {

namespace {

bool IsTokenChar(unsigned char c) {
  if (std::isalnum(c)) return true;
  switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
      return true;
    default:
      return false;
  }
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!IsTokenChar(c)) return false;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view WithoutCR(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string NtripRequestHead::field(std::string_view name) const {
  for (const auto& [n, v] : fields)
    if (EqualsNoCase(n, name)) return v;
  return {};
}

bool NtripRequestHead::hasField(std::string_view name) const {
  for (const auto& f : fields)
    if (EqualsNoCase(f.first, name)) return true;
  return false;
}

bool NtripRequestHead::ntrip2() const {
  // "Ntrip/2.0", possibly with more versions after it.
  const std::string v = field("Ntrip-Version");
  return v.size() >= 9 && EqualsNoCase(std::string_view(v).substr(0, 9), "Ntrip/2.0");
}

int NtripRequestHead::mountPoint(std::string& mount) const {
  mount.clear();
  std::string_view path = target;
  if (path.empty() || path.front() != '/') return kNtripHeadMalformed;
  path.remove_prefix(1);
  const std::size_t query = path.find('?');
  if (query != std::string_view::npos) path = path.substr(0, query);
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      mount.push_back(path[i]);
      continue;
    }
    if (i + 2 >= path.size()) return kNtripHeadMalformed;
    const int high = HexValue(path[i + 1]), low = HexValue(path[i + 2]);
    if (high < 0 || low < 0) return kNtripHeadMalformed;
    mount.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return kNtripHeadOK;
}

int ParseNtripRequestLine(std::string_view line, NtripRequestHead& head) {
  line = WithoutCR(line);
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return kNtripHeadMalformed;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
    return kNtripHeadMalformed;
  const std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (!IsToken(method) || target.empty()) return kNtripHeadMalformed;
  if (version != "HTTP/1.0" && version != "HTTP/1.1") return kNtripHeadMalformed;
  for (unsigned char c : target)
    if (c <= 0x20 || c >= 0x7F) return kNtripHeadMalformed;
  // A client behind a proxy may name the whole URL; only its path counts.
  if (target.size() >= 7 && EqualsNoCase(target.substr(0, 7), "http://")) {
    const std::size_t slash = target.find('/', 7);
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (target.front() != '/') return kNtripHeadMalformed;
  head.method = std::string(method);
  head.target = std::string(target);
  head.httpVersion = std::string(version);
  return kNtripHeadOK;
}

int ParseNtripHeaderField(std::string_view line, NtripRequestHead& head) {
  line = WithoutCR(line);
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return kNtripHeadMalformed;
  const std::string_view name = line.substr(0, colon);
  if (!IsToken(name)) return kNtripHeadMalformed;  // also refuses a folded line and "Name :"
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  for (unsigned char c : value)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return kNtripHeadMalformed;
  head.fields.emplace_back(std::string(name), std::string(value));
  return kNtripHeadOK;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  bytes.clear();
  std::size_t padding = 0;
  while (!text.empty() && text.back() == '=') {
    text.remove_suffix(1);
    ++padding;
  }
  if (padding > 2 || text.size() % 4 == 1) return false;
  if (padding > 0 && (text.size() + padding) % 4 != 0) return false;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return false;
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFFu));
    }
  }
  // The bits left over must be zero, or the text was not made by an encoder.
  return (buffer & ((1u << bits) - 1u)) == 0;
}

NtripCredentials ParseNtripAuthorization(std::string_view value) {
  NtripCredentials c;
  value = TrimBlanks(value);
  const std::size_t blank = value.find_first_of(" \t");
  const std::string_view scheme = value.substr(0, blank);
  if (!EqualsNoCase(scheme, "Basic")) {
    c.kind = IsToken(scheme) ? NtripCredentials::kOtherScheme : NtripCredentials::kMalformed;
    return c;
  }
  c.kind = NtripCredentials::kMalformed;
  if (blank == std::string_view::npos) return c;
  const std::string_view encoded = TrimBlanks(value.substr(blank));
  std::string decoded;
  if (encoded.empty() || !DecodeBase64(encoded, decoded)) return c;
  const std::size_t colon = decoded.find(':');
  if (colon == std::string::npos) return c;
  c.kind = NtripCredentials::kBasic;
  c.user = decoded.substr(0, colon);
  c.password = decoded.substr(colon + 1);
  return c;
}

}  // namespace tarvik
