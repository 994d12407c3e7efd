#include "DemoAgent.h"

#include <algorithm>

#include <QRegularExpression>
#include <QSet>

namespace rirudez::server {
using namespace Qt::StringLiterals;

QList<AgentModels> demoAgentModels() {
    return {
        AgentModels{Agent::claude,
                    u"claude-sonnet-5"_s,
                    {u"claude-sonnet-5"_s, u"claude-opus-4.8"_s, u"claude-haiku-4.5"_s}},
        AgentModels{Agent::codex, u"gpt-5.5"_s, {u"gpt-5.5"_s, u"gpt-5.4"_s, u"gpt-5.4-mini"_s}},
    };
}

namespace {

using Kind = DemoStep::Kind;

DemoStep tool(QString name) {
    return DemoStep{Kind::tool, std::move(name)};
}

// Splits a text into chunks of one word each (with the whitespace that follows it), so joining the
// chunks gives the text back exactly.
QList<DemoStep> textChunks(const QString &text) {
    QList<DemoStep> chunks;
    static const QRegularExpression word(u"\\S+\\s*"_s);
    qsizetype consumed = 0;
    for (auto it = word.globalMatch(text); it.hasNext();) {
        const auto match = it.next();
        QString chunk = match.captured();
        if (chunks.isEmpty() && match.capturedStart() > consumed)
            chunk.prepend(text.left(match.capturedStart()));
        consumed = match.capturedEnd();
        chunks.append(DemoStep{Kind::text, chunk});
    }
    return chunks;
}

QSet<QString> promptWords(const QString &prompt) {
    QSet<QString> words;
    static const QRegularExpression separator(u"[^\\p{L}\\p{N}]+"_s);
    for (const QString &word : prompt.toLower().split(separator, Qt::SkipEmptyParts))
        words.insert(word);
    return words;
}

bool hasAny(const QSet<QString> &words, std::initializer_list<QStringView> wanted) {
    for (QStringView w : wanted)
        if (words.contains(w.toString()))
            return true;
    return false;
}

struct RiskyCommand {
    QStringView word;
    QStringView command;
};
constexpr RiskyCommand riskyCommands[] = {
    {u"delete", u"rm -rf build/"},
    {u"remove", u"rm -rf build/"},
    {u"deploy", u"./scripts/deploy --production"},
    {u"push", u"git push --force origin main"},
    {u"drop", u"psql -c 'DROP TABLE sessions'"},
    {u"reset", u"git reset --hard HEAD~1"},
    {u"risky", u"chmod -R 777 ."},
    {u"dangerous", u"chmod -R 777 ."},
};

bool bypassesApprovals(const DemoContext &context) {
    return context.permissionMode == AgentPermissionMode::bypassPermissions ||
           context.permissionMode == AgentPermissionMode::dangerouslyBypassPermissions;
}

QString modelName(const DemoContext &context) {
    if (context.model && !context.model->isEmpty())
        return *context.model;
    for (const auto &models : demoAgentModels())
        if (models.agent == context.agent && models.defaultModel)
            return *models.defaultModel;
    return rawValue(context.agent);
}

QString snippet(const QString &text, int maxLength) {
    QString collapsed = text.simplified();
    if (collapsed.size() > maxLength)
        collapsed = collapsed.left(maxLength).trimmed() + u"..."_s;
    return collapsed;
}

// The longest word of the prompt: what the demo agent pretends to search for.
QString searchTerm(const QString &prompt) {
    QString best;
    static const QRegularExpression separator(u"[^\\p{L}\\p{N}_]+"_s);
    for (const QString &word : prompt.split(separator, Qt::SkipEmptyParts))
        if (word.size() > best.size())
            best = word;
    return best.isEmpty() ? u"TODO"_s : best;
}

TokenUsage plannedUsage(const DemoContext &context) {
    TokenUsage usage;
    const auto promptWordCount = std::uint64_t(context.prompt.split(u' ', Qt::SkipEmptyParts).size());
    usage.inputTokens = 120 + 4 * promptWordCount;
    usage.cacheReadInputTokens = 0;
    if (context.thinkingEffort) {
        switch (*context.thinkingEffort) {
        case ThinkingEffort::low:
            usage.reasoningTokens = 64;
            break;
        case ThinkingEffort::medium:
            usage.reasoningTokens = 256;
            break;
        case ThinkingEffort::high:
            usage.reasoningTokens = 1024;
            break;
        case ThinkingEffort::xhigh:
            usage.reasoningTokens = 4096;
            break;
        case ThinkingEffort::max:
            usage.reasoningTokens = 8192;
            break;
        }
    }
    return usage;
}

const QString longTopics[] = {
    u"the entry point and how the program starts"_s,
    u"the configuration it reads and where its defaults come from"_s,
    u"the data it keeps and who owns each piece"_s,
    u"the error paths and what the user sees when something fails"_s,
    u"the tests that cover the change and the ones still missing"_s,
    u"the performance of the hot loop and what to measure"_s,
    u"the naming of the new pieces so they read like the rest"_s,
    u"the documentation that has to follow the change"_s,
};

} // namespace

bool demoMayChange(const DemoContext &context) {
    return context.access != RepoAccessMode::watch && context.permissionMode != AgentPermissionMode::readOnly;
}

QList<DemoStep> planDemoTurn(const DemoContext &context) {
    const QSet<QString> words = promptWords(context.prompt);
    const bool mayChange = demoMayChange(context);
    const QString model = modelName(context);
    QList<DemoStep> script;

    script.append(tool(u"Read README.md"_s));
    script.append(tool(u"Grep \"%1\""_s.arg(searchTerm(context.prompt))));
    if (hasAny(words, {u"web", u"search", u"internet"})) {
        if (context.allowWeb)
            script.append(tool(u"WebSearch \"%1\""_s.arg(snippet(context.prompt, 40))));
        else
            script.append(textChunks(u"(Web access is off for this session, so I stayed offline.) "_s));
    }

    QString answer =
        u"I looked at %1 for you. You asked: \"%2\". Here is how I would go about it: read the "
        u"code that is involved, make the smallest change that does the job, and run the tests so "
        u"nothing else breaks. "_s.arg(context.projectName, snippet(context.prompt, 80));
    // A long answer runs three rounds over the topics; a marathon a hundred (some sixteen thousand chunks).
    const int rounds = hasAny(words, {u"marathon"})                                 ? 100
                       : hasAny(words, {u"long", u"essay", u"detailed", u"detail"}) ? 3
                                                                                    : 0;
    if (rounds > 0) {
        int n = 1;
        for (int round = 0; round < rounds; ++round)
            for (const QString &topic : longTopics)
                answer += u"%1. Look at %2, and note what the change means for it. "_s.arg(n++).arg(topic);
    }
    answer +=
        u"(Demo agent: %1 · %2 · %3 access.)"_s.arg(rawValue(context.agent), model, rawValue(context.access));
    if (!mayChange)
        answer += u" Watch only: I read the repository and changed nothing."_s;
    script.append(textChunks(answer));

    if (hasAny(words, {u"fail", u"failure", u"crash"})) {
        script.append(
            DemoStep{Kind::fail, u"The demo agent failed on purpose: the prompt asked it to fail."_s});
        return script;
    }

    for (const RiskyCommand &risky : riskyCommands) {
        if (!words.contains(risky.word.toString()))
            continue;
        const QString command = risky.command.toString();
        if (!mayChange) {
            script.append(textChunks(u"\n\nI would run `%1`, but this session may not change anything, so I "
                                     u"left it out."_s.arg(command)));
        } else if (bypassesApprovals(context)) {
            script.append(tool(u"Bash: %1"_s.arg(command)));
            script.append(
                textChunks(u"\n\nI ran `%1` without asking, as the permission mode allows."_s.arg(command)));
        } else if (!context.canAskApproval) {
            script.append(textChunks(
                u"\n\nI did not run `%1`: it needs an approval, and this turn cannot ask for one."_s.arg(
                    command)));
        } else {
            DemoStep approval{Kind::approval, u"Run `%1`"_s.arg(command), u"Bash"_s};
            approval.ifApproved.append(tool(u"Bash: %1"_s.arg(command)));
            approval.ifApproved.append(textChunks(u"\n\nApproved: I ran `%1`."_s.arg(command)));
            approval.ifDenied.append(textChunks(
                u"\n\nYou denied `%1`, so I did not run it and stopped that step."_s.arg(command)));
            script.append(approval);
        }
        break;
    }

    if (hasAny(words, {u"file", u"report", u"notes"})) {
        if (mayChange) {
            const QString body = u"# Notes on %1\n\nPrompt: %2\n\nWritten by the demo agent (%3).\n"_s.arg(
                context.projectName, context.prompt.simplified(), model);
            RepoSessionCreatedFile file{context.messageID + u"-notes"_s,
                                        u"Demo notes"_s,
                                        u"demo-notes.md"_s,
                                        u"document"_s,
                                        u"text/markdown"_s,
                                        QString::fromLatin1(body.toUtf8().toBase64())};
            script.append(tool(u"Write demo-notes.md"_s));
            DemoStep created{Kind::file};
            created.file = file;
            script.append(created);
        } else {
            script.append(
                textChunks(u"\n\nI would write demo-notes.md, but this session may not change anything."_s));
        }
    }

    DemoStep result{Kind::result, u"Demo turn finished for %1."_s.arg(context.projectName)};
    result.usage = plannedUsage(context);
    script.append(result);
    return script;
}

DemoTurn::DemoTurn(QList<DemoStep> script, QString approvalPrefix, std::chrono::microseconds stepDelay,
                   QObject *parent)
    : AgentTurn(parent), m_queue(std::move(script)), m_approvalPrefix(std::move(approvalPrefix)),
      m_stepDelay(std::max(stepDelay, std::chrono::microseconds(0))) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    // A delay below a millisecond ticks every millisecond and plays the steps that are due.
    const auto interval = std::chrono::duration_cast<std::chrono::milliseconds>(m_stepDelay);
    m_timer.setInterval(m_stepDelay.count() > 0 ? std::max(interval, std::chrono::milliseconds(1))
                                                : interval);
    connect(&m_timer, &QTimer::timeout, this, &DemoTurn::tick);
}

