#pragma once

// The bridge service: one TLS port that answers HTTPS GET /health and POST /pair and upgrades /ws to a
// WebSocket carrying JSON frames. Every WebSocket starts with `auth`; after `hello` the client lists and
// registers projects, opens, lists and subscribes to durable repo sessions, sends repo messages that the
// demo agent answers, answers approvals, cancels turns, runs stand-alone turns and pings.

#include "DemoAgent.h"
#include "PairingCodes.h"
#include "ProjectRegistry.h"
#include "SessionStore.h"
#include "StateDirectory.h"
#include "agents/AgentLauncher.h"

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QHttpServerRequest;
class QTcpSocket;
class QWebSocket;

namespace rirudez::server {

struct BridgeServerOptions {
    QString stateDirectory;                      // required
    QHostAddress host = QHostAddress::LocalHost; // loopback unless told otherwise
    quint16 port = 8800;                         // 0 picks a free port
    QString name;                                // empty: "Zad Ezarur on <host name>"
    QList<Agent> agents{Agent::claude, Agent::codex};
    std::chrono::microseconds chunkDelay{40'000}; // pause between two steps of the demo agent
    // The command-line programs of real agents; an agent without one is answered by the demo agent.
    AgentCommands agentCommands;
    std::chrono::milliseconds agentStopGrace{3000}; // between asking an agent's CLI to stop and killing it
    qint64 maxFrameBytes = 8 << 20;                 // larger client frames are refused
    std::chrono::milliseconds authTimeout{10000};   // a WebSocket must authenticate within this time
    PairingCodes::Config pairing;
};

// What reached the server, for tests that must prove that nothing did (a refused certificate pin) or
// that something did. Application data only: HTTP requests and WebSocket messages after the TLS
// handshake, never the handshake itself.
struct BridgeCounters {
    quint64 tlsHandshakesStarted = 0;
    quint64 tlsErrors = 0;            // TLS connections that failed (e.g. the client refused our certificate)
    quint64 httpRequests = 0;         // complete HTTP requests parsed, WebSocket upgrades included
    quint64 webSocketConnections = 0; // WebSockets opened
    quint64 authenticatedSockets = 0; // WebSockets whose `auth` was accepted
    quint64 framesReceived = 0;       // WebSocket messages received
    quint64 applicationBytes = 0;     // bytes of HTTP request bodies and WebSocket messages
    bool operator==(const BridgeCounters &) const = default;
};

class BridgeServer : public QObject {
    Q_OBJECT
public:
    explicit BridgeServer(BridgeServerOptions options, QObject *parent = nullptr);
    ~BridgeServer() override;

    // Opens the state directory, loads projects and sessions, and listens. False with `error` set on
    // failure (the server then stays stopped).
    bool start(QString *error = nullptr);
    // Ends every running turn (its session records "cancelled"), closes every connection, stops listening.
    void stop();
    bool isListening() const;

    quint16 port() const { return m_port; }
    const BridgeServerOptions &options() const { return m_options; }
    // Valid after a successful start().
    const StateDirectory &state() const { return *m_state; }
    ProjectRegistry &projects() { return *m_projects; }
    SessionStore &sessions() { return *m_sessions; }
    PairingCodes &pairingCodes() { return m_pairingCodes; }

    QString name() const;
    QStringList agentNames() const;
    BridgeHealth health() const;
    BridgeCounters counters() const { return m_counters; }
    int connectionCount() const { return int(m_connections.size()); }
    bool hasRunningTurn(const QString &sessionID) const { return m_sessionTurns.contains(sessionID); }

    void setChunkDelay(std::chrono::microseconds delay) {
        m_options.chunkDelay = delay;
        m_launcher.setDemoStepDelay(delay);
    }

Q_SIGNALS:
    // Emitted whenever a counter changed.
    void countersChanged();
    // A repo-session event was stored with this sequence (after it went to the subscribers).
    void sessionEventStored(const QString &sessionID, quint64 sequence);

private:
    class HttpServer;
    struct Connection;
    struct SessionTurn;

    friend class HttpServer;
    bool handleHttpRequest(const QHttpServerRequest &request, QTcpSocket *socket);
    void acceptWebSockets();
    void onMessage(Connection *connection, const QByteArray &bytes);
    void handleFrame(Connection *connection, const ClientMessage &message);
    void dropConnection(Connection *connection);
    void send(Connection *connection, const BridgeMessage &message);
    void sendRaw(Connection *connection, const QByteArray &frame);
    void refuseUndecodable(Connection *connection, const QByteArray &bytes, const QString &description);
    void repoError(Connection *connection, std::optional<QString> requestID, std::optional<QString> sessionID,
                   ErrorCode code, const QString &message);
    BridgeMessage helloFrame() const;

    void listProjects(Connection *connection, const ClientMessage::ListProjects &request);
    void registerProject(Connection *connection, const ClientMessage::RegisterProject &request);
    void listRepoSessions(Connection *connection, const ClientMessage::ListRepoSessions &request);
    void openRepoSession(Connection *connection, const ClientMessage::OpenRepoSession &request);
    void subscribe(Connection *connection, const ClientMessage::SubscribeRepoSession &request);
    // Sends the next stored events of the sessions this connection is catching up on, while the socket
    // takes them.
    void continueReplays(Connection *connection);
    void repoMessage(Connection *connection, const ClientMessage::RepoMessage &request);
    void approvalResponse(Connection *connection, const ClientMessage::RepoApprovalResponse &request);
    void cancelRepoMessage(Connection *connection, const ClientMessage::CancelRepoMessage &request);
    void standaloneTurn(Connection *connection, const ClientMessage::Turn &request);
    void cancelStandaloneTurn(Connection *connection, const ClientMessage::Cancel &request);

    // Stores an event and sends it to every subscriber of the session.
    std::optional<std::uint64_t> publish(const QString &sessionID, const RepoSessionEvent &event);
    void endSessionTurn(const QString &sessionID, TurnState state);
    // The agent named its own conversation: stored in the session so the next turn continues it.
    void rememberUpstreamThread(const QString &sessionID, const QString &threadID);
    // Why `model` cannot be used with `agent`, or nothing when it can.
    std::optional<QString> modelProblem(Agent agent, const std::optional<QString> &model) const;
    bool agentEnabled(Agent agent) const;
    void bump(quint64 BridgeCounters::*counter, quint64 by = 1);

    BridgeServerOptions m_options;
    std::optional<StateDirectory> m_state;
    std::unique_ptr<ProjectRegistry> m_projects;
    std::unique_ptr<SessionStore> m_sessions;
    PairingCodes m_pairingCodes;
    std::unique_ptr<HttpServer> m_http;
    quint16 m_port = 0;
    QList<Connection *> m_connections;
    QHash<QString, SessionTurn *> m_sessionTurns;
    BridgeCounters m_counters;
    AgentLauncher m_launcher;
};

} // namespace rirudez::server
