// The exported C interface of MarloDLL. All state lives in this copy of the
// library (hidden symbols, no shared globals), so two copies loaded from
// different paths keep separate databases.

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "AreaSearch.h"
#include "MarloDLL.h"
#include "PointTransformation.h"

namespace marlo {
namespace {

LibraryState& State() {
  static LibraryState state;
  return state;
}

enum class Input { BLH, XYZ, GKH, UTMH, EOVH };
enum class Output { BLH, GKH, UTMH, EOVH };

// Converts the export's input values to geographic source coordinates.
bool ToGeographic(const DatabaseHeader& header, const ProjectionBinding& projection, Input kind,
                  double meridian, double v1, double v2, double v3, Geographic& g) {
  ProjectionBinding in = projection;
  in.SetEllipDim(header.sourceA, header.sourceB);
  // Conversions that cannot place the point (XYZ_to_BLH near the pole leaves
  // its outputs as they are) leave NaN, and NaN finds no area.
  const double unset = std::numeric_limits<double>::quiet_NaN();
  g = Geographic{unset, unset, v3};
  switch (kind) {
    case Input::BLH:
      g.L = v1;
      g.B = v2;
      return true;
    case Input::XYZ:
      g.h = unset;
      return in.XYZ_to_BLH(v1, v2, v3, &g.B, &g.L, &g.h) == 1;
    case Input::GKH:
      in.SetL0(meridian);
      return in.EN_to_BL_GK(v1, v2, &g.B, &g.L) == 1;
    case Input::UTMH:
      in.SetL0(meridian);
      return in.EN_to_BL_UTM_Raw(v1, v2, &g.B, &g.L) == 1;
    case Input::EOVH:
      return in.EN_to_BL_EOV(v1, v2, &g.B, &g.L) == 1;
  }
  return false;
}

// 1, -1000 when the projection cannot be called, -1001 when it gives no
// finite position; the outputs are written only on success.
int FromGeographic(const DatabaseHeader& header, const ProjectionBinding& projection, Output kind,
                   double meridian, const Geographic& g, double* o1, double* o2, double* o3) {
  ProjectionBinding out = projection;
  out.SetEllipDim(header.targetA, header.targetB);
  double a = g.L, b = g.B;
  int rc = 1;
  switch (kind) {
    case Output::BLH:
      break;
    case Output::GKH:
      out.SetL0(meridian);
      rc = out.BL_to_EN_GK(g.B, g.L, &a, &b);
      break;
    case Output::UTMH:
      out.SetL0(meridian);
      rc = out.BL_to_EN_UTM_Raw(g.B, g.L, &a, &b);
      break;
    case Output::EOVH:
      rc = out.BL_to_EN_EOV(g.B, g.L, &a, &b);
      break;
  }
  if (rc != 1) return kAreaNotFound;
  if (!std::isfinite(a) || !std::isfinite(b)) return kAreaNotSupported;
  if (o1 != nullptr) *o1 = a;
  if (o2 != nullptr) *o2 = b;
  if (o3 != nullptr) *o3 = g.h;
  return kSuccess;
}

int Transform(Input input, Output output, double meridianIn, double v1, double v2, double v3,
              double meridianOut, double* o1, double* o2, double* o3) {
  const LibraryState& state = State();
  if (!state.ready) return kNotInitialized;
  const ProjectionBinding projection;
  Geographic source;
  if (!ToGeographic(state.db.header, projection, input, meridianIn, v1, v2, v3, source)) return kAreaNotFound;
  Geographic target;
  const int rc = TransformGeographic(state, projection, source, target);
  if (rc != kSuccess) return rc;
  return FromGeographic(state.db.header, projection, output, meridianOut, target, o1, o2, o3);
}

// Transform for BLH input and output, count points at once: each point's
// result code and outputs as Transform gives them.
int TransformBLHPoints(int count, const double* L, const double* B, const double* h, double* Lout,
                       double* Bout, double* hout, int* results) {
  constexpr int kChunk = 64;
  const LibraryState& state = State();
  const ProjectionBinding projection;
  int first = kSuccess;
  for (int start = 0; start < count; start += kChunk) {
    const int n = count - start < kChunk ? count - start : kChunk;
    Geographic in[kChunk], out[kChunk];
    int rc[kChunk];
    for (int k = 0; k < n; ++k) {
      in[k] = Geographic{L[start + k], B[start + k], h[start + k]};
      rc[k] = kNotInitialized;
    }
    if (state.ready) TransformGeographicPoints(state, projection, n, in, out, rc);
    for (int k = 0; k < n; ++k) {
      const int i = start + k;
      if (rc[k] == kSuccess)
        rc[k] = FromGeographic(state.db.header, projection, Output::BLH, 0.0, out[k], Lout + i, Bout + i,
                               hout + i);
      if (results != nullptr) results[i] = rc[k];
      if (first == kSuccess && rc[k] != kSuccess) first = rc[k];
    }
  }
  return first;
}

void LoadCoefficientModel(LibraryState& state, const std::string& directory,
                          const CoefficientSettings& settings) {
  CoefficientModel& model = state.coefficients;
  model.paramF = settings.paramF;
  model.points = BuildIdenticalPointList(state.db);
  // The solve used the derived shape distance unless one was given; the
  // evaluation must use the same one, and the same list gives the same value.
  model.paramD = settings.definitionType == 2 ? settings.paramD : DerivedParamD(model.points);
  if (settings.areaType == 3) {
    ReadVectorFile(directory + "/AX_0.dat", model.ax);
    ReadVectorFile(directory + "/AY_0.dat", model.ay);
  }
}

}  // namespace
}  // namespace marlo

