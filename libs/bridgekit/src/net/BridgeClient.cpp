#include "rirudez/bridgekit/BridgeClient.h"

#include "TransportErrors.h"
#include "Waiter.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUtf8StringView>
#include <QUuid>
#include <QWebSocket>

#include <chrono>

namespace rirudez {

using namespace Qt::StringLiterals;

namespace {

// Connections to the bridge: where to (debug), how they end, frames that cannot be read. The token never
// appears. Debug messages are off unless QT_LOGGING_RULES turns them on.
Q_LOGGING_CATEGORY(lcBridgeKitClient, "rirudez.bridgekit.client", QtInfoMsg)

// How long a socket that we closed may wait for the bridge's closing handshake before it is dropped.
constexpr std::chrono::seconds closeGrace{5};
constexpr std::chrono::seconds healthTimeLimit{8};

QString freshRequestID(const QString &prefix) {
    return prefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

TransportError socketFailure(const QWebSocket *socket) {
    if (socket->error() == QAbstractSocket::UnknownSocketError) {
        // Ended without a socket error: the bridge closed the WebSocket.
        return TransportError(TransportError::Kind::connectionLost,
                              u"closed by the peer (close code %1)"_s.arg(int(socket->closeCode())));
    }
    return TransportError(detail::transportKind(socket->error()), socket->errorString());
}

// Closes a socket we are done with ("going away") and deletes it once closed, or after a grace period when
// the bridge does not complete the closing handshake. It stays a child of its client until then, so a client
// that goes away takes it along.
void retire(QWebSocket *socket) {
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(closeGrace, socket, &QObject::deleteLater);
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->close(QWebSocketProtocol::CloseCodeGoingAway);
    } else {
        socket->abort();
    }
}

} // namespace

BridgeClient::BridgeClient(std::shared_ptr<URLSession> session, QObject *parent)
    : QObject(parent), m_session(std::move(session)) {}

BridgeClient::~BridgeClient() {
    disconnect();
}

int BridgeClient::pendingRequestCount() const {
    return int(m_repoOpenContinuations.size() + m_repoListContinuations.size() +
               m_projectRegistrationContinuations.size());
}

// ---------------------------------------------------------------------------------------------------------------
// Connection

QCoro::Task<BridgeMessage> BridgeClient::connect(Pairing pairing) {
    disconnect();
    if (!pairing.fp) {
        throw BridgeClientError::fingerprintMissing();
    }
    const std::optional<QUrl> url = pairing.wsURL();
    if (!url) {
        throw BridgeClientError::badURL();
    }

    QPointer<BridgeClient> self(this);
    const std::uint64_t generation = m_generation;
    // Still the connection this call opened (no disconnect or newer connect since)?
    auto isCurrent = [self, generation] { return self && self->m_generation == generation; };

    m_pinnedSession = CertPinning::pinnedSession(*pairing.fp);
    m_socket = m_pinnedSession->makeWebSocket(this);
    QWebSocket *socket = m_socket;
    QObject::connect(socket, &QWebSocket::connected, this, &BridgeClient::onSocketConnected);
    QObject::connect(socket, &QWebSocket::disconnected, this, &BridgeClient::onSocketEnded);
    // Qt 6.4 names the error signal error(); it overloads the error() getter.
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this, socket] {
                         if (socket->state() == QAbstractSocket::UnconnectedState) {
                             onSocketEnded();
                         }
                     });
    QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                     [this](const QString &text) { onSocketBytes(text.toUtf8()); });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, this, &BridgeClient::onSocketBytes);

    qCDebug(lcBridgeKitClient).noquote() << "connecting to" << pairing.host << "port" << pairing.port;
    m_phase = Phase::opening;
    auto openWaiter = detail::Waiter<bool>::make();
    m_openWaiter = openWaiter;
    socket->open(*url);
    co_await openWaiter->wait();
    if (!isCurrent()) {
        throw BridgeClientError::connectionClosed();
    }

    // onSocketConnected made the first-frame waiter; a frame may already have settled it.
    auto firstFrameWaiter = m_firstFrameWaiter;
    ClientMessage auth{ClientMessage::Auth{pairing.token}};
    sendNow(auth);
    BridgeMessage first = co_await firstFrameWaiter->wait();
    if (!isCurrent()) {
        throw BridgeClientError::connectionClosed();
    }

    if (const auto *hello = first.as<BridgeMessage::Hello>()) {
        if (hello->protocolVersion == bridgeProtocolVersion) {
            qCInfo(lcBridgeKitClient).noquote()
                << "connected to" << hello->name << "at" << pairing.host << "port" << pairing.port;
            co_return first;
        }
        const int announced = hello->protocolVersion;
        qCWarning(lcBridgeKitClient) << "the bridge speaks protocol" << announced << "instead of"
                                     << bridgeProtocolVersion;
        self->disconnect();
        throw BridgeClientError::protocolMismatch(announced, bridgeProtocolVersion);
    }
    if (const auto *error = first.as<BridgeMessage::Error>()) {
        const bool refusedToken = error->code && error->code->known() == ErrorCode::unauthorized;
        const QString message = error->message;
        self->disconnect();
        if (refusedToken) {
            qCWarning(lcBridgeKitClient) << "the bridge refused this pairing's token";
            throw BridgeClientError::unauthorized();
        }
        qCWarning(lcBridgeKitClient).noquote() << "the bridge refused the connection:" << message;
        throw BridgeClientError::handshakeFailed(message);
    }
    self->disconnect();
    throw BridgeClientError::handshakeFailed(u"unexpected first frame"_s);
}

