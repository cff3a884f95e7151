#include "runtime/IniText.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(IniText, EditsInMemoryKeepEveryOtherByte) {
  const std::string content =
      "\xEF\xBB\xBF; head\r\n[Settings]\r\nPORTNUM = 2101\r\n\r\n[settings]\r\nPORTNUM=9\r\n[Other]\r\nk=v";
  const IniText text(content);
  EXPECT_EQ(text.Value(" SETTINGS ", "portnum"), std::optional<std::string>("2101"));
  EXPECT_EQ(text.Value("Other", "k"), std::optional<std::string>("v"));
  EXPECT_FALSE(text.Value("Other", "missing").has_value());
  EXPECT_EQ(text.SectionNames(), (std::vector<std::string>{"Settings", "Other"}));

  // The first duplicate section takes the new key after its last entry, in
  // the file's CRLF style; the byte order mark and the rest stay.
  auto written = text.WithValue("Settings", "TotalNumberOfRequests", "7");
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(*written,
            "\xEF\xBB\xBF; head\r\n[Settings]\r\nPORTNUM = 2101\r\nTotalNumberOfRequests=7\r\n\r\n"
            "[settings]\r\nPORTNUM=9\r\n[Other]\r\nk=v");
  // A new section after a last line without newline gets one first.
  written = text.WithValue("New", "a", "b");
  ASSERT_TRUE(written.has_value());
  EXPECT_TRUE(written->ends_with("k=v\r\n[New]\r\na=b\r\n")) << *written;
  // The key keeps its spelling; only the value changes.
  written = IniText("[S]\nKey = old\n").WithValue("s", "KEY", "new");
  EXPECT_EQ(written, std::optional<std::string>("[S]\nKey =new\n"));
}

TEST(IniText, RefusesEditsThatWouldBreakTheFile) {
  const IniText text("[S]\nk=v\n");
  EXPECT_FALSE(text.WithValue("S", "a\nb", "1"));
  EXPECT_FALSE(text.WithValue("S", "k", "1\r\n[Evil]"));
  EXPECT_FALSE(text.WithValue("S]x", "k", "1"));
  EXPECT_FALSE(text.WithValue("S", "a=b", "1"));
  EXPECT_FALSE(text.WithValue("S", ";k", "1"));
  EXPECT_FALSE(text.WithValue("  ", "k", "1"));
  EXPECT_TRUE(text.WithValue("S", "k", "").has_value());
  EXPECT_TRUE(IniText("").WithValue("S", "k", "1") == std::optional<std::string>("[S]\nk=1\n"));
}

}  // namespace
}  // namespace tarvik
