#pragma once

// The one object behind the conversation screen: a facade that connects its parts and publishes their state.
// The threads live in a DesktopCodingThreadStore, the composer's choices in a DesktopCodingComposerSelection,
// the link to the bridge (connect, list, hydrate, subscribe, poll) in a DesktopCodingSessionSync, turns and
// stopping in a DesktopCodingTurnDispatcher, approval requests in a DesktopCodingApprovalQueue; each frame of
// a session is translated by DesktopCodingEventTranslator. The view model keeps the project list and the
// selection of project and thread, and routes every frame the bridge client hands over.
//
// Lives on the UI thread. Every published value is a property with a change signal; the operations the screen
// calls are Q_INVOKABLE (the asynchronous ones start a task that catches every failure and writes it as a
// thread event or the refresh error line). C++ callers and tests can co_await the same operations directly.
//
// Streaming stays linear: an assistant-text chunk is appended in place to its event and to one chat row, and
// the list models hear which row changed; no session is copied per frame.

#include "DesktopBridgeSessionRegistry.h"
#include "DesktopCodingApprovalQueue.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingComposerSelection.h"
#include "DesktopCodingEventTranslator.h"
#include "DesktopCodingHarnessModels.h"
#include "DesktopCodingListModels.h"
#include "DesktopCodingProjectSelection.h"
#include "DesktopCodingSessionSync.h"
#include "DesktopCodingThreadStore.h"
#include "DesktopCodingTurnDispatcher.h"

#include "rirudez/bridgekit/BridgeClientError.h"
#include "rirudez/bridgekit/BridgeMessages.h"
#include "rirudez/bridgekit/RepoSessionProjection.h"

#include <QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace rirudez {

class DesktopCodingBridgeHealthSource;
class DesktopCodingBridgePairingSource;
class DesktopCodingBridgeSessionRecencySource;
class DesktopCodingThreadListModel;
class DesktopCodingProjectThreadsModel;
class DesktopCodingEventListModel;
class DesktopCodingPendingApprovalListModel;

