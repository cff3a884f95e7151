#include "rtcm/RTCMFrameWriter.h"
#include "rtcm/RtcmTestDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tarvik {
namespace {

using testing::BitReader;
using testing::ReferenceCrc24q;

TEST(Crc24q, MatchesPublishedCheckValueAndBitwiseDefinition) {
  const std::string check = "123456789";
  std::vector<std::uint8_t> bytes(check.begin(), check.end());
  EXPECT_EQ(Crc24q(bytes), 0xCDE703u);
  EXPECT_EQ(Crc24q({}), 0u);

  std::mt19937 rng(7);
  for (int n = 1; n < 200; n += 13) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    EXPECT_EQ(Crc24q(data), ReferenceCrc24q(data.data(), data.size())) << n;
  }
}

TEST(RTCMFrameWriter, FinishedFrameHasHeaderAndZeroRemainder) {
  RTCMFrameWriter w;
  w.start(3);
  w.put(0xABCDEF, 24);
  std::vector<std::uint8_t> f = w.finish();
  ASSERT_EQ(f.size(), 9u);
  EXPECT_EQ(f[0], 0xD3);
  EXPECT_EQ(f[1], 0x00);
  EXPECT_EQ(f[2], 0x03);
  EXPECT_EQ(f[3], 0xAB);
  EXPECT_EQ(f[5], 0xEF);
  EXPECT_EQ(ReferenceCrc24q(f.data(), f.size()), 0u);
  std::uint32_t crc = ReferenceCrc24q(f.data(), 6);
  EXPECT_EQ(f[6], (crc >> 16) & 0xFF);
  EXPECT_EQ(f[7], (crc >> 8) & 0xFF);
  EXPECT_EQ(f[8], crc & 0xFF);

  // Only the low 10 bits of the length fit; the reserved bits stay 0.
  w.start(1024 + 25);
  f = w.finish();
  EXPECT_EQ(f[1], 0x00);
  EXPECT_EQ(f[2], 25);
}

TEST(RTCMFrameWriter, FieldsOfEveryWidthReadBackWithoutTouchingNeighbours) {
  std::mt19937_64 rng(42);
  for (int width = 1; width <= 36; ++width) {
    for (int round = 0; round < 20; ++round) {
      const std::int64_t lo = -(std::int64_t{1} << (width - 1));
      const std::int64_t hi = (std::int64_t{1} << (width - 1)) - 1;
      std::int64_t value =
          width == 1 ? static_cast<std::int64_t>(rng() & 1) - 1
                     : lo + static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
      int lead = 1 + static_cast<int>(rng() % 7);
      RTCMFrameWriter w;
      w.start(0);
      w.put(-1, lead);  // all ones before
      w.put(value, width);
      w.put(0, 5);   // zeros after
      w.put(-1, 3);  // ones after
      std::vector<std::uint8_t> f = w.finish();
      BitReader r(f, 24);
      EXPECT_EQ(r.u(lead), (std::uint64_t{1} << lead) - 1);
      if (width == 1) {
        EXPECT_EQ(r.u(1), static_cast<std::uint64_t>(value & 1));
      } else {
        EXPECT_EQ(r.s(width), value) << "width " << width;
      }
      EXPECT_EQ(r.u(5), 0u);
      EXPECT_EQ(r.u(3), 7u);
    }
  }
}

TEST(RTCMFrameWriter, TextPaddingAndOverflow) {
  RTCMFrameWriter w;
  w.start(0);
  w.put(1, 4);
  w.putText("AZ");
  w.pad(4);
  std::vector<std::uint8_t> f = w.finish();
  ASSERT_EQ(f.size(), 3u + 3u + 3u);
  EXPECT_EQ(f[3], 0x14);  // 0001 0100 (high nibble of 'A')
  EXPECT_EQ(f[4], 0x15);  // 0001 | 0101 (low nibble of 'A', high of 'Z')
  EXPECT_EQ(f[5], 0xA0);  // 1010 | padding

  // Writing past the largest frame drops bytes instead of running off the buffer.
  w.start(1023);
  for (int i = 0; i < 1100; ++i) w.put(0x55, 8);
  EXPECT_TRUE(w.overflowed());
  EXPECT_EQ(w.size(), RTCMFrameWriter::kMaxFrameBytes);
}

}  // namespace
}  // namespace tarvik
