#include "DesktopCodingSessionSync.h"

#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingTaskFailure.h"
#include "DesktopCodingThreadStore.h"
#include "DesktopTask.h"

#include <QPointer>
#include <QUuid>

#include <qcoro/qcorotimer.h>

#include <chrono>

namespace rirudez {
using namespace Qt::StringLiterals;

// Calls whose results are awaited are made in a statement of their own (`Task t = f(x); co_await t;`):
// g++ 12 may destroy temporaries of a co_await operand (such as by-value arguments) twice.

namespace {

bool isSessionListTimeout(const std::exception_ptr &error) {
    try {
        std::rethrow_exception(error);
    } catch (const DesktopCodingBridgeSessionListTimeoutError &) {
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<QString> trimmedOrNone(const std::optional<QString> &text) {
    return text ? nilIfEmpty(*text) : std::nullopt;
}

} // namespace

DesktopCodingBridgeSessionListTimeoutError::DesktopCodingBridgeSessionListTimeoutError() {
    cacheWhat();
}

QString DesktopCodingBridgeSessionListTimeoutError::diagnosticText() const {
    return u"DesktopCodingBridgeSessionListTimeoutError"_s;
}

QString DesktopCodingBridgeSessionListTimeoutError::localizedDescription() const {
    return u"Timed out waiting for Zad Ezarur repo sessions."_s;
}

DesktopCodingSessionSync::Host::~Host() = default;

DesktopCodingSessionSync::DesktopCodingSessionSync(
    Host &host, DesktopCodingThreadStore &store,
    std::shared_ptr<DesktopCodingBridgePairingSource> pairingSource,
    std::shared_ptr<DesktopCodingBridgeSessionRecencySource> recencySource,
    std::shared_ptr<DesktopCodingBridgeClient> client, std::uint64_t sessionListTimeoutNanoseconds,
    QObject *parent)
    : QObject(parent), m_host(host), m_store(store), m_pairingSource(std::move(pairingSource)),
      m_recencySource(std::move(recencySource)), m_client(std::move(client)),
      m_sessionListTimeoutNanoseconds(sessionListTimeoutNanoseconds) {}

DesktopCodingSessionSync::~DesktopCodingSessionSync() {
    // A refresh still waiting for its list resumes (and finds its owner gone) instead of waiting forever.
    if (const std::shared_ptr<BridgeSessionListRequest> pending =
            std::exchange(m_pendingSessionList, nullptr))
        pending->finish(
            BridgeSessionListResult(std::make_exception_ptr(BridgeClientError::connectionClosed())));
}

void DesktopCodingSessionSync::forgetBridge() {
    m_registry.clear();
    m_latestSeenBridgeSessionUpdatedAt.reset();
    if (const std::shared_ptr<BridgeSessionListRequest> pending =
            std::exchange(m_pendingSessionList, nullptr))
        pending->finish(BridgeSessionListResult(QList<RepoSessionSummary>()));
}

QCoro::Task<void> DesktopCodingSessionSync::ensureConnected() {
    QPointer<DesktopCodingSessionSync> self(this);
    Host *host = &m_host;
    m_client->setOnMessages([self, host](const QList<BridgeMessage> &messages) {
        if (self)
            host->handleBridgeMessages(messages);
    });
    if (m_registry.isConnected()) {
        if (m_client->isConnected())
            co_return;
        // The connection ended underneath (the bridge went away): forget it and connect again.
        m_registry.resetConnection();
    }
    const Pairing pairing = m_pairingSource->loadPairing();
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_client;
    QCoro::Task<BridgeMessage> connecting = client->connect(pairing);
    const BridgeMessage hello = co_await connecting;
    if (!self)
        co_return;
    m_host.handleBridgeMessage(hello);
    m_registry.markConnected();
}

QCoro::Task<void> DesktopCodingSessionSync::refresh() {
    // One refresh at a time: a retry during a poll would otherwise connect twice at once.
    if (m_refreshing)
        co_return;
    m_refreshing = true;
    QPointer<DesktopCodingSessionSync> self(this);
    QCoro::Task<void> refreshing = refreshOnce();
    co_await refreshing;
    if (self)
        m_refreshing = false;
}

QCoro::Task<void> DesktopCodingSessionSync::refreshOnce() {
    if (m_pendingSessionList)
        co_return;
    if (m_host.isSending()) {
        co_await followRunningTurn();
        co_return;
    }

    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> listing = guardedTask(this, listOnce());
    const std::optional<DesktopTaskOutcome<void>> listed = co_await listing;
    if (!listed || !listed->failure)
        co_return;
    m_registry.resetConnection();
    if (isSessionListTimeout(listed->failure) && m_host.visibleSessionShowsChat())
        m_host.setBridgeRefreshError(std::nullopt);
    else
        m_host.setBridgeRefreshError(DesktopCodingTaskFailure::describe(listed->failure).localized);
}

QCoro::Task<void> DesktopCodingSessionSync::listOnce() {
    QPointer<DesktopCodingSessionSync> self(this);
    co_await ensureConnected();
    if (!self)
        co_return;

    const QString requestID = QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    auto request = std::make_shared<BridgeSessionListRequest>(requestID);
    m_pendingSessionList = request;
    request->scheduleTimeout(m_sessionListTimeoutNanoseconds, [self, requestID] {
        if (self)
            self->finishPendingSessionList(requestID, BridgeSessionListResult(std::make_exception_ptr(
                                                          DesktopCodingBridgeSessionListTimeoutError())));
    });
    // The list is sent by a task of its own; its reply comes back through the frame handler.
    ClientMessage frame{ClientMessage::ListRepoSessions{requestID, std::nullopt}};
    [](QPointer<DesktopCodingSessionSync> owner, std::shared_ptr<DesktopCodingBridgeClient> client,
       ClientMessage message, QString id) -> QCoro::Task<void> {
        QCoro::Task<std::optional<DesktopTaskOutcome<void>>> sending =
            guardedTask(owner.data(), client->send(std::move(message)));
        const std::optional<DesktopTaskOutcome<void>> sent = co_await sending;
        if (sent && sent->failure)
            owner->finishPendingSessionList(id, BridgeSessionListResult(sent->failure));
    }(self, m_client, std::move(frame), requestID);

    const QList<RepoSessionSummary> sessions = co_await request->result();
    if (!self)
        co_return;
    hydrate(sessions);
    co_await subscribeToSelected();
    if (!self)
        co_return;
    m_host.setBridgeRefreshError(std::nullopt);
}

QCoro::Task<void> DesktopCodingSessionSync::runLoop(std::uint64_t pollIntervalNanoseconds,
                                                    std::optional<int> maximumPolls) {
    QPointer<DesktopCodingSessionSync> self(this);
    const std::uint64_t generation = m_loopGeneration;
    int polls = 0;
    while (self && self->m_loopGeneration == generation && (!maximumPolls || polls < *maximumPolls)) {
        co_await self->refresh();
        ++polls;
        if (!self || self->m_loopGeneration != generation || (maximumPolls && polls >= *maximumPolls))
            break;
        QCoro::Task<void> sleeping = QCoro::sleepFor(std::chrono::nanoseconds(pollIntervalNanoseconds));
        co_await sleeping;
    }
}

QCoro::Task<void> DesktopCodingSessionSync::followRunningTurn() {
    if (m_registry.isConnected() && m_client->isConnected())
        co_return;
    const std::optional<QString> sessionID = m_host.inFlightBridgeSessionID();
    if (!sessionID)
        co_return; // still opening its session: the dispatch reports how that ends
    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> following =
        guardedTask(this, subscribeIfNeeded(*sessionID));
    const std::optional<DesktopTaskOutcome<void>> followed = co_await following;
    if (!followed)
        co_return;
    if (followed->failure) {
        m_registry.resetConnection();
        m_host.setBridgeRefreshError(DesktopCodingTaskFailure::describe(followed->failure).localized);
    } else {
        m_host.setBridgeRefreshError(std::nullopt);
    }
}

QCoro::Task<void> DesktopCodingSessionSync::subscribeToSelected() {
    const std::optional<qsizetype> index = m_host.selectedThreadIndex();
    if (!index || !m_store.at(*index).bridgeSessionID)
        co_return;
    const QString sessionID = *m_store.at(*index).bridgeSessionID;
    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> subscribing =
        guardedTask(this, subscribeIfNeeded(sessionID));
    const std::optional<DesktopTaskOutcome<void>> subscribed = co_await subscribing;
    if (subscribed && subscribed->failure) {
        m_registry.resetConnection();
        m_host.setBridgeRefreshError(DesktopCodingTaskFailure::describe(subscribed->failure).localized);
    }
}

QCoro::Task<void> DesktopCodingSessionSync::subscribeIfNeeded(QString sessionID) {
    QPointer<DesktopCodingSessionSync> self(this);
    co_await ensureConnected();
    if (!self)
        co_return;
    const QString id = sessionID.trimmed();
    if (id.isEmpty() || !m_registry.shouldSubscribe(id))
        co_return;
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_client;
    const ClientMessage subscribe{ClientMessage::SubscribeRepoSession{id}};
    QCoro::Task<void> sending = client->send(subscribe);
    co_await sending;
    if (!self)
        co_return;
    m_registry.markSubscribed(id);
}

void DesktopCodingSessionSync::receiveSessions(const QString &requestID,
                                               const QList<RepoSessionSummary> &sessions) {
    if (m_pendingSessionList && m_pendingSessionList->requestID() == requestID)
        finishPendingSessionList(requestID, BridgeSessionListResult(sessions));
    else
        hydrate(sessions);
}

bool DesktopCodingSessionSync::failPendingList(const QString &requestID, const QString &message) {
    if (!m_pendingSessionList || m_pendingSessionList->requestID() != requestID)
        return false;
    finishPendingSessionList(
        requestID, BridgeSessionListResult(std::make_exception_ptr(BridgeClientError::turnFailed(message))));
    return true;
}

void DesktopCodingSessionSync::finishPendingSessionList(const QString &requestID,
                                                        BridgeSessionListResult result) {
    if (!m_pendingSessionList || m_pendingSessionList->requestID() != requestID)
        return;
    const std::shared_ptr<BridgeSessionListRequest> request = std::exchange(m_pendingSessionList, nullptr);
    request->finish(std::move(result));
}

void DesktopCodingSessionSync::hydrate(const QList<RepoSessionSummary> &sessions) {
    QHash<QString, QDateTime> recency;
    QHash<QString, bool> conversation;
    for (const RepoSessionSummary &summary : sessions) {
        if (const std::optional<QDateTime> date = m_recencySource->updatedAt(summary.sessionID))
            recency.insert(summary.sessionID, *date);
        if (const std::optional<bool> flag = m_recencySource->hasConversationEvents(summary.sessionID))
            conversation.insert(summary.sessionID, *flag);
    }
    const QList<RepoSessionSummary> ordered = DesktopBridgeSessionMirror::orderedByRecency(sessions, recency);

    QSet<QString> known = m_registry.mappedBridgeSessionIDs();
    for (const DesktopCodingThread &thread : m_store.threads())
        if (thread.bridgeSessionID)
            known.insert(*thread.bridgeSessionID);

    const std::optional<QString> autoSelect = DesktopBridgeSessionMirror::bridgeSessionIDToAutoSelect(
        ordered, recency, conversation, known, m_latestSeenBridgeSessionUpdatedAt);

    std::optional<QDateTime> newest;
    for (const RepoSessionSummary &summary :
         DesktopBridgeSessionMirror::selectableBridgeSessions(ordered, conversation)) {
        const auto date = recency.constFind(summary.sessionID);
        if (date != recency.constEnd() && (!newest || *date > *newest))
            newest = *date;
    }
    if (!newest) {
        for (const QDateTime &date : std::as_const(recency))
            if (!newest || date > *newest)
                newest = date;
    }
    if (newest && (!m_latestSeenBridgeSessionUpdatedAt || *newest > *m_latestSeenBridgeSessionUpdatedAt))
        m_latestSeenBridgeSessionUpdatedAt = newest;

    for (const RepoSessionSummary &summary : ordered) {
        const auto date = recency.constFind(summary.sessionID);
        const std::optional<QDateTime> updatedAt =
            date != recency.constEnd() ? std::optional<QDateTime>(*date) : std::nullopt;
        if (const std::optional<DesktopCodingBridgeSessionSelection> selection =
                hydrateSession(summary, updatedAt, autoSelect && summary.sessionID == *autoSelect))
            m_host.applyBridgeSessionSelection(*selection);
    }
}

std::optional<DesktopCodingBridgeSessionSelection>
DesktopCodingSessionSync::hydrateSession(const RepoSessionSummary &summary,
                                         const std::optional<QDateTime> &updatedAt, bool selectSession) {
    DesktopCodingComposerSettings settings;
    settings.agent = desktopCodingAgent(summary.agent);
    settings.permission =
        desktopHydrated(summary.permissionMode).value_or(desktopDefaults(settings.agent).first());
    settings.thinking =
        desktopCodingThinkingLevel(summary.thinkingEffort).value_or(DesktopCodingThinkingLevel::automatic);
    settings.modelID = trimmedOrNone(summary.model);
    settings.access = summary.access;
    settings.allowWeb = summary.allowWeb;

    const auto selectionFor = [&](qsizetype index, bool selectsProjectThread) {
        const DesktopCodingThread &thread = m_store.at(index);
        return DesktopCodingBridgeSessionSelection{selectsProjectThread, thread.projectID, thread.id,
                                                   settings};
    };

    const std::optional<QString> existing = threadID(summary.sessionID);
    const std::optional<qsizetype> index = existing ? m_store.indexOf(*existing) : std::nullopt;
    if (!index) {
        QString projectName = summary.projectID;
        for (const DesktopCodingProject &project : m_host.projects())
            if (project.id == summary.projectID) {
                projectName = project.name;
                break;
            }
        const QString title = projectName + u" repo session"_s;
        DesktopCodingThread thread(
            summary.sessionID, summary.projectID, title, DesktopCodingSession(summary.sessionID, title),
            settings.agent, settings.modelID, settings.access, settings.permission, settings.thinking,
            settings.allowWeb, summary.sessionID, trimmedOrNone(summary.upstreamThreadID),
            updatedAt.value_or(QDateTime::currentDateTimeUtc()));
        const qsizetype added = m_store.append(std::move(thread));
        bind(summary.sessionID, m_store.at(added).id);
        if (!selectSession)
            return std::nullopt;
        return selectionFor(added, true);
    }

    m_store.update(*index, [&](DesktopCodingThread &thread) {
        settings.applyTo(thread);
        thread.upstreamThreadID = trimmedOrNone(summary.upstreamThreadID);
        if (updatedAt && (!thread.updatedAt.isValid() || *updatedAt > thread.updatedAt))
            thread.updatedAt = *updatedAt;
    });
    if (selectSession)
        return selectionFor(*index, true);
    if (m_host.selectedThreadIndex() == *index)
        return selectionFor(*index, false);
    return std::nullopt;
}

std::optional<QString> DesktopCodingSessionSync::threadID(const QString &forBridgeSessionID) const {
    if (const std::optional<QString> mapped = m_registry.mappedThreadID(forBridgeSessionID))
        return mapped;
    if (const std::optional<qsizetype> index = m_store.indexOfBridgeSession(forBridgeSessionID))
        return m_store.at(*index).id;
    return std::nullopt;
}

void DesktopCodingSessionSync::bind(const QString &sessionID, const QString &toThreadID) {
    m_registry.bind(sessionID, toThreadID);
    if (const std::optional<qsizetype> index = m_store.indexOf(toThreadID))
        m_store.bindBridgeSession(*index, nilIfEmpty(sessionID));
}

} // namespace rirudez
