#pragma once

// The bridge server's own pieces, shared by its source files (BridgeServer.cpp: start, stop and HTTP;
// BridgeServerSockets.cpp: WebSocket connections and stand-alone turns; BridgeServerSessions.cpp:
// projects and repo sessions). Not for use outside the server.

#include "BridgeServer.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWebSocket>

namespace rirudez::server {

Q_DECLARE_LOGGING_CATEGORY(lcServer)

// The JSON body of an HTTP error: {"error": MESSAGE}.
inline QByteArray errorBody(const QString &message) {
    Json json = Json::object();
    json["error"] = wire::toStdString(message);
    return wire::dump(json);
}

// ---------------------------------------------------------------------------------------------
// The HTTP side. In Qt 6.4 an upgrade request first goes through handleRequest(): returning true lets
// the socket become a WebSocket, returning false refuses the upgrade (and calls missingHandler). So
// every route decides about upgrades itself, and a refusal is written before any 101 could be.

class BridgeServer::HttpServer : public QAbstractHttpServer {
public:
    explicit HttpServer(BridgeServer *owner) : m_owner(owner) {}

    static QHttpServerResponder responder(const QHttpServerRequest &request, QTcpSocket *socket) {
        return makeResponder(request, socket);
    }
    // Set when a refusal was already written for a request that handleRequest() declines.
    bool answered = false;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override {
        answered = false;
        return m_owner->handleHttpRequest(request, socket);
    }
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override {
        if (std::exchange(answered, false))
            return;
        makeResponder(request, socket)
            .write(errorBody(QStringLiteral("not found")), "application/json",
                   QHttpServerResponder::StatusCode::NotFound);
    }

private:
    BridgeServer *m_owner;
};

struct BridgeServer::Connection {
    QWebSocket *socket = nullptr;
    bool authenticated = false;
    QTimer authTimer;
    QSet<QString> subscriptions;
    // Sessions whose stored events are still being replayed, with the last sequence sent. Their new events
    // reach this connection through the replay, which reads up to the end of the log before it stops.
    QHash<QString, std::uint64_t> replaying;
    // Bytes of replay frames handed to the socket and not yet reported written (encryption adds a little,
    // so this only ever overstates what waits).
    qint64 replayBytesQueued = 0;
    QTimer replayTimer;
    // The stand-alone turn of this connection, if one runs.
    QPointer<AgentTurn> turn;
    QString turnID;
    QString turnText;
    QString peer;
    // Set once we decided to close: frames still in flight are ignored.
    bool closing = false;

    void closeWith(QWebSocketProtocol::CloseCode code) {
        closing = true;
        authTimer.stop();
        socket->close(code);
    }
};

struct BridgeServer::SessionTurn {
    QPointer<AgentTurn> turn;
    QString messageID;
};

} // namespace rirudez::server
