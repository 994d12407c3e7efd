#pragma once

// The one object through which the desktop talks to a bridge.
//
// BridgeClient opens an authenticated, certificate-pinned WebSocket to the bridge a Pairing describes,
// performs the first exchange (`auth`, then the bridge's `hello`), receives every frame with one long-lived
// handler, and correlates answers with the requests waiting for them: one stand-alone turn at a time, and any
// number of outstanding repo-session opens, repo-session lists and project registrations keyed by request id.
// Every routed frame is also handed to `onMessage`.
//
// Threading: a BridgeClient lives on the UI thread. Every operation, the routing, `onMessage` and the turn's
// progress callback run there; frames are routed one at a time in arrival order. Waiters are resumed through
// the event loop (never from inside the routing), each exactly once: a waiter is taken out of its slot before
// it is resumed. Operations hold the client weakly: when it is destroyed, everything still waiting fails with
// `connectionClosed`.
//
// Errors: operations throw BridgeClientError, TransportError (passed on from the socket or the HTTP request)
// or DecodingFailure (an undecodable first frame or health body). No operation has a time limit of its own
// except the health probe (8 seconds); callers set their own.

#include "rirudez/bridgekit/BridgeClientError.h"
#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/CertPinning.h"
#include "rirudez/bridgekit/Pairing.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QWebSocket;

namespace rirudez {

namespace detail {
template <typename T>
class Waiter;
}

class BridgeClient : public QObject {
    Q_OBJECT

public:
    using MessageHandler = std::function<void(const BridgeMessage &)>;

    // `session` is kept; the WebSocket itself is opened on a pinned session made per connection.
    explicit BridgeClient(std::shared_ptr<URLSession> session = URLSession::shared(),
                          QObject *parent = nullptr);
    // Tears the connection down like disconnect(): everything still waiting fails with connectionClosed.
    ~BridgeClient() override;

    // Observer of every frame routed after a successful connect (not the `hello` that connect returns),
    // also of frames that resumed or failed a waiter. Called on the UI thread from the routing.
    MessageHandler onMessage;

    // Disconnects first, then: fingerprintMissing (before any network activity), badURL, opens the pinned
    // WebSocket to "wss://host:port/ws", sends `auth` and reads the first frame. Returns the `hello` when it
    // announces protocol 1 and starts receiving. Protocol other than 1: closes and throws
    // protocolMismatch(bridge, 1). `error` with code unauthorized: unauthorized; other `error`:
    // handshakeFailed(message); any other frame: handshakeFailed("unexpected first frame").
    // Transport errors and an undecodable first frame are thrown unchanged (TransportError, DecodingFailure).
    QCoro::Task<BridgeMessage> connect(Pairing pairing);

    // Stops receiving, closes the socket with close code 1001 (going away), then fails the active turn, every
    // waiting open, every waiting list and every waiting registration, in that order, with connectionClosed.
    void disconnect();

    // Sends one frame as one WebSocket text message. notConnected without a socket; handshakeFailed("encode")
    // when the encoded frame is not UTF-8; TransportError when the socket no longer takes data.
    QCoro::Task<void> send(ClientMessage message);

    // Runs one stand-alone turn: turnInFlight when one is already active (nothing is sent); otherwise sends
    // `turn`, then waits for its result. `onProgress` sees the turn's `status` (other than cancelled) and
    // `event` frames. Ends with the TurnResult, turnCancelled, or the error of a bridge `error` frame.
    QCoro::Task<TurnResult> runTurn(TurnRequest request, MessageHandler onProgress = {});

    // Sends `cancel` for the active turn and returns once sent; the turn ends when the bridge answers.
    // Without an active turn, returns at once and sends nothing.
    QCoro::Task<void> cancelActiveTurn();

    // `message` must be the openRepoSession case (else handshakeFailed("expected open_repo_session")); its
    // request id is used as it is. Ends with the session of `repo_session_opened`.
    QCoro::Task<RepoSessionSummary> openRepoSession(ClientMessage message);

