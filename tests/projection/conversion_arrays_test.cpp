// The array conversions against the single-point functions, bit for bit:
// random points all round the globe and far from it, the polar cap the
// single-point function refuses, non-finite input, every count around the
// group width, in-place arrays and alternating ellipsoids.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "ProjectionTestSupport.h"

using namespace projection_test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// What the outputs hold before a call: a point left untouched keeps it.
constexpr double kSentinel = -123.25;

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct Cartesian {
  std::vector<double> x, y, z;
  void Add(double vx, double vy, double vz) {
    x.push_back(vx);
    y.push_back(vy);
    z.push_back(vz);
  }
  int Count() const { return static_cast<int>(x.size()); }
};

// Converts every point once with XYZ_to_BLH and once with the array export
// (count points from the start) and compares all three outputs bit for bit,
// untouched sentinels included.
void ExpectSameGeographic(const Cartesian& in, int count, const char* what) {
  std::vector<double> b1(count, kSentinel), l1(count, kSentinel), h1(count, kSentinel);
  std::vector<double> b2 = b1, l2 = l1, h2 = h1;
  for (int i = 0; i < count; ++i) XYZ_to_BLH(in.x[i], in.y[i], in.z[i], &b1[i], &l1[i], &h1[i]);
  XYZ_to_BLH_Points(count, in.x.data(), in.y.data(), in.z.data(), b2.data(), l2.data(), h2.data());
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(Bits(b1[i]), Bits(b2[i])) << what << " point " << i << " B " << b1[i] << " " << b2[i];
    ASSERT_EQ(Bits(l1[i]), Bits(l2[i])) << what << " point " << i << " L " << l1[i] << " " << l2[i];
    ASSERT_EQ(Bits(h1[i]), Bits(h2[i])) << what << " point " << i << " H " << h1[i] << " " << h2[i];
  }
}

struct Geographic {
  std::vector<double> b, l, h;
  void Add(double vb, double vl, double vh) {
    b.push_back(vb);
    l.push_back(vl);
    h.push_back(vh);
  }
  int Count() const { return static_cast<int>(b.size()); }
};

void ExpectSameCartesian(const Geographic& in, int count, const char* what) {
  std::vector<double> x1(count), y1(count), z1(count), x2(count), y2(count), z2(count);
  for (int i = 0; i < count; ++i) BLH_to_XYZ(in.b[i], in.l[i], in.h[i], &x1[i], &y1[i], &z1[i]);
  BLH_to_XYZ_Points(count, in.b.data(), in.l.data(), in.h.data(), x2.data(), y2.data(), z2.data());
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(Bits(x1[i]), Bits(x2[i])) << what << " point " << i;
    ASSERT_EQ(Bits(y1[i]), Bits(y2[i])) << what << " point " << i;
    ASSERT_EQ(Bits(z1[i]), Bits(z2[i])) << what << " point " << i;
  }
}

// Points from the centre of the Earth to far beyond it, every quadrant.
Cartesian RandomCartesian(const Axes& axes, int count, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> lat(-90.0, 90.0), lon(-180.0, 180.0), h(-5000.0, 50000.0);
  std::uniform_real_distribution<double> scale(-1.0, 1.0);
  Cartesian c;
  StateValues{.axes = axes}.Push();
  for (int i = 0; i < count; ++i) {
    double x, y, z;
    if (i % 5 == 4) {
      // Anywhere in a box of twice the Earth's size, or far out.
      const double r = i % 10 == 9 ? 4e7 : axes.a * 2.0;
      c.Add(scale(rng) * r, scale(rng) * r, scale(rng) * r);
      continue;
    }
    BLH_to_XYZ(lat(rng), lon(rng), h(rng), &x, &y, &z);
    c.Add(x, y, z);
  }
  return c;
}

}  // namespace

TEST(ConversionArrays, CartesianToGeographicMatchesSinglePointsOnBothEllipsoids) {
  for (const Axes& axes : {kGRS80, kBessel}) {
    const Cartesian points = RandomCartesian(axes, 5000, 11);
    StateValues{.axes = axes}.Push();
    ExpectSameGeographic(points, points.Count(), "random");
  }
  // The other ellipsoid's points: heights of kilometres, converged in more rounds.
  const Cartesian bessel = RandomCartesian(kBessel, 2000, 12);
  StateValues{.axes = kHayford}.Push();
  ExpectSameGeographic(bessel, bessel.Count(), "foreign ellipsoid");
}

