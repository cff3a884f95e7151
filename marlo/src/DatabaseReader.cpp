// Line reader of the database file. Every logical read takes the next line
// that is neither empty (blank) nor a comment (first character ';'); value
// lines are parsed in the manner of scanf ("%d", "%lf", "%s"): leading blanks
// are skipped and anything after the values is ignored.
//
// Counts are never used to reserve memory: every element needs lines of its
// own, so a huge count simply runs out of lines and ends with -1003.
//
// Only values a transformation can work with are accepted: every number must
// be finite (a "nan" or "inf" anywhere would turn every transformed point
// into NaN while reporting success), the ellipsoid axes positive with the
// semi-minor axis not above the semi-major one, and the projection one of
// those the area search knows (any other would put every point of the earth
// at the plane origin, inside whichever area covers it).

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "MarloDatabase.h"
#include "runtime/RegularFile.h"

namespace marlo {
namespace {

class LineSource {
 public:
  explicit LineSource(const std::string& text) : text_(text) {}

  // Next value line; false at the end of the text and at a line longer than
  // any line of a database (the reading then fails).
  bool Next(std::string& line) {
    while (pos_ < text_.size()) {
      std::size_t end = text_.find('\n', pos_);
      if (end == std::string::npos) end = text_.size();
      if (end - pos_ > kMaxDatabaseLine) {
        pos_ = text_.size();
        return false;
      }
      line.assign(text_, pos_, end - pos_);
      pos_ = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == ';') continue;
      if (line.find_first_not_of(" \t\r\v\f") == std::string::npos) continue;
      return true;
    }
    return false;
  }

 private:
  const std::string& text_;
  std::size_t pos_ = 0;
};

bool ParseIntAt(const char*& p, int& out) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(p, &end, 10);
  if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  p = end;
  return true;
}

bool ParseDoubleAt(const char*& p, double& out) {
  char* end = nullptr;
  const double v = std::strtod(p, &end);
  if (end == p || !std::isfinite(v)) return false;
  out = v;
  p = end;
  return true;
}

// The values of the header a transformation depends on (all numbers are
// finite already).
bool UsableEllipsoid(double a, double b) { return a > 0.0 && b > 0.0 && b <= a; }
bool UsableHeader(const DatabaseHeader& h) {
  const bool knownProjection = h.projectionType == 2 || h.projectionType == 3 || h.projectionType == 4;
  return knownProjection && UsableEllipsoid(h.sourceA, h.sourceB) && UsableEllipsoid(h.targetA, h.targetB);
}

// Truncation toward zero of a grid dimension; anything not representable
// (non-finite, negative or absurdly large) counts as no extent.
int TruncatedDimension(double value) {
  if (!std::isfinite(value) || value < 1.0 || value > 1.0e9) return 0;
  return static_cast<int>(value);
}

class Reader {
 public:
  Reader(const std::string& text, MarloDatabase& db) : lines_(text), db_(db) {}

  int Run() {
    if (int rc = ReadHeader(); rc != kSuccess) return rc;
    if (int rc = ReadGrid(); rc != kSuccess) return rc;
    if (int rc = ReadAreas(); rc != kSuccess) return rc;
    return ReadRelated();
  }

 private:
  bool Line() { return lines_.Next(line_); }

  bool Int(int& out) {
    if (!Line()) return false;
    const char* p = line_.c_str();
    return ParseIntAt(p, out);
  }
  bool Count(int& out) { return Int(out) && out >= 0; }

  bool Doubles(double* out, int n) {
    if (!Line()) return false;
    const char* p = line_.c_str();
    for (int i = 0; i < n; ++i)
      if (!ParseDoubleAt(p, out[i])) return false;
    return true;
  }
  bool Double(double& out) { return Doubles(&out, 1); }

