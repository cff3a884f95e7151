// What a rover makes of the messages: the 1021 parameters and the 1023
// residuals, decoded from the frames at their field resolutions, must put
// every node of the residual grid where the Marlo database puts it, and a
// rover anywhere inside the area of validity close to where the database
// puts it.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "E2eReplies.h"
#include "RoverTransformation.h"
#include "TarvikProcess.h"
#include "geodesy/C3DTrafo.h"
#include "geodesy/CGeoidGrid.h"

using namespace e2etest;

namespace {

struct Ellipsoid {
  double a, b;
};
constexpr Ellipsoid kGrs80{6378137.0, 6356752.314140};
constexpr Ellipsoid kBessel{6377397.155, 6356078.962818};
constexpr double kDeg = M_PI / 180.0;

// Geographic (degrees, metres) to Earth-centred Cartesian and back, written
// out here so that the check does not lean on the server's conversions.
void ToXyz(const Ellipsoid& e, double lat, double lon, double h, double& X, double& Y, double& Z) {
  double e2 = 1.0 - (e.b * e.b) / (e.a * e.a);
  double s = std::sin(lat * kDeg), c = std::cos(lat * kDeg);
  double N = e.a / std::sqrt(1.0 - e2 * s * s);
  X = (N + h) * c * std::cos(lon * kDeg);
  Y = (N + h) * c * std::sin(lon * kDeg);
  Z = (N * (1.0 - e2) + h) * s;
}

void ToBlh(const Ellipsoid& e, double X, double Y, double Z, double& lat, double& lon, double& h) {
  double e2 = 1.0 - (e.b * e.b) / (e.a * e.a);
  double p = std::hypot(X, Y);
  double phi = std::atan2(Z, p * (1.0 - e2));
  for (int i = 0; i < 20; ++i) {
    double s = std::sin(phi);
    double N = e.a / std::sqrt(1.0 - e2 * s * s);
    h = p / std::cos(phi) - N;
    phi = std::atan2(Z, p * (1.0 - e2 * N / (N + h)));
  }
  lat = phi / kDeg;
  lon = std::atan2(Y, X) / kDeg;
}

using BlhFn = int (*)(double, double, double, double*, double*, double*);
using InitFn = int (*)(const char*);
using SurfaceFn = int (*)(double, double, double, double, double*, double*, double*, double*);

struct Node {
  double lat, lon, h;
};

// The grid origin as message 1023 carries it: the rover's position taken to
// the Bessel ellipsoid (the demo's ITRF-to-target transformation is the
// identity), at the nearest half arc-second.
void GridOrigin(double lat, double lon, double height, double& tLat, double& tLon, double& tH) {
  double X, Y, Z;
  ToXyz(kGrs80, lat, lon, height, X, Y, Z);
  ToBlh(kBessel, X, Y, Z, tLat, tLon, tH);
  tLat = std::round(tLat * 7200.0) / 7200.0;
  tLon = std::round(tLon * 7200.0) / 7200.0;
}

// The grid as the server lays it around that origin: nodes north-west
// first, row by row, back on GRS80.
std::vector<Node> SourceNodes(double lat, double lon, double height, double extLat, double extLon) {
  double X, Y, Z, tLat, tLon, tH;
  GridOrigin(lat, lon, height, tLat, tLon, tH);
  std::vector<Node> nodes;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      Node n;
      ToXyz(kBessel, tLat + extLat / 2 - i * extLat / 3, tLon - extLon / 2 + j * extLon / 3, tH, X, Y, Z);
      ToBlh(kGrs80, X, Y, Z, n.lat, n.lon, n.h);
      nodes.push_back(n);
    }
  return nodes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t p = 0, e;
  while ((e = text.find('\n', p)) != std::string::npos) {
    out.push_back(text.substr(p, e - p));
    p = e + 1;
  }
  return out;
}

}  // namespace

