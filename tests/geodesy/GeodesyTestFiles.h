#pragma once
// Scratch folders and files for the geodesy tests.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/ProgramFolder.h"

namespace tarvik::testing {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    path_ = std::filesystem::temp_directory_path() /
            ("tarvik_geodesy_" + name + "_" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

  std::filesystem::path Write(const std::string& name, const std::string& text) const {
    const auto file = path_ / name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::filesystem::path path_;
};

// A library built next to the tests.
inline std::filesystem::path BuiltLibrary(const std::string& name) {
  return ExecutableFolder() / (name + ".so");
}

}  // namespace tarvik::testing