void BridgeClient::disconnect() {
    ++m_generation;
    m_phase = Phase::idle;
    if (QWebSocket *socket = std::exchange(m_socket, nullptr)) {
        // Nothing of that socket reaches this client any more (the receive loop is over).
        QObject::disconnect(socket, nullptr, this, nullptr);
        retire(socket);
    }
    m_pinnedSession.reset();
    const auto closed = std::make_exception_ptr(BridgeClientError::connectionClosed());
    failConnectWaiters(closed);
    failAllWaiters(closed);
}

void BridgeClient::onSocketConnected() {
    if (m_phase != Phase::opening) {
        return;
    }
    m_phase = Phase::awaitingFirstFrame;
    m_firstFrameWaiter = detail::Waiter<BridgeMessage>::make();
    if (auto waiter = std::exchange(m_openWaiter, nullptr)) {
        waiter->resume(true);
    }
}

void BridgeClient::onSocketEnded() {
    switch (m_phase) {
    case Phase::opening:
    case Phase::awaitingFirstFrame: {
        m_phase = Phase::ended;
        // Qt announces the end of the connection before it reports why (the socket's error comes after the
        // state change), so the waiters of connect() are failed one event-loop turn later, when the cause is
        // known. They are taken out now: whatever happens meanwhile (disconnect, destruction), this is the
        // one place that resumes them.
        QPointer<QWebSocket> socket = m_socket;
        auto openWaiter = std::exchange(m_openWaiter, nullptr);
        auto firstFrameWaiter = std::exchange(m_firstFrameWaiter, nullptr);
        auto failLater = [socket, openWaiter, firstFrameWaiter] {
            const TransportError failure =
                socket ? socketFailure(socket)
                       : TransportError(TransportError::Kind::connectionLost, u"the connection ended"_s);
            if (openWaiter) {
                openWaiter->fail(failure);
            }
            if (firstFrameWaiter) {
                firstFrameWaiter->fail(failure);
            }
        };
        if (QCoreApplication *app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(app, failLater, Qt::QueuedConnection);
        } else {
            failLater();
        }
        break;
    }
    case Phase::receiving:
        qCInfo(lcBridgeKitClient) << "the connection to the bridge ended";
        endReceiving();
        failAllWaiters(std::make_exception_ptr(BridgeClientError::connectionClosed()));
        break;
    case Phase::idle:
    case Phase::ended:
        break;
    }
}

