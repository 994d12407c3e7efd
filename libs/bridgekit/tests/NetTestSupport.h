#pragma once

// Helpers of the network tests of the bridge kit:
//  - runTask(): drives a QCoro task on the event loop until it finishes or a deadline passes, and keeps its
//    value or its exception;
//  - ScriptedTlsPeer: a TLS server on 127.0.0.1:0 that answers WebSocket frames and HTTP requests the way a
//    test scripts it, for the cases our own bridge never produces on purpose (a wrong protocol, a wrong first
//    frame, a 503, closing in the middle of a request).

#include "ServerCodec.h"
#include "TlsIdentity.h"
#include "support/InProcessBridge.h"

#include "rirudez/bridgekit/BridgeClientError.h"

#include <QCoroTask>
#include <QList>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QString>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <variant>

// OpenSSL's per-thread random generators, freed when Qt's HTTP thread ends after a short test process has
// exited, show up as libcrypto-only leaks; our own and Qt's allocations are still checked.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libcrypto.so\n";
}

namespace rirudez::nettest {

using namespace std::chrono_literals;

// ---------------------------------------------------------------------------------------------------------------
// Running tasks

template <typename T>
struct TaskOutcome {
    using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
    bool done = false;
    std::optional<Value> value;
    std::exception_ptr error;

    // The thrown error as `Error`, or nothing when the task succeeded or threw something else.
    template <typename Error>
    std::optional<Error> errorAs() const {
        if (!error)
            return std::nullopt;
        try {
            std::rethrow_exception(error);
        } catch (const Error &e) {
            return e;
        } catch (...) {
            return std::nullopt;
        }
    }

    // What happened, for assertion messages.
    std::string describe() const {
        if (!done || !error)
            return done ? "succeeded" : "still running";
        try {
            std::rethrow_exception(error);
        } catch (const BridgeKitError &e) {
            return "threw " + e.diagnosticText().toStdString();
        } catch (const std::exception &e) {
            return std::string("threw ") + e.what();
        } catch (...) {
            return "threw something unknown";
        }
    }
};

namespace detail {
template <typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<TaskOutcome<T>> outcome) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
            outcome->value.emplace();
        } else {
            outcome->value.emplace(co_await task);
        }
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}
} // namespace detail

// Starts driving `task`; the outcome fills in as the event loop runs.
template <typename T>
std::shared_ptr<TaskOutcome<T>> startTask(QCoro::Task<T> task) {
    auto outcome = std::make_shared<TaskOutcome<T>>();
    detail::drive(std::move(task), outcome);
    return outcome;
}

// Runs the event loop until `condition` holds; false (and a test failure) after `deadline`.
inline bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds deadline = 10s) {
    const bool met = QTest::qWaitFor(condition, int(deadline.count()));
    EXPECT_TRUE(met) << "condition not met within " << deadline.count() << " ms";
    return met;
}

template <typename T>
TaskOutcome<T> runTask(QCoro::Task<T> task, std::chrono::milliseconds deadline = 10s) {
    auto outcome = startTask(std::move(task));
    const bool finished = QTest::qWaitFor([&] { return outcome->done; }, int(deadline.count()));
    EXPECT_TRUE(finished) << "task did not finish within " << deadline.count() << " ms";
    return *outcome;
}

// Lets queued events (resumptions, socket notifications) run without waiting for anything in particular.
inline void drainEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// ---------------------------------------------------------------------------------------------------------------
// A scripted TLS peer

class ScriptedTlsPeer {
public:
    // Called for every text message a client sends; the socket answers or closes as the test wants.
    using TextScript = std::function<void(QWebSocket *socket, const QString &text)>;
    // Called for every complete HTTP request; returns the raw response bytes (status line, headers, body).
    using HttpScript = std::function<QByteArray(const QByteArray &head, const QByteArray &body)>;

    TextScript onText;
    HttpScript onHttp;