class DesktopCodingHarnessViewModel : public QObject,
                                      private DesktopCodingSessionSync::Host,
                                      private DesktopCodingComposerSelection::Host {
    Q_OBJECT

    // Published state. Optional texts read as "" when absent; enumerations as their raw values.
    Q_PROPERTY(QVariantList projects READ projectsForView NOTIFY projectsChanged)
    Q_PROPERTY(QVariantMap modelCatalog READ modelCatalogForView NOTIFY modelCatalogChanged)
    Q_PROPERTY(QString selectedProjectID READ selectedProjectIDText NOTIFY selectedProjectIDChanged)
    Q_PROPERTY(
        QString selectedAgent READ selectedAgentRaw WRITE setSelectedAgentRaw NOTIFY selectedAgentChanged)
    Q_PROPERTY(QString selectedModelID READ selectedModelIDText NOTIFY selectedModelIDChanged)
    Q_PROPERTY(QString selectedAccess READ selectedAccessRaw NOTIFY selectedAccessChanged)
    Q_PROPERTY(QString selectedPermission READ selectedPermissionRaw NOTIFY selectedPermissionChanged)
    Q_PROPERTY(QString selectedThinking READ selectedThinkingRaw WRITE setSelectedThinkingRaw NOTIFY
                   selectedThinkingChanged)
    Q_PROPERTY(bool allowWeb READ allowWeb WRITE setAllowWeb NOTIFY allowWebChanged)
    Q_PROPERTY(QString promptText READ promptText WRITE setPromptText NOTIFY promptTextChanged)
    Q_PROPERTY(rirudez::DesktopCodingSession session READ session NOTIFY sessionChanged)
    Q_PROPERTY(QList<rirudez::DesktopCodingThread> threads READ threads NOTIFY threadsChanged)
    Q_PROPERTY(QVariantMap selectedThreadIDByProject READ selectedThreadIDByProjectForView NOTIFY
                   selectedThreadIDByProjectChanged)
    Q_PROPERTY(QList<rirudez::DesktopCodingPendingApproval> pendingApprovals READ pendingApprovals NOTIFY
                   pendingApprovalsChanged)
    Q_PROPERTY(QString bridgeRefreshError READ bridgeRefreshErrorText NOTIFY bridgeRefreshErrorChanged)
    Q_PROPERTY(bool isSending READ isSending NOTIFY isSendingChanged)

    // Derived values, recomputed on every read; all notify through derivedValuesChanged.
    Q_PROPERTY(QVariantMap selectedProject READ selectedProjectForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(int selectedThreadIndex READ selectedThreadIndexForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(QString visibleSessionID READ visibleSessionID NOTIFY derivedValuesChanged)
    Q_PROPERTY(QString visibleSessionTitle READ visibleSessionTitle NOTIFY derivedValuesChanged)
    Q_PROPERTY(int visibleTurnCount READ visibleTurnCount NOTIFY derivedValuesChanged)
    Q_PROPERTY(QVariantList modelOptions READ modelOptionsForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(QVariantMap selectedModel READ selectedModelForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(QStringList thinkingOptions READ thinkingOptionsForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(QStringList runtimeModeOptions READ runtimeModeOptionsForView CONSTANT)
    Q_PROPERTY(QString selectedRuntimeMode READ selectedRuntimeModeRaw NOTIFY derivedValuesChanged)
    Q_PROPERTY(QVariantMap currentRequestDraft READ currentRequestDraftForView NOTIFY derivedValuesChanged)
    Q_PROPERTY(bool canSendPrompt READ canSendPrompt NOTIFY derivedValuesChanged)
    Q_PROPERTY(bool canCancelPrompt READ canCancelPrompt NOTIFY derivedValuesChanged)

    // List models (row by row).
    Q_PROPERTY(QObject *threadModel READ threadModel CONSTANT)
    Q_PROPERTY(QObject *projectThreadModel READ projectThreadModel CONSTANT)
    Q_PROPERTY(QObject *chatEventModel READ chatEventModel CONSTANT)
    Q_PROPERTY(QObject *activityEventModel READ activityEventModel CONSTANT)
    Q_PROPERTY(QObject *pendingApprovalModel READ pendingApprovalModel CONSTANT)

    // The composer's choices, for the parts of the screen that make them (the composer, the inspector).
    Q_PROPERTY(rirudez::DesktopCodingComposerSelection *composerSelection READ composerSelection CONSTANT)

public:
    // The application passes 8 s.
    static constexpr std::uint64_t defaultSessionListTimeoutNanoseconds = 8'000'000'000ULL;
    // The screen polls every 4 s.
    static constexpr std::uint64_t defaultPollIntervalNanoseconds = 4'000'000'000ULL;

    DesktopCodingHarnessViewModel(
        QList<DesktopCodingProject> projects, DesktopCodingModelCatalog modelCatalog,
        std::shared_ptr<DesktopCodingBridgeHealthSource> bridgeHealthSource,
        std::shared_ptr<DesktopCodingBridgePairingSource> bridgePairingSource,
        std::shared_ptr<DesktopCodingBridgeSessionRecencySource> bridgeSessionRecencySource,
        std::shared_ptr<DesktopCodingBridgeClient> bridgeClient,
        std::uint64_t sessionListTimeoutNanoseconds = defaultSessionListTimeoutNanoseconds,
        QObject *parent = nullptr);
    ~DesktopCodingHarnessViewModel() override;

    static QList<DesktopCodingProject> sampleProjects();
    static DesktopCodingModelCatalog fallbackModelCatalog();

    // ---- Published state
    const QList<DesktopCodingProject> &projects() const override { return m_selection.projects(); }
    const DesktopCodingModelCatalog &modelCatalog() const { return m_composer.modelCatalog(); }
    const std::optional<QString> &selectedProjectID() const { return m_selection.selectedProjectID(); }
    DesktopCodingAgent selectedAgent() const { return m_composer.agent(); }
    const std::optional<QString> &selectedModelID() const { return m_composer.modelID(); }
    RepoAccessMode selectedAccess() const { return m_composer.access(); }
    AgentPermissionMode selectedPermission() const { return m_composer.permission(); }
    DesktopCodingThinkingLevel selectedThinking() const { return m_composer.thinking(); }
    bool allowWeb() const { return m_composer.allowWeb(); }
    const QString &promptText() const { return m_composer.promptText(); }
    // The published session: the selected thread's session as last published, or a fresh one without thread.
    const DesktopCodingSession &session() const;
    const QList<DesktopCodingThread> &threads() const { return m_store.threads(); }
    const QHash<QString, QString> &selectedThreadIDByProject() const {
        return m_selection.selectedThreadIDByProject();
    }
    const QList<DesktopCodingPendingApproval> &pendingApprovals() const { return m_approvals.approvals(); }
    const std::optional<QString> &bridgeRefreshError() const { return m_bridgeRefreshError; }
    bool isSending() const override { return m_dispatcher.isSending(); }

    // Writable from the screen; the same clamping as selectAgent and selectThinking applies.
    void setSelectedAgent(DesktopCodingAgent agent) { selectAgent(agent); }
    void setSelectedThinking(DesktopCodingThinkingLevel level) { selectThinking(level); }
    void setAllowWeb(bool allowWeb);
    void setPromptText(const QString &text) { m_composer.setPromptText(text); }

    // ---- Derived values
    std::optional<DesktopCodingProject> selectedProject() const override;
    std::optional<qsizetype> selectedThreadIndex() const override;
    const DesktopCodingThread *selectedThread() const;
    const DesktopCodingSession &visibleSession() const;
    QList<DesktopCodingThread> projectThreads() const;
    // The catalogue entry for the agent when present (even if empty), else the built-in defaults; only
    // options with vision.
    static QList<DesktopCodingModelOption> modelOptions(DesktopCodingAgent agent,
                                                        const DesktopCodingModelCatalog &catalog) {
        return DesktopCodingComposerSelection::modelOptions(agent, catalog);
    }
    QList<DesktopCodingModelOption> modelOptions() const { return m_composer.modelOptions(); }
    std::optional<DesktopCodingModelOption> selectedModel() const { return m_composer.selectedModel(); }
    QList<DesktopCodingThinkingLevel> thinkingOptions() const { return m_composer.thinkingOptions(); }
    QList<DesktopCodingRuntimeMode> runtimeModeOptions() const;
    DesktopCodingRuntimeMode selectedRuntimeMode() const { return m_composer.runtimeMode(); }
    DesktopCodingRequestDraft currentRequestDraft() const;
    bool canSendPrompt() const;
    bool canCancelPrompt() const { return m_dispatcher.canCancel(); }

    // ---- Connection and session control (awaitable; never throw)
    QCoro::Task<void> refreshBridgeHealth();
    QCoro::Task<void> refreshBridgeSessions() { return m_sync.refresh(); }
    // Calls refreshBridgeSessions() every poll interval until stopBridgeSessionDiscoveryLoop() (or until
    // `maximumPolls` polls ran, when given).
    QCoro::Task<void>
    runBridgeSessionDiscoveryLoop(std::uint64_t pollIntervalNanoseconds = defaultPollIntervalNanoseconds,
                                  std::optional<int> maximumPolls = std::nullopt) {
        return m_sync.runLoop(pollIntervalNanoseconds, maximumPolls);
    }
    void stopBridgeSessionDiscoveryLoop() { m_sync.stopLoop(); }
    // The desktop now talks to another bridge: every thread, approval and session binding of the old one
    // goes, the projects are those the view model was made with again, and a fresh thread is selected, as at
    // creation. The next refresh loads the new bridge's projects and sessions.
    void forgetBridge();
    QCoro::Task<void> subscribeToSelectedBridgeSession() { return m_sync.subscribeToSelected(); }
    void applyBridgeHealth(const BridgeHealth &health);

    // ---- Dispatch, events, approvals (awaitable; never throw)
    QCoro::Task<void> sendPrompt();
    QCoro::Task<void> cancelActiveRepoMessage() { return m_dispatcher.cancel(); }
    QCoro::Task<void> respondToApproval(QString approvalID, RepoApprovalDecision decision) {
        return m_dispatcher.respond(std::move(approvalID), decision);
    }
    std::optional<DesktopCodingPendingApproval> pendingApproval(const QString &forEventID) const {
        return m_approvals.forEvent(forEventID);
    }
    // Every frame the bridge client hands over.
    void handleBridgeMessage(const BridgeMessage &message) override;
    // Frames handed over together: their events change each thread's rows as one change.
    void handleBridgeMessages(const QList<BridgeMessage> &messages) override;

    // ---- Selection (synchronous)
    Q_INVOKABLE void selectProject(const QString &id);
    Q_INVOKABLE void selectThread(const QString &id);
    Q_INVOKABLE void startThread();
    void selectAgent(DesktopCodingAgent agent);
    void selectModel(const QString &id);
    void selectThinking(DesktopCodingThinkingLevel level);
    void selectRuntimeMode(DesktopCodingRuntimeMode mode);
    void applyRuntimeMode(DesktopCodingRuntimeMode mode);
    Q_INVOKABLE void updateSelectedThreadSettings() override;

    // ---- Texts
    static QString displayPrompt(const QString &forBridgePrompt) {
        return DesktopCodingEventTranslator::displayPrompt(forBridgePrompt);
    }
    static std::optional<QString> compiledPromptSection(const QString &title, const QString &prompt) {
        return DesktopCodingEventTranslator::compiledPromptSection(title, prompt);
    }
    static QString usageSummary(const TokenUsage &usage) {
        return DesktopCodingEventTranslator::usageSummary(usage);
    }
    static QString bridgeFramePreview(const ClientMessage &frame) {
        return DesktopCodingTurnDispatcher::bridgeFramePreview(frame);
    }

    // ---- For the screen (QML)
    Q_INVOKABLE void requestRefreshBridgeHealth();
    Q_INVOKABLE void requestRefreshBridgeSessions();
    // Asks the bridge again now: its health, then its sessions (the screen's Retry).
    Q_INVOKABLE void retryBridgeConnection();
    // refreshBridgeHealth() once, then the discovery loop every 4 s until stopBridgeSessionDiscoveryLoop().
    Q_INVOKABLE void startBridgeSessionDiscovery();
    Q_INVOKABLE void stopBridgeSessionDiscovery() { stopBridgeSessionDiscoveryLoop(); }
    Q_INVOKABLE void requestSubscribeToSelectedBridgeSession();
    Q_INVOKABLE void requestSendPrompt();
    Q_INVOKABLE void requestCancelActiveRepoMessage();
    // decision: "approved" or "denied"
    Q_INVOKABLE void requestRespondToApproval(const QString &approvalID, const QString &decision);
    // The pending approval shown by that event, or an empty map.
    Q_INVOKABLE QVariantMap pendingApprovalForEventID(const QString &eventID) const;
    Q_INVOKABLE QVariantList modelOptionsFor(const QString &agent) const;

    QObject *threadModel() const { return m_threadModel; }
    QObject *projectThreadModel() const { return m_projectThreadModel; }
    QObject *chatEventModel() const { return m_chatEventModel; }
    QObject *activityEventModel() const { return m_activityEventModel; }
    QObject *pendingApprovalModel() const { return m_pendingApprovalModel; }
    DesktopCodingComposerSelection *composerSelection() { return &m_composer; }

    // For the list models: the thread the event models show and its fold, the thread fold.
    std::optional<qsizetype> visibleThreadIndex() const { return m_visibleThreadIndex; }
    const DesktopCodingConversationFold &visibleFold() const;
    const DesktopCodingConversationFold &foldOfThread(qsizetype index) const { return m_store.fold(index); }
    // Whether the thread at that index is the selected one / is listed in projectThreads.
    bool isSelectedThreadIndex(qsizetype index) const;
    bool isListedInProjectThreads(qsizetype index) const;

    // The parts (tests and the screen's helpers read them).
    const DesktopCodingThreadStore &threadStore() const { return m_store; }
    const DesktopCodingApprovalQueue &approvalQueue() const { return m_approvals; }
    const DesktopCodingComposerSelection &composer() const { return m_composer; }

    // Introspection for tests and diagnostics.
    const DesktopBridgeSessionRegistry &bridgeRegistry() const { return m_sync.registry(); }
    bool hasPendingSessionList() const { return m_sync.hasPendingSessionList(); }
    const std::optional<QString> &inFlightThreadID() const { return m_dispatcher.inFlightThreadID(); }
    // Whether the bridge confirmed the visible thread's event as received (a prompt this desktop sent).
    bool isVisibleEventDelivered(const QString &eventID) const;
    // The number of turns (user messages) the visible thread shows.
    int visibleTurnCount() const;

Q_SIGNALS:
    void projectsChanged();
    void modelCatalogChanged();
    void selectedProjectIDChanged();
    void selectedAgentChanged();
    void selectedModelIDChanged();
    void selectedAccessChanged();
    void selectedPermissionChanged();
    void selectedThinkingChanged();
    void allowWebChanged();
    void promptTextChanged();
    void sessionChanged();
    void threadsChanged();
    void selectedThreadIDByProjectChanged();
    void pendingApprovalsChanged();
    void bridgeRefreshErrorChanged();
    void isSendingChanged();
    void derivedValuesChanged();
    // For the list models: the thread the event models show is about to change / changed; the selected thread
    // changed (selection marks and the rail's filter follow).
    void visibleThreadAboutToChange();
    void visibleThreadChanged();
    void selectedThreadMarkChanged();

private:
    // Session sync host
    void applyBridgeSessionSelection(const DesktopCodingBridgeSessionSelection &selection) override;
    bool visibleSessionShowsChat() const override { return visibleFold().chatCount() > 0; }
    void setBridgeRefreshError(const std::optional<QString> &error) override;
    std::optional<QString> inFlightBridgeSessionID() const override;

    // Frames of a repo session
    void append(const RepoSessionEvent &repoEvent, const QString &sessionID, std::uint64_t sequence,
                const QString &toThreadID);
    void append(DesktopCodingEvent event, const QString &toThreadID);

    // Selection helpers
    void ensureThreadForSelectedProject();
    void syncSessionFromSelectedThread();
    void publishSessionOfThread(qsizetype index);
    DesktopCodingThread makeThread(const QString &projectID, const QString &title) const;
    void setSelectedProjectID(const std::optional<QString> &id);
    void setSelectedThreadIDForProject(const QString &projectID, const QString &threadID);
    void publishProjects(QList<DesktopCodingProject> projects);
    // Brings the list models in line with the selection: resets the event models when the visible thread
    // changed, refreshes the rail's selection marks and filter.
    void updateVisibleThread();
    void connectParts();
    void threadEventsChanged(qsizetype index, bool newEvent);

    // QML adapters
    // refreshBridgeHealth(), then `next` while the view model is still there.
    QCoro::Task<void>
    refreshBridgeHealthThen(std::function<QCoro::Task<void>(DesktopCodingHarnessViewModel &)> next);
    QVariantList projectsForView() const;
    QVariantMap modelCatalogForView() const;
    QString selectedProjectIDText() const { return selectedProjectID().value_or(QString()); }
    QString selectedAgentRaw() const { return rawValue(selectedAgent()); }
    void setSelectedAgentRaw(const QString &agent) { m_composer.chooseAgentByID(agent); }
    QString selectedModelIDText() const { return selectedModelID().value_or(QString()); }
    QString selectedAccessRaw() const { return rawValue(selectedAccess()); }
    QString selectedPermissionRaw() const { return rawValue(selectedPermission()); }
    QString selectedThinkingRaw() const { return rawValue(selectedThinking()); }
    void setSelectedThinkingRaw(const QString &level) { m_composer.chooseThinkingByID(level); }
    QVariantMap selectedThreadIDByProjectForView() const;
    QString bridgeRefreshErrorText() const { return m_bridgeRefreshError.value_or(QString()); }
    QVariantMap selectedProjectForView() const;
    int selectedThreadIndexForView() const;
    QString visibleSessionID() const { return visibleSession().id; }
    QString visibleSessionTitle() const { return visibleSession().title; }
    QVariantList modelOptionsForView() const { return m_composer.modelOptionsForView(); }
    QVariantMap selectedModelForView() const { return m_composer.selectedModelForView(); }
    QStringList thinkingOptionsForView() const { return m_composer.thinkingOptionsForView(); }
    QStringList runtimeModeOptionsForView() const;
    QString selectedRuntimeModeRaw() const { return rawValue(selectedRuntimeMode()); }
    QVariantMap currentRequestDraftForView() const;

    std::shared_ptr<DesktopCodingBridgeHealthSource> m_bridgeHealthSource;
    std::shared_ptr<DesktopCodingBridgeClient> m_bridgeClient;

    // The parts, in the order they depend on each other.
    DesktopCodingThreadStore m_store;
    DesktopCodingApprovalQueue m_approvals;
    DesktopCodingComposerSelection m_composer;
    DesktopCodingSessionSync m_sync;
    DesktopCodingTurnDispatcher m_dispatcher;

    // Published state of the facade itself
    DesktopCodingProjectSelection m_selection;
    QList<DesktopCodingProject> m_initialProjects; // what forgetBridge() starts over with
    // `session` is either the session of a thread (by index; threads only go all at once, in forgetBridge) or
    // a detached one.
    std::optional<qsizetype> m_sessionThreadIndex;
    DesktopCodingSession m_detachedSession;
    std::optional<QString> m_bridgeRefreshError;
    std::optional<qsizetype> m_visibleThreadIndex; // the thread the event models show
    int m_announcedTurnCount = 0;                  // of the visible thread, as derivedValuesChanged told
    std::optional<qsizetype> m_selectedThreadSeen; // the selected thread the thread models last showed

    // List models
    DesktopCodingThreadListModel *m_threadModel = nullptr;
    DesktopCodingProjectThreadsModel *m_projectThreadModel = nullptr;
    DesktopCodingEventListModel *m_chatEventModel = nullptr;
    DesktopCodingEventListModel *m_activityEventModel = nullptr;
    DesktopCodingPendingApprovalListModel *m_pendingApprovalModel = nullptr;
};

} // namespace rirudez
