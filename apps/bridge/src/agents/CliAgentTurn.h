#pragma once

// The common half of a command-line agent's turn: runs the agent's CLI with QProcess in the project
// folder, in a process group of its own, with the user's environment minus the bridge's secrets; splits
// its standard output into JSON lines for the agent's own reading; sends its standard error to the
// bridge's log (never to a client); and stops it (terminate, then kill after a grace period) when the
// turn is cancelled, fails or the bridge shuts down, so that no process is left behind.

#include "agents/AgentTurn.h"

#include <nlohmann/json_fwd.hpp>

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <chrono>

namespace rirudez::server {

struct CliAgentSetup {
    QString command;                           // the CLI's executable
    std::chrono::milliseconds stopGrace{3000}; // between terminate and kill
    QStringList hiddenValues;                  // environment variables holding any of these are not passed on
};

class CliAgentTurn : public AgentTurn {
    Q_OBJECT
public:
    CliAgentTurn(AgentTurnRequest request, CliAgentSetup setup, QObject *parent = nullptr);
    ~CliAgentTurn() override;

    void start() override;
    void cancel() override;
    bool isRunning() const override { return m_running; }
    QStringList pendingApprovals() const override;
    bool answerApproval(const QString &approvalID, RepoApprovalDecision decision) override;

    // The arguments the CLI is started with for this turn.
    virtual QStringList arguments() const = 0;

    // Stops every agent process that still runs (the bridge shuts down): terminate, wait up to `grace`,
    // kill. Blocks until they are gone.
    static void stopAll(std::chrono::milliseconds grace);
    // How many agent processes run (cancelled ones included until they are gone).
    static int liveProcessCount();

    // The environment a CLI gets: the bridge's own, minus every variable whose value holds one of
    // `hiddenValues`.
    static QProcessEnvironment childEnvironment(const QStringList &hiddenValues);

protected:
    struct PendingApproval {
        QString approvalID;
        QString requestID;  // the CLI's own identifier of the question
        QByteArray payload; // what the answer needs to send back (the agent's own encoding)
    };

    const AgentTurnRequest &request() const { return m_request; }
    QString agentName() const { return rawValue(m_request.agent); }

    // Called once the process runs: write the first input.
    virtual void onStarted() = 0;
    // One complete line of standard output that parsed as a JSON object.
    virtual void onLine(const nlohmann::json &line) = 0;
    // The process ended (code, or -1 after a crash) before the turn reached a result.
    virtual void onEndedEarly(int exitCode) = 0;
    // Sends the user's answer to the CLI.
    virtual void respondToApproval(const PendingApproval &approval, RepoApprovalDecision decision) = 0;
    // The turn is being cancelled while the CLI runs: a chance to ask it to stop the work itself. True
    // when it was asked and ends once its input closes; it then has the grace period to exit before it is
    // terminated.
    virtual bool interrupt() { return false; }

    void emitEvent(const RepoSessionEvent &event);
    // Asks the user; the CLI's answer goes out through respondToApproval().
    void requestApproval(const QString &requestID, const QString &method, const QString &summary,
                         QByteArray payload);
    // The CLI dropped a question it asked (the one whose payload is `payload`) before the user answered:
    // it is resolved as denied, so no client keeps waiting on it.
    void withdrawApproval(const QByteArray &payload);
    // The result arrived: emit it; the turn finishes when the CLI exits (closing its input first).
    void completeWith(const QString &text, const std::optional<TokenUsage> &usage);
    // The turn failed: emit the error, stop the CLI, finish.
    void failWith(ErrorCode code, const QString &message);
    // The CLI named the conversation this turn continues or starts.
    void conversationStarted(const QString &threadID);
    void writeLine(const QByteArray &line);
    void closeInput();
    // A file the agent wrote: reported as created_file when it lies inside the project folder.
    void reportWrittenFile(const QString &path);

    // "exit code N", or "it crashed" for -1.
    static QString exitDescription(int exitCode);
    // For onEndedEarly(): "<program> stopped before it finished the turn (<how>). The bridge's log has its
    // messages; running `<check>` in a terminal shows whether <shows>."
    static QString endedEarlyMessage(const QString &program, int exitCode, const QString &check,
                                     const QString &shows);

    int m_files = 0;

private:
    void onReadyRead();
    void onStandardError();
    void onProcessFinished(int exitCode, QProcess::ExitStatus status);
    void onProcessError(QProcess::ProcessError error);
    void handleLine(QByteArrayView line);
    void finish(bool failed);
    // Hands the process to the reaper: terminate now (or after the grace period when `gentle`), kill
    // after another grace period, delete when gone.
    void releaseProcess(bool gentle = false);

    AgentTurnRequest m_request;
    CliAgentSetup m_setup;
    QProcess *m_process = nullptr;
    qint64 m_pid = 0;
    QByteArray m_stdout;
    QByteArray m_stderr;
    QList<PendingApproval> m_pending;
    int m_approvals = 0;
    bool m_running = false;
    bool m_concluded = false; // a result or an error went out
    bool m_failed = false;
    bool m_conversationSeen = false;
    QTimer m_exitTimer; // after the result: how long the CLI may take to exit
};

} // namespace rirudez::server
