#pragma once
// Splits the byte stream coming back from a Tarvik server into RTCM 3
// frames and text. The server answers one request with several sends
// (one frame or one text per message), and TCP may join or split them
// freely, so the scanner keeps what it has not finished yet.

#include <cstdint>
#include <string>
#include <vector>

#include "RtcmDecoder.h"

namespace tarvikclient {

// One piece of the stream: text as received (it may end mid-reply), or a
// complete frame.
struct Reply {
  bool isFrame = false;
  std::string text;
  Frame frame;

  static Reply Text(std::string t) {
    Reply r;
    r.text = std::move(t);
    return r;
  }
  static Reply Of(Frame f) {
    Reply r;
    r.isFrame = true;
    r.frame = std::move(f);
    return r;
  }
};

class ReplyScanner {
 public:
  // Adds received bytes; returns whatever became complete. Text is handed
  // out as soon as it arrives (it is printed as it comes); a frame only
  // when all its bytes are there.
  std::vector<Reply> Feed(const std::uint8_t* data, std::size_t size);
  // The connection ended: a partial frame left over comes back as text
  // describing it, so nothing received goes unreported.
  std::vector<Reply> Finish();
  bool Pending() const { return !buffer_.empty(); }

 private:
  std::vector<std::uint8_t> buffer_;
};

}  // namespace tarvikclient
