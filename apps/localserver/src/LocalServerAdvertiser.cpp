#include "LocalServerAdvertiser.h"

#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QHostInfo>
#include <QLoggingCategory>

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/malloc.h>

namespace rirudez::localserver {
using namespace Qt::StringLiterals;

namespace {
Q_LOGGING_CATEGORY(lcAdvertiser, "rirudez.localserver.dnssd")
constexpr const char *serviceType = "_rirudez._tcp";
} // namespace

LocalServerAdvertiser::LocalServerAdvertiser(quint16 port, CompanionProvider provider, QString name,
                                             QObject *parent)
    : QObject(parent), m_port(port), m_provider(provider), m_name(std::move(name)),
      m_avahi(std::make_unique<qtavahi::QtAvahiClient>()) {
    if (m_name.isEmpty())
        m_name = u"Rirudez on %1"_s.arg(QHostInfo::localHostName());
    connect(m_avahi.get(), &qtavahi::QtAvahiClient::clientLost, this, [this] {
        m_group = nullptr; // freed with the client
        if (std::exchange(m_published, false))
            Q_EMIT publishedChanged();
    });
    connect(m_avahi.get(), &qtavahi::QtAvahiClient::stateChanged, this, [this] {
        if (!m_group && m_avahi->isReachable())
            publish();
    });
    if (m_avahi->isReachable())
        publish();
}

LocalServerAdvertiser::~LocalServerAdvertiser() {
    if (m_group)
        avahi_entry_group_free(m_group);
}

void LocalServerAdvertiser::publish() {
    if (!m_group) {
        m_group = avahi_entry_group_new(
            m_avahi->client(),
            [](AvahiEntryGroup *, AvahiEntryGroupState state, void *userdata) {
                static_cast<LocalServerAdvertiser *>(userdata)->onGroupState(int(state));
            },
            this);
        if (!m_group) {
            qCWarning(lcAdvertiser) << "cannot advertise: no entry group";
            return;
        }
    }
    const QByteArray name = m_name.toUtf8();
    const QByteArray txt = "provider=" + rawValue(m_provider).toUtf8();
    if (avahi_entry_group_add_service(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                      name.constData(), serviceType, nullptr, nullptr, m_port,
                                      txt.constData(), nullptr) < 0 ||
        avahi_entry_group_commit(m_group) < 0)
        qCWarning(lcAdvertiser) << "cannot advertise" << m_name;
}

void LocalServerAdvertiser::onGroupState(int state) {
    switch (AvahiEntryGroupState(state)) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        qCInfo(lcAdvertiser).noquote() << "advertised as" << m_name;
        m_published = true;
        Q_EMIT publishedChanged();
        break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        char *alternative = avahi_alternative_service_name(m_name.toUtf8().constData());
        m_name = QString::fromUtf8(alternative);
        avahi_free(alternative);
        avahi_entry_group_reset(m_group);
        publish();
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE:
        qCWarning(lcAdvertiser) << "advertising failed";
        break;
    default:
        break;
    }
}

} // namespace rirudez::localserver
