#include "DesktopBridgeSessionMirror.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>

namespace rirudez {

// Shared between the request and a coroutine awaiting its result, so that the coroutine can be resumed
// after the view model has already dropped the request.
struct BridgeSessionListRequest::State {
    bool finished = false;
    BridgeSessionListContinuation continuation;
    std::optional<BridgeSessionListResult> result;
    std::coroutine_handle<> waiter;
};

namespace {

using State = BridgeSessionListRequest::State;

// Resumes an awaiting coroutine from the event loop of the application's (UI) thread, never from inside
// `finish`: the reply that finishes a request arrives while the bridge client is routing a frame, and the
// awaiting refresh must not run re-entrantly inside that routing.
void scheduleResume(std::coroutine_handle<> waiter) {
    if (auto *app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app, [waiter] { waiter.resume(); }, Qt::QueuedConnection);
    } else {
        waiter.resume();
    }
}

class ResultAwaiter {
public:
    explicit ResultAwaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    bool await_ready() const noexcept { return m_state->result.has_value(); }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { m_state->waiter = waiter; }
    QList<RepoSessionSummary> await_resume() {
        BridgeSessionListResult result = std::move(*m_state->result);
        m_state->result.reset();
        if (!result.hasValue())
            std::rethrow_exception(result.error());
        return std::move(result).value();
    }

private:
    std::shared_ptr<State> m_state;
};

} // namespace

BridgeSessionListRequest::BridgeSessionListRequest(QString requestID)
    : m_requestID(std::move(requestID)), m_state(std::make_shared<State>()) {}

BridgeSessionListRequest::BridgeSessionListRequest(QString requestID,
                                                   BridgeSessionListContinuation continuation)
    : BridgeSessionListRequest(std::move(requestID)) {
    m_state->continuation = std::move(continuation);
}

BridgeSessionListRequest::~BridgeSessionListRequest() {
    cancelTimeout();
    if (m_state->finished)
        return;
    m_state->finished = true;
    // A plain continuation is dropped (calling it from a destructor could re-enter a half-destroyed owner);
    // an awaiting coroutine is resumed from the event loop with a failure so its frame is released.
    m_state->continuation = nullptr;
    if (auto waiter = std::exchange(m_state->waiter, {})) {
        m_state->result.emplace(std::make_exception_ptr(BridgeSessionListAbandoned{}));
        scheduleResume(waiter);
    }
}

void BridgeSessionListRequest::scheduleTimeout(std::uint64_t nanoseconds, std::function<void()> onTimeout) {
    cancelTimeout();
    if (m_state->finished)
        return;

    // Round up so the timeout never fires before the requested time.
    const std::uint64_t milliseconds = nanoseconds / 1'000'000 + (nanoseconds % 1'000'000 != 0 ? 1 : 0);
    const auto interval = std::chrono::milliseconds(std::min<std::uint64_t>(milliseconds, INT_MAX));

    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    std::weak_ptr<State> weakState = m_state;
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(),
                     [weakState, onTimeout = std::move(onTimeout)] {
                         const auto state = weakState.lock();
                         if (!state || state->finished || !onTimeout)
                             return;
                         onTimeout();
                     });
    timer->start();
    m_timeoutTask = std::move(timer);
}

void BridgeSessionListRequest::cancelTimeout() {
    if (!m_timeoutTask)
        return;
    m_timeoutTask->stop();
    // The timer may be the one whose timeout is being delivered right now (the timeout finished the
    // request), so it is deleted from the event loop rather than here.
    m_timeoutTask.release()->deleteLater();
}

void BridgeSessionListRequest::finish(BridgeSessionListResult result) {
    if (m_state->finished)
        return;
    m_state->finished = true;
    cancelTimeout();

    if (auto continuation = std::exchange(m_state->continuation, nullptr)) {
        continuation(std::move(result));
        return;
    }
    m_state->result.emplace(std::move(result));
    if (auto waiter = std::exchange(m_state->waiter, {}))
        scheduleResume(waiter);
}

bool BridgeSessionListRequest::isFinished() const {
    return m_state->finished;
}

QCoro::Task<QList<RepoSessionSummary>> BridgeSessionListRequest::result() const {
    // Copied before the first suspension: the request itself may be gone when the coroutine resumes.
    std::shared_ptr<State> state = m_state;
    co_return co_await ResultAwaiter(std::move(state));
}

namespace DesktopBridgeSessionMirror {

namespace {

std::optional<QDateTime> recencyOf(const QString &sessionID,
                                   const QHash<QString, QDateTime> &recencyBySessionID) {
    const auto found = recencyBySessionID.constFind(sessionID);
    if (found == recencyBySessionID.constEnd() || !found->isValid())
        return std::nullopt;
    return *found;
}

} // namespace

QList<RepoSessionSummary> orderedByRecency(const QList<RepoSessionSummary> &sessions,
                                           const QHash<QString, QDateTime> &recencyBySessionID) {
    struct Entry {
        qsizetype index;
        std::optional<QDateTime> recency;
    };
    std::vector<Entry> entries;
    entries.reserve(sessions.size());
    for (qsizetype i = 0; i < sessions.size(); ++i)
        entries.push_back({i, recencyOf(sessions[i].sessionID, recencyBySessionID)});

    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (a.recency && b.recency)
            return *a.recency > *b.recency;
        return a.recency.has_value() && !b.recency.has_value();
    });

    QList<RepoSessionSummary> ordered;
    ordered.reserve(sessions.size());
    for (const Entry &entry : entries)
        ordered.append(sessions[entry.index]);
    return ordered;
}

QList<RepoSessionSummary> selectableBridgeSessions(const QList<RepoSessionSummary> &from,
                                                   const QHash<QString, bool> &conversationBySessionID) {
    QList<RepoSessionSummary> withConversation;
    QList<RepoSessionSummary> unknown;
    for (const RepoSessionSummary &session : from) {
        const auto found = conversationBySessionID.constFind(session.sessionID);
        if (found == conversationBySessionID.constEnd())
            unknown.append(session);
        else if (*found)
            withConversation.append(session);
    }
    if (!withConversation.isEmpty())
        return withConversation;
    if (!unknown.isEmpty())
        return unknown;
    return from;
}

std::optional<QString> bridgeSessionIDToAutoSelect(const QList<RepoSessionSummary> &from,
                                                   const QHash<QString, QDateTime> &recencyBySessionID,
                                                   const QHash<QString, bool> &conversationBySessionID,
                                                   const QSet<QString> &knownThreadSessionIDs,
                                                   const std::optional<QDateTime> &latestSeen) {
    const QList<RepoSessionSummary> candidates = selectableBridgeSessions(from, conversationBySessionID);
    if (candidates.isEmpty())
        return std::nullopt;

    for (const RepoSessionSummary &candidate : candidates) {
        if (const auto recency = recencyOf(candidate.sessionID, recencyBySessionID)) {
            if (!latestSeen || !latestSeen->isValid() || *recency > *latestSeen)
                return candidate.sessionID;
            break;
        }
    }

    for (const RepoSessionSummary &candidate : candidates) {
        if (!knownThreadSessionIDs.contains(candidate.sessionID))
            return candidate.sessionID;
    }
    return std::nullopt;
}

} // namespace DesktopBridgeSessionMirror

} // namespace rirudez
