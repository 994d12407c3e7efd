#include "rirudez/qtavahi/QtAvahiClient.h"

#include "rirudez/qtavahi/QtAvahiPoll.h"

#include <QMetaObject>

#include <avahi-common/error.h>

#include <atomic>

namespace rirudez::qtavahi {

Q_LOGGING_CATEGORY(lcAvahi, "rirudez.avahi")

namespace {
std::atomic<bool> unreachableWarned{false};
} // namespace

QtAvahiClient::QtAvahiClient(QObject *parent) : QObject(parent), m_poll(std::make_unique<QtAvahiPoll>()) {
    create();
}

QtAvahiClient::~QtAvahiClient() {
    if (m_client)
        avahi_client_free(m_client);
    m_client = nullptr;
}

bool QtAvahiClient::isReachable() const {
    return m_client && (m_state == AVAHI_CLIENT_S_RUNNING || m_state == AVAHI_CLIENT_S_REGISTERING ||
                        m_state == AVAHI_CLIENT_S_COLLISION);
}

QString QtAvahiClient::problem() const {
    if (isReachable())
        return {};
    if (!m_client)
        return QStringLiteral("no D-Bus system bus to reach avahi-daemon (%1)")
            .arg(QString::fromUtf8(avahi_strerror(m_error)));
    if (m_state == AVAHI_CLIENT_CONNECTING)
        return QStringLiteral("avahi-daemon is not running");
    return QStringLiteral("avahi-daemon failed (%1)").arg(QString::fromUtf8(avahi_strerror(m_error)));
}

void QtAvahiClient::create() {
    int error = 0;
    // The first state callback runs inside avahi_client_new(), before it returns the pointer: onState()
    // takes the pointer it is given.
    AvahiClient *client =
        avahi_client_new(m_poll->avahiPoll(), AVAHI_CLIENT_NO_FAIL, &QtAvahiClient::onState, this, &error);
    if (!client) {
        m_client = nullptr;
        m_error = error;
        setState(AVAHI_CLIENT_FAILURE);
    } else {
        m_client = client;
        setState(avahi_client_get_state(client));
    }
    warnOnceIfUnreachable();
}

void QtAvahiClient::onState(AvahiClient *client, AvahiClientState state, void *userdata) {
    auto *self = static_cast<QtAvahiClient *>(userdata);
    if (!self->m_client)
        self->m_client = client;
    if (client != self->m_client)
        return;
    if (state == AVAHI_CLIENT_FAILURE) {
        self->m_error = avahi_client_errno(client);
        // Not from inside Avahi's own callback: the client is freed and replaced from the event loop.
        if (!self->m_replacing) {
            self->m_replacing = true;
            QMetaObject::invokeMethod(self, &QtAvahiClient::replaceLostClient, Qt::QueuedConnection);
        }
    }
    self->setState(state);
}

void QtAvahiClient::setState(AvahiClientState state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void QtAvahiClient::replaceLostClient() {
    m_replacing = false;
    if (!m_client || m_state != AVAHI_CLIENT_FAILURE)
        return;
    qCInfo(lcAvahi).noquote() << "lost avahi-daemon:" << QString::fromUtf8(avahi_strerror(m_error))
                              << "- waiting for it to come back";
    Q_EMIT clientLost();
    AvahiClient *lost = m_client;
    m_client = nullptr;
    avahi_client_free(lost);
    create();
}

void QtAvahiClient::warnOnceIfUnreachable() {
    if (isReachable() || unreachableWarned.exchange(true))
        return;
    qCWarning(lcAvahi).noquote()
        << problem()
        << "- services on the local network are neither found nor announced until it "
           "runs";
}

} // namespace rirudez::qtavahi
