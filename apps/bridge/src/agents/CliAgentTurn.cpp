#include "agents/CliAgentTurn.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QSet>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace rirudez::server {
using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcAgents, "zad.bridge.agents")

namespace {

constexpr qsizetype maxLineBytes = 64 << 20;      // one JSON line of the CLI's output
constexpr qsizetype maxStderrLineBytes = 8 << 10; // longer stderr lines are cut in the log
constexpr qint64 maxCreatedFileBytes = 8 << 20;   // larger written files are named, not sent

// Every agent process that runs, including cancelled ones until they are gone.
QSet<QProcess *> &liveProcesses() {
    static QSet<QProcess *> processes;
    return processes;
}

void signalGroup(qint64 pid, int signal) {
    if (pid > 0)
        ::kill(pid_t(-pid), signal);
}

} // namespace

CliAgentTurn::CliAgentTurn(AgentTurnRequest request, CliAgentSetup setup, QObject *parent)
    : AgentTurn(parent), m_request(std::move(request)), m_setup(std::move(setup)) {
    m_exitTimer.setSingleShot(true);
    connect(&m_exitTimer, &QTimer::timeout, this, [this] {
        qCWarning(lcAgents).noquote() << agentName() << "did not exit after its result; stopping it";
        releaseProcess();
        finish(m_failed);
    });
}

CliAgentTurn::~CliAgentTurn() {
    releaseProcess();
}

QProcessEnvironment CliAgentTurn::childEnvironment(const QStringList &hiddenValues) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        const QString value = environment.value(name);
        for (const QString &hidden : hiddenValues)
            if (!hidden.isEmpty() && value.contains(hidden))
                environment.remove(name);
    }
    return environment;
}

int CliAgentTurn::liveProcessCount() {
    return int(liveProcesses().size());
}

void CliAgentTurn::stopAll(std::chrono::milliseconds grace) {
    const auto processes = liveProcesses().values();
    for (QProcess *process : processes) {
        signalGroup(process->processId(), SIGTERM);
        process->closeWriteChannel();
    }
    for (QProcess *process : processes) {
        if (!process->waitForFinished(int(grace.count()))) {
            signalGroup(process->processId(), SIGKILL);
            process->waitForFinished(2000);
        }
    }
}

void CliAgentTurn::start() {
    m_running = true;
    m_process = new QProcess;
    liveProcesses().insert(m_process);
    m_process->setProgram(m_setup.command);
    m_process->setArguments(arguments());
    m_process->setWorkingDirectory(m_request.projectPath);
    m_process->setProcessEnvironment(childEnvironment(m_setup.hiddenValues));
    // A process group of its own, so that stopping the CLI also stops the commands it started.
    m_process->setChildProcessModifier([] { ::setpgid(0, 0); });
    connect(m_process, &QProcess::readyReadStandardOutput, this, &CliAgentTurn::onReadyRead);
    connect(m_process, &QProcess::readyReadStandardError, this, &CliAgentTurn::onStandardError);
    connect(m_process, &QProcess::finished, this, &CliAgentTurn::onProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &CliAgentTurn::onProcessError);
    connect(m_process, &QProcess::started, this, [this] {
        m_pid = m_process->processId();
        qCInfo(lcAgents).noquote() << agentName() << "started with pid" << m_pid << "in"
                                   << m_request.projectPath;
        onStarted();
    });
    m_process->start(QIODevice::ReadWrite);
}

void CliAgentTurn::cancel() {
    const bool asked = m_running && m_process && m_process->state() == QProcess::Running && interrupt();
    m_running = false;
    m_exitTimer.stop();
    m_pending.clear();
    releaseProcess(asked);
}

void CliAgentTurn::releaseProcess(bool gentle) {
    QProcess *process = std::exchange(m_process, nullptr);
    if (!process)
        return;
    process->disconnect(this);
    const qint64 pid = m_pid;
    if (process->state() == QProcess::NotRunning) {
        // Whatever the CLI left running in its group goes with it.
        signalGroup(pid, SIGKILL);
        liveProcesses().remove(process);
        process->deleteLater();
        return;
    }
    auto reap = [process, pid] {
        // Whatever the CLI left running in its group goes with it.
        signalGroup(pid, SIGKILL);
        liveProcesses().remove(process);
        process->deleteLater();
    };
    connect(process, &QProcess::finished, process, reap);
    connect(process, &QProcess::errorOccurred, process, [process, reap](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            reap();
    });
    auto *killTimer = new QTimer(process);
    killTimer->setSingleShot(true);
    connect(killTimer, &QTimer::timeout, process, [pid] {
        qCWarning(lcAgents) << "agent process" << pid << "ignored the request to stop; killing it";
        signalGroup(pid, SIGKILL);
    });
    process->closeWriteChannel();
    if (pid <= 0) {
        process->kill();
    } else if (gentle) {
        // Asked to stop: it may finish on its own first.
        QTimer::singleShot(m_setup.stopGrace, process, [pid] { signalGroup(pid, SIGTERM); });
        killTimer->start(2 * m_setup.stopGrace);
        return;
    } else {
        signalGroup(pid, SIGTERM);
    }
    killTimer->start(m_setup.stopGrace);
}

