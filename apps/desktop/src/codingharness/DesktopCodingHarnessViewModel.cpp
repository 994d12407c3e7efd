// The coding view model: state, connection, session mirroring, selection, dispatch, the event stream,
// approvals and stopping.
#include "DesktopCodingHarnessViewModel.h"

#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingListModels.h"

#include <QPointer>
#include <QUuid>
#include <QVariantMap>

#include <qcoro/qcorotimer.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

// Side state of one thread, parallel to the thread itself.
struct DesktopCodingHarnessViewModel::ThreadState {
    // Created on the first bridge event of the thread.
    std::optional<RepoSessionProjection> projection;
    // Where each event id sits in the thread's log (events are only ever appended).
    QHash<QString, qsizetype> eventIndexByID;
    // The chat and activity rows of the thread's log.
    DesktopCodingConversationFold fold;
};

// Calls whose results are awaited are made in a statement of their own (`Task t = f(x); co_await t;`):
// g++ 12 may destroy temporaries of a co_await operand (such as by-value arguments) twice.

namespace {

const QString sessionListTimeoutSentence = u"Timed out waiting for Zad Ezarur repo sessions."_s;

QString newWireID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

// The two texts of any failure: the diagnostic form written into failure events, and the user-facing
// sentence written into the refresh error line.
struct ErrorTexts {
    QString diagnostic;
    QString localized;
};

ErrorTexts describe(const std::exception_ptr &error) {
    try {
        std::rethrow_exception(error);
    } catch (const BridgeKitError &e) {
        return {e.diagnosticText(), e.localizedDescription()};
    } catch (const DesktopCodingBridgeStateFileError &e) {
        return {e.diagnosticText(), e.localizedDescription()};
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        return {text, text};
    } catch (...) {
        return {u"unknownError"_s, u"An unknown error occurred."_s};
    }
}

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

QVariantMap projectForView(const DesktopCodingProject &project) {
    QStringList modes;
    for (RepoAccessMode mode : project.supportedAccessModes)
        modes.append(rawValue(mode));
    return {{u"id"_s, project.id},
            {u"name"_s, project.name},
            {u"rootDisplay"_s, project.rootDisplay},
            {u"branch"_s, project.branch.value_or(QString())},
            {u"hasUncommittedChanges"_s, project.hasUncommittedChanges},
            {u"statusLine"_s, project.statusLine()},
            {u"maxAccess"_s, rawValue(project.maxAccess)},
            {u"supportedAccessModes"_s, modes},
            {u"allowWeb"_s, project.allowWeb}};
}

QVariantMap modelOptionForView(const DesktopCodingModelOption &option) {
    QStringList levels;
    for (DesktopCodingThinkingLevel level : option.thinkingLevels)
        levels.append(rawValue(level));
    return {{u"id"_s, option.id},
            {u"displayName"_s, option.displayName},
            {u"agent"_s, rawValue(option.agent)},
            {u"supportsVision"_s, option.supportsVision},
            {u"speedLabel"_s, option.speedLabel},
            {u"thinkingLevels"_s, levels}};
}

const QStringList promptSectionTitles{
    u"Selected Zad Ezarur project"_s, u"User text"_s,          u"User turn"_s, u"Learner profile"_s,
    u"Prior notebook context"_s,      u"Recent conversation"_s};

} // namespace

// ---------------------------------------------------------------------------------------------
// The session-list timeout

DesktopCodingBridgeSessionListTimeoutError::DesktopCodingBridgeSessionListTimeoutError() {
    cacheWhat();
}

QString DesktopCodingBridgeSessionListTimeoutError::diagnosticText() const {
    return u"DesktopCodingBridgeSessionListTimeoutError"_s;
}

QString DesktopCodingBridgeSessionListTimeoutError::localizedDescription() const {
    return sessionListTimeoutSentence;
}

// ---------------------------------------------------------------------------------------------
// Creation

DesktopCodingHarnessViewModel::DesktopCodingHarnessViewModel(
    QList<DesktopCodingProject> projects, DesktopCodingModelCatalog modelCatalog,
    std::shared_ptr<DesktopCodingBridgeHealthSource> bridgeHealthSource,
    std::shared_ptr<DesktopCodingBridgePairingSource> bridgePairingSource,
    std::shared_ptr<DesktopCodingBridgeSessionRecencySource> bridgeSessionRecencySource,
    std::shared_ptr<DesktopCodingBridgeClient> bridgeClient, std::uint64_t sessionListTimeoutNanoseconds,
    QObject *parent)
    : QObject(parent), m_bridgeHealthSource(std::move(bridgeHealthSource)),
      m_bridgePairingSource(std::move(bridgePairingSource)),
      m_bridgeSessionRecencySource(std::move(bridgeSessionRecencySource)),
      m_bridgeClient(std::move(bridgeClient)), m_sessionListTimeoutNanoseconds(sessionListTimeoutNanoseconds),
      m_projects(std::move(projects)), m_modelCatalog(std::move(modelCatalog)) {
    const DesktopCodingProject *first = m_projects.isEmpty() ? nullptr : &m_projects.first();
    if (first)
        m_selectedProjectID = first->id;
    const QList<DesktopCodingModelOption> codexOptions =
        modelOptions(DesktopCodingAgent::codex, m_modelCatalog);
    if (!codexOptions.isEmpty())
        m_selectedModelID = codexOptions.first().id;
    m_selectedAccess = first ? first->sandboxAccessMode() : RepoAccessMode::edit;

    m_detachedSession = DesktopCodingSession(makeDesktopCodingID(), first ? first->name : QString());

    m_threadModel = new DesktopCodingThreadListModel(this, this);
    m_projectThreadModel = new DesktopCodingProjectThreadsModel(this, m_threadModel, this);
    m_chatEventModel = new DesktopCodingEventListModel(this, DesktopCodingEventListModel::Part::chat, this);
    m_activityEventModel =
        new DesktopCodingEventListModel(this, DesktopCodingEventListModel::Part::activity, this);
    m_pendingApprovalModel = new DesktopCodingPendingApprovalListModel(this, this);

    if (first) {
        DesktopCodingThread thread(makeDesktopCodingID(), first->id, first->name, m_detachedSession,
                                   m_selectedAgent, m_selectedModelID, m_selectedAccess, m_selectedPermission,
                                   m_selectedThinking, m_allowWeb);
        const qsizetype index = appendThread(std::move(thread));
        m_selectedThreadIDByProject.insert(first->id, m_threads[index].id);
        m_sessionThreadIndex = index;
    }
    updateVisibleThread();
}

DesktopCodingHarnessViewModel::~DesktopCodingHarnessViewModel() {
    if (m_bridgeClient)
        m_bridgeClient->setOnMessage(nullptr);
    // A refresh still waiting for its list resumes (and finds the view model gone) instead of waiting
    // forever.
    if (const std::shared_ptr<BridgeSessionListRequest> pending =
            std::exchange(m_pendingSessionList, nullptr))
        pending->finish(
            BridgeSessionListResult(std::make_exception_ptr(BridgeClientError::connectionClosed())));
}

QList<DesktopCodingProject> DesktopCodingHarnessViewModel::sampleProjects() {
    return DesktopCodingProject::sampleProjects();
}

DesktopCodingModelCatalog DesktopCodingHarnessViewModel::fallbackModelCatalog() {
    return DesktopCodingModelOption::fallbackModelCatalog();
}

// ---------------------------------------------------------------------------------------------
// Published state

const DesktopCodingSession &DesktopCodingHarnessViewModel::session() const {
    if (m_sessionThreadIndex && *m_sessionThreadIndex < m_threads.size())
        return m_threads[*m_sessionThreadIndex].session;
    return m_detachedSession;
}

// Stores a value; when it differs from the stored one, announces the property and (unless told otherwise) the
// derived values. Returns whether it changed.
template <typename Member, typename Value>
bool DesktopCodingHarnessViewModel::assign(Member &member, Value &&value,
                                           void (DesktopCodingHarnessViewModel::*changed)(),
                                           bool announceDerived) {
    if (member == value)
        return false;
    member = std::forward<Value>(value);
    Q_EMIT(this->*changed)();
    if (announceDerived)
        Q_EMIT derivedValuesChanged();
    return true;
}

