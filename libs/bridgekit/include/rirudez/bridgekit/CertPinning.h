#pragma once

// Certificate pinning for every connection to a bridge.
//
// The bridge serves TLS with its own self-signed certificate. Instead of the system's chain-of-trust check
// the client trusts exactly one certificate: the one whose SHA-256 fingerprint (of the leaf's DER bytes, 64
// lower-case hex digits) it learned when pairing. A second mode, trust on first use, accepts any certificate
// but records its fingerprint so code pairing can compare it with what the bridge says about itself.
//
// With Qt this works as follows. Every socket gets an empty CA list and VerifyPeer, so the system can vouch
// for nothing and `sslErrors` fires for every handshake, trusted or not. The handler reads the leaf from the
// connection, hands it to the PinningDelegate, and ignores the errors only when the delegate accepts. Nothing
// is sent before that decision. A refused handshake never completes, so the server receives no application
// data at all.
//
// URLSession is the small session object the client and code pairing open connections on:
//   - every WebSocket is a new QWebSocket (an ignoreSslErrors() on a QWebSocket is remembered across open()
//     calls, so a refused pin could later be accepted if a socket were reused);
//   - HTTP requests go through one QNetworkAccessManager per session. Qt pools connections per host and
//     port, not per TLS configuration, so a session never changes its pin (the delegate's mode is fixed),
//     and sessions are not shared between bridges.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

class QNetworkAccessManager;
class QNetworkReply;
class QObject;
class QWebSocket;

namespace rirudez {

class PinningDelegate {
public:
    // Accept only the certificate whose fingerprint equals this text exactly.
    struct Pin {
        QString fingerprint;
        bool operator==(const Pin &) const = default;
    };
    // Accept any certificate whose fingerprint can be computed.
    struct TrustOnFirstUse {
        bool operator==(const TrustOnFirstUse &) const = default;
    };
    using Mode = std::variant<Pin, TrustOnFirstUse>;

    // The kind of authentication a connection asks for. Only server trust is ever answered.
    enum class AuthenticationMethod { serverTrust, httpBasic, httpDigest, proxy, clientCertificate };

    struct Challenge {
        AuthenticationMethod method = AuthenticationMethod::serverTrust;
        // The certificate chain the server presented, leaf first; absent when the challenge carries none.
        std::optional<QList<QSslCertificate>> serverTrust;
    };

    enum class Disposition {
        useCredential,                // accept the server's certificate
        cancelAuthenticationChallenge // refuse: the connection fails with the transport's error
    };

    explicit PinningDelegate(Mode mode);

    const Mode &mode() const { return m_mode; }

    // Fingerprint of the most recent certificate presented to this delegate, also of a refused one;
    // nothing until a handshake reached the fingerprint step. Safe to read from any thread.
    std::optional<QString> seenFingerprint() const;

    // The decision for one challenge; calls `completionHandler` exactly once, synchronously.
    // Records the fingerprint (under the lock) before comparing it with the pin.
    void urlSession(const Challenge &challenge, const std::function<void(Disposition)> &completionHandler);

    // Convenience form of urlSession() that returns the disposition.
    Disposition decide(const Challenge &challenge);

private:
    const Mode m_mode;
    mutable QMutex m_lock;
    std::optional<QString> m_seenFingerprint;
};

// A session on which bridge connections are opened: a TLS configuration, the delegate that decides on every
// certificate (none for a session that uses the system's trust) and the request time limits.
class URLSession {
public:
    struct Configuration {
        // Idle time limit of a request (no bytes moving), and the limit of its whole lifetime. Absent: Qt's
        // defaults (no limit). A request's own transfer timeout, when set, takes precedence over the first.
        std::optional<std::chrono::milliseconds> timeoutIntervalForRequest;
        std::optional<std::chrono::milliseconds> timeoutIntervalForResource;
        bool operator==(const Configuration &) const = default;
    };

    // `delegate` absent: the system's ordinary certificate checks apply (a self-signed bridge is refused).
    explicit URLSession(Configuration configuration = {},
                        std::shared_ptr<PinningDelegate> delegate = nullptr);
    ~URLSession();
    URLSession(const URLSession &) = delete;
    URLSession &operator=(const URLSession &) = delete;

    // A process-wide session with the system's trust and no delegate. Used where a caller needs "a session"
    // but never opens a bridge connection on it directly (BridgeClient's constructor).
    static std::shared_ptr<URLSession> shared();

    const Configuration &configuration() const { return m_configuration; }
    const std::shared_ptr<PinningDelegate> &delegate() const { return m_delegate; }
    // The TLS configuration of every socket of this session (empty CA list under a delegate, no session
    // resumption, so every handshake presents a certificate).
    QSslConfiguration sslConfiguration() const;

    // A new WebSocket with this session's TLS configuration and certificate decision installed.
    // The caller owns it and calls open() on it; never reuse it for a second attempt.
    QWebSocket *makeWebSocket(QObject *parent = nullptr) const;

    // HTTP requests on the session's network access manager (created on first use, on the calling thread,
    // which must be the thread that uses the session from then on). The reply is owned by the caller.
    QNetworkReply *get(QNetworkRequest request);
    QNetworkReply *post(QNetworkRequest request, const QByteArray &body);

    // Drops pooled HTTP connections, so the next request makes a fresh handshake.
    void clearConnectionCache();

private:
    QNetworkRequest prepare(QNetworkRequest request) const;
    void attach(QNetworkReply *reply) const;
    QNetworkAccessManager *manager();

    Configuration m_configuration;
    std::shared_ptr<PinningDelegate> m_delegate;
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

namespace CertPinning {

// Fingerprint text of the leaf (the first certificate) of a chain: SHA-256 of its DER bytes as 64 lower-case
// hex digits. Nothing for an empty chain or a null leaf. Intermediates and roots play no part.
std::optional<QString> fingerprint(const QList<QSslCertificate> &chain);
std::optional<QString> fingerprint(const QSslCertificate &leaf);

// A session that pins `fingerprint` (lowered here, so upper- and lower-case pins behave the same), with
// request and resource time limits of 12 hours.
std::shared_ptr<URLSession> pinnedSession(const QString &fingerprint);

// A trust-on-first-use session with default time limits, and the delegate that serves it (read its
// `seenFingerprint()` after a request).
std::pair<std::shared_ptr<URLSession>, std::shared_ptr<PinningDelegate>> tofuSession();

} // namespace CertPinning

} // namespace rirudez
