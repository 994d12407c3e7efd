#include "rirudez/bridgekit/BridgeClientError.h"

#include <QStringLiteral>

namespace rirudez {

using namespace Qt::StringLiterals;

namespace {

// A payload text written as a quoted literal, so diagnostics show where it starts and ends.
QString quoted(const QString &text) {
    QString escaped = text;
    escaped.replace(u"\\"_s, u"\\\\"_s).replace(u"\""_s, u"\\\""_s);
    return u"\""_s + escaped + u"\""_s;
}

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

} // namespace

const char *BridgeKitError::what() const noexcept {
    return m_what.constData();
}

void BridgeKitError::cacheWhat() {
    m_what = diagnosticText().toUtf8();
}

// ---------------------------------------------------------------------------------------------------------------

BridgeClientError::BridgeClientError(Value value) : m_value(std::move(value)) {
    cacheWhat();
}

BridgeClientError::BridgeClientError(const BridgeClientError &other)
    : BridgeKitError(other), m_value(other.m_value) {}

BridgeClientError &BridgeClientError::operator=(const BridgeClientError &other) {
    BridgeKitError::operator=(other);
    m_value = other.m_value;
    return *this;
}

BridgeClientError BridgeClientError::from(const std::optional<ErrorCode> &code, const QString &message) {
    if (code) {
        if (const std::optional<ErrorCode::Known> known = code->known()) {
            switch (*known) {
            case ErrorCode::turnCancelled:
                return turnCancelled();
            case ErrorCode::turnInFlight:
                return turnInFlight();
            case ErrorCode::unauthorized:
                return unauthorized();
            default:
                break;
            }
        }
    }
    return turnFailed(message);
}

QString BridgeClientError::diagnosticText() const {
    return std::visit(
        Overloaded{
            [](const HandshakeFailed &c) { return u"handshakeFailed("_s + quoted(c.message) + u")"_s; },
            [](const ProtocolMismatch &c) {
                return u"protocolMismatch(bridge: %1, client: %2)"_s.arg(c.bridge).arg(c.client);
            },
            [](const Http &c) { return u"http(%1)"_s.arg(c.status); },
            [](const TurnFailed &c) { return u"turnFailed("_s + quoted(c.message) + u")"_s; },
            [](const BadURL &) { return u"badURL"_s; },
            [](const FingerprintMissing &) { return u"fingerprintMissing"_s; },
            [](const Unauthorized &) { return u"unauthorized"_s; },
            [](const NotConnected &) { return u"notConnected"_s; },
            [](const TurnInFlight &) { return u"turnInFlight"_s; },
            [](const TurnCancelled &) { return u"turnCancelled"_s; },
            [](const ConnectionClosed &) { return u"connectionClosed"_s; },
        },
        m_value);
}

QString BridgeClientError::localizedDescription() const {
    return std::visit(
        Overloaded{
            [](const HandshakeFailed &c) {
                return u"The Zad Ezarur did not complete the handshake: %1"_s.arg(c.message);
            },
            [](const ProtocolMismatch &c) {
                return u"The Zad Ezarur speaks protocol %1, but this app speaks protocol %2."_s.arg(c.bridge)
                    .arg(c.client);
            },
            [](const Http &c) {
                return c.status == 0 ? u"The Zad Ezarur did not answer over HTTP."_s
                                     : u"The Zad Ezarur answered with HTTP status %1."_s.arg(c.status);
            },
            [](const TurnFailed &c) { return u"The Zad Ezarur reported an error: %1"_s.arg(c.message); },
            [](const BadURL &) { return u"The Zad Ezarur's address is not valid."_s; },
            [](const FingerprintMissing &) {
                return u"The pairing has no certificate fingerprint; pair with the Zad Ezarur again."_s;
            },
            [](const Unauthorized &) { return u"The Zad Ezarur refused the pairing token."_s; },
            [](const NotConnected &) { return u"Not connected to the Zad Ezarur."_s; },
            [](const TurnInFlight &) { return u"A turn is already running."_s; },
            [](const TurnCancelled &) { return u"The turn was cancelled."_s; },
            [](const ConnectionClosed &) { return u"The connection to the Zad Ezarur was closed."_s; },
        },
        m_value);
}

// ---------------------------------------------------------------------------------------------------------------

TransportError::TransportError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {
    cacheWhat();
}

QString TransportError::diagnosticText() const {
    QString kindName;
    switch (m_kind) {
    case Kind::tlsRefused:
        kindName = u"tlsRefused"_s;
        break;
    case Kind::connectionFailed:
        kindName = u"connectionFailed"_s;
        break;
    case Kind::connectionLost:
        kindName = u"connectionLost"_s;
        break;
    case Kind::timedOut:
        kindName = u"timedOut"_s;
        break;
    case Kind::other:
        kindName = u"other"_s;
        break;
    }
    return u"transport."_s + kindName + u"("_s + quoted(m_detail) + u")"_s;
}

QString TransportError::localizedDescription() const {
    switch (m_kind) {
    case Kind::tlsRefused:
        return u"The secure connection to the Zad Ezarur was refused: its certificate does not match the pairing."_s;
    case Kind::connectionFailed:
        return u"Could not reach the Zad Ezarur."_s;
    case Kind::connectionLost:
        return u"The connection to the Zad Ezarur was lost."_s;
    case Kind::timedOut:
        return u"The Zad Ezarur did not answer in time."_s;
    case Kind::other:
        break;
    }
    return u"The connection to the Zad Ezarur failed."_s;
}

// ---------------------------------------------------------------------------------------------------------------

DecodingFailure::DecodingFailure(DecodingError error) : m_error(std::move(error)) {
    cacheWhat();
}

QString DecodingFailure::diagnosticText() const {
    return u"decodingFailed("_s + quoted(m_error.description) + u")"_s;
}

QString DecodingFailure::localizedDescription() const {
    return u"The Zad Ezarur sent something this app cannot read."_s;
}

} // namespace rirudez
