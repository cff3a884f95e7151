#pragma once
// Ellipsoids, state set-up, random points and the PROJ reference shared by
// the projection tests.

#include <proj.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include "PelProjection.h"

namespace projection_test {

struct Axes {
  double a, b, rf;
};
inline Axes MakeAxes(double a, double rf) { return {a, a * (1.0 - 1.0 / rf), rf}; }
inline const Axes kGRS80 = MakeAxes(6378137.0, 298.257222101);
inline const Axes kBessel = MakeAxes(6377397.155, 299.1528128);
inline const Axes kGRS67 = MakeAxes(6378160.0, 298.247167427);
inline const Axes kHayford = MakeAxes(6378388.0, 297.0);

// A whole state, pushed as the library's callers do before every call.
struct StateValues {
  double L0 = 0.0;
  int L0Auto = 0;
  double B0 = 0.0;
  Axes axes = kGRS80;
  double BNord = 0.0, BSued = 0.0, FalseNorth = 0.0, FalseEast = 0.0;
  int LambType = 0, LambCase = 0, GKCase = 0;

  void Push() const {
    InitializeDLL(L0, L0Auto, B0, axes.a, axes.b, BNord, BSued, FalseNorth, FalseEast, LambType, LambCase,
                  GKCase);
  }
};

// Reproducible uniform points in a box.
class PointSource {
 public:
  PointSource(double latMin, double latMax, double lonMin, double lonMax, unsigned seed)
      : rng_(seed), lat_(latMin, latMax), lon_(lonMin, lonMax) {}
  double Lat() { return lat_(rng_); }
  double Lon() { return lon_(rng_); }

 private:
  std::mt19937_64 rng_;
  std::uniform_real_distribution<double> lat_, lon_;
};

inline constexpr int kRandomPoints = 3000;

// A PROJ operation from geographic degrees to grid metres: the independent
// reference of the cross-checks.
class OracleProjection {
 public:
  OracleProjection(const std::string& definition, const Axes& axes)
      : ctx_(proj_context_create()),
        pj_(proj_create(ctx_, ("+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
                               "+step " +
                               definition + Ellipsoid(axes))
                                  .c_str())) {
    if (pj_ == nullptr) throw std::runtime_error("PROJ rejects " + definition);
  }
  ~OracleProjection() {
    proj_destroy(pj_);
    proj_context_destroy(ctx_);
  }
  OracleProjection(const OracleProjection&) = delete;
  OracleProjection& operator=(const OracleProjection&) = delete;

  void Forward(double lat, double lon, double& e, double& n) const {
    const PJ_COORD out = proj_trans(pj_, PJ_FWD, proj_coord(lon, lat, 0, 0));
    e = out.xy.x;
    n = out.xy.y;
  }

 private:
  static std::string Ellipsoid(const Axes& axes) {
    char text[80];
    std::snprintf(text, sizeof text, " +a=%.17g +rf=%.17g", axes.a, axes.rf);
    return text;
  }
  PJ_CONTEXT* ctx_;
  PJ* pj_;
};

}  // namespace projection_test
