#pragma once
// tarvik-client as an NTRIP rover: the request head of NTRIP 1.0 and 2.0,
// the caster's answer head, and the chunks of an NTRIP 2.0 stream.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvikclient {

std::string Base64Encode(std::string_view bytes);

// "GET /MOUNT HTTP/1.x" with Host, User-Agent, for 2.0 Ntrip-Version, and
// Basic authentication when `userPassword` ("user:password") is not empty.
std::string NtripRequest(const std::string& host, const std::string& mount, const std::string& userPassword,
                         bool ntrip2);

// The caster's answer head as far as it has arrived.
struct NtripAnswerHead {
  bool complete = false;   // the head is all there
  bool stream = false;     // "ICY 200 OK" or "HTTP/1.x 200" with gnss/data: RTCM follows
  bool chunked = false;    // Transfer-Encoding: chunked
  std::size_t length = 0;  // bytes of the head; the stream starts after them
  std::string statusLine;
};

// Reads the head from what arrived: "ICY 200 OK" ends with its line; any
// other answer with its empty line (a 1.0 error line such as "ERROR - Bad
// Password" ends with its own line as well).
NtripAnswerHead ReadNtripAnswerHead(std::string_view received);

// Takes a chunked body apart as it arrives.
class ChunkedDecoder {
 public:
  // The data of the chunks completed by these bytes.
  std::vector<std::uint8_t> Feed(const std::uint8_t* data, std::size_t size);
  bool Failed() const { return state_ == kFailed; }
  bool Ended() const { return state_ == kEnded; }

 private:
  enum State { kSize, kData, kDataEnd, kTrailer, kEnded, kFailed };
  State state_ = kSize;
  std::string line_;
  std::size_t left_ = 0;
};

}  // namespace tarvikclient
