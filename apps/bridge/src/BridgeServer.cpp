#include "BridgeServerParts.h"

#include "Secrets.h"
#include "ServerCodec.h"
#include "agents/CliAgentTurn.h"

#include <QHostInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>

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

} // namespace

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

} // namespace rirudez::server
