#include "TestWebSocket.h"

#include "InProcessBridge.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QSslConfiguration>
#include <QTimer>

namespace rirudez::testing {
using namespace Qt::StringLiterals;

TestWebSocket::TestWebSocket(QString fingerprint, QObject *parent)
    : QObject(parent), m_fingerprint(std::move(fingerprint).toLower()) {
    ensureCoreApplication();
}

TestWebSocket::~TestWebSocket() {
    if (m_socket)
        m_socket->disconnect(this);
}

bool TestWebSocket::open(const QString &url, std::chrono::milliseconds deadline,
                         std::optional<QNetworkRequest> request) {
    // A new socket per attempt: an accepted certificate error would otherwise be remembered.
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    m_socket = std::make_unique<QWebSocket>();
    m_pinRefused = false;
    m_failed = false;
    m_error.clear();
    m_closeCode = -1;

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates({}); // every certificate fails verification and comes to our check
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->setSslConfiguration(tls);

    QWebSocket *socket = m_socket.get();
    connect(socket, &QWebSocket::sslErrors, this, [this, socket](const QList<QSslError> &) {
        const QSslCertificate leaf = socket->sslConfiguration().peerCertificate();
        const QString seen =
            leaf.isNull() ? QString() : QString::fromLatin1(leaf.digest(QCryptographicHash::Sha256).toHex());
        if (!seen.isEmpty() && seen == m_fingerprint)
            socket->ignoreSslErrors();
        else
            m_pinRefused = true;
    });
    connect(socket, &QWebSocket::connected, this, &TestWebSocket::changed);
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { record(text.toUtf8()); });
    connect(socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray &bytes) { record(bytes); });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket](QAbstractSocket::SocketError) {
                m_failed = true;
                m_error = socket->errorString();
            });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        m_failed = true;
        m_closeCode = int(socket->closeCode());
        Q_EMIT changed();
    });

    QNetworkRequest networkRequest = request.value_or(QNetworkRequest());
    networkRequest.setUrl(QUrl(url));
    socket->open(networkRequest);
    waitUntil([&] { return socket->state() == QAbstractSocket::ConnectedState || m_failed; }, deadline);
    return socket->state() == QAbstractSocket::ConnectedState;
}

bool TestWebSocket::openAndAuthenticate(const QString &url, const QString &token) {
    if (!open(url))
        return false;
    send(ClientMessage{ClientMessage::Auth{token}});
    return waitFor<BridgeMessage::Hello>().has_value();
}

void TestWebSocket::record(const QByteArray &bytes) {
    m_raw.append(bytes);
    auto decoded = decodeBridgeMessage(bytes);
    m_frames.append(decoded ? std::optional<BridgeMessage>(*decoded) : std::nullopt);
    Q_EMIT changed();
}

bool TestWebSocket::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &TestWebSocket::changed, &loop, [&] {
        if (done())
            loop.quit();
    });
    timer.start(deadline);
    loop.exec();
    return done();
}

void TestWebSocket::send(const ClientMessage &message) {
    sendText(message.encode());
}

void TestWebSocket::sendText(const QByteArray &text) {
    if (m_socket)
        m_socket->sendTextMessage(QString::fromUtf8(text));
}

void TestWebSocket::sendBinary(const QByteArray &bytes) {
    if (m_socket)
        m_socket->sendBinaryMessage(bytes);
}

void TestWebSocket::close() {
    if (m_socket)
        m_socket->close();
}

bool TestWebSocket::isConnected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

std::optional<BridgeMessage> TestWebSocket::waitFor(const std::function<bool(const BridgeMessage &)> &match,
                                                    std::chrono::milliseconds deadline) {
    std::optional<BridgeMessage> found;
    auto scan = [&] {
        while (m_cursor < m_frames.size()) {
            const auto &frame = m_frames.at(m_cursor++);
            if (frame && match(*frame)) {
                found = frame;
                return true;
            }
        }
        return false;
    };
    if (scan())
        return found;
    waitUntil(scan, deadline);
    return found;
}

std::optional<QList<BridgeMessage::RepoEvent>>
TestWebSocket::collectRepoEvents(const QString &sessionID,
                                 const std::function<bool(const RepoSessionEvent &)> &last,
                                 std::chrono::milliseconds deadline) {
    QList<BridgeMessage::RepoEvent> events;
    bool done = false;
    auto scan = [&] {
        while (!done && m_cursor < m_frames.size()) {
            const auto &frame = m_frames.at(m_cursor++);
            const auto *event = frame ? frame->as<BridgeMessage::RepoEvent>() : nullptr;
            if (!event || event->sessionID != sessionID)
                continue;
            events.append(*event);
            done = last(event->event);
        }
        return done;
    };
    if (!scan())
        waitUntil(scan, deadline);
    if (!done)
        return std::nullopt;
    return events;
}

bool TestWebSocket::waitForDisconnected(std::chrono::milliseconds deadline) {
    return waitUntil([&] { return !m_socket || m_socket->state() == QAbstractSocket::UnconnectedState; },
                     deadline);
}

} // namespace rirudez::testing
