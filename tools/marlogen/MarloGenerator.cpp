#include "MarloGenerator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <vector>

#include "DatabaseBuilder.h"
#include "MarloDatabase.h"
#include "PelProjection.h"
#include "PointTransformation.h"
#include "ResidualInterpolation.h"

namespace marlogen {

Helmert PublishedEtrs89ToMgi() {
  // Inverse of the widely published MGI -> ETRS89 set for Austria
  // (577.326, 90.129, 463.919 m; 5.137, 1.474, 5.297"; 2.4232 ppm).
  return {-577.326, -90.129, -463.919, -5.137, -1.474, -5.297, -2.4232};
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kArcSecond = kPi / 648000.0;

struct Plane {
  double e = 0.0, n = 0.0;
};

// Small deterministic generator, so every run yields the same file.
class Random {
 public:
  explicit Random(unsigned seed) : state_(seed * 2654435761u + 1u) {}
  double Uniform() {  // [0, 1)
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 11) / 9007199254740992.0;
  }
  double Symmetric() { return 2.0 * Uniform() - 1.0; }

 private:
  unsigned long long state_;
};

void UseGrs80Plane() {
  InitializeDLL(kCentralMeridian, 0, 0.0, kGrs80A, kGrs80B, 0.0, 0.0, 0.0, 0.0, 0, 0, 0);
}

Plane Project(double B, double L) {
  UseGrs80Plane();
  Plane p;
  BL_to_EN_GK(B, L, &p.e, &p.n);
  return p;
}

void Unproject(const Plane& p, double& B, double& L) {
  UseGrs80Plane();
  EN_to_BL_GK(p.e, p.n, &B, &L);
}

bool Inside(const std::vector<Plane>& ring, const Plane& p) {
  bool in = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const Plane& a = ring[i];
    const Plane& b = ring[j];
    if ((a.n > p.n) != (b.n > p.n) && p.e < (b.e - a.e) * (p.n - a.n) / (b.n - a.n) + a.e) in = !in;
  }
  return in;
}

struct Edge {
  int id, from, to;
};

struct Area {
  int id = 0;
  int row = 0, column = 0;
  std::vector<int> edgeIds;
  std::vector<Plane> ring;
  double minE = 0, maxE = 0, minN = 0, maxN = 0;
};

// Smooth distortion of the national network relative to the area models
// (metres), the part the identical points' residuals describe.
void Distortion(double lat, double lon, double& dLon, double& dLat, double& dH) {
  const double x = (lon - kLonMin) / (kLonMax - kLonMin);
  const double y = (lat - kLatMin) / (kLatMax - kLatMin);
  dLon = 0.08 * std::sin(2.1 * kPi * x + 0.4) * std::cos(1.3 * kPi * y) + 0.03 * y;
  dLat = 0.06 * std::cos(1.7 * kPi * x) * std::sin(2.3 * kPi * y + 0.7) - 0.02 * x;
  dH = 0.04 * std::sin(1.1 * kPi * (x + y));
}

// Regional variation of the parameter set over the region.
Helmert RegionalSet(double lat, double lon) {
  Helmert h = PublishedEtrs89ToMgi();
  const double x = (lon - kLonMin) / (kLonMax - kLonMin);
  const double y = (lat - kLatMin) / (kLatMax - kLatMin);
  h.tx += 0.35 * std::sin(kPi * x) - 0.15 * y;
  h.ty += 0.25 * std::cos(kPi * y) + 0.10 * x;
  h.tz += 0.30 * std::sin(kPi * (x - y));
  h.rx += 0.012 * std::cos(kPi * x);
  h.ry += 0.010 * std::sin(kPi * y);
  h.rz += 0.015 * (x - 0.5);
  h.ppm += 0.40 * std::sin(kPi * (x + 0.5 * y));
  return h;
}

