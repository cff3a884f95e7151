// Area search: index cells, the polygon test with its orientation rule,
// boundary points, overlapping areas and rings that never close.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "AreaSearch.h"
#include "MarloGenerator.h"
#include "PointTransformation.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;
using marlo::MarloDatabase;

namespace {

MarloDatabase Load(const std::string& text) {
  MarloDatabase db;
  EXPECT_EQ(marlo::ParseDatabase(text, db), 1);
  marlo::PreparePolygons(db);
  return db;
}

int FoundId(const MarloDatabase& db, double e, double n) {
  const marlo::CMasche* a = marlo::FindArea(db, e, n);
  return a == nullptr ? 0 : a->id;
}

// Three areas: 1 and 2 overlap in 400..600; 3 is a small square far right.
// Cells (500 m): 1 upper left, 2 upper right, 3 lower left, 4 lower right.
std::string Overlapping(const std::string& cellThree = Cell(3, {1, 2})) {
  return PlaneHeader() + Cell(1, {1}) + Cell(2, {2, 3}) + cellThree + Cell(4, {2, 1, 3}) + "3\n" +
         RectangleArea(1, 0, 0, 600, 1000, 10, 100) + RectangleArea(2, 400, 0, 1000, 1000, 20, 200) +
         RectangleArea(3, 900, 900, 950, 950, 30, 300) + "0\n";
}

TEST(MarloSearch, OrientationRule) {
  const marlo::PlanePoint o{0, 0}, a{10, 0};
  EXPECT_EQ(marlo::Orient(o, a, {5, 5}), -1);
  EXPECT_EQ(marlo::Orient(o, a, {5, -5}), 1);
  // Collinear: behind the start, beyond the end, on the segment.
  EXPECT_EQ(marlo::Orient(o, a, {-1, 0}), -1);
  EXPECT_EQ(marlo::Orient(o, a, {11, 0}), 1);
  EXPECT_EQ(marlo::Orient(o, a, {4, 0}), 0);
  // Touching and collinear overlapping segments intersect.
  EXPECT_TRUE(marlo::SegmentsIntersect({0, 0}, {10, 0}, {10, 0}, {10, 5}));
  EXPECT_TRUE(marlo::SegmentsIntersect({0, 0}, {10, 0}, {5, 0}, {15, 0}));
  EXPECT_FALSE(marlo::SegmentsIntersect({0, 0}, {10, 0}, {11, 0}, {15, 0}));
  EXPECT_FALSE(marlo::SegmentsIntersect({0, 0}, {10, 0}, {0, 1}, {10, 1}));
}

TEST(MarloSearch, OverlapsEdgesAndNodes) {
  const MarloDatabase db = Load(Overlapping());
  EXPECT_EQ(FoundId(db, 100, 700), 1);
  EXPECT_EQ(FoundId(db, 800, 700), 2);
  // In the overlap, the area listed first in the cell wins.
  EXPECT_EQ(FoundId(db, 450, 200), 1);  // cell 3 lists 1, 2
  EXPECT_EQ(FoundId(db, 550, 200), 2);  // cell 4 lists 2, 1
  EXPECT_EQ(FoundId(db, 920, 920), 2);  // inside 3 too, but 2 comes first
  // Points on an edge and on a node belong to the area.
  EXPECT_EQ(FoundId(db, 0, 300), 1);
  EXPECT_EQ(FoundId(db, 0, 1000), 1);     // a corner node
  EXPECT_EQ(FoundId(db, 600, 1000), 2);   // node of 1 on the top edge of 2; cell 2 lists 2
  EXPECT_EQ(FoundId(db, 0, 0), 0);        // the bottom grid line lies below the last row
  EXPECT_EQ(FoundId(db, 1000, 1000), 0);  // the grid has no cell there
  EXPECT_EQ(FoundId(db, 999.5, 999.5), 2);
  EXPECT_EQ(FoundId(db, 600, 100), 2);  // on area 1's right edge; cell 4 lists 2 first
}

TEST(MarloSearch, CellsOutsideTheGrid) {
  const MarloDatabase db = Load(Overlapping());
  const marlo::DatabaseHeader& h = db.header;
  EXPECT_EQ(marlo::CellNumber(h, 4, 10, 990), 1);
  EXPECT_EQ(marlo::CellNumber(h, 4, 990, 10), 4);
  EXPECT_EQ(marlo::CellNumber(h, 4, -10, 500), -1);
  EXPECT_EQ(marlo::CellNumber(h, 4, 500, 1001), -1);
  EXPECT_EQ(marlo::CellNumber(h, 4, 1200, 500), -1);  // beyond the last column
  EXPECT_EQ(marlo::CellNumber(h, 4, 500, -1), -1);
  EXPECT_EQ(marlo::CellNumber(h, 4, 1e300, 500), -1);
  EXPECT_EQ(marlo::CellNumber(h, 4, std::nan(""), 500), -1);
  // Fewer stored cells than the grid has: numbers above stored + 1 find nothing.
  EXPECT_EQ(marlo::CellNumber(h, 2, 990, 10), -1);
  EXPECT_EQ(marlo::CellNumber(h, 2, 10, 10), 3);
  // A cell without the candidate lists nothing, whatever the polygons say.
  const MarloDatabase sparse = Load(Overlapping(Cell(3, {})));
  EXPECT_EQ(FoundId(sparse, 100, 100), 0);
  // Area ids the area table does not know are passed over.
  const MarloDatabase unknown = Load(Overlapping(Cell(3, {99, -4, 1})));
  EXPECT_EQ(FoundId(unknown, 100, 100), 1);
  EXPECT_EQ(FoundId(sparse, 100, 700), 1);
}

TEST(MarloSearch, RingThatNeverClosesEndsAndContainsNothing) {
  // Area 1 lacks its fourth edge; area 2 has a dangling edge instead of a
  // closing one; area 3 is a proper square.
  std::string open1 =
      "1\n3\n"
      "1\n1 0 0\n2 500 0\n"
      "2\n2 500 0\n3 500 500\n"
      "3\n3 500 500\n4 0 500\n"
      "0\n0\n0\n0\n9\n0\n";
  std::string open2 =
      "2\n4\n"
      "4\n5 500 0\n6 1000 0\n"
      "5\n6 1000 0\n7 1000 500\n"
      "6\n7 1000 500\n8 700 300\n"
      "7\n8 700 300\n8 700 300\n"
      "0\n0\n0\n0\n9\n0\n";
  const std::string text = PlaneHeader() + Cell(1, {3}) + Cell(2, {}) + Cell(3, {1}) + Cell(4, {2}) + "3\n" +
                           open1 + open2 + RectangleArea(3, 0, 600, 400, 900, 40, 400) + "0\n";
  const MarloDatabase db = Load(text);
  EXPECT_FALSE(db.areas.at(1).ringClosed);
  EXPECT_FALSE(db.areas.at(2).ringClosed);
  EXPECT_TRUE(db.areas.at(3).ringClosed);
  EXPECT_EQ(FoundId(db, 100, 100), 0);
  EXPECT_EQ(FoundId(db, 800, 100), 0);
  EXPECT_EQ(FoundId(db, 100, 700), 3);
}

TEST(MarloSearch, EveryPointOfTheDemoMeshFindsOneArea) {
  MarloDatabase db = Load(marlogen::GenerateDatabase({}));
  const marlo::DatabaseHeader& h = db.header;
  // Points on a lattice across the whole grid, including node and edge
  // positions of the mesh: each lies in exactly one area of its cell's list
  // (apart from shared boundaries) and the search finds one.
  int missing = 0, probes = 0;
  for (double e = h.gridXMin + 1; e < h.gridXMax; e += 3217.0)
    for (double n = h.gridYMin + 1; n < h.gridYMax; n += 2711.0) {
      ++probes;
      if (marlo::FindArea(db, e, n) == nullptr) ++missing;
    }
  for (const auto& [id, node] : db.nodes) {
    if (node.easting >= h.gridXMax || node.northing <= h.gridYMin) continue;
    ++probes;
    if (marlo::FindArea(db, node.easting, node.northing) == nullptr) ++missing;
  }
  EXPECT_EQ(missing, 0) << probes;
  for (const auto& [id, area] : db.areas) EXPECT_TRUE(area.ringClosed) << id;
}

// The bounding box turns candidates down before their edges are walked; it
// must never change an answer of the walk, also on the box's edges, on the
// lines of the ring's edges and on the ring's own nodes.
TEST(MarloSearch, TheBoundingBoxAgreesWithTheRingWalk) {
  MarloDatabase db = Load(marlogen::GenerateDatabase({}));
  int compared = 0, inside = 0;
  for (const auto& [id, area] : db.areas) {
    ASSERT_TRUE(area.boxNoted) << id;
    marlo::CMasche walked = area;
    walked.boxNoted = false;
    std::vector<marlo::PlanePoint> probes;
    const double spanX = area.maxX - area.minX, spanY = area.maxY - area.minY;
    for (int i = -2; i <= 12; ++i)
      for (int j = -2; j <= 12; ++j)
        probes.push_back({area.minX + spanX * i / 10.0, area.minY + spanY * j / 10.0});
    for (std::size_t k = 0; k < area.ring.size(); ++k) {
      const marlo::PlanePoint a = area.ring[k], b = area.ring[(k + 1) % area.ring.size()];
      for (double t : {-1.0, -0.5, -1e-9, 0.0, 0.5, 1.0, 1.0 + 1e-9, 1.5, 2.0})
        probes.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)});
      probes.push_back({std::nextafter(a.x, -1e300), a.y});
      probes.push_back({a.x, std::nextafter(a.y, 1e300)});
    }
    for (const marlo::PlanePoint& p : probes) {
      const bool expected = marlo::AreaContains(walked, p.y, p.x);
      ASSERT_EQ(marlo::AreaContains(area, p.y, p.x), expected) << id << ": " << p.x << ", " << p.y;
      ++compared;
      inside += expected ? 1 : 0;
    }
  }
  EXPECT_GT(inside, compared / 4);
}

}  // namespace

