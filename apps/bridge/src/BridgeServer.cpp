#include "BridgeServer.h"

#include "Secrets.h"
#include "ServerCodec.h"
#include "agents/CliAgentTurn.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QAbstractHttpServer>
#include <QHostInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QLoggingCategory>
#include <QSet>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <QUuid>
#include <QWebSocket>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcServer, "zad.bridge.server")

namespace {

using Status = QHttpServerResponder::StatusCode;
constexpr qint64 maxPairBodyBytes = 4096;

QByteArray headerValue(const QHttpServerRequest &request, QByteArrayView name) {
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QByteArray errorBody(const QString &message) {
    Json json = Json::object();
    json["error"] = wire::toStdString(message);
    return wire::dump(json);
}

} // namespace

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
        makeResponder(request, socket).write(errorBody(u"not found"_s), "application/json", Status::NotFound);
    }

private:
    BridgeServer *m_owner;
};

struct BridgeServer::Connection {
    QWebSocket *socket = nullptr;
    bool authenticated = false;
    QTimer authTimer;
    QSet<QString> subscriptions;
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

// ---------------------------------------------------------------------------------------------

BridgeServer::BridgeServer(BridgeServerOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_pairingCodes(m_options.pairing) {}

BridgeServer::~BridgeServer() {
    stop();
}

bool BridgeServer::isListening() const {
    return m_http != nullptr && m_port != 0;
}

QString BridgeServer::name() const {
    return m_options.name.isEmpty() ? u"Zad Ezarur on %1"_s.arg(QHostInfo::localHostName()) : m_options.name;
}

QStringList BridgeServer::agentNames() const {
    QStringList names;
    for (const Agent agent : allAgents)
        if (agentEnabled(agent))
            names.append(rawValue(agent));
    return names;
}

bool BridgeServer::agentEnabled(Agent agent) const {
    return m_options.agents.contains(agent);
}

BridgeHealth BridgeServer::health() const {
    BridgeHealth health;
    health.ok = true;
    health.name = name();
    health.agents = agentNames();
    for (const Agent agent : allAgents)
        if (agentEnabled(agent))
            if (auto models = m_launcher.models(agent))
                health.models.append(*models);
    health.projects = m_projects ? m_projects->describeAll() : QList<BridgeProject>{};
    health.protocol = bridgeProtocolVersion;
    return health;
}

BridgeMessage BridgeServer::helloFrame() const {
    const BridgeHealth h = health();
    return BridgeMessage{BridgeMessage::Hello{h.name, h.agents, h.models, h.projects, bridgeProtocolVersion}};
}

void BridgeServer::bump(quint64 BridgeCounters::*counter, quint64 by) {
    m_counters.*counter += by;
    Q_EMIT countersChanged();
}

bool BridgeServer::start(QString *error) {
    stop();
    auto state = StateDirectory::open(m_options.stateDirectory);
    if (!state) {
        if (error)
            *error = state.error();
        return false;
    }
    m_state = *state;
    m_projects = std::make_unique<ProjectRegistry>(m_state->projectsFile(), m_state->projectsRoot());
    QString problem;
    if (!m_projects->load(&problem)) {
        if (error)
            *error = problem;
        return false;
    }
    m_sessions = std::make_unique<SessionStore>(m_state->sessionsPath());
    m_sessions->load();
    QString catalogueProblem;
    AgentLauncher::Setup agents{
        m_options.agentCommands,
        AgentCatalogue::load(m_state->filePath(u"agent-models.json"_s), &catalogueProblem),
        m_options.chunkDelay, m_options.agentStopGrace, QStringList{m_state->token()}};
    if (!catalogueProblem.isEmpty())
        qCWarning(lcServer).noquote() << catalogueProblem;
    m_launcher = AgentLauncher(std::move(agents));

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(m_state->identity().certificatePem, QSsl::Pem));
    tls.setPrivateKey(QSslKey(m_state->identity().privateKeyPem, QSsl::Ec, QSsl::Pem));
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (tls.localCertificate().isNull() || tls.privateKey().isNull()) {
        if (error)
            *error = u"the TLS key or certificate in %1 cannot be used"_s.arg(m_state->filePath(u"tls"_s));
        return false;
    }

    m_http = std::make_unique<HttpServer>(this);
    m_http->sslSetup(tls);
    connect(m_http.get(), &QAbstractHttpServer::newWebSocketConnection, this,
            &BridgeServer::acceptWebSockets);
    m_port = m_http->listen(m_options.host, m_options.port);
    if (m_port == 0) {
        m_http.reset();
        if (error)
            *error = u"cannot listen on %1:%2"_s.arg(m_options.host.toString()).arg(m_options.port);
        return false;
    }
    for (QTcpServer *listener : m_http->servers()) {
        auto *sslServer = qobject_cast<QSslServer *>(listener);
        if (!sslServer)
            continue;
        // Qt's HTTP server leaves Nagle on, which delays small frames by tens of milliseconds.
        connect(sslServer, &QSslServer::startedEncryptionHandshake, this, [this](QSslSocket *socket) {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            bump(&BridgeCounters::tlsHandshakesStarted);
        });
        connect(sslServer, &QSslServer::errorOccurred, this,
                [this](QSslSocket *, QAbstractSocket::SocketError) { bump(&BridgeCounters::tlsErrors); });
    }
    qCInfo(lcServer).noquote() << "listening on" << m_options.host.toString() << "port" << m_port << "with"
                               << m_projects->projects().size() << "projects";
    return true;
}

void BridgeServer::stop() {
    const QStringList running = m_sessionTurns.keys();
    for (const QString &sessionID : running)
        endSessionTurn(sessionID, TurnState::cancelled);
    while (!m_connections.isEmpty()) {
        Connection *connection = m_connections.first();
        connection->closeWith(QWebSocketProtocol::CloseCodeGoingAway);
        dropConnection(connection);
    }
    // The agents' programs are asked to stop by the cancels above; wait until they are gone.
    CliAgentTurn::stopAll(m_options.agentStopGrace);
    if (m_http)
        qCInfo(lcServer) << "stopped listening on port" << m_port;
    m_http.reset();
    m_port = 0;
}

// ---------------------------------------------------------------------------------------------
// HTTP

bool BridgeServer::handleHttpRequest(const QHttpServerRequest &request, QTcpSocket *socket) {
    bump(&BridgeCounters::httpRequests);
    if (!request.body().isEmpty())
        bump(&BridgeCounters::applicationBytes, quint64(request.body().size()));

    const bool upgrade = headerValue(request, "upgrade").toLower().contains("websocket");
    const QString path = request.url().path();
    auto reply = [&](Status status, const QByteArray &body, QByteArray extraName = {},
                     QByteArray extraValue = {}) {
        auto responder = HttpServer::responder(request, socket);
        if (extraName.isEmpty())
            responder.write(body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}},
                            status);
        else
            responder.write(body,
                            {{"Content-Type", "application/json"},
                             {"Cache-Control", "no-store"},
                             {extraName, extraValue}},
                            status);
    };
    // A refusal: for an upgrade request, returning false keeps the socket from becoming a WebSocket.
    auto refuse = [&](Status status, const QString &message) {
        reply(status, errorBody(message));
        if (upgrade) {
            m_http->answered = true;
            return false;
        }
        return true;
    };

    // Browsers send Origin; no legitimate client of ours does. Refusing it defeats DNS rebinding.
    if (!headerValue(request, "origin").isEmpty()) {
        qCWarning(lcServer) << "refused a request with a browser Origin for" << path;
        return refuse(Status::Forbidden, u"requests from browsers are not accepted"_s);
    }

    if (path == u"/ws") {
        if (!upgrade || request.method() != QHttpServerRequest::Method::Get)
            return refuse(Status::UpgradeRequired, u"/ws is a WebSocket endpoint"_s);
        return true; // nothing written: Qt answers 101 and hands the socket to acceptWebSockets()
    }
    if (upgrade)
        return refuse(Status::BadRequest, u"no WebSocket at %1"_s.arg(path));

    if (path == u"/health") {
        if (request.method() != QHttpServerRequest::Method::Get)
            return refuse(Status::MethodNotAllowed, u"use GET"_s);
        const QByteArray authorization = headerValue(request, "authorization");
        const QByteArray prefix = "Bearer ";
        const bool bearer = authorization.size() > prefix.size() &&
                            authorization.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
        if (!bearer ||
            !constantTimeEquals(authorization.mid(prefix.size()).trimmed(), m_state->token().toUtf8())) {
            reply(Status::Unauthorized, errorBody(u"unauthorized"_s), "WWW-Authenticate", "Bearer");
            return true;
        }
        reply(Status::Ok, encodeBridgeHealth(health()));
        return true;
    }

    if (path == u"/pair") {
        if (request.method() != QHttpServerRequest::Method::Post)
            return refuse(Status::MethodNotAllowed, u"use POST"_s);
        if (request.body().size() > maxPairBodyBytes)
            return refuse(Status::PayloadTooLarge, u"the body is too large"_s);
        const auto body = wire::parse(request.body());
        std::optional<QString> code;
        if (body && body->is_object()) {
            if (const auto it = body->find("code"); it != body->end() && it->is_string())
                code = wire::toQString(it->get<std::string>());
        }
        if (!code)
            return refuse(Status::BadRequest, u"expected {\"code\": \"<digits>\"}"_s);
        const auto answer = m_pairingCodes.redeem(*code);
        switch (answer.outcome) {
        case PairingCodes::Outcome::granted: {
            qCInfo(lcServer) << "a pairing code was redeemed from" << request.remoteAddress().toString();
            Json granted = Json::object();
            granted["token"] = wire::toStdString(m_state->token());
            granted["name"] = wire::toStdString(name());
            Json agents = Json::array();
            for (const QString &agent : agentNames())
                agents.push_back(wire::toStdString(agent));
            granted["agents"] = std::move(agents);
            granted["protocol"] = bridgeProtocolVersion;
            granted["fp"] = wire::toStdString(m_state->fingerprint());
            reply(Status::Ok, wire::dump(granted));
            return true;
        }
        case PairingCodes::Outcome::wrong: {
            qCWarning(lcServer) << "a wrong pairing code from" << request.remoteAddress().toString() << ";"
                                << answer.attemptsLeft << "attempts left";
            Json wrong = Json::object();
            wrong["attempts_left"] = answer.attemptsLeft;
            reply(Status::Unauthorized, wire::dump(wrong));
            return true;
        }
        case PairingCodes::Outcome::locked: {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::seconds>(m_pairingCodes.config().lockout);
            reply(Status::TooManyRequests,
                  errorBody(u"too many wrong codes; pairing is locked for a while"_s), "Retry-After",
                  QByteArray::number(qint64(seconds.count())));
            return true;
        }
        }
    }

    reply(Status::NotFound, errorBody(u"not found"_s));
    return true;
}

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
// Projects and sessions

