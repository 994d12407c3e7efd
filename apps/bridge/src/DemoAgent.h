#pragma once

// The demo agent: a deterministic stand-in for `claude` and `codex`, driven by words in the prompt
// (see apps/bridge/README.md). planDemoTurn() turns a prompt and the session's settings into a script
// of steps; DemoTurn plays a script as repo-session events, one step per tick of a configurable delay,
// pausing at approval requests until they are answered.

#include "agents/AgentTurn.h"

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

namespace rirudez::server {

// The models the demo agent serves, the same list as the desktop's built-in catalogue.
QList<AgentModels> demoAgentModels();

struct DemoContext {
    QString prompt;
    QString projectName;
    QString messageID; // used to make stable identifiers for approvals and files
    Agent agent = Agent::claude;
    std::optional<QString> model;
    std::optional<ThinkingEffort> thinkingEffort;
    std::optional<AgentPermissionMode> permissionMode;
    RepoAccessMode access = RepoAccessMode::ask;
    bool allowWeb = false;
    // False for stand-alone turns, which have no way to ask: risky steps are then skipped unless the
    // permission mode bypasses approvals.
    bool canAskApproval = true;
};

struct DemoStep {
    enum class Kind { tool, text, approval, file, fail, result };
    Kind kind = Kind::text;
    QString text;   // tool name, text chunk, approval summary, failure message or result text
    QString method; // approval: the tool that needs it
    std::optional<RepoSessionCreatedFile> file;
    TokenUsage usage;           // result: input and reasoning tokens; output is counted while playing
    QList<DemoStep> ifApproved; // approval: steps played after an approval
    QList<DemoStep> ifDenied;   // approval: steps played after a denial
};

// The script of one turn. Deterministic: the same context always gives the same script.
QList<DemoStep> planDemoTurn(const DemoContext &context);

// Whether the demo agent may change anything in this context (false in watch access, read-only
// permission mode, or a stand-alone turn of mode "ask").
bool demoMayChange(const DemoContext &context);

// Plays a script. Emits `event` for every step and `finished` once (after the result or the error),
// unless cancelled first. The approval events are emitted here too; answers come in through
// answerApproval().
class DemoTurn : public AgentTurn {
    Q_OBJECT
public:
    // `stepDelay` may be below a millisecond: the turn then plays as many steps per timer tick as the
    // elapsed time allows (0.5 ms gives 2,000 steps per second). Zero plays one step per event-loop pass.
    DemoTurn(QList<DemoStep> script, QString approvalPrefix, std::chrono::microseconds stepDelay,
             QObject *parent = nullptr);

    void start() override;
    // Stops at once; no further event and no `finished`.
    void cancel() override;
    bool isRunning() const override { return m_running; }

    // The approval the turn waits for, if any.
    std::optional<QString> pendingApproval() const { return m_pendingApproval; }
    // Answers the pending approval: emits approval_resolved and continues. False when `approvalID` is
    // not the pending one.
    bool answerApproval(const QString &approvalID, RepoApprovalDecision decision) override;
    QStringList pendingApprovals() const override {
        return m_pendingApproval ? QStringList{*m_pendingApproval} : QStringList{};
    }

private:
    void tick();
    // Plays the first queued step; false when the turn now waits for an approval or has ended.
    bool playOne();
    void scheduleNext();

    QList<DemoStep> m_queue;
    QString m_approvalPrefix;
    QTimer m_timer;
    std::chrono::microseconds m_stepDelay;
    QElapsedTimer m_paceClock; // restarted whenever playing resumes (start, approval answered)
    qint64 m_playedSincePace = 0;
    std::optional<QString> m_pendingApproval;
    QList<DemoStep> m_pendingApproved, m_pendingDenied;
    int m_approvals = 0;
    std::uint64_t m_outputTokens = 0;
    bool m_running = false;
};

} // namespace rirudez::server