    ScriptedTlsPeer() {
        // The server's socket notifiers need the application's event dispatcher, also when the peer is made
        // before anything else of a test (each test runs in its own process under CTest).
        testing::ensureCoreApplication();
        const auto identity = server::generateTlsIdentity(QStringLiteral("scripted peer"));
        if (!identity) {
            ADD_FAILURE() << "cannot make a TLS identity: " << identity.error().toStdString();
            return;
        }
        m_fingerprint = server::certificateFingerprint(identity->certificatePem);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(QSslCertificate(identity->certificatePem));
        configuration.setPrivateKey(QSslKey(identity->privateKeyPem, QSsl::Ec));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_server.setSslConfiguration(configuration);
        m_webSockets =
            std::make_unique<QWebSocketServer>(QStringLiteral("scripted"), QWebSocketServer::NonSecureMode);
        QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                accept(socket);
        });
        QObject::connect(m_webSockets.get(), &QWebSocketServer::newConnection, m_webSockets.get(), [this] {
            while (QWebSocket *socket = m_webSockets->nextPendingConnection())
                adopt(socket);
        });
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            ADD_FAILURE() << "the scripted peer cannot listen";
    }

    ~ScriptedTlsPeer() {
        for (const QPointer<QWebSocket> &socket : std::as_const(m_sockets)) {
            if (!socket)
                continue;
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
            socket->abort();
            delete socket.data();
        }
        m_webSockets.reset();
        m_server.close();
    }

    ScriptedTlsPeer(const ScriptedTlsPeer &) = delete;
    ScriptedTlsPeer &operator=(const ScriptedTlsPeer &) = delete;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return m_server.serverPort(); }
    QString fingerprint() const { return m_fingerprint; }

    // Text messages received, in order, over all connections.
    const QStringList &received() const { return m_received; }
    int httpRequests() const { return m_httpRequests; }
    // Close code of the last WebSocket that closed, as the client sent it.
    std::optional<int> lastCloseCode() const { return m_lastCloseCode; }
    int closedSockets() const { return m_closed; }

private:
    void accept(QTcpSocket *socket) {
        // Decide from the request head whether this is a WebSocket upgrade (handed to the WebSocket server,
        // which reads the head itself) or a plain HTTP request (answered by the script).
        auto connection = std::make_shared<QMetaObject::Connection>();
        auto inspect = [this, socket, connection] {
            const QByteArray head = socket->peek(socket->bytesAvailable());
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            QObject::disconnect(*connection);
            if (head.startsWith("GET /ws"))
                m_webSockets->handleConnection(socket);
            else
                readHttp(socket, end + 4);
        };
        *connection = QObject::connect(socket, &QIODevice::readyRead, socket, inspect);
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        inspect();
    }

    void readHttp(QTcpSocket *socket, qsizetype headLength) {
        const QByteArray head = socket->read(headLength);
        qsizetype contentLength = 0;
        for (const QByteArray &line : head.split('\n'))
            if (line.toLower().startsWith("content-length:"))
                contentLength = line.mid(15).trimmed().toLongLong();
        auto body = std::make_shared<QByteArray>();
        auto finish = [this, socket, head, body, contentLength] {
            body->append(socket->readAll());
            if (body->size() < contentLength)
                return;
            ++m_httpRequests;
            socket->write(onHttp ? onHttp(head, *body) : QByteArray("HTTP/1.1 404 Not Found\r\n\r\n"));
            socket->disconnectFromHost();
        };
        QObject::connect(socket, &QIODevice::readyRead, socket, finish);
        finish();
    }

    void adopt(QWebSocket *socket) {
        m_sockets.append(socket);
        QObject::connect(socket, &QWebSocket::textMessageReceived, socket,
                         [this, socket](const QString &text) {
                             m_received.append(text);
                             if (onText)
                                 onText(socket, text);
                         });
        QObject::connect(socket, &QWebSocket::disconnected, socket, [this, socket] {
            ++m_closed;
            m_lastCloseCode = int(socket->closeCode());
            socket->deleteLater();
        });
    }

    QSslServer m_server;
    std::unique_ptr<QWebSocketServer> m_webSockets;
    QString m_fingerprint;
    QList<QPointer<QWebSocket>> m_sockets;
    QStringList m_received;
    int m_httpRequests = 0;
    int m_closed = 0;
    std::optional<int> m_lastCloseCode;
};

// Sends one bridge frame as the bridge would.
inline void sendFrame(QWebSocket *socket, const BridgeMessage &message) {
    socket->sendTextMessage(QString::fromUtf8(encodeBridgeMessage(message)));
}

// The client frame of a text message; fails the test when it does not decode.
inline ClientMessage clientFrame(const QString &text) {
    auto decoded = decodeClientMessage(text.toUtf8());
    if (!decoded) {
        ADD_FAILURE() << "the client sent an undecodable frame: " << text.toStdString();
        return ClientMessage{ClientMessage::Ping{}};
    }
    return std::move(decoded).value();
}

// An HTTP response with a JSON (or any) body.
inline QByteArray httpResponse(int status, const QByteArray &reason, const QByteArray &body = {},
                               const QByteArray &extraHeaders = {}) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\nContent-Type: application/json\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace rirudez::nettest
