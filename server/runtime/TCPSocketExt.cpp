#include "runtime/TCPSocketExt.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>

#include "runtime/HostEntry.h"
#include "runtime/SocketErrors.h"
#include "runtime/TCPException.h"

namespace tarvik {

namespace detail {
void acquireNetworking();
void releaseNetworking();
}  // namespace detail

TCPSocketExt::TCPSocketExt(uint16_t port) : TCPSocket(port) {
  if (handle_ >= 0) {
    detail::acquireNetworking();
    holdsNetworking_ = true;
  }
}

TCPSocketExt::TCPSocketExt(AdoptHandle tag, int handle) : TCPSocket(tag, handle) {
  detail::acquireNetworking();
  holdsNetworking_ = true;
}

std::unique_ptr<TCPSocketExt> TCPSocketExt::adopt(int handle) {
  return std::unique_ptr<TCPSocketExt>(new TCPSocketExt(AdoptHandle{}, handle));
}

TCPSocketExt::~TCPSocketExt() {
  // This socket's use of the stack ends; the stack itself stays up for the
  // listening socket and the other sessions.
  if (holdsNetworking_) detail::releaseNetworking();
  close();
}

bool TCPSocketExt::connect(const std::string& host, int kind) {
  try {
    HostEntry entry(host, kind);
    std::vector<in_addr> addresses = entry.addresses();
    if (addresses.empty())
      throw TCPException(entry.errorCode(), "error calling connect(): " + entry.errorText());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr = addresses.front();
    if (::connect(handle_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
      int code = WinSockErrorFromErrno(errno);
      throw TCPException(code, "error calling connect(): " + SocketErrorText(SocketCall::Connect, code));
    }
    return true;
  } catch (const TCPException& e) {
    recordError(e.code(), e.message());
    return false;
  }
}

bool TCPSocketExt::close() {
  closeHandle();
  return true;
}

}  // namespace tarvik
