#pragma once
// IniText: the content of one INI file held in memory, read and edited by the
// rules of CFileIni (which adds the file access). Kept apart from the file so
// that the rules can be exercised without touching a disk.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class IniText {
 public:
  // Values are cut to ValueBufferSize - 1 characters, like the 1024-byte
  // buffer of the private-profile reader.
  static constexpr std::size_t ValueBufferSize = 1024;

  // Keeps its own copy of the content; the lines are views into it.
  explicit IniText(std::string_view content);
  IniText(const IniText&) = delete;
  IniText& operator=(const IniText&) = delete;

  // The value of key in section (trimmed, one pair of quotes removed, cut to
  // the value buffer), or nothing when the section or the key is missing.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> KeyNames(std::string_view section) const;

  // The whole content with key=value written into section: the key's line
  // changed, or a line added after the section's last entry, or the section
  // added at the end; every other byte stays. Nothing when a name or the
  // value would break the file (empty names, line breaks, '=' in the key,
  // ']' in the section, a key that reads as a comment or section).
  std::optional<std::string> WithValue(std::string_view section, std::string_view key,
                                       std::string_view value) const;

  struct Line {
    std::string_view text;  // without line end
    std::string_view end;   // "\n", "\r\n" or "" (last line without newline)
  };

 private:
  std::string content_;
  std::string_view bom_;  // UTF-8 byte order mark, kept as found
  std::vector<Line> lines_;
};

}  // namespace tarvik
