#pragma once
// The error object of the runtime layer: a system error code and a text.
//
// The socket layer builds one for every failing socket call and mostly
// swallows it itself (returning a code or false); the thread, semaphore and
// event wrappers let it reach their caller. Thrown and caught by value.

#include <string>
#include <utility>

namespace tarvik {

class TCPException {
 public:
  TCPException(int code, std::string message) : code_(code), message_(std::move(message)) {}
  virtual ~TCPException() = default;
  TCPException(const TCPException&) = default;
  TCPException& operator=(const TCPException&) = default;

  // WinSock error number for socket calls, errno for the thread layer,
  // 0 when the failure has no system code.
  int code() const { return code_; }
  // The failed call's prefix followed by the explanation.
  const std::string& message() const { return message_; }

  // Diagnostic hook; has no visible output.
  virtual void report() const {}

 private:
  int code_;
  std::string message_;
};

}  // namespace tarvik