using marlo::Input;
using marlo::Output;

extern "C" {

int InitDB(const char* path) {
  marlo::LibraryState& state = marlo::State();
  state.ready = false;
  state.interpolation.onOff = 0;
  state.vectorPath.clear();
  // The vectors belong to the previous database's identical points.
  state.coefficients = marlo::CoefficientModel{};
  const std::string file = path != nullptr ? path : "";
  int rc = marlo::kNotReady;
  try {
    rc = marlo::ReadDatabaseFile(file, state.db);
  } catch (...) {  // out of memory on an absurd file: no exception leaves the library
    rc = marlo::kNotReady;
  }
  if (rc == marlo::kCannotOpen) {
    std::fprintf(stderr, "Fehler beim Öffnen von %s!\n", file.c_str());
    return rc;
  }
  if (rc != marlo::kSuccess) return rc;
  try {
    marlo::PreparePolygons(state.db);
  } catch (...) {
    return marlo::kNotReady;
  }
  state.ready = true;
  return marlo::kSuccess;
}

void ExitDB(void) { marlo::State().db.Clear(); }

void SetInterpolationType(int onOff, int weightFunction, int neighbourMode, double searchRadiusKm,
                          double shapeDistance) {
  marlo::InterpolationSettings& s = marlo::State().interpolation;
  s.onOff = onOff;
  s.weightFunction = weightFunction;
  s.neighbourMode = neighbourMode;
  s.searchRadiusKm = searchRadiusKm;
  s.shapeDistance = shapeDistance;
}

unsigned char SetInterpolationVectorPath(const char* directory) try {
  marlo::LibraryState& state = marlo::State();
  std::string dir = directory != nullptr ? directory : "";
  state.vectorPath = dir;
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  const std::size_t sep = dir.find_last_of("\\/");
  const std::string last = sep == std::string::npos ? dir : dir.substr(sep + 1);
  marlo::CoefficientSettings settings;
  if (marlo::ReadCoefficientSettings(dir + "/" + last + ".ini", settings) != 1) return 0;
  state.interpolation.neighbourMode = settings.areaType;
  marlo::LoadCoefficientModel(state, dir, settings);
  return 1;
} catch (...) {
  return 0;
}

int CreateCoefficientVector(const char* settingsPath) try {
  const marlo::LibraryState& state = marlo::State();
  const std::string path = settingsPath != nullptr ? settingsPath : "";
  marlo::CoefficientSettings settings;
  if (const int rc = marlo::ReadCoefficientSettings(path, settings); rc != 1) return rc;
  const std::string directory = marlo::ParentOf(path);
  const std::vector<marlo::ListPoint> points = marlo::BuildIdenticalPointList(state.db);
  const double paramD = settings.definitionType == 2 ? settings.paramD : marlo::DerivedParamD(points);
  if (settings.areaType != 3) return 1;
  const std::string axPath = directory + "/AX_0.dat";
  const std::string ayPath = directory + "/AY_0.dat";
  // Both files must be creatable before the (long) solve starts.
  for (const std::string& p : {axPath, ayPath}) {
    std::FILE* f = std::fopen(p.c_str(), "w");
    if (f == nullptr) return -1008;
    std::fclose(f);
  }
  std::vector<double> ax, ay;
  marlo::SolveCoefficients(points, settings.paramF, paramD, ax, ay);
  if (!marlo::WriteVectorFile(axPath, ax) || !marlo::WriteVectorFile(ayPath, ay)) return -1008;
  return 1;
} catch (...) {  // a matrix too large for the memory
  return -1008;
}

int TestFunc(void) {
  std::fprintf(stderr, "Hallo\n");
  return 1;
}

#define MARLO_GEO_IN(IN, OUT)                                                                       \
  int TransformPoint_##IN##_in_##OUT##_out(double v1, double v2, double v3, double* o1, double* o2, \
                                           double* o3) {                                            \
    return marlo::Transform(Input::IN, Output::OUT, 0.0, v1, v2, v3, 0.0, o1, o2, o3);              \
  }
