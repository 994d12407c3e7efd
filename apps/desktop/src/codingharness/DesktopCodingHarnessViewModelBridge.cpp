// The coding view model's side facing the bridge: its health, forgetting one bridge for another, and the
// frames the bridge client hands over, routed to the parts.
#include "DesktopCodingHarnessViewModel.h"

#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingTaskFailure.h"
#include "DesktopTask.h"

#include <algorithm>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

// ---------------------------------------------------------------------------------------------
// Health

QCoro::Task<void> DesktopCodingHarnessViewModel::refreshBridgeHealth() {
    // The source lives as long as this task, even when the view model goes away meanwhile.
    const std::shared_ptr<DesktopCodingBridgeHealthSource> source = m_bridgeHealthSource;
    QCoro::Task<std::optional<DesktopTaskOutcome<BridgeHealth>>> loading =
        guardedTask(this, source->loadHealth());
    const std::optional<DesktopTaskOutcome<BridgeHealth>> health = co_await loading;
    if (!health)
        co_return;
    if (health->failure) {
        setBridgeRefreshError(DesktopCodingTaskFailure::describe(health->failure).localized);
        co_return;
    }
    applyBridgeHealth(*health->value);
    setBridgeRefreshError(std::nullopt);
}

void DesktopCodingHarnessViewModel::applyBridgeHealth(const BridgeHealth &health) {
    m_composer.installCatalog(DesktopCodingModelOption::catalog(health.models));

    QList<DesktopCodingProject> mapped;
    for (const BridgeProject &project : health.projects)
        mapped.append(DesktopCodingProject::fromBridgeProject(project));
    if (mapped.isEmpty()) {
        updateSelectedThreadSettings();
        return;
    }

    const std::optional<DesktopCodingProject> remembered = selectedProject();
    const bool keep =
        remembered && std::any_of(mapped.begin(), mapped.end(),
                                  [&](const DesktopCodingProject &p) { return p.id == remembered->id; });
    const QString firstID = mapped.first().id;
    publishProjects(std::move(mapped));
    setSelectedProjectID(keep ? remembered->id : firstID);

    ensureThreadForSelectedProject();
    applyRuntimeMode(selectedRuntimeMode());
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (project && !project->allowWeb && allowWeb())
        setAllowWeb(false);
    syncSessionFromSelectedThread();
    updateSelectedThreadSettings();
}

void DesktopCodingHarnessViewModel::forgetBridge() {
    // The event models let go of the visible thread before the threads go.
    Q_EMIT visibleThreadAboutToChange();
    m_visibleThreadIndex.reset();
    m_sessionThreadIndex.reset();
    m_selectedThreadSeen.reset();
    Q_EMIT visibleThreadChanged();

    m_dispatcher.forgetBridge();
    m_approvals.clear();
    m_store.clear();
    m_selection.forgetThreads();
    Q_EMIT selectedThreadIDByProjectChanged();
    Q_EMIT threadsChanged();
    m_sync.forgetBridge();
    setBridgeRefreshError(std::nullopt);

    publishProjects(m_initialProjects);
    const QList<DesktopCodingProject> &listed = projects();
    setSelectedProjectID(listed.isEmpty() ? std::nullopt : std::optional(listed.first().id));
    m_detachedSession =
        DesktopCodingSession(makeDesktopCodingID(), listed.isEmpty() ? QString() : listed.first().name);
    ensureThreadForSelectedProject();
    syncSessionFromSelectedThread();
}

// ---------------------------------------------------------------------------------------------
// Frames from the bridge

