#include "runtime/SocketErrors.h"

#include <netdb.h>

#include <cerrno>
#include <initializer_list>
#include <utility>

namespace tarvik {

int WinSockErrorFromErrno(int err) {
  switch (err) {
    case EINTR:
      return wsa::EINTR_;
    case EACCES:
      return wsa::EACCES_;
    case EFAULT:
      return wsa::EFAULT_;
    case EINVAL:
      return wsa::EINVAL_;
    case EMFILE:
    case ENFILE:
      return wsa::EMFILE_;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN:
      return wsa::EWOULDBLOCK_;
    case EINPROGRESS:
      return wsa::EINPROGRESS_;
    case EALREADY:
      return wsa::EALREADY_;
    case EBADF:
    case ENOTSOCK:
      return wsa::ENOTSOCK_;
    case EMSGSIZE:
      return wsa::EMSGSIZE_;
    case EPROTOTYPE:
      return wsa::EPROTOTYPE_;
    case EPROTONOSUPPORT:
      return wsa::EPROTONOSUPPORT_;
    case ESOCKTNOSUPPORT:
      return wsa::ESOCKTNOSUPPORT_;
    case EOPNOTSUPP:
      return wsa::EOPNOTSUPP_;
    case EAFNOSUPPORT:
      return wsa::EAFNOSUPPORT_;
    case EADDRINUSE:
      return wsa::EADDRINUSE_;
    case EADDRNOTAVAIL:
      return wsa::EADDRNOTAVAIL_;
    case ENETDOWN:
      return wsa::ENETDOWN_;
    case ENETUNREACH:
      return wsa::ENETUNREACH_;
    case ENETRESET:
      return wsa::ENETRESET_;
    case ECONNABORTED:
      return wsa::ECONNABORTED_;
    case ECONNRESET:
      return wsa::ECONNRESET_;
    case ENOBUFS:
    case ENOMEM:
      return wsa::ENOBUFS_;
    case EISCONN:
      return wsa::EISCONN_;
    case ENOTCONN:
      return wsa::ENOTCONN_;
    case EPIPE:
    case ESHUTDOWN:
      return wsa::ESHUTDOWN_;
    case ETIMEDOUT:
      return wsa::ETIMEDOUT_;
    case ECONNREFUSED:
      return wsa::ECONNREFUSED_;
    case EHOSTUNREACH:
      return wsa::EHOSTUNREACH_;
    default:
      return err;
  }
}

int WinSockErrorFromHerrno(int herr) {
  switch (herr) {
    case HOST_NOT_FOUND:
      return wsa::HOST_NOT_FOUND_;
    case TRY_AGAIN:
      return wsa::TRY_AGAIN_;
    case NO_RECOVERY:
      return wsa::NO_RECOVERY_;
    case NO_DATA:
      return wsa::NO_DATA_;
    default:
      return herr;
  }
}

namespace {

using Row = std::pair<int, const char*>;

const char* find(std::initializer_list<Row> rows, int code) {
  for (const Row& r : rows)
    if (r.first == code) return r.second;
  return nullptr;
}

constexpr const char* kUnknown = "unknown problems!";
constexpr const char* kStartup = "A successful WSAStartup must occur before using this function.";
constexpr const char* kNetDown = "The network subsystem has failed.";
constexpr const char* kNotSock = "The descriptor is not a socket.";

const char* lookup(SocketCall call, int code) {
  switch (call) {
    case SocketCall::HostByName:
      return find({{10004, "A blocking call was canceled. "},
                   {10014, "The name argument is not a valid part of the user address space."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10050, kNetDown},
                   {10093, "need to call WSAStartup to initialize socket system on Window system."},
                   {11001, "Authoritative Answer Host not found."},
                   {11002, "Non-Authoritative Host not found, or server failure."},
                   {11003, "Nonrecoverable error occurred."},
                   {11004, "Valid name, no data record of requested type."}},
                  code);
    case SocketCall::HostByAddress:
      return find({{10093, kStartup},
                   {10050, kNetDown},
                   {11001, "Authoritative Answer Host not found."},
                   {11002, "Non-Authoritative Host not found, or server failed."},
                   {11003, "Nonrecoverable error occurred."},
                   {11004, "Valid name, no data record of requested type."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10047, "The type specified is not supported by the socket implementation."},
                   {10014,
                    "The address argument is not a valid part of the user address space, "
                    "or the length argument is too small."},
                   {10004, "A blocking call was canceled. "}},
                  code);
    case SocketCall::Create:
      return find({{10024, "No more socket descriptors are available."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10041, "The specified protocol is the wrong type for this socket."},
                   {10043, "The specified protocol is not supported."},
                   {10044, "The specified socket type is not supported in this address family."},
                   {10047, "The specified address family is not supported."},
                   {10050, "The network subsystem or the associated service provider has failed."},
                   {10055, "No buffer space is available. The socket cannot be created."},
                   {10093, "Successful WSAStartup must occur before using this function."}},
                  code);
    case SocketCall::Bind:
      return find({{10014,
                    "The name or the namelen parameter is not a valid part of the user "
                    "address space, "
                    "the namelen parameter is too small, or the address family does not match. "},
                   {10022, "The socket is already bound to an address. "},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10038, kNotSock},
                   {10048, "The specified address is already in use. "},
                   {10049, "The specified address is not a valid address for this machine."},
                   {10050, kNetDown},
                   {10055, "Not enough buffers available, too many connections."},
                   {10093, kStartup}},
                  code);
    case SocketCall::Recv:
      return find({{10004, "The blocking call was canceled. "},
                   {10014,
                    "The buffer parameter is not completely contained in a valid part of "
                    "the user address space."},
                   {10022, "The socket has not been bound, or the flags are not valid. "},
                   {10035, "The socket is marked as nonblocking and the receive operation would block."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10038, kNotSock},
                   {10040, "The message was too large to fit into the specified buffer and was truncated."},
                   {10045, "The operation is not supported for this type of socket. "},
                   {10050, kNetDown},
                   {10052,
                    "The connection has been broken due to keep-alive activity detecting a "
                    "failure while the operation was in progress."},
                   {10053,
                    "The virtual circuit was terminated due to a time-out or other failure. "
                    "The connection was aborted."},
                   {10054,
                    "The virtual circuit was reset by the remote side executing a hard or "
                    "abortive close."},
                   {10057, "The socket is not connected."},
                   {10058,
                    "The socket has been shut down; "
                    "it is not possible to receive on a socket after shutdown."},
                   {10060,
                    "The connection has been dropped because of a network failure or because "
                    "the peer system failed to respond."},
                   {10093, kStartup}},
                  code);
    case SocketCall::Connect:
      return find({{10004, "The blocking call was canceled. "},
                   {10013, "The attempt to connect was forcefully rejected (broadcast address)."},
                   {10014,
                    "The name or the namelen parameter is not a valid part of the user "
                    "address space, or the namelen parameter is too small."},
                   {10022, "The socket is a listening socket. "},
                   {10035,
                    "The socket is marked as nonblocking and the connection cannot be "
                    "completed immediately."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10037, "A nonblocking connect call is in progress on the specified socket."},
                   {10038, kNotSock},
                   {10047, "Addresses in the specified family cannot be used with this socket."},
                   {10048, "The socket's local address is already in use. "},
                   {10049, "The remote address is not a valid address (such as ADDR_ANY)."},
                   {10050, kNetDown},
                   {10051, "The network cannot be reached from this host at this time."},
                   {10055, "No buffer space is available. The socket cannot be connected."},
                   {10056, "The socket is already connected."},
                   {10060, "An attempt to connect timed out without establishing a connection."},
                   {10061, "The attempt to connect was forcefully rejected."},
                   {10093, kStartup}},
                  code);
    case SocketCall::Accept:
      return find({{10004, "The blocking call was canceled. "},
                   {10014,
                    "The addrlen parameter is too small or addr is not a valid part of the "
                    "user address space."},
                   {10022, "The listen function was not invoked prior to accept."},
                   {10024,
                    "The queue is nonempty upon entry to accept and there are no descriptors "
                    "available."},
                   {10035,
                    "The socket is marked as nonblocking and no connections are present to be "
                    "accepted."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10038, kNotSock},
                   {10045,
                    "The referenced socket is not a type that supports connection-oriented "
                    "service."},
                   {10050, kNetDown},
                   {10055, "No buffer space is available."},
                   {10093, "A successful WSAStartup must occur before using this FUNCTION."}},
                  code);
    case SocketCall::Listen:
      return find({{10022, "The socket has not been bound with bind."},
                   {10024, "No more socket descriptors are available."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10038, kNotSock},
                   {10045, "The referenced socket is not of a type that supports the listen operation."},
                   {10048, "The socket's local address is already in use. "},
                   {10050, kNetDown},
                   {10055, "No buffer space is available."},
                   {10056, "The socket is already connected."},
                   {10093, kStartup}},
                  code);
    case SocketCall::Send:
      return find({{10004, "The blocking call was canceled. "},
                   {10013, "The requested address is a broadcast address."},
                   {10014,
                    "The buffer parameter is not completely contained in a valid part of the "
                    "user address space."},
                   {10022, "The socket has not been bound, or the flags are not valid. "},
                   {10035, "The socket is marked as nonblocking and the requested operation would block."},
                   {10036,
                    "A blocking call is in progress, "
                    "or the service provider is still processing a callback function."},
                   {10038, kNotSock},
                   {10040, "The message is larger than the maximum supported by the transport."},
                   {10045, "The operation is not supported for this type of socket. "},
                   {10050, kNetDown},
                   {10052,
                    "The connection has been broken due to keep-alive activity detecting a "
                    "failure while the operation was in progress."},
                   {10053,
                    "The virtual circuit was terminated due to a time-out or other failure. "
                    "The connection was aborted."},
                   {10054,
                    "The virtual circuit was reset by the remote side executing a hard or "
                    "abortive close."},
                   {10055, "No buffer space is available."},
                   {10057, "The socket is not connected."},
                   {10058,
                    "The socket has been shut down; "
                    "it is not possible to send on a socket after shutdown."},
                   {10060,
                    "The connection has been dropped because of a network failure or because "
                    "the system on the other end went down without notice."},
                   {10065, "The remote host cannot be reached from this host at this time."},
                   {10093, kStartup}},
                  code);
  }
  return nullptr;
}

}  // namespace

std::string SocketErrorText(SocketCall call, int code) {
  if (const char* text = lookup(call, code)) return text;
  if (call == SocketCall::HostByName || call == SocketCall::HostByAddress) return "";
  return kUnknown;
}

}  // namespace tarvik