  bool IntDoubleDouble(int& id, double& a, double& b) {
    if (!Line()) return false;
    const char* p = line_.c_str();
    return ParseIntAt(p, id) && ParseDoubleAt(p, a) && ParseDoubleAt(p, b);
  }

  int ReadHeader() {
    DatabaseHeader& h = db_.header;
    if (!Line()) return kNotReady;
    {
      std::istringstream in(line_);
      if (!(in >> h.version)) return kNotReady;
    }
    // "V41" -> "4.1": a dot goes before the last character, the first
    // character is dropped.
    std::string numeric = h.version;
    numeric.insert(numeric.size() - 1, ".");
    numeric.erase(0, 1);
    const char* p = numeric.c_str();
    double version = 0.0;
    if (!ParseDoubleAt(p, version)) version = 0.0;
    h.numericVersion = version;
    if (!(version >= 4.0)) return kBadVersion;

    if (!Int(h.projectionType)) return kNotReady;
    if (!Line()) return kNotReady;
    h.sourceEllipsoidName = line_;
    if (!Double(h.sourceA) || !Double(h.sourceB)) return kNotReady;
    if (!Line()) return kNotReady;
    h.targetEllipsoidName = line_;
    if (!Double(h.targetA) || !Double(h.targetB)) return kNotReady;
    if (!Double(h.centralMeridian) || !Double(h.originLatitude)) return kNotReady;
    double corner[2];
    if (!Doubles(corner, 2)) return kNotReady;
    h.gridXMin = corner[0];
    h.gridYMax = corner[1];
    if (!Doubles(corner, 2)) return kNotReady;
    h.gridXMax = corner[0];
    h.gridYMin = corner[1];
    if (!Int(h.gridCellCount) || !Int(h.gridCellSize)) return kNotReady;
    if (!UsableHeader(h)) return kNotReady;

    if (h.gridCellSize <= 0) {
      h.gridColumns = h.gridRows = 0;
    } else {
      h.gridColumns = TruncatedDimension((h.gridXMax - h.gridXMin) / h.gridCellSize);
      h.gridRows = TruncatedDimension((h.gridYMax - h.gridYMin) / h.gridCellSize);
    }
    if (h.gridColumns == 0 || h.gridRows == 0) return kNoGrid;
    return kSuccess;
  }

  int ReadGrid() {
    for (int i = 0; i < db_.header.gridCellCount; ++i) {
      CGitter cell;
      if (!Int(cell.number)) return kNotReady;
      for (CPunkt& corner : cell.corners)
        if (!Doubles(corner.values, 2)) return kNotReady;
      int n = 0;
      if (!Count(n)) return kNotReady;
      for (int t = 0; t < n; ++t) {
        if (!Line()) return kNotReady;
        cell.texts.push_back(line_);
      }
      int m = 0;
      if (!Count(m)) return kNotReady;
      for (int a = 0; a < m; ++a) {
        int id = 0;
        if (!Int(id)) return kNotReady;
        cell.areaIds.push_back(id);
      }
      const int number = cell.number;
      db_.grid[number] = std::move(cell);
    }
    return kSuccess;
  }

  bool ReadNode(int& id) {
    CKnoten node;
    if (!IntDoubleDouble(node.id, node.easting, node.northing)) return false;
    id = node.id;
    db_.nodes[node.id] = node;
    return true;
  }

  int ReadParameters(CMasche& area) {
    double* order[8] = {};
    int n = 0;
    switch (area.parameterType) {
      case 0:
        n = 8;
        break;
      case 1:
        n = 7;
        break;
      case 2:
        n = 5;
        break;
      case 3:
        n = 4;
        break;
      case 4:
        n = 5;
        break;
      case 5:
        n = 4;
        break;
      default:
        return kSuccess;
    }
    double* full[8] = {&area.tx, &area.ty, &area.tz,    &area.rx,
                       &area.ry, &area.rz, &area.scale, &area.heightScale};
    double* translations[5] = {&area.tx, &area.ty, &area.tz, &area.scale, &area.heightScale};
    double* rotations[5] = {&area.rx, &area.ry, &area.rz, &area.scale, &area.heightScale};
    double** source = area.parameterType <= 1 ? full : area.parameterType <= 3 ? translations : rotations;
    for (int i = 0; i < n; ++i) order[i] = source[i];
    for (int i = 0; i < n; ++i)
      if (!Double(*order[i])) return kNotReady;
    return kSuccess;
  }

