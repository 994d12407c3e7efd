#pragma once

// Finds local control plane servers advertised by DNS-SD ("_rirudez._tcp" in "local."), resolves each one
// (5-second limit) to a host and port, reads the provider its TXT record announces, and publishes the list.
//
// The did… members are the browser's and resolver's callbacks; the Avahi glue calls them on the UI thread,
// and tests may call them directly. Without a reachable avahi-daemon a search simply finds nothing (and ends
// when the daemon reports failure).

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

namespace rirudez {

namespace qtavahi {
class QtAvahiClient;
}

class LocalServerDiscovery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList discoveredServers READ discoveredServerList NOTIFY discoveredServersChanged)
    Q_PROPERTY(bool isSearching READ isSearching NOTIFY isSearchingChanged)

public:
    struct DiscoveredServer {
        QString id; // name "-" host "-" port
        QString name;
        QString host;
        std::int64_t port = 0;
        std::optional<QString> provider;

        // "http://" host ":" port, the host written unchanged (no brackets for IPv6).
        QString url() const;
        bool operator==(const DiscoveredServer &) const = default;
    };

    // What a resolver reports about one service.
    struct ResolvedService {
        QString name;
        QString hostName;              // may be empty
        QList<QHostAddress> addresses; // in the order reported
        std::int64_t port = 0;
        QMap<QByteArray, QByteArray> txt;
    };

    static constexpr const char *serviceType = "_rirudez._tcp";
    static constexpr const char *domain = "local";
    static constexpr int resolveTimeoutMs = 5000;

    explicit LocalServerDiscovery(QObject *parent = nullptr);
    ~LocalServerDiscovery() override;

    const QList<DiscoveredServer> &discoveredServers() const { return m_discoveredServers; }
    QVariantList discoveredServerList() const;
    bool isSearching() const { return m_isSearching; }
    // Instance names of the services found and not removed (resolved or not).
    QList<QString> serviceNames() const;

    // Starts a search unless one is recorded as running: clears the list and the services first.
    Q_INVOKABLE void startSearching();
    // Stops the search and every resolution if one is recorded as running; the list stays.
    Q_INVOKABLE void stopSearching();

    // Browser callbacks.
    void didFindService(const QString &name, bool moreComing);
    void didRemoveService(const QString &name, bool moreComing);
    void didStopSearch();
    void didNotSearch();
    // Resolver callback.
    void didResolve(const ResolvedService &service);

Q_SIGNALS:
    void discoveredServersChanged();
    void isSearchingChanged();

private:
    struct Service;
    struct Avahi;
    void setSearching(bool searching);
    void resolve(const QString &name);
    void removeServiceNamed(const QString &name);
    void closeBrowser();

    QList<DiscoveredServer> m_discoveredServers;
    bool m_isSearching = false;
    std::map<QString, std::unique_ptr<Service>> m_servicesByName;
    std::unique_ptr<Avahi> m_avahi;
};

} // namespace rirudez