void DesktopCodingHarnessViewModel::handleBridgeMessage(const BridgeMessage &message) {
    // Called from the bridge client's routing: nothing may escape from here.
    try {
        if (const auto *hello = message.as<BridgeMessage::Hello>()) {
            BridgeHealth health;
            health.ok = true;
            health.name = hello->name;
            health.agents = hello->agents;
            health.models = hello->models;
            health.projects = hello->projects;
            health.protocol = hello->protocolVersion;
            applyBridgeHealth(health);
        } else if (const auto *list = message.as<BridgeMessage::RepoSessions>()) {
            m_sync.receiveSessions(list->requestID, list->sessions);
        } else if (const auto *opened = message.as<BridgeMessage::RepoSessionOpened>()) {
            if (const std::optional<QString> thread =
                    m_sync.registry().takeOpenRequestThread(opened->requestID)) {
                m_sync.bind(opened->session.sessionID, *thread);
                append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                          u"Zad Ezarur repo session opened"_s, opened->session.sessionID),
                       *thread);
            }
        } else if (const auto *event = message.as<BridgeMessage::RepoEvent>()) {
            if (const std::optional<QString> thread = m_sync.threadID(event->sessionID))
                append(event->event, event->sessionID, event->sequence, *thread);
        } else if (const auto *error = message.as<BridgeMessage::RepoError>()) {
            if (error->requestID && m_sync.failPendingList(*error->requestID, error->message))
                return;
            // The refusal of a session this desktop is opening: the client fails the open with the bridge's
            // message, and the dispatch writes that failure as its one failure line.
            if (error->requestID && m_sync.registry().takeOpenRequestThread(*error->requestID))
                return;
            std::optional<QString> thread;
            if (error->sessionID)
                thread = m_sync.threadID(*error->sessionID);
            if (!thread)
                thread = m_dispatcher.inFlightThreadID();
            if (!thread)
                return;
            const QString threadID = *thread;
            append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed,
                                      u"Zad Ezarur repo error"_s, error->message),
                   threadID);
            m_dispatcher.finishIfNeeded(threadID);
        }
        // Turn-mode status, event and result, projects, project_registered, error and pong are not ours.
    } catch (...) {
        const DesktopCodingTaskFailure failure = DesktopCodingTaskFailure::describe(std::current_exception());
        qCWarning(lcDesktopCoding).noquote()
            << "a frame from the bridge could not be applied:" << failure.diagnostic;
        setBridgeRefreshError(failure.localized);
    }
}

void DesktopCodingHarnessViewModel::handleBridgeMessages(const QList<BridgeMessage> &messages) {
    if (messages.size() == 1 || m_store.inEventBatch()) {
        for (const BridgeMessage &message : messages)
            handleBridgeMessage(message);
        return;
    }
    // The batch is announced even when a frame throws (handleBridgeMessage catches, but be sure).
    struct Batch {
        DesktopCodingThreadStore &store;
        explicit Batch(DesktopCodingThreadStore &s) : store(s) { store.beginEventBatch(); }
        ~Batch() { store.endEventBatch(); }
    } batch(m_store);
    for (const BridgeMessage &message : messages) {
        // Anything but an event sees the rows of the events before it.
        if (!message.as<BridgeMessage::RepoEvent>())
            m_store.flushEventBatch();
        handleBridgeMessage(message);
    }
}

void DesktopCodingHarnessViewModel::append(const RepoSessionEvent &repoEvent, const QString &sessionID,
                                           std::uint64_t sequence, const QString &toThreadID) {
    const std::optional<qsizetype> index = m_store.indexOf(toThreadID);
    if (!index)
        return;
    const RepoSessionProjection *projection = m_store.ingest(*index, repoEvent, sessionID, sequence);
    if (!projection)
        return; // seen before: the same frame never shows twice
    DesktopCodingEventTranslation translation =
        DesktopCodingEventTranslator::translate(repoEvent, sessionID, sequence, toThreadID, *projection);
    // Effects beyond the thread's rows see the rows of the events before them.
    if (m_store.inEventBatch() &&
        (translation.sessionUpdated || translation.approvalAdded || translation.approvalResolved ||
         (translation.endsSending && m_dispatcher.inFlightThreadID() == toThreadID)))
        m_store.flushEventBatch();
    // The bridge's echo of a prompt this desktop sent in this thread: the desktop's own row stands for it.
    if (translation.userMessageID)
        if (const std::optional<QString> own =
                m_dispatcher.ownPromptEventID(toThreadID, *translation.userMessageID)) {
            if (m_store.inEventBatch())
                m_store.flushEventBatch(); // the list models find the row among the rows shown
            m_store.markDelivered(*index, *own);
            translation.row.reset();
            translation.retitleFrom.reset();
        }
    if (translation.sessionUpdated)
        if (const std::optional<DesktopCodingBridgeSessionSelection> selection =
                m_sync.hydrateSession(*translation.sessionUpdated, std::nullopt, false))
            applyBridgeSessionSelection(*selection);
    if (translation.retitleFrom)
        m_store.retitle(*index, *translation.retitleFrom);
    if (translation.approvalAdded)
        m_approvals.add(*translation.approvalAdded);
    if (translation.approvalResolved)
        m_approvals.remove(sessionID, *translation.approvalResolved);
    if (translation.row)
        m_store.appendEvent(*index, *translation.row);
    if (translation.assistantText)
        m_store.applyAssistantText(*index, *translation.assistantText);
    if (translation.endsSending)
        m_dispatcher.finishIfNeeded(toThreadID);
}

void DesktopCodingHarnessViewModel::append(DesktopCodingEvent event, const QString &toThreadID) {
    if (const std::optional<qsizetype> index = m_store.indexOf(toThreadID))
        m_store.appendEvent(*index, std::move(event));
}

} // namespace rirudez
