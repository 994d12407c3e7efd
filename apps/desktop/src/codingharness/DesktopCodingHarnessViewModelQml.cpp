// The coding view model's side facing QML: the operations the screen starts as tasks of their own and the
// published values in the forms QML reads (texts, maps and lists).
#include "DesktopCodingHarnessViewModel.h"

#include "DesktopTask.h"

#include <QPointer>
#include <QVariantMap>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

QVariantMap projectForView(const DesktopCodingProject &project) {
    return {{u"id"_s, project.id},
            {u"name"_s, project.name},
            {u"rootDisplay"_s, project.rootDisplay},
            {u"branch"_s, project.branch.value_or(QString())},
            {u"hasUncommittedChanges"_s, project.hasUncommittedChanges},
            {u"statusLine"_s, project.statusLine()},
            {u"maxAccess"_s, rawValue(project.maxAccess)},
            {u"supportedAccessModes"_s, rawValues(project.supportedAccessModes)},
            {u"allowWeb"_s, project.allowWeb}};
}

} // namespace

// ---------------------------------------------------------------------------------------------
// For the screen

QCoro::Task<void> DesktopCodingHarnessViewModel::refreshBridgeHealthThen(
    std::function<QCoro::Task<void>(DesktopCodingHarnessViewModel &)> next) {
    QPointer<DesktopCodingHarnessViewModel> self(this);
    QCoro::Task<void> refreshing = refreshBridgeHealth();
    co_await refreshing;
    if (!self)
        co_return;
    QCoro::Task<void> following = next(*self);
    co_await following;
}

void DesktopCodingHarnessViewModel::retryBridgeConnection() {
    startDetached(refreshBridgeHealthThen(&DesktopCodingHarnessViewModel::refreshBridgeSessions));
}

void DesktopCodingHarnessViewModel::startBridgeSessionDiscovery() {
    startDetached(refreshBridgeHealthThen(
        [](DesktopCodingHarnessViewModel &owner) { return owner.runBridgeSessionDiscoveryLoop(); }));
}

void DesktopCodingHarnessViewModel::requestRefreshBridgeHealth() {
    startDetached(refreshBridgeHealth());
}

void DesktopCodingHarnessViewModel::requestRefreshBridgeSessions() {
    startDetached(refreshBridgeSessions());
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
    withCase<RepoApprovalDecision>(
        decision, [&](RepoApprovalDecision parsed) { startDetached(respondToApproval(approvalID, parsed)); });
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
    withCase<DesktopCodingAgent>(agent, [&](DesktopCodingAgent parsed) {
        list = DesktopCodingComposerSelection::modelOptionsForView(modelOptions(parsed, modelCatalog()));
    });
    return list;
}

QVariantList DesktopCodingHarnessViewModel::projectsForView() const {
    QVariantList list;
    for (const DesktopCodingProject &project : projects())
        list.append(projectForView(project));
    return list;
}

QVariantMap DesktopCodingHarnessViewModel::modelCatalogForView() const {
    QVariantMap map;
    for (auto it = modelCatalog().constBegin(); it != modelCatalog().constEnd(); ++it)
        map.insert(rawValue(it.key()), DesktopCodingComposerSelection::modelOptionsForView(it.value()));
    return map;
}

QVariantMap DesktopCodingHarnessViewModel::selectedThreadIDByProjectForView() const {
    QVariantMap map;
    const QHash<QString, QString> &selected = selectedThreadIDByProject();
    for (auto it = selected.constBegin(); it != selected.constEnd(); ++it)
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

QStringList DesktopCodingHarnessViewModel::runtimeModeOptionsForView() const {
    return rawValues(runtimeModeOptions());
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
