#pragma once
// The readers under test take file paths: each input is written to one
// scratch file in a private folder (tmpfs when available) and read back.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

inline std::filesystem::path ScratchFolder() {
  // Never destroyed: the exit handler that removes the folder runs after
  // the destructors of function-local statics.
  static const std::filesystem::path* folder = [] {
    std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    auto* p = new std::filesystem::path(base / ("tarvik-fuzz-" + std::to_string(getpid())));
    std::filesystem::create_directories(*p);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return p;
  }();
  return *folder;
}

inline std::filesystem::path WriteScratch(const std::string& name, const std::uint8_t* data,
                                          std::size_t size) {
  std::filesystem::path p = ScratchFolder() / name;
  if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  return p;
}

}  // namespace fuzzing
