#pragma once
// A shared library loaded by full path, unloaded when the object goes.
//
// Thin RAII over dlopen/dlsym/dlclose. Nothing here throws: a failed load
// leaves the object empty and keeps the loader's message for diagnostics.

#include <filesystem>
#include <string>

namespace tarvik {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const std::filesystem::path& file);
  ~DynamicLibrary();

  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // Unloads what was loaded before, then loads the file (RTLD_NOW |
  // RTLD_LOCAL). A relative path is taken relative to the executable's folder.
  bool Load(const std::filesystem::path& file);
  void Release();

  bool IsLoaded() const { return handle_ != nullptr; }
  // Address of an exported symbol, or nullptr (also when nothing is loaded).
  void* Symbol(const char* name) const;
  // The loader's last message (load or symbol look-up), empty after success.
  const std::string& LastError() const { return lastError_; }

  // Typed look-up: writes the entry into `entry` (nullptr when missing) and
  // says whether it was found.
  template <typename Fn>
  bool Bind(const char* name, Fn*& entry) const {
    entry = reinterpret_cast<Fn*>(Symbol(name));
    return entry != nullptr;
  }

 private:
  void* handle_ = nullptr;
  mutable std::string lastError_;
};

}  // namespace tarvik
