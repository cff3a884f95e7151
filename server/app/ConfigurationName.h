#pragma once
// Checks a configuration name before it becomes a folder and a file name.
//
// A name is a folder below the configurations path and the stem of its INI
// file, and it is written as a value into the general settings file. Names
// that would leave the configurations folder, hide in it, or not survive a
// round trip through the INI file are refused before anything is touched.

#include <string>

namespace tarvik {

// Empty when `name` may be used; otherwise the reason, ready to show.
std::string CheckConfigurationName(const std::string& name);

}  // namespace tarvik