TEST(RoverAccuracy, ParametersAndResidualsReproduceTheDatabaseAtTheNodes) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  TarvikProcess server(home.Path(), {home.BinaryPort(), home.AsciiPort(), home.XmlPort()});
  ASSERT_TRUE(server.Running()) << server.Output();

  // The database as the library itself gives it.
  void* marlo = dlopen((BinFolder() / "MarloDLL.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(marlo, nullptr) << dlerror();
  auto init = reinterpret_cast<InitFn>(dlsym(marlo, "InitDB"));
  auto transform = reinterpret_cast<BlhFn>(dlsym(marlo, "TransformPoint_BLH_in_BLH_out"));
  auto interpolation =
      reinterpret_cast<void (*)(int, int, int, double, double)>(dlsym(marlo, "SetInterpolationType"));
  ASSERT_TRUE(init && transform && interpolation);
  ASSERT_EQ(init(home.DataFile("marlo").c_str()), 1) << home.DataFile("marlo");
  interpolation(1, 2, 0, 0.0, 0.0);  // as the demo configurations switch it on

  double worstCommon = 0.0, worstNode = 0.0, worstTotal = 0.0;
  // Several rover positions across the region, each with its own grid.
  const double spots[][2] = {{47.8, 14.9}, {47.1, 13.6}, {48.3, 16.3}, {47.35, 15.55}};
  for (const auto& spot : spots) {
    const double lat = spot[0], lon = spot[1], height = 450.0;
    Connection c(home.BinaryPort());
    c.Send(Gga(lat, lon, height));
    Replies r = Split(c.ReadReplies(3));
    ASSERT_EQ(r.frames.size(), 3u) << lat << " " << lon;
    const auto& m1021 = r.frames[0].message;
    const auto& m1023 = r.frames[1].message;
    ASSERT_EQ(m1021.Find("LatitudeOfOriginAreaOfValidity")->raw != 162000, true)
        << "request at " << lat << " " << lon << " was not executed";

    tarvik::C3DTrafo helmert;
    const double arcsec = kDeg / 3600.0;
    helmert.SetParameters(m1021.Value("R1") * arcsec, m1021.Value("R2") * arcsec, m1021.Value("R3") * arcsec,
                          m1021.Value("DX"), m1021.Value("DY"), m1021.Value("DZ"),
                          1.0 + m1021.Value("dS") * 1e-6);
    // The rover's ellipsoids are those 1021 announces (semi-axes to the
    // millimetre).
    const Ellipsoid source{m1021.Value("SemimajorAxisOfSourceSystemEllipsoid"),
                           m1021.Value("SemiminorAxisOfSourceSystemEllipsoid")};
    const Ellipsoid target{m1021.Value("SemimajorAxisOfTargetSystemEllipsoid"),
                           m1021.Value("SemiminorAxisOfTargetSystemEllipsoid")};
    EXPECT_NEAR(target.b, kBessel.b, 0.001);
    const double meanLat = m1023.Value("MeanLatitudeOffset");
    const double meanLon = m1023.Value("MeanLongitudeOffset");
    double north[16], east[16];

    double originLat, originLon, originH;
    GridOrigin(lat, lon, height, originLat, originLon, originH);
    EXPECT_NEAR(m1023.Value("GridOriginLatitude"), originLat, 1e-9);
    EXPECT_NEAR(m1023.Value("GridOriginLongitude"), originLon, 1e-9);
    const double extLat = m1021.Value("LatitudeExtensionAreaOfValidity");
    const double extLon = m1021.Value("LongitudeExtensionAreaOfValidity");
    const auto nodes = SourceNodes(lat, lon, height, extLat, extLon);
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        const int n = i * 4 + j + 1;
        const double sLat = nodes[n - 1].lat, sLon = nodes[n - 1].lon, sH = nodes[n - 1].h;
        double dbLon = 0, dbLat = 0, dbH = 0;
        ASSERT_EQ(transform(sLon, sLat, sH, &dbLon, &dbLat, &dbH), 1);

        double Xs, Ys, Zs, Xt, Yt, Zt, hLat, hLon, hH;
        ToXyz(source, sLat, sLon, sH, Xs, Ys, Zs);
        helmert.TransformForward(Xs, Ys, Zs, Xt, Yt, Zt);
        ToBlh(target, Xt, Yt, Zt, hLat, hLon, hH);
        std::string idx = std::to_string(n);
        double roverLat = hLat + (meanLat + m1023.Value("dLatitude[" + idx + "]")) / 3600.0;
        double roverLon = hLon + (meanLon + m1023.Value("dLongitude[" + idx + "]")) / 3600.0;

        north[n - 1] = (roverLat - dbLat) * kDeg * 6378137.0;
        east[n - 1] = (roverLon - dbLon) * kDeg * 6378137.0 * std::cos(dbLat * kDeg);
      }
    }
    // The field resolutions bound what a rover can reproduce: the
    // residuals are taken against the parameters as sent, so only their
    // own field (0.00003", sent as the nearest unit) remains, up to
    // 0.46 mm north and 0.31 mm east at a node. A fault in the parameters,
    // residuals or node order is far beyond that.
    double meanN = 0, meanE = 0;
    for (int k = 0; k < 16; ++k) {
      meanN += north[k] / 16;
      meanE += east[k] / 16;
    }
    EXPECT_LT(std::hypot(meanN, meanE), 0.0006) << "common shift of the grid at " << lat << " " << lon;
    worstCommon = std::max(worstCommon, std::hypot(meanN, meanE));
    for (int k = 0; k < 16; ++k) {
      double off = std::hypot(north[k] - meanN, east[k] - meanE);
      worstNode = std::max(worstNode, off);
      worstTotal = std::max(worstTotal, std::hypot(north[k], east[k]));
      EXPECT_LT(off, 0.0008) << "node " << k + 1 << " of the grid at " << lat << " " << lon << ": north "
                             << north[k] << " m, east " << east[k] << " m";
    }
  }
  std::printf(
      "rover against database: largest common shift %.2f mm, largest node scatter %.2f mm, "
      "largest total %.2f mm\n",
      worstCommon * 1000.0, worstNode * 1000.0, worstTotal * 1000.0);
  dlclose(marlo);
}

