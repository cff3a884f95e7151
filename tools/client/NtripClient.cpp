#include "NtripClient.h"

#include <cctype>

namespace tarvikclient {

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool FieldHas(std::string_view head, std::string_view name, std::string_view value) {
  std::size_t at = 0;
  while ((at = head.find("\r\n", at)) != std::string_view::npos) {
    at += 2;
    std::string_view line = head.substr(at, head.find("\r\n", at) - at);
    if (!StartsWithNoCase(line, name) || line.size() <= name.size() || line[name.size()] != ':') continue;
    std::string_view v = line.substr(name.size() + 1);
    while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
    if (StartsWithNoCase(v, value)) return true;
  }
  return false;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    const unsigned v =
        (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::string NtripRequest(const std::string& host, const std::string& mount, const std::string& userPassword,
                         bool ntrip2) {
  std::string r = "GET /" + mount + (ntrip2 ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n");
  r += "Host: " + host + "\r\n";
  r += "User-Agent: NTRIP tarvik-client/1.0\r\n";
  if (ntrip2) r += "Ntrip-Version: Ntrip/2.0\r\nConnection: close\r\n";
  if (!userPassword.empty()) r += "Authorization: Basic " + Base64Encode(userPassword) + "\r\n";
  return r + "\r\n";
}

NtripAnswerHead ReadNtripAnswerHead(std::string_view received) {
  NtripAnswerHead h;
  const std::size_t firstEnd = received.find("\r\n");
  if (firstEnd == std::string_view::npos) return h;
  h.statusLine = std::string(received.substr(0, firstEnd));
  if (h.statusLine == "ICY 200 OK" || StartsWithNoCase(h.statusLine, "ERROR")) {
    h.complete = true;
    h.stream = h.statusLine == "ICY 200 OK";
    h.length = firstEnd + 2;
    return h;
  }
  const std::size_t end = received.find("\r\n\r\n");
  if (end == std::string_view::npos) return h;
  h.complete = true;
  h.length = end + 4;
  const std::string_view head = received.substr(0, end + 2);
  h.stream =
      (StartsWithNoCase(h.statusLine, "HTTP/1.1 200") || StartsWithNoCase(h.statusLine, "HTTP/1.0 200")) &&
      FieldHas(head, "Content-Type", "gnss/data");
  h.chunked = FieldHas(head, "Transfer-Encoding", "chunked");
  return h;
}

std::vector<std::uint8_t> ChunkedDecoder::Feed(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < size && state_ != kFailed && state_ != kEnded; ++i) {
    const char c = static_cast<char>(data[i]);
    switch (state_) {
      case kSize:
      case kDataEnd:
      case kTrailer:
        line_ += c;
        if (line_.size() > 64) state_ = kFailed;
        if (c != '\n') break;
        if (line_.size() < 2 || line_[line_.size() - 2] != '\r') {
          state_ = kFailed;
          break;
        }
        line_.resize(line_.size() - 2);
        if (state_ == kDataEnd) {
          state_ = line_.empty() ? kSize : kFailed;
        } else if (state_ == kTrailer) {
          if (line_.empty()) state_ = kEnded;
        } else {
          std::size_t n = 0;
          const std::string digits = line_.substr(0, line_.find(';'));
          if (digits.empty() || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            state_ = kFailed;
            break;
          }
          n = std::stoul(digits, nullptr, 16);
          left_ = n;
          state_ = n == 0 ? kTrailer : kData;
        }
        line_.clear();
        break;
      case kData:
        out.push_back(data[i]);
        if (--left_ == 0) state_ = kDataEnd;
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace tarvikclient
