#include "DatabaseBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>

#include "AreaSearch.h"
#include "MarloDatabase.h"
#include "PelProjection.h"
#include "PointTransformation.h"
#include "ResidualInterpolation.h"

namespace marlobuild {

namespace {

constexpr double kRho = marlo::kRhoDegrees;
constexpr double kRhoSec = marlo::kRhoSeconds;

void UseEllipsoid(const BuildSettings& s, double a, double b) {
  InitializeDLL(s.centralMeridian, 0, 0.0, a, b, s.originLatitude, s.originLatitude, 0.0, 0.0, 0, 0, 0);
}

std::string Fixed(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// Solves the symmetric system in place by Gaussian elimination with partial
// pivoting; false when it is singular.
bool Solve(std::vector<std::vector<double>>& A, std::vector<double>& b) {
  const std::size_t n = b.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t pivot = i;
    for (std::size_t r = i + 1; r < n; ++r)
      if (std::fabs(A[r][i]) > std::fabs(A[pivot][i])) pivot = r;
    if (!(std::fabs(A[pivot][i]) > 1e-300)) return false;
    std::swap(A[i], A[pivot]);
    std::swap(b[i], b[pivot]);
    for (std::size_t r = 0; r < n; ++r) {
      if (r == i) continue;
      const double f = A[r][i] / A[i][i];
      if (f == 0.0) continue;
      for (std::size_t k = i; k < n; ++k) A[r][k] -= f * A[i][k];
      b[r] -= f * b[i];
    }
  }
  for (std::size_t i = 0; i < n; ++i) b[i] /= A[i][i];
  return true;
}

}  // namespace

bool ToPlane(const BuildSettings& s, double lat, double lon, double& easting, double& northing) {
  UseEllipsoid(s, s.source.a, s.source.b);
  easting = northing = 0.0;
  switch (s.projectionType) {
    case 2:
      BL_to_EN_GK(lat, lon, &easting, &northing);
      return std::isfinite(easting) && std::isfinite(northing);
    case 3:
      BL_to_EN_UTM_Raw(lat, lon, &easting, &northing);
      return std::isfinite(easting) && std::isfinite(northing);
    case 4:
      return BL_to_EN_Lambert(lat, lon, &easting, &northing) == 0 && std::isfinite(easting) &&
             std::isfinite(northing);
    default:
      return false;
  }
}

bool FromPlane(const BuildSettings& s, double easting, double northing, double& lat, double& lon) {
  UseEllipsoid(s, s.source.a, s.source.b);
  lat = lon = NAN;
  switch (s.projectionType) {
    case 2:
      EN_to_BL_GK(easting, northing, &lat, &lon);
      break;
    case 3:
      EN_to_BL_UTM_Raw(easting, northing, &lat, &lon);
      break;
    case 4:
      if (EN_to_BL_Lambert(easting, northing, &lat, &lon) != 0) return false;
      break;
    default:
      return false;
  }
  return std::isfinite(lat) && std::isfinite(lon);
}

void MeanShift(const BuildSettings& s, const std::vector<IdenticalPosition>& points, double shift[3]) {
  double sum[3] = {0, 0, 0};
  for (const IdenticalPosition& p : points) {
    double xs, ys, zs, xt, yt, zt;
    UseEllipsoid(s, s.source.a, s.source.b);
    BLH_to_XYZ(p.sourceLat, p.sourceLon, 0.0, &xs, &ys, &zs);
    UseEllipsoid(s, s.target.a, s.target.b);
    BLH_to_XYZ(p.targetLat, p.targetLon, 0.0, &xt, &yt, &zt);
    sum[0] += xt - xs;
    sum[1] += yt - ys;
    sum[2] += zt - zs;
  }
  const double n = points.empty() ? 1.0 : static_cast<double>(points.size());
  // Rounded to millimetres: the value is written with three decimals.
  for (int i = 0; i < 3; ++i) shift[i] = std::round(sum[i] / n * 1000.0) / 1000.0;
}

AreaModel::AreaModel(const BuildSettings& settings, const double shift[3]) : s_(settings) {
  for (int i = 0; i < 3; ++i) shift_[i] = shift[i];
}

void AreaModel::Linearise(double lat, double lon, double h, double& B2, double& L2, double& h2,
                          double rowLat[7], double rowLon[7], double rowH[7]) const {
  const marlo::EllipsoidQuantities q = marlo::QuantitiesAt(s_.source.a, s_.source.b, lat);
  UseEllipsoid(s_, s_.source.a, s_.source.b);
  double X, Y, Z, B1 = lat, L1 = lon, h1 = h;
  BLH_to_XYZ(lat, lon, h, &X, &Y, &Z);
  XYZ_to_BLH(X + shift_[0], Y + shift_[1], Z + shift_[2], &B1, &L1, &h1);
  double X1, Y1, Z1;
  BLH_to_XYZ(B1, L1, h1, &X1, &Y1, &Z1);
  UseEllipsoid(s_, s_.target.a, s_.target.b);
  B2 = B1;
  L2 = L1;
  h2 = h1;
  XYZ_to_BLH(X1, Y1, Z1, &B2, &L2, &h2);

  const double phi = B1 / kRho, lambda = L1 / kRho;
  const double sp = std::sin(phi), cp = std::cos(phi), sl = std::sin(lambda), cl = std::cos(lambda);
  const double N = q.N, M = q.M, W = q.W, e2 = q.e2;
  const double a = (N * W * W + h1) / (M + h1) / kRhoSec;
  const double c = ((1.0 - e2) * N + h1) / ((N + h1) * cp) * sp / kRhoSec;
  const double lat7[7] = {-sp * cl / (M + h1),
                          -sp * sl / (M + h1),
                          cp / (M + h1),
                          -sl * a,
                          cl * a,
                          0.0,
                          -N * e2 * sp * cp / (M + h1) * 1e-7};
  const double lon7[7] = {
      -sl / ((N + h1) * cp), cl / ((N + h1) * cp), 0.0, cl * c, sl * c, -1.0 / kRhoSec, 0.0};
  const double d = N * e2 * sp * cp / kRhoSec;
  // Type 0 with a height scale of 0: the scale leaves the height alone.
  const double h7[7] = {cp * cl, cp * sl, sp, -sl * d, cl * d, 0.0, 0.0};
  for (int k = 0; k < 7; ++k) {
    rowLat[k] = kRho * lat7[k];
    rowLon[k] = kRho * lon7[k];
    rowH[k] = h7[k];
  }
}

void AreaModel::Apply(const AreaParameters& p, double lat, double lon, double h, double& outLat,
                      double& outLon, double& outH) const {
  double B2, L2, h2, rl[7], rn[7], rh[7];
  Linearise(lat, lon, h, B2, L2, h2, rl, rn, rh);
  const double v[7] = {p.tx, p.ty, p.tz, p.rx, p.ry, p.rz, p.scale};
  outLat = B2;
  outLon = L2;
  outH = h2;
  for (int k = 0; k < 7; ++k) {
    outLat += rl[k] * v[k];
    outLon += rn[k] * v[k];
    outH += rh[k] * v[k];
  }
}

bool AreaModel::Fit(const std::vector<IdenticalPosition>& points, AreaParameters& p) const {
  // Normal equations in metres on the ground; columns scaled to unit size so
  // that translations, rotations and scale meet on equal terms.
  std::vector<std::vector<double>> rows;
  std::vector<double> rhs;
  for (const IdenticalPosition& q : points)
    for (double h : {s_.fitHeightLow, s_.fitHeightHigh}) {
      double B2, L2, h2, rl[7], rn[7], rh[7];
      Linearise(q.sourceLat, q.sourceLon, h, B2, L2, h2, rl, rn, rh);
      const marlo::EllipsoidQuantities t = marlo::QuantitiesAt(s_.target.a, s_.target.b, q.targetLat);
      const double mLat = t.M / kRho, mLon = t.N * std::cos(q.targetLat / kRho) / kRho;
      std::vector<double> a(7), b(7);
      for (int k = 0; k < 7; ++k) {
        a[k] = rl[k] * mLat;
        b[k] = rn[k] * mLon;
      }
      rows.push_back(a);
      rhs.push_back((q.targetLat - B2) * mLat);
      rows.push_back(b);
      rhs.push_back((q.targetLon - L2) * mLon);
    }
  double scale[7];
  for (int k = 0; k < 7; ++k) {
    double m = 0.0;
    for (const auto& r : rows) m = std::max(m, std::fabs(r[k]));
    scale[k] = m > 0.0 ? 1.0 / m : 1.0;
  }
  std::vector<std::vector<double>> N(7, std::vector<double>(7, 0.0));
  std::vector<double> u(7, 0.0);
  for (std::size_t i = 0; i < rows.size(); ++i)
    for (int j = 0; j < 7; ++j) {
      u[j] += rows[i][j] * scale[j] * rhs[i];
      for (int k = 0; k < 7; ++k) N[j][k] += rows[i][j] * scale[j] * rows[i][k] * scale[k];
    }
  // A faint pull towards zero keeps weakly determined combinations small.
  double trace = 0.0;
  for (int j = 0; j < 7; ++j) trace += N[j][j];
  for (int j = 0; j < 7; ++j) N[j][j] += 1e-12 * trace;
  if (!Solve(N, u)) return false;
  double v[7];
  for (int k = 0; k < 7; ++k) {
    v[k] = u[k] * scale[k];
    if (!std::isfinite(v[k])) return false;
  }
  p = {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
  return true;
}

FittedPoint AreaModel::Residuals(const AreaParameters& p, const IdenticalPosition& q) const {
  FittedPoint f;
  f.position = q;
  const double h = s_.heightsGiven ? q.sourceHeight : ReferenceHeight();
  double B, L, H;
  Apply(p, q.sourceLat, q.sourceLon, h, B, L, H);
  // The library adds residuals back on the target ellipsoid at the
  // transformed latitude.
  const marlo::EllipsoidQuantities t = marlo::QuantitiesAt(s_.target.a, s_.target.b, B);
  f.residualLat = (q.targetLat - B) / kRho * t.M;
  f.residualLon = (q.targetLon - L) / kRho * t.N * std::cos(B / kRho);
  f.residualHeight = (s_.heightsGiven ? q.targetHeight : h) - H;
  return f;
}

DatabaseBuilder::DatabaseBuilder(BuildSettings settings) : s_(std::move(settings)) {}

int DatabaseBuilder::AddNode(double sourceLat, double sourceLon) {
  Node node;
  ToPlane(s_, sourceLat, sourceLon, node.e, node.n);
  // Millimetres, as written: every area sees the node where the file puts it.
  node.e = std::round(node.e * 1000.0) / 1000.0;
  node.n = std::round(node.n * 1000.0) / 1000.0;
  nodes_.push_back(node);
  return static_cast<int>(nodes_.size());
}

void DatabaseBuilder::AddArea(std::vector<int> ring, std::vector<IdenticalPosition> points,
                              std::vector<IdenticalPosition> samples) {
  MeshArea area;
  area.ring = std::move(ring);
  area.points = std::move(points);
  area.samples = std::move(samples);
  areas_.push_back(std::move(area));
}

void DatabaseBuilder::UseShift(const double shift[3]) {
  for (int i = 0; i < 3; ++i) shift_[i] = shift[i];
  shiftGiven_ = true;
}

bool FitSupport(const BuildSettings& s, const AreaModel& model, const AreaParameters& p,
                const std::vector<IdenticalPosition>& samples, const SupportRing& ring,
                const std::string& name, std::vector<FittedPoint>& support, double& worst) {
  // What the set leaves at every sample, in metres as the library adds it.
  std::vector<FittedPoint> wanted;
  wanted.reserve(samples.size());
  for (const IdenticalPosition& q : samples) {
    FittedPoint f = model.Residuals(p, q);
    if (!ToPlane(s, q.sourceLat, q.sourceLon, f.easting, f.northing)) return false;
    wanted.push_back(f);
  }
  return FitSupportValues(wanted, ring, name, support, worst);
}

bool FitSupportValues(const std::vector<FittedPoint>& wanted, const SupportRing& ring,
                      const std::string& name, std::vector<FittedPoint>& support, double& worst) {
  support.clear();
  worst = 0.0;
  const std::size_t n = static_cast<std::size_t>(std::max(ring.count, 0)), m = wanted.size();
  if (n == 0 || m < n) return false;
  double minE = 1e300, maxE = -1e300, minN = 1e300, maxN = -1e300;
  for (const FittedPoint& f : wanted) {
    if (!std::isfinite(f.easting) || !std::isfinite(f.northing)) return false;
    minE = std::min(minE, f.easting);
    maxE = std::max(maxE, f.easting);
    minN = std::min(minN, f.northing);
    maxN = std::max(maxN, f.northing);
  }
  const double centreE = 0.5 * (minE + maxE), centreN = 0.5 * (minN + maxN);
  const double size = std::max({maxE - minE, maxN - minN, 1.0});
  constexpr double kPi = 3.14159265358979323846;
  for (std::size_t i = 0; i < n; ++i) {
    FittedPoint f;
    const double angle = 2.0 * kPi * (static_cast<double>(i) + 0.5) / static_cast<double>(n);
    const double radius = size * (i % 2 == 1 && ring.outerRadius > 0.0 ? ring.outerRadius : ring.radius);
    // Millimetres, as written: the fit sees the points where the file puts them.
    f.easting = std::round((centreE + radius * std::cos(angle)) * 1000.0) / 1000.0;
    f.northing = std::round((centreN + radius * std::sin(angle)) * 1000.0) / 1000.0;
    f.position.name = name + "_S" + std::to_string(i + 1);
    support.push_back(f);
  }
  // The library's weights (1/d^2, normalised) of every support point at
  // every sample: the interpolated value is linear in the support values.
  std::vector<double> phi(m * n);
  for (std::size_t k = 0; k < m; ++k) {
    double sum = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double d =
          std::hypot(support[i].easting - wanted[k].easting, support[i].northing - wanted[k].northing);
      phi[k * n + i] = 1.0 / (d * d);
      sum += phi[k * n + i];
    }
    for (std::size_t i = 0; i < n; ++i) phi[k * n + i] /= sum;
  }
  // Normal equations, shared by the three components; a faint pull towards
  // zero keeps the values bounded where the samples hardly tell them apart.
  std::vector<std::vector<double>> normal(n, std::vector<double>(n, 0.0));
  for (std::size_t k = 0; k < m; ++k)
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) normal[i][j] += phi[k * n + i] * phi[k * n + j];
  double trace = 0.0;
  for (std::size_t i = 0; i < n; ++i) trace += normal[i][i];
  for (std::size_t i = 0; i < n; ++i) normal[i][i] += 1e-10 * trace;
  for (int component = 0; component < 3; ++component) {
    auto value = [component](const FittedPoint& f) -> double {
      return component == 0 ? f.residualLat : component == 1 ? f.residualLon : f.residualHeight;
    };
    std::vector<std::vector<double>> a = normal;
    std::vector<double> b(n, 0.0);
    for (std::size_t k = 0; k < m; ++k)
      for (std::size_t i = 0; i < n; ++i) b[i] += phi[k * n + i] * value(wanted[k]);
    if (!Solve(a, b)) return false;
    for (std::size_t i = 0; i < n; ++i) {
      if (!std::isfinite(b[i])) return false;
      // Hundredths of a millimetre, as written.
      const double written = std::round(b[i] * 1e5) / 1e5;
      (component == 0   ? support[i].residualLat
       : component == 1 ? support[i].residualLon
                        : support[i].residualHeight) = written;
    }
  }
  for (std::size_t k = 0; k < m; ++k) {
    double lat = 0.0, lon = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      lat += phi[k * n + i] * support[i].residualLat;
      lon += phi[k * n + i] * support[i].residualLon;
    }
    worst = std::max(worst, std::hypot(lat - wanted[k].residualLat, lon - wanted[k].residualLon));
  }
  return true;
}

