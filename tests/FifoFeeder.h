#pragma once
// A named pipe with a writer thread behind it, for the tests that hand a
// FIFO to a file reader. The writer waits (without blocking) for a reader to
// open the pipe, then writes its text and closes; it gives up when the test
// ends, so a reader that refuses the pipe never leaves a thread hanging, and
// a reader that opens it gets the text like from a file.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

namespace testsupport {

class FifoFeeder {
 public:
  FifoFeeder(std::filesystem::path path, std::string text) : path_(std::move(path)), text_(std::move(text)) {
    // A reader that closes early must not end the test process.
    std::signal(SIGPIPE, SIG_IGN);
    std::filesystem::remove(path_);
    created_ = ::mkfifo(path_.c_str(), 0600) == 0;
    if (created_) writer_ = std::thread([this] { Feed(); });
  }
  ~FifoFeeder() {
    stop_ = true;
    if (writer_.joinable()) writer_.join();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;

  bool Created() const { return created_; }
  const std::filesystem::path& Path() const { return path_; }

 private:
  void Feed() {
    // Bounded: a reader that never comes is given up after 30 s at the latest.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int fd = -1;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0 || errno != ENXIO) break;  // ENXIO: no reader yet
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::size_t written = 0;
    while (written < text_.size()) {
      const ssize_t n = ::write(fd, text_.data() + written, text_.size() - written);
      if (n <= 0) break;  // the reader went away
      written += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }

  std::filesystem::path path_;
  std::string text_;
  bool created_ = false;
  std::atomic<bool> stop_{false};
  std::thread writer_;
};

}  // namespace testsupport