void DesktopCodingHarnessViewModel::setSelectedAgent(DesktopCodingAgent agent) {
    assign(m_selectedAgent, agent, &DesktopCodingHarnessViewModel::selectedAgentChanged);
}

void DesktopCodingHarnessViewModel::setSelectedThinking(DesktopCodingThinkingLevel level) {
    assign(m_selectedThinking, level, &DesktopCodingHarnessViewModel::selectedThinkingChanged);
}

void DesktopCodingHarnessViewModel::setAllowWeb(bool allowWeb) {
    assign(m_allowWeb, allowWeb, &DesktopCodingHarnessViewModel::allowWebChanged);
}

void DesktopCodingHarnessViewModel::setPromptText(const QString &text) {
    assign(m_promptText, text, &DesktopCodingHarnessViewModel::promptTextChanged);
}

void DesktopCodingHarnessViewModel::setSelectedProjectID(const std::optional<QString> &id) {
    if (assign(m_selectedProjectID, id, &DesktopCodingHarnessViewModel::selectedProjectIDChanged))
        updateVisibleThread();
}

void DesktopCodingHarnessViewModel::setSelectedModelID(const std::optional<QString> &id) {
    assign(m_selectedModelID, id, &DesktopCodingHarnessViewModel::selectedModelIDChanged);
}

void DesktopCodingHarnessViewModel::setSelectedAccess(RepoAccessMode access) {
    assign(m_selectedAccess, access, &DesktopCodingHarnessViewModel::selectedAccessChanged);
}

void DesktopCodingHarnessViewModel::setSelectedPermission(AgentPermissionMode permission) {
    assign(m_selectedPermission, permission, &DesktopCodingHarnessViewModel::selectedPermissionChanged);
}

void DesktopCodingHarnessViewModel::setSelectedThreadIDForProject(const QString &projectID,
                                                                  const QString &threadID) {
    const auto found = m_selectedThreadIDByProject.constFind(projectID);
    if (found != m_selectedThreadIDByProject.constEnd() && *found == threadID)
        return;
    m_selectedThreadIDByProject.insert(projectID, threadID);
    Q_EMIT selectedThreadIDByProjectChanged();
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
}

void DesktopCodingHarnessViewModel::setBridgeRefreshError(const std::optional<QString> &error) {
    assign(m_bridgeRefreshError, error, &DesktopCodingHarnessViewModel::bridgeRefreshErrorChanged, false);
}

void DesktopCodingHarnessViewModel::setIsSending(bool sending) {
    assign(m_isSending, sending, &DesktopCodingHarnessViewModel::isSendingChanged);
}

void DesktopCodingHarnessViewModel::publishModelCatalog(DesktopCodingModelCatalog catalog) {
    assign(m_modelCatalog, std::move(catalog), &DesktopCodingHarnessViewModel::modelCatalogChanged);
}

void DesktopCodingHarnessViewModel::publishProjects(QList<DesktopCodingProject> projects) {
    if (assign(m_projects, std::move(projects), &DesktopCodingHarnessViewModel::projectsChanged))
        updateVisibleThread();
}

// ---------------------------------------------------------------------------------------------
// Derived values

std::optional<DesktopCodingProject> DesktopCodingHarnessViewModel::selectedProject() const {
    if (m_projects.isEmpty())
        return std::nullopt;
    if (m_selectedProjectID) {
        for (const DesktopCodingProject &project : m_projects)
            if (project.id == *m_selectedProjectID)
                return project;
    }
    return m_projects.first();
}

std::optional<qsizetype> DesktopCodingHarnessViewModel::selectedThreadIndex() const {
    if (m_projects.isEmpty())
        return std::nullopt;
    const DesktopCodingProject *project = &m_projects.first();
    if (m_selectedProjectID) {
        for (const DesktopCodingProject &candidate : m_projects)
            if (candidate.id == *m_selectedProjectID) {
                project = &candidate;
                break;
            }
    }
    const auto wanted = m_selectedThreadIDByProject.constFind(project->id);
    if (wanted != m_selectedThreadIDByProject.constEnd()) {
        for (qsizetype i = 0; i < m_threads.size(); ++i)
            if (m_threads[i].id == *wanted && m_threads[i].projectID == project->id)
                return i;
    }
    for (qsizetype i = 0; i < m_threads.size(); ++i)
        if (m_threads[i].projectID == project->id)
            return i;
    return std::nullopt;
}

const DesktopCodingThread *DesktopCodingHarnessViewModel::selectedThread() const {
    const std::optional<qsizetype> index = selectedThreadIndex();
    return index ? &m_threads[*index] : nullptr;
}

const DesktopCodingSession &DesktopCodingHarnessViewModel::visibleSession() const {
    const DesktopCodingThread *thread = selectedThread();
    return thread ? thread->session : session();
}

bool DesktopCodingHarnessViewModel::isSelectedThreadIndex(qsizetype index) const {
    return selectedThreadIndex() == index;
}

bool DesktopCodingHarnessViewModel::isListedInProjectThreads(qsizetype index) const {
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (!project || index < 0 || index >= m_threads.size() || m_threads[index].projectID != project->id)
        return false;
    const auto hasContent = [](const DesktopCodingThread &thread) {
        return thread.bridgeSessionID.has_value() || !thread.session.events.isEmpty();
    };
    if (hasContent(m_threads[index]))
        return true;
    const bool anyWithContent =
        std::any_of(m_threads.begin(), m_threads.end(), [&](const DesktopCodingThread &t) {
            return t.projectID == project->id && hasContent(t);
        });
    return !anyWithContent || selectedThreadIndex() == index;
}

QList<DesktopCodingThread> DesktopCodingHarnessViewModel::projectThreads() const {
    QList<qsizetype> listed;
    for (qsizetype i = 0; i < m_threads.size(); ++i)
        if (isListedInProjectThreads(i))
            listed.append(i);
    std::stable_sort(listed.begin(), listed.end(), [&](qsizetype a, qsizetype b) {
        return m_threads[a].updatedAt > m_threads[b].updatedAt;
    });
    QList<DesktopCodingThread> result;
    result.reserve(listed.size());
    for (qsizetype i : listed)
        result.append(m_threads[i]);
    return result;
}

QList<DesktopCodingModelOption>
DesktopCodingHarnessViewModel::modelOptions(DesktopCodingAgent agent,
                                            const DesktopCodingModelCatalog &catalog) {
    const auto entry = catalog.constFind(agent);
    const QList<DesktopCodingModelOption> options =
        entry != catalog.constEnd() ? *entry : DesktopCodingModelOption::defaults(agent);
    QList<DesktopCodingModelOption> withVision;
    for (const DesktopCodingModelOption &option : options)
        if (option.supportsVision)
            withVision.append(option);
    return withVision;
}

QList<DesktopCodingModelOption> DesktopCodingHarnessViewModel::modelOptions() const {
    return modelOptions(m_selectedAgent, m_modelCatalog);
}

std::optional<DesktopCodingModelOption> DesktopCodingHarnessViewModel::selectedModel() const {
    const QList<DesktopCodingModelOption> options = modelOptions();
    if (options.isEmpty())
        return std::nullopt;
    if (m_selectedModelID) {
        for (const DesktopCodingModelOption &option : options)
            if (option.id == *m_selectedModelID)
                return option;
    }
    return options.first();
}

QList<DesktopCodingThinkingLevel> DesktopCodingHarnessViewModel::thinkingOptions() const {
    const std::optional<DesktopCodingModelOption> model = selectedModel();
    if (!model)
        return {allDesktopCodingThinkingLevels.begin(), allDesktopCodingThinkingLevels.end()};
    return model->thinkingLevels;
}

QList<DesktopCodingRuntimeMode> DesktopCodingHarnessViewModel::runtimeModeOptions() const {
    return {allDesktopCodingRuntimeModes.begin(), allDesktopCodingRuntimeModes.end()};
}

DesktopCodingRuntimeMode DesktopCodingHarnessViewModel::selectedRuntimeMode() const {
    return desktopCodingRuntimeMode(m_selectedAccess, m_selectedPermission);
}

