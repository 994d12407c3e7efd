#pragma once

// A turn of the `codex` CLI in non-interactive mode with JSON Lines events (see docs/agents.md):
//
//   codex exec --json --cd DIR --skip-git-repo-check (--sandbox S |
//   --dangerously-bypass-approvals-and-sandbox)
//              -c approval_policy="never" [--model M] [-c model_reasoning_effort="E"] -c web_search="..."
//              [resume THREAD] [--image FILE... --] -
//
// The prompt is read from standard input ("-"); attached images go in as PNG files in a folder of the
// turn's own. `codex exec` cannot ask for approvals: modes that ask run through the app server
// (CodexAppServerTurn), and a turn that has no way to ask runs read-only instead.

#include "agents/CliAgentTurn.h"

#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace rirudez::server {

class CodexTurn : public CliAgentTurn {
    Q_OBJECT
public:
    using CliAgentTurn::CliAgentTurn;

    void start() override;
    QStringList arguments() const override;
    // The sandbox for a session's access and permission mode: "read-only", "workspace-write",
    // "danger-full-access", or "bypass" for --dangerously-bypass-approvals-and-sandbox.
    static QString sandbox(const AgentTurnRequest &request);
    // Whether the session's modes ask for approvals, which codex exec cannot give (it then runs read-only).
    static bool wouldAsk(const AgentTurnRequest &request);
    // codex's name for a thinking effort.
    static QString effort(ThinkingEffort effort);
    // The error of a failed turn: codex's own message, else the last error it reported before.
    static QString failureMessage(const QString &reported, const QString &lastError);
    // The label of an item that is a tool use without a file change: a command, an MCP tool call or a web
    // search; nothing for other kinds. codex exec names the kinds in snake_case (`command_execution`), the
    // app server in camelCase (`commandExecution`); both are taken.
    static std::optional<QString> toolUseLabel(const QString &kind, const nlohmann::json &item);

protected:
    void onStarted() override;
    void onLine(const nlohmann::json &line) override;
    void onEndedEarly(int exitCode) override;
    void respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) override;

private:
    void onItem(const nlohmann::json &item, bool completed);
    void writeImages();

    std::unique_ptr<QTemporaryDir> m_imageDir;
    QStringList m_imagePaths;

    QString m_lastMessage; // the last agent message: the result's text
    QString m_lastError;   // the last error event, for a run that ends without a turn event
    bool m_textEmitted = false;
};

} // namespace rirudez::server
