#pragma once
// Helpers of the MarloDLL tests: small hand-written databases, temporary
// folders and the loaded library.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

namespace marlotest {

inline std::filesystem::path ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return std::filesystem::path(std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0)).parent_path();
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "marlo-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::filesystem::path p = path_ / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

// Header of a database whose plane tests work in directly (Gauss-Krüger
// about meridian 0, so the plane's origin lies at 0°/0°): grid from
// (0, 1000) to (1000, 0) with four 500 m cells.
inline std::string PlaneHeader(const std::string& version = "V41", int cellCount = 4, int cellSize = 500) {
  std::ostringstream o;
  o << version << "\n2\nGRS80\n6378137.0\n6356752.314140356\nGRS80\n6378137.0\n"
    << "6356752.314140356\n0.0\n0.0\n0 1000\n1000 0\n"
    << cellCount << "\n"
    << cellSize << "\n";
  return o.str();
}

inline std::string Cell(int number, const std::vector<int>& areas) {
  std::ostringstream o;
  o << number << "\n0 0\n0 0\n0 0\n0 0\n1\ntext of the cell\n" << areas.size() << "\n";
  for (int a : areas) o << a << "\n";
  return o.str();
}

struct TestPoint {
  std::string name;
  double e, n;
  double rLon, rLat, rH;
};

// An area of axis-parallel rectangle [e0, e1] x [n0, n1]; node ids from
// nodeBase, edge ids from edgeBase.
inline std::string RectangleArea(int id, double e0, double n0, double e1, double n1, int nodeBase,
                                 int edgeBase, const std::vector<TestPoint>& points = {},
                                 const std::string& parameters = "1\n0\n0\n0\n0\n0\n0\n0\n") {
  const double corners[4][2] = {{e0, n0}, {e1, n0}, {e1, n1}, {e0, n1}};
  std::ostringstream o;
  o << id << "\n4\n";
  for (int k = 0; k < 4; ++k) {
    const int a = k, b = (k + 1) % 4;
    o << edgeBase + k << "\n"
      << nodeBase + a << " " << corners[a][0] << " " << corners[a][1] << "\n"
      << nodeBase + b << " " << corners[b][0] << " " << corners[b][1] << "\n";
  }
  o << "0\n0\n0\n0\n" << parameters << points.size() << "\n";
  for (const TestPoint& p : points)
    o << p.name << " 0 " << p.e << " " << p.n << "\n" << p.rLon << " " << p.rLat << " " << p.rH << "\n";
  return o.str();
}

struct EllipsoidAxes {
  double a, b;
};
inline constexpr EllipsoidAxes kTestGrs80{6378137.0, 6356752.314140356};
inline constexpr EllipsoidAxes kTestBessel{6377397.155, 6356078.962818189};

// Plane easting of the database projection (Gauss-Krüger with the German
// zone convention, as the library's projection state has it by default) for
// a distance y east of the central meridian.
inline double GkEasting(double meridian, double y) { return meridian * 333333.3333333333 + 500000.0 + y; }

// A database in Gauss-Krüger (projection type 2) about `meridian` with one
// square area that fills the one index cell: y0..y0 + side east of the
// meridian, northing n0..n0 + side. `parameters` is the text from the
// parameter type on, `shift` the lines of the three shift values; the
// identical points' eastings are given east of the meridian too.
inline std::string GkSquareDatabase(double meridian, double y0, double n0, double side,
                                    const std::string& parameters, const std::vector<TestPoint>& points = {},
                                    EllipsoidAxes source = kTestGrs80, EllipsoidAxes target = kTestGrs80,
                                    const std::string& shift = "0\n0\n0\n") {
  const double e0 = GkEasting(meridian, y0);
  std::ostringstream o;
  o << std::setprecision(17);
  o << "V41\n2\nSOURCE\n"
    << source.a << "\n"
    << source.b << "\nTARGET\n"
    << target.a << "\n"
    << target.b << "\n"
    << meridian << "\n0\n"
    << e0 << " " << n0 + side << "\n"
    << e0 + side << " " << n0 << "\n1\n"
    << static_cast<int>(side) << "\n";
  o << "1\n0 0\n0 0\n0 0\n0 0\n0\n1\n1\n";  // the cell lists area 1
  const double corners[4][2] = {{e0, n0}, {e0 + side, n0}, {e0 + side, n0 + side}, {e0, n0 + side}};
  o << "1\n1\n4\n";
  for (int k = 0; k < 4; ++k) {
    const int a = k, b = (k + 1) % 4;
    o << 10 + k << "\n"
      << 1 + a << " " << corners[a][0] << " " << corners[a][1] << "\n"
      << 1 + b << " " << corners[b][0] << " " << corners[b][1] << "\n";
  }
  o << "0\n" << shift << parameters << points.size() << "\n";
  for (const TestPoint& p : points)
    o << p.name << " 0 " << GkEasting(meridian, p.e) << " " << p.n << "\n"
      << p.rLon << " " << p.rLat << " " << p.rH << "\n";
  o << "0\n";
  return o.str();
}

}  // namespace marlotest