namespace {

// Without the projection library no area can be found.
TEST(MarloSearch, MissingProjectionLibraryFindsNoArea) {
  marlo::LibraryState state;
  ASSERT_EQ(marlo::ParseDatabase(marlogen::GenerateDatabase({}), state.db), 1);
  marlo::PreparePolygons(state.db);
  state.ready = true;
  const marlo::ProjectionBinding missing(nullptr);
  marlo::Geographic out{1, 2, 3};
  EXPECT_EQ(marlo::TransformGeographic(state, missing, {14.5, 47.5, 0.0}, out), -1000);
  EXPECT_EQ(out.L, 1.0);
  const marlo::ProjectionBinding loaded;
  ASSERT_TRUE(loaded.Usable());
  EXPECT_EQ(marlo::TransformGeographic(state, loaded, {14.5, 47.5, 0.0}, out), 1);
}

}  // namespace

// The segment from the tested point to the reference point running exactly
// through a ring corner: the two edges that meet there are one crossing.
TEST(MarloSearch, ASegmentThroughACornerCrossesTheRingOnce) {
  marlo::CMasche square;
  square.ring = {{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}};
  square.ringClosed = true;
  auto contains = [&square](double x, double y) { return marlo::AreaContains(square, /*easting*/ y, x); };
  // Reference on the diagonal: points on the diagonal inside, the centre
  // among them, and beyond the far corner outside.
  square.reference = {2000, 2000};
  EXPECT_TRUE(contains(500, 500));
  EXPECT_TRUE(contains(0.5, 0.5));
  EXPECT_FALSE(contains(-500, -500));
  // Reference beside the square: an outside point whose segment enters
  // through the corner (0, 1000) and leaves through the right edge.
  square.reference = {2000, 0};
  EXPECT_FALSE(contains(-500, 1250));
  EXPECT_TRUE(contains(500, 750));  // on the same line, inside
  // The same with the notes of the reference's sides, as loading leaves them.
  square.referenceSides.clear();
  for (std::size_t i = 0; i < square.ring.size(); ++i)
    square.referenceSides.push_back(static_cast<signed char>(
        marlo::Orient(square.ring[i], square.ring[(i + 1) % square.ring.size()], square.reference)));
  EXPECT_FALSE(contains(-500, 1250));
  EXPECT_TRUE(contains(500, 750));
  // A segment along an edge's line: the edge's own points are on the ring.
  EXPECT_TRUE(contains(500, 0));
  EXPECT_FALSE(contains(-500, 0));
}
