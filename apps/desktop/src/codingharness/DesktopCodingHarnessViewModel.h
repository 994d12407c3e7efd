#pragma once

// The one object behind the conversation screen. It keeps the project list, the model catalogue, the user's
// current choices, the desktop's conversation threads and the link to one Zad Ezarur: it connects on demand,
// mirrors the bridge's repo sessions into threads, sends prompts as repo messages, writes every streamed
// event of a turn into its thread, keeps and answers approval requests, and stops turns.
//
// Lives on the UI thread. Every published value is a property with a change signal; the operations the screen
// calls are Q_INVOKABLE (the asynchronous ones start a task that catches every failure and writes it as a
// thread event or the refresh error line). C++ callers and tests can co_await the same operations directly.
//
// Streaming stays linear: an assistant-text chunk is appended in place to its event and to one chat row, and
// the list models hear which row changed; no session is copied per frame.

#include "DesktopBridgeSessionMirror.h"
#include "DesktopBridgeSessionRegistry.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingHarnessModels.h"
#include "DesktopCodingListModels.h"

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

// A session-list request that got no answer in time.
class DesktopCodingBridgeSessionListTimeoutError final : public BridgeKitError {
public:
    DesktopCodingBridgeSessionListTimeoutError();
    // "DesktopCodingBridgeSessionListTimeoutError"
    QString diagnosticText() const override;
    // "Timed out waiting for Zad Ezarur repo sessions."
    QString localizedDescription() const override;
};

class DesktopCodingHarnessViewModel : public QObject {
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
    const QList<DesktopCodingProject> &projects() const { return m_projects; }
    const DesktopCodingModelCatalog &modelCatalog() const { return m_modelCatalog; }
    const std::optional<QString> &selectedProjectID() const { return m_selectedProjectID; }
    DesktopCodingAgent selectedAgent() const { return m_selectedAgent; }
    const std::optional<QString> &selectedModelID() const { return m_selectedModelID; }
    RepoAccessMode selectedAccess() const { return m_selectedAccess; }
    AgentPermissionMode selectedPermission() const { return m_selectedPermission; }
    DesktopCodingThinkingLevel selectedThinking() const { return m_selectedThinking; }
    bool allowWeb() const { return m_allowWeb; }
    const QString &promptText() const { return m_promptText; }
    // The published session: the selected thread's session as last published, or a fresh one without thread.
    const DesktopCodingSession &session() const;
    const QList<DesktopCodingThread> &threads() const { return m_threads; }
    const QHash<QString, QString> &selectedThreadIDByProject() const { return m_selectedThreadIDByProject; }
    const QList<DesktopCodingPendingApproval> &pendingApprovals() const { return m_pendingApprovals; }
    const std::optional<QString> &bridgeRefreshError() const { return m_bridgeRefreshError; }
    bool isSending() const { return m_isSending; }

    // Writable from the screen (a binding writes them directly, without the clamping of selectAgent and
    // selectThinking).
    void setSelectedAgent(DesktopCodingAgent agent);
    void setSelectedThinking(DesktopCodingThinkingLevel level);
    void setAllowWeb(bool allowWeb);
    void setPromptText(const QString &text);

    // ---- Derived values
    std::optional<DesktopCodingProject> selectedProject() const;
    std::optional<qsizetype> selectedThreadIndex() const;
    const DesktopCodingThread *selectedThread() const;
    const DesktopCodingSession &visibleSession() const;
    QList<DesktopCodingThread> projectThreads() const;
    // The catalogue entry for the agent when present (even if empty), else the built-in defaults; only
    // options with vision.
    static QList<DesktopCodingModelOption> modelOptions(DesktopCodingAgent agent,
                                                        const DesktopCodingModelCatalog &catalog);
    QList<DesktopCodingModelOption> modelOptions() const;
    std::optional<DesktopCodingModelOption> selectedModel() const;
    QList<DesktopCodingThinkingLevel> thinkingOptions() const;
    QList<DesktopCodingRuntimeMode> runtimeModeOptions() const;
    DesktopCodingRuntimeMode selectedRuntimeMode() const;
    DesktopCodingRequestDraft currentRequestDraft() const;
    bool canSendPrompt() const;
    bool canCancelPrompt() const;

