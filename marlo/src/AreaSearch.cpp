#include "AreaSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

namespace marlo {
namespace {

PlanePoint NodePoint(const MarloDatabase& db, int id, bool& found) {
  auto it = db.nodes.find(id);
  if (it == db.nodes.end()) {
    found = false;
    return {};
  }
  return {it->second.northing, it->second.easting};
}

// Walks the edges from the first one (lowest edge id) until the ring returns
// to its first node. Every step consumes one edge, so the walk ends after at
// most as many steps as the area has edges, even on a ring that never closes.
void OrderRing(const MarloDatabase& db, CMasche& area, std::vector<int>& ringNodes) {
  ringNodes.clear();
  area.ring.clear();
  area.ringClosed = false;
  if (area.edges.empty()) return;
  const CKante& first = area.edges.begin()->second;
  ringNodes.push_back(first.startNode);
  ringNodes.push_back(first.endNode);
  std::set<int> used{first.id};
  const std::size_t maxSteps = area.edges.size();
  bool closed = false;
  for (std::size_t step = 0; step < maxSteps; ++step) {
    const int current = ringNodes.back();
    const int previous = ringNodes[ringNodes.size() - 2];
    const CKante* next = nullptr;
    int other = 0;
    for (const auto& [id, edge] : area.edges) {
      if (used.count(id)) continue;
      if (edge.startNode == current && edge.endNode != previous) {
        next = &edge;
        other = edge.endNode;
        break;
      }
      if (edge.endNode == current && edge.startNode != previous) {
        next = &edge;
        other = edge.startNode;
        break;
      }
    }
    if (next == nullptr) break;
    used.insert(next->id);
    if (other == ringNodes.front()) {
      closed = true;
      break;
    }
    ringNodes.push_back(other);
  }
  if (!closed || ringNodes.size() < 3) return;
  bool allFound = true;
  for (int id : ringNodes) area.ring.push_back(NodePoint(db, id, allFound));
  area.ringClosed = allFound;
}

void NoteBox(CMasche& area) {
  area.minX = area.maxX = area.ring[0].x;
  area.minY = area.maxY = area.ring[0].y;
  for (const PlanePoint& p : area.ring) {
    area.minX = std::min(area.minX, p.x);
    area.maxX = std::max(area.maxX, p.x);
    area.minY = std::min(area.minY, p.y);
    area.maxY = std::max(area.maxY, p.y);
  }
  area.boxNoted = true;
}

// A mesh node off the ring serves as the outside point; it must lie
// outside the ring's bounding box too, or an overlapping neighbour's
// node inside this polygon would invert the test.
void PickReference(const MarloDatabase& db, const std::vector<int>& ringNodes, CMasche& area) {
  const double minX = area.minX, maxX = area.maxX, minY = area.minY, maxY = area.maxY;
  const std::set<int> onRing(ringNodes.begin(), ringNodes.end());
  for (const auto& [nodeId, node] : db.nodes) {
    if (onRing.count(nodeId)) continue;
    const bool outsideBox =
        node.northing < minX || node.northing > maxX || node.easting < minY || node.easting > maxY;
    if (!outsideBox) continue;
    area.reference = {node.northing, node.easting};
    break;
  }
}

void NoteReferenceSides(CMasche& area) {
  const std::size_t n = area.ring.size();
  area.referenceSides.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    area.referenceSides.push_back(
        static_cast<signed char>(Orient(area.ring[i], area.ring[(i + 1) % n], area.reference)));
}

// Only the cells CellNumber can give (up to the number of stored cells
// plus one) are indexed.
void IndexCells(MarloDatabase& db) {
  std::vector<std::vector<const CMasche*>>& cells = db.cellAreas.cells;
  cells.assign(db.grid.size() + 2, {});
  for (const auto& [number, cell] : db.grid) {
    if (number < 0 || static_cast<std::size_t>(number) >= cells.size()) continue;
    std::vector<const CMasche*>& candidates = cells[static_cast<std::size_t>(number)];
    for (int areaId : cell.areaIds) {
      auto area = db.areas.find(areaId);
      if (area != db.areas.end()) candidates.push_back(&area->second);
    }
  }
}

}  // namespace

void PreparePolygons(MarloDatabase& db) {
  double maxNorthing = -std::numeric_limits<double>::infinity();
  for (const auto& [id, node] : db.nodes)
    if (node.northing > maxNorthing) maxNorthing = node.northing;
  const PlanePoint fallback{maxNorthing + 1000.0, 0.0};

  std::vector<int> ringNodes;
  for (auto& [id, area] : db.areas) {
    OrderRing(db, area, ringNodes);
    area.reference = fallback;
    area.referenceSides.clear();
    area.boxNoted = false;
    if (area.ringClosed) NoteBox(area);
    area.residualPoints.clear();
    area.residualPoints.reserve(area.points.size());
    for (const auto& [index, p] : area.points)
      area.residualPoints.push_back({p.easting, p.northing, p.residualLon, p.residualLat, p.residualHeight});
    if (area.ringClosed && db.areas.size() >= 3) PickReference(db, ringNodes, area);
    if (area.ringClosed) NoteReferenceSides(area);
  }
  IndexCells(db);
}

namespace {

// Orient, inlined into the polygon test that calls it twice per edge.
inline int Orientation(const PlanePoint& p0, const PlanePoint& p1, const PlanePoint& p2) {
  const double dx1 = p1.x - p0.x, dy1 = p1.y - p0.y;
  const double dx2 = p2.x - p0.x, dy2 = p2.y - p0.y;
  if (dy1 * dx2 > dx1 * dy2) return 1;
  if (dy1 * dx2 < dx1 * dy2) return -1;
  if (dy1 * dy2 < 0.0 || dx1 * dx2 < 0.0) return -1;
  if (dx2 * dx2 + dy2 * dy2 > dx1 * dx1 + dy1 * dy1) return 1;
  return 0;
}

}  // namespace

int Orient(const PlanePoint& p0, const PlanePoint& p1, const PlanePoint& p2) {
  return Orientation(p0, p1, p2);
}

bool SegmentsIntersect(const PlanePoint& p, const PlanePoint& q, const PlanePoint& r, const PlanePoint& s) {
  return Orient(p, q, s) * Orient(p, q, r) <= 0 && Orient(r, s, p) * Orient(r, s, q) <= 0;
}

bool AreaContains(const CMasche& area, double easting, double northing) {
  if (!area.ringClosed) return false;
  // Beyond the box (the box's edge still counts as possibly on the ring).
  if (area.boxNoted &&
      (northing < area.minX || northing > area.maxX || easting < area.minY || easting > area.maxY))
    return false;
  const PlanePoint point{northing, easting};
  const std::vector<PlanePoint>& ring = area.ring;
  const std::size_t n = ring.size();
  const bool sidesNoted = area.referenceSides.size() == n;
  // One pass does both tests. A point on the boundary belongs to the area:
  // otherwise a point on a shared node would touch two edges of every
  // adjacent area and fall outside all of them. Otherwise the edges that
  // the segment from the point to the reference point touches or crosses
  // are counted, as SegmentsIntersect decides it: each orientation is
  // worked out once, the one of the point towards a ring node serving the
  // two edges that meet there. A ring node right on the segment counts as
  // lying to its left (as if the segment passed a hair beside it): touching
  // both edges that meet there would count one crossing twice and turn the
  // answer over, so that a point on the line from the reference through a
  // corner (an area's diagonal, on a regular mesh) would fall outside its
  // own area, and an outside point into it.
  const auto side = [](int towards) { return towards == 0 ? 1 : towards; };
  std::size_t crossings = 0;
  const int firstTowards = side(Orientation(point, area.reference, ring[0]));
  int towardsStart = firstTowards;
  for (std::size_t i = 0; i < n; ++i) {
    const PlanePoint& start = ring[i];
    const bool last = i + 1 == n;
    const PlanePoint& end = last ? ring[0] : ring[i + 1];
    const int pointSide = Orientation(start, end, point);
    if (pointSide == 0) return true;
    const int towardsEnd = last ? firstTowards : side(Orientation(point, area.reference, end));
    const int referenceSide = sidesNoted ? area.referenceSides[i] : Orientation(start, end, area.reference);
    if (towardsEnd != towardsStart && pointSide * referenceSide <= 0) ++crossings;
    towardsStart = towardsEnd;
  }
  return (crossings % 2) == 1;
}

long long CellNumber(const DatabaseHeader& header, std::size_t storedCells, double easting, double northing) {
  if (header.gridCellSize <= 0 || header.gridColumns <= 0) return -1;
  const double down = std::trunc(header.gridYMax - northing);
  const double right = std::trunc(easting - header.gridXMin);
  // Positions left of or above the grid, and those beyond its last column or
  // row, have no cell (the plain formula would wrap them into another row).
  if (!(down >= 0.0) || !(right >= 0.0) || down > 4.0e9 || right > 4.0e9) return -1;
  const long long row = static_cast<long long>(down) / header.gridCellSize;
  const long long column = static_cast<long long>(right) / header.gridCellSize;
  if (column >= header.gridColumns || row >= header.gridRows) return -1;
  const long long cell = row * header.gridColumns + column + 1;
  if (cell > static_cast<long long>(storedCells) + 1) return -1;
  return cell;
}

const CMasche* FindArea(const MarloDatabase& db, double easting, double northing) {
  const long long cell = CellNumber(db.header, db.grid.size(), easting, northing);
  if (cell < 0 || cell > std::numeric_limits<int>::max()) return nullptr;
  const std::vector<std::vector<const CMasche*>>& cells = db.cellAreas.cells;
  if (!cells.empty()) {
    if (static_cast<std::size_t>(cell) >= cells.size()) return nullptr;
    for (const CMasche* area : cells[static_cast<std::size_t>(cell)])
      if (AreaContains(*area, easting, northing)) return area;
    return nullptr;
  }
  auto it = db.grid.find(static_cast<int>(cell));
  if (it == db.grid.end()) return nullptr;
  for (int id : it->second.areaIds) {
    auto area = db.areas.find(id);
    if (area != db.areas.end() && AreaContains(area->second, easting, northing)) return &area->second;
  }
  return nullptr;
}

}  // namespace marlo
