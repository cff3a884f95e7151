#pragma once
// Builds RTCM 3 frames bit by bit for the decoder tests, without any of the
// server's code, so that a shared misunderstanding cannot hide a fault.

#include <cstdint>
#include <string>
#include <vector>

#include "RtcmDecoder.h"

namespace e2etest {

class FrameBuilder {
 public:
  void Put(std::int64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) bits_.push_back((static_cast<std::uint64_t>(value) >> i) & 1u);
  }
  void Text(const std::string& s) {
    for (unsigned char c : s) Put(c, 8);
  }
  std::size_t Bits() const { return bits_.size(); }
  // Pads the body to whole bytes and wraps it: preamble, length, CRC.
  std::vector<std::uint8_t> Frame(int lengthOverride = -1) const {
    std::vector<std::uint8_t> body((bits_.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits_.size(); ++i)
      if (bits_[i]) body[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
    unsigned length =
        lengthOverride >= 0 ? static_cast<unsigned>(lengthOverride) : static_cast<unsigned>(body.size());
    std::vector<std::uint8_t> f = {0xD3, static_cast<std::uint8_t>((length >> 8) & 3u),
                                   static_cast<std::uint8_t>(length & 0xFFu)};
    f.insert(f.end(), body.begin(), body.end());
    std::uint32_t crc = tarvikclient::Crc24q(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc >> 16));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    f.push_back(static_cast<std::uint8_t>(crc));
    return f;
  }

 private:
  std::vector<bool> bits_;
};

}  // namespace e2etest