void BridgeClient::onSocketBytes(const QByteArray &bytes) {
    switch (m_phase) {
    case Phase::awaitingFirstFrame: {
        auto waiter = std::exchange(m_firstFrameWaiter, nullptr);
        Expected<BridgeMessage, DecodingError> decoded = decodeBridgeMessage(bytes);
        if (!decoded) {
            m_phase = Phase::ended;
            if (waiter) {
                waiter->fail(DecodingFailure(decoded.error()));
            }
            return;
        }
        // Receiving starts with the hello the client accepts; anything else ends this connection, which
        // connect() then closes.
        const auto *hello = decoded->as<BridgeMessage::Hello>();
        m_phase = hello && hello->protocolVersion == bridgeProtocolVersion ? Phase::receiving : Phase::ended;
        if (waiter) {
            waiter->resume(std::move(decoded).value());
        }
        return;
    }
    case Phase::receiving: {
        Expected<BridgeMessage, DecodingError> decoded = decodeBridgeMessage(bytes);
        if (!decoded) {
            // One undecodable frame ends the connection's receiving just as a lost connection does. The
            // socket stays open until disconnect() or the next connect().
            qCWarning(lcBridgeKitClient).noquote()
                << "a frame from the bridge cannot be read, receiving ends:" << decoded.error().description;
            endReceiving();
            failAllWaiters(std::make_exception_ptr(BridgeClientError::connectionClosed()));
            return;
        }
        route(*decoded);
        return;
    }
    case Phase::idle:
    case Phase::opening:
    case Phase::ended:
        return;
    }
}

void BridgeClient::endReceiving() {
    m_phase = Phase::ended;
    if (m_socket) {
        QObject::disconnect(m_socket, nullptr, this, nullptr);
    }
}

