#pragma once

// Which bridge session belongs to which desktop thread, which open-session requests are still waiting for
// their answer, and which sessions are subscribed on the current connection. Owned by the coding view model;
// used on the UI thread only.

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

namespace rirudez {

class DesktopBridgeSessionRegistry {
public:
    // Maps a bridge session to a desktop thread; a later bind of the same session replaces the earlier one.
    void bind(const QString &bridgeSessionID, const QString &toThreadID);
    std::optional<QString> mappedThreadID(const QString &forBridgeSessionID) const;
    // The bridge session ids that have a thread.
    QSet<QString> mappedBridgeSessionIDs() const;

    void recordOpenRequest(const QString &requestID, const QString &threadID);
    // Removes the entry and hands back its thread, so an answer to the same request is honoured only once.
    std::optional<QString> takeOpenRequestThread(const QString &requestID);

    // True while the session is not yet subscribed on the current connection.
    bool shouldSubscribe(const QString &sessionID) const;
    void markSubscribed(const QString &sessionID);

    // A fresh connection has no subscriptions yet.
    void markConnected();
    // Forgets the connection and its subscriptions; session and request mappings survive.
    void resetConnection();
    // Forgets everything (another bridge).
    void clear() { *this = DesktopBridgeSessionRegistry(); }

    bool isConnected() const { return m_isConnected; }
    const QHash<QString, QString> &threadIDByBridgeSessionID() const { return m_threadIDByBridgeSessionID; }
    const QHash<QString, QString> &pendingOpenRequestThreadID() const { return m_pendingOpenRequestThreadID; }
    const QSet<QString> &subscribedBridgeSessionIDs() const { return m_subscribedBridgeSessionIDs; }

private:
    QHash<QString, QString> m_threadIDByBridgeSessionID;
    QHash<QString, QString> m_pendingOpenRequestThreadID;
    QSet<QString> m_subscribedBridgeSessionIDs;
    bool m_isConnected = false;
};

} // namespace rirudez
