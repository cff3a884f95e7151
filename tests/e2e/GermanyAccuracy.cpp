#include "GermanyAccuracy.h"

#include <dlfcn.h>
#include <proj.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "E2eReplies.h"
#include "RoverTransformation.h"
#include "TarvikProcess.h"

namespace e2etest {

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr const char* kEtrs89 = "+proj=longlat +ellps=GRS80 +towgs84=0,0,0 +no_defs +type=crs";
constexpr const char* kDhdnGk3 =
    "+proj=tmerc +lat_0=0 +lon_0=9 +k=1 +x_0=3500000 +y_0=0 +ellps=bessel +nadgrids=BETA2007.gsb "
    "+geoidgrids=egm96_15.gtx +no_defs +type=crs";
constexpr const char* kDhdnGeographic =
    "+proj=longlat +ellps=bessel +nadgrids=BETA2007.gsb +no_defs +type=crs";

// Coverage of BETA2007 less a margin for the residual grid around the rover.
constexpr double kSouth = 47.1, kNorth = 55.2, kWest = 5.6, kEast = 15.55;

void ToXyz(double a, double b, double lat, double lon, double h, double& X, double& Y, double& Z) {
  const double e2 = 1 - b * b / (a * a), s = std::sin(lat * kDeg), c = std::cos(lat * kDeg);
  const double N = a / std::sqrt(1 - e2 * s * s);
  X = (N + h) * c * std::cos(lon * kDeg);
  Y = (N + h) * c * std::sin(lon * kDeg);
  Z = (N * (1 - e2) + h) * s;
}
void ToBlh(double a, double b, double X, double Y, double Z, double& lat, double& lon) {
  const double e2 = 1 - b * b / (a * a), p = std::hypot(X, Y);
  double phi = std::atan2(Z, p * (1 - e2)), h = 0;
  for (int i = 0; i < 10; ++i) {
    const double N = a / std::sqrt(1 - e2 * std::sin(phi) * std::sin(phi));
    h = p / std::cos(phi) - N;
    phi = std::atan2(Z, p * (1 - e2 * N / (N + h)));
  }
  lat = phi / kDeg;
  lon = std::atan2(Y, X) / kDeg;
}

double GroundDistanceMm(double lat1, double lon1, double lat2, double lon2) {
  const double north = (lat1 - lat2) * kDeg * 6378137.0;
  const double east = (lon1 - lon2) * kDeg * 6378137.0 * std::cos(lat2 * kDeg);
  return std::hypot(north, east) * 1000.0;
}

using InitFn = int (*)(const char*);
using BlhFn = int (*)(double, double, double, double*, double*, double*);
using InterpolationFn = void (*)(int, int, int, double, double);
using SurfaceFn = int (*)(double, double, double, double, double*, double*, double*, double*);

}  // namespace

Percentiles Summarise(std::vector<double> v) {
  Percentiles p;
  if (v.empty()) return p;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * v.size()))]; };
  p.p50 = at(0.5);
  p.p95 = at(0.95);
  p.max = v.back();
  return p;
}

struct GermanyAccuracy::Impl {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* projected = nullptr;
  PJ* geographic = nullptr;
  void* marlo = nullptr;
  BlhFn transform = nullptr;
  void* orvel = nullptr;
  SurfaceFn surface = nullptr;
  ~Impl() {
    if (projected) proj_destroy(projected);
    if (geographic) proj_destroy(geographic);
    proj_context_destroy(ctx);
    if (marlo) dlclose(marlo);
    if (orvel) dlclose(orvel);
  }
};

GermanyAccuracy::GermanyAccuracy() : impl_(std::make_unique<Impl>()) {}
GermanyAccuracy::~GermanyAccuracy() = default;

bool GermanyAccuracy::OracleReady(std::string& why) {
  proj_log_level(impl_->ctx, PJ_LOG_NONE);
  impl_->projected = proj_create_crs_to_crs(impl_->ctx, kEtrs89, kDhdnGk3, nullptr);
  impl_->geographic = proj_create_crs_to_crs(impl_->ctx, kEtrs89, kDhdnGeographic, nullptr);
  if (!impl_->projected || !impl_->geographic) {
    why = "PROJ cannot build ETRS89 -> DHDN with BETA2007.gsb and egm96_15.gtx (package proj-data)";
    return false;
  }
  // Published DHDN -> ETRS89 seven-parameter set (position vector
  // rotations; about a metre from the grid): the grid's result must lie
  // within a few metres of it, far from the ~150 m a missing shift leaves.
  const double lat = 50.1, lon = 8.7;
  PJ_COORD c = proj_coord(lon, lat, 160.0, 0);
  PJ_COORD d = proj_trans(impl_->geographic, PJ_FWD, c);
  if (!std::isfinite(d.xyz.x) || d.xyz.x == HUGE_VAL) {
    why = "PROJ returns no DHDN position (grid missing?)";
    return false;
  }
  double X, Y, Z;
  ToXyz(6377397.155, 6356078.962818, d.lpz.phi, d.lpz.lam, 160.0, X, Y, Z);
  // The matrix below is written for coordinate frame rotations: signs turned.
  const double r[3] = {-0.202 / 3600 * kDeg, -0.045 / 3600 * kDeg, 2.455 / 3600 * kDeg}, s = 1 + 6.7e-6;
  const double Xe = 598.1 + s * (X + r[2] * Y - r[1] * Z);
  const double Ye = 73.7 + s * (-r[2] * X + Y + r[0] * Z);
  const double Ze = 418.2 + s * (r[1] * X - r[0] * Y + Z);
  double eLat, eLon;
  ToBlh(6378137.0, 6356752.314140, Xe, Ye, Ze, eLat, eLon);
  const double off = GroundDistanceMm(eLat, eLon, lat, lon) / 1000.0;
  const double shift = GroundDistanceMm(d.lpz.phi, d.lpz.lam, lat, lon) / 1000.0;
  if (off > 5.0 || shift < 50.0) {
    why = "PROJ's ETRS89 -> DHDN disagrees with the published set by " + std::to_string(off) + " m (shift " +
          std::to_string(shift) + " m): the datum shift is not applied";
    return false;
  }
  return true;
}