bool DatabaseBuilder::FitAll(FitStatistics& stats, std::string& error) {
  if (!shiftGiven_) {
    std::vector<IdenticalPosition> all;
    for (const MeshArea& a : areas_) all.insert(all.end(), a.points.begin(), a.points.end());
    MeanShift(s_, all, shift_);
  }
  const AreaModel model(s_, shift_);
  double sumSquares = 0.0;
  stats = FitStatistics{};
  for (std::size_t i = 0; i < areas_.size(); ++i) {
    MeshArea& a = areas_[i];
    if (a.ring.size() < 3 || a.points.empty()) {
      error = "area " + std::to_string(i + 1) + " has no polygon or no identical points";
      return false;
    }
    if (!model.Fit(a.points, a.parameters)) {
      error = "the parameters of area " + std::to_string(i + 1) + " cannot be determined";
      return false;
    }
    a.fitted.clear();
    if (!a.samples.empty()) {
      double worst = 0.0;
      if (!FitSupport(s_, model, a.parameters, a.samples, SupportRing{}, "A" + std::to_string(i + 1),
                      a.fitted, worst)) {
        error = "the support points of area " + std::to_string(i + 1) + " cannot be fitted";
        return false;
      }
      ++stats.supportAreas;
      stats.supportMisfitMax = std::max(stats.supportMisfitMax, worst);
      for (const FittedPoint& f : a.fitted) {
        const double r = std::hypot(f.residualLat, f.residualLon);
        sumSquares += r * r;
        stats.residualMax = std::max(stats.residualMax, r);
        ++stats.points;
      }
      continue;
    }
    for (const IdenticalPosition& q : a.points) {
      FittedPoint f = model.Residuals(a.parameters, q);
      if (!ToPlane(s_, q.sourceLat, q.sourceLon, f.easting, f.northing)) {
        error = "identical point " + q.name + " cannot be projected into the database plane";
        return false;
      }
      const double r = std::hypot(f.residualLat, f.residualLon);
      if (!std::isfinite(r) || !std::isfinite(f.residualHeight)) {
        error = "identical point " + q.name + " gives a non-finite residual";
        return false;
      }
      sumSquares += r * r;
      stats.residualMax = std::max(stats.residualMax, r);
      ++stats.points;
      a.fitted.push_back(f);
    }
  }
  stats.areas = areas_.size();
  stats.residualRms = stats.points > 0 ? std::sqrt(sumSquares / static_cast<double>(stats.points)) : 0.0;
  return true;
}

