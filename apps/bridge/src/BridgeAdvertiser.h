#pragma once

// Announces the bridge on the local network: one DNS-SD service of type "_doduzadod._tcp" whose instance
// name is the bridge's name and whose TXT record carries "fp", the SHA-256 fingerprint of its certificate,
// so a client can pin the certificate before it sends a pairing code.
//
// - Announced only on the interface and IP version of the listening address (every interface for a
//   wildcard address); a loopback-only bridge is never announced (shouldAdvertise()).
// - A name already taken on the network: Avahi's alternative ("Name #2", ...) is taken and logged.
// - No avahi-daemon: one warning (rirudez.avahi) and the bridge runs on; the service is announced as soon
//   as a daemon appears, and again after a daemon restart.
// - Destroying the advertiser withdraws the service (the daemon sends the goodbye packets).

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <memory>

struct AvahiEntryGroup;

namespace rirudez::qtavahi {
class QtAvahiClient;
}

namespace rirudez::server {

class BridgeAdvertiser : public QObject {
    Q_OBJECT
public:
    struct Service {
        QString name;               // the bridge's name, used as the instance name
        quint16 port = 0;           // the TLS port
        QString fingerprint;        // TXT "fp"
        QHostAddress listenAddress; // decides the interface and the IP version announced on
    };

    explicit BridgeAdvertiser(Service service, QObject *parent = nullptr);
    // Withdraws the service.
    ~BridgeAdvertiser() override;

    // True for an address other hosts can reach: not loopback (wildcards count as reachable).
    static bool shouldAdvertise(const QHostAddress &listenAddress);

    // The name announced; differs from the bridge's name after a collision.
    const QString &announcedName() const { return m_name; }
    bool isEstablished() const { return m_established; }

Q_SIGNALS:
    // The daemon confirmed the service under `name`.
    void established(const QString &name);

private:
    static void onGroupState(AvahiEntryGroup *group, int state, void *userdata);
    void follow();
    void announce();
    void takeAlternativeName();
    void dropGroup(bool free);

    Service m_service;
    QString m_name;
    int m_interface = -1; // AVAHI_IF_UNSPEC
    int m_protocol = -1;  // AVAHI_PROTO_UNSPEC
    bool m_established = false;
    std::unique_ptr<qtavahi::QtAvahiClient> m_avahi;
    AvahiEntryGroup *m_group = nullptr;
};

} // namespace rirudez::server
