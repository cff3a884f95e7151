#pragma once
// A program folder on disk for module tests: general settings pointing at
// data folders below it, one configuration folder per test configuration,
// module INI files built from a complete base text with single keys replaced.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>

#include "app/CTarvikSettings.h"
#include "runtime/ProgramFolder.h"

namespace tarvik::testing {

namespace fs = std::filesystem;

// The base configuration: Austrian-style demo area, identity ITRF-to-target
// transformation, geoid grid heights.
// The committed demo database of the Austrian-style region, found from this
// header's own location in the source tree.
inline fs::path DemoMarloDatabase() {
  return fs::path(__FILE__).parent_path().parent_path().parent_path() / "demo" / "data" / "marlo" / "Demo.mdb";
}

// A geoid grid over the demo region (46.5..49 N, 12.5..17.5 E, 0.25 degrees)
// with smoothly varying heights around 48 m.
inline void WriteDemoGeoidGrid(const fs::path& file) {
  std::ofstream out(file);
  out << "; test geoid grid\n49.0 12.5\n46.5 17.5\n0.25 0.25\n11 21\n";
  for (int r = 0; r < 11; ++r)
    for (int c = 0; c < 21; ++c)
      out << 49.0 - 0.25 * r << " " << 12.5 + 0.25 * c << " " << 48.0 + 0.15 * c - 0.2 * r + 0.05 * ((r * c) % 3)
          << "\n";
}

// A height surface grid for OrvelMan4 over the same region, longitudes in
// 0..360 degrees.
inline void WriteDemoOrvelGrid(const fs::path& file) {
  std::ofstream out(file);
  out << "ORVELGRID 1\nsouth 46.5 north 49 west 12.5 east 17.5\ndlat 0.25 dlon 0.25\nrows 11 columns 21\n";
  for (int r = 0; r < 11; ++r) {
    for (int c = 0; c < 21; ++c) out << 47.0 + 0.1 * c + 0.12 * r << " ";
    out << "\n";
  }
}

inline std::string BaseModuleIni() {
  return R"([Settings]
PORTNUM=0
RequestType=1
TotalNumberOfRequests=5
ActiveMessages=1021;1023;1025
Mode=LOCAL
PlanType=SAPEN_DB
PlanDB=Demo.mdb
HeightType=GEOIDGRID
HeightDB=Demo.grd
MeanGeoidHeight=48.5

[Transformation_ITRF_To_Target]
RX=0.0
RY=0.0
RZ=0.0
TX=0.0
TY=0.0
TZ=0.0
S=1.0

[1021]
SourceNameCounter=6
SourceName=ETRS89
TargetNameCounter=3
TargetName=MGI
SystemIdentificationNumber=1
InvolvedTransformationMessages=1010000000
PlateNumber=7
ComputationIndicator=1
HeightIndicator=1
LatitudeOfOriginAreaOfValidity=47.7
LongitudeOfOriginAreaOfValidity=14.9
LatitudeExtensionAreaOfValidity=0.3
LongitudeExtensionAreaOfValidity=0.5
SemimajorAxisOfSourceSystemEllipsoid=6378137.0
SemiminorAxisOfSourceSystemEllipsoid=6356752.314140
SemimajorAxisOfTargetSystemEllipsoid=6377397.155
SemiminorAxisOfTargetSystemEllipsoid=6356078.962818
HorizontalHelmertMolodenskiQualityIndicator=1
VerticalHelmertMolodenskiQualityIndicator=1

[1023]
SystemIdentificationNumber=1
HorizontalShiftIndicator=1
VerticalShiftIndicator=1
HorizontalInterpolationMethodIndicator=1
VerticalInterpolationMethodIndicator=1
HorizontalGridQualityIndicator=1
VerticalGridQualityIndicator=1

[1025]
SystemIdentificationNumber=1
ProjectionType=1
LatitudeOfNaturalOrigin=0.0
LongitudeOfNaturalOrigin=13.333333333
ScaleFactorAtNaturalOrigin=1.0
FalseEasting=450000.0
FalseNorthing=-5000000.0
)";
}

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
    home_ = fs::temp_directory_path() /
            ("tarvik_module_" + std::to_string(::getpid()) + "_" +
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
