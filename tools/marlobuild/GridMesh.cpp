#include "GridMesh.h"

#include <cmath>
#include <map>
#include <random>

namespace marlobuild {

namespace {

constexpr int kFine = 4;         // lattice steps per cell edge at the finest split
constexpr int kSampleSteps = 8;  // sample lattice of an area: 9 x 9 positions, border included

struct Key {
  int grid, row, column;  // fine lattice position
  bool operator<(const Key& o) const {
    if (grid != o.grid) return grid < o.grid;
    if (row != o.row) return row < o.row;
    return column < o.column;
  }
};

// A position of the grid's "from" system with both of its coordinates.
bool Pair(const Ntv2Grid& grid, bool inverse, double lat, double lon, const std::string& name,
          IdenticalPosition& p) {
  double toLat, toLon;
  if (!grid.Forward(lat, lon, toLat, toLon)) return false;
  p.name = name;
  if (inverse) {
    p.sourceLat = toLat;
    p.sourceLon = toLon;
    p.targetLat = lat;
    p.targetLon = lon;
  } else {
    p.sourceLat = lat;
    p.sourceLon = lon;
    p.targetLat = toLat;
    p.targetLon = toLon;
  }
  return true;
}

struct SubArea {
  int grid, row0, column0, span;  // fine lattice corner (south-west) and size
  std::vector<IdenticalPosition> points;
};

// The positions of an area on a lattice of (steps + 1) x (steps + 1), the
// border included, with both of their coordinates.
bool Lattice(const Ntv2Grid& grid, bool inverse, const SubArea& a, int steps,
             std::vector<IdenticalPosition>& out) {
  const Ntv2SubGrid& g = grid.subGrids[a.grid];
  out.clear();
  for (int i = 0; i <= steps; ++i)
    for (int j = 0; j <= steps; ++j) {
      const double fr = a.row0 + double(i) * a.span / steps, fc = a.column0 + double(j) * a.span / steps;
      const double lat = g.south + fr / kFine * g.dlat, lon = g.west + fc / kFine * g.dlon;
      char name[64];
      std::snprintf(name, sizeof name, "%s_%g_%g", g.name.empty() ? "G" : g.name.c_str(), fr / kFine,
                    fc / kFine);
      IdenticalPosition p;
      if (!Pair(grid, inverse, lat, lon, name, p)) return false;
      out.push_back(p);
    }
  return true;
}

}  // namespace

bool BuildGridMesh(const Ntv2Grid& grid, const GridMeshOptions& options, DatabaseBuilder& builder,
                   GridMeshReport& report, std::string& error) {
  double shift[3];
  {
    // The shift of the whole grid first, so that the split decisions are
    // taken with the sets the database will hold.
    std::vector<IdenticalPosition> corners;
    for (std::size_t gi = 0; gi < grid.subGrids.size(); ++gi) {
      const Ntv2SubGrid& g = grid.subGrids[gi];
      if (g.parentIndex >= 0) continue;
      for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.columns; ++c) {
          IdenticalPosition p;
          if (Pair(grid, options.inverse, g.south + r * g.dlat, g.west + c * g.dlon, "n", p))
            corners.push_back(p);
        }
    }
    MeanShift(builder.Settings(), corners, shift);
  }
  const AreaModel model(builder.Settings(), shift);
  builder.UseShift(shift);

