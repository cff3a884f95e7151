#include "geodesy/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "runtime/ProgramFolder.h"

namespace tarvik {

DynamicLibrary::DynamicLibrary(const std::filesystem::path& file) { Load(file); }

DynamicLibrary::~DynamicLibrary() { Release(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), lastError_(std::move(other.lastError_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Release();
    handle_ = std::exchange(other.handle_, nullptr);
    lastError_ = std::move(other.lastError_);
  }
  return *this;
}

bool DynamicLibrary::Load(const std::filesystem::path& file) {
  Release();
  lastError_.clear();
  if (file.empty()) {
    lastError_ = "no library file given";
    return false;
  }
  // A bare name would make dlopen search the system paths; a relative name
  // means a file next to the program (never the working directory).
  const std::filesystem::path full = file.is_absolute() ? file : ExecutableFolder() / file;
  handle_ = ::dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = ::dlerror();
    lastError_ = message != nullptr ? message : "cannot load " + full.string();
    return false;
  }
  return true;
}

void DynamicLibrary::Release() {
  if (handle_ != nullptr) {
    ::dlclose(handle_);
    handle_ = nullptr;
  }
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  if (address == nullptr) {
    const char* message = ::dlerror();
    lastError_ = message != nullptr ? message : std::string("missing entry ") + name;
  }
  return address;
}

}  // namespace tarvik
