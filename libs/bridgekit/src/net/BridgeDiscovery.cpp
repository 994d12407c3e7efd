#include "rirudez/bridgekit/BridgeDiscovery.h"

#include "BridgeBrowser.h"
#include "ServiceResolution.h"

#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QHash>
#include <QPointer>
#include <QTimer>

#include <avahi-common/error.h>

#include <algorithm>

namespace rirudez {

using namespace Qt::StringLiterals;

size_t qHash(const BridgeDiscoveryFound &found, size_t seed) noexcept {
    return qHash(found.id, seed);
}

// ---------------------------------------------------------------------------------------------------------------

BridgeDiscoveryError::BridgeDiscoveryError(Case value) : m_value(value) {
    cacheWhat();
}

QString BridgeDiscoveryError::diagnosticText() const {
    switch (m_value) {
    case Case::unresolvable:
        return u"unresolvable"_s;
    case Case::timeout:
        return u"timeout"_s;
    case Case::cancelled:
        return u"cancelled"_s;
    }
    return {};
}

QString BridgeDiscoveryError::localizedDescription() const {
    switch (m_value) {
    case Case::unresolvable:
        return u"The Zad Ezarur was found, but its address could not be read."_s;
    case Case::timeout:
        return u"The Zad Ezarur's address could not be found in time. Is it still running on the network?"_s;
    case Case::cancelled:
        return u"Looking up the Zad Ezarur's address was cancelled."_s;
    }
    return {};
}

DnsServiceError::DnsServiceError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {
    cacheWhat();
}

QString DnsServiceError::diagnosticText() const {
    const QString name = m_kind == Kind::daemonUnavailable ? u"daemonUnavailable"_s : u"lookupFailed"_s;
    return u"%1(\"%2\")"_s.arg(name, m_detail);
}

QString DnsServiceError::localizedDescription() const {
    if (m_kind == Kind::daemonUnavailable)
        return u"Bridges on the network cannot be found: %1. Install and start avahi-daemon."_s.arg(m_detail);
    return u"The Zad Ezarur's address could not be looked up: %1."_s.arg(m_detail);
}

// ---------------------------------------------------------------------------------------------------------------

BridgeDiscovery::BridgeDiscovery(QObject *parent) : QObject(parent) {}

BridgeDiscovery::~BridgeDiscovery() = default;

void BridgeDiscovery::start() {
    stop();
    // The browser's handlers reach this object only while it lives: the browser dies with it.
    m_browser = std::make_unique<Browser>([this](const QList<BrowseResult> &results) { publish(results); },
                                          [this](bool running) { setBrowsing(running); });
    setBrowsing(m_browser->isRunning());
}

void BridgeDiscovery::stop() {
    m_browser.reset();
    setBrowsing(false);
}

void BridgeDiscovery::setBrowsing(bool browsing) {
    if (m_isBrowsing == browsing)
        return;
    m_isBrowsing = browsing;
    Q_EMIT isBrowsingChanged();
}

void BridgeDiscovery::publish(const QList<BrowseResult> &results) {
    m_bridges = foundList(results);
    Q_EMIT bridgesChanged();
}

QList<BridgeDiscovery::Found> BridgeDiscovery::foundList(const QList<BrowseResult> &results) {
    QList<Found> found;
    found.reserve(results.size());
    for (const BrowseResult &result : results) {
        const auto *service = std::get_if<ServiceEndpoint>(&result.endpoint);
        if (!service)
            continue;
        found.append(Found{service->name, service->name, fingerprintOf(result.txtRecord), result.endpoint});
    }
    // QString's operator< compares UTF-16 code units; compare code points so characters outside the basic
    // plane sort after U+FFFF like everything else.
    std::stable_sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        const QList<uint> left = a.name.toUcs4();
        const QList<uint> right = b.name.toUcs4();
        return std::lexicographical_compare(left.cbegin(), left.cend(), right.cbegin(), right.cend());
    });
    return found;
}

