#include "service/ResultText.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>

namespace tarvik {
namespace {

TEST(ResultText, TextsOfTheRequestAndComputationCodes) {
  EXPECT_EQ(ResultText(1), "Success");
  EXPECT_EQ(ResultText(-1000), "Error: Unknown request.");
  EXPECT_EQ(ResultText(-1001), "Error parsing XML-request.");
  EXPECT_EQ(ResultText(-1002), "Error: Invalid XML-request.");
  EXPECT_EQ(ResultText(-1003), "Invalid NMEA-String.");
  EXPECT_EQ(ResultText(-2003), "Error performing 3D Helmert tranformation.");
  EXPECT_EQ(ResultText(-2005),
            "The transformation requested by the Computation-Indicator is not supported by the "
            "transformation module.");
  EXPECT_EQ(ResultText(-2007),
            "Error accessing Marlo database. The requested location is outside the database borders.");
  EXPECT_EQ(ResultText(-2009), "Error: The computation mode 'regional' is not yet implemented.");
  EXPECT_EQ(ResultText(-2030),
            "Error: GeoidGrid access failed. Position is located outside database borders.");
  EXPECT_EQ(ResultText(-2042), "Error: Mean longitude offset range overrun.");
  EXPECT_EQ(ResultText(-2043), "Error: Mean height offset range overrun.");
  EXPECT_EQ(ResultText(-2044), "Error: Helmert parameter range overrun.");
}

// The whole table, written out once more here: every code has its text,
// exactly, and every code between and around them that is not in the table
// falls back to "Unknown error.".
const std::map<int, std::string>& Table() {
  static const std::map<int, std::string> table{
      {1, "Success"},
      {-1000, "Error: Unknown request."},
      {-1001, "Error parsing XML-request."},
      {-1002, "Error: Invalid XML-request."},
      {-1003, "Invalid NMEA-String."},
      {-2001, "Error accessing Marlo-database."},
      {-2002, "Error accessing PelProjection.dll."},
      {-2003, "Error performing 3D Helmert tranformation."},
      {-2004, "Error: Request was not successfully executed."},
      {-2005,
       "The transformation requested by the Computation-Indicator is not supported by the transformation "
       "module."},
      {-2006, "Error creating response."},
      {-2007, "Error accessing Marlo database. The requested location is outside the database borders."},
      {-2009, "Error: The computation mode 'regional' is not yet implemented."},
      {-2020, "Error: ORVEL access failed."},
      {-2030, "Error: GeoidGrid access failed. Position is located outside database borders."},
      {-2040, "Error: Residual range overrun."},
      {-2041, "Error: Mean latitude offset range overrun."},
      {-2042, "Error: Mean longitude offset range overrun."},
      {-2043, "Error: Mean height offset range overrun."},
      {-2044, "Error: Helmert parameter range overrun."},
  };
  return table;
}

TEST(ResultText, EveryCodeOfTheTableHasItsText) {
  for (const auto& [code, text] : Table()) EXPECT_EQ(ResultText(code), text) << code;
}

TEST(ResultText, EveryCodeOutsideTheTableIsUnknownError) {
  int unknown = 0;
  for (int code = -3000; code <= 3000; ++code) {
    if (Table().count(code) != 0) continue;
    ASSERT_EQ(ResultText(code), "Unknown error.") << code;
    ++unknown;
  }
  EXPECT_EQ(unknown, 6001 - static_cast<int>(Table().size()));
  for (int code : {INT_MIN, INT_MIN + 1, -1000000, 1000000, INT_MAX})
    EXPECT_EQ(ResultText(code), "Unknown error.") << code;
}

TEST(ResultText, EveryOtherCodeIsUnknownError) {
  for (int code : {0, -1, 2, -999, -1004, -1008, -2000, -2008, -2010, -2045, 1021})
    EXPECT_EQ(ResultText(code), "Unknown error.") << code;
  // Database codes are a different set with their own texts.
  for (int code = -1008; code <= -1004; ++code) EXPECT_EQ(ResultText(code), "Unknown error.");
}

}  // namespace
}  // namespace tarvik
