#include "rirudez/localcontrolplane/LocalServerDiscovery.h"

#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QCollator>
#include <QStringDecoder>
#include <QTimer>
#include <QVariantMap>
#include <QtEndian>

#include <avahi-client/lookup.h>
#include <avahi-common/malloc.h>

#include <algorithm>

namespace rirudez {
using namespace Qt::StringLiterals;

// One service found by the browser, and its resolver for at most resolveTimeoutMs.
struct LocalServerDiscovery::Service {
    AvahiServiceResolver *resolver = nullptr;
    QTimer deadline;

    ~Service() { stop(); }
    void stop() {
        deadline.stop();
        if (resolver)
            avahi_service_resolver_free(std::exchange(resolver, nullptr));
    }
};

// The Avahi side of a search: the client (made on the first search) and its browser.
struct LocalServerDiscovery::Avahi {
    qtavahi::QtAvahiClient client;
    AvahiServiceBrowser *browser = nullptr;
    bool wanted = false; // a search is running: (re)create the browser whenever the daemon is reachable
};

namespace {

LocalServerDiscovery *owner(void *userdata) {
    return static_cast<LocalServerDiscovery *>(userdata);
}

QHostAddress toQHostAddress(const AvahiAddress *address) {
    if (!address)
        return {};
    if (address->proto == AVAHI_PROTO_INET)
        return QHostAddress(qFromBigEndian(address->data.ipv4.address));
    if (address->proto == AVAHI_PROTO_INET6)
        return QHostAddress(address->data.ipv6.address);
    return {};
}

QMap<QByteArray, QByteArray> txtRecord(AvahiStringList *list) {
    QMap<QByteArray, QByteArray> record;
    for (AvahiStringList *item = list; item; item = avahi_string_list_get_next(item)) {
        char *key = nullptr;
        char *value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(item, &key, &value, &size) != 0)
            continue;
        record.insert(QByteArray(key), value ? QByteArray(value, qsizetype(size)) : QByteArray());
        avahi_free(key);
        avahi_free(value);
    }
    return record;
}

// The TXT "provider" value as trimmed UTF-8 text; nothing when missing, not UTF-8 or blank.
std::optional<QString> providerOf(const QMap<QByteArray, QByteArray> &txt) {
    const auto it = txt.constFind("provider");
    if (it == txt.constEnd())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(*it);
    if (decoder.hasError())
        return std::nullopt;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

void onResolved(AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char *name, const char *, const char *, const char *hostName,
                const AvahiAddress *address, uint16_t port, AvahiStringList *txt, AvahiLookupResultFlags,
                void *userdata);

void onBrowsed(AvahiServiceBrowser *, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event, const char *name,
               const char *, const char *, AvahiLookupResultFlags, void *userdata);

} // namespace

QString LocalServerDiscovery::DiscoveredServer::url() const {
    return u"http://"_s + host + u':' + QString::number(qlonglong(port));
}

LocalServerDiscovery::LocalServerDiscovery(QObject *parent) : QObject(parent) {}

LocalServerDiscovery::~LocalServerDiscovery() {
    m_servicesByName.clear();
    closeBrowser();
}

QVariantList LocalServerDiscovery::discoveredServerList() const {
    QVariantList list;
    for (const DiscoveredServer &server : m_discoveredServers)
        list.append(QVariantMap{{u"id"_s, server.id},
                                {u"name"_s, server.name},
                                {u"host"_s, server.host},
                                {u"port"_s, qlonglong(server.port)},
                                {u"provider"_s, server.provider.value_or(QString())},
                                {u"url"_s, server.url()}});
    return list;
}

QList<QString> LocalServerDiscovery::serviceNames() const {
    QList<QString> names;
    for (const auto &[name, service] : m_servicesByName)
        names.append(name);
    return names;
}

void LocalServerDiscovery::setSearching(bool searching) {
    if (m_isSearching == searching)
        return;
    m_isSearching = searching;
    Q_EMIT isSearchingChanged();
}

void LocalServerDiscovery::startSearching() {
    if (m_isSearching)
        return;
    const bool hadServers = !m_discoveredServers.isEmpty();
    m_discoveredServers.clear();
    m_servicesByName.clear();
    setSearching(true);
    if (hadServers)
        Q_EMIT discoveredServersChanged();

    if (!m_avahi) {
        m_avahi = std::make_unique<Avahi>();
        connect(&m_avahi->client, &qtavahi::QtAvahiClient::clientLost, this, [this] {
            // Everything made on the client is about to be freed with it.
            m_avahi->browser = nullptr;
            for (auto &[name, service] : m_servicesByName) {
                service->resolver = nullptr;
                service->deadline.stop();
            }
        });
        connect(&m_avahi->client, &qtavahi::QtAvahiClient::stateChanged, this, [this] {
            if (m_avahi->wanted && !m_avahi->browser && m_avahi->client.isReachable()) {
                m_avahi->browser =
                    avahi_service_browser_new(m_avahi->client.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                              serviceType, domain, AvahiLookupFlags(0), onBrowsed, this);
                if (!m_avahi->browser)
                    didNotSearch();
            }
        });
    }
    m_avahi->wanted = true;
    if (m_avahi->client.isReachable()) {
        m_avahi->browser =
            avahi_service_browser_new(m_avahi->client.client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                      serviceType, domain, AvahiLookupFlags(0), onBrowsed, this);
        if (!m_avahi->browser)
            didNotSearch();
    }
    // Without a reachable daemon the search waits for it (stateChanged above).
}

void LocalServerDiscovery::closeBrowser() {
    if (!m_avahi)
        return;
    m_avahi->wanted = false;
    if (m_avahi->browser)
        avahi_service_browser_free(std::exchange(m_avahi->browser, nullptr));
}

void LocalServerDiscovery::stopSearching() {
    if (!m_isSearching)
        return;
    closeBrowser();
    m_servicesByName.clear(); // stops every resolution
    setSearching(false);
}

void LocalServerDiscovery::didFindService(const QString &name, bool moreComing) {
    auto &slot = m_servicesByName[name];
    slot = std::make_unique<Service>();
    resolve(name);
    if (!moreComing)
        setSearching(true);
}

void LocalServerDiscovery::resolve(const QString &name) {
    Service *service = m_servicesByName.at(name).get();
    if (!m_avahi || !m_avahi->client.isReachable())
        return; // found by hand (tests) or the daemon is gone: nothing to resolve with
    const QByteArray utf8 = name.toUtf8();
    service->resolver = avahi_service_resolver_new(m_avahi->client.client(), AVAHI_IF_UNSPEC,
                                                   AVAHI_PROTO_UNSPEC, utf8.constData(), serviceType, domain,
                                                   AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0), onResolved, this);
    if (!service->resolver)
        return;
    service->deadline.setSingleShot(true);
    service->deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&service->deadline, &QTimer::timeout, this, [service] { service->stop(); });
    service->deadline.start(resolveTimeoutMs);
}