void BridgeClient::failConnectWaiters(const std::exception_ptr &error) {
    if (auto waiter = std::exchange(m_openWaiter, nullptr)) {
        waiter->fail(error);
    }
    if (auto waiter = std::exchange(m_firstFrameWaiter, nullptr)) {
        waiter->fail(error);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Routing

void BridgeClient::route(const BridgeMessage &message) {
    QPointer<BridgeClient> self(this);

    // 1. The stand-alone turn.
    if (m_activeTurn) {
        const QString &id = m_activeTurn->id;
        if (const auto *status = message.as<BridgeMessage::Status>(); status && status->turnID == id) {
            if (status->state == TurnState::cancelled) {
                if (auto waiter = clearActiveTurn()) {
                    waiter->fail(BridgeClientError::turnCancelled());
                }
            } else if (m_turnProgress) {
                MessageHandler progress = m_turnProgress;
                progress(message);
            }
        } else if (const auto *event = message.as<BridgeMessage::Event>(); event && event->turnID == id) {
            if (m_turnProgress) {
                MessageHandler progress = m_turnProgress;
                progress(message);
            }
        } else if (const auto *result = message.as<BridgeMessage::Result>();
                   result && result->result.turnID == id) {
            if (auto waiter = clearActiveTurn()) {
                waiter->resume(result->result);
            }
        } else if (const auto *error = message.as<BridgeMessage::Error>();
                   error && (!error->turnID || *error->turnID == id)) {
            if (auto waiter = clearActiveTurn()) {
                waiter->fail(BridgeClientError::from(error->code, error->message));
            }
        }
        if (!self) {
            return;
        }
    }

    // 2. Requests waiting for an answer.
    if (const auto *registered = message.as<BridgeMessage::ProjectRegistered>()) {
        if (auto waiter = m_projectRegistrationContinuations.take(registered->requestID)) {
            waiter->resume(registered->project);
        }
    } else if (const auto *sessions = message.as<BridgeMessage::RepoSessions>()) {
        if (auto waiter = m_repoListContinuations.take(sessions->requestID)) {
            waiter->resume(sessions->sessions);
        }
    } else if (const auto *opened = message.as<BridgeMessage::RepoSessionOpened>()) {
        if (auto waiter = m_repoOpenContinuations.take(opened->requestID)) {
            waiter->resume(opened->session);
        }
    } else if (const auto *repoError = message.as<BridgeMessage::RepoError>()) {
        if (repoError->requestID) {
            const QString &requestID = *repoError->requestID;
            const auto failure = std::make_exception_ptr(BridgeClientError::turnFailed(repoError->message));
            if (auto waiter = m_repoOpenContinuations.take(requestID)) {
                waiter->fail(failure);
            }
            if (auto waiter = m_repoListContinuations.take(requestID)) {
                waiter->fail(failure);
            }
            if (auto waiter = m_projectRegistrationContinuations.take(requestID)) {
                waiter->fail(failure);
            }
        }
    } else if (const auto *error = message.as<BridgeMessage::Error>()) {
        // A bridge error is not tied to one request: every outstanding one fails, whatever turn it names.
        const auto failure = std::make_exception_ptr(BridgeClientError::from(error->code, error->message));
        failRepoOpens(failure);
        failRepoLists(failure);
        failProjectRegistrations(failure);
    }

    // 3. The observer sees every frame, also those that settled a waiter.
    if (onMessage) {
        MessageHandler handler = onMessage;
        handler(message);
    }
}

std::shared_ptr<detail::Waiter<TurnResult>> BridgeClient::clearActiveTurn() {
    std::shared_ptr<detail::Waiter<TurnResult>> waiter;
    if (m_activeTurn) {
        waiter = std::move(m_activeTurn->waiter);
    }
    m_activeTurn.reset();
    m_turnProgress = nullptr;
    return waiter;
}

void BridgeClient::failActiveTurn(const std::exception_ptr &error) {
    if (auto waiter = clearActiveTurn()) {
        waiter->fail(error);
    }
}

void BridgeClient::failRepoOpens(const std::exception_ptr &error) {
    const auto waiters = std::exchange(m_repoOpenContinuations, {});
    for (const auto &waiter : waiters) {
        waiter->fail(error);
    }
}

void BridgeClient::failRepoLists(const std::exception_ptr &error) {
    const auto waiters = std::exchange(m_repoListContinuations, {});
    for (const auto &waiter : waiters) {
        waiter->fail(error);
    }
}

void BridgeClient::failProjectRegistrations(const std::exception_ptr &error) {
    const auto waiters = std::exchange(m_projectRegistrationContinuations, {});
    for (const auto &waiter : waiters) {
        waiter->fail(error);
    }
}

void BridgeClient::failAllWaiters(const std::exception_ptr &error) {
    failActiveTurn(error);
    failRepoOpens(error);
    failRepoLists(error);
    failProjectRegistrations(error);
}

// ---------------------------------------------------------------------------------------------------------------
// Sending and requests

void BridgeClient::sendNow(const ClientMessage &message) {
    if (!m_socket) {
        throw BridgeClientError::notConnected();
    }
    const QByteArray bytes = message.encode();
    if (!QUtf8StringView(bytes).isValidUtf8()) {
        throw BridgeClientError::handshakeFailed(u"encode"_s);
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        throw TransportError(TransportError::Kind::connectionLost, u"the socket is no longer open"_s);
    }
    if (m_socket->sendTextMessage(QString::fromUtf8(bytes)) <= 0) {
        throw TransportError(TransportError::Kind::other, m_socket->errorString());
    }
}

QCoro::Task<void> BridgeClient::send(ClientMessage message) {
    sendNow(message);
    co_return;
}

QCoro::Task<TurnResult> BridgeClient::runTurn(TurnRequest request, MessageHandler onProgress) {
    if (m_activeTurn) {
        throw BridgeClientError::turnInFlight();
    }
    const QString turnID = request.turnID;
    ClientMessage frame{ClientMessage::Turn{std::move(request)}};
    sendNow(frame);
    // Registered once the frame is sent, not before.
    auto waiter = detail::Waiter<TurnResult>::make();
    m_activeTurn = ActiveTurn{turnID, waiter};
    m_turnProgress = std::move(onProgress);
    co_return co_await waiter->wait();
}

QCoro::Task<void> BridgeClient::cancelActiveTurn() {
    if (!m_activeTurn) {
        co_return;
    }
    ClientMessage frame{ClientMessage::Cancel{m_activeTurn->id}};
    sendNow(frame);
}

QCoro::Task<RepoSessionSummary> BridgeClient::openRepoSession(ClientMessage message) {
    const auto *open = message.as<ClientMessage::OpenRepoSession>();
    if (!open) {
        throw BridgeClientError::handshakeFailed(u"expected open_repo_session"_s);
    }
    const QString requestID = open->requestID;
    auto waiter = detail::Waiter<RepoSessionSummary>::make();
    m_repoOpenContinuations.insert(requestID, waiter);
    try {
        sendNow(message);
    } catch (...) {
        if (auto pending = m_repoOpenContinuations.take(requestID)) {
            pending->fail(std::current_exception());
        }
    }
    co_return co_await waiter->wait();
}

QCoro::Task<QList<RepoSessionSummary>> BridgeClient::listRepoSessions(std::optional<QString> projectID) {
    const QString requestID = freshRequestID(u"repo-sessions-"_s);
    ClientMessage frame{ClientMessage::ListRepoSessions{requestID, std::move(projectID)}};
    auto waiter = detail::Waiter<QList<RepoSessionSummary>>::make();
    m_repoListContinuations.insert(requestID, waiter);
    try {
        sendNow(frame);
    } catch (...) {
        if (auto pending = m_repoListContinuations.take(requestID)) {
            pending->fail(std::current_exception());
        }
    }
    co_return co_await waiter->wait();
}

QCoro::Task<BridgeProject> BridgeClient::registerProject(QString name, std::optional<QString> suggestedID,
                                                         RepoAccessMode defaultAccess,
                                                         RepoAccessMode maxAccess, bool allowWeb,
                                                         bool initializeGit) {
    const QString requestID = freshRequestID(u"register-project-"_s);
    ClientMessage frame{ClientMessage::RegisterProject{requestID, std::move(name), std::move(suggestedID),
                                                       defaultAccess, maxAccess, allowWeb, initializeGit}};
    auto waiter = detail::Waiter<BridgeProject>::make();
    m_projectRegistrationContinuations.insert(requestID, waiter);
    try {
        sendNow(frame);
    } catch (...) {
        if (auto pending = m_projectRegistrationContinuations.take(requestID)) {
            pending->fail(std::current_exception());
        }
    }
    co_return co_await waiter->wait();
}

// ---------------------------------------------------------------------------------------------------------------
// Health probe

QCoro::Task<BridgeHealth> probeBridgeHealth(Pairing pairing, std::shared_ptr<URLSession> session) {
    if (!pairing.fp) {
        throw BridgeClientError::fingerprintMissing();
    }
    if (!session) {
        session = CertPinning::pinnedSession(*pairing.fp);
    }
    const std::optional<QUrl> base = pairing.httpBase();
    if (!base) {
        throw BridgeClientError::badURL();
    }
    QUrl url = *base;
    url.setPath(u"/health"_s);

    QNetworkRequest request(url);
    request.setTransferTimeout(int(std::chrono::milliseconds(healthTimeLimit).count()));
    request.setRawHeader("Authorization", "Bearer " + pairing.token.toUtf8());

    std::unique_ptr<QNetworkReply> reply(session->get(request));
    auto finished = detail::Waiter<bool>::make();
    QObject::connect(reply.get(), &QNetworkReply::finished, reply.get(),
                     [finished] { finished->resume(true); });
    co_await finished->wait();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() != QNetworkReply::NoError) {
            throw TransportError(detail::transportKind(reply->error()), reply->errorString());
        }
        throw BridgeClientError::http(0);
    }
    switch (const int code = status.toInt()) {
    case 200: {
        Expected<BridgeHealth, DecodingError> health = decodeBridgeHealth(reply->readAll());
        if (!health) {
            throw DecodingFailure(health.error());
        }
        co_return std::move(health).value();
    }
    case 401:
        throw BridgeClientError::unauthorized();
    default:
        throw BridgeClientError::http(code);
    }
}

} // namespace rirudez
