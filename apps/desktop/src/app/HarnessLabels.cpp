#include "HarnessLabels.h"

#include "DesktopCodingHarnessModels.h"

#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace rirudez {

QVariantList HarnessLabels::railActions() {
    auto action = [](const QString &symbol, const QString &title, RailAction kind) {
        return QVariantMap{{u"symbol"_s, symbol}, {u"title"_s, title}, {u"action"_s, int(kind)}};
    };
    return {action(u"square.and.pencil"_s, u"New chat"_s, RailAction::newChat),
            action(u"magnifyingglass"_s, u"Search"_s, RailAction::search),
            action(u"circle.grid.2x2"_s, u"Plugins"_s, RailAction::none),
            action(u"clock"_s, u"Automations"_s, RailAction::none)};
}

QVariantList HarnessLabels::agentOptions() {
    QVariantList options;
    for (DesktopCodingAgent agent : allDesktopCodingAgents) {
        const QString agentID = id(agent);
        options.append(QVariantMap{
            {u"id"_s, agentID}, {u"title"_s, displayName(agent)}, {u"symbol"_s, agentSymbol(agentID)}});
    }
    return options;
}

QVariantList HarnessLabels::runtimeModeOptions() {
    QVariantList options;
    for (DesktopCodingRuntimeMode mode : allDesktopCodingRuntimeModes)
        options.append(QVariantMap{{u"id"_s, id(mode)},
                                   {u"title"_s, displayName(mode)},
                                   {u"subtitle"_s, caption(mode)},
                                   {u"symbol"_s, systemImage(mode)}});
    return options;
}

QString HarnessLabels::agentSymbol(const QString &agent) {
    return agent == u"claude"_s ? u"c.circle"_s : u"chevron.left.forwardslash.chevron.right"_s;
}

QString HarnessLabels::bridgeUnreachable(const QString &reason) {
    return u"Zad Ezarur is not reachable: "_s + reason;
}

QString HarnessLabels::threadCountLine(int count) {
    return count == 1 ? u"1 thread"_s : QString::number(count) + u" threads"_s;
}

QString HarnessLabels::fingerprintLine(const QString &fingerprint) {
    return u"Fingerprint "_s + fingerprint;
}

QString HarnessLabels::discoveredBridgeDetail(const QString &fingerprint, bool paired) {
    return (fingerprint.isEmpty() ? u"No fingerprint announced"_s : fingerprintLine(fingerprint)) +
           (paired ? u"  ·  paired"_s : QString());
}

QString HarnessLabels::codeShownBy(const QString &bridgeName) {
    return u"Code shown by “"_s + bridgeName + u"”"_s;
}

} // namespace rirudez
