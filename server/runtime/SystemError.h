#pragma once
// Failures of the thread, semaphore and event wrappers: the call's prefix,
// ": " and the system's sentence for the error, code = errno.

#include <string>

namespace tarvik {

// ": " followed by the system's text for `err`, at most 254 characters.
std::string SystemErrorText(int err);

[[noreturn]] void ThrowSystemError(const std::string& prefix, int err);

}  // namespace tarvik