TEST(ConversionArrays, PolarCapPolesAxisAndNonFiniteInputLikeSinglePoints) {
  StateValues{.axes = kGRS80}.Push();
  const double b = kGRS80.b, a = kGRS80.a;
  Cartesian c;
  // Around the cap's edge: refused points sit between converted ones in
  // every lane position of a group.
  for (double dz : {94999.0, 95000.0, 95000.5, 95001.0, 0.0, -10.0, 200000.0}) c.Add(1000.0, 1000.0, b - dz);
  c.Add(0.0, 0.0, b - 200000.0);  // on the axis above the centre
  c.Add(0.0, 0.0, -b);            // south pole, no cap
  c.Add(0.0, 0.0, -b + 10.0);     //
  c.Add(0.0, 0.0, 0.0);           // the centre: 0/0
  c.Add(a, 0.0, 0.0);             // on the equator
  c.Add(-a, 0.0, 0.0);            // behind the axis
  c.Add(-a, -0.0, 0.0);           // atan2 of a negative zero
  c.Add(0.0, -a, 1.0);            //
  c.Add(kNaN, 1.0, 0.0);          // NaN iterates to the bound of rounds
  c.Add(1.0, kNaN, 0.0);          //
  c.Add(a, 0.0, kNaN);            // NaN Z is not in the cap
  c.Add(kInf, 0.0, 0.0);          //
  c.Add(-kInf, kInf, 0.0);        //
  c.Add(a, 0.0, -kInf);           //
  c.Add(a, 0.0, kInf);            // +inf Z is in the cap
  c.Add(1e300, 1e300, -1e300);    // overflows to inf
  c.Add(1e-300, 1e-300, 1e-300);  // subnormal products
  c.Add(a, 1.0, 0.0);             //
  ExpectSameGeographic(c, c.Count(), "edge");
  // The same edge points shifted through every position of a group.
  for (int shift = 1; shift < 8; ++shift) {
    Cartesian s;
    for (int i = 0; i < shift; ++i) s.Add(a + i, 100.0 * i, 1000.0 * i);
    for (int i = 0; i < c.Count(); ++i) s.Add(c.x[i], c.y[i], c.z[i]);
    ExpectSameGeographic(s, s.Count(), "shifted edge");
  }
}