DesktopCodingRequestDraft DesktopCodingHarnessViewModel::currentRequestDraft() const {
    DesktopCodingRequestDraft draft;
    if (const std::optional<DesktopCodingProject> project = selectedProject())
        draft.projectID = project->id;
    draft.agent = m_selectedAgent;
    if (const std::optional<DesktopCodingModelOption> model = selectedModel())
        draft.modelID = model->id;
    draft.access = m_selectedAccess;
    draft.permission = m_selectedPermission;
    draft.thinking = m_selectedThinking;
    draft.allowWeb = m_allowWeb;
    draft.prompt = m_promptText.trimmed();
    return draft;
}

bool DesktopCodingHarnessViewModel::canSendPrompt() const {
    return !m_isSending && !m_promptText.trimmed().isEmpty() && selectedProject().has_value();
}

bool DesktopCodingHarnessViewModel::canCancelPrompt() const {
    if (!m_isSending || !m_inFlightThreadID)
        return false;
    const std::optional<qsizetype> index = indexOfThread(*m_inFlightThreadID);
    return index && m_threads[*index].bridgeSessionID.has_value();
}

// ---------------------------------------------------------------------------------------------
// Threads and the list models

std::optional<qsizetype> DesktopCodingHarnessViewModel::indexOfThread(const QString &id) const {
    const auto found = m_threadIndexByID.constFind(id);
    if (found == m_threadIndexByID.constEnd())
        return std::nullopt;
    return *found;
}

qsizetype DesktopCodingHarnessViewModel::appendThread(DesktopCodingThread thread) {
    m_threadModel->beginAppendThread();
    const qsizetype index = m_threads.size();
    if (!m_threadIndexByID.contains(thread.id))
        m_threadIndexByID.insert(thread.id, index);
    auto state = std::make_unique<ThreadState>();
    for (qsizetype i = 0; i < thread.session.events.size(); ++i)
        state->eventIndexByID.insert(thread.session.events[i].id, i);
    state->fold.rebuild(thread.session.events);
    m_threads.append(std::move(thread));
    m_threadStates.push_back(std::move(state));
    m_threadModel->endAppendThread();
    Q_EMIT threadsChanged();
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
    m_projectThreadModel->refilter();
    return index;
}

DesktopCodingThread DesktopCodingHarnessViewModel::makeThread(const QString &projectID,
                                                              const QString &title) const {
    const QString id = makeDesktopCodingID();
    return DesktopCodingThread(id, projectID, title, DesktopCodingSession(id, title), m_selectedAgent,
                               m_selectedModelID, m_selectedAccess, m_selectedPermission, m_selectedThinking,
                               m_allowWeb);
}

void DesktopCodingHarnessViewModel::threadSettingsChanged(qsizetype index) {
    m_threadModel->threadChanged(index);
    Q_EMIT threadsChanged();
    Q_EMIT derivedValuesChanged();
}

void DesktopCodingHarnessViewModel::updateVisibleThread() {
    const std::optional<qsizetype> selected = selectedThreadIndex();
    const std::optional<qsizetype> visible = selected ? selected : m_sessionThreadIndex;
    if (visible != m_visibleThreadIndex) {
        m_chatEventModel->beginRebuild();
        m_activityEventModel->beginRebuild();
        m_visibleThreadIndex = visible;
        m_chatEventModel->endRebuild();
        m_activityEventModel->endRebuild();
    }
    if (selected != m_selectedThreadSeen) {
        m_selectedThreadSeen = selected;
        m_threadModel->allThreadsChanged({DesktopCodingThreadListModel::IsSelectedRole});
        m_projectThreadModel->refilter();
    }
}

const DesktopCodingConversationFold &DesktopCodingHarnessViewModel::visibleFold() const {
    static const DesktopCodingConversationFold empty;
    if (m_visibleThreadIndex && *m_visibleThreadIndex < qsizetype(m_threadStates.size()))
        return m_threadStates[*m_visibleThreadIndex]->fold;
    return empty;
}

const DesktopCodingConversationFold &DesktopCodingHarnessViewModel::foldOfThread(qsizetype index) const {
    return m_threadStates[index]->fold;
}

void DesktopCodingHarnessViewModel::notifyThreadEventsChanged(
    qsizetype index, const DesktopCodingConversationFold::Change &change, bool newEvent) {
    if (m_visibleThreadIndex == index) {
        m_chatEventModel->apply(change);
        m_activityEventModel->apply(change);
    }
    if (newEvent) {
        m_threadModel->threadChanged(index, {DesktopCodingThreadListModel::SubtitleRole,
                                             DesktopCodingThreadListModel::UpdatedAtRole,
                                             DesktopCodingThreadListModel::TurnCountRole,
                                             DesktopCodingThreadListModel::HasContentRole});
    } else {
        m_threadModel->threadChanged(index, {DesktopCodingThreadListModel::SubtitleRole});
    }
    Q_EMIT threadsChanged();
    if (selectedThreadIndex() == index) {
        m_sessionThreadIndex = index;
        Q_EMIT sessionChanged();
    }
    // Of the derived values only the visible turn count follows the events, and only a user message changes
    // it. Announcing every event would have views re-read every derived value (model lists, the request
    // draft) for each of the thousands of events a replay brings.
    if (newEvent && m_visibleThreadIndex == index &&
        m_threads[index].session.events.constLast().kind == DesktopCodingEventKind::userMessage)
        Q_EMIT derivedValuesChanged();
}

QObject *DesktopCodingHarnessViewModel::threadModel() const {
    return m_threadModel;
}
QObject *DesktopCodingHarnessViewModel::projectThreadModel() const {
    return m_projectThreadModel;
}
QObject *DesktopCodingHarnessViewModel::chatEventModel() const {
    return m_chatEventModel;
}
QObject *DesktopCodingHarnessViewModel::activityEventModel() const {
    return m_activityEventModel;
}
QObject *DesktopCodingHarnessViewModel::pendingApprovalModel() const {
    return m_pendingApprovalModel;
}

// ---------------------------------------------------------------------------------------------
// Health and connection

QCoro::Task<void> DesktopCodingHarnessViewModel::refreshBridgeHealth() {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    const std::shared_ptr<DesktopCodingBridgeHealthSource> source = m_bridgeHealthSource;
    std::exception_ptr failure;
    try {
        const BridgeHealth health = co_await source->loadHealth();
        if (!self)
            co_return;
        applyBridgeHealth(health);
        setBridgeRefreshError(std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && self)
        setBridgeRefreshError(describe(failure).localized);
}

void DesktopCodingHarnessViewModel::applyBridgeHealth(const BridgeHealth &health) {
    const DesktopCodingModelCatalog catalog = DesktopCodingModelOption::catalog(health.models);
    if (!catalog.isEmpty()) {
        DesktopCodingModelCatalog merged = fallbackModelCatalog();
        for (auto it = catalog.constBegin(); it != catalog.constEnd(); ++it)
            merged.insert(it.key(), it.value());
        publishModelCatalog(std::move(merged));
        clampModelToSelectedAgent();
    }

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
    if (project && !project->allowWeb && m_allowWeb)
        setAllowWeb(false);
    syncSessionFromSelectedThread();
    updateSelectedThreadSettings();
}

QCoro::Task<void> DesktopCodingHarnessViewModel::ensureBridgeConnected() {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    m_bridgeClient->setOnMessage([self](const BridgeMessage &message) {
        if (self)
            self->handleBridgeMessage(message);
    });
    if (m_bridgeRegistry.isConnected()) {
        if (m_bridgeClient->isConnected())
            co_return;
        // The connection ended underneath (the bridge went away): forget it and connect again.
        m_bridgeRegistry.resetConnection();
    }
    const Pairing pairing = m_bridgePairingSource->loadPairing();
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_bridgeClient;
    QCoro::Task<BridgeMessage> connecting = client->connect(pairing);
    const BridgeMessage hello = co_await connecting;
    if (!self)
        co_return;
    handleBridgeMessage(hello);
    m_bridgeRegistry.markConnected();
}

// ---------------------------------------------------------------------------------------------
// Session list and mirror

QCoro::Task<void> DesktopCodingHarnessViewModel::refreshBridgeSessions() {
    if (m_isSending && m_inFlightThreadID && m_bridgeRegistry.isConnected() &&
        !m_bridgeClient->isConnected()) {
        // The connection carrying the running turn is gone: nothing more of the turn can arrive on it. End
        // the sending state with the failure so the refresh below reconnects and resubscribes.
        const QString threadID = *m_inFlightThreadID;
        append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed,
                                  u"Zad Ezarur dispatch failed"_s,
                                  BridgeClientError::connectionClosed().diagnosticText()),
               threadID);
        finishSendingIfNeeded(threadID);
    }
    if (m_isSending || m_pendingSessionList)
        co_return;

    QPointer<DesktopCodingHarnessViewModel> self(this);
    std::exception_ptr failure;
    try {
        co_await ensureBridgeConnected();
        if (!self)
            co_return;

        const QString requestID = newWireID();
        auto request = std::make_shared<BridgeSessionListRequest>(requestID);
        m_pendingSessionList = request;
        request->scheduleTimeout(m_sessionListTimeoutNanoseconds, [self, requestID] {
            if (self)
                self->finishPendingSessionList(requestID, BridgeSessionListResult(std::make_exception_ptr(
                                                              DesktopCodingBridgeSessionListTimeoutError())));
        });
        // The list is sent by a task of its own; its reply comes back through handleBridgeMessage.
        ClientMessage frame{ClientMessage::ListRepoSessions{requestID, std::nullopt}};
        [](QPointer<DesktopCodingHarnessViewModel> owner, std::shared_ptr<DesktopCodingBridgeClient> client,
           ClientMessage message, QString id) -> QCoro::Task<void> {
            std::exception_ptr sendFailure;
            try {
                QCoro::Task<void> sending = client->send(std::move(message));
                co_await sending;
            } catch (...) {
                sendFailure = std::current_exception();
            }
            if (sendFailure && owner)
                owner->finishPendingSessionList(id, BridgeSessionListResult(sendFailure));
        }(self, m_bridgeClient, std::move(frame), requestID);

        const QList<RepoSessionSummary> sessions = co_await request->result();
        if (!self)
            co_return;
        hydrateBridgeSessions(sessions);
        co_await subscribeToSelectedBridgeSession();
        if (!self)
            co_return;
        setBridgeRefreshError(std::nullopt);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || !self)
        co_return;
    m_bridgeRegistry.resetConnection();
    if (isSessionListTimeout(failure) && visibleFold().chatCount() > 0)
        setBridgeRefreshError(std::nullopt);
    else
        setBridgeRefreshError(describe(failure).localized);
}