    // ---- Connection and session control (awaitable; never throw)
    QCoro::Task<void> refreshBridgeHealth();
    QCoro::Task<void> refreshBridgeSessions();
    // Calls refreshBridgeSessions() every poll interval until stopBridgeSessionDiscoveryLoop() (or until
    // `maximumPolls` polls ran, when given).
    QCoro::Task<void>
    runBridgeSessionDiscoveryLoop(std::uint64_t pollIntervalNanoseconds = defaultPollIntervalNanoseconds,
                                  std::optional<int> maximumPolls = std::nullopt);
    void stopBridgeSessionDiscoveryLoop();
    QCoro::Task<void> subscribeToSelectedBridgeSession();
    void applyBridgeHealth(const BridgeHealth &health);

    // ---- Dispatch, events, approvals (awaitable; never throw)
    QCoro::Task<void> sendPrompt();
    QCoro::Task<void> cancelActiveRepoMessage();
    QCoro::Task<void> respondToApproval(QString approvalID, RepoApprovalDecision decision);
    std::optional<DesktopCodingPendingApproval> pendingApproval(const QString &forEventID) const;
    // Every frame the bridge client hands over.
    void handleBridgeMessage(const BridgeMessage &message);

    // ---- Selection (synchronous)
    Q_INVOKABLE void selectProject(const QString &id);
    Q_INVOKABLE void selectThread(const QString &id);
    Q_INVOKABLE void startThread();
    void selectAgent(DesktopCodingAgent agent);
    void selectModel(const QString &id);
    void selectThinking(DesktopCodingThinkingLevel level);
    void selectRuntimeMode(DesktopCodingRuntimeMode mode);
    void applyRuntimeMode(DesktopCodingRuntimeMode mode);
    Q_INVOKABLE void updateSelectedThreadSettings();

    // ---- Texts
    // The "User text" section of a sectioned prompt, else its "User turn" section, else the trimmed prompt.
    static QString displayPrompt(const QString &forBridgePrompt);
    static std::optional<QString> compiledPromptSection(const QString &title, const QString &prompt);
    // "input 1200 · output 300 · total 1500": input, output, reasoning and total counts that are present.
    static QString usageSummary(const TokenUsage &usage);
    // The frame as JSON with sorted keys, or "Unable to encode bridge frame.".
    static QString bridgeFramePreview(const ClientMessage &frame);

    // ---- For the screen (QML)
    Q_INVOKABLE void requestRefreshBridgeHealth();
    // refreshBridgeHealth() once, then the discovery loop every 4 s until stopBridgeSessionDiscoveryLoop().
    Q_INVOKABLE void startBridgeSessionDiscovery();
    Q_INVOKABLE void stopBridgeSessionDiscovery() { stopBridgeSessionDiscoveryLoop(); }
    Q_INVOKABLE void requestSubscribeToSelectedBridgeSession();
    Q_INVOKABLE void requestSendPrompt();
    Q_INVOKABLE void requestCancelActiveRepoMessage();
    // decision: "approved" or "denied"
    Q_INVOKABLE void requestRespondToApproval(const QString &approvalID, const QString &decision);
    Q_INVOKABLE void selectAgentByID(const QString &agent);
    Q_INVOKABLE void selectModelByID(const QString &id) { selectModel(id); }
    Q_INVOKABLE void selectThinkingByID(const QString &level);
    Q_INVOKABLE void selectRuntimeModeByID(const QString &mode);
    Q_INVOKABLE void applyRuntimeModeByID(const QString &mode);
    // The pending approval shown by that event, or an empty map.
    Q_INVOKABLE QVariantMap pendingApprovalForEventID(const QString &eventID) const;
    Q_INVOKABLE QVariantList modelOptionsFor(const QString &agent) const;

    QObject *threadModel() const;
    QObject *projectThreadModel() const;
    QObject *chatEventModel() const;
    QObject *activityEventModel() const;
    QObject *pendingApprovalModel() const;

    // For the list models: the fold of the visible session (chat and activity rows) and the thread fold.
    const DesktopCodingConversationFold &visibleFold() const;
    const DesktopCodingConversationFold &foldOfThread(qsizetype index) const;
    // Whether the thread at that index is the selected one / is listed in projectThreads.
    bool isSelectedThreadIndex(qsizetype index) const;
    bool isListedInProjectThreads(qsizetype index) const;