#define MARLO_GEO_IN_PLANE_OUT(IN, OUT)                                                              \
  int TransformPoint_##IN##_in_##OUT##_out(double v1, double v2, double v3, double mOut, double* o1, \
                                           double* o2, double* o3) {                                 \
    return marlo::Transform(Input::IN, Output::OUT, 0.0, v1, v2, v3, mOut, o1, o2, o3);              \
  }
#define MARLO_PLANE_IN(IN, OUT)                                                                     \
  int TransformPoint_##IN##_in_##OUT##_out(double mIn, double v1, double v2, double v3, double* o1, \
                                           double* o2, double* o3) {                                \
    return marlo::Transform(Input::IN, Output::OUT, mIn, v1, v2, v3, 0.0, o1, o2, o3);              \
  }
#define MARLO_PLANE_IN_PLANE_OUT(IN, OUT)                                                            \
  int TransformPoint_##IN##_in_##OUT##_out(double mIn, double v1, double v2, double v3, double mOut, \
                                           double* o1, double* o2, double* o3) {                     \
    return marlo::Transform(Input::IN, Output::OUT, mIn, v1, v2, v3, mOut, o1, o2, o3);              \
  }

int TransformPoints_BLH_in_BLH_out(int count, const double* L, const double* B, const double* h, double* Lout,
                                   double* Bout, double* hout, int* results) {
  return marlo::TransformBLHPoints(count, L, B, h, Lout, Bout, hout, results);
}

MARLO_GEO_IN(BLH, BLH)
MARLO_GEO_IN_PLANE_OUT(BLH, GKH)
MARLO_GEO_IN_PLANE_OUT(BLH, UTMH)
MARLO_GEO_IN_PLANE_OUT(BLH, EOVH)
MARLO_GEO_IN(XYZ, BLH)
MARLO_GEO_IN_PLANE_OUT(XYZ, GKH)
MARLO_GEO_IN_PLANE_OUT(XYZ, UTMH)
MARLO_GEO_IN_PLANE_OUT(XYZ, EOVH)
MARLO_PLANE_IN(GKH, BLH)
MARLO_PLANE_IN_PLANE_OUT(GKH, GKH)
MARLO_PLANE_IN_PLANE_OUT(GKH, UTMH)
MARLO_PLANE_IN_PLANE_OUT(GKH, EOVH)
MARLO_PLANE_IN(UTMH, BLH)
MARLO_PLANE_IN_PLANE_OUT(UTMH, GKH)
MARLO_PLANE_IN_PLANE_OUT(UTMH, UTMH)
MARLO_PLANE_IN_PLANE_OUT(UTMH, EOVH)
MARLO_PLANE_IN(EOVH, BLH)
MARLO_PLANE_IN_PLANE_OUT(EOVH, GKH)
MARLO_PLANE_IN_PLANE_OUT(EOVH, UTMH)
MARLO_PLANE_IN_PLANE_OUT(EOVH, EOVH)

}  // extern "C"