void LocalServerDiscovery::didRemoveService(const QString &name, bool moreComing) {
    removeServiceNamed(name);
    if (!moreComing)
        setSearching(!m_servicesByName.empty());
}

void LocalServerDiscovery::removeServiceNamed(const QString &name) {
    m_servicesByName.erase(name);
    const qsizetype before = m_discoveredServers.size();
    m_discoveredServers.removeIf([&](const DiscoveredServer &server) { return server.name == name; });
    if (m_discoveredServers.size() != before)
        Q_EMIT discoveredServersChanged();
}

void LocalServerDiscovery::didStopSearch() {
    setSearching(false);
}

void LocalServerDiscovery::didNotSearch() {
    closeBrowser();
    setSearching(false);
}

void LocalServerDiscovery::didResolve(const ResolvedService &service) {
    // 1. The host name, or the first address that has a numeric text.
    QString host = service.hostName.trimmed();
    if (host.isEmpty()) {
        for (const QHostAddress &address : service.addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                host = address.toString();
                break;
            }
            if (address.protocol() == QAbstractSocket::IPv6Protocol) {
                QHostAddress withoutScope = address;
                withoutScope.setScopeId(QString());
                host = withoutScope.toString();
                break;
            }
        }
    }
    if (host.isEmpty())
        return;
    // 2. The provider. 3. One trailing dot off.
    const std::optional<QString> provider = providerOf(service.txt);
    if (host.endsWith(u'.'))
        host.chop(1);
    // 4. The entry.
    DiscoveredServer server{service.name + u'-' + host + u'-' + QString::number(qlonglong(service.port)),
                            service.name, host, service.port, provider};
    // 5. In place when known, otherwise appended and the list sorted by name.
    const auto known = std::find_if(m_discoveredServers.begin(), m_discoveredServers.end(),
                                    [&](const DiscoveredServer &s) { return s.id == server.id; });
    if (known != m_discoveredServers.end()) {
        *known = std::move(server);
    } else {
        m_discoveredServers.append(std::move(server));
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(m_discoveredServers.begin(), m_discoveredServers.end(),
                         [&](const DiscoveredServer &a, const DiscoveredServer &b) {
                             return collator.compare(a.name, b.name) < 0;
                         });
    }
    Q_EMIT discoveredServersChanged();
}

namespace {

// Avahi reports a batch's end separately (ALL_FOR_NOW), so every single event counts as a whole batch.
void onBrowsed(AvahiServiceBrowser *, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event, const char *name,
               const char *, const char *, AvahiLookupResultFlags, void *userdata) {
    LocalServerDiscovery *d = owner(userdata);
    switch (event) {
    case AVAHI_BROWSER_NEW:
        d->didFindService(QString::fromUtf8(name), false);
        break;
    case AVAHI_BROWSER_REMOVE:
        d->didRemoveService(QString::fromUtf8(name), false);
        break;
    case AVAHI_BROWSER_FAILURE:
        d->didNotSearch();
        break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

void onResolved(AvahiServiceResolver *, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                const char *name, const char *, const char *, const char *hostName,
                const AvahiAddress *address, uint16_t port, AvahiStringList *txt, AvahiLookupResultFlags,
                void *userdata) {
    if (event != AVAHI_RESOLVER_FOUND)
        return; // did not resolve: the service stays without an entry
    LocalServerDiscovery::ResolvedService service;
    service.name = QString::fromUtf8(name);
    service.hostName = hostName ? QString::fromUtf8(hostName) : QString();
    if (const QHostAddress resolved = toQHostAddress(address); !resolved.isNull())
        service.addresses.append(resolved);
    service.port = port;
    service.txt = txtRecord(txt);
    owner(userdata)->didResolve(service);
}

} // namespace

} // namespace rirudez
