// The one table per enumeration between its cases, raw values and display texts.
#include "rirudez/localcontrolplane/CompanionProvider.h"

#include <array>
#include <utility>

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

struct ProviderRow {
    CompanionProvider provider;
    QStringView raw;
    QStringView title;
    QStringView subtitle;
};
constexpr std::array providerTable{
    ProviderRow{CompanionProvider::claude, u"claude", u"Claude", u"Uses your Claude subscription"},
    ProviderRow{CompanionProvider::openAICodex, u"openai_codex", u"Codex", u"Uses your OpenAI subscription"},
};

constexpr std::array tabletStateTable{
    std::pair{CompanionTabletState::connected, QStringView(u"connected")},
    std::pair{CompanionTabletState::recent, QStringView(u"recent")},
    std::pair{CompanionTabletState::waiting, QStringView(u"waiting")},
};

struct ModeRow {
    ServerConnectionMode mode;
    QStringView raw;
    QStringView displayName;
};
constexpr std::array modeTable{
    ModeRow{ServerConnectionMode::cloud, u"cloud", u"Rirudez Cloud"},
    ModeRow{ServerConnectionMode::local, u"local", u"Legacy Local Server"},
};

const ProviderRow &row(CompanionProvider provider) {
    for (const auto &r : providerTable)
        if (r.provider == provider)
            return r;
    return providerTable.front();
}

const ModeRow &row(ServerConnectionMode mode) {
    for (const auto &r : modeTable)
        if (r.mode == mode)
            return r;
    return modeTable.front();
}

} // namespace

QString rawValue(CompanionProvider provider) {
    return row(provider).raw.toString();
}

std::optional<CompanionProvider> companionProviderFromRaw(QStringView raw) {
    for (const auto &r : providerTable)
        if (r.raw == raw)
            return r.provider;
    return std::nullopt;
}

QString title(CompanionProvider provider) {
    return row(provider).title.toString();
}

QString subtitle(CompanionProvider provider) {
    return row(provider).subtitle.toString();
}

QList<CompanionProvider> allCompanionProviders() {
    QList<CompanionProvider> all;
    for (const auto &r : providerTable)
        all.append(r.provider);
    return all;
}

QString rawValue(CompanionTabletState state) {
    for (const auto &[s, raw] : tabletStateTable)
        if (s == state)
            return raw.toString();
    return {};
}

std::optional<CompanionTabletState> companionTabletStateFromRaw(QStringView raw) {
    for (const auto &[s, r] : tabletStateTable)
        if (r == raw)
            return s;
    return std::nullopt;
}

QString rawValue(ServerConnectionMode mode) {
    return row(mode).raw.toString();
}

std::optional<ServerConnectionMode> serverConnectionModeFromRaw(QStringView raw) {
    for (const auto &r : modeTable)
        if (r.raw == raw)
            return r.mode;
    return std::nullopt;
}

QString displayName(ServerConnectionMode mode) {
    return row(mode).displayName.toString();
}

QList<ServerConnectionMode> allServerConnectionModes() {
    QList<ServerConnectionMode> all;
    for (const auto &r : modeTable)
        all.append(r.mode);
    return all;
}

} // namespace rirudez
