#pragma once

// The models the bridge offers for its command-line agents. A small built-in list (the names each CLI's
// --model option accepts), replaced per agent by "agent-models.json" in the state directory when that
// file holds an entry for the agent:
//
//     [{"agent": "claude", "default_model": "opus", "models": ["opus", "sonnet"]}]

#include "rirudez/bridgekit/BridgeMessages.h"

#include <QList>
#include <QString>

#include <optional>

namespace rirudez::server {

class AgentCatalogue {
public:
    // The built-in list, one entry per agent.
    static QList<AgentModels> builtIn();

    // The built-in list with the entries of `file` laid over it. A missing file is no change; a file that
    // cannot be read as a list of agent models is reported in `problem` and ignored.
    static AgentCatalogue load(const QString &file, QString *problem = nullptr);

    AgentCatalogue() : m_models(builtIn()) {}
    explicit AgentCatalogue(QList<AgentModels> models) : m_models(std::move(models)) {}

    const QList<AgentModels> &all() const { return m_models; }
    std::optional<AgentModels> models(Agent agent) const;

private:
    QList<AgentModels> m_models;
};

} // namespace rirudez::server
