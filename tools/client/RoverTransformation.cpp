#include "RoverTransformation.h"

#include <cmath>
#include <cstdio>

namespace tarvikclient {

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr double kArcSecond = kDeg / 3600.0;

void ToCartesian(double a, double b, double lat, double lon, double h, double& X, double& Y, double& Z) {
  const double e2 = 1.0 - (b * b) / (a * a);
  const double s = std::sin(lat * kDeg), c = std::cos(lat * kDeg);
  const double N = a / std::sqrt(1.0 - e2 * s * s);
  X = (N + h) * c * std::cos(lon * kDeg);
  Y = (N + h) * c * std::sin(lon * kDeg);
  Z = (N * (1.0 - e2) + h) * s;
}

void ToGeographic(double a, double b, double X, double Y, double Z, double& lat, double& lon, double& h) {
  const double e2 = 1.0 - (b * b) / (a * a);
  const double p = std::hypot(X, Y);
  double phi = std::atan2(Z, p * (1.0 - e2));
  for (int i = 0; i < 10; ++i) {
    const double s = std::sin(phi);
    const double N = a / std::sqrt(1.0 - e2 * s * s);
    h = p / std::cos(phi) - N;
    phi = std::atan2(Z, p * (1.0 - e2 * N / (N + h)));
  }
  lat = phi / kDeg;
  lon = std::atan2(Y, X) / kDeg;
}

// 1021's Helmert transformation: X' = T + (1 + dS) R X with the rotation
// matrix of the coordinate frame convention, R = Rz(R3) Ry(R2) Rx(R1).
void Helmert(const HelmertMessage& m, double X, double Y, double Z, double& Xt, double& Yt, double& Zt) {
  const double o = m.r1 * kArcSecond, p = m.r2 * kArcSecond, k = m.r3 * kArcSecond;
  const double co = std::cos(o), so = std::sin(o), cp = std::cos(p), sp = std::sin(p), ck = std::cos(k),
               sk = std::sin(k);
  const double R[3][3] = {{cp * ck, co * sk + so * sp * ck, so * sk - co * sp * ck},
                          {-cp * sk, co * ck - so * sp * sk, co * sp * sk + so * ck},
                          {sp, -so * cp, co * cp}};
  const double s = 1.0 + m.scalePpm * 1e-6;
  Xt = m.dx + s * (R[0][0] * X + R[0][1] * Y + R[0][2] * Z);
  Yt = m.dy + s * (R[1][0] * X + R[1][1] * Y + R[1][2] * Z);
  Zt = m.dz + s * (R[2][0] * X + R[2][1] * Y + R[2][2] * Z);
}

// Quadratic through three equally spaced values at 0, 1, 2.
double Quadratic(const double v[3], double t) {
  return v[0] * (t - 1) * (t - 2) / 2 - v[1] * t * (t - 2) + v[2] * t * (t - 1) / 2;
}

// Natural cubic spline through four equally spaced values at 0..3.
double Spline(const double v[4], double t) {
  // Second derivatives at the inner knots (the outer ones are 0).
  const double r1 = 6 * (v[2] - 2 * v[1] + v[0]), r2 = 6 * (v[3] - 2 * v[2] + v[1]);
  const double m1 = (4 * r1 - r2) / 15, m2 = (4 * r2 - r1) / 15;
  const double m[4] = {0, m1, m2, 0};
  int i = static_cast<int>(std::floor(t));
  if (i < 0) i = 0;
  if (i > 2) i = 2;
  const double u = t - i, w = 1 - u;
  return w * v[i] + u * v[i + 1] + ((w * w * w - w) * m[i] + (u * u * u - u) * m[i + 1]) / 6;
}

bool Need(const DecodedMessage& m, const char* name, double& out, std::string& error) {
  out = m.Value(name);
  if (std::isnan(out)) {
    error = std::string("message ") + std::to_string(m.number) + " lacks " + name;
    return false;
  }
  return true;
}

}  // namespace

double InterpolateGrid(const double v[16], double x, double y, int method) {
  auto at = [&](int row, int column) { return v[row * 4 + column]; };
  if (method == 1) {
    // The 3 x 3 nodes around the position.
    const int c0 = std::min(1, std::max(0, static_cast<int>(std::lround(x)) - 1));
    const int r0 = std::min(1, std::max(0, static_cast<int>(std::lround(y)) - 1));
    double rows[3];
    for (int i = 0; i < 3; ++i) {
      const double row[3] = {at(r0 + i, c0), at(r0 + i, c0 + 1), at(r0 + i, c0 + 2)};
      rows[i] = Quadratic(row, x - c0);
    }
    return Quadratic(rows, y - r0);
  }
  if (method == 2) {
    double rows[4];
    for (int i = 0; i < 4; ++i) {
      const double row[4] = {at(i, 0), at(i, 1), at(i, 2), at(i, 3)};
      rows[i] = Spline(row, x);
    }
    return Spline(rows, y);
  }
  // Bilinear in the cell around the position.
  const int c = std::min(2, std::max(0, static_cast<int>(std::floor(x))));
  const int r = std::min(2, std::max(0, static_cast<int>(std::floor(y))));
  const double u = x - c, t = y - r;
  return (1 - t) * ((1 - u) * at(r, c) + u * at(r, c + 1)) +
         t * ((1 - u) * at(r + 1, c) + u * at(r + 1, c + 1));
}

