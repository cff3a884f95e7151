#pragma once
// Decoding of the RTCM 3 transformation messages a Tarvik server sends.
//
// Independent of the server's encoder on purpose: the rover client and the
// end-to-end tests read the frames the way a receiver in the field would,
// so a fault in the server's bit layout shows up as a wrong value here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvikclient {

// CRC-24Q of the RTCM 3 transport layer (polynomial 0x1864CFB, initial 0).
std::uint32_t Crc24q(const std::uint8_t* data, std::size_t size);

// Reads fields most significant bit first. Reading past the end yields
// zero bits and sets the overrun flag instead of touching foreign memory.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Unsigned(int width);
  std::int64_t Signed(int width);
  std::size_t BitPosition() const { return pos_; }
  bool Overrun() const { return overrun_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool overrun_ = false;
};

// One decoded field: the raw integer of the message, its value in the
// unit shown to the user, and the unit text ("" for counts and flags).
struct Field {
  std::string name;
  std::int64_t raw = 0;
  double value = 0.0;
  std::string unit;
  std::string text;  // for text fields (names, bit strings)
};

struct DecodedMessage {
  int number = 0;
  std::vector<Field> fields;
  std::vector<std::string> problems;  // layout disagreements, unknown message

  // The field with that name, or nothing.
  const Field* Find(const std::string& name) const;
  // Value of a field; NaN when missing.
  double Value(const std::string& name) const;
};

// Decodes a message body (the bytes between the 3-byte frame header and
// the CRC). Messages other than 1021, 1023, 1025 carry only their number.
DecodedMessage DecodeMessage(const std::uint8_t* body, std::size_t size);

// A whole frame checked and decoded.
struct Frame {
  std::vector<std::uint8_t> bytes;
  unsigned length = 0;  // the 10-bit length field
  bool crcOk = false;
  DecodedMessage message;
};

// Checks and decodes one complete frame (header, body, CRC).
// Returns nothing when the bytes are not a frame (preamble, reserved bits,
// or a size that disagrees with the length field).
std::optional<Frame> DecodeFrame(const std::vector<std::uint8_t>& bytes);

// Readable multi-line rendering of a frame, one field per line with units.
std::string FormatFrame(const Frame& frame);

}  // namespace tarvikclient
