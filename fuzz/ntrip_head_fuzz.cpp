// The NTRIP caster's request head over an arbitrary byte stream: lines are
// read through a connected socket pair within the head's 8 KiB as the
// caster reads them, and parsed. Checks what the caster relies on: the
// limit holds, a parsed request line has a token method, a path target and
// an HTTP/1.x version, field values carry no control characters but tabs,
// a mount point decodes without running past its target, and credentials
// decode to what a Basic value can hold.

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/TCPSocket.h"
#include "runtime/TCPSocketExt.h"
#include "service/NtripRequest.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) return 0;  // within the socket buffer, no writer thread needed
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);

  tarvik::NtripRequestHead head;
  std::size_t used = 0;
  bool requestLine = true;
  for (;;) {
    std::string line;
    const int r = socket->receiveLine(line, tarvik::kNtripHeadLimit - used, deadline);
    if (r == tarvik::kLineTooLong || r == tarvik::kSentenceClosed) break;
    if (r != tarvik::kLineRead) Fail("unexpected read result on a closed pair");
    used += line.size() + 1;
    if (used > tarvik::kNtripHeadLimit) Fail("the head outgrew its limit");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (requestLine) {
      requestLine = false;
      if (tarvik::ParseNtripRequestLine(line, head) != tarvik::kNtripHeadOK) return 0;
      if (head.target.empty() || head.target[0] != '/') Fail("a target that is no path");
      if (head.httpVersion != "HTTP/1.0" && head.httpVersion != "HTTP/1.1") Fail("a version not HTTP/1.x");
      for (char c : head.method)
        if (c <= ' ' || c >= 0x7F) Fail("a method with a blank or control character");
      continue;
    }
    if (line.empty()) break;
    if (tarvik::ParseNtripHeaderField(line, head) != tarvik::kNtripHeadOK) return 0;
    for (unsigned char c : head.fields.back().second)
      if ((c < 0x20 && c != '\t') || c == 0x7F) Fail("a control character in a field value");
  }
  if (requestLine) return 0;
  std::string mount;
  if (head.mountPoint(mount) == tarvik::kNtripHeadOK && mount.size() >= head.target.size())
    Fail("a mount point longer than its target");
  const tarvik::NtripCredentials c = tarvik::ParseNtripAuthorization(head.field("Authorization"));
  if (c.kind == tarvik::NtripCredentials::kBasic && c.user.find(':') != std::string::npos)
    Fail("a user name with a colon");
  return 0;
}
