#pragma once
// The client the repo-session tests drive the bridge with, and the session log read back from disk.
#include "InProcessBridge.h"
#include "RepoEvents.h"
#include "SessionStore.h"
#include "TestWebSocket.h"

#include <QDir>
#include <QFile>

#include <functional>
#include <optional>

namespace rirudez::testing::bridgesession {
using namespace Qt::StringLiterals;
using E = RepoSessionEvent;

// One authenticated client with helpers for the frames a desktop sends.
class Client {
public:
    explicit Client(InProcessBridge &bridge) : m_socket(bridge.fingerprint()) {
        m_connected = m_socket.openAndAuthenticate(bridge.wsUrl(), bridge.token());
    }
    bool connected() const { return m_connected; }
    TestWebSocket &socket() { return m_socket; }

    std::optional<RepoSessionSummary>
    open(Agent agent = Agent::claude, RepoAccessMode access = RepoAccessMode::edit,
         std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits) {
        ClientMessage::OpenRepoSession request;
        request.requestID = u"open-%1"_s.arg(++m_requests);
        request.projectID = u"demo"_s;
        request.agent = agent;
        request.access = access;
        request.permissionMode = permission;
        m_socket.send(ClientMessage{request});
        auto opened = m_socket.waitFor([&](const BridgeMessage &m) {
            const auto *o = m.as<BridgeMessage::RepoSessionOpened>();
            return o && o->requestID == request.requestID;
        });
        if (!opened)
            return std::nullopt;
        return opened->as<BridgeMessage::RepoSessionOpened>()->session;
    }
    // Opens a session and subscribes to it, consuming the replayed "session opened" event.
    std::optional<QString>
    openSubscribed(Agent agent = Agent::claude, RepoAccessMode access = RepoAccessMode::edit,
                   std::optional<AgentPermissionMode> permission = AgentPermissionMode::acceptEdits) {
        auto session = open(agent, access, permission);
        if (!session || !subscribe(session->sessionID, 1))
            return std::nullopt;
        return session->sessionID;
    }
    std::optional<QList<BridgeMessage::RepoEvent>> untilApproval(const QString &sessionID) {
        return until(sessionID, [](const RepoSessionEvent &e) { return e.is<E::ApprovalRequested>(); });
    }
    // Subscribes and returns the replayed events (up to the last stored one, `replayUntil`).
    std::optional<QList<BridgeMessage::RepoEvent>> subscribe(const QString &sessionID,
                                                             std::uint64_t replayUntil) {
        m_socket.send(ClientMessage{ClientMessage::SubscribeRepoSession{sessionID}});
        std::uint64_t seen = 0;
        return m_socket.collectRepoEvents(sessionID,
                                          [&](const RepoSessionEvent &) { return ++seen == replayUntil; });
    }
    void message(const QString &sessionID, const QString &prompt,
                 std::optional<RepoMessageSettings> settings = {}) {
        m_socket.send(ClientMessage{ClientMessage::RepoMessage{
            sessionID, u"msg-%1"_s.arg(++m_requests), prompt, {}, std::nullopt, settings}});
    }
    std::optional<QList<BridgeMessage::RepoEvent>> untilTerminal(const QString &sessionID) {
        return m_socket.collectRepoEvents(sessionID, isTerminal);
    }
    std::optional<QList<BridgeMessage::RepoEvent>>
    until(const QString &sessionID, const std::function<bool(const RepoSessionEvent &)> &last) {
        return m_socket.collectRepoEvents(sessionID, last);
    }
    std::optional<BridgeMessage::RepoError> repoError() {
        return m_socket.waitFor<BridgeMessage::RepoError>();
    }
    template <typename Case>
    void send(Case frame) {
        m_socket.send(ClientMessage{std::move(frame)});
    }
    QList<RepoSessionSummary> list(std::optional<QString> projectID = {}) {
        const QString id = u"list-%1"_s.arg(++m_requests);
        m_socket.send(ClientMessage{ClientMessage::ListRepoSessions{id, projectID}});
        auto answer = m_socket.waitFor([&](const BridgeMessage &m) {
            const auto *s = m.as<BridgeMessage::RepoSessions>();
            return s && s->requestID == id;
        });
        return answer ? answer->as<BridgeMessage::RepoSessions>()->sessions : QList<RepoSessionSummary>{};
    }

private:
    TestWebSocket m_socket;
    bool m_connected = false;
    int m_requests = 0;
};

// The session's log file read back line by line; a line that does not decode shows as sequence 0.
inline QList<BridgeMessage::RepoEvent> storedLog(const InProcessBridge &bridge, const QString &sessionID) {
    QFile file(QDir(bridge.stateDirectory()).filePath(u"sessions/%1/events.jsonl"_s.arg(sessionID)));
    QList<BridgeMessage::RepoEvent> events;
    if (!file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const auto stored = server::SessionStore::decodeLine(line);
        events.append(stored ? BridgeMessage::RepoEvent{sessionID, stored->sequence, stored->event}
                             : BridgeMessage::RepoEvent{sessionID, 0, {}});
    }
    return events;
}

} // namespace rirudez::testing::bridgesession
