#include "Ntv2Grid.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace marlobuild {

namespace {

constexpr std::size_t kRecord = 16;
// Far beyond any published grid; keeps a hostile header from asking for
// gigabytes.
constexpr long long kMaxNodes = 50'000'000;

class Records {
 public:
  explicit Records(const std::string& bytes) : bytes_(bytes) {}
  bool Has(std::size_t count) const { return pos_ + count * kRecord <= bytes_.size(); }
  std::string Key() const {
    std::string k = bytes_.substr(pos_, 8);
    while (!k.empty() && (k.back() == ' ' || k.back() == '\0')) k.pop_back();
    return k;
  }
  std::string Text() const {
    std::string t = bytes_.substr(pos_ + 8, 8);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
    return t;
  }
  std::int32_t Int() const {
    std::int32_t v;
    std::memcpy(&v, bytes_.data() + pos_ + 8, 4);
    return v;
  }
  double Double() const {
    double v;
    std::memcpy(&v, bytes_.data() + pos_ + 8, 8);
    return v;
  }
  void Floats(float out[4]) const { std::memcpy(out, bytes_.data() + pos_, 16); }
  void Skip() { pos_ += kRecord; }

 private:
  const std::string& bytes_;
  std::size_t pos_ = 0;
};

bool Expect(Records& r, const char* key, std::string& error) {
  if (!r.Has(1)) {
    error = std::string("the file ends before the record ") + key + " (truncated)";
    return false;
  }
  if (r.Key() != key) {
    error = std::string("record ") + key + " expected, found \"" + r.Key() + "\"";
    return false;
  }
  return true;
}

}  // namespace

void Ntv2SubGrid::ShiftAt(double lat, double lon, double& dLat, double& dLon) const {
  const double y = (lat - south) / dlat, x = (lon - west) / dlon;
  int r = static_cast<int>(std::floor(y)), c = static_cast<int>(std::floor(x));
  if (r >= rows - 1) r = rows - 2;
  if (c >= columns - 1) c = columns - 2;
  if (r < 0) r = 0;
  if (c < 0) c = 0;
  const double t = y - r, u = x - c;
  auto at = [&](const std::vector<float>& v, int rr, int cc) {
    return static_cast<double>(v[static_cast<std::size_t>(rr) * columns + cc]);
  };
  auto blend = [&](const std::vector<float>& v) {
    return (1 - t) * (1 - u) * at(v, r, c) + (1 - t) * u * at(v, r, c + 1) + t * (1 - u) * at(v, r + 1, c) +
           t * u * at(v, r + 1, c + 1);
  };
  dLat = blend(shiftLat);
  dLon = blend(shiftLon);
}

int Ntv2Grid::SubGridAt(double lat, double lon) const {
  int found = -1;
  // A child lies inside its parent; the deepest one holding the position wins.
  for (std::size_t i = 0; i < subGrids.size(); ++i) {
    if (!subGrids[i].Contains(lat, lon)) continue;
    if (found < 0) {
      found = static_cast<int>(i);
      continue;
    }
    for (int p = subGrids[i].parentIndex; p >= 0; p = subGrids[p].parentIndex)
      if (p == found) {
        found = static_cast<int>(i);
        break;
      }
  }
  return found;
}

bool Ntv2Grid::Forward(double lat, double lon, double& toLat, double& toLon) const {
  const int g = SubGridAt(lat, lon);
  if (g < 0) return false;
  double dLat, dLon;
  subGrids[g].ShiftAt(lat, lon, dLat, dLon);
  toLat = lat + dLat / 3600.0;
  toLon = lon + dLon / 3600.0;
  return true;
}

bool Ntv2Grid::Inverse(double toLat, double toLon, double& fromLat, double& fromLon) const {
  double lat = toLat, lon = toLon;
  for (int i = 0; i < 20; ++i) {
    double fLat, fLon;
    if (!Forward(lat, lon, fLat, fLon)) return false;
    const double eLat = toLat - fLat, eLon = toLon - fLon;
    lat += eLat;
    lon += eLon;
    if (std::fabs(eLat) < 1e-12 && std::fabs(eLon) < 1e-12) {
      fromLat = lat;
      fromLon = lon;
      return true;
    }
  }
  return false;
}

