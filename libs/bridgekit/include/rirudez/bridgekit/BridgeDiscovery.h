#pragma once

// Bridges on the local network. Every bridge announces one DNS-SD service of type "_doduzadod._tcp" whose
// instance name is the bridge's name and whose TXT record may carry "fp", the SHA-256 fingerprint of its
// TLS certificate. BridgeDiscovery browses for them through the system's avahi-daemon and publishes the list
// for QML; resolveEndpoint() turns one into a host and port when the user wants to pair with it.
//
//     BridgeDiscovery discovery;
//     connect(&discovery, &BridgeDiscovery::bridgesChanged, ...);
//     discovery.start();
//     ...
//     RedeemedBridge bridge = co_await CodePairing::redeem(discovery.bridges().front(), code, 5s);
//
// Without an avahi-daemon (minimal installs) browsing stays off (`isBrowsing` false, one line in the
// "rirudez.avahi" log) and resolution fails at once with DnsServiceError. Everything runs on the thread that
// made the object, on its Qt event loop.

#include "rirudez/bridgekit/BridgeClientError.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringView>

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <optional>
#include <variant>

namespace rirudez {

// A DNS-SD service instance as the browser reported it; resolving it gives a host and port.
struct ServiceEndpoint {
    QString name;
    QString type;
    QString domain;
    int interfaceIndex = -1; // AVAHI_IF_UNSPEC: any
    int protocol = -1;       // AVAHI_PROTO_UNSPEC: any; AVAHI_PROTO_INET (0), AVAHI_PROTO_INET6 (1)
    bool operator==(const ServiceEndpoint &) const = default;
};

// A host (name or address) and a port, already known.
struct HostPortEndpoint {
    QString host;
    int port = 0;
    bool operator==(const HostPortEndpoint &) const = default;
};

using NetworkEndpoint = std::variant<ServiceEndpoint, HostPortEndpoint>;

// One bridge seen on the network. Equal, and hashed, by `id` alone.
struct BridgeDiscoveryFound {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    // The fingerprint, or an empty text when the bridge advertised none (see hasFingerprint).
    Q_PROPERTY(QString fingerprint READ fingerprintText CONSTANT)
    Q_PROPERTY(bool hasFingerprint READ hasFingerprint CONSTANT)
public:
    QString id;                         // the service instance name
    QString name;                       // the same text: the bridge's name
    std::optional<QString> fingerprint; // TXT "fp" in lower case; absent without TXT record or "fp" key
    NetworkEndpoint endpoint;           // the browse result's endpoint, for resolve()

    QString fingerprintText() const { return fingerprint.value_or(QString()); }
    bool hasFingerprint() const { return fingerprint.has_value(); }
    friend bool operator==(const BridgeDiscoveryFound &a, const BridgeDiscoveryFound &b) {
        return a.id == b.id;
    }
};
size_t qHash(const BridgeDiscoveryFound &found, size_t seed = 0) noexcept;

// Why resolving a discovered bridge failed. No message text of its own beyond the case.
class BridgeDiscoveryError final : public BridgeKitError {
public:
    enum class Case {
        unresolvable, // the service answered but no host and port could be read from it
        timeout,      // nothing within the time allowed
        cancelled,    // the lookup was cancelled before it answered (the daemon went away)
    };

    explicit BridgeDiscoveryError(Case value);
    static BridgeDiscoveryError unresolvable() { return BridgeDiscoveryError(Case::unresolvable); }
    static BridgeDiscoveryError timeout() { return BridgeDiscoveryError(Case::timeout); }
    static BridgeDiscoveryError cancelled() { return BridgeDiscoveryError(Case::cancelled); }

