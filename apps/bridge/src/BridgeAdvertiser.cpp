#include "BridgeAdvertiser.h"

#include "rirudez/bridgekit/BridgeDiscovery.h"
#include "rirudez/qtavahi/QtAvahiClient.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QNetworkInterface>

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

namespace rirudez::server {

namespace {
Q_LOGGING_CATEGORY(lcAdvertise, "zad.bridge.advertise")

// The interface that carries `address`, or AVAHI_IF_UNSPEC when it is a wildcard or not found.
int interfaceOf(const QHostAddress &address) {
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return AVAHI_IF_UNSPEC;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
        for (const QNetworkAddressEntry &entry : interface.addressEntries())
            if (entry.ip().isEqual(address, QHostAddress::TolerantConversion))
                return interface.index();
    return AVAHI_IF_UNSPEC;
}

int protocolOf(const QHostAddress &address) {
    if (address == QHostAddress::Any) // both IP versions
        return AVAHI_PROTO_UNSPEC;
    return address.protocol() == QAbstractSocket::IPv6Protocol ? AVAHI_PROTO_INET6 : AVAHI_PROTO_INET;
}

} // namespace

BridgeAdvertiser::BridgeAdvertiser(Service service, QObject *parent)
    : QObject(parent), m_service(std::move(service)), m_name(m_service.name),
      m_interface(interfaceOf(m_service.listenAddress)), m_protocol(protocolOf(m_service.listenAddress)),
      m_avahi(std::make_unique<qtavahi::QtAvahiClient>()) {
    connect(m_avahi.get(), &qtavahi::QtAvahiClient::clientLost, this, [this] { dropGroup(/*free=*/false); });
    connect(m_avahi.get(), &qtavahi::QtAvahiClient::stateChanged, this, &BridgeAdvertiser::follow);
    follow();
}

BridgeAdvertiser::~BridgeAdvertiser() {
    disconnect(m_avahi.get(), nullptr, this, nullptr);
    if (m_group)
        qCInfo(lcAdvertise).noquote() << "withdrawing" << m_name << "from the local network";
    dropGroup(/*free=*/true);
    m_avahi.reset();
}

bool BridgeAdvertiser::shouldAdvertise(const QHostAddress &listenAddress) {
    return !listenAddress.isNull() && !listenAddress.isLoopback();
}

// Announces while the daemon runs; while our host name is being (re)registered the service waits.
void BridgeAdvertiser::follow() {
    switch (m_avahi->state()) {
    case AVAHI_CLIENT_S_RUNNING:
        if (!m_group)
            announce();
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        if (m_group) {
            avahi_entry_group_reset(m_group);
            m_established = false;
            dropGroup(/*free=*/true);
        }
        break;
    default:
        break;
    }
}

void BridgeAdvertiser::announce() {
    m_group = avahi_entry_group_new(
        m_avahi->client(),
        [](AvahiEntryGroup *group, AvahiEntryGroupState state, void *userdata) {
            onGroupState(group, int(state), userdata);
        },
        this);
    if (!m_group) {
        qCWarning(lcAdvertise).noquote()
            << "cannot announce the bridge:" << avahi_strerror(avahi_client_errno(m_avahi->client()));
        return;
    }
    const QByteArray type = BridgeDiscovery::serviceType.toUtf8();
    const QByteArray txt = BridgeDiscovery::fingerprintKey.toUtf8() + '=' + m_service.fingerprint.toUtf8();
    for (int attempt = 0; attempt < 20; ++attempt) {
        const QByteArray name = m_name.toUtf8();
        const int error = avahi_entry_group_add_service(
            m_group, AvahiIfIndex(m_interface), AvahiProtocol(m_protocol), AvahiPublishFlags(0),
            name.constData(), type.constData(), nullptr, nullptr, m_service.port, txt.constData(), nullptr);
        if (error == AVAHI_ERR_COLLISION) { // taken by another service of this machine
            takeAlternativeName();
            continue;
        }
        if (error < 0) {
            qCWarning(lcAdvertise).noquote() << "cannot announce the bridge:" << avahi_strerror(error);
            dropGroup(/*free=*/true);
            return;
        }
        const int committed = avahi_entry_group_commit(m_group);
        if (committed < 0) {
            qCWarning(lcAdvertise).noquote() << "cannot announce the bridge:" << avahi_strerror(committed);
            dropGroup(/*free=*/true);
        }
        return;
    }
}

void BridgeAdvertiser::onGroupState(AvahiEntryGroup *group, int state, void *userdata) {
    auto *self = static_cast<BridgeAdvertiser *>(userdata);
    if (group != self->m_group && self->m_group)
        return;
    switch (AvahiEntryGroupState(state)) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        self->m_established = true;
        qCInfo(lcAdvertise).noquote() << "announced as" << self->m_name << "on the local network";
        Q_EMIT self->established(self->m_name);
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        // Another host has the name: announce again, not from inside Avahi's callback, under the next one.
        self->takeAlternativeName();
        QMetaObject::invokeMethod(
            self,
            [self] {
                self->dropGroup(/*free=*/true);
                self->follow();
            },
            Qt::QueuedConnection);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        qCWarning(lcAdvertise).noquote()
            << "announcing the bridge failed:" << avahi_strerror(avahi_client_errno(self->m_avahi->client()));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void BridgeAdvertiser::takeAlternativeName() {
    const QByteArray current = m_name.toUtf8();
    char *alternative = avahi_alternative_service_name(current.constData());
    const QString next = QString::fromUtf8(alternative);
    avahi_free(alternative);
    qCInfo(lcAdvertise).noquote() << "the name" << m_name << "is taken on the network; using" << next;
    m_name = next;
}

void BridgeAdvertiser::dropGroup(bool free) {
    if (free && m_group)
        avahi_entry_group_free(m_group);
    m_group = nullptr;
    m_established = false;
}

} // namespace rirudez::server