// Coordinate frame rotation matrix applied to v.
std::array<double, 3> Rotate(const Helmert& h, const std::array<double, 3>& v) {
  const double rx = h.rx * kArcSecond, ry = h.ry * kArcSecond, rz = h.rz * kArcSecond;
  return {v[0] + rz * v[1] - ry * v[2], -rz * v[0] + v[1] + rx * v[2], ry * v[0] - rx * v[1] + v[2]};
}
// Transpose (inverse to first order... exact for the transpose of the matrix
// above, whose inverse differs only in second-order terms).
std::array<double, 3> RotateBack(const Helmert& h, const std::array<double, 3>& v) {
  const double rx = h.rx * kArcSecond, ry = h.ry * kArcSecond, rz = h.rz * kArcSecond;
  return {v[0] - rz * v[1] + ry * v[2], rz * v[0] + v[1] - rx * v[2], -ry * v[0] + rx * v[1] + v[2]};
}

struct AreaParameters {
  int type = 1;
  double shift[3] = {0, 0, 0};
  double t[3] = {0, 0, 0};
  double r[3] = {0, 0, 0};
  double scale = 0;        // 1e-7 units
  double heightScale = 0;  // 1e-7 units
};

// Splits a full Helmert X' = T + (1 + s) R X into the database form: an exact
// geocentric shift first, then differential parameters applied to the
// shifted point, (1 + s) R (X + S) + t.
AreaParameters Decompose(const Helmert& h, int type) {
  AreaParameters p;
  p.type = type;
  const double s = h.ppm * 1e-6;
  const std::array<double, 3> T{h.tx, h.ty, h.tz};
  p.r[0] = h.rx;
  p.r[1] = h.ry;
  p.r[2] = h.rz;
  p.scale = h.ppm * 10.0;
  p.heightScale = p.scale;
  if (type == 4 || type == 5) {
    // No translations: the shift carries them, S = R^-1 T / (1 + s).
    const std::array<double, 3> S = RotateBack(h, T);
    for (int i = 0; i < 3; ++i) p.shift[i] = S[i] / (1.0 + s);
  } else {
    const std::array<double, 3> RT = Rotate(h, T);
    for (int i = 0; i < 3; ++i) {
      p.shift[i] = T[i];
      p.t[i] = T[i] - (1.0 + s) * RT[i];
    }
  }
  return p;
}

std::string Number(double v, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
  return buffer;
}

// Identical points at random positions inside the area, with the
// distortion field (and noise) as residuals; the identity has none.
std::string RandomPoints(const Area& a, const Options& options, bool zero, Random& random) {
  std::vector<std::string> lines;
  for (int k = 1; k <= options.pointsPerArea; ++k) {
    Plane q;
    for (int attempt = 0; attempt < 100; ++attempt) {
      q = {a.minE + (a.maxE - a.minE) * random.Uniform(), a.minN + (a.maxN - a.minN) * random.Uniform()};
      if (Inside(a.ring, q)) break;
    }
    q.e = std::round(q.e * 1000.0) / 1000.0;
    q.n = std::round(q.n * 1000.0) / 1000.0;
    double lat = 0.0, lon = 0.0;
    Unproject(q, lat, lon);
    double dLon = 0.0, dLat = 0.0, dH = 0.0;
    if (!zero) {
      Distortion(lat, lon, dLon, dLat, dH);
      dLon += 0.004 * random.Symmetric();
      dLat += 0.004 * random.Symmetric();
      dH += 0.006 * random.Symmetric();
    }
    const double height = 250.0 + 1800.0 * random.Uniform();
    char name[32];
    std::snprintf(name, sizeof name, "P%d-%d", a.id, k);
    lines.push_back(std::string(name) + " " + Number(height, 3) + " " + Number(q.e, 3) + " " +
                    Number(q.n, 3) + "\n" + Number(dLon, 4) + " " + Number(dLat, 4) + " " + Number(dH, 4) +
                    "\n");
  }
  std::string text = std::to_string(lines.size()) + "\n";
  for (const std::string& l : lines) text += l;
  return text;
}

