#include "ControlPoints.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace marlobuild {

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  for (char ch : line) {
    if (ch == ',' || ch == ';' || ch == '\t') {
      out.push_back(field);
      field.clear();
    } else if (ch != '\r') {
      field += ch;
    }
  }
  out.push_back(field);
  for (std::string& f : out) {
    const auto b = f.find_first_not_of(' '), e = f.find_last_not_of(' ');
    f = b == std::string::npos ? "" : f.substr(b, e - b + 1);
  }
  return out;
}

bool Number(const std::string& s, double& v) {
  if (s.empty()) return false;
  char* end = nullptr;
  v = std::strtod(s.c_str(), &end);
  return end == s.c_str() + s.size() && std::isfinite(v);
}

}  // namespace

bool ParseControlPoints(const std::string& text, std::vector<IdenticalPosition>& points, std::string& error) {
  points.clear();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  std::set<std::string> names;
  while (std::getline(in, line)) {
    ++number;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    const std::vector<std::string> f = Fields(line);
    const std::string where = "line " + std::to_string(number) + ": ";
    if (f.size() < 7) {
      error = where +
              "7 columns expected (name, source latitude, longitude, height, target latitude, "
              "longitude, height), found " +
              std::to_string(f.size());
      return false;
    }
    double v[6];
    bool ok = true;
    for (int k = 0; k < 6; ++k) ok = ok && Number(f[k + 1], v[k]);
    if (!ok) {
      if (points.empty() && names.empty()) {  // column titles
        names.insert("");
        continue;
      }
      error = where + "a coordinate is not a finite number";
      return false;
    }
    if (f[0].empty() || f[0].find(' ') != std::string::npos) {
      error = where + "the point name must be one word";
      return false;
    }
    if (std::fabs(v[0]) > 90 || std::fabs(v[3]) > 90 || std::fabs(v[1]) > 180 || std::fabs(v[4]) > 180) {
      error = where + "latitude or longitude out of range";
      return false;
    }
    if (!names.insert(f[0]).second) {
      error = where + "the name " + f[0] + " appears twice";
      return false;
    }
    points.push_back({f[0], v[0], v[1], v[2], v[3], v[4], v[5]});
  }
  if (points.size() < 3) {
    error = "at least three identical points are needed, found " + std::to_string(points.size());
    return false;
  }
  return true;
}

bool ReadControlPoints(const std::string& path, std::vector<IdenticalPosition>& points, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseControlPoints(text.str(), points, error);
}

std::vector<Triangle> Triangulate(const std::vector<double>& x, const std::vector<double>& y) {
  const int n = static_cast<int>(x.size());
  std::vector<Triangle> result;
  if (n < 3) return result;
  double minX = x[0], maxX = x[0], minY = y[0], maxY = y[0];
  for (int i = 0; i < n; ++i) {
    minX = std::min(minX, x[i]);
    maxX = std::max(maxX, x[i]);
    minY = std::min(minY, y[i]);
    maxY = std::max(maxY, y[i]);
  }
  // Coordinates about the centre keep the circle tests well conditioned.
  const double cx = 0.5 * (minX + maxX), cy = 0.5 * (minY + maxY);
  const double span = std::max(maxX - minX, maxY - minY) + 1.0;
  std::vector<double> px, py;
  for (int i = 0; i < n; ++i) {
    px.push_back(x[i] - cx);
    py.push_back(y[i] - cy);
  }
  px.insert(px.end(), {-20 * span, 20 * span, 0.0});
  py.insert(py.end(), {-20 * span, -20 * span, 20 * span});
  struct T {
    int a, b, c;
    double ox, oy, r2;
  };
  auto make = [&](int a, int b, int c) {
    const double ax = px[a], ay = py[a], bx = px[b], by = py[b], qx = px[c], qy = py[c];
    const double d = 2 * (ax * (by - qy) + bx * (qy - ay) + qx * (ay - by));
    T t{a, b, c, 0, 0, -1};
    if (d == 0) return t;
    const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by, c2 = qx * qx + qy * qy;
    t.ox = (a2 * (by - qy) + b2 * (qy - ay) + c2 * (ay - by)) / d;
    t.oy = (a2 * (qx - bx) + b2 * (ax - qx) + c2 * (bx - ax)) / d;
    t.r2 = (ax - t.ox) * (ax - t.ox) + (ay - t.oy) * (ay - t.oy);
    return t;
  };
  std::vector<T> tris{make(n, n + 1, n + 2)};
  for (int i = 0; i < n; ++i) {
    std::map<std::pair<int, int>, int> edges;
    std::vector<T> keep;
    for (const T& t : tris) {
      const double dx = px[i] - t.ox, dy = py[i] - t.oy;
      if (t.r2 >= 0 && dx * dx + dy * dy <= t.r2 * (1 + 1e-12)) {
        for (auto e : {std::minmax(t.a, t.b), std::minmax(t.b, t.c), std::minmax(t.c, t.a)}) ++edges[e];
      } else {
        keep.push_back(t);
      }
    }
    for (const auto& [e, count] : edges)
      if (count == 1) keep.push_back(make(e.first, e.second, i));
    tris.swap(keep);
  }
  for (const T& t : tris) {
    if (t.a >= n || t.b >= n || t.c >= n) continue;
    const double area = (px[t.b] - px[t.a]) * (py[t.c] - py[t.a]) - (px[t.c] - px[t.a]) * (py[t.b] - py[t.a]);
    if (std::fabs(area) < 1e-6) continue;  // sliver of collinear points
    result.push_back({t.a, t.b, t.c});
  }
  return result;
}

