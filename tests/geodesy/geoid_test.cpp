// Geoid grid file: loader rules, hostile files and the interpolation.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "FifoFeeder.h"
#include "GeodesyTestFiles.h"
#include "geodesy/CGeoidGrid.h"

namespace tarvik {
namespace {

using testing::ScratchFolder;

// 3 rows x 4 columns, 48..47 N, 13..14.5 E, spacing 0.5; height = 40 + row*10 + column.
std::string GridText(const std::string& betweenNodes = "", int nodes = 12) {
  std::ostringstream text;
  text << "48 13\n47 14.5\n0.5 0.5\n3 4\n";
  for (int k = 0; k < nodes; ++k) {
    const int row = k / 4, column = k % 4;
    text << 48 - 0.5 * row << " " << 13 + 0.5 * column << " " << 40 + row * 10 + column << "\n";
    if (k == 5) text << betweenNodes;
  }
  return text.str();
}

// The node lines of GridText() without its header.
std::string NodeLines() { return GridText().substr(std::string("48 13\n47 14.5\n0.5 0.5\n3 4\n").size()); }

class GeoidGridTest : public ::testing::Test {
 protected:
  int Load(const std::string& text) { return grid.Load(folder.Write("geoid.txt", text)); }
  double At(double lat, double lon) {
    double n = -1;
    EXPECT_EQ(grid.Lookup(lat, lon, n), 1) << lat << " " << lon;
    return n;
  }
  int LookupCode(double lat, double lon) {
    double n;
    return grid.Lookup(lat, lon, n);
  }
  ScratchFolder folder{"geoid"};
  CGeoidGrid grid;
};

TEST_F(GeoidGridTest, LoadsHeaderAndNodes) {
  ASSERT_EQ(Load(GridText()), 1);
  EXPECT_EQ(grid.Rows(), 3);
  EXPECT_EQ(grid.Columns(), 4);
  EXPECT_EQ(grid.NodeCount(), 12u);
  EXPECT_DOUBLE_EQ(grid.EastLongitude(), 14.5);
  EXPECT_EQ(grid.Load(folder.Path() / "missing.txt"), -1000);
  EXPECT_EQ(grid.Load(folder.Path()), -1000);  // a folder is no file
}

TEST_F(GeoidGridTest, CommentsAndEmptyLinesAnywhereDoNotShiftNodes) {
  const std::string text = "; geoid of the test\n\n  ; indented comment\r\n" + GridText("\n;x\n\t;y\n\r\n");
  ASSERT_EQ(Load(text), 1);
  EXPECT_EQ(grid.NodeCount(), 12u);
  EXPECT_NEAR(At(47.5, 14.0), 52.0, 1e-9);  // row 1, column 2
  // Trailing text after the numbers and CRLF endings are accepted.
  ASSERT_EQ(Load("48 13 north-west\r\n47 14.5\r\n0.5 0.5\r\n2 2 rows cols\r\n48 13 1 x\r\n"
                 "48 13.5 2\r\n47.5 13 3\r\n47.5 13.5 4\r\n"),
            1);
}

TEST_F(GeoidGridTest, LineRuleFailures) {
  EXPECT_EQ(Load(GridText("   \n")), -1002);                        // blank line among the nodes
  EXPECT_EQ(Load(GridText("47.5 13.5\n")), -1002);                  // two numbers only
  EXPECT_EQ(Load(GridText("abc\n")), -1002);                        // not a number
  EXPECT_EQ(Load(GridText("nan 13 4\n")), -1002);                   // not a usable number
  EXPECT_EQ(Load(GridText("", 3)), -1002);                          // three nodes
  EXPECT_EQ(Load(GridText("", 4)), 1);                              // four nodes are enough
  EXPECT_EQ(Load("48 13\n47 14.5\n0.5 0.5\n3\n48 13 1\n"), -1003);  // one count
  EXPECT_EQ(Load("48 13\n47 14.5\n0.5 0.5\n"), -1003);              // header cut short
  EXPECT_EQ(Load("48 13\n  \n47 14.5\n0.5 0.5\n3 4\n"), -1003);
  EXPECT_EQ(Load(""), -1003);
  EXPECT_EQ(Load(GridText(std::string(100000, '1') + " 13 4\n")), -1002);  // no node line is that long
  EXPECT_EQ(Load(std::string(100000, '4')), -1003);
  EXPECT_EQ(Load(GridText().substr(0, GridText().size() - 1)), 1);  // no final line break
}

TEST_F(GeoidGridTest, HostileHeadersGiveCodesNotCrashes) {
  // Huge counts: no allocation for them, lookups stay in bounds.
  ASSERT_EQ(Load("48 13\n47 14.5\n0.5 0.5\n2147483647 2147483647\n48 13 1\n48 13.5 2\n"
                 "47.5 13 3\n47.5 13.5 4\n"),
            1);
  EXPECT_EQ(LookupCode(47.6, 13.2), -1001);  // its corners are not in the file
  EXPECT_EQ(Load("48 13\n47 14.5\n0.5 0.5\n99999999999 4\n" + NodeLines()), -1003);
  EXPECT_EQ(Load("48 13\n47 14.5\n0 0.5\n3 4\n" + NodeLines()), -1003);
  EXPECT_EQ(Load("48 13\n47 14.5\n-0.5 0.5\n3 4\n" + NodeLines()), -1003);
  EXPECT_EQ(Load("48 13\n47 inf\n0.5 0.5\n3 4\n" + NodeLines()), -1003);
  // Negative counts load but serve nothing.
  ASSERT_EQ(Load("48 13\n47 14.5\n0.5 0.5\n-3 -4\n" + NodeLines()), 1);
  EXPECT_EQ(LookupCode(47.6, 13.2), -1001);
}

TEST_F(GeoidGridTest, OnlyRegularFilesAreRead) {
  // A pipe whose writer sends a header of 2147483647 x 2147483647: the
  // loader must neither wait for the writer nor trust the counts; it
  // refuses the pipe like a file it cannot open, and throws nothing.
  const std::string hostile = "48 13\n47 14.5\n0.5 0.5\n2147483647 2147483647\n" + NodeLines();
  testsupport::FifoFeeder pipe(folder.Path() / "geoid.fifo", hostile);
  ASSERT_TRUE(pipe.Created());
  int rc = 0;
  EXPECT_NO_THROW(rc = grid.Load(pipe.Path()));
  EXPECT_EQ(rc, -1000);
  EXPECT_FALSE(grid.IsLoaded());
  // Devices: one without content, one without end.
  for (const char* device : {"/dev/null", "/dev/zero"}) {
    EXPECT_NO_THROW(rc = grid.Load(device)) << device;
    EXPECT_EQ(rc, -1000) << device;
  }
  // The same content in a regular file loads.
  EXPECT_EQ(Load(hostile), 1);
}

TEST_F(GeoidGridTest, InterpolationAndBorders) {
  ASSERT_EQ(Load(GridText()), 1);
  EXPECT_NEAR(At(48.0, 13.0), 40.0, 1e-9);  // on a node: that node's value
  EXPECT_NEAR(At(47.5, 13.5), 51.0, 1e-9);
  // Cell centre: equal distances, plain mean of the corners.
  EXPECT_NEAR(At(47.75, 13.25), (40 + 41 + 50 + 51) / 4.0, 1e-9);
  // Inverse-distance weights with power 1 (not bilinear).
  const double lat = 47.9, lon = 13.1;
  const double d1 = std::hypot(0.1, 0.1), d2 = std::hypot(0.1, 0.4), d3 = std::hypot(0.4, 0.1),
               d4 = std::hypot(0.4, 0.4);
  const double expected = (40 / d1 + 41 / d2 + 50 / d3 + 51 / d4) / (1 / d1 + 1 / d2 + 1 / d3 + 1 / d4);
  EXPECT_NEAR(At(lat, lon), expected, 1e-9);

  EXPECT_NEAR(At(48.0, 13.2), At(48.0 - 1e-12, 13.2), 1e-6);  // north border: row 0
  EXPECT_NEAR(At(47.5, 14.5), 53.0, 1e-9);                    // eastern border: within the last cell
  EXPECT_EQ(LookupCode(47.0, 13.2), -1001);                   // southern border: no row below
  EXPECT_EQ(LookupCode(48.01, 13.2), -1001);
  EXPECT_EQ(LookupCode(47.5, 12.99), -1001);
  EXPECT_EQ(LookupCode(47.5, 14.51), -1001);
  EXPECT_EQ(LookupCode(NAN, 13.2), -1001);
}

TEST_F(GeoidGridTest, MissingCornerIsOutside) {
  // Nodes beyond the eighth are missing: the second row of cells has no corners.
  ASSERT_EQ(Load(GridText("", 8)), 1);
  EXPECT_EQ(LookupCode(47.3, 13.2), -1001);
  EXPECT_EQ(LookupCode(47.6, 13.2), 1);
}

}  // namespace
}  // namespace tarvik