bool GermanyAccuracy::LoadDatabase(const std::string& file, const std::string& heightGrid, std::string& why) {
  impl_->orvel = dlopen((BinFolder() / "OrvelMan4.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  auto initOrvel = impl_->orvel ? reinterpret_cast<InitFn>(dlsym(impl_->orvel, "InitOrvelDB")) : nullptr;
  impl_->surface =
      impl_->orvel ? reinterpret_cast<SurfaceFn>(dlsym(impl_->orvel, "GetNFEMbyLatLongH")) : nullptr;
  if (!initOrvel || !impl_->surface || initOrvel(heightGrid.c_str()) != 1) {
    why = "the height library cannot open " + heightGrid;
    return false;
  }
  impl_->marlo = dlopen((BinFolder() / "MarloDLL.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!impl_->marlo) {
    why = dlerror();
    return false;
  }
  auto init = reinterpret_cast<InitFn>(dlsym(impl_->marlo, "InitDB"));
  auto interpolation = reinterpret_cast<InterpolationFn>(dlsym(impl_->marlo, "SetInterpolationType"));
  impl_->transform = reinterpret_cast<BlhFn>(dlsym(impl_->marlo, "TransformPoint_BLH_in_BLH_out"));
  if (!init || !interpolation || !impl_->transform || init(file.c_str()) != 1) {
    why = "the Marlo library cannot open " + file;
    return false;
  }
  interpolation(1, 2, 0, 0.0, 0.0);  // as DemoGermany.ini switches it on
  return true;
}

AccuracyErrors GermanyAccuracy::Run(int port, int count, unsigned seed) {
  AccuracyErrors e;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Connection c(port);
  auto fail = [&](const std::string& why) {
    ++e.failedRequests;
    if (e.failures.size() < 5) e.failures.push_back(why);
  };
  for (int i = 0; i < count; ++i) {
    const double lat = kSouth + unit(random) * (kNorth - kSouth);
    const double lon = kWest + unit(random) * (kEast - kWest);
    const double h = 50.0 + unit(random) * 850.0;
    c.Send(Gga(lat, lon, h));
    Replies r = Split(c.ReadReplies(3));
    if (r.frames.size() != 3) {
      fail("no three frames at " + std::to_string(lat) + " " + std::to_string(lon));
      continue;
    }
    tarvikclient::RoverMessages messages;
    tarvikclient::RoverPosition rover;
    std::string why;
    if (!tarvikclient::ReadMessages(r.frames[0].message, r.frames[1].message, &r.frames[2].message, messages,
                                    why) ||
        !tarvikclient::ApplyMessages(messages, lat, lon, h, rover, why)) {
      fail(why + " at " + std::to_string(lat) + " " + std::to_string(lon));
      continue;
    }
    double dbLon = 0, dbLat = 0, dbH = 0;
    if (impl_->transform(lon, lat, h, &dbLon, &dbLat, &dbH) != 1) {
      fail("the database has no area at " + std::to_string(lat) + " " + std::to_string(lon));
      continue;
    }
    const PJ_COORD in = proj_coord(lon, lat, h, 0);
    const PJ_COORD geo = proj_trans(impl_->geographic, PJ_FWD, in);
    const PJ_COORD gk = proj_trans(impl_->projected, PJ_FWD, in);
    if (!std::isfinite(gk.xyz.x) || gk.xyz.x == HUGE_VAL || geo.xyz.x == HUGE_VAL) {
      fail("PROJ has no result at " + std::to_string(lat) + " " + std::to_string(lon));
      continue;
    }
    e.databaseVsProj.push_back(GroundDistanceMm(dbLat, dbLon, geo.lpz.phi, geo.lpz.lam));
    e.roverVsDatabase.push_back(GroundDistanceMm(rover.lat, rover.lon, dbLat, dbLon));
    e.roverVsProj.push_back(std::hypot(rover.easting - gk.xyz.x, rover.northing - gk.xyz.y) * 1000.0);
    e.heightVsProj.push_back(std::fabs(rover.height - gk.xyz.z) * 1000.0);
    e.worstDatabase.Take(e.databaseVsProj.back(), lat, lon);
    e.worstRover.Take(e.roverVsDatabase.back(), lat, lon);
    e.worstTotal.Take(e.roverVsProj.back(), lat, lon);
    e.worstHeight.Take(e.heightVsProj.back(), lat, lon);
    double undulation = 0, above = 0, slopeNorth = 0, slopeEast = 0;
    if (impl_->surface(lat, lon, h, 1.0, &undulation, &above, &slopeNorth, &slopeEast) == 0) {
      e.heightGridVsProj.push_back(std::fabs(above - gk.xyz.z) * 1000.0);
      e.roverHeightVsGrid.push_back(std::fabs(rover.height - above) * 1000.0);
      e.worstHeightGrid.Take(e.heightGridVsProj.back(), lat, lon);
      e.worstRoverHeight.Take(e.roverHeightVsGrid.back(), lat, lon);
    }
  }
  return e;
}

}  // namespace e2etest