QCoro::Task<void>
DesktopCodingHarnessViewModel::runBridgeSessionDiscoveryLoop(std::uint64_t pollIntervalNanoseconds,
                                                             std::optional<int> maximumPolls) {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    const std::uint64_t generation = m_discoveryGeneration;
    int polls = 0;
    while (self && self->m_discoveryGeneration == generation && (!maximumPolls || polls < *maximumPolls)) {
        co_await self->refreshBridgeSessions();
        ++polls;
        if (!self || self->m_discoveryGeneration != generation || (maximumPolls && polls >= *maximumPolls))
            break;
        QCoro::Task<void> sleeping = QCoro::sleepFor(std::chrono::nanoseconds(pollIntervalNanoseconds));
        co_await sleeping;
    }
}

void DesktopCodingHarnessViewModel::stopBridgeSessionDiscoveryLoop() {
    ++m_discoveryGeneration;
}

void DesktopCodingHarnessViewModel::finishPendingSessionList(const QString &requestID,
                                                             BridgeSessionListResult result) {
    if (!m_pendingSessionList || m_pendingSessionList->requestID() != requestID)
        return;
    const std::shared_ptr<BridgeSessionListRequest> request = std::exchange(m_pendingSessionList, nullptr);
    request->finish(std::move(result));
}

void DesktopCodingHarnessViewModel::hydrateBridgeSessions(const QList<RepoSessionSummary> &sessions) {
    QHash<QString, QDateTime> recency;
    QHash<QString, bool> conversation;
    for (const RepoSessionSummary &summary : sessions) {
        if (const std::optional<QDateTime> date = m_bridgeSessionRecencySource->updatedAt(summary.sessionID))
            recency.insert(summary.sessionID, *date);
        if (const std::optional<bool> flag =
                m_bridgeSessionRecencySource->hasConversationEvents(summary.sessionID))
            conversation.insert(summary.sessionID, *flag);
    }
    const QList<RepoSessionSummary> ordered = DesktopBridgeSessionMirror::orderedByRecency(sessions, recency);

    QSet<QString> known = m_bridgeRegistry.mappedBridgeSessionIDs();
    for (const DesktopCodingThread &thread : m_threads)
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
        if (const std::optional<BridgeSessionSelection> selection =
                hydrateBridgeSession(summary, updatedAt, autoSelect && summary.sessionID == *autoSelect))
            applyBridgeSessionSelection(*selection);
    }
}

std::optional<DesktopCodingHarnessViewModel::BridgeSessionSelection>
DesktopCodingHarnessViewModel::hydrateBridgeSession(const RepoSessionSummary &summary,
                                                    const std::optional<QDateTime> &updatedAt,
                                                    bool selectSession) {
    const DesktopCodingAgent agent = desktopCodingAgent(summary.agent);
    const AgentPermissionMode permission =
        desktopHydrated(summary.permissionMode).value_or(desktopDefaults(agent).first());
    const DesktopCodingThinkingLevel thinking =
        desktopCodingThinkingLevel(summary.thinkingEffort).value_or(DesktopCodingThinkingLevel::automatic);
    const std::optional<QString> modelID = trimmedOrNone(summary.model);

    const auto selectionFor = [&](const DesktopCodingThread &thread, bool selectsProjectThread) {
        return BridgeSessionSelection{
            selectsProjectThread, thread.projectID, thread.id, agent,           modelID,
            summary.access,       permission,       thinking,  summary.allowWeb};
    };

    const std::optional<QString> existing = threadID(summary.sessionID);
    const std::optional<qsizetype> index = existing ? indexOfThread(*existing) : std::nullopt;
    if (!index) {
        QString projectName = summary.projectID;
        for (const DesktopCodingProject &project : m_projects)
            if (project.id == summary.projectID) {
                projectName = project.name;
                break;
            }
        const QString title = projectName + u" repo session"_s;
        DesktopCodingThread thread(
            summary.sessionID, summary.projectID, title, DesktopCodingSession(summary.sessionID, title),
            agent, modelID, summary.access, permission, thinking, summary.allowWeb, summary.sessionID,
            trimmedOrNone(summary.upstreamThreadID), updatedAt.value_or(QDateTime::currentDateTimeUtc()));
        const qsizetype added = appendThread(std::move(thread));
        const QString addedID = m_threads[added].id;
        bindBridgeSession(summary.sessionID, addedID);
        if (!selectSession)
            return std::nullopt;
        return selectionFor(m_threads[added], true);
    }

    DesktopCodingThread &thread = m_threads[*index];
    thread.agent = agent;
    thread.modelID = modelID;
    thread.access = summary.access;
    thread.permission = permission;
    thread.thinking = thinking;
    thread.allowWeb = summary.allowWeb;
    thread.upstreamThreadID = trimmedOrNone(summary.upstreamThreadID);
    const bool movedForward = updatedAt && (!thread.updatedAt.isValid() || *updatedAt > thread.updatedAt);
    if (movedForward)
        thread.updatedAt = *updatedAt;
    threadSettingsChanged(*index);
    if (selectSession)
        return selectionFor(m_threads[*index], true);
    if (selectedThreadIndex() == *index)
        return selectionFor(m_threads[*index], false);
    return std::nullopt;
}

void DesktopCodingHarnessViewModel::applyBridgeSessionSelection(const BridgeSessionSelection &selection) {
    if (selection.selectsProjectThread) {
        setSelectedProjectID(selection.projectID);
        setSelectedThreadIDForProject(selection.projectID, selection.threadID);
    }
    setSelectedAgent(selection.agent);
    setSelectedModelID(selection.modelID);
    setSelectedAccess(selection.access);
    setSelectedPermission(selection.permission);
    setSelectedThinking(selection.thinking);
    setAllowWeb(selection.allowWeb);
    syncSessionFromSelectedThread();
}

