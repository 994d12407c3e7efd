// The model catalogue: the built-in model lists and the options made from what a bridge advertises.
#include "DesktopCodingHarnessModels.h"

#include <QSet>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

using Level = DesktopCodingThinkingLevel;

const QList<Level> everyLevel{Level::automatic, Level::low, Level::medium, Level::high, Level::xhigh};
const QList<Level> upToHigh{Level::automatic, Level::low, Level::medium, Level::high};
const QList<Level> upToMedium{Level::automatic, Level::low, Level::medium};

DesktopCodingModelOption builtIn(const QString &id, const QString &displayName, DesktopCodingAgent agent,
                                 const QString &speedLabel, const QList<Level> &levels) {
    return DesktopCodingModelOption{id, displayName, agent, true, speedLabel, levels};
}

// Upper-cases the first user-perceived character of a word.
QString capitalized(const QString &word) {
    const QString first = characterPrefix(word, 1);
    return first.toUpper() + word.mid(first.size());
}

} // namespace

QList<DesktopCodingModelOption> DesktopCodingModelOption::defaults(DesktopCodingAgent agent) {
    const auto codex = DesktopCodingAgent::codex;
    const auto claude = DesktopCodingAgent::claude;
    if (agent == codex)
        return {
            builtIn(u"gpt-5.5"_s, u"GPT-5.5"_s, codex, u"deep"_s, everyLevel),
            builtIn(u"gpt-5.4"_s, u"GPT-5.4"_s, codex, u"balanced"_s, everyLevel),
            builtIn(u"gpt-5.4-mini"_s, u"GPT-5.4 Mini"_s, codex, u"fast"_s, upToHigh),
        };
    return {
        builtIn(u"claude-sonnet-5"_s, u"Sonnet 5"_s, claude, u"balanced"_s, everyLevel),
        builtIn(u"claude-opus-4.8"_s, u"Opus 4.8"_s, claude, u"deep"_s, everyLevel),
        builtIn(u"claude-haiku-4.5"_s, u"Haiku 4.5"_s, claude, u"fast"_s, upToMedium),
    };
}

DesktopCodingModelCatalog DesktopCodingModelOption::fallbackModelCatalog() {
    DesktopCodingModelCatalog catalog;
    for (DesktopCodingAgent agent : allDesktopCodingAgents)
        catalog.insert(agent, defaults(agent));
    return catalog;
}

QStringList DesktopCodingModelOption::dedupedModelIDs(const QStringList &ids) {
    QStringList result;
    QSet<QString> seen;
    for (const QString &raw : ids) {
        const QString id = raw.trimmed();
        if (id.isEmpty() || seen.contains(id))
            continue;
        seen.insert(id);
        result.append(id);
    }
    return result;
}

QString DesktopCodingModelOption::displayNameFor(const QString &id, DesktopCodingAgent agent) {
    if (agent == DesktopCodingAgent::codex) {
        QString name = id;
        name.replace(u"gpt-"_s, u"GPT-"_s);
        name.replace(u"-mini"_s, u" Mini"_s);
        return name;
    }
    QString rest = id;
    rest.remove(u"claude-"_s);
    QStringList words;
    for (const QString &part : rest.split(u'-', Qt::SkipEmptyParts))
        words.append(characterCount(part) >= 2 ? capitalized(part) : part);
    return words.join(u' ');
}

QString DesktopCodingModelOption::speedLabelFor(const QString &id) {
    const QString lower = id.toLower();
    if (lower.contains(u"mini"_s) || lower.contains(u"haiku"_s))
        return u"fast"_s;
    if (lower.contains(u"5.5"_s) || lower.contains(u"opus"_s))
        return u"deep"_s;
    return u"balanced"_s;
}

QList<DesktopCodingThinkingLevel> DesktopCodingModelOption::thinkingLevelsFor(const QString &id) {
    const QString lower = id.toLower();
    return lower.contains(u"mini"_s) || lower.contains(u"haiku"_s) ? upToHigh : everyLevel;
}

QList<DesktopCodingModelOption> DesktopCodingModelOption::options(const AgentModels &from) {
    QStringList advertised = from.models;
    if (advertised.isEmpty() && from.defaultModel)
        advertised.append(*from.defaultModel);

    const DesktopCodingAgent agent = desktopCodingAgent(from.agent);
    QList<DesktopCodingModelOption> result;
    for (const QString &id : dedupedModelIDs(advertised))
        result.append(DesktopCodingModelOption{id, displayNameFor(id, agent).trimmed(), agent, true,
                                               speedLabelFor(id), thinkingLevelsFor(id)});
    return result;
}

DesktopCodingModelCatalog DesktopCodingModelOption::catalog(const QList<AgentModels> &from) {
    DesktopCodingModelCatalog catalog;
    for (const AgentModels &entry : from) {
        QList<DesktopCodingModelOption> usable;
        for (const DesktopCodingModelOption &option : options(entry))
            if (option.supportsVision)
                usable.append(option);
        if (!usable.isEmpty())
            catalog.insert(desktopCodingAgent(entry.agent), usable);
    }
    return catalog;
}

} // namespace rirudez
