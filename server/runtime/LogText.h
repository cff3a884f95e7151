#pragma once
// Text from outside (a client's request, a peer's name) on its way into a
// log line: control characters are written as escapes, so that the text
// stays on its line and cannot pose as a line of its own.

#include <string>
#include <string_view>

namespace tarvik {

// CR, LF and tab as "\r", "\n", "\t"; every other byte below 0x20 and DEL as
// "\xHH". Everything else, bytes above 0x7F included, is kept.
std::string LogSafeText(std::string_view text);

}  // namespace tarvik