QCoro::Task<void> DesktopCodingHarnessViewModel::subscribeToSelectedBridgeSession() {
    const DesktopCodingThread *thread = selectedThread();
    if (!thread || !thread->bridgeSessionID)
        co_return;
    const QString sessionID = *thread->bridgeSessionID;
    QPointer<DesktopCodingHarnessViewModel> self(this);
    std::exception_ptr failure;
    try {
        QCoro::Task<void> subscribing = subscribeToBridgeSessionIfNeeded(sessionID);
        co_await subscribing;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && self) {
        m_bridgeRegistry.resetConnection();
        setBridgeRefreshError(describe(failure).localized);
    }
}

QCoro::Task<void> DesktopCodingHarnessViewModel::subscribeToBridgeSessionIfNeeded(QString sessionID) {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    co_await ensureBridgeConnected();
    if (!self)
        co_return;
    const QString id = sessionID.trimmed();
    if (id.isEmpty() || !m_bridgeRegistry.shouldSubscribe(id))
        co_return;
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_bridgeClient;
    const ClientMessage subscribe{ClientMessage::SubscribeRepoSession{id}};
    QCoro::Task<void> sending = client->send(subscribe);
    co_await sending;
    if (!self)
        co_return;
    m_bridgeRegistry.markSubscribed(id);
}

// ---------------------------------------------------------------------------------------------
// Selection

void DesktopCodingHarnessViewModel::selectProject(const QString &id) {
    if (std::none_of(m_projects.begin(), m_projects.end(),
                     [&](const DesktopCodingProject &p) { return p.id == id; }))
        return;
    const DesktopCodingRuntimeMode mode = selectedRuntimeMode();
    setSelectedProjectID(id);
    ensureThreadForSelectedProject();
    applyRuntimeMode(mode);
    updateSelectedThreadSettings();
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (project && !project->allowWeb)
        setAllowWeb(false);
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::selectThread(const QString &id) {
    const std::optional<qsizetype> index = indexOfThread(id);
    if (!index)
        return;
    const DesktopCodingThread thread = m_threads[*index];
    setSelectedThreadIDForProject(thread.projectID, id);
    setSelectedProjectID(thread.projectID);
    setSelectedAgent(thread.agent);
    setSelectedModelID(thread.modelID);
    setSelectedAccess(thread.access);
    setSelectedPermission(thread.permission);
    setSelectedThinking(thread.thinking);
    setAllowWeb(thread.allowWeb);
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::startThread() {
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (!project)
        return;
    const qsizetype index = appendThread(makeThread(project->id, u"New thread"_s));
    setSelectedThreadIDForProject(project->id, m_threads[index].id);
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::ensureThreadForSelectedProject() {
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (!project || selectedThreadIndex())
        return;
    const qsizetype index = appendThread(makeThread(project->id, project->name));
    setSelectedThreadIDForProject(project->id, m_threads[index].id);
}

void DesktopCodingHarnessViewModel::selectAgent(DesktopCodingAgent agent) {
    const DesktopCodingRuntimeMode mode = selectedRuntimeMode();
    setSelectedAgent(agent);
    clampModelToSelectedAgent();
    applyRuntimeMode(mode);
    clampThinkingToOptions();
    updateSelectedThreadSettings();
}

void DesktopCodingHarnessViewModel::selectModel(const QString &id) {
    const QList<DesktopCodingModelOption> options = modelOptions();
    if (std::none_of(options.begin(), options.end(),
                     [&](const DesktopCodingModelOption &o) { return o.id == id; }))
        return;
    setSelectedModelID(id);
    clampThinkingToOptions();
    updateSelectedThreadSettings();
}

void DesktopCodingHarnessViewModel::selectThinking(DesktopCodingThinkingLevel level) {
    if (!thinkingOptions().contains(level))
        return;
    setSelectedThinking(level);
    updateSelectedThreadSettings();
}

void DesktopCodingHarnessViewModel::selectRuntimeMode(DesktopCodingRuntimeMode mode) {
    applyRuntimeMode(mode);
    updateSelectedThreadSettings();
}

void DesktopCodingHarnessViewModel::applyRuntimeMode(DesktopCodingRuntimeMode mode) {
    setSelectedAccess(access(mode, selectedProject()));
    setSelectedPermission(permission(mode, m_selectedAgent));
}

void DesktopCodingHarnessViewModel::clampModelToSelectedAgent() {
    const QList<DesktopCodingModelOption> options = modelOptions();
    const bool known = m_selectedModelID && std::any_of(options.begin(), options.end(), [&](const auto &o) {
                           return o.id == *m_selectedModelID;
                       });
    if (!known)
        setSelectedModelID(options.isEmpty() ? std::nullopt : std::optional<QString>(options.first().id));
}

void DesktopCodingHarnessViewModel::clampThinkingToOptions() {
    const QList<DesktopCodingThinkingLevel> options = thinkingOptions();
    if (!options.contains(m_selectedThinking))
        setSelectedThinking(options.isEmpty() ? DesktopCodingThinkingLevel::automatic : options.first());
}

void DesktopCodingHarnessViewModel::updateSelectedThreadSettings() {
    const std::optional<qsizetype> index = selectedThreadIndex();
    if (!index)
        return;
    DesktopCodingThread &thread = m_threads[*index];
    if (thread.agent == m_selectedAgent && thread.modelID == m_selectedModelID &&
        thread.access == m_selectedAccess && thread.permission == m_selectedPermission &&
        thread.thinking == m_selectedThinking && thread.allowWeb == m_allowWeb)
        return;
    thread.agent = m_selectedAgent;
    thread.modelID = m_selectedModelID;
    thread.access = m_selectedAccess;
    thread.permission = m_selectedPermission;
    thread.thinking = m_selectedThinking;
    thread.allowWeb = m_allowWeb;
    threadSettingsChanged(*index);
}

void DesktopCodingHarnessViewModel::syncSessionFromSelectedThread() {
    const std::optional<qsizetype> index = selectedThreadIndex();
    if (index) {
        if (m_sessionThreadIndex != index) {
            m_sessionThreadIndex = index;
            Q_EMIT sessionChanged();
        }
    } else {
        m_sessionThreadIndex.reset();
        m_detachedSession = DesktopCodingSession(makeDesktopCodingID(), QString());
        Q_EMIT sessionChanged();
    }
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
}

void DesktopCodingHarnessViewModel::publishSessionOfThread(qsizetype index) {
    if (selectedThreadIndex() != index)
        return;
    m_sessionThreadIndex = index;
    Q_EMIT sessionChanged();
    Q_EMIT derivedValuesChanged();
}

// ---------------------------------------------------------------------------------------------
// Dispatch

QCoro::Task<void> DesktopCodingHarnessViewModel::sendPrompt() {
    const DesktopCodingRequestDraft draft = currentRequestDraft();
    if (draft.prompt.isEmpty() || m_isSending)
        co_return;
    ensureThreadForSelectedProject();
    const std::optional<qsizetype> index = selectedThreadIndex();
    if (!index)
        co_return;
    const QString threadID = m_threads[*index].id;

    const std::optional<DesktopCodingProject> project = selectedProject();
    const QString projectName = project ? project->name : draft.projectID.value_or(u"selected project"_s);
    const QString projectLabel = draft.projectID.value_or(projectName);
    const QString agentName = displayName(draft.agent);

    retitleThreadIfNeeded(threadID, draft.prompt);
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::userMessage, draft.prompt),
           threadID);
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                              u"Ready to dispatch "_s + projectName + u" through "_s + agentName,
                              u"Access "_s + displayName(draft.access) + u" · permission "_s +
                                  displayName(draft.permission) + u" · "_s + displayName(draft.thinking)),
           threadID);
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::toolUse,
                              agentName + u" exec in "_s + projectLabel,
                              project ? std::optional<QString>(project->rootDisplay) : std::nullopt),
           threadID);

    publishSessionOfThread(*index);
    setPromptText(QString());
    m_inFlightThreadID = threadID;
    setIsSending(true);
    QCoro::Task<void> dispatching = dispatchToBridge(draft, threadID, projectName);
    co_await dispatching;
}

