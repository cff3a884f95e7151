#pragma once
// Which names and Host headers stand for this machine's loopback interface.

#include <string_view>

namespace tarvik {

// "localhost" (any case), "::1" or a dotted quad of 127.0.0.0/8.
bool IsLoopbackAddress(std::string_view address);

// A Host header naming a loopback address: "localhost", a dotted quad of
// 127.0.0.0/8 or "[::1]", each with an optional ":port". Anything else, such
// as "127.evil.example", a name that merely resolves to 127.0.0.1, is not.
bool IsLoopbackHost(std::string_view host);

}  // namespace tarvik
