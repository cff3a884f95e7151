// The database reader: block rules, comment handling and every failure code,
// also on hostile input.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "MarloDatabase.h"
#include "MarloGenerator.h"
#include "marlo/MarloTestSupport.h"

using namespace marlotest;
using marlo::MarloDatabase;
using marlo::ParseDatabase;

namespace {

std::string Grid() { return Cell(1, {1}) + Cell(2, {1}) + Cell(3, {1, 2}) + Cell(4, {2}); }

std::string TwoAreas(const std::string& related = "1\n2\n1\n1\n") {
  return PlaneHeader() + Grid() + "2\n" +
         RectangleArea(1, 0, 0, 600, 1000, 10, 100, {{"A", 10, 20, 0.1, 0.2, 0.3}}) +
         RectangleArea(2, 400, 0, 1000, 1000, 20, 200) + related;
}

TEST(MarloReader, ReadsEveryBlock) {
  MarloDatabase db;
  ASSERT_EQ(ParseDatabase(TwoAreas(), db), 1);
  EXPECT_DOUBLE_EQ(db.header.numericVersion, 4.1);
  EXPECT_EQ(db.header.gridColumns, 2);
  EXPECT_EQ(db.header.gridRows, 2);
  EXPECT_EQ(db.header.sourceEllipsoidName, "GRS80");
  ASSERT_EQ(db.grid.size(), 4u);
  EXPECT_EQ(db.grid.at(3).areaIds, (std::vector<int>{1, 2}));
  EXPECT_EQ(db.grid.at(3).texts, (std::vector<std::string>{"text of the cell"}));
  ASSERT_EQ(db.areas.size(), 2u);
  const marlo::CMasche& a = db.areas.at(1);
  EXPECT_EQ(a.edgeIds, (std::vector<int>{100, 101, 102, 103}));
  ASSERT_EQ(a.points.size(), 1u);
  const marlo::IdenticalPoint& p = a.points.at(1);
  EXPECT_EQ(p.name, "A");
  EXPECT_EQ(p.easting, 10.0);
  EXPECT_EQ(p.northing, 20.0);
  EXPECT_EQ(p.residualLon, 0.1);
  EXPECT_EQ(p.residualLat, 0.2);
  EXPECT_EQ(p.residualHeight, 0.3);
  EXPECT_EQ(db.areas.at(2).relatedAreaIds, (std::vector<int>{1}));
  // File gives easting first; the node keeps both.
  EXPECT_EQ(db.nodes.at(11).easting, 600.0);
  EXPECT_EQ(db.nodes.at(11).northing, 0.0);
}

TEST(MarloReader, VersionThreshold) {
  MarloDatabase db;
  std::string text = TwoAreas();
  EXPECT_EQ(ParseDatabase("V39" + text.substr(3), db), -1006);
  EXPECT_EQ(ParseDatabase("V40" + text.substr(3), db), 1);
  EXPECT_EQ(ParseDatabase("X" + text.substr(3), db), -1006);  // no digits at all
}

TEST(MarloReader, CommentsAndEmptyLinesAnywhere) {
  std::string text = TwoAreas();
  std::string spaced;
  for (char c : text) {
    spaced += c;
    if (c == '\n') spaced += "; comment\n\n   \r\n";
  }
  MarloDatabase plain, commented;
  ASSERT_EQ(ParseDatabase(text, plain), 1);
  ASSERT_EQ(ParseDatabase("; leading comment\n" + spaced, commented), 1);
  EXPECT_EQ(commented.areas.size(), plain.areas.size());
  EXPECT_EQ(commented.grid.at(3).texts, plain.grid.at(3).texts);
  EXPECT_EQ(commented.areas.at(1).points.at(1).name, "A");
  // CRLF line ends read like LF ones.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  MarloDatabase windows;
  ASSERT_EQ(ParseDatabase(crlf, windows), 1);
  EXPECT_EQ(windows.header.targetEllipsoidName, "GRS80");
}

TEST(MarloReader, GridAndAreaCodes) {
  MarloDatabase db;
  // A cell larger than the grid: no columns.
  EXPECT_EQ(ParseDatabase(PlaneHeader("V41", 0, 1500), db), -1004);
  EXPECT_EQ(ParseDatabase(PlaneHeader("V41", 0, 0), db), -1004);
  EXPECT_EQ(ParseDatabase(PlaneHeader("V41", 0, -5), db), -1004);
  EXPECT_EQ(ParseDatabase(PlaneHeader() + Grid() + "0\n", db), -1005);
  EXPECT_EQ(ParseDatabase(PlaneHeader() + Grid() + "-3\n", db), -1003);
}

TEST(MarloReader, ParameterTypesFillOnlyTheirFields) {
  struct Case {
    int type;
    const char* lines;
    double tx, rx, scale, heightScale;
  } cases[] = {
      {0, "1\n2\n3\n4\n5\n6\n7\n8\n", 1, 4, 7, 8},
      {1, "1\n2\n3\n4\n5\n6\n7\n", 1, 4, 7, 0},
      {2, "1\n2\n3\n4\n5\n", 1, 0, 4, 5},
      {3, "1\n2\n3\n4\n", 1, 0, 4, 0},
      {4, "1\n2\n3\n4\n5\n", 0, 1, 4, 5},
      {5, "1\n2\n3\n4\n", 0, 1, 4, 0},
      {9, "", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string params = std::to_string(c.type) + "\n" + c.lines;
    MarloDatabase db;
    ASSERT_EQ(ParseDatabase(PlaneHeader() + Grid() + "1\n" +
                                RectangleArea(1, 0, 0, 1000, 1000, 1, 1, {}, params) + "0\n",
                            db),
              1)
        << c.type;
    const marlo::CMasche& a = db.areas.at(1);
    EXPECT_EQ(a.tx, c.tx) << c.type;
    EXPECT_EQ(a.rx, c.rx) << c.type;
    EXPECT_EQ(a.scale, c.scale) << c.type;
    EXPECT_EQ(a.heightScale, c.heightScale) << c.type;
    if (c.type == 3) {
      EXPECT_EQ(a.rz, 0.0);
    }
  }
}

TEST(MarloReader, HostileInputGivesCodes) {
  MarloDatabase db;
  const std::string good = TwoAreas();
  // Every truncation point ends with a code, never with success or a crash.
  for (std::size_t cut = 0; cut + 1 < good.size(); cut += 7) {
    const int rc = ParseDatabase(good.substr(0, cut), db);
    EXPECT_LT(rc, 0) << cut;
  }
  // Huge counts run out of lines instead of reserving memory.
  EXPECT_EQ(ParseDatabase(PlaneHeader("V41", 2000000000) + Cell(1, {1}), db), -1003);
  EXPECT_EQ(ParseDatabase(PlaneHeader() + Grid() + "2147483647\n", db), -1003);
  EXPECT_EQ(ParseDatabase(PlaneHeader() + Grid() + "99999999999999999999\n", db), -1003);
  // Non-numeric lines.
  std::string bad = good;
  bad.replace(bad.find("\n0 1000\n"), 8, "\nnorth east\n");
  EXPECT_EQ(ParseDatabase(bad, db), -1003);
  // A related entry naming an unknown area.
  EXPECT_EQ(ParseDatabase(TwoAreas("1\n7\n1\n1\n"), db), -1003);
  // Binary garbage.
  static const char kGarbage[] = "V41\n\0\xff\x01garbage\n";
  EXPECT_LT(ParseDatabase(std::string(kGarbage, sizeof kGarbage - 1), db), 0);
}

TEST(MarloReader, LaterContentReplacesEarlier) {
  MarloDatabase db;
  // A repeated cell number replaces the earlier cell; a repeated node id
  // the stored node.
  const std::string text = PlaneHeader("V41", 5) + Grid() + Cell(3, {2}) + "2\n" +
                           RectangleArea(1, 0, 0, 600, 1000, 10, 100) +
                           RectangleArea(2, 400, 0, 1000, 1000, 10, 200) + "0\n";
  ASSERT_EQ(ParseDatabase(text, db), 1);
  EXPECT_EQ(db.grid.at(3).areaIds, (std::vector<int>{2}));
  EXPECT_EQ(db.nodes.at(10).easting, 400.0);
  // A second parse leaves only the second content.
  ASSERT_EQ(
      ParseDatabase(PlaneHeader() + Grid() + "1\n" + RectangleArea(5, 0, 0, 1000, 1000, 1, 1) + "0\n", db),
      1);
  EXPECT_EQ(db.areas.size(), 1u);
  EXPECT_EQ(db.areas.count(5), 1u);
  EXPECT_EQ(db.nodes.count(10), 0u);
}

TEST(MarloReader, GeneratedDemoDatabaseReads) {
  // The committed demo database is the generator's current output.
  const std::string generated = marlogen::GenerateDatabase({});
  std::ifstream in(MARLO_DEMO_DB, std::ios::binary);
  const std::string committed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(committed == generated) << "regenerate " << MARLO_DEMO_DB << " with marlogen";
  MarloDatabase db;
  ASSERT_EQ(marlo::ReadDatabaseFile(MARLO_DEMO_DB, db), 1);
  EXPECT_EQ(db.areas.size(), 320u);
  EXPECT_EQ(db.header.projectionType, 2);
  EXPECT_EQ(static_cast<int>(db.grid.size()), db.header.gridCellCount);
}

}  // namespace