namespace {

// The replies of the three configurations for one position.
struct ThreeFormats {
  Replies frames, texts, documents;
};

ThreeFormats AskAll(const DemoHome& home, double lat, double lon, double height) {
  ThreeFormats t;
  Connection b(home.BinaryPort()), a(home.AsciiPort()), x(home.XmlPort());
  b.Send(Gga(lat, lon, height));
  t.frames = Split(b.ReadReplies(3));
  a.Send(Gga(lat, lon, height));
  t.texts = Split(a.ReadReplies(3));
  x.Send(Gga(lat, lon, height));
  t.documents = Split(x.ReadReplies(3));
  return t;
}

double XmlAttribute(const std::string& doc, const std::string& name) {
  std::size_t p = doc.find(" " + name + "=\"");
  return p == std::string::npos ? NAN : std::atof(doc.c_str() + p + name.size() + 3);
}

}  // namespace

// The height sources must describe the same heights: each configuration
// sends its file's undulation at every node in the 1023 height offsets, and
// configurations that differ only in their heights agree on the Helmert
// parameters (the mean geoid height and the geoid grid differ by about a
// metre here, a fraction of a ppm in scale).
TEST(RoverAccuracy, GeoidGridConfigurationSendsTheGridsUndulations) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  TarvikProcess server(home.Path(), {home.BinaryPort(), home.AsciiPort(), home.XmlPort()});
  ASSERT_TRUE(server.Running()) << server.Output();
  const double lat = 47.8, lon = 14.9, height = 500.0;
  ThreeFormats r = AskAll(home, lat, lon, height);
  ASSERT_EQ(r.texts.texts.size(), 3u);
  ASSERT_EQ(r.documents.texts.size(), 3u);
  auto ascii1021 = Lines(r.texts.texts[0]);
  auto ascii1023 = Lines(r.texts.texts[1]);
  ASSERT_EQ(ascii1021.size(), 27u);
  ASSERT_EQ(ascii1023.size(), 64u);

  // Scale as (m - 1) / 0.00001 in both text forms.
  EXPECT_NEAR(std::atof(ascii1021[20].c_str()), XmlAttribute(r.documents.texts[0], "DS"), 0.1);
  EXPECT_NEAR(std::atof(ascii1021[14].c_str()), XmlAttribute(r.documents.texts[0], "DX"), 5.0);

  tarvik::CGeoidGrid geoid;
  ASSERT_EQ(geoid.Load(home.DataFile("geoid")), 1);
  const auto nodes = SourceNodes(lat, lon, height, 0.3, 0.5);
  for (int k = 0; k < 16; ++k) {
    double n = 0;
    ASSERT_EQ(geoid.Lookup(nodes[k].lat, nodes[k].lon, n), 1);
    double sent = std::atof(ascii1023[10].c_str()) + std::atof(ascii1023[11 + 3 * k + 2].c_str());
    EXPECT_NEAR(sent, n, 0.003) << "geoid grid, node " << k + 1;
  }
}

