#include "agents/AgentLauncher.h"

#include "DemoAgent.h"
#include "agents/ClaudeTurn.h"
#include "agents/CodexAppServerTurn.h"
#include "agents/CodexTurn.h"

#include <QStandardPaths>

namespace rirudez::server {

std::optional<AgentModels> AgentLauncher::models(Agent agent) const {
    if (runsCommand(agent))
        return m_setup.catalogue.models(agent);
    for (const AgentModels &entry : demoAgentModels())
        if (entry.agent == agent)
            return entry;
    return std::nullopt;
}

AgentTurn *AgentLauncher::create(const AgentTurnRequest &request, QObject *parent) const {
    if (const auto command = m_setup.commands.command(request.agent)) {
        CliAgentSetup setup{*command, m_setup.stopGrace, m_setup.hiddenValues};
        if (request.agent == Agent::claude)
            return new ClaudeTurn(request, setup, parent);
        if (CodexAppServerTurn::handles(request))
            return new CodexAppServerTurn(request, setup, parent);
        return new CodexTurn(request, setup, parent);
    }
    DemoContext context{request.prompt,   request.projectName,    request.messageID,      request.agent,
                        request.model,    request.thinkingEffort, request.permissionMode, request.access,
                        request.allowWeb, request.canAskApproval};
    return new DemoTurn(planDemoTurn(context), request.messageID, m_setup.demoStepDelay, parent);
}

std::optional<QString> findAgentCommand(const QString &name) {
    const QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty())
        return std::nullopt;
    return found;
}

} // namespace rirudez::server
