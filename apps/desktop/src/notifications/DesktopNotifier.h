#pragma once

// Shows notifications through the desktop's notification service (org.freedesktop.Notifications on the
// session bus) and reports what the user did with them. Every call is asynchronous: the UI never waits on the
// bus. Without a bus or without a service, notifications are dropped quietly.

#include "DesktopNotificationPolicy.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

namespace rirudez {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    // Action keys sent with a notification and reported back by actionInvoked.
    static inline const QString defaultAction = QStringLiteral("default");
    static inline const QString approveAction = QStringLiteral("approve");
    static inline const QString denyAction = QStringLiteral("deny");
    // The desktop entry the service associates notifications with.
    static inline const QString desktopEntry = QStringLiteral("org.rirudez.Desktop");

    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Whether a bus is there to send to (a missing service only shows when a call fails).
    bool isConnected() const { return m_bus.isConnected(); }

    // Shows a notification and returns our key for it. An approval carries Approve and Deny actions; every
    // notification can be clicked. `replacing` is the key of an earlier notification this one takes the place
    // of (0 for none).
    quint64 show(const DesktopNotification &notification, quint64 replacing = 0);
    // Withdraws a notification (also one whose Notify answer has not arrived yet).
    void close(quint64 key);

Q_SIGNALS:
    // The user clicked the notification (`defaultAction`) or one of its actions.
    void actionInvoked(quint64 key, const QString &action);
    // The notification is gone (dismissed, expired, closed by us or replaced).
    void closed(quint64 key);
    // The service answered a Notify call (`accepted` false: no service, or it refused).
    void delivered(quint64 key, bool accepted);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    void forget(quint64 key);

    QDBusConnection m_bus;
    quint64 m_nextKey = 1;
    QHash<uint, quint64> m_keyByServerID;
    QHash<quint64, uint> m_serverIDByKey;
    QSet<quint64> m_closeWhenDelivered;
};

} // namespace rirudez