    // Introspection for tests and diagnostics.
    const DesktopBridgeSessionRegistry &bridgeRegistry() const { return m_bridgeRegistry; }
    bool hasPendingSessionList() const { return m_pendingSessionList != nullptr; }
    const std::optional<QString> &inFlightThreadID() const { return m_inFlightThreadID; }

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

private:
    struct ThreadState;
    struct BridgeSessionSelection {
        bool selectsProjectThread = false;
        QString projectID;
        QString threadID;
        DesktopCodingAgent agent = DesktopCodingAgent::codex;
        std::optional<QString> modelID;
        RepoAccessMode access = RepoAccessMode::ask;
        AgentPermissionMode permission = AgentPermissionMode::ask;
        DesktopCodingThinkingLevel thinking = DesktopCodingThinkingLevel::automatic;
        bool allowWeb = false;
    };

    // Connection
    QCoro::Task<void> ensureBridgeConnected();
    QCoro::Task<void> subscribeToBridgeSessionIfNeeded(QString sessionID);
    void finishPendingSessionList(const QString &requestID, BridgeSessionListResult result);
    void hydrateBridgeSessions(const QList<RepoSessionSummary> &sessions);
    std::optional<BridgeSessionSelection> hydrateBridgeSession(const RepoSessionSummary &summary,
                                                               const std::optional<QDateTime> &updatedAt,
                                                               bool selectSession);
    void applyBridgeSessionSelection(const BridgeSessionSelection &selection);

    // Dispatch and events
    QCoro::Task<void> dispatchToBridge(DesktopCodingRequestDraft draft, QString threadID,
                                       QString projectName);
    void append(const RepoSessionEvent &repoEvent, const QString &sessionID, std::uint64_t sequence,
                const QString &toThreadID);
    void applyCoalescedAssistantText(const RepoSessionProjection &from, const QString &chunk,
                                     const QString &toThreadID);
    void append(DesktopCodingEvent event, const QString &toThreadID);
    void bindBridgeSession(const QString &sessionID, const QString &toThreadID);
    std::optional<QString> threadID(const QString &forBridgeSessionID) const;
    void removePendingApproval(const QString &sessionID, const QString &approvalID);
    void retitleThreadIfNeeded(const QString &threadID, const QString &from);
    void finishSendingIfNeeded(const QString &threadID);

    // Selection helpers
    void ensureThreadForSelectedProject();
    void clampModelToSelectedAgent();
    void clampThinkingToOptions();
    void syncSessionFromSelectedThread();
    void publishSessionOfThread(qsizetype index);
    qsizetype appendThread(DesktopCodingThread thread);
    std::optional<qsizetype> indexOfThread(const QString &id) const;
    DesktopCodingThread makeThread(const QString &projectID, const QString &title) const;

    // Field setters that notify only on change
    void setSelectedProjectID(const std::optional<QString> &id);
    void setSelectedModelID(const std::optional<QString> &id);
    void setSelectedAccess(RepoAccessMode access);
    void setSelectedPermission(AgentPermissionMode permission);
    void setSelectedThreadIDForProject(const QString &projectID, const QString &threadID);
    template <typename Member, typename Value>
    bool assign(Member &member, Value &&value, void (DesktopCodingHarnessViewModel::*changed)(),
                bool announceDerived = true);
    void setBridgeRefreshError(const std::optional<QString> &error);
    void setIsSending(bool sending);
    void threadSettingsChanged(qsizetype index);
    // Brings the list models in line with the selection: resets the event models when the visible thread
    // changed, refreshes the rail's selection marks and filter.
    void updateVisibleThread();
    void publishModelCatalog(DesktopCodingModelCatalog catalog);
    void publishProjects(QList<DesktopCodingProject> projects);
    // Appends a failed event titled `title` whose detail is the failure's diagnostic text.
    void appendFailure(const QString &threadID, const QString &title, const std::exception_ptr &failure);
    void appendPendingApproval(DesktopCodingPendingApproval approval);
    void notifyThreadEventsChanged(qsizetype index, const DesktopCodingConversationFold::Change &change,
                                   bool newEvent);