    Case value() const { return m_value; }
    QString diagnosticText() const override;
    QString localizedDescription() const override;
    friend bool operator==(const BridgeDiscoveryError &a, const BridgeDiscoveryError &b) {
        return a.m_value == b.m_value;
    }

private:
    Case m_value;
};

// The machine's DNS-SD service itself failed: no avahi-daemon to ask, or a lookup it reported as failed.
// Passed on unchanged, like a network error.
class DnsServiceError final : public BridgeKitError {
public:
    enum class Kind {
        daemonUnavailable, // no avahi-daemon (or no D-Bus system bus) on this machine
        lookupFailed,      // the daemon refused or gave up the lookup
    };
    DnsServiceError(Kind kind, QString detail);
    Kind kind() const { return m_kind; }
    const QString &detail() const { return m_detail; }
    QString diagnosticText() const override;
    QString localizedDescription() const override;

private:
    Kind m_kind;
    QString m_detail;
};

// One result of the browser: its endpoint and, once looked up, the service's TXT record ("key=value" items
// as sent; nothing when the service has none or the lookup failed).
struct BridgeBrowseResult {
    NetworkEndpoint endpoint;
    std::optional<QList<QByteArray>> txtRecord;
};

class BridgeDiscovery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<rirudez::BridgeDiscoveryFound> bridges READ bridges NOTIFY bridgesChanged)
    Q_PROPERTY(bool isBrowsing READ isBrowsing NOTIFY isBrowsingChanged)
public:
    using Found = BridgeDiscoveryFound;
    using BrowseResult = BridgeBrowseResult;

    static constexpr QStringView serviceType = u"_doduzadod._tcp";
    static constexpr QStringView fingerprintKey = u"fp";

    explicit BridgeDiscovery(QObject *parent = nullptr);
    // Stops browsing; nothing it started outlives it.
    ~BridgeDiscovery() override;

    // Bridges currently seen, sorted by name (code points: "A" < "a" < "b"). Replaced as a whole on every
    // browse update; kept across stop().
    const QList<Found> &bridges() const { return m_bridges; }
    // True from start() while the browser runs; false before start(), after stop(), while the daemon is
    // missing or after the browser failed.
    bool isBrowsing() const { return m_isBrowsing; }

    // (Re)starts browsing the default domains: any running browser is stopped first.
    Q_INVOKABLE void start();
    // Stops the browser, if any, and sets isBrowsing false. bridges stays as it is.
    Q_INVOKABLE void stop();

    // The list rules, applied to the browser's complete current result set: results that are not service
    // endpoints are left out; `fingerprint` is TXT "fp" lower-cased; duplicates stay; sorted (stably) by
    // name in plain code-point order.
    static QList<Found> foundList(const QList<BrowseResult> &results);
    // "fp" of a TXT record (first occurrence, key case-insensitive as DNS-SD keys are), lower-cased.
    static std::optional<QString> fingerprintOf(const std::optional<QList<QByteArray>> &txtRecord);
    // The text of a resolved host, without an IPv6 scope ("fe80::1%eth0" gives "fe80::1").
    static QString hostText(const QString &host);

    // resolveEndpoint(found.endpoint, timeout).
    static QCoro::Task<HostPortEndpoint> resolve(Found found, std::chrono::milliseconds timeout);
    // The host and port of a service, raced against `timeout`. Throws BridgeDiscoveryError (unresolvable,
    // timeout, cancelled) or DnsServiceError (no daemon: at once; the daemon's own lookup failure). A host
    // and port endpoint resolves to itself. The lookup is freed in every outcome before the call returns.
    static QCoro::Task<HostPortEndpoint> resolveEndpoint(NetworkEndpoint endpoint,
                                                         std::chrono::milliseconds timeout);

Q_SIGNALS:
    void bridgesChanged();
    void isBrowsingChanged();

private:
    class Browser;
    void setBrowsing(bool browsing);
    void publish(const QList<BrowseResult> &results);

    QList<Found> m_bridges;
    bool m_isBrowsing = false;
    std::unique_ptr<Browser> m_browser;
};

} // namespace rirudez

Q_DECLARE_METATYPE(rirudez::BridgeDiscoveryFound)
