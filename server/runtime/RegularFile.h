#pragma once
// Reading data files that come from the configuration (databases, grids,
// coefficient vectors) without trusting what the path names: only a regular
// file is read. A FIFO would block the reader until some writer appears and
// then feed it without end, a device such as /dev/zero never ends, a folder
// has no content; all of them are refused without blocking.
//
// Reads never throw; allocation failures come back as a status.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

enum class FileStatus {
  Ok,
  CannotOpen,  // missing, unreadable
  NotRegular,  // a folder, FIFO, device or socket
  TooLarge,    // more bytes than the caller's bound, or a line longer than its bound
  ReadError,   // the system failed while reading, or memory ran out
};

// An open regular file, read from its descriptor (so the file checked is the
// file read, even if the path is replaced meanwhile).
class RegularFile {
 public:
  explicit RegularFile(const std::filesystem::path& path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  FileStatus Status() const { return status_; }
  // Size when opened (bytes).
  std::uint64_t Size() const { return size_; }

  // Up to `capacity` bytes; 0 at the end of the file, -1 on an error.
  long Read(char* buffer, std::size_t capacity);

 private:
  int fd_ = -1;
  FileStatus status_ = FileStatus::CannotOpen;
  std::uint64_t size_ = 0;
};

// The next line of a file, without its line break (a final '\r' is kept;
// callers trim what they need). A line longer than the bound ends the
// reading with TooLong, so a file without line breaks is never held whole.
class LineReader {
 public:
  enum class Result { Line, End, TooLong, Error };

  LineReader(RegularFile& file, std::size_t maxLineLength);
  Result Next(std::string_view& line);

 private:
  bool Fill();

  RegularFile& file_;
  std::size_t maxLine_;
  std::string buffer_;
  std::size_t begin_ = 0;  // start of the unread part of buffer_
  bool end_ = false;
  bool error_ = false;
};

// The whole content of a regular file of at most maxBytes bytes.
FileStatus ReadRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& content);

}  // namespace tarvik
