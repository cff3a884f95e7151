// Stand-in for the height library whose entries throw.
#include <stdexcept>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT int InitOrvelDB(const char*) { throw std::runtime_error("init"); }

FAKE_EXPORT int GetNFEMbyLatLongH(double, double, double, double, double*, double*, double*, double*) {
  throw std::logic_error("surface");
}
