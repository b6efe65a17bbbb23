#pragma once

#include <QAbstractSocket>

// Error codes in the link's status texts use the Winsock numbering on every platform, so the
// texts read the same wherever the tool runs and match what engineers know from the field.
namespace platform {

namespace wsa {
inline constexpr int Interrupted = 10004; // WSAEINTR
inline constexpr int AccessDenied = 10013; // WSAEACCES
inline constexpr int InvalidArgument = 10022; // WSAEINVAL
inline constexpr int TooManySockets = 10024; // WSAEMFILE
inline constexpr int WouldBlock = 10035; // WSAEWOULDBLOCK
inline constexpr int MessageSize = 10040; // WSAEMSGSIZE
inline constexpr int NotSupported = 10045; // WSAEOPNOTSUPP
inline constexpr int AddressInUse = 10048; // WSAEADDRINUSE
inline constexpr int AddressNotAvailable = 10049; // WSAEADDRNOTAVAIL
inline constexpr int NetworkDown = 10050; // WSAENETDOWN
inline constexpr int NetworkUnreachable = 10051; // WSAENETUNREACH
inline constexpr int ConnectionAborted = 10053; // WSAECONNABORTED
inline constexpr int ConnectionReset = 10054; // WSAECONNRESET
inline constexpr int NoBufferSpace = 10055; // WSAENOBUFS
inline constexpr int IsConnected = 10056; // WSAEISCONN
inline constexpr int TimedOut = 10060; // WSAETIMEDOUT
inline constexpr int ConnectionRefused = 10061; // WSAECONNREFUSED
inline constexpr int HostUnreachable = 10065; // WSAEHOSTUNREACH
inline constexpr int HostNotFound = 11001; // WSAHOST_NOT_FOUND
} // namespace wsa

enum class SocketPhase {
    Connect, // while connecting
    Established, // on a connection that was made
};

// Maps what Qt reports onto the Winsock code. Qt folds several system errors into
// NetworkError and keeps them apart only in the (English) error string; the table in the
// implementation says which is which.
int WsaErrorCode(QAbstractSocket::SocketError error, const QString &errorString, SocketPhase phase);

// What a Winsock code means, in a few plain words ("connection refused"); empty for a code
// outside the table.
QString WsaErrorName(int code);

} // namespace platform
