#include "ProviderCLIProbe.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTimer>

namespace rirudez::localserver {
using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype maxDetailLength = 200;

QString firstLine(const QByteArray &output) {
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            return text.left(maxDetailLength);
    }
    return {};
}

} // namespace

ProviderCLIProbe::ProviderCLIProbe(CompanionProvider provider, QStringList searchPath,
                                   std::chrono::milliseconds timeLimit, QObject *parent)
    : QObject(parent), m_provider(provider), m_searchPath(std::move(searchPath)), m_timeLimit(timeLimit) {}

ProviderCLIProbe::~ProviderCLIProbe() {
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

QString ProviderCLIProbe::executableName(CompanionProvider provider) {
    return provider == CompanionProvider::claude ? u"claude"_s : u"codex"_s;
}

void ProviderCLIProbe::refresh() {
    if (m_process)
        return;
    const QString name = executableName(m_provider);
    const QString program = QStandardPaths::findExecutable(name, m_searchPath);
    if (program.isEmpty()) {
        complete(ProviderCLIStatus{false, false, std::nullopt, u"%1 was not found on the PATH"_s.arg(name)});
        return;
    }
    const QStringList arguments = m_provider == CompanionProvider::claude
                                      ? QStringList{u"auth"_s, u"status"_s}
                                      : QStringList{u"login"_s, u"status"_s};
    auto *process = new QProcess(this);
    m_process = process;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, process, [process] { process->kill(); });
    connect(process, &QProcess::finished, this,
            [this, process, name, deadline](int exitCode, QProcess::ExitStatus exit) {
                const bool timedOut = !deadline->isActive() && exit == QProcess::CrashExit;
                const QByteArray output = process->readAll();
                process->deleteLater();
                ProviderCLIStatus status{true, false, std::nullopt, std::nullopt};
                if (timedOut) {
                    status.detail = u"%1 did not answer in time"_s.arg(name);
                } else if (exit == QProcess::NormalExit && exitCode == 0) {
                    status.isAuthenticated = true;
                    const QJsonDocument json = QJsonDocument::fromJson(output);
                    const QString email = json.object().value(u"email"_s).toString().trimmed();
                    const QString line = firstLine(output);
                    if (!email.isEmpty())
                        status.accountLabel = email;
                    else if (line.startsWith(u"Logged in"_s))
                        status.accountLabel = line;
                    if (!line.isEmpty() && !json.isObject())
                        status.detail = line;
                } else {
                    const QString line = firstLine(output);
                    status.detail = line.isEmpty() ? u"%1 reports no signed-in account"_s.arg(name) : line;
                }
                complete(std::move(status));
            });
    connect(process, &QProcess::errorOccurred, this, [this, process, name](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return; // a crash or kill ends in finished()
        process->deleteLater();
        complete(ProviderCLIStatus{true, false, std::nullopt, u"%1 could not be started"_s.arg(name)});
    });
    deadline->start(m_timeLimit);
    process->start(program, arguments);
}

void ProviderCLIProbe::complete(ProviderCLIStatus status) {
    m_process = nullptr;
    m_status = std::move(status);
    ++m_runs;
    Q_EMIT finished(m_status);
}

} // namespace rirudez::localserver
