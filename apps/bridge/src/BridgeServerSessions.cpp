// The bridge server's projects and durable repo sessions: listing, registering, opening, subscribing,
// and the turns of repo messages with their approvals and cancels.
#include "BridgeServerParts.h"

#include "ServerCodec.h"

#include <QUuid>

namespace rirudez::server {
using namespace Qt::StringLiterals;

// ---------------------------------------------------------------------------------------------
// Projects and sessions

std::optional<QString> BridgeServer::modelProblem(Agent agent, const std::optional<QString> &model) const {
    if (!model)
        return std::nullopt;
    if (const auto models = m_launcher.models(agent); models && models->models.contains(*model))
        return std::nullopt;
    return u"model %1 is not available for %2"_s.arg(*model, rawValue(agent));
}

void BridgeServer::listProjects(Connection *connection, const ClientMessage::ListProjects &request) {
    send(connection, BridgeMessage{BridgeMessage::Projects{request.requestID, m_projects->describeAll()}});
}

void BridgeServer::registerProject(Connection *connection, const ClientMessage::RegisterProject &request) {
    auto project = m_projects->registerProject(request);
    if (!project) {
        repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest, project.error());
        return;
    }
    send(connection,
         BridgeMessage{BridgeMessage::ProjectRegistered{request.requestID, m_projects->describe(*project)}});
}

void BridgeServer::listRepoSessions(Connection *connection, const ClientMessage::ListRepoSessions &request) {
    if (request.projectID && !m_projects->find(*request.projectID)) {
        repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                  u"unknown project %1"_s.arg(*request.projectID));
        return;
    }
    send(connection, BridgeMessage{BridgeMessage::RepoSessions{request.requestID,
                                                               m_sessions->summaries(request.projectID)}});
}

void BridgeServer::openRepoSession(Connection *connection, const ClientMessage::OpenRepoSession &request) {
    const ProjectRecord *project = m_projects->find(request.projectID);
    if (!project)
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                         u"unknown project %1"_s.arg(request.projectID));
    if (!agentEnabled(request.agent))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::agentUnavailable,
                         u"agent %1 is not available on this bridge"_s.arg(rawValue(request.agent)));
    if (auto problem = modelProblem(request.agent, request.model))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::modelUnavailable, *problem);
    if (rank(request.access) > rank(project->maxAccess))
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::badRequest,
                         u"access %1 is above the project's maximum %2"_s.arg(rawValue(request.access),
                                                                              rawValue(project->maxAccess)));
    RepoSessionSummary summary;
    summary.projectID = project->id;
    summary.agent = request.agent;
    summary.model = request.model;
    summary.thinkingEffort = request.thinkingEffort;
    summary.permissionMode = request.permissionMode;
    summary.access = request.access;
    summary.allowWeb = request.allowWeb;
    auto created = m_sessions->create(summary);
    if (!created)
        return repoError(connection, request.requestID, std::nullopt, ErrorCode::internalError,
                         created.error());
    qCInfo(lcServer).noquote() << "opened repo session" << created->sessionID << "in" << project->id;
    Q_EMIT sessionEventStored(created->sessionID, 1);
    send(connection, BridgeMessage{BridgeMessage::RepoSessionOpened{request.requestID, *created}});
}

void BridgeServer::subscribe(Connection *connection, const ClientMessage::SubscribeRepoSession &request) {
    auto first = m_sessions->contains(request.sessionID)
                     ? m_sessions->replayFrames(request.sessionID, 0, 1)
                     : Expected<QList<SessionFrameCache::Frame>, QString>(QString());
    if (!first)
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    // The stored events go out as fast as the socket takes them; events stored meanwhile follow through the
    // replay, which ends at the end of the log, so no event falls between replay and subscription.
    connection->subscriptions.insert(request.sessionID);
    connection->replaying.insert(request.sessionID, 0);
    continueReplays(connection);
}

void BridgeServer::continueReplays(Connection *connection) {
    // Enough queued to keep the connection busy, little enough to stay responsive to other frames.
    constexpr qint64 queuedBytesLimit = qint64(1) << 20;
    constexpr qsizetype sliceBytes = qsizetype(64) << 10;
    while (!connection->replaying.isEmpty() && connection->replayBytesQueued < queuedBytesLimit) {
        const auto replay = connection->replaying.begin();
        const QString sessionID = replay.key();
        auto frames = m_sessions->replayFrames(sessionID, replay.value(), sliceBytes);
        if (!frames || frames->isEmpty()) {
            connection->replaying.erase(replay); // caught up: new events now go out as they are stored
            continue;
        }
        for (const SessionFrameCache::Frame &frame : std::as_const(*frames)) {
            sendRaw(connection, frame.bytes);
            connection->replayBytesQueued += frame.bytes.size();
        }
        connection->replaying[sessionID] = frames->constLast().sequence;
    }
    if (connection->replaying.isEmpty())
        connection->replayTimer.stop();
    else if (!connection->replayTimer.isActive())
        connection->replayTimer.start();
}

std::optional<std::uint64_t> BridgeServer::publish(const QString &sessionID, const RepoSessionEvent &event) {
    auto sequence = m_sessions->append(sessionID, event);
    if (!sequence) {
        qCCritical(lcServer).noquote() << sequence.error();
        return std::nullopt;
    }
    const QByteArray frame =
        encodeBridgeMessage(BridgeMessage{BridgeMessage::RepoEvent{sessionID, *sequence, event}});
    for (Connection *connection : std::as_const(m_connections))
        if (connection->authenticated && connection->subscriptions.contains(sessionID) &&
            !connection->replaying.contains(sessionID))
            sendRaw(connection, frame);
    Q_EMIT sessionEventStored(sessionID, *sequence);
    return *sequence;
}

