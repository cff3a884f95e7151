#include "app/ConfigurationName.h"

namespace tarvik {

std::string CheckConfigurationName(const std::string& name) {
  if (name.empty()) return "Please specify a name.";
  if (name.size() > 100) return "The name is too long (at most 100 characters).";
  if (name == "." || name == "..") return "The name \"" + name + "\" is not allowed.";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) return "The name must not contain control characters.";
    if (c == '/' || c == '\\') return "The name must not contain '/' or '\\'.";
    if (c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return "The name must not contain any of : * ? \" < > |";
  }
  // The INI reader trims values and strips one pair of quotes; a name with
  // blanks at either end would come back as a different name.
  if (name.front() == ' ' || name.back() == ' ') return "The name must not begin or end with a blank.";
  if (name.front() == '\'') return "The name must not begin with a quote.";
  if (name.front() == '.') return "The name must not begin with '.'.";
  // Removed configurations keep their folder under this marker.
  if (name.find("__deleted__") != std::string::npos) return "The name must not contain \"__deleted__\".";
  return {};
}

}  // namespace tarvik
