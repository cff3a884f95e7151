#include "CoefficientVector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

#include "runtime/CFileIni.h"
#include "runtime/RegularFile.h"

namespace marlo {
namespace {

void AppendArea(const CMasche& area, std::set<const CMasche*>& seenAreas,
                std::set<std::pair<double, double>>& seenPositions, std::vector<ListPoint>& list) {
  if (!seenAreas.insert(&area).second) return;
  for (const auto& [index, p] : area.points) {
    if (!seenPositions.insert({p.easting, p.northing}).second) continue;
    list.push_back({p.name, p.easting, p.northing, p.residualLat, p.residualLon});
  }
}

}  // namespace

std::vector<ListPoint> BuildIdenticalPointList(const MarloDatabase& db) {
  std::vector<ListPoint> list;
  std::set<const CMasche*> seenAreas;
  std::set<std::pair<double, double>> seenPositions;
  for (const auto& [id, area] : db.areas) {
    AppendArea(area, seenAreas, seenPositions, list);
    for (int related : area.relatedAreaIds) {
      auto it = db.areas.find(related);
      if (it != db.areas.end()) AppendArea(it->second, seenAreas, seenPositions, list);
    }
  }
  return list;
}

double DerivedParamD(const std::vector<ListPoint>& points) {
  double best = 1000000.0;
  bool found = false;
  for (std::size_t i = 0; i < points.size(); ++i)
    for (std::size_t j = i + 1; j < points.size(); ++j) {
      const ListPoint& a = points[i];
      const ListPoint& b = points[j];
      if (a.name == b.name) continue;
      if (a.easting == b.easting && a.northing == b.northing) continue;
      const double d = std::hypot(a.easting - b.easting, a.northing - b.northing);
      if (d < 0.1) continue;
      if (!found || d < best) best = d;
      found = true;
    }
  return best;
}

double Kernel(double dE, double dN, double paramF, double paramD) {
  return 0.001 * std::sqrt(dE * dE + dN * dN + paramF * paramD * paramD);
}

bool SolveCoefficients(const std::vector<ListPoint>& points, double paramF, double paramD,
                       std::vector<double>& ax, std::vector<double>& ay) {
  const std::size_t n = points.size();
  std::vector<double> a(n * n);
  ax.assign(n, 0.0);
  ay.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) {
    a[i * n + i] = Kernel(0.0, 0.0, paramF, paramD);
    for (std::size_t j = i + 1; j < n; ++j) {
      const double k = Kernel(points[i].easting - points[j].easting, points[i].northing - points[j].northing,
                              paramF, paramD);
      a[i * n + j] = k;
      a[j * n + i] = k;
    }
    ax[i] = points[i].residualLat;
    ay[i] = points[i].residualLon;
  }
  // Elimination on both right-hand sides at once (the same solution as the
  // explicit inverse, at a third of the work). The largest remaining pivot
  // is taken, which includes exchanging rows whose pivot is 0.
  for (std::size_t col = 0; col < n; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < n; ++r)
      if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col])) pivot = r;
    if (!(std::fabs(a[pivot * n + col]) > 0.0)) {
      ax.assign(n, 0.0);
      ay.assign(n, 0.0);
      return false;
    }
    if (pivot != col) {
      for (std::size_t c = 0; c < n; ++c) std::swap(a[col * n + c], a[pivot * n + c]);
      std::swap(ax[col], ax[pivot]);
      std::swap(ay[col], ay[pivot]);
    }
    const double inv = 1.0 / a[col * n + col];
    for (std::size_t r = col + 1; r < n; ++r) {
      const double f = a[r * n + col] * inv;
      if (f == 0.0) continue;
      double* row = &a[r * n];
      const double* top = &a[col * n];
      for (std::size_t c = col; c < n; ++c) row[c] -= f * top[c];
      ax[r] -= f * ax[col];
      ay[r] -= f * ay[col];
    }
  }
  for (std::size_t i = n; i-- > 0;) {
    double sx = ax[i], sy = ay[i];
    for (std::size_t c = i + 1; c < n; ++c) {
      sx -= a[i * n + c] * ax[c];
      sy -= a[i * n + c] * ay[c];
    }
    ax[i] = sx / a[i * n + i];
    ay[i] = sy / a[i * n + i];
  }
  return true;
}

bool WriteVectorFile(const std::string& path, const std::vector<double>& values) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  bool ok = true;
  for (double v : values) ok = ok && std::fprintf(f, "%25.10f\n", v) > 0;
  ok = ok && std::fprintf(f, "\n") > 0;
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

bool ReadVectorFile(const std::string& path, std::vector<double>& values) {
  std::string text;
  if (tarvik::ReadRegularFile(path, kMaxDatabaseBytes, text) != tarvik::FileStatus::Ok) return false;
  std::vector<double> read;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
    // A line that holds no number, or one that is not finite, would turn
    // every corrected point into garbage or NaN: the file is refused.
    char* after = nullptr;
    const double v = std::strtod(line.c_str(), &after);
    if (after == line.c_str() || !std::isfinite(v)) return false;
    read.push_back(v);
  }
  values = std::move(read);
  return true;
}

void EvaluateCoefficients(const CoefficientModel& model, double easting, double northing, double& dLat,
                          double& dLon) {
  dLat = 0.0;
  dLon = 0.0;
  const std::size_t n = std::min({model.points.size(), model.ax.size(), model.ay.size()});
  for (std::size_t i = 0; i < n; ++i) {
    const ListPoint& p = model.points[i];
    const double k = Kernel(p.easting - easting, p.northing - northing, model.paramF, model.paramD);
    dLat += k * model.ax[i];
    dLon += k * model.ay[i];
  }
}

namespace {

bool ParseIntValue(const std::string& text, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return false;
  out = static_cast<int>(v);
  return true;
}

bool ParseDoubleValue(const std::string& text, double& out) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return false;
  out = v;
  return true;
}

}  // namespace

int ReadCoefficientSettings(const std::string& path, CoefficientSettings& s) {
  // The INI layer would wait on a FIFO: only a regular file is read.
  if (tarvik::RegularFile(path).Status() != tarvik::FileStatus::Ok) return -1006;
  const tarvik::CFileIni ini{std::filesystem::path(path)};
  if (!ini.CanRead()) return -1006;
  const std::string definition = ini.ReadString("Params", "DefinitionType");
  const std::string area = ini.ReadString("Params", "AreaType");
  const std::string f = ini.ReadString("Params", "ParamF");
  if (!ParseIntValue(definition, s.definitionType) || !ParseIntValue(area, s.areaType) ||
      !ParseDoubleValue(f, s.paramF))
    return -1007;
  if (s.definitionType == 2 && !ParseDoubleValue(ini.ReadString("Params", "ParamD"), s.paramD)) return -1007;
  // The kernel takes the root of ParamF·ParamD²: a negative factor gives NaN
  // near the points, like any value that is not finite.
  if (!(s.paramF >= 0.0) || !std::isfinite(s.paramF) || !std::isfinite(s.paramD)) return -1007;
  return 1;
}

std::string ParentOf(const std::string& path) {
  const std::size_t sep = path.find_last_of("\\/");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

}  // namespace marlo
