// The Marlo database reader over arbitrary files: opening ends with one of
// its codes, and transformations through whatever was read either fail with
// a code or give finite coordinates.

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "FuzzFile.h"
#include "MarloDLL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto path = fuzzing::WriteScratch("marlo.db", data, size);
  int rc = InitDB(path.c_str());
  if (rc != 1 && (rc > -1000 || rc < -1008)) std::abort();
  const double probes[][2] = {{14.9, 47.8}, {13.0, 46.8}, {16.8, 48.6}, {0.0, 0.0}, {-181.0, 91.0}};
  for (const auto& p : probes) {
    double L = 0, B = 0, h = 0;
    int r = TransformPoint_BLH_in_BLH_out(p[0], p[1], 400.0, &L, &B, &h);
    if (r == 1 && (!std::isfinite(L) || !std::isfinite(B) || !std::isfinite(h))) std::abort();
    if (r != 1 && (r > -1000 || r < -1008)) std::abort();
  }
  ExitDB();
  return 0;
}