void DemoTurn::start() {
    m_running = true;
    m_paceClock.start();
    m_playedSincePace = 0;
    scheduleNext();
}

void DemoTurn::cancel() {
    m_running = false;
    m_timer.stop();
    m_pendingApproval.reset();
    m_queue.clear();
}

void DemoTurn::scheduleNext() {
    if (m_running && !m_pendingApproval)
        m_timer.start();
}

bool DemoTurn::answerApproval(const QString &approvalID, RepoApprovalDecision decision) {
    if (!m_running || m_pendingApproval != approvalID)
        return false;
    m_pendingApproval.reset();
    QList<DemoStep> branch = decision == RepoApprovalDecision::approved ? m_pendingApproved : m_pendingDenied;
    m_pendingApproved.clear();
    m_pendingDenied.clear();
    m_queue = branch + m_queue;
    Q_EMIT event(RepoSessionEvent{RepoSessionEvent::ApprovalResolved{approvalID, decision}});
    m_paceClock.start();
    m_playedSincePace = 0;
    scheduleNext();
    return true;
}

void DemoTurn::tick() {
    // The steps due since playing resumed, less those already played; at least one so that a late timer
    // never stalls the turn, and at most a bounded burst after a long stall.
    qint64 due = 1;
    if (m_stepDelay.count() > 0) {
        const qint64 elapsedMicroseconds = m_paceClock.nsecsElapsed() / 1000;
        due = std::clamp<qint64>(elapsedMicroseconds / m_stepDelay.count() - m_playedSincePace, 1, 256);
    }
    for (qint64 i = 0; i < due; ++i) {
        ++m_playedSincePace;
        if (!playOne())
            return;
    }
    scheduleNext();
}

