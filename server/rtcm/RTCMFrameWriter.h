#pragma once
// Bit writer for one RTCM 3 transport frame:
//   0xD3 | 6 reserved zero bits | 10-bit length | body | CRC-24Q (24 bits)
// Fields are written most significant bit first.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarvik {

// CRC-24Q of the RTCM 3 transport layer (polynomial 0x1864CFB, initial
// value 0, no reflection, no final exclusive-or).
std::uint32_t Crc24q(std::span<const std::uint8_t> bytes);

class RTCMFrameWriter {
 public:
  // Largest frame the 10-bit length allows: 3 header bytes, 1023 body
  // bytes, 3 CRC bytes.
  static constexpr std::size_t kMaxFrameBytes = 3 + 1023 + 3;

  // Writes the preamble and the 16 bits of reserved zeros and the length
  // (low 10 bits of bodyLength).
  void start(int bodyLength);

  // Appends the low `width` bits of value (width 1..36). Negative values
  // go in as their two's complement in exactly `width` bits.
  void put(std::int64_t value, int width) {
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    acc_ = (acc_ << width) | (static_cast<std::uint64_t>(value) & mask);
    pending_ += width;
    while (pending_ >= 8) {
      pending_ -= 8;
      emit(static_cast<std::uint8_t>(acc_ >> pending_));
    }
  }

  // Appends every character as 8 bits, first character first.
  void putText(std::string_view text) {
    for (char c : text) put(static_cast<unsigned char>(c), 8);
  }

  // Appends `bits` zero bits (the fixed padding up to the byte boundary).
  void pad(int bits) {
    while (bits > 0) {
      int n = bits > 32 ? 32 : bits;
      put(0, n);
      bits -= n;
    }
  }

  // Pads to a byte boundary if needed, appends the CRC of every byte
  // written so far and returns the frame.
  std::vector<std::uint8_t> finish();

  // Bytes written out so far (whole bytes only).
  std::size_t size() const { return pos_; }
  // True when more bytes were written than a frame can hold; the excess
  // was dropped.
  bool overflowed() const { return overflow_; }

 private:
  void emit(std::uint8_t byte) {
    if (pos_ < buf_.size()) {
      buf_[pos_++] = byte;
    } else {
      overflow_ = true;
    }
  }

  std::uint64_t acc_ = 0;
  int pending_ = 0;
  std::size_t pos_ = 0;
  bool overflow_ = false;
  std::array<std::uint8_t, kMaxFrameBytes> buf_{};
};

}  // namespace tarvik