namespace {
constexpr int kTriangleSteps = 8;        // lattice of a triangle: (8 + 1)(8 + 2) / 2 = 45 positions
constexpr double kFrameMargin = 0.02;    // of the points' extent in the plane
constexpr double kFrameMinimum = 100.0;  // metres
}  // namespace

bool BuildPointMesh(const std::vector<IdenticalPosition>& points, DatabaseBuilder& builder,
                    std::string& error) {
  const BuildSettings& settings = builder.Settings();
  std::vector<double> e, n;
  std::map<std::pair<long long, long long>, std::string> seen;
  for (const IdenticalPosition& p : points) {
    double pe, pn;
    if (!ToPlane(settings, p.sourceLat, p.sourceLon, pe, pn)) {
      error = "point " + p.name + " cannot be projected into the database plane";
      return false;
    }
    // Two points closer than a millimetre would make a degenerate mesh.
    const auto key = std::make_pair(std::llround(pe * 1000), std::llround(pn * 1000));
    auto [it, fresh] = seen.emplace(key, p.name);
    if (!fresh) {
      error = "points " + it->second + " and " + p.name + " share their source position";
      return false;
    }
    e.push_back(pe);
    n.push_back(pn);
  }
  if (Triangulate(e, n).empty()) {
    error = "the points lie on one line; no transformation area can be formed";
    return false;
  }
  // A frame of eight nodes around the points, a margin beyond them: every
  // control point, the outermost ones included, then lies inside the mesh
  // and not on its border, where the library's area search would miss it.
  // Each frame node carries the shift of the point nearest to it; between
  // the outermost points and the frame the transformation is extrapolated.
  std::vector<IdenticalPosition> all = points;
  const auto [minE, maxE] = std::minmax_element(e.begin(), e.end());
  const auto [minN, maxN] = std::minmax_element(n.begin(), n.end());
  const double margin = kFrameMargin * std::max(*maxE - *minE, *maxN - *minN) + kFrameMinimum;
  const double e0 = *minE - margin, e1 = *maxE + margin, n0 = *minN - margin, n1 = *maxN + margin;
  const double frame[8][2] = {{e0, n0}, {0.5 * (e0 + e1), n0}, {e1, n0}, {e1, 0.5 * (n0 + n1)},
                              {e1, n1}, {0.5 * (e0 + e1), n1}, {e0, n1}, {e0, 0.5 * (n0 + n1)}};
  for (int k = 0; k < 8; ++k) {
    std::size_t nearest = 0;
    for (std::size_t i = 1; i < points.size(); ++i)
      if (std::hypot(e[i] - frame[k][0], n[i] - frame[k][1]) <
          std::hypot(e[nearest] - frame[k][0], n[nearest] - frame[k][1]))
        nearest = i;
    const IdenticalPosition& p = points[nearest];
    IdenticalPosition q;
    q.name = "frame" + std::to_string(k + 1);
    if (!FromPlane(settings, frame[k][0], frame[k][1], q.sourceLat, q.sourceLon)) {
      error = "the frame around the points cannot be projected back from the database plane";
      return false;
    }
    q.sourceHeight = p.sourceHeight;
    q.targetLat = q.sourceLat + (p.targetLat - p.sourceLat);
    q.targetLon = q.sourceLon + (p.targetLon - p.sourceLon);
    q.targetHeight = p.targetHeight;
    all.push_back(q);
    e.push_back(frame[k][0]);
    n.push_back(frame[k][1]);
  }
  const std::vector<Triangle> triangles = Triangulate(e, n);
  std::vector<int> used(all.size(), 0);
  std::vector<int> ids;
  for (const IdenticalPosition& p : all) ids.push_back(builder.AddNode(p.sourceLat, p.sourceLon));
  for (const Triangle& t : triangles) {
    used[t.a] = used[t.b] = used[t.c] = 1;
    const IdenticalPosition* corner[3] = {&all[t.a], &all[t.b], &all[t.c]};
    // Between its corners the transformation is taken as linear in the
    // source latitude and longitude: along an edge that depends on the
    // edge's two points alone, so the triangles on both sides agree there.
    // The support points follow it on a lattice of 45 positions, corners
    // and edges included.
    std::vector<IdenticalPosition> samples;
    for (int i = 0; i <= kTriangleSteps; ++i)
      for (int j = 0; i + j <= kTriangleSteps; ++j) {
        const double w[3] = {double(i) / kTriangleSteps, double(j) / kTriangleSteps,
                             double(kTriangleSteps - i - j) / kTriangleSteps};
        IdenticalPosition q;
        for (int k = 0; k < 3; ++k) {
          q.sourceLat += w[k] * corner[k]->sourceLat;
          q.sourceLon += w[k] * corner[k]->sourceLon;
          q.sourceHeight += w[k] * corner[k]->sourceHeight;
          q.targetLat += w[k] * corner[k]->targetLat;
          q.targetLon += w[k] * corner[k]->targetLon;
          q.targetHeight += w[k] * corner[k]->targetHeight;
        }
        samples.push_back(q);
      }
    builder.AddArea({ids[t.a], ids[t.b], ids[t.c]}, {*corner[0], *corner[1], *corner[2]}, std::move(samples));
  }
  for (std::size_t i = 0; i < points.size(); ++i)
    if (!used[i]) {
      error = "point " + points[i].name + " lies on a line of other points and is outside every area";
      return false;
    }
  return true;
}

}  // namespace marlobuild
