#include "runtime/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace tarvik {

RegularFile::RegularFile(const std::filesystem::path& path) {
  // Non-blocking, so that opening a FIFO without a writer returns at once;
  // the descriptor is then checked before anything is read from it.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    status_ = FileStatus::CannotOpen;
    return;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    status_ = FileStatus::CannotOpen;
    return;
  }
  if (!S_ISREG(info.st_mode)) {
    status_ = FileStatus::NotRegular;
    return;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  status_ = FileStatus::Ok;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

long RegularFile::Read(char* buffer, std::size_t capacity) {
  if (status_ != FileStatus::Ok) return -1;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, capacity);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

LineReader::LineReader(RegularFile& file, std::size_t maxLineLength) : file_(file), maxLine_(maxLineLength) {}

bool LineReader::Fill() {
  try {
    if (begin_ > 0) {
      buffer_.erase(0, begin_);
      begin_ = 0;
    }
    const std::size_t old = buffer_.size();
    buffer_.resize(old + kChunk);
    const long n = file_.Read(buffer_.data() + old, kChunk);
    buffer_.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n < 0) error_ = true;
    if (n == 0) end_ = true;
    return n > 0;
  } catch (const std::bad_alloc&) {
    error_ = true;
    return false;
  }
}

LineReader::Result LineReader::Next(std::string_view& line) {
  for (;;) {
    const std::size_t newline = buffer_.find('\n', begin_);
    if (newline != std::string::npos) {
      if (newline - begin_ > maxLine_) return Result::TooLong;
      line = std::string_view(buffer_).substr(begin_, newline - begin_);
      begin_ = newline + 1;
      return Result::Line;
    }
    if (buffer_.size() - begin_ > maxLine_) return Result::TooLong;
    if (error_) return Result::Error;
    if (end_) {
      if (begin_ >= buffer_.size()) return Result::End;
      line = std::string_view(buffer_).substr(begin_);
      begin_ = buffer_.size();
      return Result::Line;
    }
    Fill();
  }
}

FileStatus ReadRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& content) {
  RegularFile file(path);
  if (file.Status() != FileStatus::Ok) return file.Status();
  if (file.Size() > maxBytes) return FileStatus::TooLarge;
  try {
    std::string text;
    text.reserve(static_cast<std::size_t>(file.Size()) + kChunk);
    for (;;) {
      const std::size_t old = text.size();
      text.resize(old + kChunk);
      const long n = file.Read(text.data() + old, kChunk);
      text.resize(old + static_cast<std::size_t>(n > 0 ? n : 0));
      if (n < 0) return FileStatus::ReadError;
      if (n == 0) break;
      // The file may have grown since it was measured.
      if (text.size() > maxBytes) return FileStatus::TooLarge;
    }
    content = std::move(text);
    return FileStatus::Ok;
  } catch (const std::bad_alloc&) {
    return FileStatus::ReadError;
  }
}

}  // namespace tarvik
