#pragma once

// Chooses what runs a turn: the agent's command-line program when the bridge has one for it, otherwise
// the demo agent. Also answers which models each agent offers.

#include "agents/AgentCatalogue.h"
#include "agents/AgentTurn.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace rirudez::server {

// The executables of the command-line agents; an agent without one is served by the demo agent.
struct AgentCommands {
    std::optional<QString> claude;
    std::optional<QString> codex;
    std::optional<QString> command(Agent agent) const { return agent == Agent::claude ? claude : codex; }
};

class AgentLauncher {
public:
    struct Setup {
        AgentCommands commands;
        AgentCatalogue catalogue;
        std::chrono::microseconds demoStepDelay{40'000};
        std::chrono::milliseconds stopGrace{3000};
        QStringList hiddenValues; // secrets kept out of the agents' environment
    };

    AgentLauncher() = default;
    explicit AgentLauncher(Setup setup) : m_setup(std::move(setup)) {}

    bool runsCommand(Agent agent) const { return m_setup.commands.command(agent).has_value(); }
    // The models offered for `agent`: the demo agent's list, or the catalogue's entry for a CLI.
    std::optional<AgentModels> models(Agent agent) const;

    // A new turn (not started yet), owned by `parent`.
    AgentTurn *create(const AgentTurnRequest &request, QObject *parent) const;

    void setDemoStepDelay(std::chrono::microseconds delay) { m_setup.demoStepDelay = delay; }

private:
    Setup m_setup;
};

// Where a command is found: `name` on PATH, or nothing.
std::optional<QString> findAgentCommand(const QString &name);

} // namespace rirudez::server