void TransverseMercator(double a, double b, double lat0, double lon0, double lat, double lon, double& x,
                        double& y) {
  const double f = (a - b) / a, n = f / (2 - f);
  const double n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
  const double A = a / (1 + n) * (1 + n2 / 4 + n4 / 64 + n6 / 256);
  const double alpha[7] = {
      0,
      n / 2 - 2 * n2 / 3 + 5 * n3 / 16 + 41 * n4 / 180 - 127 * n5 / 288 + 7891 * n6 / 37800,
      13 * n2 / 48 - 3 * n3 / 5 + 557 * n4 / 1440 + 281 * n5 / 630 - 1983433 * n6 / 1935360,
      61 * n3 / 240 - 103 * n4 / 140 + 15061 * n5 / 26880 + 167603 * n6 / 181440,
      49561 * n4 / 161280 - 179 * n5 / 168 + 6601661 * n6 / 7257600,
      34729 * n5 / 80640 - 3418889 * n6 / 1995840,
      212378941 * n6 / 319334400};
  const double e = std::sqrt(f * (2 - f));
  auto project = [&](double phiDeg, double lamDeg, double& xx, double& yy) {
    const double phi = phiDeg * kDeg, lam = (lamDeg - lon0) * kDeg;
    const double t = std::sinh(std::atanh(std::sin(phi)) - e * std::atanh(e * std::sin(phi)));
    const double xi = std::atan2(t, std::cos(lam)), eta = std::atanh(std::sin(lam) / std::sqrt(1 + t * t));
    double X = xi, Y = eta;
    for (int j = 1; j <= 6; ++j) {
      X += alpha[j] * std::sin(2 * j * xi) * std::cosh(2 * j * eta);
      Y += alpha[j] * std::cos(2 * j * xi) * std::sinh(2 * j * eta);
    }
    yy = A * X;
    xx = A * Y;
  };
  double x0, y0;
  project(lat0, lon0, x0, y0);
  project(lat, lon, x, y);
  y -= y0;
}

bool ReadMessages(const DecodedMessage& m1021, const DecodedMessage& m1023, const DecodedMessage* m1025,
                  RoverMessages& out, std::string& error) {
  if (m1021.number != 1021 || m1023.number != 1023 || (m1025 != nullptr && m1025->number != 1025)) {
    error = "the messages 1021 and 1023 (and 1025) are needed";
    return false;
  }
  HelmertMessage& h = out.helmert;
  const struct {
    const char* name;
    double* to;
  } helmert[] = {{"LatitudeOfOriginAreaOfValidity", &h.originLat},
                 {"LongitudeOfOriginAreaOfValidity", &h.originLon},
                 {"LatitudeExtensionAreaOfValidity", &h.extensionLat},
                 {"LongitudeExtensionAreaOfValidity", &h.extensionLon},
                 {"DX", &h.dx},
                 {"DY", &h.dy},
                 {"DZ", &h.dz},
                 {"R1", &h.r1},
                 {"R2", &h.r2},
                 {"R3", &h.r3},
                 {"dS", &h.scalePpm},
                 {"SemimajorAxisOfSourceSystemEllipsoid", &h.sourceA},
                 {"SemiminorAxisOfSourceSystemEllipsoid", &h.sourceB},
                 {"SemimajorAxisOfTargetSystemEllipsoid", &h.targetA},
                 {"SemiminorAxisOfTargetSystemEllipsoid", &h.targetB}};
  for (const auto& f : helmert)
    if (!Need(m1021, f.name, *f.to, error)) return false;
  if (h.extensionLat <= 0 || h.extensionLon <= 0) {
    error = "the 1021 announces no area of validity (the server could not serve this position)";
    return false;
  }
  ResidualGridMessage& g = out.grid;
  double hs, vs, hm, vm;
  const struct {
    const char* name;
    double* to;
  } grid[] = {{"HorizontalShiftIndicator", &hs},
              {"VerticalShiftIndicator", &vs},
              {"GridOriginLatitude", &g.originLat},
              {"GridOriginLongitude", &g.originLon},
              {"GridExtensionLatitude", &g.extensionLat},
              {"GridExtensionLongitude", &g.extensionLon},
              {"MeanLatitudeOffset", &g.meanLat},
              {"MeanLongitudeOffset", &g.meanLon},
              {"MeanHeightOffset", &g.meanHeight},
              {"HorizontalInterpolationMethodIndicator", &hm},
              {"VerticalInterpolationMethodIndicator", &vm}};
  for (const auto& f : grid)
    if (!Need(m1023, f.name, *f.to, error)) return false;
  for (int i = 0; i < 16; ++i) {
    const std::string k = std::to_string(i + 1);
    if (!Need(m1023, ("dLatitude[" + k + "]").c_str(), g.dLat[i], error) ||
        !Need(m1023, ("dLongitude[" + k + "]").c_str(), g.dLon[i], error) ||
        !Need(m1023, ("dHeight[" + k + "]").c_str(), g.dHeight[i], error))
      return false;
  }
  g.horizontalShift = hs != 0;
  g.verticalShift = vs != 0;
  g.horizontalMethod = static_cast<int>(hm);
  g.verticalMethod = static_cast<int>(vm);
  if (g.extensionLat <= 0 || g.extensionLon <= 0) {
    error = "the 1023 announces an empty residual grid";
    return false;
  }
  out.haveProjection = m1025 != nullptr;
  if (m1025 != nullptr) {
    ProjectionMessage& p = out.projection;
    double type;
    const struct {
      const char* name;
      double* to;
    } projection[] = {{"ProjectionType", &type},
                      {"LatitudeOfNaturalOrigin", &p.originLat},
                      {"LongitudeOfNaturalOrigin", &p.originLon},
                      {"ScaleFactorAtNaturalOrigin", &p.scale},
                      {"FalseEasting", &p.falseEasting},
                      {"FalseNorthing", &p.falseNorthing}};
    for (const auto& f : projection)
      if (!Need(*m1025, f.name, *f.to, error)) return false;
    p.type = static_cast<int>(type);
  }
  return true;
}