void CliAgentTurn::conversationStarted(const QString &threadID) {
    m_conversationSeen = true;
    if (m_running)
        Q_EMIT upstreamThreadStarted(threadID);
}

void CliAgentTurn::writeLine(const QByteArray &line) {
    if (m_process && m_process->state() == QProcess::Running)
        m_process->write(line + '\n');
}

void CliAgentTurn::closeInput() {
    if (m_process)
        m_process->closeWriteChannel();
}

void CliAgentTurn::onReadyRead() {
    if (!m_process)
        return;
    m_stdout += m_process->readAllStandardOutput();
    qsizetype start = 0;
    while (m_running && m_process) {
        const qsizetype end = m_stdout.indexOf('\n', start);
        if (end < 0)
            break;
        const QByteArray line = m_stdout.mid(start, end - start);
        start = end + 1;
        handleLine(line);
    }
    m_stdout.remove(0, start);
    if (m_running && m_stdout.size() > maxLineBytes) {
        m_stdout.clear();
        failWith(ErrorCode::agentFailed,
                 u"%1 wrote a line of more than 64 MiB; the bridge stopped it."_s.arg(agentName()));
    }
}

void CliAgentTurn::handleLine(QByteArrayView line) {
    if (line.trimmed().isEmpty())
        return;
    const auto parsed = wire::parse(line);
    if (!parsed || !parsed->is_object()) {
        qCWarning(lcAgents).noquote() << agentName() << "wrote a line that is not JSON:"
                                      << QString::fromUtf8(line.first(std::min<qsizetype>(line.size(), 200)));
        failWith(
            ErrorCode::agentFailed,
            u"%1 wrote output the bridge cannot read (not a JSON event), so the bridge stopped it. Check "
            u"that the command is the %1 CLI and up to date; the bridge's log shows the line."_s.arg(
                agentName()));
        return;
    }
    try {
        onLine(*parsed);
    } catch (const std::exception &error) {
        qCWarning(lcAgents).noquote() << agentName() << "event could not be read:" << error.what();
    }
}

void CliAgentTurn::onStandardError() {
    if (!m_process)
        return;
    m_stderr += m_process->readAllStandardError();
    qsizetype newline;
    while ((newline = m_stderr.indexOf('\n')) >= 0) {
        const QByteArray line = m_stderr.left(std::min(newline, maxStderrLineBytes));
        m_stderr.remove(0, newline + 1);
        if (!line.trimmed().isEmpty())
            qCInfo(lcAgents).noquote() << agentName() << "stderr:" << QString::fromUtf8(line);
    }
    if (m_stderr.size() > maxStderrLineBytes) {
        qCInfo(lcAgents).noquote() << agentName()
                                   << "stderr:" << QString::fromUtf8(m_stderr.left(maxStderrLineBytes));
        m_stderr.clear();
    }
}

QString CliAgentTurn::exitDescription(int exitCode) {
    return exitCode < 0 ? u"it crashed"_s : u"exit code %1"_s.arg(exitCode);
}

QString CliAgentTurn::endedEarlyMessage(const QString &program, int exitCode, const QString &check,
                                        const QString &shows) {
    return u"%1 stopped before it finished the turn (%2). The bridge's log has its messages; running `%3` in "
           u"a "
           u"terminal shows whether %4."_s.arg(program, exitDescription(exitCode), check, shows);
}

void CliAgentTurn::onProcessFinished(int exitCode, QProcess::ExitStatus status) {
    onReadyRead();
    onStandardError();
    const int code = status == QProcess::NormalExit ? exitCode : -1;
    qCInfo(lcAgents).noquote() << agentName() << "exited with"
                               << (code < 0 ? u"a crash"_s : u"code %1"_s.arg(code));
    if (m_running && !m_concluded) {
        if (!m_stdout.trimmed().isEmpty()) {
            m_stdout.clear();
            failWith(
                ErrorCode::agentFailed,
                u"%1 stopped in the middle of writing an event (%2). Try again; the bridge's log has its "
                u"messages."_s.arg(agentName(), exitDescription(code)));
        } else {
            onEndedEarly(code);
        }
    }
    releaseProcess();
    finish(m_failed);
}

