// module_frames_dump HOME COUNT [SEED]
//
// Prints, for every configuration of the program folder HOME (as
// tools/make_demo_home.sh lays it out), the outcome of COUNT requests at
// positions around the configuration's area origin, near and far, in all
// three formats: the result code of Execute, every binary frame in hex, the
// ASCII texts and the XML documents. The output depends only on the
// positions and the computation, so two builds of the program compare by
// diffing what this prints for the same folder.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/CTarvikSettings.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "runtime/ProgramFolder.h"
#include "service/RTCMMessageRequest.h"
#include "service/Responses.h"

namespace {

using namespace tarvik;
namespace fs = std::filesystem;

// A GGA sentence for the position, every optional field present.
std::string Gga(double lat, double lon, double height) {
  const auto angle = [](double v, int degreeDigits) {
    const double a = std::abs(v);
    const int deg = static_cast<int>(a);
    char text[40];
    std::snprintf(text, sizeof text, "%0*d%09.6f", degreeDigits, deg, (a - deg) * 60.0);
    return std::string(text);
  };
  char h[32];
  std::snprintf(h, sizeof h, "%.3f", height);
  return "$GPGGA,123519," + angle(lat, 2) + (lat < 0 ? ",S," : ",N,") + angle(lon, 3) +
         (lon < 0 ? ",W," : ",E,") + "1,08,0.9," + h + ",M,46.9,M,1.0,0001*";
}

void Dump(CRTCMTransformationMessageModule& module, const std::string& gga) {
  RTCMMessageRequest request;
  request.SetConfiguration(module.Settings());
  const int parsed = request.Parse(gga);
  const int executed = request.Execute();
  std::cout << "request " << gga << "\nparse " << parsed << " execute " << executed << "\n";
  std::vector<CRTCMBinaryResponse> binary;
  request.CreateBinaryResponses(binary);
  for (const CRTCMBinaryResponse& r : binary) {
    std::cout << "frame " << r.messageNumber << " ";
    for (std::uint8_t b : r.bytes) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", b);
      std::cout << hex;
    }
    std::cout << "\n";
  }
  std::vector<CRTCMASCIIResponse> ascii;
  request.CreateASCIIResponses(ascii);
  for (const CRTCMASCIIResponse& r : ascii) std::cout << "ascii\n" << r.text << "\n";
  std::vector<CRTCMXMLResponse> xml;
  request.CreateXMLResponses(xml);
  for (const CRTCMXMLResponse& r : xml) std::cout << "xml\n" << r.text << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: module_frames_dump HOME COUNT [SEED]\n";
    return 2;
  }
  const fs::path home = fs::absolute(argv[1]);
  const int count = std::atoi(argv[2]);
  const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1u;
  SetProgramFolder(home);
  CTarvikSettings general;
  if (!general.ReadGeneralSettings()) {
    std::cerr << "cannot read " << home / CTarvikSettings::kFileName << "\n";
    return 1;
  }
  for (const std::string& name : general.Configurations) {
    CRTCMTransformationMessageModule module(name, fs::path(general.ConfigurationsPath) / name);
    module.ReadConfiguration(general);
    std::cout << "configuration " << name << " valid " << module.ModuleValid() << "\n";
    const CConfigurationSettings& c = module.Settings();
    const double lat0 = c.Helmert.LatitudeOfOriginAreaOfValidity;
    const double lon0 = c.Helmert.LongitudeOfOriginAreaOfValidity;
    std::mt19937_64 rng(seed);
    // Mostly within the database's region, some beyond it; heights from
    // below sea level to high mountains.
    std::uniform_real_distribution<double> near(-1.5, 1.5), far(-8.0, 8.0), height(-100.0, 4000.0);
    for (int i = 0; i < count; ++i) {
      const bool farAway = i % 10 == 9;
      const double lat = lat0 + (farAway ? far(rng) : near(rng));
      const double lon = lon0 + (farAway ? far(rng) : 2.0 * near(rng));
      Dump(module, Gga(lat, lon, height(rng)));
    }
    // The configured origin itself and the corners of the area.
    Dump(module, Gga(lat0, lon0, 200.0));
    for (double dl : {-0.15, 0.15})
      for (double dm : {-0.25, 0.25}) Dump(module, Gga(lat0 + dl, lon0 + dm, 500.0));
  }
  return 0;
}