// The same for the height surface of OrvelMan4: the library's second output
// is the node's height counted from the surface, so the anomaly the chain
// sends is the surface's undulation at the node.
TEST(RoverAccuracy, HeightSurfaceConfigurationSendsTheSurfacesUndulations) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  TarvikProcess server(home.Path(), {home.BinaryPort(), home.AsciiPort(), home.XmlPort()});
  ASSERT_TRUE(server.Running()) << server.Output();
  const double lat = 47.8, lon = 14.9, height = 500.0;
  ThreeFormats r = AskAll(home, lat, lon, height);
  ASSERT_EQ(r.frames.frames.size(), 3u);
  ASSERT_EQ(r.texts.texts.size(), 3u);
  auto ascii1021 = Lines(r.texts.texts[0]);
  ASSERT_EQ(ascii1021.size(), 27u);
  const auto& m1021 = r.frames.frames[0].message;
  const auto& m1023 = r.frames.frames[1].message;

  // Scale in ppm: binary in units of 0.00001 ppm, text as (m - 1) / 0.00001.
  // The two ports take their heights from the surface and from the geoid
  // grid, which agree to centimetres: the scales agree, while the
  // translations, traded against the rotations in a fit over so small an
  // area, may not.
  EXPECT_NEAR(m1021.Value("dS"), std::atof(ascii1021[20].c_str()) * 10.0, 1.0);
  EXPECT_LT(std::fabs(m1021.Value("dS")), 20.0);

  tarvik::C3DTrafo helmert;
  const double arcsec = kDeg / 3600.0;
  helmert.SetParameters(m1021.Value("R1") * arcsec, m1021.Value("R2") * arcsec, m1021.Value("R3") * arcsec,
                        m1021.Value("DX"), m1021.Value("DY"), m1021.Value("DZ"),
                        1.0 + m1021.Value("dS") * 1e-6);

  void* orvel = dlopen((BinFolder() / "OrvelMan4.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(orvel, nullptr) << dlerror();
  auto initOrvel = reinterpret_cast<InitFn>(dlsym(orvel, "InitOrvelDB"));
  auto surface = reinterpret_cast<SurfaceFn>(dlsym(orvel, "GetNFEMbyLatLongH"));
  ASSERT_TRUE(initOrvel && surface);
  ASSERT_EQ(initOrvel(home.DataFile("orvel").c_str()), 1);
  const auto nodes = SourceNodes(lat, lon, height, 0.3, 0.5);
  for (int k = 0; k < 16; ++k) {
    double undulation = 0, above = 0, sn = 0, se = 0;
    ASSERT_EQ(surface(nodes[k].lat, nodes[k].lon, nodes[k].h, 1.0, &undulation, &above, &sn, &se), 0);
    EXPECT_NEAR(above, nodes[k].h - undulation, 1e-9);
    // The parameters carry the node to its height above the surface.
    double X, Y, Z, Xt, Yt, Zt, tLat, tLon, tH;
    ToXyz(kGrs80, nodes[k].lat, nodes[k].lon, nodes[k].h, X, Y, Z);
    helmert.TransformForward(X, Y, Z, Xt, Yt, Zt);
    ToBlh(kBessel, Xt, Yt, Zt, tLat, tLon, tH);
    EXPECT_NEAR(tH, above, 0.05) << "height surface, node " << k + 1;
    double sent = m1023.Value("MeanHeightOffset") + m1023.Value("dHeight[" + std::to_string(k + 1) + "]");
    EXPECT_NEAR(sent, undulation, 0.02) << "height surface, node " << k + 1;
  }
  dlclose(orvel);
}

// Anywhere inside the area of validity, not only at the nodes: a rover that
// applies the messages at its own position (the 1021 transformation, the
// residuals interpolated there as 1023 announces, the mean offsets) meets
// the database at that position within what the service promises:
// horizontally p95 5 mm and max 20 mm, in height p95 10 mm against the
// height surface. The 4 x 4 grid can only follow a database that is
// continuous; the demo database jumped by up to 79 mm at area borders
// before its areas carried support points for the interpolation.
TEST(RoverAccuracy, RoverMeetsTheDatabaseAnywhereInsideTheAreaOfValidity) {
  DemoHome home;
  ASSERT_TRUE(home.Ok());
  TarvikProcess server(home.Path(), {home.BinaryPort()});
  ASSERT_TRUE(server.Running()) << server.Output();
  void* marlo = dlopen((BinFolder() / "MarloDLL.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  void* orvel = dlopen((BinFolder() / "OrvelMan4.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(marlo && orvel) << dlerror();
  auto init = reinterpret_cast<InitFn>(dlsym(marlo, "InitDB"));
  auto transform = reinterpret_cast<BlhFn>(dlsym(marlo, "TransformPoint_BLH_in_BLH_out"));
  auto interpolation =
      reinterpret_cast<void (*)(int, int, int, double, double)>(dlsym(marlo, "SetInterpolationType"));
  auto initOrvel = reinterpret_cast<InitFn>(dlsym(orvel, "InitOrvelDB"));
  auto surface = reinterpret_cast<SurfaceFn>(dlsym(orvel, "GetNFEMbyLatLongH"));
  ASSERT_TRUE(init && transform && interpolation && initOrvel && surface);
  ASSERT_EQ(init(home.DataFile("marlo").c_str()), 1);
  interpolation(1, 2, 0, 0.0, 0.0);  // as the demo configurations switch it on
  ASSERT_EQ(initOrvel(home.DataFile("orvel").c_str()), 1);

  std::mt19937 random(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> horizontal, height;
  for (int request = 0; request < 25; ++request) {
    const double lat = 47.0 + 1.4 * unit(random), lon = 13.4 + 3.0 * unit(random);
    const double h = 200.0 + 1300.0 * unit(random);
    Connection c(home.BinaryPort());
    c.Send(Gga(lat, lon, h));
    Replies r = Split(c.ReadReplies(3));
    ASSERT_EQ(r.frames.size(), 3u) << lat << " " << lon;
    tarvikclient::RoverMessages messages;
    std::string why;
    ASSERT_TRUE(tarvikclient::ReadMessages(r.frames[0].message, r.frames[1].message, &r.frames[2].message,
                                           messages, why))
        << why << " at " << lat << " " << lon;
    const tarvikclient::HelmertMessage& area = messages.helmert;
    for (int k = 0; k < 8; ++k) {
      // Anywhere in the area but its outermost 5 %, at heights around the
      // request's.
      const double qLat = area.originLat + (unit(random) - 0.5) * 0.9 * area.extensionLat;
      const double qLon = area.originLon + (unit(random) - 0.5) * 0.9 * area.extensionLon;
      const double qH = h + 100.0 * (unit(random) - 0.5);
      tarvikclient::RoverPosition rover;
      ASSERT_TRUE(tarvikclient::ApplyMessages(messages, qLat, qLon, qH, rover, why)) << why;
      double dbLon = 0, dbLat = 0, dbH = 0;
      ASSERT_EQ(transform(qLon, qLat, qH, &dbLon, &dbLat, &dbH), 1);
      const double north = (rover.lat - dbLat) * kDeg * 6378137.0;
      const double east = (rover.lon - dbLon) * kDeg * 6378137.0 * std::cos(dbLat * kDeg);
      horizontal.push_back(std::hypot(north, east) * 1000.0);
      double undulation = 0, above = 0, sn = 0, se = 0;
      ASSERT_EQ(surface(qLat, qLon, qH, 1.0, &undulation, &above, &sn, &se), 0);
      height.push_back(std::fabs(rover.height - above) * 1000.0);
    }
  }
  auto percentile = [](std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
  };
  std::printf(
      "rover against database inside the area: horizontal p50 %.2f p95 %.2f max %.2f mm; height p50 "
      "%.2f p95 %.2f max %.2f mm\n",
      percentile(horizontal, 0.5), percentile(horizontal, 0.95), percentile(horizontal, 1.0),
      percentile(height, 0.5), percentile(height, 0.95), percentile(height, 1.0));
  EXPECT_LE(percentile(horizontal, 0.95), 5.0);
  EXPECT_LE(percentile(horizontal, 1.0), 20.0);
  EXPECT_LE(percentile(height, 0.95), 10.0);
  dlclose(orvel);
  dlclose(marlo);
}
