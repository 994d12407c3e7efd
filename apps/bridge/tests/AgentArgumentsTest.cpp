// How a session's settings become the command lines of claude and codex.
#include "agents/ClaudeTurn.h"
#include "agents/CodexAppServerTurn.h"
#include "agents/CodexTurn.h"

#include <gtest/gtest.h>

using namespace rirudez;
using namespace rirudez::server;
using namespace Qt::StringLiterals;

namespace {

AgentTurnRequest requestFor(Agent agent, RepoAccessMode access, std::optional<AgentPermissionMode> permission,
                            bool canAsk = true) {
    AgentTurnRequest request;
    request.agent = agent;
    request.projectPath = u"/work/project"_s;
    request.messageID = u"m-1"_s;
    request.access = access;
    request.permissionMode = permission;
    request.canAskApproval = canAsk;
    return request;
}

QStringList argumentsOf(const AgentTurnRequest &request) {
    if (request.agent == Agent::claude)
        return ClaudeTurn(request, CliAgentSetup{}).arguments();
    if (CodexAppServerTurn::handles(request))
        return CodexAppServerTurn(request, CliAgentSetup{}).arguments();
    return CodexTurn(request, CliAgentSetup{}).arguments();
}

struct ModeCase {
    const char *name;
    Agent agent;
    RepoAccessMode access;
    std::optional<AgentPermissionMode> permission;
    bool canAsk;
    QStringList expected; // the permission and sandbox flags
};

// The flags that decide what the agent may do: after the fixed head of the command line, up to the
// model, effort, web and resume flags.
QStringList modeFlags(const AgentTurnRequest &request) {
    const QStringList args = argumentsOf(request);
    const qsizetype head = request.agent == Agent::claude ? 7 : 5;
    qsizetype end = args.size();
    for (const QString &tail : {u"--model"_s, u"--effort"_s, u"--disallowedTools"_s})
        if (const qsizetype at = args.indexOf(tail); at >= 0)
            end = std::min(end, at);
    if (request.agent == Agent::codex)
        end = args.lastIndexOf(u"-c"_s); // web_search comes last before the prompt
    return args.mid(head, end - head);
}

class AgentModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(AgentModes, AccessAndPermissionBecomeFlags) {
    const ModeCase &c = GetParam();
    const AgentTurnRequest request = requestFor(c.agent, c.access, c.permission, c.canAsk);
    // Modes that ask run codex's app server, whose settings go in by protocol, not by flags.
    if (CodexAppServerTurn::handles(request))
        EXPECT_EQ(argumentsOf(request), c.expected);
    else
        EXPECT_EQ(modeFlags(request), c.expected);
}

using P = AgentPermissionMode;
using A = RepoAccessMode;
const QStringList ask{u"--permission-prompt-tool"_s, u"stdio"_s, u"--permission-mode"_s};
QStringList claudeAsking(const QString &mode) {
    return ask + QStringList{mode};
}
const QStringList appServer{u"app-server"_s};
QStringList codexSandbox(const QString &sandbox) {
    return {u"--sandbox"_s, sandbox, u"-c"_s, u"approval_policy=\"never\""_s};
}

INSTANTIATE_TEST_SUITE_P(
    Table, AgentModes,
    ::testing::Values(
        ModeCase{"ClaudeWatchIsPlan", Agent::claude, A::watch, P::acceptEdits, true, claudeAsking(u"plan"_s)},
        ModeCase{"ClaudeReadOnlyIsPlan", Agent::claude, A::edit, P::readOnly, true, claudeAsking(u"plan"_s)},
        ModeCase{"ClaudeAskAccessCapsBypass", Agent::claude, A::ask, P::bypassPermissions, true,
                 claudeAsking(u"default"_s)},
        ModeCase{"ClaudeProposeAsks", Agent::claude, A::propose, P::acceptEdits, true,
                 claudeAsking(u"default"_s)},
        ModeCase{"ClaudeEditAsk", Agent::claude, A::edit, P::ask, true, claudeAsking(u"default"_s)},
        ModeCase{"ClaudeEditAuto", Agent::claude, A::edit, P::auto_, true, claudeAsking(u"auto"_s)},
        ModeCase{"ClaudeEditAcceptEdits", Agent::claude, A::edit, P::acceptEdits, true,
                 claudeAsking(u"acceptEdits"_s)},
        ModeCase{"ClaudeEditNoPermission", Agent::claude, A::edit, std::nullopt, true,
                 claudeAsking(u"acceptEdits"_s)},
        ModeCase{"ClaudeBypass",
                 Agent::claude,
                 A::edit,
                 P::bypassPermissions,
                 true,
                 {u"--permission-mode"_s, u"bypassPermissions"_s}},
        ModeCase{"ClaudeDangerously",
                 Agent::claude,
                 A::edit,
                 P::dangerouslyBypassPermissions,
                 true,
                 {u"--dangerously-skip-permissions"_s}},
        ModeCase{"ClaudeStandaloneCannotAsk",
                 Agent::claude,
                 A::edit,
                 P::ask,
                 false,
                 {u"--permission-mode"_s, u"default"_s}},
        ModeCase{"CodexWatch", Agent::codex, A::watch, P::auto_, true, codexSandbox(u"read-only"_s)},
        ModeCase{"CodexAskAccessAsks", Agent::codex, A::ask, P::auto_, true, appServer},
        ModeCase{"CodexProposeCapsBypass", Agent::codex, A::propose, P::bypassPermissions, true, appServer},
        ModeCase{"CodexEditAsk", Agent::codex, A::edit, P::ask, true, appServer},
        ModeCase{"CodexStandaloneCannotAsk", Agent::codex, A::edit, P::ask, false,
                 codexSandbox(u"read-only"_s)},
        ModeCase{"CodexStandaloneAskAccess", Agent::codex, A::ask, std::nullopt, false,
                 codexSandbox(u"read-only"_s)},
        ModeCase{"CodexEditReadOnly", Agent::codex, A::edit, P::readOnly, true, codexSandbox(u"read-only"_s)},
        ModeCase{"CodexEditAuto", Agent::codex, A::edit, P::auto_, true, codexSandbox(u"workspace-write"_s)},
        ModeCase{"CodexEditAcceptEdits", Agent::codex, A::edit, P::acceptEdits, true,
                 codexSandbox(u"workspace-write"_s)},
        ModeCase{"CodexBypass", Agent::codex, A::edit, P::bypassPermissions, true,
                 codexSandbox(u"danger-full-access"_s)},
        ModeCase{"CodexDangerously",
                 Agent::codex,
                 A::edit,
                 P::dangerouslyBypassPermissions,
                 true,
                 {u"--dangerously-bypass-approvals-and-sandbox"_s}}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(AgentArguments, ModelEffortWebAndResume) {
    auto claude = requestFor(Agent::claude, A::edit, P::acceptEdits);
    claude.model = u"opus"_s;
    claude.thinkingEffort = ThinkingEffort::max;
    claude.allowWeb = true;
    claude.upstreamThreadID = u"-dash-first"_s;
    const QStringList claudeArgs = argumentsOf(claude);
    EXPECT_EQ(claudeArgs.mid(claudeArgs.indexOf(u"--model"_s)),
              (QStringList{u"--model"_s, u"opus"_s, u"--effort"_s, u"max"_s, u"--resume=-dash-first"_s}));

    auto codex = requestFor(Agent::codex, A::edit, P::auto_);
    codex.model = u"gpt-5.4"_s;
    codex.thinkingEffort = ThinkingEffort::max; // codex's strongest effort is xhigh
    codex.allowWeb = true;
    codex.upstreamThreadID = u"thread-9"_s;
    const QStringList codexArgs = argumentsOf(codex);
    EXPECT_EQ(codexArgs.mid(0, 5), (QStringList{u"exec"_s, u"--json"_s, u"--cd"_s, u"/work/project"_s,
                                                u"--skip-git-repo-check"_s}));
    EXPECT_EQ(codexArgs.mid(codexArgs.indexOf(u"--model"_s)),
              (QStringList{u"--model"_s, u"gpt-5.4"_s, u"-c"_s, u"model_reasoning_effort=\"xhigh\""_s,
                           u"-c"_s, u"web_search=\"live\""_s, u"resume"_s, u"thread-9"_s, u"-"_s}));
    codex.allowWeb = false;
    EXPECT_TRUE(argumentsOf(codex).contains(u"web_search=\"disabled\""_s));
}

} // namespace