bool DatabaseBuilder::Build(std::string& text, FitStatistics& stats, std::string& error) {
  if (areas_.empty()) {
    error = "no transformation area could be formed";
    return false;
  }
  for (const Node& n : nodes_)
    if (!std::isfinite(n.e) || !std::isfinite(n.n)) {
      error = "a mesh node cannot be projected into the database plane";
      return false;
    }
  if (!FitAll(stats, error)) return false;
  text = Write();
  return true;
}

std::string DatabaseBuilder::Write() const {
  std::ostringstream out;
  double minE = 1e300, maxE = -1e300, minN = 1e300, maxN = -1e300;
  for (const Node& n : nodes_) {
    minE = std::min(minE, n.e);
    maxE = std::max(maxE, n.e);
    minN = std::min(minN, n.n);
    maxN = std::max(maxN, n.n);
  }
  const double size = s_.indexCellSize;
  const double xMin = (std::floor(minE / size) - 1) * size, xMax = (std::ceil(maxE / size) + 1) * size;
  const double yMin = (std::floor(minN / size) - 1) * size, yMax = (std::ceil(maxN / size) + 1) * size;
  const int columns = static_cast<int>(std::lround((xMax - xMin) / size));
  const int rows = static_cast<int>(std::lround((yMax - yMin) / size));

  out << "V41\n";
  for (const std::string& c : s_.comments) out << "; " << c << "\n";
  out << "; Geocentric shift of every area: " << Fixed(shift_[0], 3) << " " << Fixed(shift_[1], 3) << " "
      << Fixed(shift_[2], 3) << " m\n";
  out << s_.projectionType << "\n"
      << s_.source.name << "\n"
      << Fixed(s_.source.a, 4) << "\n"
      << Fixed(s_.source.b, 6) << "\n"
      << s_.target.name << "\n"
      << Fixed(s_.target.a, 4) << "\n"
      << Fixed(s_.target.b, 6) << "\n"
      << Fixed(s_.centralMeridian, 10) << "\n"
      << Fixed(s_.originLatitude, 10) << "\n"
      << Fixed(xMin, 3) << " " << Fixed(yMax, 3) << "\n"
      << Fixed(xMax, 3) << " " << Fixed(yMin, 3) << "\n"
      << columns * rows << "\n"
      << s_.indexCellSize << "\n";

  // Index cells: every area whose bounding box touches the cell.
  std::vector<std::vector<int>> cells(static_cast<std::size_t>(columns) * rows);
  for (std::size_t i = 0; i < areas_.size(); ++i) {
    double e0 = 1e300, e1 = -1e300, n0 = 1e300, n1 = -1e300;
    for (int id : areas_[i].ring) {
      const Node& n = nodes_[id - 1];
      e0 = std::min(e0, n.e);
      e1 = std::max(e1, n.e);
      n0 = std::min(n0, n.n);
      n1 = std::max(n1, n.n);
    }
    const int c0 = std::max(0, static_cast<int>((e0 - xMin - 1.0) / size));
    const int c1 = std::min(columns - 1, static_cast<int>((e1 - xMin + 1.0) / size));
    const int r0 = std::max(0, static_cast<int>((yMax - n1 - 1.0) / size));
    const int r1 = std::min(rows - 1, static_cast<int>((yMax - n0 + 1.0) / size));
    for (int r = r0; r <= r1; ++r)
      for (int c = c0; c <= c1; ++c) cells[static_cast<std::size_t>(r) * columns + c].push_back(int(i) + 1);
  }
  out << "; ---- index grid\n";
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double e0 = xMin + c * size, e1 = e0 + size, n0 = yMax - r * size, n1 = n0 - size;
      const auto& ids = cells[static_cast<std::size_t>(r) * columns + c];
      out << r * columns + c + 1 << "\n"
          << Fixed(e0, 1) << " " << Fixed(n0, 1) << "\n"
          << Fixed(e1, 1) << " " << Fixed(n0, 1) << "\n"
          << Fixed(e1, 1) << " " << Fixed(n1, 1) << "\n"
          << Fixed(e0, 1) << " " << Fixed(n1, 1) << "\n"
          << "0\n"
          << ids.size() << "\n";
      for (int id : ids) out << id << "\n";
    }

  // Edges are shared between the areas on both sides.
  std::map<std::pair<int, int>, int> edgeIds;
  auto edgeId = [&](int a, int b) {
    const auto key = std::minmax(a, b);
    auto it = edgeIds.find(key);
    if (it != edgeIds.end()) return it->second;
    const int id = static_cast<int>(edgeIds.size()) + 1;
    edgeIds.emplace(key, id);
    return id;
  };
  std::map<int, std::set<int>> areasOfNode;
  for (std::size_t i = 0; i < areas_.size(); ++i)
    for (int id : areas_[i].ring) areasOfNode[id].insert(int(i) + 1);

  out << "; ---- areas\n" << areas_.size() << "\n";
  for (std::size_t i = 0; i < areas_.size(); ++i) {
    const MeshArea& a = areas_[i];
    out << i + 1 << "\n" << a.ring.size() << "\n";
    for (std::size_t k = 0; k < a.ring.size(); ++k) {
      const int from = a.ring[k], to = a.ring[(k + 1) % a.ring.size()];
      const Node& f = nodes_[from - 1];
      const Node& t = nodes_[to - 1];
      out << edgeId(from, to) << "\n"
          << from << " " << Fixed(f.e, 3) << " " << Fixed(f.n, 3) << "\n"
          << to << " " << Fixed(t.e, 3) << " " << Fixed(t.n, 3) << "\n";
    }
    const AreaParameters& p = a.parameters;
    out << "0\n"
        << Fixed(shift_[0], 3) << "\n"
        << Fixed(shift_[1], 3) << "\n"
        << Fixed(shift_[2], 3) << "\n"
        << "0\n"
        << Fixed(p.tx, 6) << "\n"
        << Fixed(p.ty, 6) << "\n"
        << Fixed(p.tz, 6) << "\n"
        << Fixed(p.rx, 9) << "\n"
        << Fixed(p.ry, 9) << "\n"
        << Fixed(p.rz, 9) << "\n"
        << Fixed(p.scale, 4) << "\n"
        << "0.0\n";
    out << a.fitted.size() << "\n";
    for (const FittedPoint& f : a.fitted)
      out << f.position.name << " " << Fixed(f.position.sourceHeight, 3) << " " << Fixed(f.easting, 4) << " "
          << Fixed(f.northing, 4) << "\n"
          << Fixed(f.residualLon, 5) << " " << Fixed(f.residualLat, 5) << " " << Fixed(f.residualHeight, 5)
          << "\n";
  }
  out << "; ---- related areas: the areas sharing a boundary node\n" << areas_.size() << "\n";
  for (std::size_t i = 0; i < areas_.size(); ++i) {
    std::set<int> related;
    for (int id : areas_[i].ring)
      for (int other : areasOfNode[id])
        if (other != int(i) + 1) related.insert(other);
    out << i + 1 << "\n" << related.size() << "\n";
    for (int id : related) out << id << "\n";
  }
  return out.str();
}