  std::vector<SubArea> accepted;
  for (std::size_t gi = 0; gi < grid.subGrids.size(); ++gi) {
    const Ntv2SubGrid& g = grid.subGrids[gi];
    if (g.parentIndex >= 0) continue;  // children refine the shifts, not the mesh
    for (int r = 0; r + 1 < g.rows; ++r)
      for (int c = 0; c + 1 < g.columns; ++c) {
        ++report.cells;
        for (int split : {1, 2, 4}) {
          const int span = kFine / split;
          std::vector<SubArea> parts;
          double worst = 0.0;
          for (int i = 0; i < split; ++i)
            for (int j = 0; j < split; ++j) {
              SubArea a{int(gi), r * kFine + i * span, c * kFine + j * span, span, {}};
              if (!Lattice(grid, options.inverse, a, kSampleSteps, a.points)) {
                error = "the grid's shifts cannot be evaluated in sub-grid " + g.name;
                return false;
              }
              AreaParameters p;
              if (!model.Fit(a.points, p)) {
                error = "a parameter set of sub-grid " + g.name + " cannot be determined";
                return false;
              }
              std::vector<FittedPoint> support;
              double misfit = 0.0;
              if (!FitSupport(builder.Settings(), model, p, a.points, SupportRing{}, "", support, misfit)) {
                error = "the support points of a cell of sub-grid " + g.name + " cannot be fitted";
                return false;
              }
              worst = std::max(worst, misfit);
              parts.push_back(std::move(a));
            }
          if (worst <= options.tolerance || split == 4) {
            report.worstMisfit = std::max(report.worstMisfit, worst);
            if (split == 2) ++report.split2;
            if (split == 4) ++report.split4;
            for (auto& a : parts) accepted.push_back(std::move(a));
            break;
          }
        }
      }
  }

  // Every corner of an accepted area is a mesh node.
  std::map<Key, int> nodeIds;
  std::map<Key, bool> isCorner;
  for (const SubArea& a : accepted)
    for (int dr : {0, a.span})
      for (int dc : {0, a.span}) isCorner[{a.grid, a.row0 + dr, a.column0 + dc}] = true;
  auto node = [&](const Key& k) {
    auto it = nodeIds.find(k);
    if (it != nodeIds.end()) return it->second;
    const Ntv2SubGrid& g = grid.subGrids[k.grid];
    IdenticalPosition p;
    Pair(grid, options.inverse, g.south + double(k.row) / kFine * g.dlat,
         g.west + double(k.column) / kFine * g.dlon, "", p);
    const int id = builder.AddNode(p.sourceLat, p.sourceLon);
    nodeIds.emplace(k, id);
    return id;
  };
  for (const SubArea& a : accepted) {
    // Counter-clockwise: south side eastwards, east side northwards, north
    // side westwards, west side southwards, through every corner on them.
    std::vector<int> ring;
    const int r0 = a.row0, c0 = a.column0, s = a.span;
    for (int c = c0; c < c0 + s; ++c)
      if (isCorner.count({a.grid, r0, c})) ring.push_back(node({a.grid, r0, c}));
    for (int r = r0; r < r0 + s; ++r)
      if (isCorner.count({a.grid, r, c0 + s})) ring.push_back(node({a.grid, r, c0 + s}));
    for (int c = c0 + s; c > c0; --c)
      if (isCorner.count({a.grid, r0 + s, c})) ring.push_back(node({a.grid, r0 + s, c}));
    for (int r = r0 + s; r > r0; --r)
      if (isCorner.count({a.grid, r, c0})) ring.push_back(node({a.grid, r, c0}));
    builder.AddArea(std::move(ring), a.points, a.points);
  }
  return true;
}

std::vector<IdenticalPosition> GridCheckPositions(const Ntv2Grid& grid, bool inverse, int count,
                                                  double height, unsigned seed) {
  std::vector<IdenticalPosition> out;
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int guard = 0;
  while (static_cast<int>(out.size()) < count && guard++ < count * 20) {
    const Ntv2SubGrid& g = grid.subGrids[random() % grid.subGrids.size()];
    if (g.parentIndex >= 0) continue;
    const double lat = g.south + unit(random) * (g.north - g.south);
    const double lon = g.west + unit(random) * (g.east - g.west);
    IdenticalPosition p;
    if (!Pair(grid, inverse, lat, lon, "check", p)) continue;
    p.sourceHeight = p.targetHeight = height;
    out.push_back(p);
  }
  return out;
}

}  // namespace marlobuild