void CliAgentTurn::onProcessError(QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart || !m_running)
        return;
    const QString why = m_process ? m_process->errorString() : QString();
    qCWarning(lcAgents).noquote() << "cannot start" << m_setup.command << ":" << why;
    failWith(ErrorCode::agentUnavailable,
             u"The bridge cannot start %1 (%2): %3. Install it or give its path with --%4-command."_s.arg(
                 agentName(), m_setup.command, why, agentName()));
}

void CliAgentTurn::emitEvent(const RepoSessionEvent &event) {
    if (m_running)
        Q_EMIT this->event(event);
}

void CliAgentTurn::requestApproval(const QString &requestID, const QString &method, const QString &summary,
                                   QByteArray payload) {
    if (!m_running)
        return;
    const QString approvalID = u"%1-approval-%2"_s.arg(m_request.messageID).arg(++m_approvals);
    m_pending.append(PendingApproval{approvalID, requestID, std::move(payload)});
    emitEvent(RepoSessionEvent{
        RepoSessionEvent::ApprovalRequested{approvalID, m_request.messageID, method, summary}});
}

QStringList CliAgentTurn::pendingApprovals() const {
    QStringList ids;
    for (const PendingApproval &pending : m_pending)
        ids.append(pending.approvalID);
    return ids;
}

bool CliAgentTurn::answerApproval(const QString &approvalID, RepoApprovalDecision decision) {
    if (!m_running)
        return false;
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending[i].approvalID != approvalID)
            continue;
        const PendingApproval pending = m_pending.takeAt(i);
        emitEvent(RepoSessionEvent{RepoSessionEvent::ApprovalResolved{approvalID, decision}});
        respondToApproval(pending, decision);
        return true;
    }
    return false;
}

void CliAgentTurn::withdrawApproval(const QByteArray &payload) {
    for (qsizetype i = 0; i < m_pending.size(); ++i) {
        if (m_pending[i].payload != payload)
            continue;
        const PendingApproval pending = m_pending.takeAt(i);
        emitEvent(RepoSessionEvent{
            RepoSessionEvent::ApprovalResolved{pending.approvalID, RepoApprovalDecision::denied}});
        return;
    }
}

void CliAgentTurn::completeWith(const QString &text, const std::optional<TokenUsage> &usage) {
    if (!m_running || m_concluded)
        return;
    m_concluded = true;
    emitEvent(RepoSessionEvent{RepoSessionEvent::Result{text, usage}});
    closeInput();
    if (m_process)
        m_exitTimer.start(m_setup.stopGrace);
    else
        finish(false);
}

void CliAgentTurn::failWith(ErrorCode code, const QString &message) {
    if (!m_running || m_concluded)
        return;
    m_concluded = true;
    m_failed = true;
    m_pending.clear();
    QString text = message;
    if (m_request.upstreamThreadID && !m_conversationSeen) {
        // A resumed run that failed before the CLI took up the conversation: it is gone (deleted, or kept
        // on another machine). Forget it, so the session is not stuck on it.
        Q_EMIT upstreamThreadStarted(QString());
        text +=
            u" The agent's earlier conversation could not be continued; the next message starts a new one."_s;
    }
    emitEvent(RepoSessionEvent{RepoSessionEvent::Error{code, text}});
    releaseProcess();
    finish(true);
}

void CliAgentTurn::finish(bool failed) {
    if (!m_running)
        return;
    m_running = false;
    m_exitTimer.stop();
    Q_EMIT finished(failed);
}

void CliAgentTurn::reportWrittenFile(const QString &path) {
    const QDir project(m_request.projectPath);
    const QFileInfo info(QDir::isAbsolutePath(path) ? path : project.filePath(path));
    const QString canonical = info.canonicalFilePath();
    const QString root = QFileInfo(m_request.projectPath).canonicalFilePath();
    if (canonical.isEmpty() || root.isEmpty() || !canonical.startsWith(root + u'/') || !info.isFile())
        return; // outside the project, or gone again
    if (info.size() > maxCreatedFileBytes) {
        qCInfo(lcAgents).noquote() << agentName() << "wrote" << canonical << "(too large to send)";
        return;
    }
    QFile file(canonical);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString relative = QDir(root).relativeFilePath(canonical);
    const QString mime = QMimeDatabase().mimeTypeForFile(info).name();
    RepoSessionCreatedFile created{u"%1-file-%2"_s.arg(m_request.messageID).arg(++m_files),
                                   relative,
                                   info.fileName(),
                                   mime.startsWith(u"image/"_s) ? u"image"_s : u"document"_s,
                                   mime,
                                   QString::fromLatin1(file.readAll().toBase64())};
    emitEvent(RepoSessionEvent{RepoSessionEvent::CreatedFile{created}});
}

} // namespace rirudez::server
