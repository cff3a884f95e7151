#include "ReplyScanner.h"

namespace tarvikclient {

namespace {
constexpr std::uint8_t kPreamble = 0xD3;
}

std::vector<Reply> ReplyScanner::Feed(const std::uint8_t* data, std::size_t size) {
  buffer_.insert(buffer_.end(), data, data + size);
  std::vector<Reply> out;
  std::size_t pos = 0;
  while (pos < buffer_.size()) {
    if (buffer_[pos] != kPreamble) {
      // Text runs up to the next preamble byte; none of the server's
      // texts contains one.
      std::size_t end = pos;
      while (end < buffer_.size() && buffer_[end] != kPreamble) ++end;
      out.push_back(Reply::Text(std::string(buffer_.begin() + pos, buffer_.begin() + end)));
      pos = end;
      continue;
    }
    if (buffer_.size() - pos < 3) break;  // header incomplete
    if ((buffer_[pos + 1] & 0xFC) != 0) {
      // Not a frame header after all: hand the byte on as text.
      out.push_back(Reply::Text(std::string(1, static_cast<char>(buffer_[pos]))));
      ++pos;
      continue;
    }
    std::size_t length = ((buffer_[pos + 1] & 0x03u) << 8) | buffer_[pos + 2];
    if (buffer_.size() - pos < length + 6) break;  // body or CRC incomplete
    std::vector<std::uint8_t> bytes(buffer_.begin() + pos, buffer_.begin() + pos + length + 6);
    out.push_back(Reply::Of(*DecodeFrame(bytes)));
    pos += length + 6;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + pos);
  return out;
}

std::vector<Reply> ReplyScanner::Finish() {
  std::vector<Reply> out;
  if (!buffer_.empty()) {
    out.push_back(Reply::Text("[incomplete frame of " + std::to_string(buffer_.size()) +
                              " bytes at end of connection]\n"));
    buffer_.clear();
  }
  return out;
}

}  // namespace tarvikclient
