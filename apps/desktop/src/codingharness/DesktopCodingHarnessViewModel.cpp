// The coding view model: creation, published and derived values, the selection of project and thread, and
// sending. The side facing the bridge is in DesktopCodingHarnessViewModelBridge.cpp, the side facing QML in
// DesktopCodingHarnessViewModelQml.cpp; the work itself is done by its parts (see the header).
#include "DesktopCodingHarnessViewModel.h"

#include "DesktopCodingBridgeHealthSource.h"
#include "DesktopCodingListModels.h"
#include "DesktopCodingTaskFailure.h"

#include <QVariantMap>

#include <algorithm>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

std::optional<DesktopCodingProject> firstOf(const QList<DesktopCodingProject> &projects) {
    return projects.isEmpty() ? std::nullopt : std::optional(projects.first());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Creation

DesktopCodingHarnessViewModel::DesktopCodingHarnessViewModel(
    QList<DesktopCodingProject> projects, DesktopCodingModelCatalog modelCatalog,
    std::shared_ptr<DesktopCodingBridgeHealthSource> bridgeHealthSource,
    std::shared_ptr<DesktopCodingBridgePairingSource> bridgePairingSource,
    std::shared_ptr<DesktopCodingBridgeSessionRecencySource> bridgeSessionRecencySource,
    std::shared_ptr<DesktopCodingBridgeClient> bridgeClient, std::uint64_t sessionListTimeoutNanoseconds,
    QObject *parent)
    : QObject(parent), m_bridgeHealthSource(std::move(bridgeHealthSource)), m_bridgeClient(bridgeClient),
      m_composer(*this, std::move(modelCatalog), firstOf(projects)),
      m_sync(*this, m_store, std::move(bridgePairingSource), std::move(bridgeSessionRecencySource),
             bridgeClient, sessionListTimeoutNanoseconds),
      m_dispatcher(m_store, m_approvals, m_sync, bridgeClient), m_selection(projects),
      m_initialProjects(std::move(projects)) {
    const DesktopCodingProject *first = m_initialProjects.isEmpty() ? nullptr : &m_initialProjects.first();
    if (first)
        m_selection.setSelectedProjectID(first->id);
    m_detachedSession = DesktopCodingSession(makeDesktopCodingID(), first ? first->name : QString());

    // The models observe the parts; created first, they hear every change before the facade re-announces it.
    m_threadModel = new DesktopCodingThreadListModel(this, this);
    m_projectThreadModel = new DesktopCodingProjectThreadsModel(this, m_threadModel, this);
    m_chatEventModel = new DesktopCodingEventListModel(this, DesktopCodingEventListModel::Part::chat, this);
    m_activityEventModel =
        new DesktopCodingEventListModel(this, DesktopCodingEventListModel::Part::activity, this);
    m_pendingApprovalModel = new DesktopCodingPendingApprovalListModel(&m_approvals, this);
    connectParts();

    if (first) {
        const DesktopCodingComposerSettings &settings = m_composer.settings();
        DesktopCodingThread thread(makeDesktopCodingID(), first->id, first->name, m_detachedSession,
                                   settings.agent, settings.modelID, settings.access, settings.permission,
                                   settings.thinking, settings.allowWeb);
        const qsizetype index = m_store.append(std::move(thread));
        m_selection.setSelectedThreadID(first->id, m_store.at(index).id);
        m_sessionThreadIndex = index;
    }
    updateVisibleThread();
}

DesktopCodingHarnessViewModel::~DesktopCodingHarnessViewModel() {
    if (m_bridgeClient)
        m_bridgeClient->setOnMessage(nullptr);
}

void DesktopCodingHarnessViewModel::connectParts() {
    using VM = DesktopCodingHarnessViewModel;
    const auto announceDerived = [this] { Q_EMIT derivedValuesChanged(); };

    // Composer
    connect(&m_composer, &DesktopCodingComposerSelection::modelCatalogChanged, this,
            &VM::modelCatalogChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::agentChanged, this, &VM::selectedAgentChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::modelIDChanged, this, &VM::selectedModelIDChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::accessChanged, this, &VM::selectedAccessChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::permissionChanged, this,
            &VM::selectedPermissionChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::thinkingChanged, this,
            &VM::selectedThinkingChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::allowWebChanged, this, &VM::allowWebChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::promptTextChanged, this, &VM::promptTextChanged);
    connect(&m_composer, &DesktopCodingComposerSelection::changed, this, announceDerived);

    // Sending state, approvals
    connect(&m_dispatcher, &DesktopCodingTurnDispatcher::isSendingChanged, this, [this] {
        Q_EMIT isSendingChanged();
        Q_EMIT derivedValuesChanged();
    });
    connect(&m_approvals, &DesktopCodingApprovalQueue::changed, this, &VM::pendingApprovalsChanged);

    // Threads
    connect(&m_store, &DesktopCodingThreadStore::threadAppended, this, [this] {
        Q_EMIT threadsChanged();
        Q_EMIT derivedValuesChanged();
        updateVisibleThread();
    });
    connect(&m_store, &DesktopCodingThreadStore::threadChanged, this, [this] {
        Q_EMIT threadsChanged();
        Q_EMIT derivedValuesChanged();
    });
    connect(&m_store, &DesktopCodingThreadStore::threadRetitled, this, [this](qsizetype index) {
        Q_EMIT threadsChanged();
        publishSessionOfThread(index);
    });
    connect(&m_store, &DesktopCodingThreadStore::eventsAboutToChange, this,
            [this] { updateVisibleThread(); });
    connect(&m_store, &DesktopCodingThreadStore::eventsChanged, this,
            [this](qsizetype index, const DesktopCodingConversationFold::Change &, bool newEvent) {
                threadEventsChanged(index, newEvent);
            });
}

void DesktopCodingHarnessViewModel::threadEventsChanged(qsizetype index, bool newEvent) {
    Q_EMIT threadsChanged();
    if (selectedThreadIndex() == index) {
        m_sessionThreadIndex = index;
        Q_EMIT sessionChanged();
    }
    // Of the derived values only the visible turn count follows the events, and only a user message changes
    // it. Announcing every event would have views re-read every derived value (model lists, the request
    // draft) for each of the thousands of events a replay brings.
    if (newEvent && m_visibleThreadIndex == index) {
        const int turns = m_store.fold(index).turnCount();
        if (turns != m_announcedTurnCount) {
            m_announcedTurnCount = turns;
            Q_EMIT derivedValuesChanged();
        }
    }
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
    if (m_sessionThreadIndex && *m_sessionThreadIndex < m_store.size())
        return m_store.at(*m_sessionThreadIndex).session;
    return m_detachedSession;
}

void DesktopCodingHarnessViewModel::setAllowWeb(bool allowWeb) {
    m_composer.setAllowWeb(allowWeb);
}

void DesktopCodingHarnessViewModel::setSelectedProjectID(const std::optional<QString> &id) {
    if (!m_selection.setSelectedProjectID(id))
        return;
    Q_EMIT selectedProjectIDChanged();
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
}

void DesktopCodingHarnessViewModel::setSelectedThreadIDForProject(const QString &projectID,
                                                                  const QString &threadID) {
    if (!m_selection.setSelectedThreadID(projectID, threadID))
        return;
    Q_EMIT selectedThreadIDByProjectChanged();
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
}

void DesktopCodingHarnessViewModel::setBridgeRefreshError(const std::optional<QString> &error) {
    if (m_bridgeRefreshError == error)
        return;
    if (error)
        qCInfo(lcDesktopCoding).noquote() << "the bridge cannot be refreshed:" << *error;
    else
        qCInfo(lcDesktopCoding) << "the bridge answers again";
    m_bridgeRefreshError = error;
    Q_EMIT bridgeRefreshErrorChanged();
}

void DesktopCodingHarnessViewModel::publishProjects(QList<DesktopCodingProject> projects) {
    if (!m_selection.setProjects(std::move(projects)))
        return;
    Q_EMIT projectsChanged();
    Q_EMIT derivedValuesChanged();
    updateVisibleThread();
}

// ---------------------------------------------------------------------------------------------
// Derived values

std::optional<DesktopCodingProject> DesktopCodingHarnessViewModel::selectedProject() const {
    return m_selection.selectedProject();
}

std::optional<qsizetype> DesktopCodingHarnessViewModel::selectedThreadIndex() const {
    return m_selection.selectedThreadIndex(m_store.threads());
}

const DesktopCodingThread *DesktopCodingHarnessViewModel::selectedThread() const {
    const std::optional<qsizetype> index = selectedThreadIndex();
    return index ? &m_store.at(*index) : nullptr;
}

const DesktopCodingSession &DesktopCodingHarnessViewModel::visibleSession() const {
    const DesktopCodingThread *thread = selectedThread();
    return thread ? thread->session : session();
}

bool DesktopCodingHarnessViewModel::isSelectedThreadIndex(qsizetype index) const {
    return selectedThreadIndex() == index;
}

bool DesktopCodingHarnessViewModel::isListedInProjectThreads(qsizetype index) const {
    return m_selection.isListed(index, m_store.threads());
}

QList<DesktopCodingThread> DesktopCodingHarnessViewModel::projectThreads() const {
    return m_selection.projectThreads(m_store.threads());
}

QList<DesktopCodingRuntimeMode> DesktopCodingHarnessViewModel::runtimeModeOptions() const {
    return {allDesktopCodingRuntimeModes.begin(), allDesktopCodingRuntimeModes.end()};
}

DesktopCodingRequestDraft DesktopCodingHarnessViewModel::currentRequestDraft() const {
    DesktopCodingRequestDraft draft;
    if (const std::optional<DesktopCodingProject> project = selectedProject())
        draft.projectID = project->id;
    draft.agent = selectedAgent();
    if (const std::optional<DesktopCodingModelOption> model = selectedModel())
        draft.modelID = model->id;
    draft.access = selectedAccess();
    draft.permission = selectedPermission();
    draft.thinking = selectedThinking();
    draft.allowWeb = allowWeb();
    draft.prompt = promptText().trimmed();
    return draft;
}

bool DesktopCodingHarnessViewModel::canSendPrompt() const {
    return !isSending() && !promptText().trimmed().isEmpty() && selectedProject().has_value();
}

// ---------------------------------------------------------------------------------------------
// The visible thread and the list models

DesktopCodingThread DesktopCodingHarnessViewModel::makeThread(const QString &projectID,
                                                              const QString &title) const {
    const QString id = makeDesktopCodingID();
    const DesktopCodingComposerSettings &settings = m_composer.settings();
    return DesktopCodingThread(id, projectID, title, DesktopCodingSession(id, title), settings.agent,
                               settings.modelID, settings.access, settings.permission, settings.thinking,
                               settings.allowWeb);
}

void DesktopCodingHarnessViewModel::updateVisibleThread() {
    const std::optional<qsizetype> selected = selectedThreadIndex();
    const std::optional<qsizetype> visible = selected ? selected : m_sessionThreadIndex;
    if (visible != m_visibleThreadIndex) {
        Q_EMIT visibleThreadAboutToChange();
        m_visibleThreadIndex = visible;
        m_announcedTurnCount = visibleFold().turnCount();
        Q_EMIT visibleThreadChanged();
    }
    if (selected != m_selectedThreadSeen) {
        m_selectedThreadSeen = selected;
        Q_EMIT selectedThreadMarkChanged();
    }
}

const DesktopCodingConversationFold &DesktopCodingHarnessViewModel::visibleFold() const {
    static const DesktopCodingConversationFold empty;
    if (m_visibleThreadIndex && *m_visibleThreadIndex < m_store.size())
        return m_store.fold(*m_visibleThreadIndex);
    return empty;
}

// ---------------------------------------------------------------------------------------------
// Selection

void DesktopCodingHarnessViewModel::applyBridgeSessionSelection(
    const DesktopCodingBridgeSessionSelection &selection) {
    if (selection.selectsProjectThread) {
        setSelectedProjectID(selection.projectID);
        setSelectedThreadIDForProject(selection.projectID, selection.threadID);
    }
    m_composer.adopt(selection.settings);
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::selectProject(const QString &id) {
    if (!m_selection.contains(id))
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
    const std::optional<qsizetype> index = m_store.indexOf(id);
    if (!index)
        return;
    const DesktopCodingThread thread = m_store.at(*index);
    setSelectedThreadIDForProject(thread.projectID, id);
    setSelectedProjectID(thread.projectID);
    m_composer.adopt(DesktopCodingComposerSettings::of(thread));
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::startThread() {
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (!project)
        return;
    const qsizetype index = m_store.append(makeThread(project->id, u"New thread"_s));
    setSelectedThreadIDForProject(project->id, m_store.at(index).id);
    syncSessionFromSelectedThread();
}

void DesktopCodingHarnessViewModel::ensureThreadForSelectedProject() {
    const std::optional<DesktopCodingProject> project = selectedProject();
    if (!project || selectedThreadIndex())
        return;
    const qsizetype index = m_store.append(makeThread(project->id, project->name));
    setSelectedThreadIDForProject(project->id, m_store.at(index).id);
}

void DesktopCodingHarnessViewModel::selectAgent(DesktopCodingAgent agent) {
    m_composer.chooseAgent(agent);
}

void DesktopCodingHarnessViewModel::selectModel(const QString &id) {
    m_composer.chooseModel(id);
}

void DesktopCodingHarnessViewModel::selectThinking(DesktopCodingThinkingLevel level) {
    m_composer.chooseThinking(level);
}

void DesktopCodingHarnessViewModel::selectRuntimeMode(DesktopCodingRuntimeMode mode) {
    m_composer.chooseRuntimeMode(mode);
}

void DesktopCodingHarnessViewModel::applyRuntimeMode(DesktopCodingRuntimeMode mode) {
    m_composer.applyRuntimeMode(mode, selectedProject());
}

void DesktopCodingHarnessViewModel::updateSelectedThreadSettings() {
    const std::optional<qsizetype> index = selectedThreadIndex();
    if (!index)
        return;
    const DesktopCodingComposerSettings settings = m_composer.settings();
    m_store.update(*index, [&](DesktopCodingThread &thread) { settings.applyTo(thread); });
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
// Sending

QCoro::Task<void> DesktopCodingHarnessViewModel::sendPrompt() {
    const DesktopCodingRequestDraft draft = currentRequestDraft();
    if (draft.prompt.isEmpty() || isSending())
        co_return;
    ensureThreadForSelectedProject();
    const std::optional<qsizetype> index = selectedThreadIndex();
    if (!index)
        co_return;
    const QString threadID = m_store.at(*index).id;

    const std::optional<DesktopCodingProject> project = selectedProject();
    const QString projectName = project ? project->name : draft.projectID.value_or(u"selected project"_s);

    m_store.retitle(*index, draft.prompt);
    const QString promptEventID = m_dispatcher.writeOpening(draft, threadID, project, projectName);
    publishSessionOfThread(*index);
    setPromptText(QString());
    m_dispatcher.begin(threadID, promptEventID);
    QCoro::Task<void> dispatching = m_dispatcher.dispatch(draft, threadID, projectName);
    co_await dispatching;
}

std::optional<QString> DesktopCodingHarnessViewModel::inFlightBridgeSessionID() const {
    const std::optional<QString> &threadID = m_dispatcher.inFlightThreadID();
    const std::optional<qsizetype> index = threadID ? m_store.indexOf(*threadID) : std::nullopt;
    return index ? m_store.at(*index).bridgeSessionID : std::nullopt;
}

bool DesktopCodingHarnessViewModel::isVisibleEventDelivered(const QString &eventID) const {
    return m_visibleThreadIndex && *m_visibleThreadIndex < m_store.size() &&
           m_store.isDelivered(*m_visibleThreadIndex, eventID);
}

} // namespace rirudez