std::optional<QString> BridgeDiscovery::fingerprintOf(const std::optional<QList<QByteArray>> &txtRecord) {
    if (!txtRecord)
        return std::nullopt;
    const QByteArray key = fingerprintKey.toLatin1();
    for (const QByteArray &item : *txtRecord) {
        const qsizetype equals = item.indexOf('=');
        const QByteArray itemKey = item.left(equals < 0 ? item.size() : equals).toLower();
        if (itemKey != key)
            continue;
        // A key without "=" has no value; it still is the first "fp" and an empty one pins nothing.
        return equals < 0 ? QString() : QString::fromUtf8(item.mid(equals + 1)).toLower();
    }
    return std::nullopt;
}

QString BridgeDiscovery::hostText(const QString &host) {
    const QStringList pieces = host.split(u'%', Qt::SkipEmptyParts);
    return pieces.isEmpty() ? host : pieces.front();
}

// ---------------------------------------------------------------------------------------------------------------

QCoro::Task<HostPortEndpoint> BridgeDiscovery::resolve(Found found, std::chrono::milliseconds timeout) {
    co_return co_await resolveEndpoint(std::move(found.endpoint), timeout);
}

namespace {

struct ResolverDeleter {
    void operator()(AvahiServiceResolver *resolver) const { avahi_service_resolver_free(resolver); }
};

} // namespace

QCoro::Task<HostPortEndpoint> BridgeDiscovery::resolveEndpoint(NetworkEndpoint endpoint,
                                                               std::chrono::milliseconds timeout) {
    if (const auto *known = std::get_if<HostPortEndpoint>(&endpoint)) {
        if (known->host.isEmpty() || known->port <= 0 || known->port > 65535)
            throw BridgeDiscoveryError::unresolvable();
        co_return HostPortEndpoint{hostText(known->host), known->port};
    }
    const ServiceEndpoint service = std::get<ServiceEndpoint>(std::move(endpoint));

    // Declared in this order so they go in reverse: the timer, then the resolver, before the client that
    // made it (freeing the client would free the resolver with it).
    qtavahi::QtAvahiClient avahi;
    if (!avahi.isReachable())
        throw DnsServiceError(DnsServiceError::Kind::daemonUnavailable, avahi.problem());
    detail::ServiceResolution resolution;
    std::unique_ptr<AvahiServiceResolver, ResolverDeleter> resolver;
    QTimer deadline;

    // Over IPv4 mDNS the IPv4 address is the one to use; otherwise whichever the daemon finds.
    const AvahiProtocol addressProtocol =
        service.protocol == AVAHI_PROTO_INET ? AVAHI_PROTO_INET : AVAHI_PROTO_UNSPEC;
    const QByteArray name = service.name.toUtf8();
    const QByteArray type = service.type.toUtf8();
    const QByteArray domain = service.domain.toUtf8();
    resolver.reset(avahi_service_resolver_new(
        avahi.client(), AvahiIfIndex(service.interfaceIndex), AvahiProtocol(service.protocol),
        name.constData(), type.constData(), domain.isEmpty() ? nullptr : domain.constData(), addressProtocol,
        AvahiLookupFlags(0), &detail::ServiceResolution::callback, &resolution));
    if (!resolver)
        throw DnsServiceError(DnsServiceError::Kind::lookupFailed,
                              QString::fromUtf8(avahi_strerror(avahi_client_errno(avahi.client()))));

    QObject::connect(&avahi, &qtavahi::QtAvahiClient::clientLost, &avahi, [&] {
        // The client frees its resolvers itself.
        (void)resolver.release();
        resolution.cancelled();
    });
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &deadline, [&] { resolution.timedOut(); });
    deadline.start(std::max(timeout, std::chrono::milliseconds(0)));

    co_return co_await resolution.waiter()->wait();
}

} // namespace rirudez