    // QML adapters
    QVariantList projectsForView() const;
    QVariantMap modelCatalogForView() const;
    QString selectedProjectIDText() const { return m_selectedProjectID.value_or(QString()); }
    QString selectedAgentRaw() const { return rawValue(m_selectedAgent); }
    void setSelectedAgentRaw(const QString &agent);
    QString selectedModelIDText() const { return m_selectedModelID.value_or(QString()); }
    QString selectedAccessRaw() const { return rawValue(m_selectedAccess); }
    QString selectedPermissionRaw() const { return rawValue(m_selectedPermission); }
    QString selectedThinkingRaw() const { return rawValue(m_selectedThinking); }
    void setSelectedThinkingRaw(const QString &level);
    QVariantMap selectedThreadIDByProjectForView() const;
    QString bridgeRefreshErrorText() const { return m_bridgeRefreshError.value_or(QString()); }
    QVariantMap selectedProjectForView() const;
    int selectedThreadIndexForView() const;
    QString visibleSessionID() const { return visibleSession().id; }
    QString visibleSessionTitle() const { return visibleSession().title; }
    int visibleTurnCount() const;
    QVariantList modelOptionsForView() const;
    QVariantMap selectedModelForView() const;
    QStringList thinkingOptionsForView() const;
    QStringList runtimeModeOptionsForView() const;
    QString selectedRuntimeModeRaw() const { return rawValue(selectedRuntimeMode()); }
    QVariantMap currentRequestDraftForView() const;

    // Collaborators
    std::shared_ptr<DesktopCodingBridgeHealthSource> m_bridgeHealthSource;
    std::shared_ptr<DesktopCodingBridgePairingSource> m_bridgePairingSource;
    std::shared_ptr<DesktopCodingBridgeSessionRecencySource> m_bridgeSessionRecencySource;
    std::shared_ptr<DesktopCodingBridgeClient> m_bridgeClient;
    std::uint64_t m_sessionListTimeoutNanoseconds;
    DesktopBridgeSessionRegistry m_bridgeRegistry;

    // Published state
    QList<DesktopCodingProject> m_projects;
    DesktopCodingModelCatalog m_modelCatalog;
    std::optional<QString> m_selectedProjectID;
    DesktopCodingAgent m_selectedAgent = DesktopCodingAgent::codex;
    std::optional<QString> m_selectedModelID;
    RepoAccessMode m_selectedAccess = RepoAccessMode::edit;
    AgentPermissionMode m_selectedPermission = AgentPermissionMode::auto_;
    DesktopCodingThinkingLevel m_selectedThinking = DesktopCodingThinkingLevel::medium;
    bool m_allowWeb = false;
    QString m_promptText;
    // `session` is either the session of a thread (by index, threads are never removed) or a detached one.
    std::optional<qsizetype> m_sessionThreadIndex;
    DesktopCodingSession m_detachedSession;
    QList<DesktopCodingThread> m_threads;
    std::vector<std::unique_ptr<ThreadState>> m_threadStates; // parallel to m_threads
    QHash<QString, QString> m_selectedThreadIDByProject;
    QList<DesktopCodingPendingApproval> m_pendingApprovals;
    std::optional<QString> m_bridgeRefreshError;
    bool m_isSending = false;

    // Private state
    std::shared_ptr<BridgeSessionListRequest> m_pendingSessionList;
    std::optional<QString> m_inFlightThreadID;
    std::optional<QDateTime> m_latestSeenBridgeSessionUpdatedAt;
    std::uint64_t m_discoveryGeneration = 0;
    std::optional<qsizetype> m_visibleThreadIndex; // the thread the event models show
    std::optional<qsizetype> m_selectedThreadSeen; // the selected thread the thread models last showed
    QHash<QString, qsizetype> m_threadIndexByID;   // first thread of each id

    // List models
    DesktopCodingThreadListModel *m_threadModel = nullptr;
    DesktopCodingProjectThreadsModel *m_projectThreadModel = nullptr;
    DesktopCodingEventListModel *m_chatEventModel = nullptr;
    DesktopCodingEventListModel *m_activityEventModel = nullptr;
    DesktopCodingPendingApprovalListModel *m_pendingApprovalModel = nullptr;
};

} // namespace rirudez
