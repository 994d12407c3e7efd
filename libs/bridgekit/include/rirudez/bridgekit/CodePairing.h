#pragma once

// Code pairing: a numeric pairing code entered by the user is exchanged over HTTPS (POST "/pair") for the
// bridge's token. With a fingerprint known in advance (from discovery) the request is pinned to it; without,
// the certificate is trusted on first use and its fingerprint must equal the one the bridge reports.

#include "rirudez/bridgekit/BridgeClientError.h"
#include "rirudez/bridgekit/BridgeDiscovery.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

namespace rirudez {

struct RedeemedBridge {
    Pairing pairing;
    QString name;       // the bridge's name
    QStringList agents; // agent names
    int protocolVersion = 0;
    bool operator==(const RedeemedBridge &) const = default;
};

class CodePairingError final : public BridgeKitError {
public:
    struct WrongCode {
        int attemptsLeft = 0;
        bool operator==(const WrongCode &) const = default;
    };
    struct Http {
        int status = 0; // 0 when the answer was not an HTTP response
        bool operator==(const Http &) const = default;
    };
    struct BadURL {
        bool operator==(const BadURL &) const = default;
    };
    struct FingerprintMismatch {
        bool operator==(const FingerprintMismatch &) const = default;
    };
    struct Locked {
        bool operator==(const Locked &) const = default;
    };
    using Value = std::variant<WrongCode, Http, BadURL, FingerprintMismatch, Locked>;

    CodePairingError(Value value);
    template <typename Case>
    requires detail::IsAlternative<Case, Value>::value CodePairingError(Case value)
        : CodePairingError(Value(std::move(value))) {}
    CodePairingError(const CodePairingError &other);
    CodePairingError &operator=(const CodePairingError &other);

    static CodePairingError wrongCode(int attemptsLeft) { return WrongCode{attemptsLeft}; }
    static CodePairingError http(int status) { return Http{status}; }
    static CodePairingError badURL() { return BadURL{}; }
    static CodePairingError fingerprintMismatch() { return FingerprintMismatch{}; }
    static CodePairingError locked() { return Locked{}; }

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

    friend bool operator==(const CodePairingError &a, const CodePairingError &b) {
        return a.m_value == b.m_value;
    }

private:
    Value m_value;
};

namespace CodePairing {

// Wire records of the exchange. Granted answers 200 (every key required), Wrong answers 401.
struct Granted {
    QString token;
    QString name;
    QStringList agents;
    int protocol = 0;
    QString fp; // the fingerprint the bridge reports for its own certificate
    bool operator==(const Granted &) const = default;
};
struct Wrong {
    int attemptsLeft = 0; // "attempts_left"
    bool operator==(const Wrong &) const = default;
};
Expected<Granted, DecodingError> decodeGranted(QByteArrayView bytes);
Expected<Wrong, DecodingError> decodeWrong(QByteArrayView bytes);

// Keeps every numeric character of the code, in order, and drops everything else. May be empty.
QString normalize(const QString &code);

// POST "https://host:port/pair" {"code": normalize(code)} with an 8-second time limit, pinned to
// `expectedFingerprint` when given, trust-on-first-use otherwise. 429: locked; 401: wrongCode(attempts_left,
// or 0 when the body does not say); other non-200: http(status) (http(0) when not HTTP); badURL. On 200 the
// observed fingerprint (the expected one, or the one seen during this exchange) must equal, ignoring letter
// case, the "fp" the bridge reports, else fingerprintMismatch. The resulting pairing holds the lower-cased
// observed fingerprint. A body that does not decode throws DecodingFailure; transport failures
// TransportError.
QCoro::Task<RedeemedBridge> redeem(QString host, int port, QString code,
                                   std::optional<QString> expectedFingerprint);

// A bridge found on the network: its endpoint is resolved (BridgeDiscovery::resolveEndpoint, allowing
// `resolveTimeout`; its errors propagate), then the code is redeemed there exactly as above with the
// fingerprint the bridge advertised as the expected one (trust on first use when it advertised none).
QCoro::Task<RedeemedBridge> redeem(BridgeDiscovery::Found found, QString code,
                                   std::chrono::milliseconds resolveTimeout);

} // namespace CodePairing

} // namespace rirudez