bool ApplyMessages(const RoverMessages& m, double lat, double lon, double h, RoverPosition& out,
                   std::string& error) {
  const HelmertMessage& hm = m.helmert;
  // The area's origin travels in units of 2 arc-seconds, truncated: allow
  // one unit beyond the announced half extensions.
  const double unit = 2.0 / 3600.0;
  if (std::fabs(lat - hm.originLat) > hm.extensionLat / 2 + unit ||
      std::fabs(lon - hm.originLon) > hm.extensionLon / 2 + unit) {
    error = "the position lies outside the 1021 area of validity";
    return false;
  }
  double X, Y, Z, Xt, Yt, Zt;
  ToCartesian(hm.sourceA, hm.sourceB, lat, lon, h, X, Y, Z);
  Helmert(hm, X, Y, Z, Xt, Yt, Zt);
  double tLat, tLon, tH;
  ToGeographic(hm.targetA, hm.targetB, Xt, Yt, Zt, tLat, tLon, tH);

  const ResidualGridMessage& g = m.grid;
  const double x = (tLon - (g.originLon - g.extensionLon / 2)) / (g.extensionLon / 3);
  const double y = ((g.originLat + g.extensionLat / 2) - tLat) / (g.extensionLat / 3);
  const double slack = 0.05;  // the grid origin is truncated to half arc-seconds
  if (x < -slack || x > 3 + slack || y < -slack || y > 3 + slack) {
    error = "the transformed position lies outside the 1023 residual grid";
    return false;
  }
  out.lat = tLat;
  out.lon = tLon;
  if (g.horizontalShift) {
    out.lat += (g.meanLat + InterpolateGrid(g.dLat, x, y, g.horizontalMethod)) / 3600.0;
    out.lon += (g.meanLon + InterpolateGrid(g.dLon, x, y, g.horizontalMethod)) / 3600.0;
  }
  out.ellipsoidalHeight = tH;
  // The height corrections are the undulations of the height surface at the
  // nodes: the rover's height in the surface's system is its own height
  // less the undulation at its position.
  out.height = g.verticalShift ? h - (g.meanHeight + InterpolateGrid(g.dHeight, x, y, g.verticalMethod)) : tH;

  out.projected = false;
  if (m.haveProjection) {
    const ProjectionMessage& p = m.projection;
    if (p.type != 1) {
      error = "projection type " + std::to_string(p.type) + " is not supported (1, transverse Mercator)";
      return false;
    }
    double px, py;
    TransverseMercator(hm.targetA, hm.targetB, p.originLat, p.originLon, out.lat, out.lon, px, py);
    out.easting = p.falseEasting + p.scale * px;
    out.northing = p.falseNorthing + p.scale * py;
    out.projected = true;
  }
  return true;
}

}  // namespace tarvikclient
