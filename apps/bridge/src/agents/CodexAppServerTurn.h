#pragma once

// A turn of the `codex` CLI through its app server (`codex app-server`: JSON-RPC 2.0 without the
// "jsonrpc" member, one message per line on standard input and output; see docs/agents.md). It runs the
// modes that ask for approvals, which `codex exec` cannot do:
//
//   -> initialize, initialized, thread/start (or thread/resume), turn/start
//   <- thread, turn, item/* and thread/tokenUsage/updated notifications, up to turn/completed
//   <- item/commandExecution/requestApproval and item/fileChange/requestApproval requests: they become
//      the session's approval requests, and the user's answer is their response ("accept" or "decline")
//
// Cancelling sends turn/interrupt and closes the input, so the app server can wind down before it is
// terminated.

#include "agents/CliAgentTurn.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QHash>
#include <QSet>

namespace rirudez::server {

class CodexAppServerTurn : public CliAgentTurn {
    Q_OBJECT
public:
    using CliAgentTurn::CliAgentTurn;

    QStringList arguments() const override;

    // Whether a codex turn with these settings runs through the app server: the session's modes ask for
    // approvals and the turn has a way to ask.
    static bool handles(const AgentTurnRequest &request);
    // The parameters of thread/start; thread/resume takes the same with the thread's id.
    static Json threadParams(const AgentTurnRequest &request);
    // The parameters of turn/start: the images and the prompt as input, and the thinking effort.
    static Json turnParams(const AgentTurnRequest &request, const QString &threadID);

protected:
    void onStarted() override;
    void onLine(const Json &line) override;
    void onEndedEarly(int exitCode) override;
    void respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) override;
    bool interrupt() override;

private:
    void sendRequest(const QString &method, Json params);
    void sendNotification(const char *method);
    void sendResponse(const Json &id, Json result);
    void onResponse(const Json &line);
    void onNotification(const QString &method, const Json &params);
    void onServerRequest(const Json &id, const QString &method, const Json &params);
    void onItem(const Json &item, bool completed);
    void onTurnCompleted(const Json &turn);
    void addUsage(const Json &breakdown);
    void emitText(const QString &itemID, const QString &text);

    int m_nextRequestID = 0;
    QHash<int, QString> m_awaited; // our requests without a response yet: id -> method
    QString m_threadID;
    QString m_turnID;
    QHash<QString, QStringList> m_changedPaths; // file change item -> its paths, for approval summaries
    QSet<QString> m_streamedItems;              // agent messages whose text came as deltas
    QString m_textItem;                         // the agent message the last text belonged to
    QString m_lastMessage;                      // the last agent message: the result's text
    QString m_lastError;
    TokenUsage m_usage;
    bool m_usageSeen = false;
};

} // namespace rirudez::server
