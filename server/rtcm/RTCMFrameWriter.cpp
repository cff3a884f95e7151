#include "rtcm/RTCMFrameWriter.h"

namespace tarvik {
namespace {

constexpr std::uint32_t kCrc24qPolynomial = 0x1864CFB;

struct Crc24qTable {
  std::array<std::uint32_t, 256> entry{};
  constexpr Crc24qTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t crc = i << 16;
      for (int b = 0; b < 8; ++b) {
        crc <<= 1;
        if (crc & 0x1000000) crc ^= kCrc24qPolynomial;
      }
      entry[i] = crc & 0xFFFFFF;
    }
  }
};

constexpr Crc24qTable kCrcTable;

}  // namespace

std::uint32_t Crc24q(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (std::uint8_t b : bytes) {
    crc = ((crc << 8) & 0xFFFFFF) ^ kCrcTable.entry[((crc >> 16) ^ b) & 0xFF];
  }
  return crc;
}

void RTCMFrameWriter::start(int bodyLength) {
  acc_ = 0;
  pending_ = 0;
  pos_ = 0;
  overflow_ = false;
  put(0xD3, 8);
  put(0, 6);
  put(bodyLength & 0x3FF, 10);
}

std::vector<std::uint8_t> RTCMFrameWriter::finish() {
  if (pending_ > 0) put(0, 8 - pending_);
  const std::uint32_t crc = Crc24q(std::span<const std::uint8_t>(buf_.data(), pos_));
  put(crc, 24);
  return std::vector<std::uint8_t>(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_));
}

}  // namespace tarvik