// The support points of every area (text as the area block lists them):
// what the demo transformation differs from the area's set alone, on a
// lattice over the area, carried by points on a ring around it. text is the
// database with the sets and no points; the library evaluates the sets.
bool SupportPoints(const std::string& text, const std::vector<Area>& areas, const Options& options,
                   std::vector<std::string>& points, GenerationReport* report) {
  constexpr int kSteps = 8;                // lattice of 9 x 9 samples, border included
  constexpr double kSampleHeight = 500.0;  // metres; the sets hardly depend on it
  marlo::LibraryState state;
  if (marlo::ParseDatabase(text, state.db) != marlo::kSuccess) return false;
  state.ready = true;  // interpolation off: the sets alone
  const marlo::ProjectionBinding projection;
  if (!projection.Usable()) return false;
  marlobuild::SupportRing ring;
  ring.count = options.supportPointsPerArea;
  for (std::size_t i = 0; i < areas.size(); ++i) {
    const Area& a = areas[i];
    const auto found = state.db.areas.find(a.id);
    if (found == state.db.areas.end()) return false;
    std::vector<marlobuild::FittedPoint> wanted;
    for (int r = 0; r <= kSteps; ++r)
      for (int c = 0; c <= kSteps; ++c) {
        const Plane q{a.minE + (a.maxE - a.minE) * c / kSteps, a.minN + (a.maxN - a.minN) * r / kSteps};
        double lat = 0.0, lon = 0.0;
        Unproject(q, lat, lon);
        marlo::Geographic set;
        if (marlo::TransformInArea(state, projection, found->second, q.e, q.n, {lon, lat, kSampleHeight},
                                   set) != marlo::kSuccess)
          return false;
        double tLat = 0.0, tLon = 0.0, tH = 0.0;
        DemoTransformation(lat, lon, kSampleHeight, tLat, tLon, tH);
        // Metres, as the library adds them back at the set's latitude.
        const marlo::EllipsoidQuantities t = marlo::QuantitiesAt(kBesselA, kBesselB, set.B);
        marlobuild::FittedPoint f;
        f.easting = q.e;
        f.northing = q.n;
        f.residualLat = (tLat - set.B) / 180.0 * kPi * t.M;
        f.residualLon = (tLon - set.L) / 180.0 * kPi * t.N * std::cos(set.B / 180.0 * kPi);
        f.residualHeight = tH - set.h;
        wanted.push_back(f);
      }
    std::vector<marlobuild::FittedPoint> support;
    double worst = 0.0;
    if (!marlobuild::FitSupportValues(wanted, ring, "P" + std::to_string(a.id), support, worst)) return false;
    if (report != nullptr) report->supportMisfitMax = std::max(report->supportMisfitMax, worst);
    std::string lines = std::to_string(support.size()) + "\n";
    for (const marlobuild::FittedPoint& f : support)
      lines += f.position.name + " 0.000 " + Number(f.easting, 3) + " " + Number(f.northing, 3) + "\n" +
               Number(f.residualLon, 5) + " " + Number(f.residualLat, 5) + " " + Number(f.residualHeight, 5) +
               "\n";
    points[i] = lines;
  }
  return true;
}

}  // namespace

void DemoTransformation(double lat, double lon, double h, double& outLat, double& outLon, double& outH) {
  const Helmert set = RegionalSet(lat, lon);
  double X = 0.0, Y = 0.0, Z = 0.0;
  InitializeDLL(0.0, 0, 0.0, kGrs80A, kGrs80B, 0.0, 0.0, 0.0, 0.0, 0, 0, 0);
  BLH_to_XYZ(lat, lon, h, &X, &Y, &Z);
  const std::array<double, 3> r = Rotate(set, {X, Y, Z});
  const double s = 1.0 + set.ppm * 1e-6;
  outLat = lat;
  outLon = lon;
  outH = h;
  InitializeDLL(0.0, 0, 0.0, kBesselA, kBesselB, 0.0, 0.0, 0.0, 0.0, 0, 0, 0);
  XYZ_to_BLH(set.tx + s * r[0], set.ty + s * r[1], set.tz + s * r[2], &outLat, &outLon, &outH);
  double dLon = 0.0, dLat = 0.0, dH = 0.0;
  Distortion(lat, lon, dLon, dLat, dH);
  const marlo::EllipsoidQuantities q = marlo::QuantitiesAt(kBesselA, kBesselB, outLat);
  outLat += dLat / q.M / kPi * 180.0;
  outLon += dLon / (q.N * std::cos(outLat * kPi / 180.0)) / kPi * 180.0;
  outH += dH;
}