    // Sends `list_repo_sessions` with request id "repo-sessions-" + a fresh lower-case UUID; ends with the
    // sessions of the matching `repo_sessions`.
    QCoro::Task<QList<RepoSessionSummary>> listRepoSessions(std::optional<QString> projectID = std::nullopt);

    // Sends `register_project` with request id "register-project-" + a fresh lower-case UUID; ends with the
    // project of the matching `project_registered`.
    QCoro::Task<BridgeProject> registerProject(QString name, std::optional<QString> suggestedID,
                                               RepoAccessMode defaultAccess, RepoAccessMode maxAccess,
                                               bool allowWeb, bool initializeGit);

    // Introspection (tests, diagnostics).
    const std::shared_ptr<URLSession> &session() const { return m_session; }
    // True from the moment connect opened a socket until disconnect; also while the socket is dead after the
    // receive loop ended (send then fails in the transport, not with notConnected).
    bool hasSocket() const { return m_socket != nullptr; }
    // True while frames are being received and routed (after a successful connect, until the connection
    // ends, a frame fails to decode, or disconnect).
    bool isReceiving() const { return m_phase == Phase::receiving; }
    bool hasActiveTurn() const { return m_activeTurn.has_value(); }
    // Number of request waiters currently outstanding (opens + lists + registrations).
    int pendingRequestCount() const;

private:
    enum class Phase { idle, opening, awaitingFirstFrame, receiving, ended };

    struct ActiveTurn {
        QString id;
        std::shared_ptr<detail::Waiter<TurnResult>> waiter;
    };

    void onSocketConnected();
    void onSocketEnded();
    void onSocketBytes(const QByteArray &bytes);
    void route(const BridgeMessage &message);

    void sendNow(const ClientMessage &message);
    std::shared_ptr<detail::Waiter<TurnResult>> clearActiveTurn();
    void failActiveTurn(const std::exception_ptr &error);
    void failRepoOpens(const std::exception_ptr &error);
    void failRepoLists(const std::exception_ptr &error);
    void failProjectRegistrations(const std::exception_ptr &error);
    void failAllWaiters(const std::exception_ptr &error);
    void failConnectWaiters(const std::exception_ptr &error);
    void endReceiving();

    std::shared_ptr<URLSession> m_session;
    std::shared_ptr<URLSession> m_pinnedSession; // the session of the current connection
    QWebSocket *m_socket = nullptr;              // owned (child); replaced per connection attempt
    Phase m_phase = Phase::idle;
    std::uint64_t m_generation = 0; // bumped by every connect and disconnect

    // Waiters of a connect in progress: the socket being opened, then its first frame.
    std::shared_ptr<detail::Waiter<bool>> m_openWaiter;
    std::shared_ptr<detail::Waiter<BridgeMessage>> m_firstFrameWaiter;

    std::optional<ActiveTurn> m_activeTurn;
    MessageHandler m_turnProgress;
    QHash<QString, std::shared_ptr<detail::Waiter<RepoSessionSummary>>> m_repoOpenContinuations;
    QHash<QString, std::shared_ptr<detail::Waiter<QList<RepoSessionSummary>>>> m_repoListContinuations;
    QHash<QString, std::shared_ptr<detail::Waiter<BridgeProject>>> m_projectRegistrationContinuations;
};

// Asks the bridge's health endpoint: GET "https://host:port/health" with "Authorization: Bearer <token>" and
// a time limit of 8 seconds, on `session` or, when absent, on a session pinned to the pairing's fingerprint.
// fingerprintMissing (before any network activity), badURL, unauthorized for 401, http(status) for any other
// status than 200 (http(0) when the answer is not HTTP); a 200 body that does not decode throws
// DecodingFailure; transport failures (a refused pin among them) throw TransportError.
QCoro::Task<BridgeHealth> probeBridgeHealth(Pairing pairing, std::shared_ptr<URLSession> session = nullptr);

} // namespace rirudez
