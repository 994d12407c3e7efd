// The bridge server's WebSocket side: connections, authentication, frames, and the stand-alone turns
// that belong to a connection.
#include "BridgeServerParts.h"

#include "Secrets.h"
#include "ServerCodec.h"

namespace rirudez::server {
using namespace Qt::StringLiterals;

// ---------------------------------------------------------------------------------------------
// WebSocket connections

void BridgeServer::acceptWebSockets() {
    while (m_http && m_http->hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket = m_http->nextPendingWebSocketConnection();
        if (!socket)
            break;
        auto *connection = new Connection;
        connection->socket = socket.release();
        connection->peer =
            u"%1:%2"_s.arg(connection->socket->peerAddress().toString()).arg(connection->socket->peerPort());
        // Qt drops anything beyond twice our limit by itself; up to that we answer with an error frame.
        connection->socket->setMaxAllowedIncomingMessageSize(quint64(m_options.maxFrameBytes) * 2);
        connection->socket->setMaxAllowedIncomingFrameSize(quint64(m_options.maxFrameBytes) * 2);
        m_connections.append(connection);
        bump(&BridgeCounters::webSocketConnections);
        qCInfo(lcServer).noquote() << "WebSocket opened by" << connection->peer;

        connect(connection->socket, &QWebSocket::textMessageReceived, this,
                [this, connection](const QString &text) { onMessage(connection, text.toUtf8()); });
        connect(connection->socket, &QWebSocket::binaryMessageReceived, this,
                [this, connection](const QByteArray &bytes) { onMessage(connection, bytes); });
        connect(connection->socket, &QWebSocket::disconnected, this,
                [this, connection] { dropConnection(connection); });
        connect(connection->socket, &QWebSocket::bytesWritten, this, [this, connection](qint64 written) {
            connection->replayBytesQueued = std::max<qint64>(0, connection->replayBytesQueued - written);
            continueReplays(connection);
        });
        // Should the socket report no progress, the replay looks again now and then.
        connection->replayTimer.setInterval(100);
        connect(&connection->replayTimer, &QTimer::timeout, this, [this, connection] {
            connection->replayBytesQueued = 0;
            continueReplays(connection);
        });

        connection->authTimer.setSingleShot(true);
        connection->authTimer.setInterval(m_options.authTimeout);
        connect(&connection->authTimer, &QTimer::timeout, this, [this, connection] {
            send(connection, BridgeMessage{BridgeMessage::Error{std::nullopt, ErrorCode::unauthorized,
                                                                u"authentication timed out"_s}});
            connection->closeWith(QWebSocketProtocol::CloseCodePolicyViolated);
        });
        connection->authTimer.start();
    }
}

void BridgeServer::dropConnection(Connection *connection) {
    if (!m_connections.removeOne(connection))
        return;
    qCInfo(lcServer).noquote() << "WebSocket closed by" << connection->peer;
    if (connection->turn) {
        connection->turn->disconnect(this);
        connection->turn->cancel();
        connection->turn->deleteLater();
    }
    connection->authTimer.stop();
    // The socket may still emit from its destructor: nothing of ours listens any more by then.
    connection->socket->disconnect(this);
    connection->socket->deleteLater();
    delete connection;
}

void BridgeServer::sendRaw(Connection *connection, const QByteArray &frame) {
    connection->socket->sendTextMessage(QString::fromUtf8(frame));
}

void BridgeServer::send(Connection *connection, const BridgeMessage &message) {
    sendRaw(connection, encodeBridgeMessage(message));
}

void BridgeServer::repoError(Connection *connection, std::optional<QString> requestID,
                             std::optional<QString> sessionID, ErrorCode code, const QString &message) {
    qCDebug(lcServer).noquote() << "repo_error" << code.wireValue() << message;
    send(connection,
         BridgeMessage{BridgeMessage::RepoError{std::move(requestID), std::move(sessionID), code, message}});
}

void BridgeServer::onMessage(Connection *connection, const QByteArray &bytes) {
    bump(&BridgeCounters::framesReceived);
    bump(&BridgeCounters::applicationBytes, quint64(bytes.size()));
    if (connection->closing)
        return;

    if (bytes.size() > m_options.maxFrameBytes) {
        qCWarning(lcServer).noquote()
            << "refused a frame of" << bytes.size() << "bytes from" << connection->peer;
        send(connection, BridgeMessage{BridgeMessage::Error{
                             std::nullopt, ErrorCode::badRequest,
                             u"frame too large: %1 bytes, the limit is %2"_s.arg(bytes.size())
                                 .arg(m_options.maxFrameBytes)}});
        connection->closeWith(QWebSocketProtocol::CloseCodeTooMuchData);
        return;
    }

    auto decoded = decodeClientMessage(bytes);
    if (!connection->authenticated) {
        const auto *auth = decoded ? decoded->as<ClientMessage::Auth>() : nullptr;
        const bool accepted = auth && constantTimeEquals(auth->token.toUtf8(), m_state->token().toUtf8());
        if (!accepted) {
            qCWarning(lcServer).noquote() << "refused WebSocket of" << connection->peer
                                          << (auth ? "(wrong token)" : "(first frame is not auth)");
            send(connection, BridgeMessage{BridgeMessage::Error{std::nullopt, ErrorCode::unauthorized,
                                                                auth ? u"invalid token"_s
                                                                     : u"the first frame must be auth"_s}});
            connection->closeWith(QWebSocketProtocol::CloseCodePolicyViolated);
            return;
        }
        connection->authenticated = true;
        connection->authTimer.stop();
        bump(&BridgeCounters::authenticatedSockets);
        send(connection, helloFrame());
        return;
    }

    if (!decoded) {
        refuseUndecodable(connection, bytes, decoded.error().description);
        return;
    }
    handleFrame(connection, *decoded);
}

void BridgeServer::refuseUndecodable(Connection *connection, const QByteArray &bytes,
                                     const QString &description) {
    const QString message = u"malformed frame: %1"_s.arg(description);
    qCDebug(lcServer).noquote() << message;
    // Answer in the frame that lets the client tie the error to its request when it named one.
    std::optional<QString> requestID, sessionID, turnID;
    if (auto json = wire::parse(bytes); json && json->is_object()) {
        auto text = [&](const char *key) -> std::optional<QString> {
            const auto it = json->find(key);
            if (it == json->end() || !it->is_string())
                return std::nullopt;
            return wire::toQString(it->get<std::string>());
        };
        requestID = text("request_id");
        sessionID = text("session_id");
        turnID = text("turn_id");
    }
    if (requestID || sessionID)
        repoError(connection, requestID, sessionID, ErrorCode::badRequest, message);
    else
        send(connection, BridgeMessage{BridgeMessage::Error{turnID, ErrorCode::badRequest, message}});
}

void BridgeServer::handleFrame(Connection *connection, const ClientMessage &message) {
    using M = ClientMessage;
    std::visit(
        [&](const auto &frame) {
            using Frame = std::decay_t<decltype(frame)>;
            if constexpr (std::is_same_v<Frame, M::Auth>)
                repoError(connection, std::nullopt, std::nullopt, ErrorCode::badRequest,
                          u"already authenticated"_s);
            else if constexpr (std::is_same_v<Frame, M::Turn>)
                standaloneTurn(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::ListProjects>)
                listProjects(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::RegisterProject>)
                registerProject(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::ListRepoSessions>)
                listRepoSessions(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::OpenRepoSession>)
                openRepoSession(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::SubscribeRepoSession>)
                subscribe(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::RepoMessage>)
                repoMessage(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::RepoApprovalResponse>)
                approvalResponse(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::CancelRepoMessage>)
                cancelRepoMessage(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::Cancel>)
                cancelStandaloneTurn(connection, frame);
            else if constexpr (std::is_same_v<Frame, M::Ping>)
                send(connection, BridgeMessage{BridgeMessage::Pong{}});
        },
        message.value);
}

// ---------------------------------------------------------------------------------------------
// Stand-alone turns: tied to the connection that started them, reported with turn frames.

void BridgeServer::standaloneTurn(Connection *connection, const ClientMessage::Turn &frame) {
    const TurnRequest &request = frame.request;
    auto fail = [&](ErrorCode code, const QString &message) {
        send(connection, BridgeMessage{BridgeMessage::Error{request.turnID, code, message}});
    };
    if (connection->turn)
        return fail(ErrorCode::turnInFlight, u"a turn is already running on this connection"_s);
    const ProjectRecord *project = m_projects->find(request.project);
    if (!project) {
        for (const auto &candidate : m_projects->projects())
            if (candidate.name == request.project)
                project = &candidate;
    }
    if (!project)
        return fail(ErrorCode::badRequest, u"unknown project %1"_s.arg(request.project));
    if (!agentEnabled(request.agent))
        return fail(ErrorCode::agentUnavailable,
                    u"agent %1 is not available on this bridge"_s.arg(rawValue(request.agent)));
    if (auto problem = modelProblem(request.agent, request.model))
        return fail(ErrorCode::modelUnavailable, *problem);
    if (request.prompt.trimmed().isEmpty() && request.images.isEmpty())
        return fail(ErrorCode::badRequest, u"the prompt is empty"_s);

    const QString turnID = request.turnID;
    send(connection, BridgeMessage{BridgeMessage::Status{turnID, TurnState::received}});
    send(connection, BridgeMessage{BridgeMessage::Status{turnID, TurnState::working}});

    AgentTurnRequest turnRequest{request.prompt,
                                 request.images,
                                 project->name,
                                 project->path,
                                 turnID,
                                 request.agent,
                                 request.model,
                                 request.thinkingEffort,
                                 request.permissionMode,
                                 request.mode == TurnMode::ask ? RepoAccessMode::watch
                                                               : project->defaultAccess,
                                 request.allowWeb,
                                 false,
                                 std::nullopt};
    AgentTurn *turn = m_launcher.create(turnRequest, this);
    connection->turn = turn;
    connection->turnID = turnID;
    connection->turnText.clear();
    connect(turn, &AgentTurn::event, this, [this, connection, turnID](const RepoSessionEvent &event) {
        using E = RepoSessionEvent;
        if (const auto *tool = event.as<E::ToolUse>()) {
            send(connection, BridgeMessage{BridgeMessage::Event{turnID, u"tool_use"_s, tool->name}});
        } else if (const auto *text = event.as<E::AssistantText>()) {
            connection->turnText += text->text;
            send(connection, BridgeMessage{BridgeMessage::Event{turnID, u"assistant_text"_s, text->text}});
        } else if (const auto *file = event.as<E::CreatedFile>()) {
            send(connection,
                 BridgeMessage{BridgeMessage::Event{turnID, u"created_file"_s, file->file.title}});
        } else if (const auto *result = event.as<E::Result>()) {
            const double cost =
                result->usage && result->usage->estimatedCostUSD ? *result->usage->estimatedCostUSD : 0.0;
            send(connection, BridgeMessage{BridgeMessage::Result{TurnResult{
                                 turnID, connection->turnText, cost, std::nullopt, result->usage}}});
            send(connection, BridgeMessage{BridgeMessage::Status{turnID, TurnState::done}});
        } else if (const auto *error = event.as<E::Error>()) {
            send(connection, BridgeMessage{BridgeMessage::Error{turnID, error->code, error->message}});
        }
    });
    connect(turn, &AgentTurn::finished, this, [connection, turn](bool) {
        if (connection->turn == turn) {
            connection->turn = nullptr;
            connection->turnID.clear();
        }
        turn->deleteLater();
    });
    turn->start();
}

void BridgeServer::cancelStandaloneTurn(Connection *connection, const ClientMessage::Cancel &request) {
    if (!connection->turn || connection->turnID != request.turnID)
        return; // nothing of that name runs here; a late cancel is not an error
    AgentTurn *turn = connection->turn;
    turn->disconnect(this);
    turn->cancel();
    turn->deleteLater();
    connection->turn = nullptr;
    connection->turnID.clear();
    send(connection, BridgeMessage{BridgeMessage::Status{request.turnID, TurnState::cancelled}});
}

} // namespace rirudez::server
