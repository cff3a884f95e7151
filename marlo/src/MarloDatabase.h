#pragma once
// In-memory form of one Marlo database file: header, mesh (nodes, edges,
// areas), index grid and the identical points of every area.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace marlo {

// Result codes shared by the reader and the transformations.
enum ResultCode : int {
  kSuccess = 1,
  kAreaNotFound = -1000,
  kAreaNotSupported = -1001,
  kCannotOpen = -1002,
  kNotReady = -1003,
  kNoGrid = -1004,
  kNoAreas = -1005,
  kBadVersion = -1006,
  kNotInitialized = -1007,
};

struct DatabaseHeader {
  std::string version;
  double numericVersion = 0.0;
  int projectionType = 0;
  std::string sourceEllipsoidName;
  double sourceA = 0.0, sourceB = 0.0;
  std::string targetEllipsoidName;
  double targetA = 0.0, targetB = 0.0;
  double centralMeridian = 0.0;
  double originLatitude = 0.0;
  double gridXMin = 0.0, gridYMax = 0.0;
  double gridXMax = 0.0, gridYMin = 0.0;
  int gridCellCount = 0;
  int gridCellSize = 0;
  int gridColumns = 0;
  int gridRows = 0;
};

// Corner point of an index cell; only easting and northing are given.
struct CPunkt {
  double values[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
};

struct CGitter {
  int number = 0;
  CPunkt corners[4];
  std::vector<std::string> texts;
  std::vector<int> areaIds;
};

struct CKnoten {
  int id = 0;
  double northing = 0.0;
  double easting = 0.0;
};

struct CKante {
  int id = 0;
  int startNode = 0;
  int endNode = 0;
};

struct IdenticalPoint {
  std::string name;
  double first = 0.0;  // kept, not used by the transformation
  double easting = 0.0;
  double northing = 0.0;
  double residualLon = 0.0;  // metres, longitude direction
  double residualLat = 0.0;  // metres, latitude direction
  double residualHeight = 0.0;
};

// Plane position used by the polygon test: x = northing, y = easting.
struct PlanePoint {
  double x = 0.0;
  double y = 0.0;
};

struct ResidualPoint {
  double easting = 0.0;
  double northing = 0.0;
  double residualLon = 0.0;
  double residualLat = 0.0;
  double residualHeight = 0.0;
};

struct CMasche {
  int id = 0;
  std::vector<int> edgeIds;
  std::map<int, CKante> edges;
  int shiftMode = 0;
  double shiftX = 0.0, shiftY = 0.0, shiftZ = 0.0;
  int parameterType = 0;
  double tx = 0.0, ty = 0.0, tz = 0.0;
  double rx = 0.0, ry = 0.0, rz = 0.0;
  double scale = 0.0;
  double heightScale = 0.0;
  std::map<int, IdenticalPoint> points;
  std::vector<int> relatedAreaIds;

  // Derived once after loading: the ordered boundary ring and the reference
  // point outside it. An edge set that does not close leaves ringClosed false
  // and the area contains no point.
  std::vector<PlanePoint> ring;
  PlanePoint reference;
  bool ringClosed = false;
  // Orient(ring[i], ring[i + 1], reference) for every edge of a closed ring:
  // the reference point's side of each edge does not depend on the point
  // tested, so the polygon test need not work it out for every point.
  std::vector<signed char> referenceSides;
  // The ring's bounding box (x = northing, y = easting), noted with the
  // reference sides: a point outside it is outside the area, so most
  // candidates of a cell are turned down without walking their edges.
  bool boxNoted = false;
  double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0;
  // The values of `points` that the residual interpolation reads, in the
  // map's order, side by side in memory (noted with the ring; an area
  // without them is read from the map).
  std::vector<ResidualPoint> residualPoints;
};

// Candidate areas of the index cells that CellNumber can give, in the order
// of each cell's area list, areas missing from the mesh left out. They point
// into the database's own area map: a moved database keeps them (the map's
// elements move along), a copy starts without them and searches the maps.
struct AreaIndex {
  std::vector<std::vector<const CMasche*>> cells;

  AreaIndex() = default;
  AreaIndex(const AreaIndex&) {}
  AreaIndex& operator=(const AreaIndex&) {
    cells.clear();
    return *this;
  }
  AreaIndex(AreaIndex&&) noexcept = default;
  AreaIndex& operator=(AreaIndex&&) noexcept = default;
  ~AreaIndex() = default;
};

struct MarloDatabase {
  DatabaseHeader header;
  std::map<int, CKnoten> nodes;
  std::map<int, CKante> edges;
  std::map<int, CMasche> areas;
  std::map<int, CGitter> grid;

  // Derived once after loading (PreparePolygons): the candidate areas of
  // every index cell by cell number; empty until then, and the search then
  // goes through the maps.
  AreaIndex cellAreas;

  void Clear() {
    nodes.clear();
    edges.clear();
    areas.clear();
    grid.clear();
    cellAreas.cells.clear();
  }
};

// Bounds of a database file: far above any real mesh, low enough that a
// wrong path (a log, an image, a disk) is refused before it fills memory.
constexpr std::uint64_t kMaxDatabaseBytes = std::uint64_t{1} << 30;
constexpr std::size_t kMaxDatabaseLine = 4096;

// Reads the database text (the whole file content) into db. Returns 1 or a
// negative code; on failure db holds what was read up to the failing line.
// A line longer than kMaxDatabaseLine, a number that is not finite, an
// ellipsoid with an axis <= 0 or a semi-minor axis above the semi-major one,
// and a projection type other than 2, 3 or 4 give -1003.
int ParseDatabase(const std::string& text, MarloDatabase& db);

// Reads the file at path; -1002 when it cannot be opened, is no regular
// file (a FIFO or device is never read) or is larger than kMaxDatabaseBytes.
int ReadDatabaseFile(const std::string& path, MarloDatabase& db);

}  // namespace marlo
