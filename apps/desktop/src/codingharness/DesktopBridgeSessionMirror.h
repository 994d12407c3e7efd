#pragma once

// Keeping the desktop's threads in step with the bridge's repo sessions:
// - BridgeSessionListRequest: one outstanding `list_repo_sessions` request with its timeout, finished
//   exactly once (by the reply, a send failure, a bridge error or the timeout);
// - DesktopBridgeSessionMirror: the pure rules that order the listed sessions by recency and pick the one
//   to bring forward.
// The registry that maps sessions to threads lives in DesktopBridgeSessionRegistry.h (included here).

#include "DesktopBridgeSessionRegistry.h"

#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/Expected.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace rirudez {

// What a session-list request ends with: the listed sessions, or the failure that ended it.
using BridgeSessionListResult = Expected<QList<RepoSessionSummary>, std::exception_ptr>;
// A one-shot continuation that receives the result.
using BridgeSessionListContinuation = std::function<void(BridgeSessionListResult)>;

// The failure an awaiter of `result()` receives when the request is destroyed without being finished
// (its owner went away); it lets the awaiting coroutine unwind instead of staying suspended for ever.
class BridgeSessionListAbandoned : public std::exception {
public:
    const char *what() const noexcept override { return "session list request abandoned"; }
};

// One outstanding session-list request. UI thread only.
//
// Two ways to receive the result:
// - construct it with a continuation, which `finish` calls synchronously (at most once);
// - construct it with the request id only and `co_await request.result()`, which resumes on the UI thread
//   (through the event loop, never inside `finish`) with the sessions or rethrows the failure.
//   The awaiting coroutine does not need the request object to stay alive: the caller may drop the request
//   right after calling `finish`.
//
// `finish` has an effect only the first time; it also cancels the timeout, so a timeout never fires after a
// reply and a reply after the timeout is ignored.
class BridgeSessionListRequest {
public:
    explicit BridgeSessionListRequest(QString requestID);
    BridgeSessionListRequest(QString requestID, BridgeSessionListContinuation continuation);
    ~BridgeSessionListRequest();

    BridgeSessionListRequest(const BridgeSessionListRequest &) = delete;
    BridgeSessionListRequest &operator=(const BridgeSessionListRequest &) = delete;

    const QString &requestID() const { return m_requestID; }

    // Starts the timeout: after the given time, unless the request was finished (or destroyed) first,
    // `onTimeout` runs on the thread that scheduled it (the UI thread). A second call replaces the first
    // timeout. Uses a precise timer: the default coarse timer may fire 5% early.
    void scheduleTimeout(std::uint64_t nanoseconds, std::function<void()> onTimeout);
    // Whether a timeout task is held: set by `scheduleTimeout`, cleared by `finish`.
    bool hasTimeoutTask() const { return m_timeoutTask != nullptr; }

    // Ends the request with its result; only the first call has an effect.
    void finish(BridgeSessionListResult result);
    bool isFinished() const;

    // Suspends until the request is finished, then returns the sessions or rethrows the failure.
    // For a request made without a continuation; await it once.
    QCoro::Task<QList<RepoSessionSummary>> result() const;

    struct State;

private:
    QString m_requestID;
    std::shared_ptr<State> m_state;
    std::unique_ptr<QTimer> m_timeoutTask;

    void cancelTimeout();
};

// The pure rules of mirroring the bridge's sessions. Dates are absolute instants (compared as such).
namespace DesktopBridgeSessionMirror {

// Stable: later recency first; a dated session before an undated one; otherwise the input order.
QList<RepoSessionSummary> orderedByRecency(const QList<RepoSessionSummary> &sessions,
                                           const QHash<QString, QDateTime> &recencyBySessionID);

// The sessions whose log shows a conversation; if none, those whose answer is unknown; if none, all of them.
// Order preserved.
QList<RepoSessionSummary> selectableBridgeSessions(const QList<RepoSessionSummary> &from,
                                                   const QHash<QString, bool> &conversationBySessionID);

// The session to bring forward, given sessions already ordered by recency: the most recent dated selectable
// session when it is newer than `latestSeen` (or nothing was seen yet), else the first selectable session
// that no thread mirrors yet.
std::optional<QString> bridgeSessionIDToAutoSelect(const QList<RepoSessionSummary> &from,
                                                   const QHash<QString, QDateTime> &recencyBySessionID,
                                                   const QHash<QString, bool> &conversationBySessionID,
                                                   const QSet<QString> &knownThreadSessionIDs,
                                                   const std::optional<QDateTime> &latestSeen);

} // namespace DesktopBridgeSessionMirror

} // namespace rirudez
