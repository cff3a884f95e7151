// receiveSentence over an arbitrary byte stream: the bytes come through a
// connected socket pair, the peer closes, and every sentence is read until
// the stream ends. Checks what a session relies on: nothing longer than the
// capacity, a "$" sentence only with its matching checksum, and the end of
// the stream always reported.

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/TCPSocket.h"
#include "runtime/TCPSocketExt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;  // stays within the socket buffer, no writer thread needed
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fds[1], data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fds[1]);
  auto socket = tarvik::TCPSocketExt::adopt(fds[0]);
  // A zero byte cuts the returned text short of what was consumed, so the
  // stream position is only known for inputs without one.
  const bool exact = std::memchr(data, 0, size) == nullptr;
  std::size_t consumed = 0;
  for (int reads = 0;; ++reads) {
    std::string text;
    int rc = socket->receiveSentence(text);
    if (rc != tarvik::kSentenceRead) {
      if (rc != tarvik::kSentenceClosed && rc != tarvik::kSentenceChecksum) {
        std::fprintf(stderr, "unexpected result %d on a closed pair\n", rc);
        std::abort();
      }
      break;
    }
    if (text.size() > static_cast<std::size_t>(tarvik::TCPSocket::kSentenceCapacity)) std::abort();
    consumed += text.size();
    if (consumed > size || reads > static_cast<int>(size) + 1) std::abort();  // must make progress
    if (exact && !text.empty() && text[0] == '$' && text.back() == '*') {
      // The checksum bytes were consumed and matched: recompute it
      // from the original stream.
      unsigned x = 0;
      for (std::size_t i = 1; i + 1 < text.size(); ++i) x ^= static_cast<unsigned char>(text[i]);
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", x);
      const std::uint8_t* after = data + consumed;
      if (consumed + 2 > size || after[0] != hex[0] || after[1] != hex[1]) std::abort();
      consumed += 2;
    }
  }
  return 0;
}