std::string GenerateDatabase(const Options& options, GenerationReport* report) {
  Random random(options.seed);
  const bool zero = options.mode == Options::Mode::Zero;
  const bool uniform = options.mode == Options::Mode::Uniform;

  // Extent of the region in the plane, widened to whole index cells.
  double minE = 1e300, maxE = -1e300, minN = 1e300, maxN = -1e300;
  for (int i = 0; i <= 20; ++i)
    for (int j = 0; j <= 20; ++j) {
      const Plane p =
          Project(kLatMin + (kLatMax - kLatMin) * i / 20.0, kLonMin + (kLonMax - kLonMin) * j / 20.0);
      minE = std::min(minE, p.e);
      maxE = std::max(maxE, p.e);
      minN = std::min(minN, p.n);
      maxN = std::max(maxN, p.n);
    }
  const double xMin = (std::floor(minE / kCellSize) - 1) * kCellSize;
  const double xMax = (std::ceil(maxE / kCellSize) + 1) * kCellSize;
  const double yMin = (std::floor(minN / kCellSize) - 1) * kCellSize;
  const double yMax = (std::ceil(maxN / kCellSize) + 1) * kCellSize;
  const int gridColumns = static_cast<int>((xMax - xMin) / kCellSize);
  const int gridRows = static_cast<int>((yMax - yMin) / kCellSize);

  // Mesh nodes: a lattice from the upper left corner with jittered inner
  // nodes, so the areas are irregular quadrilaterals.
  const int C = options.meshColumns, R = options.meshRows;
  const double stepE = (xMax - xMin) / C, stepN = (yMax - yMin) / R;
  std::map<int, Plane> nodes;
  auto latticeId = [&](int r, int c) { return 1 + r * (C + 1) + c; };
  for (int r = 0; r <= R; ++r)
    for (int c = 0; c <= C; ++c) {
      Plane p{xMin + c * stepE, yMax - r * stepN};
      if (r > 0 && r < R && c > 0 && c < C) {
        p.e += 0.22 * stepE * random.Symmetric();
        p.n += 0.22 * stepN * random.Symmetric();
      }
      p.e = std::round(p.e * 1000.0) / 1000.0;
      p.n = std::round(p.n * 1000.0) / 1000.0;
      nodes[latticeId(r, c)] = p;
    }
  int nextNode = latticeId(R, C) + 1;

  // Edges. Some horizontal edges get a middle node, which turns the areas on
  // both sides into pentagons or hexagons.
  std::vector<Edge> edges;
  auto addEdge = [&](int from, int to) {
    edges.push_back({static_cast<int>(edges.size()) + 1, from, to});
    return edges.back().id;
  };
  std::map<std::pair<int, int>, std::vector<int>> horizontal, vertical;
  for (int r = 0; r <= R; ++r)
    for (int c = 0; c < C; ++c) {
      const int a = latticeId(r, c), b = latticeId(r, c + 1);
      if (r > 0 && r < R && (r * 7 + c * 3) % 5 == 0) {
        const Plane& pa = nodes[a];
        const Plane& pb = nodes[b];
        Plane m{(pa.e + pb.e) / 2.0, (pa.n + pb.n) / 2.0 + 0.08 * stepN * random.Symmetric()};
        m.e = std::round(m.e * 1000.0) / 1000.0;
        m.n = std::round(m.n * 1000.0) / 1000.0;
        const int mid = nextNode++;
        nodes[mid] = m;
        horizontal[{r, c}] = {addEdge(a, mid), addEdge(mid, b)};
      } else {
        horizontal[{r, c}] = {addEdge(a, b)};
      }
    }
  for (int r = 0; r < R; ++r)
    for (int c = 0; c <= C; ++c) vertical[{r, c}] = {addEdge(latticeId(r, c), latticeId(r + 1, c))};

  std::map<int, Edge> edgeById;
  for (const Edge& e : edges) edgeById[e.id] = e;

  std::vector<Area> areas;
  for (int r = 0; r < R; ++r)
    for (int c = 0; c < C; ++c) {
      Area a;
      a.id = 100 + r * C + c + 1;
      a.row = r;
      a.column = c;
      for (int id : horizontal[{r, c}]) a.edgeIds.push_back(id);
      for (int id : vertical[{r, c + 1}]) a.edgeIds.push_back(id);
      for (int id : horizontal[{r + 1, c}]) a.edgeIds.push_back(id);
      for (int id : vertical[{r, c}]) a.edgeIds.push_back(id);
      // Ring for the generator's own tests: top edge left to right,
      // right side down, bottom right to left, left side up.
      std::vector<int> ringNodes{latticeId(r, c)};
      for (int id : horizontal[{r, c}]) ringNodes.push_back(edgeById[id].to);
      ringNodes.push_back(latticeId(r + 1, c + 1));
      const std::vector<int>& bottom = horizontal[{r + 1, c}];
      if (bottom.size() == 2) ringNodes.push_back(edgeById[bottom[0]].to);
      ringNodes.push_back(latticeId(r + 1, c));
      for (int id : ringNodes) a.ring.push_back(nodes[id]);
      a.minE = a.maxE = a.ring[0].e;
      a.minN = a.maxN = a.ring[0].n;
      for (const Plane& p : a.ring) {
        a.minE = std::min(a.minE, p.e);
        a.maxE = std::max(a.maxE, p.e);
        a.minN = std::min(a.minN, p.n);
        a.maxN = std::max(a.maxN, p.n);
      }
      areas.push_back(std::move(a));
    }

  std::ostringstream out;
  const char* mode = zero ? "zero" : uniform ? "uniform" : "demo";
  out << "V41\n"
      << "; Marlo database generated by marlogen (" << mode << " set)\n"
      << "; Region: latitude " << kLatMin << " .. " << kLatMax << " N, longitude " << kLonMin << " .. "
      << kLonMax << " E\n"
      << "; Source: ETRS89 on GRS80; target: MGI on Bessel 1841\n"
      << "; Plane of index grid and areas: Gauss-Krueger on GRS80, central meridian 13d20' E,\n"
      << ";   projection state GKCase 0 (easting = L0 * 1e6/3 + y + 500000)\n"
      << "; Parameters: ETRS89 -> MGI, coordinate frame rotations, derived from the published\n"
      << ";   MGI -> ETRS89 set (577.326 90.129 463.919 m, 5.137 1.474 5.297\", 2.4232 ppm)\n"
      << "2\n"
      << "GRS80\n"
      << Number(kGrs80A, 4) << "\n"
      << Number(kGrs80B, 6) << "\n"
      << (zero ? "GRS80" : "Bessel 1841") << "\n"
      << Number(zero ? kGrs80A : kBesselA, 4) << "\n"
      << Number(zero ? kGrs80B : kBesselB, 6) << "\n"
      << Number(kCentralMeridian, 10) << "\n"
      << "0.0\n"
      << Number(xMin, 3) << " " << Number(yMax, 3) << "\n"
      << Number(xMax, 3) << " " << Number(yMin, 3) << "\n"
      << gridColumns * gridRows << "\n"
      << kCellSize << "\n";

  out << "; ---- index grid: cell, 4 corners, texts, overlapping areas\n";
  for (int row = 0; row < gridRows; ++row)
    for (int col = 0; col < gridColumns; ++col) {
      const double e0 = xMin + col * kCellSize, e1 = e0 + kCellSize;
      const double n0 = yMax - row * kCellSize, n1 = n0 - kCellSize;
      out << row * gridColumns + col + 1 << "\n"
          << Number(e0, 3) << " " << Number(n0, 3) << "\n"
          << Number(e1, 3) << " " << Number(n0, 3) << "\n"
          << Number(e1, 3) << " " << Number(n1, 3) << "\n"
          << Number(e0, 3) << " " << Number(n1, 3) << "\n"
          << "1\n"
          << "cell row " << row << " column " << col << "\n";
      std::vector<int> ids;
      for (const Area& a : areas)
        if (a.maxE >= e0 - 1.0 && a.minE <= e1 + 1.0 && a.maxN >= n1 - 1.0 && a.minN <= n0 + 1.0)
          ids.push_back(a.id);
      out << ids.size() << "\n";
      for (int id : ids) out << id << "\n";
    }

  // Each area's polygon and parameter set, then its identical points.
  std::vector<std::string> heads, points(areas.size(), "0\n");
  for (const Area& a : areas) {
    std::ostringstream head;
    double cLat = 0.0, cLon = 0.0;
    Unproject({(a.minE + a.maxE) / 2.0, (a.minN + a.maxN) / 2.0}, cLat, cLon);
    int type = 1;
    if (!uniform && !zero) {
      static constexpr int kTypes[] = {1, 0, 1, 5, 1, 4, 1};
      type = kTypes[(a.row * 3 + a.column) % 7];
    }
    AreaParameters p;
    p.type = type;
    if (!zero) {
      const Helmert h = uniform ? PublishedEtrs89ToMgi() : RegionalSet(cLat, cLon);
      p = Decompose(h, type);
      if (type == 0 || type == 4) p.heightScale = p.scale + 3.0 * std::sin(cLat);
    }
    head << a.id << "\n" << a.edgeIds.size() << "\n";
    for (int id : a.edgeIds) {
      const Edge& e = edgeById[id];
      const Plane& f = nodes[e.from];
      const Plane& t = nodes[e.to];
      head << e.id << "\n"
           << e.from << " " << Number(f.e, 3) << " " << Number(f.n, 3) << "\n"
           << e.to << " " << Number(t.e, 3) << " " << Number(t.n, 3) << "\n";
    }
    head << "0\n"
         << Number(p.shift[0], 4) << "\n"
         << Number(p.shift[1], 4) << "\n"
         << Number(p.shift[2], 4) << "\n"
         << p.type << "\n";
    const std::string tx = Number(p.t[0], 5), ty = Number(p.t[1], 5), tz = Number(p.t[2], 5);
    const std::string rx = Number(p.r[0], 6), ry = Number(p.r[1], 6), rz = Number(p.r[2], 6);
    const std::string sc = Number(p.scale, 5), hs = Number(p.heightScale, 5);
    switch (p.type) {
      case 0:
        head << tx << "\n"
             << ty << "\n"
             << tz << "\n"
             << rx << "\n"
             << ry << "\n"
             << rz << "\n"
             << sc << "\n"
             << hs << "\n";
        break;
      case 1:
        head << tx << "\n"
             << ty << "\n"
             << tz << "\n"
             << rx << "\n"
             << ry << "\n"
             << rz << "\n"
             << sc << "\n";
        break;
      case 4:
        head << rx << "\n" << ry << "\n" << rz << "\n" << sc << "\n" << hs << "\n";
        break;
      case 5:
        head << rx << "\n" << ry << "\n" << rz << "\n" << sc << "\n";
        break;
      default:
        break;
    }
    heads.push_back(head.str());
  }
  std::ostringstream relatedText;
  relatedText << "; ---- related areas: the four neighbours\n" << areas.size() << "\n";
  for (const Area& a : areas) {
    std::vector<int> related;
    if (a.row > 0) related.push_back(a.id - C);
    if (a.column + 1 < C) related.push_back(a.id + 1);
    if (a.row + 1 < R) related.push_back(a.id + C);
    if (a.column > 0) related.push_back(a.id - 1);
    relatedText << a.id << "\n" << related.size() << "\n";
    for (int id : related) relatedText << id << "\n";
  }
  const std::string prefix = out.str(), suffix = relatedText.str();
  auto text = [&](const std::vector<std::string>& pointLines) {
    std::string t = prefix + "; ---- areas\n" + std::to_string(areas.size()) + "\n";
    for (std::size_t i = 0; i < areas.size(); ++i) t += heads[i] + pointLines[i];
    return t + suffix;
  };
  if (uniform || zero) {
    // Identical points at random positions inside each area (residuals of
    // the distortion field, none for the identity).
    for (std::size_t i = 0; i < areas.size(); ++i) points[i] = RandomPoints(areas[i], options, zero, random);
  } else if (!SupportPoints(text(points), areas, options, points, report)) {
    return {};
  }
  return text(points);
}

}  // namespace marlogen