QCoro::Task<void> DesktopCodingHarnessViewModel::dispatchToBridge(DesktopCodingRequestDraft draft,
                                                                  QString threadID, QString projectName) {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_bridgeClient;
    const QString projectLabel = draft.projectID.value_or(projectName);
    std::exception_ptr failure;
    try {
        co_await ensureBridgeConnected();
        if (!self)
            co_return;
        const std::optional<qsizetype> index = indexOfThread(threadID);
        if (!index)
            co_return;
        QString sessionID;
        if (const std::optional<QString> bound = m_threads[*index].bridgeSessionID) {
            sessionID = *bound;
            QCoro::Task<void> subscribing = subscribeToBridgeSessionIfNeeded(sessionID);
            co_await subscribing;
            if (!self)
                co_return;
            append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                      u"Resuming Zad Ezarur repo session"_s, sessionID),
                   threadID);
        } else {
            const QString requestID = newWireID();
            const std::optional<ClientMessage> open = draft.openRepoSessionMessage(requestID);
            if (!open)
                throw BridgeClientError::handshakeFailed(u"missing project for repo session"_s);
            m_bridgeRegistry.recordOpenRequest(requestID, threadID);
            append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::command,
                                      u"open_repo_session "_s + projectLabel, bridgeFramePreview(*open)),
                   threadID);
            QCoro::Task<RepoSessionSummary> opening = client->openRepoSession(*open);
            const RepoSessionSummary summary = co_await opening;
            if (!self)
                co_return;
            bindBridgeSession(summary.sessionID, threadID);
            QCoro::Task<void> subscribing = subscribeToBridgeSessionIfNeeded(summary.sessionID);
            co_await subscribing;
            if (!self)
                co_return;
            sessionID = summary.sessionID;
        }
        const ClientMessage message = draft.repoMessage(sessionID, newWireID());
        append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::command,
                                  u"repo_message "_s + projectLabel, bridgeFramePreview(message)),
               threadID);
        QCoro::Task<void> sending = client->send(message);
        co_await sending;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || !self)
        co_return;
    appendFailure(threadID, u"Zad Ezarur dispatch failed"_s, failure);
    finishSendingIfNeeded(threadID);
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
            if (m_pendingSessionList && m_pendingSessionList->requestID() == list->requestID)
                finishPendingSessionList(list->requestID, BridgeSessionListResult(list->sessions));
            else
                hydrateBridgeSessions(list->sessions);
        } else if (const auto *opened = message.as<BridgeMessage::RepoSessionOpened>()) {
            if (const std::optional<QString> thread =
                    m_bridgeRegistry.takeOpenRequestThread(opened->requestID)) {
                bindBridgeSession(opened->session.sessionID, *thread);
                append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                          u"Zad Ezarur repo session opened"_s, opened->session.sessionID),
                       *thread);
            }
        } else if (const auto *event = message.as<BridgeMessage::RepoEvent>()) {
            if (const std::optional<QString> thread = threadID(event->sessionID))
                append(event->event, event->sessionID, event->sequence, *thread);
        } else if (const auto *error = message.as<BridgeMessage::RepoError>()) {
            if (error->requestID && m_pendingSessionList &&
                m_pendingSessionList->requestID() == *error->requestID) {
                finishPendingSessionList(*error->requestID,
                                         BridgeSessionListResult(std::make_exception_ptr(
                                             BridgeClientError::turnFailed(error->message))));
                return;
            }
            std::optional<QString> thread =
                error->requestID ? m_bridgeRegistry.takeOpenRequestThread(*error->requestID) : std::nullopt;
            if (!thread && error->sessionID)
                thread = threadID(*error->sessionID);
            if (!thread)
                thread = m_inFlightThreadID;
            if (!thread)
                return;
            append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed,
                                      u"Zad Ezarur repo error"_s, error->message),
                   *thread);
            finishSendingIfNeeded(*thread);
        }
        // Turn-mode status, event and result, projects, project_registered, error and pong are not ours.
    } catch (...) {
        setBridgeRefreshError(describe(std::current_exception()).localized);
    }
}

