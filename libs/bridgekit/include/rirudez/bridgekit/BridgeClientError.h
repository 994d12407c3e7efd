#pragma once

// The typed errors of the network half of the bridge kit. Every error thrown by BridgeClient, the health
// probe and code pairing derives from BridgeKitError, so a caller can catch one type and show
// `localizedDescription()` to the user or `diagnosticText()` in a diagnostic view. Neither text ever contains
// the bearer token.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>
#include <type_traits>
#include <variant>

namespace rirudez {

namespace detail {
template <typename T, typename Variant>
struct IsAlternative;
template <typename T, typename... Cases>
struct IsAlternative<T, std::variant<Cases...>> : std::disjunction<std::is_same<T, Cases>...> {};
} // namespace detail

class BridgeKitError : public std::exception {
public:
    // The case name and its payload, e.g. `turnFailed("agent crashed")` or `http(503)`.
    virtual QString diagnosticText() const = 0;
    // A short sentence for the user.
    virtual QString localizedDescription() const = 0;
    // The diagnostic text as UTF-8, for std::exception users (test output, crash reports).
    const char *what() const noexcept override;

protected:
    // Derived classes call this once their value is set, so what() has stable storage.
    void cacheWhat();

private:
    QByteArray m_what;
};

// Error of the bridge client and of the health probe.
class BridgeClientError final : public BridgeKitError {
public:
    struct HandshakeFailed {
        QString message;
        bool operator==(const HandshakeFailed &) const = default;
    };
    struct ProtocolMismatch {
        int bridge = 0;
        int client = 0;
        bool operator==(const ProtocolMismatch &) const = default;
    };
    struct Http {
        int status = 0; // 0 when the answer was not an HTTP response
        bool operator==(const Http &) const = default;
    };
    struct TurnFailed {
        QString message;
        bool operator==(const TurnFailed &) const = default;
    };
    struct BadURL {
        bool operator==(const BadURL &) const = default;
    };
    struct FingerprintMissing {
        bool operator==(const FingerprintMissing &) const = default;
    };
    struct Unauthorized {
        bool operator==(const Unauthorized &) const = default;
    };
    struct NotConnected {
        bool operator==(const NotConnected &) const = default;
    };
    struct TurnInFlight {
        bool operator==(const TurnInFlight &) const = default;
    };
    struct TurnCancelled {
        bool operator==(const TurnCancelled &) const = default;
    };
    struct ConnectionClosed {
        bool operator==(const ConnectionClosed &) const = default;
    };

    using Value =
        std::variant<HandshakeFailed, ProtocolMismatch, Http, TurnFailed, BadURL, FingerprintMissing,
                     Unauthorized, NotConnected, TurnInFlight, TurnCancelled, ConnectionClosed>;

    BridgeClientError(Value value);
    template <typename Case>
    requires detail::IsAlternative<Case, Value>::value BridgeClientError(Case value)
        : BridgeClientError(Value(std::move(value))) {}
    BridgeClientError(const BridgeClientError &other);
    BridgeClientError &operator=(const BridgeClientError &other);

    static BridgeClientError handshakeFailed(QString message) { return HandshakeFailed{std::move(message)}; }
    static BridgeClientError protocolMismatch(int bridge, int client) {
        return ProtocolMismatch{bridge, client};
    }
    static BridgeClientError http(int status) { return Http{status}; }
    static BridgeClientError turnFailed(QString message) { return TurnFailed{std::move(message)}; }
    static BridgeClientError badURL() { return BadURL{}; }
    static BridgeClientError fingerprintMissing() { return FingerprintMissing{}; }
    static BridgeClientError unauthorized() { return Unauthorized{}; }
    static BridgeClientError notConnected() { return NotConnected{}; }
    static BridgeClientError turnInFlight() { return TurnInFlight{}; }
    static BridgeClientError turnCancelled() { return TurnCancelled{}; }
    static BridgeClientError connectionClosed() { return ConnectionClosed{}; }

    // The error a bridge `error` frame stands for: turn_cancelled, turn_in_flight and unauthorized map to
    // their own cases; every other code, an unknown one or none at all gives turnFailed(message).
    static BridgeClientError from(const std::optional<ErrorCode> &code, const QString &message);

    const Value &value() const { return m_value; }
    template <typename Case>
    const Case *as() const {
        return std::get_if<Case>(&m_value);
    }
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(m_value);
    }

    QString diagnosticText() const override;
    QString localizedDescription() const override;

    friend bool operator==(const BridgeClientError &a, const BridgeClientError &b) {
        return a.m_value == b.m_value;
    }

private:
    Value m_value;
};

// A transport failure: TLS refused (a pin mismatch among others), connection refused or lost, time limit
// reached. It is passed on unchanged by the client, the health probe and code pairing.
class TransportError final : public BridgeKitError {
public:
    enum class Kind {
        tlsRefused,       // the TLS handshake failed; a certificate not matching the pin lands here
        connectionFailed, // refused, unreachable, host not found
        connectionLost,   // the peer closed or reset an established connection
        timedOut,         // the request's time limit ran out
        other,
    };

    TransportError(Kind kind, QString detail);

    Kind kind() const { return m_kind; }
    // What the transport said, for diagnostics (e.g. Qt's error string).
    const QString &detail() const { return m_detail; }

    QString diagnosticText() const override;
    QString localizedDescription() const override;

private:
    Kind m_kind;
    QString m_detail;
};

// A frame or a body that could not be decoded (for example an unknown "type").
class DecodingFailure final : public BridgeKitError {
public:
    explicit DecodingFailure(DecodingError error);

    const DecodingError &error() const { return m_error; }

    QString diagnosticText() const override;
    QString localizedDescription() const override;

private:
    DecodingError m_error;
};

} // namespace rirudez
