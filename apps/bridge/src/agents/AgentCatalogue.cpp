#include "agents/AgentCatalogue.h"

#include "rirudez/bridgekit/BridgeJson.h"

#include <QFile>

namespace rirudez::server {
using namespace Qt::StringLiterals;

namespace {
constexpr qint64 maxCatalogueBytes = 1 << 20;
}

QList<AgentModels> AgentCatalogue::builtIn() {
    return {
        // Aliases that always name the latest model of each family (see `claude --help`, --model).
        AgentModels{Agent::claude, u"sonnet"_s, {u"sonnet"_s, u"opus"_s, u"haiku"_s}},
        AgentModels{Agent::codex, u"gpt-5.5"_s, {u"gpt-5.5"_s, u"gpt-5.4"_s, u"gpt-5.4-mini"_s}},
    };
}

AgentCatalogue AgentCatalogue::load(const QString &file, QString *problem) {
    QList<AgentModels> models = builtIn();
    QFile input(file);
    if (!input.exists())
        return AgentCatalogue(models);
    auto fail = [&](const QString &why) {
        if (problem)
            *problem = u"%1: %2; using the built-in models"_s.arg(file, why);
        return AgentCatalogue(models);
    };
    if (!input.open(QIODevice::ReadOnly))
        return fail(input.errorString());
    if (input.size() > maxCatalogueBytes)
        return fail(u"the file is larger than 1 MiB"_s);
    const auto parsed = wire::parse(input.readAll());
    if (!parsed || !parsed->is_array())
        return fail(u"expected a JSON list of {\"agent\", \"default_model\", \"models\"} objects"_s);
    QList<AgentModels> overrides;
    try {
        for (const Json &entry : *parsed)
            overrides.append(entry.get<AgentModels>());
    } catch (const std::exception &error) {
        return fail(QString::fromUtf8(error.what()));
    }
    for (const AgentModels &entry : overrides)
        for (AgentModels &builtin : models)
            if (builtin.agent == entry.agent)
                builtin = entry;
    return AgentCatalogue(models);
}

std::optional<AgentModels> AgentCatalogue::models(Agent agent) const {
    for (const AgentModels &entry : m_models)
        if (entry.agent == agent)
            return entry;
    return std::nullopt;
}

} // namespace rirudez::server
