// The coding view model's side facing QML: the operations the screen starts as tasks of their own and the
// published values in the forms QML reads (texts, maps and lists).
#include "DesktopCodingHarnessViewModel.h"

#include "DesktopCodingTaskFailure.h"

#include <QPointer>
#include <QVariantMap>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

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

} // namespace

// ---------------------------------------------------------------------------------------------
// For the screen

void DesktopCodingHarnessViewModel::retryBridgeConnection() {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    startDetached([](QPointer<DesktopCodingHarnessViewModel> owner) -> QCoro::Task<void> {
        if (!owner)
            co_return;
        co_await owner->refreshBridgeHealth();
        if (!owner)
            co_return;
        co_await owner->refreshBridgeSessions();
    }(self));
}

void DesktopCodingHarnessViewModel::requestRefreshBridgeHealth() {
    startDetached(refreshBridgeHealth());
}

void DesktopCodingHarnessViewModel::requestRefreshBridgeSessions() {
    startDetached(refreshBridgeSessions());
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
        for (const DesktopCodingModelOption &option : modelOptions(*parsed, modelCatalog()))
            list.append(modelOptionForView(option));
    return list;
}

QVariantList DesktopCodingHarnessViewModel::projectsForView() const {
    QVariantList list;
    for (const DesktopCodingProject &project : m_projects)
        list.append(projectForView(project));
    return list;
}

QVariantMap DesktopCodingHarnessViewModel::modelCatalogForView() const {
    QVariantMap map;
    for (auto it = modelCatalog().constBegin(); it != modelCatalog().constEnd(); ++it) {
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
    return modelOptionsFor(rawValue(selectedAgent()));
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
