#pragma once
// A connected socket that can also connect out and close itself.

#include <cstdint>
#include <string>

#include "runtime/TCPSocket.h"

namespace tarvik {

class TCPSocketExt : public TCPSocket {
 public:
  // A socket for connecting out to `port`.
  explicit TCPSocketExt(uint16_t port);
  // An accepted connection: carries only its handle.
  static std::unique_ptr<TCPSocketExt> adopt(int handle);
  ~TCPSocketExt() override;

  // Resolves `host` (kind 0 = name, 1 = dotted address), connects to its
  // first address on the socket's port. false on failure.
  virtual bool connect(const std::string& host, int kind);
  // Closes the handle; always true.
  virtual bool close();

 private:
  TCPSocketExt(AdoptHandle tag, int handle);
  bool holdsNetworking_ = false;
};

}  // namespace tarvik