  int ReadArea() {
    CMasche area;
    if (!Int(area.id)) return kNotReady;
    int k = 0;
    if (!Count(k)) return kNotReady;
    for (int e = 0; e < k; ++e) {
      CKante edge;
      if (!Int(edge.id)) return kNotReady;
      if (!ReadNode(edge.startNode) || !ReadNode(edge.endNode)) return kNotReady;
      db_.edges[edge.id] = edge;
      area.edges[edge.id] = edge;
      area.edgeIds.push_back(edge.id);
    }
    if (!Int(area.shiftMode)) return kNotReady;
    if (!Double(area.shiftX) || !Double(area.shiftY) || !Double(area.shiftZ)) return kNotReady;
    if (!Int(area.parameterType)) return kNotReady;
    if (int rc = ReadParameters(area); rc != kSuccess) return rc;
    int p = 0;
    if (!Count(p)) return kNotReady;
    for (int i = 1; i <= p; ++i) {
      IdenticalPoint point;
      if (!Line()) return kNotReady;
      {
        const char* s = line_.c_str();
        while (*s == ' ' || *s == '\t') ++s;
        const char* nameEnd = s;
        while (*nameEnd && *nameEnd != ' ' && *nameEnd != '\t') ++nameEnd;
        point.name.assign(s, nameEnd);
        const char* q = nameEnd;
        if (point.name.empty() || !ParseDoubleAt(q, point.first) || !ParseDoubleAt(q, point.easting) ||
            !ParseDoubleAt(q, point.northing))
          return kNotReady;
      }
      double r[3];
      if (!Doubles(r, 3)) return kNotReady;
      point.residualLon = r[0];
      point.residualLat = r[1];
      point.residualHeight = r[2];
      area.points[i] = std::move(point);
    }
    const int id = area.id;
    db_.areas[id] = std::move(area);
    return kSuccess;
  }

  int ReadAreas() {
    int count = 0;
    if (!Int(count)) return kNotReady;
    if (count == 0) return kNoAreas;
    if (count < 0) return kNotReady;
    for (int i = 0; i < count; ++i)
      if (int rc = ReadArea(); rc != kSuccess) return rc;
    return kSuccess;
  }

  int ReadRelated() {
    int r = 0;
    if (!Count(r)) return kNotReady;
    for (int i = 0; i < r; ++i) {
      int id = 0;
      if (!Int(id)) return kNotReady;
      auto it = db_.areas.find(id);
      if (it == db_.areas.end()) return kNotReady;
      int c = 0;
      if (!Count(c)) return kNotReady;
      std::vector<int> related;
      for (int j = 0; j < c; ++j) {
        int rel = 0;
        if (!Int(rel)) return kNotReady;
        related.push_back(rel);
      }
      it->second.relatedAreaIds = std::move(related);
    }
    return kSuccess;
  }

  LineSource lines_;
  MarloDatabase& db_;
  std::string line_;
};

}  // namespace

int ParseDatabase(const std::string& text, MarloDatabase& db) {
  db.Clear();
  db.header = DatabaseHeader{};
  Reader reader(text, db);
  return reader.Run();
}

int ReadDatabaseFile(const std::string& path, MarloDatabase& db) {
  std::string text;
  if (tarvik::ReadRegularFile(path, kMaxDatabaseBytes, text) != tarvik::FileStatus::Ok) return kCannotOpen;
  return ParseDatabase(text, db);
}

}  // namespace marlo