bool ParseNtv2(const std::string& bytes, Ntv2Grid& grid, std::string& error) {
  grid = Ntv2Grid{};
  Records r(bytes);
  if (!Expect(r, "NUM_OREC", error)) return false;
  const int overviewRecords = r.Int();
  if (overviewRecords != 11) {
    error = "NUM_OREC is " + std::to_string(overviewRecords) + ", not 11 (little-endian NTv2 expected)";
    return false;
  }
  r.Skip();
  if (!Expect(r, "NUM_SREC", error)) return false;
  const int subRecords = r.Int();
  r.Skip();
  if (!Expect(r, "NUM_FILE", error)) return false;
  const int files = r.Int();
  r.Skip();
  if (subRecords != 11 || files < 1 || files > 10000) {
    error = "NUM_SREC or NUM_FILE out of range";
    return false;
  }
  for (const char* key : {"GS_TYPE", "VERSION", "SYSTEM_F", "SYSTEM_T"}) {
    if (!Expect(r, key, error)) return false;
    if (std::strcmp(key, "GS_TYPE") == 0 && r.Text() != "SECONDS") {
      error = "GS_TYPE \"" + r.Text() + "\" is not supported (SECONDS expected)";
      return false;
    }
    if (std::strcmp(key, "SYSTEM_F") == 0) grid.fromSystem = r.Text();
    if (std::strcmp(key, "SYSTEM_T") == 0) grid.toSystem = r.Text();
    r.Skip();
  }
  double* axes[4] = {&grid.fromA, &grid.fromB, &grid.toA, &grid.toB};
  const char* axisKeys[4] = {"MAJOR_F", "MINOR_F", "MAJOR_T", "MINOR_T"};
  for (int i = 0; i < 4; ++i) {
    if (!Expect(r, axisKeys[i], error)) return false;
    *axes[i] = r.Double();
    r.Skip();
    if (!std::isfinite(*axes[i]) || *axes[i] < 6.0e6 || *axes[i] > 7.0e6) {
      error = std::string(axisKeys[i]) + " is not an Earth ellipsoid axis";
      return false;
    }
  }
  for (int f = 0; f < files; ++f) {
    Ntv2SubGrid s;
    if (!Expect(r, "SUB_NAME", error)) return false;
    s.name = r.Text();
    r.Skip();
    if (!Expect(r, "PARENT", error)) return false;
    s.parent = r.Text();
    r.Skip();
    for (const char* key : {"CREATED", "UPDATED"}) {
      if (!Expect(r, key, error)) return false;
      r.Skip();
    }
    double v[6];
    const char* keys[6] = {"S_LAT", "N_LAT", "E_LONG", "W_LONG", "LAT_INC", "LONG_INC"};
    for (int i = 0; i < 6; ++i) {
      if (!Expect(r, keys[i], error)) return false;
      v[i] = r.Double();
      r.Skip();
      if (!std::isfinite(v[i])) {
        error = std::string(keys[i]) + " of sub-grid " + s.name + " is not a number";
        return false;
      }
    }
    if (!Expect(r, "GS_COUNT", error)) return false;
    const long long count = r.Int();
    r.Skip();
    // Seconds, longitudes west-positive.
    s.south = v[0] / 3600.0;
    s.north = v[1] / 3600.0;
    s.east = -v[2] / 3600.0;
    s.west = -v[3] / 3600.0;
    s.dlat = v[4] / 3600.0;
    s.dlon = v[5] / 3600.0;
    if (!(s.dlat > 0) || !(s.dlon > 0) || !(s.north > s.south) || !(s.east > s.west) || s.south < -90 ||
        s.north > 90) {
      error = "sub-grid " + s.name + " has an empty or inverted extent";
      return false;
    }
    const double rows = (s.north - s.south) / s.dlat + 1.0, columns = (s.east - s.west) / s.dlon + 1.0;
    s.rows = static_cast<int>(std::lround(rows));
    s.columns = static_cast<int>(std::lround(columns));
    if (std::fabs(rows - s.rows) > 1e-6 || std::fabs(columns - s.columns) > 1e-6 || s.rows < 2 ||
        s.columns < 2 || static_cast<long long>(s.rows) * s.columns != count || count > kMaxNodes) {
      error = "sub-grid " + s.name + ": GS_COUNT " + std::to_string(count) + " does not match its extent";
      return false;
    }
    if (!r.Has(static_cast<std::size_t>(count))) {
      error = "the file ends inside the shifts of sub-grid " + s.name + " (truncated)";
      return false;
    }
    s.shiftLat.assign(static_cast<std::size_t>(count), 0.0f);
    s.shiftLon.assign(static_cast<std::size_t>(count), 0.0f);
    // Records run from the south-east corner, westwards along each row.
    for (int row = 0; row < s.rows; ++row)
      for (int k = 0; k < s.columns; ++k) {
        float rec[4];
        r.Floats(rec);
        r.Skip();
        if (!std::isfinite(rec[0]) || !std::isfinite(rec[1]) || std::fabs(rec[0]) > 3600 ||
            std::fabs(rec[1]) > 3600) {
          error = "sub-grid " + s.name + " holds a non-finite or absurd shift in row " + std::to_string(row);
          return false;
        }
        const std::size_t at = static_cast<std::size_t>(row) * s.columns + (s.columns - 1 - k);
        s.shiftLat[at] = rec[0];
        s.shiftLon[at] = -rec[1];
      }
    grid.subGrids.push_back(std::move(s));
  }
  for (auto& s : grid.subGrids) {
    if (s.parent == "NONE") continue;
    for (std::size_t i = 0; i < grid.subGrids.size(); ++i)
      if (grid.subGrids[i].name == s.parent && &grid.subGrids[i] != &s) s.parentIndex = static_cast<int>(i);
    if (s.parentIndex < 0) {
      error = "sub-grid " + s.name + " names the unknown parent " + s.parent;
      return false;
    }
  }
  return true;
}

bool ReadNtv2(const std::string& path, Ntv2Grid& grid, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseNtv2(bytes, grid, error);
}

}  // namespace marlobuild
