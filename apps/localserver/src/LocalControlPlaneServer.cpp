#include "LocalControlPlaneServer.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTimer>

namespace rirudez::localserver {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcLocalServer, "rirudez.localserver")

namespace {

using Status = QHttpServerResponder::StatusCode;

// A client seen within this time counts as connected; within the longer one as recent.
constexpr qint64 connectedSeconds = 60;
constexpr qint64 recentSeconds = 15 * 60;
// Requests kept for diagnostics.
constexpr qsizetype maxReceived = 256;
// How often the provider's tool is asked again.
constexpr int probeIntervalMs = 60'000;

std::optional<QByteArray> header(const QHttpServerRequest &request, QByteArrayView name) {
    for (const auto &[key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return std::nullopt;
}

QByteArray errorBody(const QString &message) {
    return QJsonDocument(QJsonObject{{u"error"_s, message}}).toJson(QJsonDocument::Compact);
}

bool constantTimeEquals(const QByteArray &a, const QByteArray &b) {
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const QByteArray &longer = a.size() >= b.size() ? a : b;
    for (qsizetype i = 0; i < longer.size(); ++i) {
        const char x = i < a.size() ? a[i] : 0;
        const char y = i < b.size() ? b[i] : 0;
        difference |= static_cast<unsigned char>(x ^ y);
    }
    return difference == 0;
}

QString methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return u"GET"_s;
    case QHttpServerRequest::Method::Head:
        return u"HEAD"_s;
    case QHttpServerRequest::Method::Post:
        return u"POST"_s;
    case QHttpServerRequest::Method::Put:
        return u"PUT"_s;
    case QHttpServerRequest::Method::Delete:
        return u"DELETE"_s;
    case QHttpServerRequest::Method::Options:
        return u"OPTIONS"_s;
    case QHttpServerRequest::Method::Patch:
        return u"PATCH"_s;
    default:
        return u"OTHER"_s;
    }
}

} // namespace

// Every request goes through handle(); WebSocket upgrades are refused there before Qt could accept them.
class LocalControlPlaneServer::HttpServer : public QAbstractHttpServer {
public:
    explicit HttpServer(LocalControlPlaneServer *owner) : m_owner(owner) {}
    static QHttpServerResponder responder(const QHttpServerRequest &request, QTcpSocket *socket) {
        return makeResponder(request, socket);
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override {
        return m_owner->handle(request, socket);
    }
    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    LocalControlPlaneServer *m_owner;
};

LocalControlPlaneServer::LocalControlPlaneServer(LocalServerOptions options, QObject *parent)
    : QObject(parent), m_options(std::move(options)),
      m_probe(std::make_unique<ProviderCLIProbe>(m_options.provider, m_options.cliSearchPath)) {
    if (m_options.requirePairing) {
        m_pairingCode = m_options.pairingCode.trimmed();
        if (m_pairingCode.isEmpty())
            m_pairingCode =
                u"%1"_s.arg(QRandomGenerator::system()->bounded(1'000'000), 6, 10, QLatin1Char('0'));
    }
    auto *reprobe = new QTimer(this);
    reprobe->setInterval(probeIntervalMs);
    connect(reprobe, &QTimer::timeout, this, [this] { m_probe->refresh(); });
    reprobe->start();
}

LocalControlPlaneServer::~LocalControlPlaneServer() {
    stop();
}

bool LocalControlPlaneServer::start(QString *error) {
    stop();
    m_http = std::make_unique<HttpServer>(this);
    m_port = m_http->listen(m_options.host, m_options.port);
    if (m_port == 0) {
        m_http.reset();
        if (error)
            *error = u"cannot listen on %1 port %2"_s.arg(m_options.host.toString()).arg(m_options.port);
        return false;
    }
    m_probe->refresh();
    if (!m_options.host.isLoopback())
        m_advertiser = std::make_unique<LocalServerAdvertiser>(m_port, m_options.provider);
    qCInfo(lcLocalServer).noquote() << "listening on" << m_options.host.toString() << "port" << m_port;
    return true;
}

void LocalControlPlaneServer::stop() {
    m_advertiser.reset();
    m_http.reset();
    m_port = 0;
}

bool LocalControlPlaneServer::isListening() const {
    return m_http != nullptr;
}

void LocalControlPlaneServer::noteClient(const QHostAddress &peer) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    m_clientsSeen.insert(peer.toString(), now);
    // Forget clients not seen for a long while, so the table stays small.
    for (auto it = m_clientsSeen.begin(); it != m_clientsSeen.end();) {
        if (it.value().secsTo(now) > recentSeconds)
            it = m_clientsSeen.erase(it);
        else
            ++it;
    }
}