bool DemoTurn::playOne() {
    if (!m_running || m_queue.isEmpty())
        return false;
    DemoStep step = m_queue.takeFirst();
    switch (step.kind) {
    case Kind::tool:
        m_outputTokens += 8;
        Q_EMIT event(RepoSessionEvent{RepoSessionEvent::ToolUse{step.text}});
        break;
    case Kind::text:
        m_outputTokens += 1;
        Q_EMIT event(RepoSessionEvent{RepoSessionEvent::AssistantText{step.text}});
        break;
    case Kind::file:
        m_outputTokens += 40;
        Q_EMIT event(RepoSessionEvent{RepoSessionEvent::CreatedFile{*step.file}});
        break;
    case Kind::approval: {
        const QString id = m_approvalPrefix + u"-approval-"_s + QString::number(++m_approvals);
        m_pendingApproval = id;
        m_pendingApproved = step.ifApproved;
        m_pendingDenied = step.ifDenied;
        Q_EMIT event(RepoSessionEvent{
            RepoSessionEvent::ApprovalRequested{id, m_approvalPrefix, step.method, step.text}});
        return false; // waits for answerApproval()
    }
    case Kind::fail:
        m_running = false;
        Q_EMIT event(RepoSessionEvent{RepoSessionEvent::Error{ErrorCode::agentFailed, step.text}});
        Q_EMIT finished(true);
        return false;
    case Kind::result: {
        m_running = false;
        TokenUsage usage = step.usage;
        usage.outputTokens = m_outputTokens;
        usage.totalTokens =
            usage.inputTokens.value_or(0) + m_outputTokens + usage.reasoningTokens.value_or(0);
        usage.estimatedCostUSD =
            double(usage.inputTokens.value_or(0)) * 3e-6 + double(m_outputTokens) * 15e-6;
        Q_EMIT event(RepoSessionEvent{RepoSessionEvent::Result{step.text, usage}});
        Q_EMIT finished(false);
        return false;
    }
    }
    return true;
}

} // namespace rirudez::server
