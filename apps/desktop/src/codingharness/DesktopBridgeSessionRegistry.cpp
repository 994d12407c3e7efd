#include "DesktopBridgeSessionRegistry.h"

namespace rirudez {

void DesktopBridgeSessionRegistry::bind(const QString &bridgeSessionID, const QString &toThreadID) {
    m_threadIDByBridgeSessionID.insert(bridgeSessionID, toThreadID);
}

std::optional<QString> DesktopBridgeSessionRegistry::mappedThreadID(const QString &forBridgeSessionID) const {
    const auto found = m_threadIDByBridgeSessionID.constFind(forBridgeSessionID);
    if (found == m_threadIDByBridgeSessionID.constEnd())
        return std::nullopt;
    return *found;
}

QSet<QString> DesktopBridgeSessionRegistry::mappedBridgeSessionIDs() const {
    QSet<QString> ids;
    ids.reserve(m_threadIDByBridgeSessionID.size());
    for (auto it = m_threadIDByBridgeSessionID.constBegin(); it != m_threadIDByBridgeSessionID.constEnd();
         ++it)
        ids.insert(it.key());
    return ids;
}

void DesktopBridgeSessionRegistry::recordOpenRequest(const QString &requestID, const QString &threadID) {
    m_pendingOpenRequestThreadID.insert(requestID, threadID);
}

std::optional<QString> DesktopBridgeSessionRegistry::takeOpenRequestThread(const QString &requestID) {
    const auto found = m_pendingOpenRequestThreadID.find(requestID);
    if (found == m_pendingOpenRequestThreadID.end())
        return std::nullopt;
    QString threadID = *found;
    m_pendingOpenRequestThreadID.erase(found);
    return threadID;
}

bool DesktopBridgeSessionRegistry::shouldSubscribe(const QString &sessionID) const {
    return !m_subscribedBridgeSessionIDs.contains(sessionID);
}

void DesktopBridgeSessionRegistry::markSubscribed(const QString &sessionID) {
    m_subscribedBridgeSessionIDs.insert(sessionID);
}

void DesktopBridgeSessionRegistry::markConnected() {
    m_isConnected = true;
    m_subscribedBridgeSessionIDs.clear();
}

void DesktopBridgeSessionRegistry::resetConnection() {
    m_isConnected = false;
    m_subscribedBridgeSessionIDs.clear();
}

} // namespace rirudez
