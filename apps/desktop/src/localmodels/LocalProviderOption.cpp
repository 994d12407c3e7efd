#include "LocalProviderOption.h"

#include "rirudez/localcontrolplane/CompanionProvider.h"

namespace rirudez {
using namespace Qt::StringLiterals;

namespace {

CompanionProvider companion(LocalProviderOption option) {
    return option == LocalProviderOption::claude ? CompanionProvider::claude : CompanionProvider::openAICodex;
}

} // namespace

QString rawValue(LocalProviderOption option) {
    return option == LocalProviderOption::claude ? u"claude"_s : u"codex"_s;
}

std::optional<LocalProviderOption> localProviderOptionFromRaw(QStringView raw) {
    for (const LocalProviderOption option : allLocalProviderOptions())
        if (rawValue(option) == raw)
            return option;
    return std::nullopt;
}

// The titles and subtitles are the companion's own texts for the same providers.
QString title(LocalProviderOption option) {
    return title(companion(option));
}

QString subtitle(LocalProviderOption option) {
    return subtitle(companion(option));
}

QString controlPlaneIdentifier(LocalProviderOption option) {
    return rawValue(companion(option));
}

std::optional<LocalProviderOption> localProviderOptionFromControlPlaneIdentifier(QStringView identifier) {
    for (const LocalProviderOption option : allLocalProviderOptions())
        if (controlPlaneIdentifier(option) == identifier)
            return option;
    return std::nullopt;
}

QList<LocalProviderOption> allLocalProviderOptions() {
    return {LocalProviderOption::claude, LocalProviderOption::codex};
}

} // namespace rirudez