std::optional<QString> BridgeServer::modelProblem(Agent agent, const std::optional<QString> &model) const {
    if (!model)
        return std::nullopt;
    if (const auto models = m_launcher.models(agent); models && models->models.contains(*model))
        return std::nullopt;
    return u"model %1 is not available for %2"_s.arg(*model, rawValue(agent));
}

void BridgeServer::listProjects(Connection *connection, const ClientMessage::ListProjects &request) {
    send(connection, BridgeMessage{BridgeMessage::Projects{request.requestID, m_projects->describeAll()}});
}

void BridgeServer::registerProject(Connection *connection, const ClientMessage::RegisterProject &request) {
    auto project = m_projects->registerProject(request);
    if (!project) {
        repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest, project.error());
        return;
    }
    send(connection,
         BridgeMessage{BridgeMessage::ProjectRegistered{request.requestID, m_projects->describe(*project)}});
}

void BridgeServer::listRepoSessions(Connection *connection, const ClientMessage::ListRepoSessions &request) {
    if (request.projectID && !m_projects->find(*request.projectID)) {
        repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                  u"unknown project %1"_s.arg(*request.projectID));
        return;
    }
    send(connection, BridgeMessage{BridgeMessage::RepoSessions{request.requestID,
                                                               m_sessions->summaries(request.projectID)}});
}

