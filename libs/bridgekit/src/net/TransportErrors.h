#pragma once

// Maps Qt's socket and reply errors to TransportError.

#include "rirudez/bridgekit/BridgeClientError.h"

#include <QAbstractSocket>
#include <QNetworkReply>

namespace rirudez::detail {

inline TransportError::Kind transportKind(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return TransportError::Kind::tlsRefused;
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::UnsupportedSocketOperationError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyNotFoundError:
        return TransportError::Kind::connectionFailed;
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ProxyConnectionClosedError:
        return TransportError::Kind::connectionLost;
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return TransportError::Kind::timedOut;
    default:
        return TransportError::Kind::other;
    }
}

inline TransportError::Kind transportKind(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::SslHandshakeFailedError:
        return TransportError::Kind::tlsRefused;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return TransportError::Kind::connectionFailed;
    case QNetworkReply::RemoteHostClosedError:
        return TransportError::Kind::connectionLost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return TransportError::Kind::timedOut;
    default:
        return TransportError::Kind::other;
    }
}

} // namespace rirudez::detail
