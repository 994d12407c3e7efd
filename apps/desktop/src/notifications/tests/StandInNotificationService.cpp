#include "StandInNotificationService.h"

using namespace Qt::StringLiterals;

StandInNotificationService::StandInNotificationService()
    : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"stand-in-notifications"_s)) {
    m_registered =
        m_bus.isConnected() &&
        m_bus.registerObject(u"/org/freedesktop/Notifications"_s, this,
                             QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
        m_bus.registerService(u"org.freedesktop.Notifications"_s);
}

StandInNotificationService::~StandInNotificationService() {
    m_bus.unregisterService(u"org.freedesktop.Notifications"_s);
    m_bus.unregisterObject(u"/org/freedesktop/Notifications"_s);
    QDBusConnection::disconnectFromBus(u"stand-in-notifications"_s);
}

QStringList StandInNotificationService::actionKeys(const Shown &shown) {
    QStringList keys;
    for (qsizetype i = 0; i < shown.actions.size(); i += 2)
        keys.append(shown.actions[i]);
    return keys;
}

uint StandInNotificationService::Notify(const QString &appName, uint replacesID, const QString &appIcon,
                                        const QString &summary, const QString &body,
                                        const QStringList &actions, const QVariantMap &hints,
                                        int expireTimeout) {
    const uint id = replacesID != 0 ? replacesID : m_nextID++;
    m_shown.append(Shown{id, appName, replacesID, appIcon, summary, body, actions, hints, expireTimeout});
    return id;
}

void StandInNotificationService::CloseNotification(uint id) {
    m_closeRequests.append(id);
    Q_EMIT NotificationClosed(id, 3); // closed by a call to CloseNotification
}

QStringList StandInNotificationService::GetCapabilities() {
    return {u"actions"_s, u"body"_s};
}

QString StandInNotificationService::GetServerInformation(QString &vendor, QString &version,
                                                         QString &specVersion) {
    vendor = u"tests"_s;
    version = u"1"_s;
    specVersion = u"1.2"_s;
    return u"stand-in"_s;
}

void StandInNotificationService::invoke(uint id, const QString &action) {
    Q_EMIT ActionInvoked(id, action);
}

void StandInNotificationService::dismiss(uint id) {
    Q_EMIT NotificationClosed(id, 2); // dismissed by the user
}