bool VerifyDatabase(const std::string& text, const std::vector<IdenticalPosition>& checks,
                    std::vector<double>& errors, std::string& error) {
  marlo::LibraryState state;
  const int rc = marlo::ParseDatabase(text, state.db);
  if (rc != marlo::kSuccess) {
    error = "the library's reader refuses the database (code " + std::to_string(rc) + ")";
    return false;
  }
  marlo::PreparePolygons(state.db);
  state.ready = true;
  const InterpolationKeys keys;
  state.interpolation = {keys.onOff, keys.weightFunction, keys.neighbourMode, keys.searchRadiusKm,
                         keys.shapeDistance};
  const marlo::ProjectionBinding projection;
  if (!projection.Usable()) {
    error = "PelProjection.so is not beside the program; the database cannot be checked";
    return false;
  }
  errors.clear();
  for (const IdenticalPosition& q : checks) {
    marlo::Geographic in{q.sourceLon, q.sourceLat, q.sourceHeight}, out;
    if (marlo::TransformGeographic(state, projection, in, out) != marlo::kSuccess) {
      errors.push_back(-1.0);
      continue;
    }
    const double dn = (out.B - q.targetLat) / kRho * 6378137.0;
    const double de = (out.L - q.targetLon) / kRho * 6378137.0 * std::cos(q.targetLat / kRho);
    errors.push_back(std::hypot(dn, de));
  }
  return true;
}

}  // namespace marlobuild