LocalServerHealth LocalControlPlaneServer::health() const {
    const ProviderCLIStatus &cli = m_probe->status();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::int64_t active = 0;
    QDateTime last;
    for (auto it = m_clientsSeen.cbegin(); it != m_clientsSeen.cend(); ++it) {
        if (it.value().secsTo(now) <= connectedSeconds)
            ++active;
        if (!last.isValid() || it.value() > last)
            last = it.value();
    }
    CompanionTabletState tablet = CompanionTabletState::waiting;
    if (active > 0)
        tablet = CompanionTabletState::connected;
    else if (last.isValid())
        tablet = CompanionTabletState::recent;

    QStringList capabilities{u"health"_s};
    if (m_options.requirePairing)
        capabilities.append(u"pairing_code"_s);

    LocalServerHealth health{u"ok"_s, m_options.serviceName};
    health.requiresPairing = m_options.requirePairing;
    if (m_options.requirePairing)
        health.pairingCode = m_pairingCode;
    health.provider = rawValue(m_options.provider);
    health.providerAuthenticated = cli.isAuthenticated;
    health.providerAccountLabel = cli.accountLabel;
    health.tabletState = tablet;
    health.tabletConnected = active > 0;
    health.activeClientsCount = active;
    if (last.isValid())
        health.lastClientSeenAt = last.toString(Qt::ISODate);
    health.version = QString::fromLatin1(version);
    health.capabilities = capabilities;
    return health;
}

bool LocalControlPlaneServer::handle(const QHttpServerRequest &request, QTcpSocket *socket) {
    const QString path = request.url().path();
    if (m_received.size() >= maxReceived)
        m_received.removeFirst();
    m_received.append(ReceivedRequest{methodName(request.method()), path, header(request, "authorization"),
                                      header(request, "accept").value_or(QByteArray())});

    auto reply = [&](Status status, const QByteArray &body) {
        HttpServer::responder(request, socket)
            .write(body, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}}, status);
        return true;
    };

    // Browsers send Origin; the companion and the desktop do not. Refusing it defeats DNS rebinding.
    if (header(request, "origin"))
        return reply(Status::Forbidden, errorBody(u"requests from browsers are not accepted"_s));
    if (header(request, "upgrade")) {
        // Returning false after the answer keeps Qt from turning the socket into a WebSocket.
        reply(Status::BadRequest, errorBody(u"this server does not upgrade connections"_s));
        return false;
    }
    if (path != u"/health"_s && path != u"/pairing-code"_s)
        return reply(Status::NotFound, errorBody(u"no such endpoint: %1"_s.arg(path.left(200))));
    if (request.method() != QHttpServerRequest::Method::Get)
        return reply(Status::MethodNotAllowed, errorBody(u"use GET"_s));

    if (m_options.token) {
        const QByteArray authorization = header(request, "authorization").value_or(QByteArray());
        const QByteArray prefix = "Bearer ";
        const bool bearer = authorization.size() > prefix.size() &&
                            authorization.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
        if (!bearer ||
            !constantTimeEquals(authorization.mid(prefix.size()).trimmed(), m_options.token->toUtf8())) {
            qCWarning(lcLocalServer).noquote()
                << "refused" << path << "from" << request.remoteAddress().toString()
                << ": wrong or missing token";
            return reply(Status::Unauthorized, errorBody(u"a valid bearer token is required"_s));
        }
    }

    noteClient(request.remoteAddress());
    if (path == u"/health"_s)
        return reply(Status::Ok, health().encode());
    if (!m_options.requirePairing)
        return reply(Status::NotFound, errorBody(u"pairing is not required by this server"_s));
    return reply(Status::Ok, PairingCodeResponse{m_pairingCode}.encode());
}

} // namespace rirudez::localserver
