#pragma once

// A notification service for tests: registers as org.freedesktop.Notifications on a bus (the private session
// bus of dbus-run-session), records every Notify and CloseNotification call, and lets the test play the user
// by invoking an action or dismissing a notification.

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class StandInNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        uint id = 0;
        QString appName;
        uint replacesID = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions; // key, label, key, label, ...
        QVariantMap hints;
        int expireTimeout = 0;
    };

    // Registers on its own connection to the session bus; registered() tells whether that worked.
    StandInNotificationService();
    ~StandInNotificationService() override;
    bool registered() const { return m_registered; }

    const QList<Shown> &shown() const { return m_shown; }
    const QList<uint> &closeRequests() const { return m_closeRequests; }
    // The action keys of a notification (labels dropped).
    static QStringList actionKeys(const Shown &shown);

    // The user clicks an action ("default" for the notification itself) / dismisses the notification.
    void invoke(uint id, const QString &action);
    void dismiss(uint id);

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesID, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    void CloseNotification(uint id);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    bool m_registered = false;
    uint m_nextID = 1;
    QList<Shown> m_shown;
    QList<uint> m_closeRequests;
};
