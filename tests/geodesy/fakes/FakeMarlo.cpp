// Stand-in for the Marlo database library: a working variant with a
// recognisable transformation, one without the point transformation entry
// and one whose entries throw.

#include <stdexcept>
#include <string>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int InitDB(const char* path) {
#ifdef FAKE_MARLO_THROWS
  throw std::runtime_error(path);
#else
  const std::string p(path);
  return p.size() >= 7 && p.compare(p.size() - 7, 7, "good.db") == 0 ? 1 : -1002;
#endif
}

#ifndef FAKE_MARLO_NO_TRANSFORM
// Outside the fake's area: western longitudes. Inside: a fixed shift that
// tells the three inputs apart.
FAKE_EXPORT int TransformPoint_BLH_in_BLH_out(double lon, double lat, double h, double* lonOut,
                                              double* latOut, double* hOut) {
#ifdef FAKE_MARLO_THROWS
  (void)lon, (void)lat, (void)h, (void)lonOut, (void)latOut, (void)hOut;
  throw std::runtime_error("transform");
#else
  if (lon < 0.0) return -1000;
  *lonOut = lon + 0.001;
  *latOut = lat + 0.002;
  *hOut = h - 40.0;
  return 1;
#endif
}
#endif
