#pragma once

// One turn of a coding agent: the demo agent or a command-line agent (claude, codex). A turn turns a
// prompt and the session's settings into repo-session events, pauses at approval requests until they are
// answered, and can be cancelled. The bridge owns the turn object and deletes it after `finished` or a
// cancel; a cancelled turn emits nothing more.

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace rirudez::server {

// What a turn needs to know: the prompt and the settings the session holds when the turn starts.
struct AgentTurnRequest {
    QString prompt;
    QList<TurnImage> images;
    QString projectName;
    QString projectPath; // absolute folder the agent works in
    QString messageID;   // the user message (or stand-alone turn) the turn answers
    Agent agent = Agent::claude;
    std::optional<QString> model;
    std::optional<ThinkingEffort> thinkingEffort;
    std::optional<AgentPermissionMode> permissionMode;
    RepoAccessMode access = RepoAccessMode::ask;
    bool allowWeb = false;
    // False for stand-alone turns, which have no way to ask for an approval.
    bool canAskApproval = true;
    // The agent's own conversation to continue (its session or thread id), from the previous turn.
    std::optional<QString> upstreamThreadID;
};

class AgentTurn : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start() = 0;
    // Stops at once: no further event and no `finished`. A process behind the turn is stopped too.
    virtual void cancel() = 0;
    virtual bool isRunning() const = 0;

    // Approvals the turn waits for, oldest first.
    virtual QStringList pendingApprovals() const = 0;
    // Answers one pending approval: emits approval_resolved and continues. False when `approvalID` is not
    // pending.
    virtual bool answerApproval(const QString &approvalID, RepoApprovalDecision decision) = 0;

Q_SIGNALS:
    void event(const rirudez::RepoSessionEvent &event);
    // Once, after the turn's last event (a result or an error), unless it was cancelled first.
    void finished(bool failed);
    // The agent named the conversation it keeps (its own session or thread id); the next turn continues it.
    // An empty id: the stored conversation cannot be continued, and the next turn starts a new one.
    void upstreamThreadStarted(const QString &threadID);
};

} // namespace rirudez::server
