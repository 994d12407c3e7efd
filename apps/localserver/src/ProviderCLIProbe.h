#pragma once

// Finds the provider's command-line tool on the search path and asks it whether an account is signed in:
// "claude auth status" for claude, "codex login status" for openai_codex; exit status 0 means signed in.
// The account label is the "email" of a JSON answer, or the tool's first line of output when it starts with
// "Logged in". Runs asynchronously and keeps the last result; a run that takes longer than the time limit
// is killed and reported as not signed in.

#include "rirudez/localcontrolplane/CompanionProvider.h"
#include "rirudez/localcontrolplane/ProviderCLIStatus.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <chrono>

namespace rirudez::localserver {

class ProviderCLIProbe : public QObject {
    Q_OBJECT

public:
    // `searchPath`: folders to look in; empty means the PATH of this process.
    ProviderCLIProbe(CompanionProvider provider, QStringList searchPath = {},
                     std::chrono::milliseconds timeLimit = std::chrono::seconds(10),
                     QObject *parent = nullptr);
    ~ProviderCLIProbe() override;

    // The executable's name for a provider.
    static QString executableName(CompanionProvider provider);

    // The last result (unknown until the first run finished).
    const ProviderCLIStatus &status() const { return m_status; }
    // Whether a run has finished at least once.
    bool hasRun() const { return m_runs > 0; }

    // Starts a run unless one is running; `finished` follows.
    void refresh();

Q_SIGNALS:
    void finished(const rirudez::ProviderCLIStatus &status);

private:
    void complete(ProviderCLIStatus status);

    CompanionProvider m_provider;
    QStringList m_searchPath;
    std::chrono::milliseconds m_timeLimit;
    QPointer<QProcess> m_process;
    ProviderCLIStatus m_status;
    int m_runs = 0;
};

} // namespace rirudez::localserver