void BridgeServer::openRepoSession(Connection *connection, const ClientMessage::OpenRepoSession &request) {
    const ProjectRecord *project = m_projects->find(request.projectID);
    if (!project)
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                         u"unknown project %1"_s.arg(request.projectID));
    if (!agentEnabled(request.agent))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::agentUnavailable,
                         u"agent %1 is not available on this bridge"_s.arg(rawValue(request.agent)));
    if (auto problem = modelProblem(request.agent, request.model))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::modelUnavailable, *problem);
    if (rank(request.access) > rank(project->maxAccess))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                         u"access %1 is above the project's maximum %2"_s.arg(rawValue(request.access),
                                                                              rawValue(project->maxAccess)));
    RepoSessionSummary summary;
    summary.projectID = project->id;
    summary.agent = request.agent;
    summary.model = request.model;
    summary.thinkingEffort = request.thinkingEffort;
    summary.permissionMode = request.permissionMode;
    summary.access = request.access;
    summary.allowWeb = request.allowWeb;
    auto created = m_sessions->create(summary);
    if (!created)
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::internalError,
                         created.error());
    qCInfo(lcServer).noquote() << "opened repo session" << created->sessionID << "in" << project->id;
    Q_EMIT sessionEventStored(created->sessionID, 1);
    send(connection, BridgeMessage{BridgeMessage::RepoSessionOpened{request.requestID, *created}});
}

