#pragma once
// CFileIni: access to one INI file in the manner of the Windows private-profile
// functions, which the settings files of the program were written for.
//
// File format as read:
//   - "[Section]" lines open a section; "key=value" lines inside a section are
//     entries; lines starting with ';' are comments; anything else is ignored.
//   - Section and key names compare case-insensitively (ASCII) and are trimmed.
//   - Values are trimmed; one pair of matching surrounding quotes (" or ') is
//     removed. A ';' inside a value is part of the value (no inline comments).
//   - LF and CRLF line ends, a missing final newline and a UTF-8 byte order
//     mark are all accepted.
//   - Duplicate sections or keys: the first one wins, for reading and writing.
//   - A value is cut to ValueBufferSize - 1 characters, like the 1024-byte
//     buffer of the private-profile reader.
//
// Every call reads the file afresh (no caching), so edits made by the operator
// in a text editor are seen by the next read.
//
// Writing a key rewrites the file with only that line changed (or added): all
// other lines, comments, blank lines, order and line-end style are kept. The
// new content goes to a temporary file of its own, is synced to disk and
// replaces the original in one rename (the folder is synced after it), so a
// crash at any moment leaves either the old or the new file, never a
// truncated one. The file keeps its permissions. Writes of one process are
// serialised.
//
// Free of any other part of the program, so the libraries may compile it in.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/IniText.h"

namespace tarvik {

class CFileIni {
 public:
  static constexpr std::size_t ValueBufferSize = IniText::ValueBufferSize;

  CFileIni() = default;
  explicit CFileIni(std::filesystem::path path);

  void SetPath(std::filesystem::path path) { path_ = std::move(path); }
  const std::filesystem::path& Path() const { return path_; }

  // True when the file exists and can be opened for reading.
  bool CanRead() const;

  // The value, or def when the file, section or key is missing or the value
  // is empty.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view def = "") const;

  // Decimal conversion in the manner of atoi/atol: leading blanks and a sign
  // are accepted, conversion stops at the first non-digit, text without a
  // number gives 0, values beyond the type's range are clamped.
  // def is returned only when the value is missing or empty.
  int ReadInt(std::string_view section, std::string_view key, int def = 0) const;
  long ReadLong(std::string_view section, std::string_view key, long def = 0) const;

  // Conversion in the manner of atof / "%lf"; text without a number gives 0.0.
  double ReadDouble(std::string_view section, std::string_view key, double def = 0.0) const;

  // Names of all sections / of all keys of a section, in file order, first
  // occurrence only.
  std::vector<std::string> ReadSectionNames() const;
  std::vector<std::string> ReadKeyNames(std::string_view section) const;

  // Writes key=value into section, creating the file, the section or the key
  // as needed. Returns false when the file cannot be written or when a name or
  // the value would break the file (line breaks, '=' or ']' in names, empty
  // names).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Replaces the whole file by `content` in the same crash-safe way.
  bool WriteWhole(const std::string& content);
  // Several keys of one section in one rewrite: all of them or none.
  bool WriteStrings(std::string_view section, const std::vector<std::pair<std::string, std::string>>& values);
  bool WriteInt(std::string_view section, std::string_view key, long value);
  bool WriteDouble(std::string_view section, std::string_view key, double value);

  // Helpers shared with other readers of the same conventions.
  static long ParseLong(std::string_view text);      // atol-style
  static double ParseDouble(std::string_view text);  // atof-style
  // Keywords compare without case: blanks removed at both ends, ASCII
  // letters in upper case.
  static std::string UpperTrimmed(std::string_view text);
  // Path values may be written with '\' as on the system the files were
  // first kept on: backslashes become slashes.
  static std::string NormalisedPath(std::string value);

 private:
  std::filesystem::path path_;
};

}  // namespace tarvik
