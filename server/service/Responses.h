#pragma once
// Response records of one request, kept in lists by the session and emptied
// after they were sent. The binary record owns a copy of its frame.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik {

class CRTCMASCIIResponse {
 public:
  CRTCMASCIIResponse() = default;
  explicit CRTCMASCIIResponse(std::string text) : text(std::move(text)) {}
  std::string text;
};

class CRTCMXMLResponse {
 public:
  CRTCMXMLResponse() = default;
  explicit CRTCMXMLResponse(std::string text) : text(std::move(text)) {}
  std::string text;
};

class CRTCMBinaryResponse {
 public:
  CRTCMBinaryResponse() = default;
  CRTCMBinaryResponse(int messageNumber, std::vector<std::uint8_t> bytes)
      : messageNumber(messageNumber), bytes(std::move(bytes)) {}
  int messageNumber = 0;
  std::vector<std::uint8_t> bytes;
  int length() const { return static_cast<int>(bytes.size()); }
};

}  // namespace tarvik
