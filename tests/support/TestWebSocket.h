#pragma once

// A plain QWebSocket client for tests that speak raw frames to a bridge: TLS pinned to a certificate
// fingerprint (every certificate goes through the check; a mismatch aborts the handshake), every incoming
// message recorded in arrival order by one long-lived handler, waits with deadlines.
//
//     TestWebSocket socket(bridge.fingerprint());
//     ASSERT_TRUE(socket.open(bridge.wsUrl()));
//     socket.send(ClientMessage{ClientMessage::Auth{bridge.token()}});
//     auto hello = socket.waitFor<BridgeMessage::Hello>();

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QWebSocket>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace rirudez::testing {

class TestWebSocket : public QObject {
    Q_OBJECT
public:
    // `fingerprint`: SHA-256 of the expected leaf certificate, hex (any case).
    explicit TestWebSocket(QString fingerprint, QObject *parent = nullptr);
    ~TestWebSocket() override;

    // Opens a new socket to `url` (wss://...) and waits until it is connected or failed. `request` may add
    // headers (e.g. an Origin, to see it refused). True when connected.
    bool open(const QString &url, std::chrono::milliseconds deadline = std::chrono::seconds(5),
              std::optional<QNetworkRequest> request = std::nullopt);
    // Opens and authenticates; true when the first frame is `hello`.
    bool openAndAuthenticate(const QString &url, const QString &token);

    void send(const ClientMessage &message);
    void sendText(const QByteArray &text);
    void sendBinary(const QByteArray &bytes);
    void close();

    bool isConnected() const;
    // True when the last attempt failed because the certificate did not match the pin.
    bool pinRefused() const { return m_pinRefused; }
    QString errorString() const { return m_error; }
    int closeCode() const { return m_closeCode; }

    // Every text or binary message received so far, raw and decoded (nothing where decoding failed).
    const QList<QByteArray> &rawFrames() const { return m_raw; }
    const QList<std::optional<BridgeMessage>> &frames() const { return m_frames; }

    // Waits for the next received frame (after those already taken by earlier waits) that satisfies
    // `match`; frames skipped on the way are consumed. Nothing at the deadline.
    std::optional<BridgeMessage> waitFor(const std::function<bool(const BridgeMessage &)> &match,
                                         std::chrono::milliseconds deadline = std::chrono::seconds(5));
    template <typename Case>
    std::optional<Case> waitFor(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        auto frame =
            waitFor([](const BridgeMessage &m) { return std::holds_alternative<Case>(m.value); }, deadline);
        if (!frame)
            return std::nullopt;
        return std::get<Case>(frame->value);
    }
    // Waits for repo_event frames of `sessionID` until one satisfies `last`; returns all of them in order
    // (including the last). Nothing at the deadline.
    std::optional<QList<BridgeMessage::RepoEvent>>
    collectRepoEvents(const QString &sessionID, const std::function<bool(const RepoSessionEvent &)> &last,
                      std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Waits until the server closed the connection.
    bool waitForDisconnected(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Index of the next frame waitFor() looks at; frames before it were consumed.
    qsizetype cursor() const { return m_cursor; }

Q_SIGNALS:
    // Something arrived or the connection state changed.
    void changed();

private:
    void record(const QByteArray &bytes);
    // Runs the event loop until `done` holds (checked whenever something arrives) or the deadline passes.
    bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline);

    QString m_fingerprint;
    std::unique_ptr<QWebSocket> m_socket;
    QList<QByteArray> m_raw;
    QList<std::optional<BridgeMessage>> m_frames;
    qsizetype m_cursor = 0;
    bool m_pinRefused = false;
    bool m_failed = false;
    QString m_error;
    int m_closeCode = -1;
};

} // namespace rirudez::testing
