#pragma once
// Where the program lives and where it keeps its files.
//
// The executable's folder holds the shared libraries (PelProjection.so,
// MarloDLL.so, OrvelMan4.so); they are always loaded from there. The program
// folder holds the general settings file, the configuration template, Log/
// and every relative path of the settings. It is the executable's folder
// unless the program was started with --home DIR (installed systems, tests).

#include <cstdint>
#include <filesystem>

namespace tarvik {

// Folder of the running executable (/proc/self/exe), never the working directory.
std::filesystem::path ExecutableFolder();

// Folder of settings, template, logs and relative paths.
std::filesystem::path ProgramFolder();

// Points the program folder elsewhere (the --home option). Call before any
// thread starts; an empty path restores the executable's folder.
void SetProgramFolder(const std::filesystem::path& folder);

// Counts the calls of SetProgramFolder: what was derived from the program
// folder stays valid while this count is unchanged.
std::uint64_t ProgramFolderChanges();

}  // namespace tarvik
