#include "service/ResultText.h"

#include <gtest/gtest.h>

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

TEST(ResultText, EveryOtherCodeIsUnknownError) {
  for (int code : {0, -1, 2, -999, -1004, -1008, -2000, -2008, -2010, -2045, 1021})
    EXPECT_EQ(ResultText(code), "Unknown error.") << code;
  // Database codes are a different set with their own texts.
  for (int code = -1008; code <= -1004; ++code) EXPECT_EQ(ResultText(code), "Unknown error.");
}

}  // namespace
}  // namespace tarvik
