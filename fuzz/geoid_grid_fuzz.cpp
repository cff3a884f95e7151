// The geoid grid reader over arbitrary files: loading ends with one of its
// codes, and a loaded grid answers look-ups inside and outside its borders
// with finite heights or "outside".

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "geodesy/CGeoidGrid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto path = fuzzing::WriteScratch("geoid.grd", data, size);
  tarvik::CGeoidGrid grid;
  int rc = grid.Load(path);
  if (rc != 1 && rc != tarvik::kGeoidNotAccessible && rc != tarvik::kGeoidFormatError &&
      rc != tarvik::kGeoidHeaderError)
    std::abort();
  if (rc != 1) return 0;
  const double n = grid.NorthLatitude(), s = grid.SouthLatitude();
  const double w = grid.WestLongitude(), e = grid.EastLongitude();
  const double probes[][2] = {{n, w},     {s, e},        {(n + s) / 2, (w + e) / 2}, {n, e},   {s, w},
                              {n + 1, w}, {s - 1e-9, e}, {(n + s) / 2, e + 1e-9},    {NAN, w}, {n, INFINITY}};
  for (const auto& p : probes) {
    double h = 0;
    int r = grid.Lookup(p[0], p[1], h);
    if (r != 1 && r != tarvik::kGeoidOutside) std::abort();
    if (r == 1 && !std::isfinite(h)) std::abort();
  }
  return 0;
}
