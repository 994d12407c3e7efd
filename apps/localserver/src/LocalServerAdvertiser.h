#pragma once

// Advertises a listening local server by DNS-SD: service type "_rirudez._tcp" with TXT "provider=<raw>",
// under "Rirudez on <host name>" (Avahi's alternative name on a collision). Publishes whenever the
// avahi-daemon is reachable, again after it comes back; without a daemon it waits quietly.

#include "rirudez/localcontrolplane/CompanionProvider.h"

#include <QObject>
#include <QString>

#include <memory>

struct AvahiEntryGroup;

namespace rirudez::qtavahi {
class QtAvahiClient;
}

namespace rirudez::localserver {

class LocalServerAdvertiser : public QObject {
    Q_OBJECT
public:
    LocalServerAdvertiser(quint16 port, CompanionProvider provider, QString name = {},
                          QObject *parent = nullptr);
    ~LocalServerAdvertiser() override;

    // The name the service is published under (it may change after a collision).
    const QString &name() const { return m_name; }
    bool isPublished() const { return m_published; }

Q_SIGNALS:
    void publishedChanged();

private:
    void publish();
    void onGroupState(int state);

    quint16 m_port;
    CompanionProvider m_provider;
    QString m_name;
    bool m_published = false;
    std::unique_ptr<qtavahi::QtAvahiClient> m_avahi;
    AvahiEntryGroup *m_group = nullptr;
};

} // namespace rirudez::localserver
