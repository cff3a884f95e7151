// The Marlo database reader over arbitrary files: opening ends with one of
// its codes, and transformations through whatever was read either fail with
// a code or give finite coordinates with a latitude within the poles, also
// for a height that is not finite or far above the ellipsoid.

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "MarloDLL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto path = fuzzing::WriteScratch("marlo.db", data, size);
  int rc = InitDB(path.c_str());
  if (rc != 1 && (rc > -1000 || rc < -1008)) std::abort();
  const double probes[][3] = {{14.9, 47.8, 400.0}, {13.0, 46.8, 400.0}, {16.8, 48.6, 400.0},
                              {0.0, 0.0, 400.0},   {-181.0, 91.0, 0.0}, {14.9, 47.8, NAN},
                              {14.9, 47.8, 2.5e6}};
  for (const auto& p : probes) {
    double L = 0, B = 0, h = 0;
    int r = TransformPoint_BLH_in_BLH_out(p[0], p[1], p[2], &L, &B, &h);
    if (r == 1 && (!std::isfinite(L) || !(std::fabs(B) <= 90.0) || !std::isfinite(h))) std::abort();
    if (r != 1 && (r > -1000 || r < -1008)) std::abort();
  }
  ExitDB();
  return 0;
}
