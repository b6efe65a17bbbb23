#include "SocketErrors.h"

namespace platform {

// Qt socket error                 | while connecting               | on an established connection
// --------------------------------+--------------------------------+------------------------------
// ConnectionRefusedError          | 10061 refused                  | 10061
// RemoteHostClosedError           | 10054 reset                    | 10054 (a plain close is not an
//                                 |                                |  error: the link reports it as
//                                 |                                |  the device closing)
// HostNotFoundError               | 11001                          | 11001
// SocketAccessError               | 10013                          | 10013
// SocketResourceError             | 10055                          | 10055
// SocketTimeoutError              | 10060 timed out (our 3 s bound)| 10060
// DatagramTooLargeError           | 10040                          | 10040
// NetworkError, by error string:  |                                |
//   "Connection timed out"        | 10060                          | 10060
//   "Host unreachable"            | 10065                          | 10065
//   "Network unreachable"         | 10051                          | 10051
//   "Address already in use"      | 10048                          | 10048
//   "Connection reset by peer"    | 10054                          | 10054
//   anything else                 | 10050 network down             | 10053 aborted
// AddressInUseError               | 10048                          | 10048
// SocketAddressNotAvailableError  | 10049                          | 10049
// UnsupportedSocketOperationError | 10045                          | 10045
// UnfinishedSocketOperationError, |                                |
//   TemporaryError                | 10035                          | 10035
// OperationError                  | 10022                          | 10056
// anything else (proxy, TLS,      | 10050                          | 10053
//   UnknownSocketError)           |                                |
int WsaErrorCode(QAbstractSocket::SocketError error, const QString &errorString, SocketPhase phase)
{
    const bool established = phase == SocketPhase::Established;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return wsa::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return wsa::ConnectionReset;
    case QAbstractSocket::HostNotFoundError:
        return wsa::HostNotFound;
    case QAbstractSocket::SocketAccessError:
        return wsa::AccessDenied;
    case QAbstractSocket::SocketResourceError:
        return wsa::NoBufferSpace;
    case QAbstractSocket::SocketTimeoutError:
        return wsa::TimedOut;
    case QAbstractSocket::DatagramTooLargeError:
        return wsa::MessageSize;
    case QAbstractSocket::NetworkError:
        if (errorString.contains(QLatin1String("timed out"), Qt::CaseInsensitive))
            return wsa::TimedOut;
        if (errorString.contains(QLatin1String("Host unreachable"), Qt::CaseInsensitive))
            return wsa::HostUnreachable;
        if (errorString.contains(QLatin1String("Network unreachable"), Qt::CaseInsensitive))
            return wsa::NetworkUnreachable;
        if (errorString.contains(QLatin1String("already in use"), Qt::CaseInsensitive))
            return wsa::AddressInUse;
        if (errorString.contains(QLatin1String("reset"), Qt::CaseInsensitive))
            return wsa::ConnectionReset;
        return established ? wsa::ConnectionAborted : wsa::NetworkDown;
    case QAbstractSocket::AddressInUseError:
        return wsa::AddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return wsa::AddressNotAvailable;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return wsa::NotSupported;
    case QAbstractSocket::UnfinishedSocketOperationError:
    case QAbstractSocket::TemporaryError:
        return wsa::WouldBlock;
    case QAbstractSocket::OperationError:
        return established ? wsa::IsConnected : wsa::InvalidArgument;
    default:
        return established ? wsa::ConnectionAborted : wsa::NetworkDown;
    }
}

QString WsaErrorName(int code)
{
    switch (code) {
    case wsa::Interrupted:
        return QStringLiteral("interrupted");
    case wsa::AccessDenied:
        return QStringLiteral("access denied");
    case wsa::InvalidArgument:
        return QStringLiteral("invalid argument");
    case wsa::TooManySockets:
        return QStringLiteral("too many open sockets");
    case wsa::WouldBlock:
        return QStringLiteral("operation would block");
    case wsa::MessageSize:
        return QStringLiteral("message too long");
    case wsa::NotSupported:
        return QStringLiteral("operation not supported");
    case wsa::AddressInUse:
        return QStringLiteral("address already in use");
    case wsa::AddressNotAvailable:
        return QStringLiteral("address not available");
    case wsa::NetworkDown:
        return QStringLiteral("network is down");
    case wsa::NetworkUnreachable:
        return QStringLiteral("network unreachable");
    case wsa::ConnectionAborted:
        return QStringLiteral("connection aborted");
    case wsa::ConnectionReset:
        return QStringLiteral("connection reset");
    case wsa::NoBufferSpace:
        return QStringLiteral("no buffer space");
    case wsa::IsConnected:
        return QStringLiteral("already connected");
    case wsa::TimedOut:
        return QStringLiteral("connection timed out");
    case wsa::ConnectionRefused:
        return QStringLiteral("connection refused");
    case wsa::HostUnreachable:
        return QStringLiteral("host unreachable");
    case wsa::HostNotFound:
        return QStringLiteral("host not found");
    default:
        return QString();
    }
}

} // namespace platform
