#include "DesktopCodingTurnDispatcher.h"

#include "DesktopCodingApprovalQueue.h"
#include "DesktopCodingBridgeClient.h"
#include "DesktopCodingSessionSync.h"
#include "DesktopCodingTaskFailure.h"
#include "DesktopCodingThreadStore.h"
#include "DesktopTask.h"

#include "rirudez/bridgekit/BridgeClientError.h"

#include <QPointer>
#include <QUuid>

#include <nlohmann/json.hpp>

namespace rirudez {
using namespace Qt::StringLiterals;

// Calls whose results are awaited are made in a statement of their own (`Task t = f(x); co_await t;`):
// g++ 12 may destroy temporaries of a co_await operand (such as by-value arguments) twice.

namespace {

QString newWireID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

} // namespace

DesktopCodingTurnDispatcher::DesktopCodingTurnDispatcher(DesktopCodingThreadStore &store,
                                                         DesktopCodingApprovalQueue &approvals,
                                                         DesktopCodingSessionSync &sync,
                                                         std::shared_ptr<DesktopCodingBridgeClient> client,
                                                         QObject *parent)
    : QObject(parent), m_store(store), m_approvals(approvals), m_sync(sync), m_client(std::move(client)) {}

bool DesktopCodingTurnDispatcher::canCancel() const {
    if (!m_inFlightThreadID)
        return false;
    const std::optional<qsizetype> index = m_store.indexOf(*m_inFlightThreadID);
    return index && m_store.at(*index).bridgeSessionID.has_value();
}

QString DesktopCodingTurnDispatcher::writeOpening(const DesktopCodingRequestDraft &draft,
                                                  const QString &threadID,
                                                  const std::optional<DesktopCodingProject> &project,
                                                  const QString &projectName) {
    const QString projectLabel = draft.projectID.value_or(projectName);
    const QString agentName = displayName(draft.agent);
    const DesktopCodingEvent prompt(makeDesktopCodingID(), DesktopCodingEventKind::userMessage, draft.prompt);
    append(threadID, prompt);
    append(threadID,
           DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                              u"Ready to dispatch "_s + projectName + u" through "_s + agentName,
                              u"Access "_s + displayName(draft.access) + u" · permission "_s +
                                  displayName(draft.permission) + u" · "_s + displayName(draft.thinking)));
    append(threadID,
           DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::toolUse,
                              agentName + u" exec in "_s + projectLabel,
                              project ? std::optional<QString>(project->rootDisplay) : std::nullopt));
    return prompt.id;
}

void DesktopCodingTurnDispatcher::begin(const QString &threadID, const QString &userEventID) {
    m_inFlightPromptEventID = userEventID;
    m_inFlightThreadID = threadID;
    Q_EMIT isSendingChanged();
}

void DesktopCodingTurnDispatcher::finishIfNeeded(const QString &threadID) {
    if (!m_inFlightThreadID || *m_inFlightThreadID != threadID)
        return;
    m_inFlightThreadID.reset();
    m_inFlightPromptEventID.clear();
    Q_EMIT isSendingChanged();
}

void DesktopCodingTurnDispatcher::forgetBridge() {
    m_sentPrompts.clear();
    if (m_inFlightThreadID)
        finishIfNeeded(*m_inFlightThreadID);
}

std::optional<QString> DesktopCodingTurnDispatcher::ownPromptEventID(const QString &threadID,
                                                                     const QString &messageID) const {
    const auto found = m_sentPrompts.constFind(messageID);
    if (found == m_sentPrompts.constEnd() || found->threadID != threadID)
        return std::nullopt;
    return found->eventID;
}

void DesktopCodingTurnDispatcher::append(const QString &threadID, DesktopCodingEvent event) {
    if (const std::optional<qsizetype> index = m_store.indexOf(threadID))
        m_store.appendEvent(*index, std::move(event));
}

void DesktopCodingTurnDispatcher::appendFailure(const QString &threadID, const QString &title,
                                                const std::exception_ptr &failure) {
    const QString diagnostic = DesktopCodingTaskFailure::describe(failure).diagnostic;
    qCWarning(lcDesktopCoding).noquote() << title << "in thread" << threadID << ":" << diagnostic;
    append(threadID,
           DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed, title, diagnostic));
}

QCoro::Task<void> DesktopCodingTurnDispatcher::dispatch(DesktopCodingRequestDraft draft, QString threadID,
                                                        QString projectName) {
    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> sending =
        guardedTask(this, sendTurn(std::move(draft), threadID, std::move(projectName)));
    const std::optional<DesktopTaskOutcome<void>> sent = co_await sending;
    if (!sent || !sent->failure)
        co_return;
    appendFailure(threadID, u"Zad Ezarur dispatch failed"_s, sent->failure);
    finishIfNeeded(threadID);
}