void BridgeServer::repoMessage(Connection *connection, const ClientMessage::RepoMessage &request) {
    const QString &sessionID = request.sessionID;
    const auto summary = m_sessions->summary(sessionID);
    if (!summary)
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(sessionID));
    if (m_sessionTurns.contains(sessionID))
        return repoError(connection, std::nullopt, sessionID, ErrorCode::turnInFlight,
                         u"a turn is already running in this session"_s);
    if (request.prompt.trimmed().isEmpty() && request.images.isEmpty())
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"the message is empty"_s);
    const ProjectRecord *project = m_projects->find(summary->projectID);
    if (!project)
        return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                         u"project %1 is no longer registered"_s.arg(summary->projectID));
    if (!agentEnabled(summary->agent))
        return repoError(connection, std::nullopt, sessionID, ErrorCode::agentUnavailable,
                         u"agent %1 is not available on this bridge"_s.arg(rawValue(summary->agent)));

    RepoSessionSummary updated = *summary;
    if (request.settings) {
        const RepoMessageSettings &settings = *request.settings;
        if (auto problem = modelProblem(summary->agent, settings.model))
            return repoError(connection, std::nullopt, sessionID, ErrorCode::modelUnavailable, *problem);
        if (rank(settings.access) > rank(project->maxAccess))
            return repoError(connection, std::nullopt, sessionID, ErrorCode::badRequest,
                             u"access %1 is above the project's maximum %2"_s.arg(
                                 rawValue(settings.access), rawValue(project->maxAccess)));
        // The settings are the sender's whole composer state: they replace the session's.
        updated.model = settings.model;
        updated.thinkingEffort = settings.thinkingEffort;
        updated.permissionMode = settings.permissionMode;
        updated.access = settings.access;
        updated.allowWeb = settings.allowWeb;
        if (updated != *summary) {
            if (!m_sessions->updateSummary(updated))
                return repoError(connection, std::nullopt, sessionID, ErrorCode::internalError,
                                 u"cannot store the session's new settings"_s);
            publish(sessionID, RepoSessionEvent{RepoSessionEvent::SessionUpdated{updated}});
        }
    }

    const QString messageID =
        request.messageID.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : request.messageID;
    publish(sessionID,
            RepoSessionEvent{RepoSessionEvent::UserMessage{messageID, request.prompt, request.images}});
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{TurnState::received}});
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{TurnState::working}});

    AgentTurnRequest turnRequest{
        request.prompt,   request.images, project->name,           project->path,          messageID,
        updated.agent,    updated.model,  updated.thinkingEffort,  updated.permissionMode, updated.access,
        updated.allowWeb, true,           updated.upstreamThreadID};
    AgentTurn *turn = m_launcher.create(turnRequest, this);
    m_sessionTurns.insert(sessionID, new SessionTurn{turn, messageID});
    connect(turn, &AgentTurn::event, this,
            [this, sessionID](const RepoSessionEvent &event) { publish(sessionID, event); });
    connect(turn, &AgentTurn::finished, this,
            [this, sessionID](bool) { endSessionTurn(sessionID, TurnState::done); });
    connect(turn, &AgentTurn::upstreamThreadStarted, this,
            [this, sessionID](const QString &threadID) { rememberUpstreamThread(sessionID, threadID); });
    turn->start();
}

void BridgeServer::endSessionTurn(const QString &sessionID, TurnState state) {
    SessionTurn *running = m_sessionTurns.take(sessionID);
    if (!running)
        return;
    if (running->turn) {
        running->turn->disconnect(this);
        if (state == TurnState::cancelled) {
            // An approval that nobody will answer any more is resolved, so no client keeps waiting on it.
            for (const QString &pending : running->turn->pendingApprovals())
                publish(sessionID, RepoSessionEvent{RepoSessionEvent::ApprovalResolved{
                                       pending, RepoApprovalDecision::denied}});
        }
        running->turn->cancel();
        running->turn->deleteLater();
    }
    delete running;
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::Status{state}});
}

void BridgeServer::rememberUpstreamThread(const QString &sessionID, const QString &threadID) {
    auto summary = m_sessions->summary(sessionID);
    const std::optional<QString> thread = threadID.isEmpty() ? std::nullopt : std::optional(threadID);
    if (!summary || summary->upstreamThreadID == thread)
        return;
    summary->upstreamThreadID = thread;
    if (!m_sessions->updateSummary(*summary)) {
        qCWarning(lcServer).noquote() << "cannot store the agent's conversation of session" << sessionID;
        return;
    }
    publish(sessionID, RepoSessionEvent{RepoSessionEvent::SessionUpdated{*summary}});
}

void BridgeServer::approvalResponse(Connection *connection,
                                    const ClientMessage::RepoApprovalResponse &request) {
    if (!m_sessions->contains(request.sessionID))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    SessionTurn *running = m_sessionTurns.value(request.sessionID);
    if (!running || !running->turn || !running->turn->answerApproval(request.approvalID, request.decision))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"no pending approval %1 in this session"_s.arg(request.approvalID));
}

void BridgeServer::cancelRepoMessage(Connection *connection,
                                     const ClientMessage::CancelRepoMessage &request) {
    if (!m_sessions->contains(request.sessionID))
        return repoError(connection, std::nullopt, request.sessionID, ErrorCode::badRequest,
                         u"unknown session %1"_s.arg(request.sessionID));
    // Without a running turn there is nothing to stop; a late stop is not an error.
    endSessionTurn(request.sessionID, TurnState::cancelled);
}

} // namespace rirudez::server