void DesktopCodingHarnessViewModel::append(const RepoSessionEvent &repoEvent, const QString &sessionID,
                                           std::uint64_t sequence, const QString &toThreadID) {
    const std::optional<qsizetype> index = indexOfThread(toThreadID);
    if (!index)
        return;
    ThreadState &state = *m_threadStates[*index];
    if (!state.projection)
        state.projection.emplace();
    if (!state.projection->ingest(repoEvent, sessionID, sequence))
        return; // seen before: the same frame never shows twice
    const QString key = RepoSessionProjection::frameKey(sessionID, sequence);
    const auto event = [&](DesktopCodingEventKind kind, QString summary, std::optional<QString> detail = {},
                           QList<DesktopCodingTurnImage> images = {}) {
        return DesktopCodingEvent(key, kind, std::move(summary), std::move(detail), std::move(images));
    };

    std::visit(
        [&](const auto &value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, RepoSessionEvent::SessionOpened>) {
                append(event(DesktopCodingEventKind::status, u"Bridge confirmed session"_s), toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::SessionUpdated>) {
                if (const std::optional<BridgeSessionSelection> selection =
                        hydrateBridgeSession(value.session, std::nullopt, false))
                    applyBridgeSessionSelection(*selection);
                QStringList settings{rawValue(value.session.access)};
                if (value.session.permissionMode)
                    settings.append(rawValue(*value.session.permissionMode));
                if (value.session.thinkingEffort)
                    settings.append(rawValue(*value.session.thinkingEffort));
                if (value.session.model)
                    settings.append(*value.session.model);
                append(event(DesktopCodingEventKind::status, u"Bridge updated runtime settings"_s,
                             settings.join(u" · "_s)),
                       toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::UserMessage>) {
                const QString shown = displayPrompt(value.prompt);
                retitleThreadIfNeeded(toThreadID, shown);
                QList<DesktopCodingTurnImage> images;
                for (const TurnImage &image : value.images)
                    images.append(DesktopCodingTurnImage(image));
                append(event(DesktopCodingEventKind::userMessage, shown, std::nullopt, std::move(images)),
                       toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Status>) {
                append(event(DesktopCodingEventKind::status, u"Bridge turn "_s + rawValue(value.state)),
                       toThreadID);
                if (value.state == TurnState::done || value.state == TurnState::cancelled)
                    finishSendingIfNeeded(toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::AssistantText>) {
                applyCoalescedAssistantText(*state.projection, value.text, toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ToolUse>) {
                append(event(DesktopCodingEventKind::toolUse, value.name), toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ApprovalRequested>) {
                appendPendingApproval(DesktopCodingPendingApproval::make(
                    sessionID, value.approvalID, value.messageID, value.method, value.summary, toThreadID,
                    key, QDateTime::currentDateTimeUtc()));
                append(event(DesktopCodingEventKind::approval, value.summary, value.method), toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::ApprovalResolved>) {
                removePendingApproval(sessionID, value.approvalID);
                append(event(DesktopCodingEventKind::status, u"Approval "_s + rawValue(value.decision)),
                       toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::CreatedFile>) {
                QStringList parts;
                for (const std::optional<QString> &part :
                     {value.file.fileName, value.file.kind, value.file.mimeType})
                    if (part && !part->trimmed().isEmpty())
                        parts.append(*part);
                append(event(DesktopCodingEventKind::createdFile, value.file.title, parts.join(u" · "_s)),
                       toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Result>) {
                retitleThreadIfNeeded(toThreadID, value.text);
                const QString text = value.text.trimmed();
                append(event(DesktopCodingEventKind::completed, text.isEmpty() ? u"Completed"_s : text,
                             value.usage ? std::optional<QString>(usageSummary(*value.usage)) : std::nullopt),
                       toThreadID);
                finishSendingIfNeeded(toThreadID);
            } else if constexpr (std::is_same_v<Case, RepoSessionEvent::Error>) {
                append(event(DesktopCodingEventKind::failed, value.message), toThreadID);
                finishSendingIfNeeded(toThreadID);
            }
        },
        repoEvent.value);
}

void DesktopCodingHarnessViewModel::applyCoalescedAssistantText(const RepoSessionProjection &from,
                                                                const QString &chunk,
                                                                const QString &toThreadID) {
    if (from.entries().isEmpty())
        return;
    const RepoSessionProjection::Entry &entry = from.entries().last();
    const auto *text = entry.event.as<RepoSessionEvent::AssistantText>();
    if (!text)
        return;
    const std::optional<qsizetype> index = indexOfThread(toThreadID);
    if (!index)
        return;
    ThreadState &state = *m_threadStates[*index];
    const auto existing = state.eventIndexByID.constFind(entry.id);
    if (existing == state.eventIndexByID.constEnd()) {
        append(DesktopCodingEvent(entry.id, DesktopCodingEventKind::assistantText, text->text), toThreadID);
        return;
    }
    if (from.lastChange() != RepoSessionProjection::Change::extended)
        return; // the text is unchanged
    updateVisibleThread();
    const qsizetype eventIndex = *existing;
    QList<DesktopCodingEvent> &events = m_threads[*index].session.events;
    DesktopCodingEvent &shown = events[eventIndex];
    DesktopCodingConversationFold::Change change;
    if (shown.summary.size() + chunk.size() == text->text.size()) {
        // The event grows in place by the chunk, as the projection's entry did.
        shown.summary.append(chunk);
        change = state.fold.assistantTextExtended(events, eventIndex, chunk);
    } else {
        shown.summary = text->text;
        state.fold.rebuild(events);
        change.reset = true;
    }
    notifyThreadEventsChanged(*index, change, false);
}

void DesktopCodingHarnessViewModel::append(DesktopCodingEvent event, const QString &toThreadID) {
    const std::optional<qsizetype> index = indexOfThread(toThreadID);
    if (!index)
        return;
    ThreadState &state = *m_threadStates[*index];
    if (state.eventIndexByID.contains(event.id))
        return;
    updateVisibleThread();
    DesktopCodingThread &thread = m_threads[*index];
    const bool wasEmpty = thread.session.events.isEmpty();
    state.eventIndexByID.insert(event.id, thread.session.events.size());
    thread.append(event);
    const DesktopCodingConversationFold::Change change = state.fold.appended(thread.session.events);
    notifyThreadEventsChanged(*index, change, true);
    if (wasEmpty)
        m_projectThreadModel->refilter();
}

void DesktopCodingHarnessViewModel::appendFailure(const QString &threadID, const QString &title,
                                                  const std::exception_ptr &failure) {
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed, title,
                              describe(failure).diagnostic),
           threadID);
}

void DesktopCodingHarnessViewModel::appendPendingApproval(DesktopCodingPendingApproval approval) {
    if (std::any_of(m_pendingApprovals.begin(), m_pendingApprovals.end(),
                    [&](const DesktopCodingPendingApproval &p) { return p.id == approval.id; }))
        return;
    m_pendingApprovalModel->beginAppend();
    m_pendingApprovals.append(std::move(approval));
    m_pendingApprovalModel->endAppend();
    Q_EMIT pendingApprovalsChanged();
}

void DesktopCodingHarnessViewModel::bindBridgeSession(const QString &sessionID, const QString &toThreadID) {
    m_bridgeRegistry.bind(sessionID, toThreadID);
    const std::optional<qsizetype> index = indexOfThread(toThreadID);
    if (!index)
        return;
    const std::optional<QString> bound = nilIfEmpty(sessionID);
    if (m_threads[*index].bridgeSessionID == bound)
        return;
    m_threads[*index].bridgeSessionID = bound;
    threadSettingsChanged(*index);
    m_projectThreadModel->refilter();
}

std::optional<QString> DesktopCodingHarnessViewModel::threadID(const QString &forBridgeSessionID) const {
    if (const std::optional<QString> mapped = m_bridgeRegistry.mappedThreadID(forBridgeSessionID))
        return mapped;
    for (const DesktopCodingThread &thread : m_threads)
        if (thread.bridgeSessionID == forBridgeSessionID)
            return thread.id;
    return std::nullopt;
}

void DesktopCodingHarnessViewModel::removePendingApproval(const QString &sessionID,
                                                          const QString &approvalID) {
    bool removed = false;
    for (qsizetype i = m_pendingApprovals.size() - 1; i >= 0; --i) {
        const DesktopCodingPendingApproval &approval = m_pendingApprovals[i];
        if (approval.sessionID == sessionID && approval.approvalID == approvalID) {
            m_pendingApprovalModel->beginRemove(i);
            m_pendingApprovals.removeAt(i);
            m_pendingApprovalModel->endRemove();
            removed = true;
        }
    }
    if (removed)
        Q_EMIT pendingApprovalsChanged();
}

void DesktopCodingHarnessViewModel::retitleThreadIfNeeded(const QString &threadID, const QString &from) {
    const std::optional<qsizetype> index = indexOfThread(threadID);
    if (!index || !m_threads[*index].retitleFromFirstPromptIfNeeded(from))
        return;
    m_threadModel->threadChanged(*index, {DesktopCodingThreadListModel::TitleRole, Qt::DisplayRole});
    Q_EMIT threadsChanged();
    publishSessionOfThread(*index);
}

void DesktopCodingHarnessViewModel::finishSendingIfNeeded(const QString &threadID) {
    if (!m_inFlightThreadID || *m_inFlightThreadID != threadID)
        return;
    m_inFlightThreadID.reset();
    setIsSending(false);
}

// ---------------------------------------------------------------------------------------------
// Stopping and approvals

QCoro::Task<void> DesktopCodingHarnessViewModel::cancelActiveRepoMessage() {
    if (!m_isSending || !m_inFlightThreadID)
        co_return;
    const QString threadID = *m_inFlightThreadID;
    const std::optional<qsizetype> index = indexOfThread(threadID);
    if (!index || !m_threads[*index].bridgeSessionID) {
        append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed,
                                  u"Zad Ezarur stop unavailable"_s, u"No repo session is active yet."_s),
               threadID);
        finishSendingIfNeeded(threadID);
        co_return;
    }
    const QString sessionID = *m_threads[*index].bridgeSessionID;
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                              u"Stopping Zad Ezarur repo turn"_s, sessionID),
           threadID);
    QPointer<DesktopCodingHarnessViewModel> self(this);
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_bridgeClient;
    std::exception_ptr failure;
    try {
        co_await ensureBridgeConnected();
        if (!self)
            co_return;
        const ClientMessage cancel{ClientMessage::CancelRepoMessage{sessionID}};
        QCoro::Task<void> sending = client->send(cancel);
        co_await sending;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || !self)
        co_return;
    appendFailure(threadID, u"Zad Ezarur stop failed"_s, failure);
    finishSendingIfNeeded(threadID);
}

QCoro::Task<void> DesktopCodingHarnessViewModel::respondToApproval(QString approvalID,
                                                                   RepoApprovalDecision decision) {
    const auto found =
        std::find_if(m_pendingApprovals.begin(), m_pendingApprovals.end(),
                     [&](const DesktopCodingPendingApproval &p) { return p.id == approvalID; });
    if (found == m_pendingApprovals.end())
        co_return;
    const DesktopCodingPendingApproval approval = *found;
    QPointer<DesktopCodingHarnessViewModel> self(this);
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_bridgeClient;
    std::exception_ptr failure;
    try {
        const ClientMessage response{
            ClientMessage::RepoApprovalResponse{approval.sessionID, approval.approvalID, decision}};
        QCoro::Task<void> sending = client->send(response);
        co_await sending;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        appendFailure(approval.threadID, u"Approval response failed"_s, failure);
        co_return;
    }
    removePendingApproval(approval.sessionID, approval.approvalID);
    append(DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                              u"Approval "_s + rawValue(decision)),
           approval.threadID);
}

std::optional<DesktopCodingPendingApproval>
DesktopCodingHarnessViewModel::pendingApproval(const QString &forEventID) const {
    for (const DesktopCodingPendingApproval &approval : m_pendingApprovals)
        if (approval.eventID == forEventID)
            return approval;
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Texts

QString DesktopCodingHarnessViewModel::displayPrompt(const QString &forBridgePrompt) {
    const QString prompt = forBridgePrompt.trimmed();
    if (const std::optional<QString> text = compiledPromptSection(u"User text"_s, prompt))
        return *text;
    if (const std::optional<QString> turn = compiledPromptSection(u"User turn"_s, prompt))
        return *turn;
    return prompt;
}

std::optional<QString> DesktopCodingHarnessViewModel::compiledPromptSection(const QString &title,
                                                                            const QString &prompt) {
    const QString marker = title + u':';
    const qsizetype start = prompt.indexOf(marker);
    if (start < 0)
        return std::nullopt;
    QString rest = prompt.mid(start + marker.size());
    if (rest.startsWith(u'\n'))
        rest.remove(0, 1);
    qsizetype end = rest.size();
    for (const QString &other : promptSectionTitles) {
        if (other == title)
            continue;
        const qsizetype at = rest.indexOf(u"\n\n"_s + other + u':');
        if (at >= 0 && at < end)
            end = at;
    }
    return nilIfEmpty(rest.left(end));
}

QString DesktopCodingHarnessViewModel::usageSummary(const TokenUsage &usage) {
    QStringList parts;
    const auto add = [&](const QString &label, const std::optional<std::uint64_t> &count) {
        if (count)
            parts.append(label + QString::number(*count));
    };
    add(u"input "_s, usage.inputTokens);
    add(u"output "_s, usage.outputTokens);
    add(u"reasoning "_s, usage.reasoningTokens);
    add(u"total "_s, usage.totalTokens);
    return parts.join(u" · "_s);
}

QString DesktopCodingHarnessViewModel::bridgeFramePreview(const ClientMessage &frame) {
    try {
        // nlohmann's default object keeps its keys sorted, so a round trip sorts them.
        const QByteArray encoded = frame.encode();
        const nlohmann::json json = nlohmann::json::parse(encoded.begin(), encoded.end());
        return QString::fromStdString(json.dump());
    } catch (...) {
        return u"Unable to encode bridge frame."_s;
    }
}

// ---------------------------------------------------------------------------------------------
// For the screen

namespace {

// Runs an operation of the view model as a task of its own; the operations themselves catch every failure.
void startDetached(QCoro::Task<void> task) {
    Q_UNUSED(task);
}

} // namespace

void DesktopCodingHarnessViewModel::requestRefreshBridgeHealth() {
    startDetached(refreshBridgeHealth());
}

void DesktopCodingHarnessViewModel::startBridgeSessionDiscovery() {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    startDetached([](QPointer<DesktopCodingHarnessViewModel> owner) -> QCoro::Task<void> {
        if (!owner)
            co_return;
        co_await owner->refreshBridgeHealth();
        if (!owner)
            co_return;
        co_await owner->runBridgeSessionDiscoveryLoop();
    }(self));
}

void DesktopCodingHarnessViewModel::requestSubscribeToSelectedBridgeSession() {
    startDetached(subscribeToSelectedBridgeSession());
}

void DesktopCodingHarnessViewModel::requestSendPrompt() {
    startDetached(sendPrompt());
}

void DesktopCodingHarnessViewModel::requestCancelActiveRepoMessage() {
    startDetached(cancelActiveRepoMessage());
}

void DesktopCodingHarnessViewModel::requestRespondToApproval(const QString &approvalID,
                                                             const QString &decision) {
    if (const std::optional<RepoApprovalDecision> parsed = fromRaw<RepoApprovalDecision>(decision))
        startDetached(respondToApproval(approvalID, *parsed));
}

void DesktopCodingHarnessViewModel::selectAgentByID(const QString &agent) {
    if (const std::optional<DesktopCodingAgent> parsed = fromRaw<DesktopCodingAgent>(agent))
        selectAgent(*parsed);
}

void DesktopCodingHarnessViewModel::selectThinkingByID(const QString &level) {
    if (const std::optional<DesktopCodingThinkingLevel> parsed = fromRaw<DesktopCodingThinkingLevel>(level))
        selectThinking(*parsed);
}

void DesktopCodingHarnessViewModel::selectRuntimeModeByID(const QString &mode) {
    if (const std::optional<DesktopCodingRuntimeMode> parsed = fromRaw<DesktopCodingRuntimeMode>(mode))
        selectRuntimeMode(*parsed);
}

void DesktopCodingHarnessViewModel::applyRuntimeModeByID(const QString &mode) {
    if (const std::optional<DesktopCodingRuntimeMode> parsed = fromRaw<DesktopCodingRuntimeMode>(mode))
        applyRuntimeMode(*parsed);
}

QVariantMap DesktopCodingHarnessViewModel::pendingApprovalForEventID(const QString &eventID) const {
    const std::optional<DesktopCodingPendingApproval> approval = pendingApproval(eventID);
    if (!approval)
        return {};
    return {{u"id"_s, approval->id},
            {u"threadID"_s, approval->threadID},
            {u"sessionID"_s, approval->sessionID},
            {u"approvalID"_s, approval->approvalID},
            {u"messageID"_s, approval->messageID},
            {u"method"_s, approval->method},
            {u"summary"_s, approval->summary},
            {u"eventID"_s, approval->eventID},
            {u"createdAt"_s, approval->createdAt}};
}

QVariantList DesktopCodingHarnessViewModel::modelOptionsFor(const QString &agent) const {
    QVariantList list;
    if (const std::optional<DesktopCodingAgent> parsed = fromRaw<DesktopCodingAgent>(agent))
        for (const DesktopCodingModelOption &option : modelOptions(*parsed, m_modelCatalog))
            list.append(modelOptionForView(option));
    return list;
}

void DesktopCodingHarnessViewModel::setSelectedAgentRaw(const QString &agent) {
    if (const std::optional<DesktopCodingAgent> parsed = fromRaw<DesktopCodingAgent>(agent))
        setSelectedAgent(*parsed);
}

void DesktopCodingHarnessViewModel::setSelectedThinkingRaw(const QString &level) {
    if (const std::optional<DesktopCodingThinkingLevel> parsed = fromRaw<DesktopCodingThinkingLevel>(level))
        setSelectedThinking(*parsed);
}

QVariantList DesktopCodingHarnessViewModel::projectsForView() const {
    QVariantList list;
    for (const DesktopCodingProject &project : m_projects)
        list.append(projectForView(project));
    return list;
}

QVariantMap DesktopCodingHarnessViewModel::modelCatalogForView() const {
    QVariantMap map;
    for (auto it = m_modelCatalog.constBegin(); it != m_modelCatalog.constEnd(); ++it) {
        QVariantList options;
        for (const DesktopCodingModelOption &option : it.value())
            options.append(modelOptionForView(option));
        map.insert(rawValue(it.key()), options);
    }
    return map;
}

QVariantMap DesktopCodingHarnessViewModel::selectedThreadIDByProjectForView() const {
    QVariantMap map;
    for (auto it = m_selectedThreadIDByProject.constBegin(); it != m_selectedThreadIDByProject.constEnd();
         ++it)
        map.insert(it.key(), it.value());
    return map;
}

QVariantMap DesktopCodingHarnessViewModel::selectedProjectForView() const {
    const std::optional<DesktopCodingProject> project = selectedProject();
    return project ? projectForView(*project) : QVariantMap();
}

int DesktopCodingHarnessViewModel::selectedThreadIndexForView() const {
    const std::optional<qsizetype> index = selectedThreadIndex();
    return index ? int(*index) : -1;
}

int DesktopCodingHarnessViewModel::visibleTurnCount() const {
    return visibleFold().turnCount();
}

QVariantList DesktopCodingHarnessViewModel::modelOptionsForView() const {
    return modelOptionsFor(rawValue(m_selectedAgent));
}

QVariantMap DesktopCodingHarnessViewModel::selectedModelForView() const {
    const std::optional<DesktopCodingModelOption> model = selectedModel();
    return model ? modelOptionForView(*model) : QVariantMap();
}

QStringList DesktopCodingHarnessViewModel::thinkingOptionsForView() const {
    QStringList list;
    for (DesktopCodingThinkingLevel level : thinkingOptions())
        list.append(rawValue(level));
    return list;
}

QStringList DesktopCodingHarnessViewModel::runtimeModeOptionsForView() const {
    QStringList list;
    for (DesktopCodingRuntimeMode mode : runtimeModeOptions())
        list.append(rawValue(mode));
    return list;
}

QVariantMap DesktopCodingHarnessViewModel::currentRequestDraftForView() const {
    const DesktopCodingRequestDraft draft = currentRequestDraft();
    return {{u"projectID"_s, draft.projectID.value_or(QString())},
            {u"agent"_s, rawValue(draft.agent)},
            {u"modelID"_s, draft.modelID.value_or(QString())},
            {u"access"_s, rawValue(draft.access)},
            {u"permission"_s, rawValue(draft.permission)},
            {u"thinking"_s, rawValue(draft.thinking)},
            {u"allowWeb"_s, draft.allowWeb},
            {u"prompt"_s, draft.prompt}};
}

} // namespace rirudez