QCoro::Task<void> DesktopCodingTurnDispatcher::sendTurn(DesktopCodingRequestDraft draft, QString threadID,
                                                        QString projectName) {
    QPointer<DesktopCodingTurnDispatcher> self(this);
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_client;
    const QString projectLabel = draft.projectID.value_or(projectName);
    const QString promptEventID = m_inFlightPromptEventID;
    co_await m_sync.ensureConnected();
    if (!self)
        co_return;
    const std::optional<qsizetype> index = m_store.indexOf(threadID);
    if (!index)
        co_return;
    QString sessionID;
    if (const std::optional<QString> bound = m_store.at(*index).bridgeSessionID) {
        sessionID = *bound;
        QCoro::Task<void> subscribing = m_sync.subscribeIfNeeded(sessionID);
        co_await subscribing;
        if (!self)
            co_return;
        append(threadID, DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                            u"Resuming Zad Ezarur repo session"_s, sessionID));
    } else {
        const QString requestID = newWireID();
        const std::optional<ClientMessage> open = draft.openRepoSessionMessage(requestID);
        if (!open)
            throw BridgeClientError::handshakeFailed(u"missing project for repo session"_s);
        m_sync.registry().recordOpenRequest(requestID, threadID);
        append(threadID,
               DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::command,
                                  u"open_repo_session "_s + projectLabel, bridgeFramePreview(*open)));
        QCoro::Task<RepoSessionSummary> opening = client->openRepoSession(*open);
        const RepoSessionSummary summary = co_await opening;
        if (!self)
            co_return;
        m_sync.bind(summary.sessionID, threadID);
        QCoro::Task<void> subscribing = m_sync.subscribeIfNeeded(summary.sessionID);
        co_await subscribing;
        if (!self)
            co_return;
        sessionID = summary.sessionID;
    }
    const QString messageID = newWireID();
    const ClientMessage message = draft.repoMessage(sessionID, messageID);
    append(threadID, DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::command,
                                        u"repo_message "_s + projectLabel, bridgeFramePreview(message)));
    if (!promptEventID.isEmpty())
        m_sentPrompts.insert(messageID, SentPrompt{threadID, promptEventID});
    QCoro::Task<void> sending = client->send(message);
    co_await sending;
}

QCoro::Task<void> DesktopCodingTurnDispatcher::cancel() {
    if (!m_inFlightThreadID)
        co_return;
    const QString threadID = *m_inFlightThreadID;
    const std::optional<qsizetype> index = m_store.indexOf(threadID);
    if (!index || !m_store.at(*index).bridgeSessionID) {
        append(threadID,
               DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::failed,
                                  u"Zad Ezarur stop unavailable"_s, u"No repo session is active yet."_s));
        finishIfNeeded(threadID);
        co_return;
    }
    const QString sessionID = *m_store.at(*index).bridgeSessionID;
    append(threadID, DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                        u"Stopping Zad Ezarur repo turn"_s, sessionID));
    const ClientMessage frame{ClientMessage::CancelRepoMessage{sessionID}};
    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> stopping =
        guardedTask(this, sendWhenConnected(frame));
    const std::optional<DesktopTaskOutcome<void>> stopped = co_await stopping;
    if (!stopped || !stopped->failure)
        co_return;
    appendFailure(threadID, u"Zad Ezarur stop failed"_s, stopped->failure);
    finishIfNeeded(threadID);
}

QCoro::Task<void> DesktopCodingTurnDispatcher::sendWhenConnected(ClientMessage frame) {
    QPointer<DesktopCodingTurnDispatcher> self(this);
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_client;
    co_await m_sync.ensureConnected();
    if (!self)
        co_return;
    QCoro::Task<void> sending = client->send(frame);
    co_await sending;
}

QCoro::Task<void> DesktopCodingTurnDispatcher::respond(QString approvalID, RepoApprovalDecision decision) {
    const std::optional<DesktopCodingPendingApproval> approval = m_approvals.find(approvalID);
    if (!approval)
        co_return;
    const std::shared_ptr<DesktopCodingBridgeClient> client = m_client;
    const ClientMessage response{
        ClientMessage::RepoApprovalResponse{approval->sessionID, approval->approvalID, decision}};
    QCoro::Task<std::optional<DesktopTaskOutcome<void>>> sending = guardedTask(this, client->send(response));
    const std::optional<DesktopTaskOutcome<void>> sent = co_await sending;
    if (!sent)
        co_return;
    if (sent->failure) {
        appendFailure(approval->threadID, u"Approval response failed"_s, sent->failure);
        co_return;
    }
    m_approvals.remove(approval->sessionID, approval->approvalID);
    append(approval->threadID, DesktopCodingEvent(makeDesktopCodingID(), DesktopCodingEventKind::status,
                                                  u"Approval "_s + rawValue(decision)));
}

QString DesktopCodingTurnDispatcher::bridgeFramePreview(const ClientMessage &frame) {
    try {
        // nlohmann's default object keeps its keys sorted, so a round trip sorts them.
        const QByteArray encoded = frame.encode();
        const nlohmann::json json = nlohmann::json::parse(encoded.begin(), encoded.end());
        return QString::fromStdString(json.dump());
    } catch (...) {
        return u"Unable to encode bridge frame."_s;
    }
}

} // namespace rirudez
