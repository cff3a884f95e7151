#include "app/LoopbackHost.h"

namespace tarvik {
namespace {

bool AllDigits(std::string_view s, std::size_t maxLength) {
  if (s.empty() || s.size() > maxLength) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

unsigned Number(std::string_view digits) {
  unsigned v = 0;
  for (char c : digits) v = v * 10 + static_cast<unsigned>(c - '0');
  return v;
}

bool IsPort(std::string_view s) { return AllDigits(s, 5) && Number(s) <= 65535; }

bool IsLocalhost(std::string_view s) {
  constexpr std::string_view kName = "localhost";
  if (s.size() != kName.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

// Four decimal parts of at most three digits, each at most 255, the first 127.
bool IsLoopbackQuad(std::string_view s) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? s.find('.') : s.size();
    if (dot == std::string_view::npos) return false;
    const std::string_view digits = s.substr(0, dot);
    if (!AllDigits(digits, 3) || Number(digits) > 255) return false;
    if (part == 0 && Number(digits) != 127) return false;
    s.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return s.empty();
}

}  // namespace

bool IsLoopbackAddress(std::string_view a) { return IsLocalhost(a) || a == "::1" || IsLoopbackQuad(a); }

bool IsLoopbackHost(std::string_view host) {
  std::string_view name = host;
  std::string_view rest;
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos || host.substr(1, close - 1) != "::1") return false;
    rest = host.substr(close + 1);
    name = {};
  } else {
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
      name = host.substr(0, colon);
      rest = host.substr(colon);
    }
    if (!IsLocalhost(name) && !IsLoopbackQuad(name)) return false;
  }
  return rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)));
}

}  // namespace tarvik
