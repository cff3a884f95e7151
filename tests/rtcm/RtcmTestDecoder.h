#pragma once
// Reads RTCM 3 transformation message frames back into their raw field
// integers, independently of the encoders (bit by bit), so tests can check
// every field of a frame.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::testing {

class BitReader {
 public:
  explicit BitReader(const std::vector<std::uint8_t>& bytes, std::size_t bitOffset = 0)
      : bytes_(bytes), bit_(bitOffset) {}

  std::uint64_t u(int width) {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i, ++bit_) {
      std::size_t byte = bit_ / 8;
      int bit = 7 - static_cast<int>(bit_ % 8);
      int b = byte < bytes_.size() ? (bytes_[byte] >> bit) & 1 : 0;
      if (byte >= bytes_.size()) overrun_ = true;
      v = (v << 1) | static_cast<std::uint64_t>(b);
    }
    return v;
  }
  std::int64_t s(int width) {
    std::uint64_t v = u(width);
    if (v & (std::uint64_t{1} << (width - 1)))
      return static_cast<std::int64_t>(v) - (std::int64_t{1} << width);
    return static_cast<std::int64_t>(v);
  }
  std::size_t position() const { return bit_; }
  bool overrun() const { return overrun_; }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t bit_;
  bool overrun_ = false;
};

// Bitwise CRC-24Q, written out from the definition.
inline std::uint32_t ReferenceCrc24q(const std::uint8_t* data, std::size_t n) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 16;
    for (int b = 0; b < 8; ++b) {
      crc <<= 1;
      if (crc & 0x1000000) crc ^= 0x1864CFB;
    }
  }
  return crc & 0xFFFFFF;
}

struct FrameHeader {
  int preamble = 0;
  int reserved = 0;
  int length = 0;
  bool crcOk = false;
  bool sizeOk = false;  // frame is exactly 6 bytes longer than its length
};

inline FrameHeader DecodeHeader(const std::vector<std::uint8_t>& f) {
  FrameHeader h;
  BitReader r(f);
  h.preamble = static_cast<int>(r.u(8));
  h.reserved = static_cast<int>(r.u(6));
  h.length = static_cast<int>(r.u(10));
  h.sizeOk = f.size() == static_cast<std::size_t>(h.length) + 6;
  h.crcOk = f.size() >= 6 && ReferenceCrc24q(f.data(), f.size()) == 0;
  return h;
}

struct Decoded1021 {
  int number = 0, sourceCount = 0, targetCount = 0;
  std::string source, target;
  std::int64_t system = 0, involved = 0, plate = 0, computation = 0, height = 0;
  std::int64_t lat = 0, lon = 0, extLat = 0, extLon = 0;
  std::int64_t dx = 0, dy = 0, dz = 0, r1 = 0, r2 = 0, r3 = 0, ds = 0;
  std::int64_t srcA = 0, srcB = 0, tgtA = 0, tgtB = 0, hq = 0, vq = 0;
  std::int64_t padding = 0;
  std::size_t bodyBits = 0;  // including padding
};

inline Decoded1021 Decode1021(const std::vector<std::uint8_t>& f) {
  Decoded1021 d;
  BitReader r(f, 24);
  d.number = static_cast<int>(r.u(12));
  d.sourceCount = static_cast<int>(r.u(5));
  for (int i = 0; i < d.sourceCount; ++i) d.source += static_cast<char>(r.u(8));
  d.targetCount = static_cast<int>(r.u(5));
  for (int i = 0; i < d.targetCount; ++i) d.target += static_cast<char>(r.u(8));
  d.system = r.u(8);
  d.involved = r.u(10);
  d.plate = r.u(5);
  d.computation = r.u(4);
  d.height = r.u(2);
  d.lat = r.s(19);
  d.lon = r.s(20);
  d.extLat = r.u(14);
  d.extLon = r.u(14);
  d.dx = r.s(23);
  d.dy = r.s(23);
  d.dz = r.s(23);
  d.r1 = r.s(32);
  d.r2 = r.s(32);
  d.r3 = r.s(32);
  d.ds = r.s(25);
  d.srcA = r.u(24);
  d.srcB = r.u(25);
  d.tgtA = r.u(24);
  d.tgtB = r.u(25);
  d.hq = r.u(3);
  d.vq = r.u(3);
  d.padding = r.u(4);
  d.bodyBits = r.position() - 24;
  return d;
}

struct Decoded1023 {
  int number = 0;
  std::int64_t system = 0, hShift = 0, vShift = 0;
  std::int64_t lat = 0, lon = 0, extLat = 0, extLon = 0;
  std::int64_t meanLat = 0, meanLon = 0, meanHeight = 0;
  std::int64_t res[16][3] = {};
  std::int64_t hInterp = 0, vInterp = 0, hQuality = 0, vQuality = 0, mjd = 0;
  std::int64_t padding = 0;
  std::size_t bodyBits = 0;
};

inline Decoded1023 Decode1023(const std::vector<std::uint8_t>& f) {
  Decoded1023 d;
  BitReader r(f, 24);
  d.number = static_cast<int>(r.u(12));
  d.system = r.u(8);
  d.hShift = r.u(1);
  d.vShift = r.u(1);
  d.lat = r.s(21);
  d.lon = r.s(22);
  d.extLat = r.u(12);
  d.extLon = r.u(12);
  d.meanLat = r.s(8);
  d.meanLon = r.s(8);
  d.meanHeight = r.s(15);
  for (auto& node : d.res)
    for (auto& v : node) v = r.s(9);
  d.hInterp = r.u(2);
  d.vInterp = r.u(2);
  d.hQuality = r.u(3);
  d.vQuality = r.u(3);
  d.mjd = r.u(16);
  d.padding = r.u(6);
  d.bodyBits = r.position() - 24;
  return d;
}

struct Decoded1025 {
  int number = 0;
  std::int64_t system = 0, projection = 0, lat = 0, lon = 0, scale = 0, easting = 0, northing = 0;
  std::int64_t padding = 0;
  std::size_t bodyBits = 0;
};

inline Decoded1025 Decode1025(const std::vector<std::uint8_t>& f) {
  Decoded1025 d;
  BitReader r(f, 24);
  d.number = static_cast<int>(r.u(12));
  d.system = r.u(8);
  d.projection = r.u(6);
  d.lat = r.s(34);
  d.lon = r.s(35);
  d.scale = r.u(30);
  d.easting = r.u(36);
  d.northing = r.s(35);
  d.padding = r.u(4);
  d.bodyBits = r.position() - 24;
  return d;
}

}  // namespace tarvik::testing
