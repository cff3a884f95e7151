// The OrvelMan4 height grid reader over arbitrary files: loading ends with
// one of its codes, and the surface of a loaded grid is finite wherever it
// reports success.

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "OrvelMan4.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto path = fuzzing::WriteScratch("orvel.grd", data, size);
  int rc = InitOrvelDB(path.c_str());
  if (rc != 1 && (rc > -1 || rc < -99)) std::abort();
  const double probes[][2] = {{47.8, 14.9}, {0, 0}, {-90, -180}, {90, 360}, {48.6, 16.8}, {NAN, 0}};
  for (const auto& p : probes) {
    double above = 0, surface = 0, north = 0, east = 0;
    int r = GetNFEMbyLatLongH(p[0], p[1], 500.0, 1.0, &above, &surface, &north, &east);
    if (r == ORVEL_OK && (!std::isfinite(surface) || !std::isfinite(above))) std::abort();
  }
  return 0;
}
