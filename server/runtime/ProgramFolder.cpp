#include "runtime/ProgramFolder.h"

#include <atomic>
#include <mutex>
#include <system_error>

namespace tarvik {
namespace {

std::mutex& FolderMutex() {
  static std::mutex m;
  return m;
}

std::filesystem::path& OverrideFolder() {
  static std::filesystem::path p;
  return p;
}

std::atomic<std::uint64_t> g_folderChanges{0};

}  // namespace

std::filesystem::path ExecutableFolder() {
  // The running executable does not move; every log line asks for it, so it
  // is read once.
  static const std::filesystem::path folder = [] {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
  }();
  if (!folder.empty()) return folder;
  std::error_code ec;
  return std::filesystem::current_path(ec);
}

std::filesystem::path ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(FolderMutex());
    if (!OverrideFolder().empty()) return OverrideFolder();
  }
  return ExecutableFolder();
}

void SetProgramFolder(const std::filesystem::path& folder) {
  std::lock_guard<std::mutex> lock(FolderMutex());
  g_folderChanges.fetch_add(1, std::memory_order_release);
  if (folder.empty()) {
    OverrideFolder().clear();
    return;
  }
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(folder, ec);
  OverrideFolder() = ec ? folder : abs.lexically_normal();
}

std::uint64_t ProgramFolderChanges() { return g_folderChanges.load(std::memory_order_acquire); }

}  // namespace tarvik
