#include "DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLoggingCategory>
#include <QStringList>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace rirudez {

namespace {

// Notifications the session bus did not take.
Q_LOGGING_CATEGORY(lcDesktopNotifications, "rirudez.desktop.notifications")

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;
const QString interface = u"org.freedesktop.Notifications"_s;

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)) {
    if (!m_bus.isConnected())
        return;
    m_bus.connect(service, path, interface, u"ActionInvoked"_s, this, SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, u"NotificationClosed"_s, this,
                  SLOT(onNotificationClosed(uint, uint)));
}

quint64 DesktopNotifier::show(const DesktopNotification &notification, quint64 replacing) {
    const quint64 key = m_nextKey++;
    if (!m_bus.isConnected()) {
        Q_EMIT delivered(key, false);
        return key;
    }
    QStringList actions{defaultAction, u"Open"_s};
    if (notification.reason == DesktopNotificationReason::approvalWaiting)
        actions << approveAction << u"Approve"_s << denyAction << u"Deny"_s;
    const QVariantMap hints{
        {u"desktop-entry"_s, desktopEntry},
        {u"urgency"_s, QVariant::fromValue(
                           uchar(notification.reason == DesktopNotificationReason::approvalWaiting ? 2 : 1))},
        {u"category"_s, notification.reason == DesktopNotificationReason::turnFailed
                            ? u"transfer.error"_s
                            : u"transfer.complete"_s},
    };
    const uint replacesID = m_serverIDByKey.value(replacing, 0);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, u"Notify"_s);
    call << u"Rirudez"_s << replacesID << DesktopNotifier::desktopEntry << notification.title
         << notification.body << actions << hints << int(-1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, replacing](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    qCInfo(lcDesktopNotifications).noquote()
                        << "the notification service refused a notification:" << reply.error().message();
                    m_closeWhenDelivered.remove(key);
                    Q_EMIT delivered(key, false);
                    return;
                }
                const uint serverID = reply.value();
                if (replacing != 0 && m_serverIDByKey.value(replacing) == serverID)
                    forget(replacing); // the service reused the id for the replacement
                m_keyByServerID.insert(serverID, key);
                m_serverIDByKey.insert(key, serverID);
                Q_EMIT delivered(key, true);
                if (m_closeWhenDelivered.remove(key))
                    close(key);
            });
    return key;
}

void DesktopNotifier::close(quint64 key) {
    const auto found = m_serverIDByKey.constFind(key);
    if (found == m_serverIDByKey.constEnd()) {
        if (key > 0 && key < m_nextKey)
            m_closeWhenDelivered.insert(key);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, u"CloseNotification"_s);
    call << *found;
    m_bus.asyncCall(call); // the service answers with NotificationClosed
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action) {
    const auto found = m_keyByServerID.constFind(id);
    if (found != m_keyByServerID.constEnd())
        Q_EMIT actionInvoked(*found, action);
}

void DesktopNotifier::onNotificationClosed(uint id, uint) {
    const auto found = m_keyByServerID.constFind(id);
    if (found == m_keyByServerID.constEnd())
        return;
    const quint64 key = *found;
    forget(key);
    Q_EMIT closed(key);
}

void DesktopNotifier::forget(quint64 key) {
    const auto found = m_serverIDByKey.constFind(key);
    if (found == m_serverIDByKey.constEnd())
        return;
    m_keyByServerID.remove(*found);
    m_serverIDByKey.erase(found);
}

} // namespace rirudez
