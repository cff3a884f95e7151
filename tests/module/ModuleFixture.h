#pragma once
// A program folder on disk for module tests: general settings pointing at
// data folders below it, one configuration folder per test configuration,
// module INI files built from a complete base text with single keys replaced.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "app/CTarvikSettings.h"
#include "module/DemoData.h"
#include "runtime/ProgramFolder.h"

namespace tarvik::testing {

namespace fs = std::filesystem;

// Replaces (or with an empty value removes the value of) "Key=..." lines of
// the base text; "Section/Key" addresses keys that occur in several sections.
inline std::string EditIni(std::string text, const std::map<std::string, std::string>& edits) {
  for (const auto& [address, value] : edits) {
    std::string section, key = address;
    if (auto slash = address.find('/'); slash != std::string::npos) {
      section = "[" + address.substr(0, slash) + "]";
      key = address.substr(slash + 1);
    }
    std::size_t from = section.empty() ? 0 : text.find(section);
    std::size_t at = text.find("\n" + key + "=", from == std::string::npos ? 0 : from);
    if (at == std::string::npos) {  // a new key: first line of its section
      std::size_t header = section.empty() ? std::string::npos : text.find(section + "\n");
      if (header == std::string::npos)
        text += (section.empty() ? "" : section + "\n") + key + "=" + value + "\n";
      else
        text.insert(header + section.size() + 1, key + "=" + value + "\n");
      continue;
    }
    std::size_t end = text.find('\n', at + 1);
    text.replace(at + 1, end - at - 1, value == "<delete>" ? ";" + key : key + "=" + value);
  }
  return text;
}

class ModuleHome : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("tarvik_module_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_ / "Configs");
    for (const char* d : {"marlo", "orvel", "geoid"}) fs::create_directories(home_ / "data" / d);
    SetProgramFolder(home_);
    std::error_code ec;
    fs::copy_file(DemoMarloDatabase(), home_ / "data" / "marlo" / "Demo.mdb", ec);
    WriteDemoGeoidGrid(home_ / "data" / "geoid" / "Demo.grd");
    WriteDemoOrvelGrid(home_ / "data" / "orvel" / "Demo.orv");
    general_.ProgramDirectory = home_;
    general_.SapenDBPath = (home_ / "data" / "marlo").string();
    general_.OrvelDBPath = (home_ / "data" / "orvel").string();
    general_.GeoidGridPath = (home_ / "data" / "geoid").string();
    general_.ConfigurationsPath = (home_ / "Configs").string();
  }
  void TearDown() override {
    SetProgramFolder({});
    fs::remove_all(home_);
  }

  fs::path Folder(const std::string& name) { return home_ / "Configs" / name; }

  // Writes Configs/<name>/<name>.ini.
  void WriteIni(const std::string& name, const std::string& text) {
    fs::create_directories(Folder(name));
    std::ofstream(Folder(name) / (name + ".ini"), std::ios::binary) << text;
  }

  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  fs::path home_;
  CTarvikSettings general_;
};

}  // namespace tarvik::testing
