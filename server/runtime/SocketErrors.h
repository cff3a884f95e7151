#pragma once
// WinSock error numbers and the per-call explanation tables.
//
// Clients and operators know the server's socket errors by their WinSock
// numbers (10053 aborted, 10054 reset, ...), so the runtime keeps those as
// its codes on every platform and maps errno onto them.

#include <string>

namespace tarvik {

namespace wsa {
constexpr int EINTR_ = 10004;
constexpr int EACCES_ = 10013;
constexpr int EFAULT_ = 10014;
constexpr int EINVAL_ = 10022;
constexpr int EMFILE_ = 10024;
constexpr int EWOULDBLOCK_ = 10035;
constexpr int EINPROGRESS_ = 10036;
constexpr int EALREADY_ = 10037;
constexpr int ENOTSOCK_ = 10038;
constexpr int EMSGSIZE_ = 10040;
constexpr int EPROTOTYPE_ = 10041;
constexpr int EPROTONOSUPPORT_ = 10043;
constexpr int ESOCKTNOSUPPORT_ = 10044;
constexpr int EOPNOTSUPP_ = 10045;
constexpr int EAFNOSUPPORT_ = 10047;
constexpr int EADDRINUSE_ = 10048;
constexpr int EADDRNOTAVAIL_ = 10049;
constexpr int ENETDOWN_ = 10050;
constexpr int ENETUNREACH_ = 10051;
constexpr int ENETRESET_ = 10052;
constexpr int ECONNABORTED_ = 10053;
constexpr int ECONNRESET_ = 10054;
constexpr int ENOBUFS_ = 10055;
constexpr int EISCONN_ = 10056;
constexpr int ENOTCONN_ = 10057;
constexpr int ESHUTDOWN_ = 10058;
constexpr int ETIMEDOUT_ = 10060;
constexpr int ECONNREFUSED_ = 10061;
constexpr int EHOSTUNREACH_ = 10065;
constexpr int NOTINITIALISED_ = 10093;
constexpr int HOST_NOT_FOUND_ = 11001;
constexpr int TRY_AGAIN_ = 11002;
constexpr int NO_RECOVERY_ = 11003;
constexpr int NO_DATA_ = 11004;
}  // namespace wsa

// The socket calls that have their own explanation table.
enum class SocketCall { HostByName, HostByAddress, Create, Bind, Recv, Connect, Accept, Listen, Send };

// errno of a failed socket call as its WinSock number (unknown values are
// passed through unchanged, so they fall to the table's default text).
int WinSockErrorFromErrno(int err);

// h_errno of a failed host lookup as its WinSock number.
int WinSockErrorFromHerrno(int herr);

// The explanation text of `code` for `call`: the table text, the call's
// default ("unknown problems!") or empty where the call has no default.
std::string SocketErrorText(SocketCall call, int code);

}  // namespace tarvik
