// The database reader: block rules, comment handling and every failure code,
// also on hostile input.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "FifoFeeder.h"
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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The text with line `index` (counted from 0) replaced.
std::string WithLine(const std::string& text, std::size_t index, const std::string& line) {
  std::vector<std::string> lines = Lines(text);
  lines.at(index) = line;
  return Joined(lines);
}

bool IsNumber(const std::string& token) {
  char* end = nullptr;
  std::strtod(token.c_str(), &end);
  return !token.empty() && *end == '\0';
}

TEST(MarloReader, NumbersThatAreNotFiniteAreRefused) {
  // Every number of the file in turn (header, cells, nodes, shifts,
  // parameters, identical points, residuals, counts) replaced by a value
  // that is not finite: the file never loads with it.
  const std::string good = TwoAreas();
  MarloDatabase db;
  ASSERT_EQ(ParseDatabase(good, db), 1);
  const std::vector<std::string> lines = Lines(good);
  int variants = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> tokens;
    std::istringstream in(lines[i]);
    for (std::string t; in >> t;) tokens.push_back(t);
    for (std::size_t k = 0; k < tokens.size(); ++k) {
      if (!IsNumber(tokens[k])) continue;
      for (const char* bad : {"nan", "-inf", "INFINITY", "-nan(1)"}) {
        std::vector<std::string> changed = tokens;
        changed[k] = bad;
        std::string line;
        for (const std::string& t : changed) line += (line.empty() ? "" : " ") + t;
        EXPECT_EQ(ParseDatabase(WithLine(good, i, line), db), -1003) << "line " << i << ": " << line;
        ++variants;
      }
    }
  }
  EXPECT_GT(variants, 200);
  // Numbers beyond the range of a double are infinite too.
  EXPECT_EQ(ParseDatabase(WithLine(good, 3, "1e999"), db), -1003);  // source semi-major axis
  std::string residual = good;
  residual.replace(residual.find("0.1 0.2 0.3"), 11, "0.1 -4e400 0.3");
  EXPECT_EQ(ParseDatabase(residual, db), -1003);
}

TEST(MarloReader, HeaderValuesNoTransformationCanUse) {
  // Header lines: 1 projection type, 3/4 source axes, 6/7 target axes.
  const std::string good = TwoAreas();
  MarloDatabase db;
  for (int type : {2, 3, 4}) EXPECT_EQ(ParseDatabase(WithLine(good, 1, std::to_string(type)), db), 1) << type;
  // Any other projection would put every point at the plane origin.
  for (int type : {0, 1, 5, -2, 99})
    EXPECT_EQ(ParseDatabase(WithLine(good, 1, std::to_string(type)), db), -1003) << type;
  const struct {
    std::size_t line;
    const char* value;
  } axes[] = {{3, "0"}, {3, "-6378137"}, {4, "0"}, {4, "-6356752.3"}, {4, "6378137.5"},  // b above a
              {6, "0"}, {6, "-1"},       {7, "0"}, {7, "-0.001"},     {7, "6378138"}};
  for (const auto& c : axes)
    EXPECT_EQ(ParseDatabase(WithLine(good, c.line, c.value), db), -1003) << c.line << " " << c.value;
  // A sphere is an ellipsoid.
  EXPECT_EQ(ParseDatabase(WithLine(WithLine(good, 4, "6378137.0"), 7, "6378137.0"), db), 1);
}

TEST(MarloReader, LinesHaveABoundedLength) {
  MarloDatabase db;
  const std::string good = TwoAreas();
  const std::string longest(marlo::kMaxDatabaseLine, 'x');
  EXPECT_EQ(ParseDatabase(";" + longest.substr(1) + "\n" + good, db), 1);
  EXPECT_EQ(ParseDatabase(";" + longest + "\n" + good, db), -1003);
  std::string text = good;
  text.replace(text.find("text of the cell"), 16, longest + "y");
  EXPECT_EQ(ParseDatabase(text, db), -1003);
  // A file without any line break is one overlong line.
  EXPECT_EQ(ParseDatabase(std::string(100000, '7'), db), -1003);
}

TEST(MarloReader, OnlyBoundedRegularFilesAreRead) {
  TempFolder folder;
  MarloDatabase db;
  ASSERT_EQ(marlo::ReadDatabaseFile(folder.Write("good.mdb", TwoAreas()), db), 1);
  // A pipe with a good database behind it is not waited for, nor read.
  testsupport::FifoFeeder pipe(folder.Path() / "db.fifo", TwoAreas());
  ASSERT_TRUE(pipe.Created());
  EXPECT_EQ(marlo::ReadDatabaseFile(pipe.Path().string(), db), -1002);
  for (const char* device : {"/dev/null", "/dev/zero"})
    EXPECT_EQ(marlo::ReadDatabaseFile(device, db), -1002) << device;
  EXPECT_EQ(marlo::ReadDatabaseFile(folder.Path().string(), db), -1002);
  // Larger than any database: refused before anything is read (the file
  // is sparse, it takes no disk space).
  const std::string huge = folder.Write("huge.mdb", TwoAreas());
  std::filesystem::resize_file(huge, marlo::kMaxDatabaseBytes + 1);
  EXPECT_EQ(marlo::ReadDatabaseFile(huge, db), -1002);
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