void BridgeServer::subscribe(Connection *connection, const ClientMessage::SubscribeRepoSession &request) {
    auto events = m_sessions->events(request.sessionID);
    if (!events)
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    // Replay and subscription happen in one go on this thread, so no event falls between them.
    for (const StoredEvent &stored : *events)
        send(connection,
             BridgeMessage{BridgeMessage::RepoEvent{request.sessionID, stored.sequence, stored.event}});
    connection->subscriptions.insert(request.sessionID);
}

std::optional<std::uint64_t> BridgeServer::publish(const QString &sessionID, const RepoSessionEvent &event) {
    auto sequence = m_sessions->append(sessionID, event);
    if (!sequence) {
        qCCritical(lcServer).noquote() << sequence.error();
        return std::nullopt;
    }
    const QByteArray frame =
        encodeBridgeMessage(BridgeMessage{BridgeMessage::RepoEvent{sessionID, *sequence, event}});
    for (Connection *connection : std::as_const(m_connections))
        if (connection->authenticated && connection->subscriptions.contains(sessionID))
            sendRaw(connection, frame);
    Q_EMIT sessionEventStored(sessionID, *sequence);
    return *sequence;
}

void BridgeServer::repoMessage(Connection *connection, const ClientMessage::RepoMessage &request) {
    const QString &sessionID = request.sessionID;
    const auto summary = m_sessions->summary(sessionID);
    if (!summary)
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(sessionID));
    if (m_sessionTurns.contains(sessionID))
        return repoError(connection, std::nullopt, sessionID, ErrorCode::turnInFlight,
                         u"a turn is already running in this session"_s);
    if (request.prompt.trimmed().isEmpty() && request.images.isEmpty())
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"the message is empty"_s);
    const ProjectRecord *project = m_projects->find(summary->projectID);
    if (!project)
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"project %1 is no longer registered"_s.arg(summary->projectID));
    if (!agentEnabled(summary->agent))
        return repoError(connection, std::nullopt, sessionID, ErrorCode::agentUnavailable,
                         u"agent %1 is not available on this bridge"_s.arg(rawValue(summary->agent)));

    RepoSessionSummary updated = *summary;
    if (request.settings) {
        const RepoMessageSettings &settings = *request.settings;
        if (auto problem = modelProblem(summary->agent, settings.model))
            return repoError(connection, std::nullopt, sessionID, ErrorCode::modelUnavailable, *problem);
        if (rank(settings.access) > rank(project->maxAccess))
            return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                             u"access %1 is above the project's maximum %2"_s.arg(
                                 rawValue(settings.access), rawValue(project->maxAccess)));
        // The settings are the sender's whole composer state: they replace the session's.
        updated.model = settings.model;
        updated.thinkingEffort = settings.thinkingEffort;
        updated.permissionMode = settings.permissionMode;
        updated.access = settings.access;
        updated.allowWeb = settings.allowWeb;
        if (updated != *summary) {
            if (!m_sessions->updateSummary(updated))
                return repoError(connection, std::nullopt, sessionID, ErrorCode::internalError,
                                 u"cannot store the session's new settings"_s);
            publish(sessionID, RepoSessionEvent{RepoSessionEvent::SessionUpdated{updated}});
        }
    }

    const QString messageID =
        request.messageID.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : request.messageID;
    publish(sessionID,
            RepoSessionEvent{RepoSessionEvent::UserMessage{messageID, request.prompt, request.images}});
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{TurnState::received}});
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{TurnState::working}});

    AgentTurnRequest turnRequest{
        request.prompt,   request.images, project->name,           project->path,          messageID,
        updated.agent,    updated.model,  updated.thinkingEffort,  updated.permissionMode, updated.access,
        updated.allowWeb, true,           updated.upstreamThreadID};
    AgentTurn *turn = m_launcher.create(turnRequest, this);
    m_sessionTurns.insert(sessionID, new SessionTurn{turn, messageID});
    connect(turn, &AgentTurn::event, this,
            [this, sessionID](const RepoSessionEvent &event) { publish(sessionID, event); });
    connect(turn, &AgentTurn::finished, this,
            [this, sessionID](bool) { endSessionTurn(sessionID, TurnState::done); });
    connect(turn, &AgentTurn::upstreamThreadStarted, this,
            [this, sessionID](const QString &threadID) { rememberUpstreamThread(sessionID, threadID); });
    turn->start();
}

