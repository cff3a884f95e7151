#include "runtime/SystemError.h"

#include <cstdio>
#include <cstring>

#include "runtime/TCPException.h"

namespace tarvik {

std::string SystemErrorText(int err) {
  char sentence[256] = {};
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(err, sentence, sizeof sentence);
  char formatted[255] = {};
  std::snprintf(formatted, sizeof formatted, ": %s", text ? text : "");
  return formatted;
}

void ThrowSystemError(const std::string& prefix, int err) {
  throw TCPException(err, prefix + SystemErrorText(err));
}

}  // namespace tarvik