TEST(ConversionArrays, EveryCountAroundTheGroupWidthWritesExactlyItsPoints) {
  StateValues{.axes = kBessel}.Push();
  const Cartesian points = RandomCartesian(kBessel, 40, 13);
  for (int count = 0; count <= 33; ++count) ExpectSameGeographic(points, count, "count");
  // Nothing beyond count is written, and count <= 0 writes nothing at all.
  for (int count : {-1, 0, 1, 5, 8, 9}) {
    std::vector<double> b(12, kSentinel), l(12, kSentinel), h(12, kSentinel);
    XYZ_to_BLH_Points(count, points.x.data(), points.y.data(), points.z.data(), b.data(), l.data(), h.data());
    std::vector<double> x(12, kSentinel), y(12, kSentinel), z(12, kSentinel);
    BLH_to_XYZ_Points(count, points.x.data(), points.y.data(), points.z.data(), x.data(), y.data(), z.data());
    for (int i = std::max(count, 0); i < 12; ++i) {
      EXPECT_EQ(b[i] + l[i] + h[i], 3 * kSentinel) << count;
      EXPECT_EQ(x[i] + y[i] + z[i], 3 * kSentinel) << count;
    }
  }
  XYZ_to_BLH_Points(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  BLH_to_XYZ_Points(-3, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST(ConversionArrays, InPlaceArraysGiveTheSameBits) {
  StateValues{.axes = kGRS80}.Push();
  Cartesian points = RandomCartesian(kGRS80, 21, 14);
  points.Add(1000.0, 1000.0, kGRS80.b - 10.0);  // refused: stays the input
  const int n = points.Count();
  std::vector<double> b(n, kSentinel), l(n, kSentinel), h(n, kSentinel);
  for (int i = 0; i < n; ++i) XYZ_to_BLH(points.x[i], points.y[i], points.z[i], &b[i], &l[i], &h[i]);
  Cartesian inPlace = points;
  for (int i = 0; i < n; ++i)
    if (b[i] == kSentinel) b[i] = inPlace.x[i], l[i] = inPlace.y[i], h[i] = inPlace.z[i];
  XYZ_to_BLH_Points(n, inPlace.x.data(), inPlace.y.data(), inPlace.z.data(), inPlace.x.data(),
                    inPlace.y.data(), inPlace.z.data());
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(Bits(inPlace.x[i]), Bits(b[i])) << i;
    EXPECT_EQ(Bits(inPlace.y[i]), Bits(l[i])) << i;
    EXPECT_EQ(Bits(inPlace.z[i]), Bits(h[i])) << i;
  }
  // And back: geographic to Cartesian in place.
  Geographic g;
  for (int i = 0; i < n - 1; ++i) g.Add(b[i], l[i], h[i]);
  std::vector<double> x(n - 1), y(n - 1), z(n - 1);
  for (int i = 0; i < n - 1; ++i) BLH_to_XYZ(g.b[i], g.l[i], g.h[i], &x[i], &y[i], &z[i]);
  BLH_to_XYZ_Points(n - 1, g.b.data(), g.l.data(), g.h.data(), g.b.data(), g.l.data(), g.h.data());
  for (int i = 0; i < n - 1; ++i) {
    EXPECT_EQ(Bits(g.b[i]), Bits(x[i])) << i;
    EXPECT_EQ(Bits(g.l[i]), Bits(y[i])) << i;
    EXPECT_EQ(Bits(g.h[i]), Bits(z[i])) << i;
  }
}

TEST(ConversionArrays, GeographicToCartesianMatchesSinglePoints) {
  std::mt19937_64 rng(15);
  std::uniform_real_distribution<double> lat(-90.0, 90.0), lon(-360.0, 360.0), h(-1e4, 1e7);
  Geographic g;
  for (int i = 0; i < 3000; ++i) g.Add(lat(rng), lon(rng), h(rng));
  for (double v : {kNaN, kInf, -kInf, 0.0, -0.0, 90.0, -90.0, 180.0, 1e300})
    for (double w : {0.0, 45.0, v}) g.Add(v, w, 0.0), g.Add(w, v, 0.0), g.Add(w, 10.0, v);
  for (const Axes& axes : {kGRS80, kBessel}) {
    StateValues{.axes = axes}.Push();
    ExpectSameCartesian(g, g.Count(), "geographic");
  }
  // Shared latitudes and longitudes: a grid's rows and columns, angles
  // coming back after others pushed them out, and the two zeros, which are
  // different angles to the sine.
  Geographic grid;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) grid.Add(47.85 - i * 0.1, 14.65 + j * (0.5 / 3.0), 812.5);
  const double angles[] = {0.0, -0.0, 10.0, kNaN, 20.0, 30.0, 40.0, 10.0, -0.0, 50.0, 0.0, kNaN, 60.0};
  for (int k = 0; k < 40; ++k)
    grid.Add(angles[k % std::size(angles)], angles[(k * 7) % std::size(angles)], 100.0 * k);
  StateValues{.axes = kBessel}.Push();
  ExpectSameCartesian(grid, grid.Count(), "shared angles");
  std::vector<double> x(grid.Count()), y(grid.Count()), z(grid.Count());
  BLH_to_XYZ_Points(grid.Count(), grid.b.data(), grid.l.data(), grid.h.data(), x.data(), y.data(), z.data());
  EXPECT_EQ(Bits(z[16]), Bits(0.0));   // latitude +0: +0
  EXPECT_EQ(Bits(z[17]), Bits(-0.0));  // latitude -0: -0
}

TEST(ConversionArrays, EachCallUsesTheEllipsoidPushedBeforeIt) {
  // Callers switch ellipsoids between calls, as the server's chain does.
  const Cartesian points = RandomCartesian(kGRS80, 17, 16);
  for (int k = 0; k < 6; ++k) {
    const Axes& axes = k % 2 == 0 ? kBessel : kGRS80;
    StateValues{.axes = axes}.Push();
    ExpectSameGeographic(points, points.Count(), "alternating");
    std::vector<double> b(17), l(17), h(17);
    XYZ_to_BLH_Points(17, points.x.data(), points.y.data(), points.z.data(), b.data(), l.data(), h.data());
    StateValues{.axes = k % 2 == 0 ? kGRS80 : kBessel}.Push();
    double b1, l1, h1;
    XYZ_to_BLH(points.x[0], points.y[0], points.z[0], &b1, &l1, &h1);
    EXPECT_NE(h1, h[0]);  // the other ellipsoid gives other heights
  }
}

TEST(ConversionArrays, GaussKruegerForwardMatchesSinglePointsInEveryZoneConvention) {
  std::mt19937_64 rng(17);
  std::uniform_real_distribution<double> lat(-80.0, 80.0), lon(-20.0, 40.0);
  std::vector<double> b, l;
  for (int i = 0; i < 500; ++i) b.push_back(lat(rng)), l.push_back(lon(rng));
  // Zone and strip boundaries, where the automatic meridian changes.
  for (double edge : {1.5, 4.5, -1.5, 11.833333333333334, 14.833333333333332, 0.0, -0.0})
    b.push_back(47.0), l.push_back(edge);
  b.push_back(kNaN), l.push_back(10.0);
  b.push_back(47.0), l.push_back(kInf);
  const int n = static_cast<int>(b.size());
  for (int gkCase : {0, 4, 99})
    for (int auto_ : {0, 1}) {
      StateValues{.L0 = 13.333333333333334, .L0Auto = auto_, .axes = kBessel, .GKCase = gkCase}.Push();
      std::vector<double> e1(n), n1(n), e2(n), n2(n);
      for (int i = 0; i < n; ++i) BL_to_EN_GK(b[i], l[i], &e1[i], &n1[i]);
      BL_to_EN_GK_Points(n, b.data(), l.data(), e2.data(), n2.data());
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(Bits(e1[i]), Bits(e2[i])) << gkCase << " " << auto_ << " point " << i;
        ASSERT_EQ(Bits(n1[i]), Bits(n2[i])) << gkCase << " " << auto_ << " point " << i;
      }
      // In place, and nothing for counts <= 0.
      std::vector<double> bb = b, ll = l;
      BL_to_EN_GK_Points(n, bb.data(), ll.data(), bb.data(), ll.data());
      for (int i = 0; i < n; ++i) ASSERT_EQ(Bits(bb[i]), Bits(e1[i])) << i;
      BL_to_EN_GK_Points(0, b.data(), l.data(), e2.data(), n2.data());
      BL_to_EN_GK_Points(-2, nullptr, nullptr, nullptr, nullptr);
    }
}
