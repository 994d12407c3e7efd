#pragma once

// A turn of the `claude` CLI in headless mode with streamed JSON both ways (see docs/agents.md):
//
//   claude -p --output-format stream-json --verbose --input-format stream-json
//          --include-partial-messages [--permission-prompt-tool stdio] --permission-mode M
//          [--model M] [--effort E] [--disallowedTools WebSearch WebFetch] [--resume=ID]
//
// The prompt goes in as one "user" message on standard input. Text deltas become assistant_text chunks,
// tool calls tool_use, files written with the Write tool created_file, and the "result" message the
// result with its token usage. Permission prompts come as "can_use_tool" control requests and are
// answered with control responses once the user decided.

#include "agents/CliAgentTurn.h"

#include <QHash>

namespace rirudez::server {

class ClaudeTurn : public CliAgentTurn {
    Q_OBJECT
public:
    using CliAgentTurn::CliAgentTurn;

    QStringList arguments() const override;
    // The CLI's own permission mode for a session's access and permission mode.
    static QString permissionMode(const AgentTurnRequest &request);

protected:
    void onStarted() override;
    void onLine(const nlohmann::json &line) override;
    void onEndedEarly(int exitCode) override;
    void respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) override;

private:
    void onAssistantMessage(const nlohmann::json &message);
    void onToolResults(const nlohmann::json &message);
    void onControlRequest(const nlohmann::json &line);
    void onResult(const nlohmann::json &line);
    void emitText(const QString &text);

    bool m_streamedText = false;      // text deltas arrived for the message being written
    bool m_textEmitted = false;       // some text went out in this turn
    bool m_newTextBlock = false;      // the next text starts a new block (separated by a blank line)
    QHash<QString, QString> m_writes; // tool_use id -> path of a Write waiting for its result
};

} // namespace rirudez::server