void BridgeServer::endSessionTurn(const QString &sessionID, TurnState state) {
    SessionTurn *running = m_sessionTurns.take(sessionID);
    if (!running)
        return;
    if (running->turn) {
        running->turn->disconnect(this);
        if (state == TurnState::cancelled) {
            // An approval that nobody will answer any more is resolved, so no client keeps waiting on it.
            for (const QString &pending : running->turn->pendingApprovals())
                publish(sessionID, RepoSessionEvent{RepoSessionEvent::ApprovalResolved{
                                       pending, RepoApprovalDecision::denied}});
        }
        running->turn->cancel();
        running->turn->deleteLater();
    }
    delete running;
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{state}});
}

void BridgeServer::rememberUpstreamThread(const QString &sessionID, const QString &threadID) {
    auto summary = m_sessions->summary(sessionID);
    const std::optional<QString> thread = threadID.isEmpty() ? std::nullopt : std::optional(threadID);
    if (!summary || summary->upstreamThreadID == thread)
        return;
    summary->upstreamThreadID = thread;
    if (!m_sessions->updateSummary(*summary)) {
        qCWarning(lcServer).noquote() << "cannot store the agent's conversation of session" << sessionID;
        return;
    }
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::SessionUpdated{*summary}});
}

void BridgeServer::approvalResponse(Connection *connection,
                                    const ClientMessage::RepoApprovalResponse &request) {
    if (!m_sessions->contains(request.sessionID))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    SessionTurn *running = m_sessionTurns.value(request.sessionID);
    if (!running || !running->turn || !running->turn->answerApproval(request.approvalID, request.decision))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"no pending approval %1 in this session"_s.arg(request.approvalID));
}

void BridgeServer::cancelRepoMessage(Connection *connection,
                                     const ClientMessage::CancelRepoMessage &request) {
    if (!m_sessions->contains(request.sessionID))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    // Without a running turn there is nothing to stop; a late stop is not an error.
    endSessionTurn(request.sessionID, TurnState::cancelled);
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
